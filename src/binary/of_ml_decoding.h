// Maximum-likelihood decoding of the binary codecs: what peeling leaves
// unsolved is reduced to a dense system over the unknown symbols and solved
// by Gaussian elimination.
#ifndef ZVFEC_BINARY_OF_ML_DECODING_H
#define ZVFEC_BINARY_OF_ML_DECODING_H

#include <cstdint>

#include "binary/of_linear_binary_code.h"

// Finishes a decoding with the symbols received so far: substitutes every
// known symbol again (source symbols in ESI order, then the known repair
// symbols in an order shuffled with the standard library's rand(), never
// seeded here), peeling as it goes, then eliminates. Symbols found by peeling
// are announced through the callbacks as in iterative decoding; those found
// by elimination go straight into encoding_symbols_tab (a source symbol into
// a buffer of ours, owned by the application once handed out).
// OF_STATUS_OK when decoding is complete; OF_STATUS_FAILURE when the system
// cannot be solved (too few equations, or rank too low: what peeling
// recovered stays); OF_STATUS_FATAL_ERROR when memory runs out or the source
// callback gives no buffer; OF_STATUS_ERROR without a matrix or decoder
// tables. Once elimination has begun the matrix is consumed: the block is then
// fit only for reading the source symbols and for release.
of_status_t of_linear_binary_code_finish_decoding_with_ml(of_linear_binary_code_cb *ofcb);

// Sets index_rows and index_cols to the identity (allocating them when
// absent), remain_rows = r, remain_cols = n, and both per-equation counters to
// the entries each row still has.
of_status_t of_linear_binary_code_prepar_linear_system(of_linear_binary_code_cb *ofcb);

// Substitutes known symbol new_symbol_esi (value new_symbol) into every
// equation that still holds it, recovering each symbol left alone in an
// equation and substituting it in turn (depth first, with the pending work on
// the heap). Nothing to do for a symbol without entries, or for a source
// symbol once decoding is complete.
of_status_t of_linear_binary_code_simplify_linear_system_with_a_symbol(
    of_linear_binary_code_cb *ofcb, const void *new_symbol, uint32_t new_symbol_esi);

// Numbers the non-empty rows and columns of pchk_matrix in ascending order
// into index_rows / index_cols and builds pchk_matrix_simplified (remain_rows
// rows, remain_cols columns) from them, releasing pchk_matrix. OF_STATUS_FAILURE
// (index arrays freed) when no column is left or there are fewer rows than
// columns; OF_STATUS_FATAL_ERROR when memory is short.
of_status_t of_linear_binary_code_create_simplified_linear_system(of_linear_binary_code_cb *ofcb);

#endif  // ZVFEC_BINARY_OF_ML_DECODING_H
