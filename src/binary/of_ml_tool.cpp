#include "binary/of_ml_tool.h"

#include <bit>
#include <cstring>
#include <utility>

#include "binary/of_symbol.h"

namespace {

inline bool bit(const of_mod2dense *m, uint32_t row, uint32_t col) {
  return (m->row[row][col >> 5] >> (col & 31)) & 1u;
}

}  // namespace

of_status_t of_linear_binary_code_solve_dense_system(of_linear_binary_code_cb *ofcb,
                                                     of_mod2dense *m, void **constant_tab,
                                                     void **variable_tab) {
  const of_status_t status =
      of_linear_binary_code_triangularize_dense_system(ofcb, m, constant_tab);
  if (status != OF_STATUS_OK) return status;
  return of_linear_binary_code_backward_substitution(ofcb, m, variable_tab, constant_tab);
}

of_status_t of_linear_binary_code_triangularize_dense_system(of_linear_binary_code_cb *ofcb,
                                                             of_mod2dense *m, void **constant_tab) {
  if (m->n_rows < m->n_cols) return OF_STATUS_FAILURE;
  for (uint32_t col = 0; col < m->n_cols; ++col) {
    const of_status_t status =
        of_linear_binary_code_col_forward_elimination(ofcb, m, constant_tab, col);
    if (status != OF_STATUS_OK) return status;
  }
  return OF_STATUS_OK;
}

of_status_t of_linear_binary_code_col_forward_elimination(of_linear_binary_code_cb *ofcb,
                                                          of_mod2dense *m, void **constant_tab,
                                                          uint32_t col_idx) {
  const uint32_t col = col_idx;
  uint32_t p = col;
  while (p < m->n_rows && !bit(m, p, col)) ++p;
  if (p >= m->n_rows) return OF_STATUS_FAILURE;
  if (p != col) {
    std::swap(m->row[p], m->row[col]);
    std::swap(constant_tab[p], constant_tab[col]);
  }
  const of_mod2word *pivot = m->row[col];
  const void *pivot_constant = constant_tab[col];
  const uint32_t first_word = col >> 5;
  uint32_t nb_collected = 0;
  void **collected = ofcb->tmp_tab_symbols;
  for (uint32_t i = col + 1; i < m->n_rows; ++i) {
    if (!bit(m, i, col)) continue;
    of_mod2word *target = m->row[i];
    for (uint32_t w = first_word; w < m->n_words; ++w) target[w] ^= pivot[w];
    // A zero pivot constant changes no constant.
    if (pivot_constant == nullptr) continue;
    if (constant_tab[i] != nullptr) {
      collected[nb_collected++] = constant_tab[i];
    } else {
      constant_tab[i] = of_malloc(of_linear_binary_code_alloc_size(ofcb));
      if (constant_tab[i] == nullptr) return OF_STATUS_FATAL_ERROR;
      std::memcpy(constant_tab[i], pivot_constant, ofcb->encoding_symbol_length);
    }
  }
  // One pass over the batch per pivot.
  of_add_to_multiple_symbols(collected, pivot_constant, nb_collected, ofcb->encoding_symbol_length);
  ofcb->nb_tmp_symbols = 0;
  return OF_STATUS_OK;
}

of_status_t of_linear_binary_code_backward_substitution(of_linear_binary_code_cb *ofcb,
                                                        of_mod2dense *m, void **variable_tab,
                                                        void **constant_tab) {
  void **collected = ofcb->tmp_tab_symbols;
  for (uint32_t i = m->n_cols; i-- > 0;) {
    void *value = constant_tab[i];
    constant_tab[i] = nullptr;
    if (value == nullptr) {
      value = of_calloc(1, of_linear_binary_code_alloc_size(ofcb));
      if (value == nullptr) return OF_STATUS_FATAL_ERROR;
    }
    variable_tab[i] = value;
    uint32_t nb_collected = 0;
    const of_mod2word *row = m->row[i];
    for (uint32_t w = (i + 1) >> 5; w < m->n_words; ++w) {
      of_mod2word word = row[w];
      if (w == (i + 1) >> 5) word &= ~of_mod2word{0} << ((i + 1) & 31);
      while (word != 0) {
        const uint32_t j = w * 32 + static_cast<uint32_t>(std::countr_zero(word));
        word &= word - 1;
        collected[nb_collected++] = variable_tab[j];
      }
    }
    of_add_from_multiple_symbols(value, collected, nb_collected, ofcb->encoding_symbol_length);
  }
  return OF_STATUS_OK;
}
