// Conversions between sparse and dense GF(2) matrices.
#ifndef ZVFEC_BINARY_OF_MATRIX_CONVERT_H
#define ZVFEC_BINARY_OF_MATRIX_CONVERT_H

#include "binary/of_matrix_dense.h"
#include "binary/of_matrix_sparse.h"

// r (cleared first) gets one bit per entry of m, when r has at least m's rows
// and columns; otherwise r is left alone.
void of_mod2sparse_to_dense(of_mod2sparse *m, of_mod2dense *r);

// r (cleared first) gets one entry per 1 bit of m, when r has at least m's rows
// and columns; otherwise r is left alone. Returns false only when memory ran
// out part way.
bool of_mod2dense_to_sparse(const of_mod2dense *m, of_mod2sparse *r);

#endif  // ZVFEC_BINARY_OF_MATRIX_CONVERT_H
