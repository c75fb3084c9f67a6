#include "binary/of_matrix_convert.h"

#include <cstring>

#include "zvfec/codec_session.h"

void of_mod2sparse_to_dense(of_mod2sparse *m, of_mod2dense *r) {
  if (static_cast<uint32_t>(m->n_rows) > r->n_rows ||
      static_cast<uint32_t>(m->n_cols) > r->n_cols) {
    return;
  }
  of_mod2dense_clear(r);
  for (int32_t i = 0; i < m->n_rows; ++i) {
    for (of_mod2entry *e = of_mod2sparse_first_in_row(m, static_cast<uint32_t>(i));
         !of_mod2sparse_at_end(e); e = of_mod2sparse_next_in_row(e)) {
      of_mod2dense_set(r, static_cast<uint32_t>(i), static_cast<uint32_t>(e->col), 1);
    }
  }
}

bool of_mod2dense_to_sparse(const of_mod2dense *m, of_mod2sparse *r) {
  if (m->n_rows > static_cast<uint32_t>(r->n_rows) ||
      m->n_cols > static_cast<uint32_t>(r->n_cols)) {
    return true;
  }
  of_mod2sparse_clear(r);
  for (uint32_t i = 0; i < m->n_rows; ++i) {
    for (uint32_t j = 0; j < m->n_cols; ++j) {
      if (of_mod2dense_get(m, i, j) && of_mod2sparse_insert(r, i, j) == nullptr) return false;
    }
  }
  return true;
}

bool of_mod2sparse_to_rows(of_mod2sparse *m, of_mod2rows *r) {
  const auto n_rows = static_cast<uint32_t>(m->n_rows);
  const auto n_cols = static_cast<uint32_t>(m->n_cols);
  r->n_rows = n_rows;
  r->start = static_cast<uint32_t *>(of_calloc(n_rows + size_t{1}, sizeof(uint32_t)));
  r->cols = nullptr;
  if (r->start == nullptr) return false;
  // Walks down the columns, whose entries the builders allocate side by side,
  // rather than along the rows; columns in ascending order leave every row
  // in ascending order too.
  for (uint32_t j = 0; j < n_cols; ++j)
    for (of_mod2entry *e = of_mod2sparse_first_in_col(m, j); !of_mod2sparse_at_end(e);
         e = of_mod2sparse_next_in_col(e))
      ++r->start[of_mod2sparse_row(e) + 1];
  for (uint32_t i = 0; i < n_rows; ++i) r->start[i + 1] += r->start[i];
  const uint32_t count = r->start[n_rows];
  r->cols = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (count != 0 ? count : 1)));
  if (r->cols == nullptr) {
    of_mod2rows_free(r);
    return false;
  }
  // start[i] serves as row i's fill position, then is moved back.
  for (uint32_t j = 0; j < n_cols; ++j)
    for (of_mod2entry *e = of_mod2sparse_first_in_col(m, j); !of_mod2sparse_at_end(e);
         e = of_mod2sparse_next_in_col(e))
      r->cols[r->start[of_mod2sparse_row(e)]++] = j;
  for (uint32_t i = n_rows; i > 0; --i) r->start[i] = r->start[i - 1];
  r->start[0] = 0;
  return true;
}

void of_mod2rows_to_columns(const of_mod2rows *r, uint32_t n_cols, uint32_t *col_start,
                            uint32_t *col_rows) {
  const uint32_t count = r->start[r->n_rows];
  std::memset(col_start, 0, sizeof(uint32_t) * (n_cols + size_t{1}));
  for (uint32_t e = 0; e < count; ++e) ++col_start[r->cols[e] + 1];
  for (uint32_t j = 0; j < n_cols; ++j) col_start[j + 1] += col_start[j];
  // col_start[j] serves as column j's fill position, then is moved back.
  for (uint32_t i = 0; i < r->n_rows; ++i)
    for (const uint32_t c : r->row(i)) col_rows[col_start[c]++] = i;
  for (uint32_t j = n_cols; j > 0; --j) col_start[j] = col_start[j - 1];
  col_start[0] = 0;
}

void of_mod2rows_free(of_mod2rows *r) {
  of_free(r->start);
  of_free(r->cols);
  r->start = nullptr;
  r->cols = nullptr;
}
