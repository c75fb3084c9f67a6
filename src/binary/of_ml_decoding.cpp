#include "binary/of_ml_decoding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "binary/of_matrix_convert.h"
#include "binary/of_matrix_dense.h"
#include "binary/of_ml_tool.h"
#include "binary/of_stack.h"
#include "binary/of_symbol.h"
#include "session/verbosity.h"

namespace {

// A column whose entries are still being substituted, with the value of its
// symbol; recovering a symbol opens its column on top of the stack.
struct column_walk {
  uint32_t col;
  const void *value;
  of_mod2entry *next;
};

bool nothing_to_substitute(of_linear_binary_code_cb *ofcb, uint32_t esi) {
  const uint32_t col = of_linear_binary_code_col_of_esi(ofcb, esi);
  if (of_mod2sparse_empty_col(ofcb->pchk_matrix, col)) return true;
  return esi < ofcb->nb_source_symbols && of_linear_binary_code_is_complete(ofcb);
}

void drop_entry(of_linear_binary_code_cb *ofcb, of_mod2entry *e) {
  const auto row = static_cast<uint32_t>(of_mod2sparse_row(e));
  const auto col = static_cast<uint32_t>(of_mod2sparse_col(e));
  --ofcb->tab_nb_unknown_symbols[row];
  // Kept equal to the row's entries, so that iterative decoding can resume
  // on this state if elimination is not reached.
  --ofcb->tab_nb_enc_symbols_per_equ[row];
  if (col < ofcb->nb_repair_symbols) --ofcb->tab_nb_equ_for_repair[col];
  of_mod2sparse_delete(ofcb->pchk_matrix, e);
}

// A buffer for recovered symbol esi. A source symbol goes where the
// application's callback says, or into one of ours; a recovered repair symbol
// is always ours (slots k .. n-1 are freed with the codec), the application
// getting a copy of it.
void *buffer_for(of_linear_binary_code_cb *ofcb, uint32_t esi) {
  if (esi < ofcb->nb_source_symbols && ofcb->decoded_source_symbol_callback != nullptr)
    return ofcb->decoded_source_symbol_callback(ofcb->context_4_callback,
                                                ofcb->encoding_symbol_length, esi);
  return of_malloc(of_linear_binary_code_alloc_size(ofcb));
}

void release_symbols(void **tab, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) of_free(tab[i]);
}

}  // namespace

of_status_t of_linear_binary_code_prepar_linear_system(of_linear_binary_code_cb *ofcb) {
  const uint32_t r = ofcb->nb_repair_symbols;
  const uint32_t n = ofcb->nb_total_symbols;
  if (ofcb->index_rows == nullptr)
    ofcb->index_rows = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (r ? r : 1)));
  if (ofcb->index_cols == nullptr)
    ofcb->index_cols = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (n ? n : 1)));
  if (ofcb->index_rows == nullptr || ofcb->index_cols == nullptr) return OF_STATUS_FATAL_ERROR;
  for (uint32_t i = 0; i < r; ++i) ofcb->index_rows[i] = i;
  for (uint32_t j = 0; j < n; ++j) ofcb->index_cols[j] = j;
  ofcb->remain_rows = r;
  ofcb->remain_cols = n;
  for (uint32_t i = 0; i < r; ++i) {
    const auto weight = static_cast<uint16_t>(of_mod2sparse_weight_row(ofcb->pchk_matrix, i));
    ofcb->tab_nb_enc_symbols_per_equ[i] = weight;
    ofcb->tab_nb_unknown_symbols[i] = weight;
  }
  return OF_STATUS_OK;
}

of_status_t of_linear_binary_code_simplify_linear_system_with_a_symbol(
    of_linear_binary_code_cb *ofcb, const void *new_symbol, uint32_t new_symbol_esi) {
  if (nothing_to_substitute(ofcb, new_symbol_esi)) return OF_STATUS_OK;
  of_mod2sparse *m = ofcb->pchk_matrix;
  const uint32_t k = ofcb->nb_source_symbols;
  const uint32_t len = ofcb->encoding_symbol_length;
  void **tab = ofcb->encoding_symbols_tab;
  of_stack<column_walk> walks;
  const uint32_t first_col = of_linear_binary_code_col_of_esi(ofcb, new_symbol_esi);
  if (!walks.push({first_col, new_symbol, of_mod2sparse_first_in_col(m, first_col)}))
    return OF_STATUS_FATAL_ERROR;
  while (!walks.empty()) {
    column_walk &walk = walks.top();
    if (of_mod2sparse_at_end(walk.next)) {
      --ofcb->remain_cols;
      walks.pop();
      continue;
    }
    of_mod2entry *e = walk.next;
    walk.next = of_mod2sparse_next_in_col(e);
    const void *value = walk.value;
    const auto row = static_cast<uint32_t>(of_mod2sparse_row(e));
    void *&constant = ofcb->tab_const_term_of_equ[row];
    if (constant != nullptr) {
      of_add_to_symbol(constant, value, len);
    } else {
      constant = of_malloc(of_linear_binary_code_alloc_size(ofcb));
      if (constant == nullptr) return OF_STATUS_FATAL_ERROR;
      std::memcpy(constant, value, len);
    }
    drop_entry(ofcb, e);
    if (ofcb->tab_nb_unknown_symbols[row] != 1) continue;
    --ofcb->remain_rows;
    of_mod2entry *last = of_mod2sparse_first_in_row(m, row);
    if (of_mod2sparse_at_end(last)) continue;
    const uint32_t col = static_cast<uint32_t>(of_mod2sparse_col(last));
    const uint32_t esi = of_linear_binary_code_esi_of_col(ofcb, col);
    // A known symbol still in the row is substituted in its own turn.
    if (tab[esi] != nullptr) continue;
    void *buf = buffer_for(ofcb, esi);
    if (buf == nullptr) return OF_STATUS_FATAL_ERROR;
    std::memcpy(buf, constant, len);
    if (esi >= k) of_linear_binary_code_announce_repair_symbol(ofcb, buf, esi);
    tab[esi] = buf;
    of_free(constant);
    constant = nullptr;
    drop_entry(ofcb, last);
    if (esi < k)
      ++ofcb->nb_source_symbol_ready;
    else
      ++ofcb->nb_repair_symbol_ready;
    if (!nothing_to_substitute(ofcb, esi) &&
        !walks.push({col, buf, of_mod2sparse_first_in_col(m, col)}))
      return OF_STATUS_FATAL_ERROR;
  }
  return OF_STATUS_OK;
}

of_status_t of_linear_binary_code_create_simplified_linear_system(of_linear_binary_code_cb *ofcb) {
  const uint32_t r = ofcb->nb_repair_symbols;
  const uint32_t n = ofcb->nb_total_symbols;
  of_mod2sparse *m = ofcb->pchk_matrix;
  ofcb->remain_rows = 0;
  ofcb->remain_cols = 0;
  // index_cols gets room for every column, whatever the ready counters say.
  if (ofcb->index_rows == nullptr)
    ofcb->index_rows = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (r ? r : 1)));
  if (ofcb->index_cols == nullptr)
    ofcb->index_cols = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (n ? n : 1)));
  auto *row_map = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (r ? r : 1)));
  auto *col_map = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (n ? n : 1)));
  of_status_t status = OF_STATUS_OK;
  if (ofcb->index_rows == nullptr || ofcb->index_cols == nullptr || row_map == nullptr ||
      col_map == nullptr)
    status = OF_STATUS_FATAL_ERROR;
  if (status == OF_STATUS_OK) {
    for (uint32_t j = 0; j < n; ++j) {
      if (of_mod2sparse_empty_col(m, j)) continue;
      col_map[j] = ofcb->remain_cols;
      ofcb->index_cols[ofcb->remain_cols++] = j;
    }
    for (uint32_t i = 0; i < r; ++i) {
      if (of_mod2sparse_empty_row(m, i)) continue;
      row_map[i] = ofcb->remain_rows;
      ofcb->index_rows[ofcb->remain_rows++] = i;
    }
    if (ofcb->remain_cols == 0) {
      if (of_verbosity_level() != 0) {
        std::printf("%s: Failure, initial matrix is now empty, ofcb->remain_cols==0\n",
                    "of_linear_binary_code_create_simplified_linear_system");
        std::fflush(stdout);
      }
      status = OF_STATUS_FAILURE;
    } else if (ofcb->remain_rows < ofcb->remain_cols) {
      if (of_verbosity_level() != 0) {
        std::printf(
            "%s: Failure, fewer rows than columns, ofcb->remain_rows (%d) < ofcb->remain_cols "
            "(%d)\n",
            "of_linear_binary_code_create_simplified_linear_system",
            static_cast<int>(ofcb->remain_rows), static_cast<int>(ofcb->remain_cols));
        std::fflush(stdout);
      }
      status = OF_STATUS_FAILURE;
    }
  }
  if (status == OF_STATUS_OK) {
    // Only the rows that are left: empty ones would play no part.
    of_mod2sparse *s = of_mod2sparse_allocate(ofcb->remain_rows, ofcb->remain_cols);
    if (s == nullptr) {
      status = OF_STATUS_FATAL_ERROR;
    } else {
      ofcb->pchk_matrix_simplified = s;
      if (!of_mod2sparse_copy_filled_matrix(m, s, row_map, col_map)) status = OF_STATUS_FATAL_ERROR;
    }
  }
  of_free(row_map);
  of_free(col_map);
  if (status == OF_STATUS_OK) {
    of_mod2sparse_free(m);
    of_free(m);
    ofcb->pchk_matrix = nullptr;
    return OF_STATUS_OK;
  }
  of_free(ofcb->index_rows);
  of_free(ofcb->index_cols);
  ofcb->index_rows = nullptr;
  ofcb->index_cols = nullptr;
  if (ofcb->pchk_matrix_simplified != nullptr) {
    of_mod2sparse_free(ofcb->pchk_matrix_simplified);
    of_free(ofcb->pchk_matrix_simplified);
    ofcb->pchk_matrix_simplified = nullptr;
  }
  return status;
}

of_status_t of_linear_binary_code_finish_decoding_with_ml(of_linear_binary_code_cb *ofcb) {
  if (ofcb->pchk_matrix == nullptr || ofcb->encoding_symbols_tab == nullptr ||
      ofcb->tab_const_term_of_equ == nullptr || ofcb->tmp_tab_symbols == nullptr)
    return OF_STATUS_ERROR;
  const uint32_t k = ofcb->nb_source_symbols;
  const uint32_t r = ofcb->nb_repair_symbols;
  void **tab = ofcb->encoding_symbols_tab;
  of_status_t status = of_linear_binary_code_prepar_linear_system(ofcb);
  for (uint32_t esi = 0; esi < k && status == OF_STATUS_OK; ++esi)
    if (tab[esi] != nullptr)
      status = of_linear_binary_code_simplify_linear_system_with_a_symbol(ofcb, tab[esi], esi);
  if (status != OF_STATUS_OK) return status;
  // Repair symbols in a random order, so that no part of the staircase is
  // always favoured.
  auto *order = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * (r ? r : 1)));
  if (order == nullptr) return OF_STATUS_FATAL_ERROR;
  for (uint32_t i = 0; i < r; ++i) order[i] = i;
  for (uint32_t i = 0; i < r; ++i)
    std::swap(order[i], order[static_cast<uint32_t>(std::rand()) % r]);
  for (uint32_t i = 0; i < r && status == OF_STATUS_OK; ++i)
    if (tab[k + order[i]] != nullptr)
      status = of_linear_binary_code_simplify_linear_system_with_a_symbol(ofcb, tab[k + order[i]],
                                                                          k + order[i]);
  of_free(order);
  if (status != OF_STATUS_OK) return status;
  if (of_linear_binary_code_is_complete(ofcb)) return OF_STATUS_OK;

  status = of_linear_binary_code_create_simplified_linear_system(ofcb);
  if (status != OF_STATUS_OK) return status;
  const uint32_t rows = ofcb->remain_rows;
  const uint32_t cols = ofcb->remain_cols;
  of_mod2dense *dense = of_mod2dense_allocate(rows, cols);
  if (dense != nullptr) of_mod2sparse_to_dense(ofcb->pchk_matrix_simplified, dense);
  of_mod2sparse_free(ofcb->pchk_matrix_simplified);
  of_free(ofcb->pchk_matrix_simplified);
  ofcb->pchk_matrix_simplified = nullptr;
  auto **constant_tab = static_cast<void **>(of_calloc(rows, sizeof(void *)));
  auto **variable_tab = static_cast<void **>(of_calloc(cols, sizeof(void *)));
  if (dense == nullptr || constant_tab == nullptr || variable_tab == nullptr) {
    of_mod2dense_free(dense);
    of_free(constant_tab);
    of_free(variable_tab);
    return OF_STATUS_FATAL_ERROR;
  }
  for (uint32_t i = 0; i < rows; ++i) {
    void *&constant = ofcb->tab_const_term_of_equ[ofcb->index_rows[i]];
    constant_tab[i] = constant;
    constant = nullptr;
  }
  status = of_linear_binary_code_solve_dense_system(ofcb, dense, constant_tab, variable_tab);
  if (status == OF_STATUS_OK) {
    for (uint32_t i = 0; i < cols; ++i) {
      const uint32_t col = ofcb->index_cols[i];
      if (col < r) continue;  // repair symbols are not kept
      const uint32_t esi = col - r;
      if (tab[esi] != nullptr) continue;
      tab[esi] = variable_tab[i];
      variable_tab[i] = nullptr;
      ++ofcb->nb_source_symbol_ready;
    }
    if (!of_linear_binary_code_is_complete(ofcb)) status = OF_STATUS_FAILURE;
  }
  release_symbols(constant_tab, rows);
  release_symbols(variable_tab, cols);
  of_free(constant_tab);
  of_free(variable_tab);
  of_mod2dense_free(dense);
  return status;
}
