#include "binary/of_it_decoding.h"

#include <cstring>

#include "binary/of_stack.h"
#include "binary/of_symbol.h"

namespace {

// Rows found with a single entry left while substituting one symbol; they are
// taken from the last to the first, and each recovered symbol's own rows are
// finished before the next row of this list.
struct pending_rows {
  uint32_t begin;  // first row of this list in the shared row store
  uint32_t next;   // rows begin .. next-1 remain
};

struct work {
  of_stack<uint32_t> rows;
  of_stack<pending_rows> lists;
};

// Adds every known symbol still in row's equation to its constant term
// through `sum`, and deletes its entry.
void fold_known_symbols(of_linear_binary_code_cb *ofcb, uint32_t row, of_symbol_sum *sum) {
  const uint32_t k = ofcb->nb_source_symbols;
  void **tab = ofcb->encoding_symbols_tab;
  of_mod2sparse *m = ofcb->pchk_matrix;
  for (of_mod2entry *e = of_mod2sparse_first_in_row(m, row); !of_mod2sparse_at_end(e);) {
    of_mod2entry *next = of_mod2sparse_next_in_row(e);
    const uint32_t esi =
        of_linear_binary_code_esi_of_col(ofcb, static_cast<uint32_t>(of_mod2sparse_col(e)));
    if (tab[esi] != nullptr) {
      sum->add(tab[esi]);
      of_mod2sparse_delete(m, e);
      --ofcb->tab_nb_enc_symbols_per_equ[row];
      if (esi >= k) --ofcb->tab_nb_equ_for_repair[esi - k];
    }
    e = next;
  }
}

// Stores symbol esi and substitutes it into its equations; the rows left with
// one entry form a new list on top of w. A repair symbol is copied unless
// `adopt` hands over a buffer of ours.
of_status_t substitute(of_linear_binary_code_cb *ofcb, const void *symbol, uint32_t esi, bool adopt,
                       work &w) {
  void **tab = ofcb->encoding_symbols_tab;
  if (tab[esi] != nullptr) return OF_STATUS_OK;
  const uint32_t k = ofcb->nb_source_symbols;
  const uint32_t len = ofcb->encoding_symbol_length;
  const bool repair = esi >= k;
  if (repair) {
    void *copy = const_cast<void *>(symbol);
    if (!adopt) {
      copy = of_malloc(of_linear_binary_code_alloc_size(ofcb));
      if (copy == nullptr) return OF_STATUS_FATAL_ERROR;
      std::memcpy(copy, symbol, len);
    }
    tab[esi] = copy;
    symbol = copy;
    ++ofcb->nb_repair_symbol_ready;
  } else {
    tab[esi] = const_cast<void *>(symbol);
    ++ofcb->nb_source_symbol_ready;
    if (of_linear_binary_code_is_complete(ofcb)) return OF_STATUS_OK;
  }
  of_mod2sparse *m = ofcb->pchk_matrix;
  const uint32_t begin = w.rows.size();
  of_status_t status = OF_STATUS_OK;
  for (of_mod2entry *e = of_mod2sparse_first_in_col(m, of_linear_binary_code_col_of_esi(ofcb, esi));
       !of_mod2sparse_at_end(e);) {
    of_mod2entry *next = of_mod2sparse_next_in_col(e);
    const auto row = static_cast<uint32_t>(of_mod2sparse_row(e));
    void *&constant = ofcb->tab_const_term_of_equ[row];
    --ofcb->tab_nb_unknown_symbols[row];
    // An equation gets a constant term only once it is down to one unknown;
    // until then the entries of its known symbols wait in the matrix.
    const bool fresh = constant == nullptr && ofcb->tab_nb_unknown_symbols[row] == 1;
    if (fresh) {
      constant = of_malloc(of_linear_binary_code_alloc_size(ofcb));
      if (constant == nullptr) {
        status = OF_STATUS_FATAL_ERROR;
        break;
      }
    }
    if (constant != nullptr) {
      // All the symbols folded in at once, in one pass over the constant.
      of_symbol_sum sum(constant, len, !fresh);
      if (ofcb->tab_nb_enc_symbols_per_equ[row] > 1) sum.add(symbol);
      of_mod2sparse_delete(m, e);
      --ofcb->tab_nb_enc_symbols_per_equ[row];
      if (repair) --ofcb->tab_nb_equ_for_repair[esi - k];
      fold_known_symbols(ofcb, row, &sum);
      sum.finish();
    }
    if (ofcb->tab_nb_enc_symbols_per_equ[row] == 1 && !w.rows.push(row)) {
      status = OF_STATUS_FATAL_ERROR;
      break;
    }
    e = next;
  }
  // Rows already listed are consistent and still worth processing.
  if (w.rows.size() > begin && !w.lists.push({begin, w.rows.size()})) {
    w.rows.truncate(begin);
    status = OF_STATUS_FATAL_ERROR;
  }
  return status;
}

// Takes the symbol that row's last entry stands for and substitutes it.
of_status_t recover_from_row(of_linear_binary_code_cb *ofcb, uint32_t row, work &w) {
  of_mod2sparse *m = ofcb->pchk_matrix;
  const uint32_t k = ofcb->nb_source_symbols;
  const uint32_t len = ofcb->encoding_symbol_length;
  of_mod2entry *e = of_mod2sparse_first_in_row(m, row);
  if (of_mod2sparse_at_end(e)) return OF_STATUS_OK;
  const uint32_t esi =
      of_linear_binary_code_esi_of_col(ofcb, static_cast<uint32_t>(of_mod2sparse_col(e)));
  void *value = ofcb->tab_const_term_of_equ[row];
  ofcb->tab_const_term_of_equ[row] = nullptr;
  --ofcb->tab_nb_enc_symbols_per_equ[row];
  if (esi >= k) --ofcb->tab_nb_equ_for_repair[esi - k];
  of_mod2sparse_delete(m, e);
  // An equation whose last entry is already known (or that never received a
  // constant term) states nothing new.
  if (value == nullptr || ofcb->encoding_symbols_tab[esi] != nullptr) {
    of_free(value);
    return OF_STATUS_OK;
  }
  if (esi >= k) {
    of_linear_binary_code_announce_repair_symbol(ofcb, value, esi);
    // Our own buffer: it moves into the table instead of being copied.
    return substitute(ofcb, value, esi, true, w);
  }
  if (ofcb->decoded_source_symbol_callback != nullptr) {
    void *out = ofcb->decoded_source_symbol_callback(ofcb->context_4_callback, len, esi);
    if (out != nullptr) {
      std::memcpy(out, value, len);
      of_free(value);
      value = out;
    }
  }
  return substitute(ofcb, value, esi, false, w);
}

}  // namespace

of_status_t of_linear_binary_code_decode_with_new_symbol(of_linear_binary_code_cb *ofcb,
                                                         const void *new_symbol,
                                                         uint32_t new_symbol_esi) {
  if (ofcb->pchk_matrix == nullptr || ofcb->encoding_symbols_tab == nullptr ||
      ofcb->tab_const_term_of_equ == nullptr || new_symbol_esi >= ofcb->nb_total_symbols)
    return OF_STATUS_ERROR;
  work w;
  of_status_t status = substitute(ofcb, new_symbol, new_symbol_esi, false, w);
  while (status == OF_STATUS_OK && !w.lists.empty()) {
    pending_rows &list = w.lists.top();
    if (list.next == list.begin) {
      w.rows.truncate(list.begin);
      w.lists.pop();
      continue;
    }
    if (of_linear_binary_code_is_complete(ofcb)) break;
    const uint32_t row = w.rows[--list.next];
    // Work done since the row was listed may have used it up.
    if (ofcb->tab_nb_enc_symbols_per_equ[row] != 1) continue;
    status = recover_from_row(ofcb, row, w);
  }
  return status;
}
