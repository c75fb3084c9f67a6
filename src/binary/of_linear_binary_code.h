// The control block that the LDPC-staircase and 2D parity codecs share, and
// the steps of theirs that do not depend on the code: table set-up and
// release, repair-symbol building, completeness and the common queries.
//
// The parity-check matrix has one row per repair symbol (one equation: the
// XOR of the row's symbols is zero) and its repair columns first: column c < r
// is repair ESI k + c, column c >= r is source ESI c - r.
#pragma once

#include <cstdint>

#include "binary/of_matrix_convert.h"
#include "binary/of_matrix_sparse.h"
#include "zvfec/codec_session.h"

struct of_symbol_stats_op_t {
  uint32_t nb_xor_for_IT;
  uint32_t nb_xor_for_ML;
};

struct of_linear_binary_code_cb {
  of_codec_id_t codec_id;
  of_codec_type_t codec_type;
  uint32_t nb_source_symbols;  // k
  uint32_t nb_repair_symbols;  // r, also the number of matrix rows
  uint32_t encoding_symbol_length;
  uint32_t nb_total_symbols;  // n = k + r
  // Entries of known symbols are removed as decoding proceeds; the
  // maximum-likelihood stage consumes the matrix.
  of_mod2sparse *pchk_matrix;
  of_symbol_stats_op_t *stats_xor;  // not maintained, stays none
  uint32_t nb_source_symbol_ready;
  uint32_t nb_repair_symbol_ready;
  // Elimination (of_ml_decoding.h) works on index arrays of its own: these
  // three are never filled, and released when set.
  uint32_t *index_rows;
  uint32_t *index_cols;
  // The unknowns and equations that the substitution left to elimination.
  uint32_t remain_cols;
  uint32_t remain_rows;
  of_mod2sparse *pchk_matrix_simplified;
  of_mod2sparse *original_pchkMatrix;  // never filled; released when set
  of_mod2sparse *pchk_matrix_gauss;    // never filled; released when set
  uint32_t dec_step;
  uint32_t threshold_simplification;
  // Per equation: the XOR of the known symbols folded into it (none until the
  // first one), the entries still in its matrix row, and its unknowns.
  void **tab_const_term_of_equ;
  uint16_t *tab_nb_enc_symbols_per_equ;
  uint16_t *tab_nb_unknown_symbols;
  // Per repair symbol, the equations that still contain it.
  uint16_t *tab_nb_equ_for_repair;
  void **repair_symbols_values;  // not used
  // Not used (sums of symbols collect their inputs themselves): none, 0.
  void **tmp_tab_symbols;
  uint16_t nb_tmp_symbols;
  // Known symbols by ESI, none where unknown. Source symbols handed in by the
  // application stay the application's; slots k .. n-1 hold buffers of the
  // codec's own.
  void **encoding_symbols_tab;
  of_decoded_source_symbol_callback_t decoded_source_symbol_callback;
  of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback;
  void *context_4_callback;
  // Completeness cursor: every source ESI below it is known. Reset with the
  // rest of the block when a new code is set up.
  uint32_t first_non_decoded;
  // The rows of the parity-check matrix as built, which decoding never
  // changes: the encoder's and the elimination's way to a row's symbols.
  of_mod2rows pchk_rows;
};

// Column of an ESI and ESI of a column.
inline uint32_t of_linear_binary_code_col_of_esi(const of_linear_binary_code_cb *ofcb,
                                                 uint32_t esi) {
  return esi < ofcb->nb_source_symbols ? esi + ofcb->nb_repair_symbols
                                       : esi - ofcb->nb_source_symbols;
}
inline uint32_t of_linear_binary_code_esi_of_col(const of_linear_binary_code_cb *ofcb,
                                                 uint32_t col) {
  return col < ofcb->nb_repair_symbols ? ofcb->nb_source_symbols + col
                                       : col - ofcb->nb_repair_symbols;
}

// A buffer size that the allocator never answers with none for success.
inline uint32_t of_linear_binary_code_alloc_size(const of_linear_binary_code_cb *ofcb) {
  return ofcb->encoding_symbol_length != 0 ? ofcb->encoding_symbol_length : 1;
}

// Decoding complete: moves the completeness cursor forward over known source
// symbols; true once it reaches k, never before the parameters are set.
bool of_linear_binary_code_is_complete(of_linear_binary_code_cb *ofcb);

// Hands recovered repair symbol esi (value, encoding_symbol_length bytes) to
// decoded_repair_symbol_callback when one is set: the value is copied into
// the buffer it returns, which stays the application's (none: nothing is
// written). The codec keeps its own copy in slot esi.
void of_linear_binary_code_announce_repair_symbol(of_linear_binary_code_cb *ofcb, const void *value,
                                                  uint32_t esi);

// Takes ownership of pchk_matrix (k, r, n and the symbol length already set)
// and allocates the symbol table, the row index arrays and, for a decoder,
// the equation bookkeeping, counted from the matrix. OF_STATUS_FATAL_ERROR when memory is
// short; what was allocated stays in the block for the release.
of_status_t of_linear_binary_code_set_up(of_linear_binary_code_cb *ofcb,
                                         of_mod2sparse *pchk_matrix);

// Frees everything the block owns (never a source symbol of the application)
// and sets each pointer to none; the block can be set up again afterwards.
void of_linear_binary_code_release(of_linear_binary_code_cb *ofcb);

// Frees the parity-check matrix alone, as elimination does when it consumes
// the equations: the block then takes no further symbol. Accepts a block
// without one.
void of_linear_binary_code_release_matrix(of_linear_binary_code_cb *ofcb);

// Builds repair ESI esi into encoding_symbols_tab (n entries): the XOR of
// every other symbol of its equation, in one pass over the output. A NULL
// entry receives a buffer that then belongs to the caller. OF_STATUS_ERROR,
// with the table untouched, for an ESI outside k .. n-1, without a matrix, or
// when a symbol of the equation is missing from the table;
// OF_STATUS_FATAL_ERROR when memory is short.
of_status_t of_linear_binary_code_build_repair_symbol(of_linear_binary_code_cb *ofcb,
                                                      void **encoding_symbols_tab, uint32_t esi);

// Copies the k source-symbol pointers; OF_STATUS_ERROR before the parameters.
of_status_t of_linear_binary_code_get_source_symbols_tab(of_linear_binary_code_cb *ofcb,
                                                         void **source_symbols_tab);

// Answers control parameters 1 and 2 with the given maxima (value present,
// length 4); OF_STATUS_ERROR otherwise.
of_status_t of_linear_binary_code_get_max(unsigned int type, void *value, unsigned int length,
                                          uint32_t max_nb_source_symbols,
                                          uint32_t max_nb_encoding_symbols);
