// The session operations of codec OF_CODEC_LDPC_STAIRCASE_STABLE (RFC 5170).
// Repair symbol k + j is the XOR of the source symbols of row j and of repair
// symbol k + j - 1; decoding peels symbols as they arrive and can be finished
// by elimination. The generic layer has checked its own arguments before
// calling these.
#pragma once

#include <cstdint>

#include "binary/of_linear_binary_code.h"
#include "zvfec/codec_session.h"

struct of_ldpc_staircase_cb {
  of_linear_binary_code_cb lbc;      // the common block, first so that both share an address
  uint32_t max_nb_source_symbols;    // 50000
  uint32_t max_nb_encoding_symbols;  // 50000
  uint32_t prng_seed;
  uint8_t N1;
  bool extra_entries_added_in_pchk;  // rows had to be topped up by the matrix builder
};
typedef struct of_ldpc_staircase_cb of_ldpc_staircase_cb_t;

// Grows the generic block at *of_cb into an LDPC-staircase control block
// (keeping codec_type). OF_STATUS_FATAL_ERROR, *of_cb untouched, when memory
// is short.
of_status_t of_ldpc_staircase_create_codec_instance(of_ldpc_staircase_cb_t **of_cb);
// Frees what the block owns: the matrices, the repair symbols it holds and the
// decoding state; never a source symbol.
of_status_t of_ldpc_staircase_release_codec_instance(of_ldpc_staircase_cb_t *ofcb);
// OF_STATUS_FATAL_ERROR for N1 < 3, k > 50000, r > 50000, n > 50000, no matrix
// for the parameters (r < N1 among others) or memory shortage. A decoder for
// which the last repair symbol is always zero (N1 even, no extra entries)
// starts with that zero symbol fed. A later call replaces all state.
of_status_t of_ldpc_staircase_set_fec_parameters(of_ldpc_staircase_cb_t *ofcb,
                                                 of_ldpc_parameters_t *params);
of_status_t of_ldpc_staircase_set_callback_functions(
    of_ldpc_staircase_cb_t *ofcb,
    of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback);
// Builds repair symbol esi (k <= esi < n) from the source symbols and repair
// symbol esi - 1 in the table, so repair symbols are built in ascending order.
// OF_STATUS_ERROR otherwise (see of_linear_binary_code_build_repair_symbol).
of_status_t of_ldpc_staircase_build_repair_symbol(of_ldpc_staircase_cb_t *ofcb,
                                                  void **encoding_symbols_tab,
                                                  unsigned int esi_of_symbol_to_build);
// Iterative decoding of one more symbol (of_linear_binary_code_decode_with_new_symbol).
of_status_t of_ldpc_staircase_decode_with_new_symbol(of_ldpc_staircase_cb_t *ofcb, void *new_symbol,
                                                     unsigned int new_symbol_esi);
// Feeds each present symbol of the n-entry table in ESI order.
of_status_t of_ldpc_staircase_set_available_symbols(of_ldpc_staircase_cb_t *ofcb,
                                                    const void **encoding_symbols_tab);
// OF_STATUS_OK at once when complete, else maximum-likelihood decoding.
of_status_t of_ldpc_staircase_finish_decoding(of_ldpc_staircase_cb_t *ofcb);
bool of_ldpc_staircase_is_decoding_complete(of_ldpc_staircase_cb_t *ofcb);
of_status_t of_ldpc_staircase_get_source_symbols_tab(of_ldpc_staircase_cb_t *ofcb,
                                                     void **source_symbols_tab);
// Refuses every parameter with OF_STATUS_ERROR.
of_status_t of_ldpc_staircase_set_control_parameter(of_ldpc_staircase_cb_t *ofcb, unsigned int type,
                                                    void *value, unsigned int length);
// Types 1 and 2 (uint32_t, length 4): the maxima. Type 1024 (one byte, length
// at least 1): whether the last repair symbol is always zero. Anything else,
// a missing value or a wrong length: OF_STATUS_ERROR.
of_status_t of_ldpc_staircase_get_control_parameter(of_ldpc_staircase_cb_t *ofcb, unsigned int type,
                                                    void *value, unsigned int length);
