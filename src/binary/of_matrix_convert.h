// Conversions of sparse GF(2) matrices: to and from dense ones, and to row
// index arrays.
#pragma once

#include <cstdint>
#include <span>

#include "binary/of_matrix_dense.h"
#include "binary/of_matrix_sparse.h"

// r (cleared first) gets one bit per entry of m, when r has at least m's rows
// and columns; otherwise r is left alone.
void of_mod2sparse_to_dense(of_mod2sparse *m, of_mod2dense *r);

// r (cleared first) gets one entry per 1 bit of m, when r has at least m's rows
// and columns; otherwise r is left alone. Returns false only when memory ran
// out part way.
bool of_mod2dense_to_sparse(const of_mod2dense *m, of_mod2sparse *r);

// The rows of a sparse matrix as index arrays, for walks that find the
// entries side by side in memory: row i holds the columns cols[start[i]] ..
// cols[start[i + 1] - 1], ascending. Both arrays come from of_malloc.
struct of_mod2rows {
  uint32_t n_rows;
  uint32_t *start;  // n_rows + 1 offsets
  uint32_t *cols;

  // Row i's columns, and how many there are.
  std::span<const uint32_t> row(uint32_t i) const { return {cols + start[i], cols + start[i + 1]}; }
  uint32_t row_weight(uint32_t i) const { return start[i + 1] - start[i]; }
};

// Fills *r from m (any previous arrays of *r are not freed). False, with both
// arrays none, when memory is short.
bool of_mod2sparse_to_rows(of_mod2sparse *m, of_mod2rows *r);

// The same entries by column: col_start (n_cols + 1 slots) and col_rows
// (r->start[r->n_rows] slots) get column j's rows, ascending, at
// col_rows[col_start[j]] .. col_rows[col_start[j + 1] - 1]. Every column
// number in r is below n_cols.
void of_mod2rows_to_columns(const of_mod2rows *r, uint32_t n_cols, uint32_t *col_start,
                            uint32_t *col_rows);

// Frees both arrays and sets them to none. Accepts a record never filled.
void of_mod2rows_free(of_mod2rows *r);
