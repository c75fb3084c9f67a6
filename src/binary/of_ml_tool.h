// Gaussian elimination over GF(2) with symbol-valued right-hand sides: the
// dense end of maximum-likelihood decoding.
#ifndef ZVFEC_BINARY_OF_ML_TOOL_H
#define ZVFEC_BINARY_OF_ML_TOOL_H

#include <cstdint>

#include "binary/of_linear_binary_code.h"
#include "binary/of_matrix_dense.h"

// Solves m x = constant_tab for the n_cols variables. constant_tab has one
// symbol pointer per row of m (none = zero) and variable_tab one per column,
// all none on entry. m needs at least as many rows as columns. Row swaps move
// row and constant pointers; constants may be replaced along the way, and on
// success their ownership has moved into variable_tab (every variable then
// set). The block lends its symbol length and its scratch list
// tmp_tab_symbols (at least max(rows, columns) entries).
// OF_STATUS_OK; OF_STATUS_FAILURE when a column has no pivot (the system has
// too low a rank); OF_STATUS_FATAL_ERROR when memory is short. On failure the
// tables hold whatever symbols they hold; the caller frees them.
of_status_t of_linear_binary_code_solve_dense_system(of_linear_binary_code_cb *ofcb,
                                                     of_mod2dense *m, void **constant_tab,
                                                     void **variable_tab);

// Forward elimination over every column in turn; stops at the first failure.
of_status_t of_linear_binary_code_triangularize_dense_system(of_linear_binary_code_cb *ofcb,
                                                             of_mod2dense *m, void **constant_tab);

// Brings a pivot for column col_idx to row col_idx and clears the column
// below it, XORing the pivot's constant into each changed row's constant.
of_status_t of_linear_binary_code_col_forward_elimination(of_linear_binary_code_cb *ofcb,
                                                          of_mod2dense *m, void **constant_tab,
                                                          uint32_t col_idx);

// Solves an upper-triangular system with a unit diagonal from the last
// variable up; each variable takes over its row's constant.
of_status_t of_linear_binary_code_backward_substitution(of_linear_binary_code_cb *ofcb,
                                                        of_mod2dense *m, void **variable_tab,
                                                        void **constant_tab);

#endif  // ZVFEC_BINARY_OF_ML_TOOL_H
