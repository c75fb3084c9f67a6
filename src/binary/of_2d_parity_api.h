// The session operations of codec OF_CODEC_2D_PARITY_MATRIX_STABLE: k source
// symbols laid out as a grid of b rows and a columns, one repair symbol per
// grid row (ESIs k .. k+b-1) and one per grid column (k+b .. n-1), r = a + b.
// The generic layer has checked its own arguments before calling these.
#pragma once

#include <cstdint>

#include "binary/of_linear_binary_code.h"
#include "zvfec/codec_session.h"

struct of_2d_parity_cb {
  of_linear_binary_code_cb lbc;      // the common block, first so that both share an address
  uint32_t max_nb_source_symbols;    // 16
  uint32_t max_nb_encoding_symbols;  // 24
};
typedef struct of_2d_parity_cb of_2d_parity_cb_t;

// Same contracts as the LDPC-staircase operations, except where said.
of_status_t of_2d_parity_create_codec_instance(of_2d_parity_cb_t **of_cb);
of_status_t of_2d_parity_release_codec_instance(of_2d_parity_cb_t *ofcb);
// OF_STATUS_FATAL_ERROR for k > 16, n > 24, a (k, r) pair without a grid
// shape (r = a + b with a * b = k), or memory shortage. Nothing is pre-fed.
of_status_t of_2d_parity_set_fec_parameters(of_2d_parity_cb_t *ofcb,
                                            of_2d_parity_parameters_t *params);
of_status_t of_2d_parity_set_callback_functions(
    of_2d_parity_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback);
// Every repair symbol depends on source symbols only, so any order works.
of_status_t of_2d_parity_build_repair_symbol(of_2d_parity_cb_t *ofcb, void **encoding_symbols_tab,
                                             unsigned int esi_of_symbol_to_build);
of_status_t of_2d_parity_decode_with_new_symbol(of_2d_parity_cb_t *ofcb, void *new_symbol,
                                                unsigned int new_symbol_esi);
// Records every present symbol of the n-entry table without decoding (source
// symbols by reference, repair symbols as copies of ours; ESIs already known
// are left alone); of_2d_parity_finish_decoding then solves for the rest.
// OF_STATUS_ERROR before the parameters, OF_STATUS_FATAL_ERROR when memory is
// short (what was recorded stays).
of_status_t of_2d_parity_set_available_symbols(of_2d_parity_cb_t *ofcb,
                                               const void **encoding_symbols_tab);
of_status_t of_2d_parity_finish_decoding(of_2d_parity_cb_t *ofcb);
bool of_2d_parity_is_decoding_complete(of_2d_parity_cb_t *ofcb);
of_status_t of_2d_parity_get_source_symbols_tab(of_2d_parity_cb_t *ofcb, void **source_symbols_tab);
of_status_t of_2d_parity_set_control_parameter(of_2d_parity_cb_t *ofcb, unsigned int type,
                                               void *value, unsigned int length);
// Types 1 and 2 only (uint32_t, length 4).
of_status_t of_2d_parity_get_control_parameter(of_2d_parity_cb_t *ofcb, unsigned int type,
                                               void *value, unsigned int length);
