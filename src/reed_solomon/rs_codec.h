// The session operations of codec OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, built
// on the classic coder. Same session contract as the GF(2^m) codec, with fixed
// limits: k <= 255 and n <= 256.
#pragma once

#include <cstdint>

#include "reed_solomon/rs_engine.h"
#include "zvfec/codec_session.h"

struct of_rs_cb {
  of_codec_id_t codec_id;  // always OF_CODEC_REED_SOLOMON_GF_2_8_STABLE
  of_codec_type_t codec_type;
  uint32_t nb_source_symbols;        // k
  uint32_t nb_repair_symbols;        // r
  uint32_t nb_encoding_symbols;      // n = k + r
  uint32_t max_nb_source_symbols;    // 255
  uint32_t max_nb_encoding_symbols;  // 255
  uint32_t encoding_symbol_length;
  void *rs_cb;  // classic coder object, owned, made on first need; NULL when there is none
  // n entries indexed by ESI: received symbols (the caller's) and, after
  // decoding, recovered ones (handed to the caller). The table is owned.
  void **available_symbols_tab;
  uint32_t nb_available_symbols;
  uint32_t nb_available_source_symbols;
  bool decoding_finished;
  of_decoded_source_symbol_callback_t decoded_source_symbol_callback;
  of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback;
  void *context_4_callback;
  rs_repair_ahead repair_ahead;  // repair symbols computed ahead by an encoder
};
typedef struct of_rs_cb of_rs_cb_t;

// Grows the generic block at *of_cb (keeping codec_type); OF_STATUS_FATAL_ERROR,
// *of_cb untouched, when memory is short.
of_status_t of_rs_create_codec_instance(of_rs_cb_t **of_cb);
// Frees the coder object and the symbol table, never a symbol buffer.
of_status_t of_rs_release_codec_instance(of_rs_cb_t *ofcb);
// k above 255, or n or the symbol length beyond an int: OF_STATUS_FATAL_ERROR.
// n itself is checked when a coder is made (repair building and decoding
// answer OF_STATUS_ERROR for n > 256). OF_STATUS_ERROR when the symbol table
// cannot be allocated. A later call replaces the code and drops all state.
of_status_t of_rs_set_fec_parameters(of_rs_cb_t *ofcb, of_rs_parameters_t *params);
of_status_t of_rs_set_callback_functions(
    of_rs_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback);
// Builds repair symbol esi (k <= esi < n). A NULL entry receives a zero-filled
// buffer that then belongs to the caller; on failure the entry is as before.
of_status_t of_rs_build_repair_symbol(of_rs_cb_t *ofcb, void **encoding_symbols_tab,
                                      unsigned int esi_of_symbol_to_build);
// Keeps the pointer (never writes through it); decodes when the k-th distinct
// symbol arrives. A repeated ESI or a symbol after completion is ignored.
of_status_t of_rs_decode_with_new_symbol(of_rs_cb_t *ofcb, void *new_symbol,
                                         unsigned int new_symbol_esi);
// Takes the caller's n-entry table of received symbols; does not decode.
// OF_STATUS_ERROR, nothing changed, once decoding has finished.
of_status_t of_rs_set_available_symbols(of_rs_cb_t *ofcb, const void **encoding_symbols_tab);
of_status_t of_rs_finish_decoding(of_rs_cb_t *ofcb);
bool of_rs_is_decoding_complete(of_rs_cb_t *ofcb);
of_status_t of_rs_get_source_symbols_tab(of_rs_cb_t *ofcb, void **source_symbols_tab);
// Refuses every identifier.
of_status_t of_rs_set_control_parameter(of_rs_cb_t *ofcb, unsigned int type, void *value,
                                        unsigned int length);
of_status_t of_rs_get_control_parameter(of_rs_cb_t *ofcb, unsigned int type, void *value,
                                        unsigned int length);
bool of_rs_is_source_symbol(of_rs_cb_t *ofcb, unsigned int new_symbol_esi);
bool of_rs_is_repair_symbol(of_rs_cb_t *ofcb, unsigned int new_symbol_esi);
