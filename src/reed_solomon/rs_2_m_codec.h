// The session operations of codec OF_CODEC_REED_SOLOMON_GF_2_M_STABLE. The
// generic layer has checked its own arguments before calling them.
#pragma once

#include "reed_solomon/rs_2_m_code.h"
#include "zvfec/codec_session.h"

// Grows the generic block at *of_cb into a GF(2^m) control block (keeping
// codec_type). OF_STATUS_FATAL_ERROR, *of_cb untouched, when memory is short.
of_status_t of_rs_2_m_create_codec_instance(of_rs_2_m_cb_t **of_cb);
// Frees the matrices and the symbol table, never a symbol buffer.
of_status_t of_rs_2_m_release_codec_instance(of_rs_2_m_cb_t *ofcb);
// m must be 4 or 8 and k at most 2^m - 1 (OF_STATUS_FATAL_ERROR). n = k + r
// and the symbol length must fit an int (OF_STATUS_FATAL_ERROR). A later call
// replaces the code and drops all decoding state. OF_STATUS_ERROR when the
// symbol table cannot be allocated.
of_status_t of_rs_2_m_set_fec_parameters(of_rs_2_m_cb_t *ofcb, of_rs_2_m_parameters_t *params);
of_status_t of_rs_2_m_set_callback_functions(
    of_rs_2_m_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback);
// Builds repair symbol esi (k <= esi < n). A NULL entry receives a zero-filled
// buffer that then belongs to the caller; on failure the entry is as before.
of_status_t of_rs_2_m_build_repair_symbol(of_rs_2_m_cb_t *ofcb, void **encoding_symbols_tab,
                                          unsigned int esi_of_symbol_to_build);
// Keeps the pointer (never writes through it); decodes when the k-th distinct
// symbol arrives. A repeated ESI or a symbol after completion is ignored.
of_status_t of_rs_2_m_decode_with_new_symbol(of_rs_2_m_cb_t *ofcb, void *new_symbol,
                                             unsigned int new_symbol_esi);
// Takes the caller's n-entry table of received symbols; does not decode.
// OF_STATUS_ERROR, nothing changed, once decoding has finished.
of_status_t of_rs_2_m_set_available_symbols(of_rs_2_m_cb_t *ofcb,
                                            const void **encoding_symbols_tab);
of_status_t of_rs_2_m_finish_decoding(of_rs_2_m_cb_t *ofcb);
bool of_rs_2_m_is_decoding_complete(of_rs_2_m_cb_t *ofcb);
of_status_t of_rs_2_m_get_source_symbols_tab(of_rs_2_m_cb_t *ofcb, void **source_symbols_tab);
// OF_RS_2_M_CTRL_SET_M (uint16_t, length 2) selects m = 4 or 8; once the
// parameters are set, an m whose field cannot hold the code (k > 2^m - 1 or
// n > 2^m) is refused with OF_STATUS_ERROR, the field unchanged. Any other
// identifier: OF_STATUS_OK, nothing changes.
of_status_t of_rs_2_m_set_control_parameter(of_rs_2_m_cb_t *ofcb, unsigned int type, void *value,
                                            unsigned int length);
of_status_t of_rs_2_m_get_control_parameter(of_rs_2_m_cb_t *ofcb, unsigned int type, void *value,
                                            unsigned int length);
