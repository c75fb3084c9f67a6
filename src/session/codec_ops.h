// The generic session layer reaches each codec through one record of
// operations. A codec joins the layer by defining its record (named below) in
// its own files and naming it in the table of codec_registry.cpp.
#pragma once

#include <cstddef>

#include "zvfec/codec_session.h"

// Each operation receives the session pointer that the caller holds, which is
// the codec's own control block; the codec casts it back to its record. The
// generic layer has already checked the arguments it is responsible for.
struct of_codec_ops {
  // Size of the codec's control block: the generic layer allocates the block
  // at this size from the start, so that growing it moves nothing.
  size_t control_block_size;
  // Grows the generic block at *ses into the codec's control block (keeping
  // codec_type), stores the new address in *ses. On failure *ses must still
  // point at a block that of_free can release.
  of_status_t (*create_codec_instance)(of_session_t **ses);
  // Frees what the codec owns; the generic layer then frees the block itself.
  of_status_t (*release_codec_instance)(of_session_t *ses);
  of_status_t (*set_fec_parameters)(of_session_t *ses, of_parameters_t *params);
  of_status_t (*set_callback_functions)(of_session_t *ses, of_decoded_source_symbol_callback_t,
                                        of_decoded_repair_symbol_callback_t, void *context);
  of_status_t (*build_repair_symbol)(of_session_t *ses, void **encoding_symbols_tab,
                                     unsigned int esi);
  of_status_t (*decode_with_new_symbol)(of_session_t *ses, void *new_symbol, unsigned int esi);
  of_status_t (*set_available_symbols)(of_session_t *ses, const void **encoding_symbols_tab);
  of_status_t (*finish_decoding)(of_session_t *ses);
  bool (*is_decoding_complete)(of_session_t *ses);
  of_status_t (*get_source_symbols_tab)(of_session_t *ses, void **source_symbols_tab);
  of_status_t (*set_control_parameter)(of_session_t *ses, unsigned int type, void *value,
                                       unsigned int length);
  of_status_t (*get_control_parameter)(of_session_t *ses, unsigned int type, void *value,
                                       unsigned int length);
};

// The record of each codec, defined beside the codec.
extern const of_codec_ops of_rs_codec_ops;              // OF_CODEC_REED_SOLOMON_GF_2_8_STABLE
extern const of_codec_ops of_rs_2_m_codec_ops;          // OF_CODEC_REED_SOLOMON_GF_2_M_STABLE
extern const of_codec_ops of_ldpc_staircase_codec_ops;  // OF_CODEC_LDPC_STAIRCASE_STABLE
extern const of_codec_ops of_2d_parity_codec_ops;       // OF_CODEC_2D_PARITY_MATRIX_STABLE

// The record registered for codec_id, or nullptr for a codec that is not
// dispatched.
const of_codec_ops *of_codec_ops_for(of_codec_id_t codec_id);
