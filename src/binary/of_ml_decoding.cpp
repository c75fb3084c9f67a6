#include "binary/of_ml_decoding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#include "binary/of_array.h"
#include "binary/of_inactivation.h"
#include "binary/of_stack.h"
#include "binary/of_symbol.h"
#include "session/diag.h"
#include "session/verbosity.h"

namespace {

constexpr uint32_t kAllSubstituted = UINT32_MAX;
constexpr uint32_t kNotLeft = UINT32_MAX;

// A column whose entries are being substituted: the next one to visit.
struct column_walk {
  uint32_t col;
  uint32_t next;  // position in the column list
};

// The equations as they stand when this stage starts, and the substitution of
// the known symbols into them, followed on index arrays instead of the
// linked matrix: an entry counts as deleted once its column's walk has passed
// its row, or once its row has yielded a symbol. A value is computed only
// when an equation yields a symbol, or for the equations that elimination
// uses, from the row as it stood: its constant term from iterative decoding
// and the known symbols whose entries it still had.
class ml_stage {
 public:
  explicit ml_stage(of_linear_binary_code_cb *ofcb)
      : cb_(ofcb),
        k_(ofcb->nb_source_symbols),
        r_(ofcb->nb_repair_symbols),
        n_(ofcb->nb_total_symbols),
        len_(ofcb->encoding_symbol_length) {}

  of_status_t run();

 private:
  uint32_t esi_of(uint32_t col) const { return of_linear_binary_code_esi_of_col(cb_, col); }
  bool known(uint32_t col) const { return cb_->encoding_symbols_tab[esi_of(col)] != nullptr; }
  bool present(uint32_t row, uint32_t col) const { return left_[row] != 0 && row >= walked_[col]; }

  bool take_snapshot();
  of_status_t substitute_known_symbols();
  bool nothing_to_substitute(uint32_t esi);
  of_status_t substitute(uint32_t esi);
  of_status_t recover(uint32_t row, uint32_t col, of_stack<column_walk> &walks);
  void add_known_terms(uint32_t row, of_symbol_sum *sum) const;
  of_status_t write_back();
  void delete_entries(uint32_t row, of_symbol_sum *sum);
  bool left_in_some_row(uint32_t col) const;
  of_status_t eliminate(uint32_t nb_rows, const uint32_t *local, uint32_t nb_cols);
  static void rhs_of(void *context, uint32_t row, of_symbol_sum *sum);

  of_linear_binary_code_cb *cb_;
  uint32_t k_, r_, n_, len_;
  // Rows and columns of the matrix when this stage started; rows_ reads the
  // rows once they are filled in.
  of_array<uint32_t> start_, cols_;
  of_mod2rows rows_{};
  of_array<uint32_t> col_start_, col_rows_;
  of_array<uint32_t> left_;    // per row: entries not yet deleted
  of_array<uint32_t> walked_;  // per column: its entries above this row are deleted
  // The equations that elimination works on: original row of each.
  of_array<uint32_t> system_rows_;
};

bool ml_stage::take_snapshot() {
  of_mod2sparse *m = cb_->pchk_matrix;
  const of_mod2rows &built = cb_->pchk_rows;
  if (!start_.allocate(r_ + size_t{1}) || !left_.allocate(r_) || !walked_.allocate_zeroed(n_) ||
      !col_start_.allocate(n_ + size_t{1}))
    return false;
  // Entries are only ever deleted, so a row with as many as it was built
  // with is still as built.
  auto intact = [&](uint32_t i) {
    return cb_->tab_nb_enc_symbols_per_equ[i] == built.row_weight(i);
  };
  uint32_t count = 0;
  for (uint32_t i = 0; i < r_; ++i) {
    start_[i] = count;
    count += intact(i) ? built.row_weight(i) : of_mod2sparse_weight_row(m, i);
  }
  start_[r_] = count;
  if (!cols_.allocate(count) || !col_rows_.allocate(count)) return false;
  rows_ = {r_, start_.get(), cols_.get()};
  for (uint32_t i = 0; i < r_; ++i) {
    if (intact(i)) {
      const std::span<const uint32_t> row = built.row(i);
      std::memcpy(cols_.get() + start_[i], row.data(), row.size_bytes());
    } else {
      uint32_t *out = cols_.get() + start_[i];
      for (of_mod2entry *e = of_mod2sparse_first_in_row(m, i); !of_mod2sparse_at_end(e);
           e = of_mod2sparse_next_in_row(e))
        *out++ = static_cast<uint32_t>(of_mod2sparse_col(e));
    }
    left_[i] = rows_.row_weight(i);
  }
  of_mod2rows_to_columns(&rows_, n_, col_start_.get(), col_rows_.get());
  return true;
}

bool ml_stage::nothing_to_substitute(uint32_t esi) {
  if (esi < k_ && of_linear_binary_code_is_complete(cb_)) return true;
  return !left_in_some_row(of_linear_binary_code_col_of_esi(cb_, esi));
}

void ml_stage::add_known_terms(uint32_t row, of_symbol_sum *sum) const {
  if (cb_->tab_const_term_of_equ[row] != nullptr) sum->add(cb_->tab_const_term_of_equ[row]);
  for (const uint32_t c : rows_.row(row)) {
    const void *symbol = cb_->encoding_symbols_tab[esi_of(c)];
    if (symbol != nullptr) sum->add(symbol);
  }
}

// Row `row` is down to the entry of unknown column `col`: the symbol is the
// sum of everything else the row held, all of it known.
of_status_t ml_stage::recover(uint32_t row, uint32_t col, of_stack<column_walk> &walks) {
  const uint32_t esi = esi_of(col);
  void *buf;
  if (esi < k_ && cb_->decoded_source_symbol_callback != nullptr)
    buf = cb_->decoded_source_symbol_callback(cb_->context_4_callback, len_, esi);
  else
    buf = of_malloc(of_linear_binary_code_alloc_size(cb_));
  if (buf == nullptr) return OF_STATUS_FATAL_ERROR;
  of_symbol_sum sum(buf, len_, false);
  add_known_terms(row, &sum);
  sum.finish();
  // A recovered repair symbol is always ours (slots k .. n-1 are freed with
  // the codec), the application getting a copy of it.
  if (esi >= k_) of_linear_binary_code_announce_repair_symbol(cb_, buf, esi);
  cb_->encoding_symbols_tab[esi] = buf;
  of_free(cb_->tab_const_term_of_equ[row]);
  cb_->tab_const_term_of_equ[row] = nullptr;
  left_[row] = 0;
  if (esi < k_)
    ++cb_->nb_source_symbol_ready;
  else
    ++cb_->nb_repair_symbol_ready;
  if (!nothing_to_substitute(esi) && !walks.push({col, col_start_[col]}))
    return OF_STATUS_FATAL_ERROR;
  return OF_STATUS_OK;
}

// Substitutes known symbol esi into every equation that still holds it,
// recovering each symbol left alone in an equation and substituting it in
// turn, depth first, with the pending walks on the heap.
of_status_t ml_stage::substitute(uint32_t esi) {
  if (nothing_to_substitute(esi)) return OF_STATUS_OK;
  const uint32_t first = of_linear_binary_code_col_of_esi(cb_, esi);
  of_stack<column_walk> walks;
  if (!walks.push({first, col_start_[first]})) return OF_STATUS_FATAL_ERROR;
  while (!walks.empty()) {
    column_walk &walk = walks.top();
    const uint32_t col = walk.col;
    if (walk.next == col_start_[col + 1]) {
      walked_[col] = kAllSubstituted;
      walks.pop();
      continue;
    }
    const uint32_t row = col_rows_[walk.next++];
    // A row that has yielded its symbol holds no entry any more.
    if (left_[row] == 0) continue;
    --left_[row];
    walked_[col] = row + 1;
    if (left_[row] != 1) continue;
    uint32_t last = col;
    for (const uint32_t c : rows_.row(row))
      if (present(row, c)) last = c;
    // A known symbol still in the row is substituted in its own turn.
    if (known(last)) continue;
    const of_status_t status = recover(row, last, walks);
    if (status != OF_STATUS_OK) return status;
  }
  return OF_STATUS_OK;
}

of_status_t ml_stage::substitute_known_symbols() {
  void **tab = cb_->encoding_symbols_tab;
  for (uint32_t esi = 0; esi < k_; ++esi) {
    if (tab[esi] == nullptr) continue;
    const of_status_t status = substitute(esi);
    if (status != OF_STATUS_OK) return status;
  }
  // Repair symbols in a random order, so that no part of the staircase is
  // always favoured.
  of_array<uint32_t> order;
  if (!order.allocate(r_)) return OF_STATUS_FATAL_ERROR;
  for (uint32_t i = 0; i < r_; ++i) order[i] = i;
  for (uint32_t i = 0; i < r_; ++i)
    std::swap(order[i], order[static_cast<uint32_t>(std::rand()) % r_]);
  for (uint32_t i = 0; i < r_; ++i) {
    if (tab[k_ + order[i]] == nullptr) continue;
    const of_status_t status = substitute(k_ + order[i]);
    if (status != OF_STATUS_OK) return status;
  }
  return OF_STATUS_OK;
}

// Brings the linked matrix and the equation bookkeeping to what the
// substitution did, so that iterative decoding can resume on them: deleted
// entries go, each row that keeps entries adds the symbols of its deleted
// ones to its constant term, and both per-row counters equal the entries
// left.
of_status_t ml_stage::write_back() {
  for (uint32_t i = 0; i < r_; ++i) {
    void *&constant = cb_->tab_const_term_of_equ[i];
    cb_->tab_nb_enc_symbols_per_equ[i] = static_cast<uint16_t>(left_[i]);
    cb_->tab_nb_unknown_symbols[i] = static_cast<uint16_t>(left_[i]);
    if (left_[i] == 0) {
      of_free(constant);
      constant = nullptr;
      delete_entries(i, nullptr);
      continue;
    }
    if (left_[i] == rows_.row_weight(i)) continue;
    const bool accumulate = constant != nullptr;
    if (constant == nullptr) {
      constant = of_malloc(of_linear_binary_code_alloc_size(cb_));
      if (constant == nullptr) return OF_STATUS_FATAL_ERROR;
    }
    of_symbol_sum sum(constant, len_, accumulate);
    delete_entries(i, &sum);
    sum.finish();
  }
  return OF_STATUS_OK;
}

// Deletes the entries of row `row` that the substitution has deleted, adding
// their symbols to `sum` when one is given.
void ml_stage::delete_entries(uint32_t row, of_symbol_sum *sum) {
  of_mod2sparse *m = cb_->pchk_matrix;
  for (of_mod2entry *e = of_mod2sparse_first_in_row(m, row); !of_mod2sparse_at_end(e);) {
    of_mod2entry *next = of_mod2sparse_next_in_row(e);
    const auto col = static_cast<uint32_t>(of_mod2sparse_col(e));
    if (!present(row, col)) {
      if (sum != nullptr) sum->add(cb_->encoding_symbols_tab[esi_of(col)]);
      if (col < r_) --cb_->tab_nb_equ_for_repair[col];
      of_mod2sparse_delete(m, e);
    }
    e = next;
  }
}

void ml_stage::rhs_of(void *context, uint32_t row, of_symbol_sum *sum) {
  const auto *self = static_cast<const ml_stage *>(context);
  self->add_known_terms(self->system_rows_[row], sum);
}

bool ml_stage::left_in_some_row(uint32_t col) const {
  for (uint32_t p = col_start_[col]; p < col_start_[col + 1]; ++p)
    if (present(col_rows_[p], col)) return true;
  return false;
}

// Solves the equations left (the rows that still have entries, in ascending
// order) over the unknown symbols they hold (in ascending order of column).
of_status_t ml_stage::eliminate(uint32_t nb_rows, const uint32_t *local, uint32_t nb_cols) {
  of_array<uint32_t> system_start, system_cols;
  of_array<void *> values;
  of_array<uint8_t> wanted;
  if (!system_rows_.allocate(nb_rows) || !system_start.allocate(nb_rows + size_t{1}) ||
      !system_cols.allocate(start_[r_]) || !values.allocate_zeroed(nb_cols) ||
      !wanted.allocate(nb_cols))
    return OF_STATUS_FATAL_ERROR;
  // Repair symbols are not kept.
  for (uint32_t c = 0; c < n_; ++c)
    if (local[c] != kNotLeft) wanted[local[c]] = c >= r_;
  uint32_t rows = 0, entries = 0;
  for (uint32_t i = 0; i < r_; ++i) {
    if (left_[i] == 0) continue;
    system_rows_[rows] = i;
    system_start[rows++] = entries;
    for (const uint32_t c : rows_.row(i))
      if (present(i, c)) system_cols[entries++] = local[c];
  }
  system_start[rows] = entries;
  const of_mod2rows system{rows, system_start.get(), system_cols.get()};
  const of_status_t status = of_inactivation_solve(&system, nb_cols, rhs_of, this, len_,
                                                   wanted.get(), values.get(), nullptr);
  if (status != OF_STATUS_OK) return status;
  for (uint32_t c = r_; c < n_; ++c) {
    if (local[c] == kNotLeft) continue;
    cb_->encoding_symbols_tab[esi_of(c)] = values[local[c]];
    ++cb_->nb_source_symbol_ready;
  }
  return of_linear_binary_code_is_complete(cb_) ? OF_STATUS_OK : OF_STATUS_FAILURE;
}

of_status_t ml_stage::run() {
  if (!take_snapshot()) return OF_STATUS_FATAL_ERROR;
  of_status_t status = substitute_known_symbols();
  if (status != OF_STATUS_OK) return status;
  if (of_linear_binary_code_is_complete(cb_)) return write_back();
  // What is left: the rows that still have entries, over the columns still
  // in them, all of unknown symbols once every known one is substituted.
  of_array<uint32_t> local;
  if (!local.allocate(n_)) return OF_STATUS_FATAL_ERROR;
  uint32_t rows = 0, cols = 0;
  for (uint32_t i = 0; i < r_; ++i) rows += left_[i] != 0;
  for (uint32_t c = 0; c < n_; ++c) local[c] = left_in_some_row(c) ? cols++ : kNotLeft;
  cb_->remain_rows = rows;
  cb_->remain_cols = cols;
  const char *why = nullptr;
  if (cols == 0)
    why = "%s: Failure, initial matrix is now empty, ofcb->remain_cols==0\n";
  else if (rows < cols)
    why = "%s: Failure, fewer rows than columns, ofcb->remain_rows (%d) < ofcb->remain_cols (%d)\n";
  if (why != nullptr) {
    if (of_verbosity_level() != 0) {
      of_diag(stdout, why, "of_linear_binary_code_create_simplified_linear_system",
              static_cast<int>(rows), static_cast<int>(cols));
    }
    status = write_back();
    return status == OF_STATUS_OK ? OF_STATUS_FAILURE : status;
  }
  // Elimination consumes the equations.
  of_linear_binary_code_release_matrix(cb_);
  return eliminate(rows, local.get(), cols);
}

}  // namespace

of_status_t of_linear_binary_code_finish_decoding_with_ml(of_linear_binary_code_cb *ofcb) {
  if (ofcb->pchk_matrix == nullptr || ofcb->pchk_rows.start == nullptr ||
      ofcb->encoding_symbols_tab == nullptr || ofcb->tab_const_term_of_equ == nullptr ||
      ofcb->tab_nb_enc_symbols_per_equ == nullptr || ofcb->tab_nb_unknown_symbols == nullptr ||
      ofcb->tab_nb_equ_for_repair == nullptr)
    return OF_STATUS_ERROR;
  ml_stage stage(ofcb);
  const of_status_t status = stage.run();
  // After a fatal error nothing more may be fed: the equations may be part
  // way through the substitution.
  if (status == OF_STATUS_FATAL_ERROR) of_linear_binary_code_release_matrix(ofcb);
  return status;
}
