#include "binary/of_inactivation.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "binary/of_array.h"
#include "binary/of_stack.h"

namespace {

// ---------------------------------------------------------------------------
// Bit-packed rows: 64 columns per word, every row a whole number of blocks
// of 8 words, so that a row operation is a loop over whole blocks that
// compilers turn into vector XORs.

constexpr uint32_t kBlockWords = 8;

uint32_t words_for(uint32_t cols) {
  return (cols + 64 * kBlockWords - 1) / (64 * kBlockWords) * kBlockWords;
}

void xor_words(uint64_t *__restrict dst, const uint64_t *__restrict src, uint32_t n_words) {
  for (uint32_t w = 0; w < n_words; w += kBlockWords)
    for (uint32_t j = 0; j < kBlockWords; ++j) dst[w + j] ^= src[w + j];
}

bool test_bit(const uint64_t *row, uint32_t c) { return (row[c >> 6] >> (c & 63)) & 1; }
void flip_bit(uint64_t *row, uint32_t c) { row[c >> 6] ^= uint64_t{1} << (c & 63); }

bool is_zero(const uint64_t *row, uint32_t n_words) {
  uint64_t any = 0;
  for (uint32_t w = 0; w < n_words; ++w) any |= row[w];
  return any == 0;
}

struct bit_matrix {
  of_array<uint64_t> bits;
  uint32_t n_words = 0;
  bool allocate(uint32_t n_rows, uint32_t n_cols) {
    n_words = words_for(n_cols);
    return bits.allocate_zeroed(size_t{n_rows} * n_words);
  }
  uint64_t *row(uint32_t i) { return bits.get() + size_t{i} * n_words; }
};

// ---------------------------------------------------------------------------
// Choosing the pivots.

enum : uint8_t { kActive, kSolved, kInactive };

struct candidate {
  uint64_t key;  // equations of two unsolved unknowns holding it, then equations
  uint32_t col;
  // Largest key first, the lowest column among equals.
  bool operator<(const candidate &o) const { return key != o.key ? key < o.key : col > o.col; }
};

class pivot_search {
 public:
  pivot_search(const of_mod2rows *rows, uint32_t n_cols) : rows_(rows), n_cols_(n_cols) {}

  // Orders every unknown: pivots in the order peeling solved them, inactive
  // ones apart. False when memory is short.
  bool run();

  uint32_t nb_pivots() const { return nb_pivots_; }
  uint32_t nb_inactive() const { return nb_inactive_; }
  uint32_t pivot_row(uint32_t i) const { return pivot_row_[i]; }
  uint32_t pivot_col(uint32_t i) const { return pivot_col_[i]; }
  uint32_t inactive_col(uint32_t a) const { return inactive_col_[a]; }
  uint8_t state(uint32_t col) const { return state_[col]; }
  // A pivot's number, or an inactive unknown's.
  uint32_t order(uint32_t col) const { return order_[col]; }
  bool is_pivot_row(uint32_t row) const { return used_[row] != 0; }

 private:
  const uint32_t *row_begin(uint32_t i) const { return rows_->cols + rows_->start[i]; }
  const uint32_t *row_end(uint32_t i) const { return rows_->cols + rows_->start[i + 1]; }
  uint64_t key_of(uint32_t col) const {
    return (uint64_t{pairs_[col]} << 32) | (col_start_[col + 1] - col_start_[col]);
  }
  bool rank_again(uint32_t col) { return heap_push({key_of(col), col}); }
  bool heap_push(candidate c) {
    if (!heap_.push(c)) return false;
    std::push_heap(heap_.data(), heap_.data() + heap_.size());
    return true;
  }
  bool take_pivot(uint32_t row);
  bool set_aside();
  bool remove(uint32_t col);

  const of_mod2rows *rows_;
  uint32_t n_cols_;
  of_array<uint32_t> col_start_, col_rows_;
  of_array<uint32_t> degree_;  // per equation: unknowns not yet solved or set aside
  of_array<uint8_t> used_;     // per equation: a pivot
  of_array<uint8_t> state_;
  of_array<uint32_t> order_;
  of_array<uint32_t> pairs_;  // per unknown: non-pivot equations of degree 2 holding it
  of_array<uint32_t> pivot_row_, pivot_col_, inactive_col_;
  uint32_t nb_pivots_ = 0, nb_inactive_ = 0;
  of_stack<uint32_t> degree_one_;
  of_stack<candidate> heap_;
};

bool pivot_search::run() {
  const uint32_t n_rows = rows_->n_rows;
  if (!col_start_.allocate_zeroed(n_cols_ + size_t{1}) ||
      !col_rows_.allocate(rows_->start[n_rows]) || !degree_.allocate(n_rows) ||
      !used_.allocate_zeroed(n_rows) || !state_.allocate_zeroed(n_cols_) ||
      !order_.allocate(n_cols_) || !pairs_.allocate_zeroed(n_cols_) ||
      !pivot_row_.allocate(n_cols_) || !pivot_col_.allocate(n_cols_) ||
      !inactive_col_.allocate(n_cols_))
    return false;
  // Column lists, rows ascending.
  for (uint32_t e = 0; e < rows_->start[n_rows]; ++e) ++col_start_[rows_->cols[e] + 1];
  for (uint32_t c = 0; c < n_cols_; ++c) col_start_[c + 1] += col_start_[c];
  {
    of_array<uint32_t> fill;
    if (!fill.allocate(n_cols_)) return false;
    std::memcpy(fill.get(), col_start_.get(), sizeof(uint32_t) * n_cols_);
    for (uint32_t i = 0; i < n_rows; ++i)
      for (const uint32_t *c = row_begin(i); c != row_end(i); ++c) col_rows_[fill[*c]++] = i;
  }
  for (uint32_t i = 0; i < n_rows; ++i) {
    degree_[i] = static_cast<uint32_t>(row_end(i) - row_begin(i));
    if (degree_[i] == 1 && !degree_one_.push(i)) return false;
    if (degree_[i] == 2)
      for (const uint32_t *c = row_begin(i); c != row_end(i); ++c) ++pairs_[*c];
  }
  for (uint32_t c = 0; c < n_cols_; ++c)
    if (!rank_again(c)) return false;
  while (nb_pivots_ + nb_inactive_ < n_cols_) {
    if (degree_one_.empty()) {
      if (!set_aside()) return false;
      continue;
    }
    const uint32_t row = degree_one_.top();
    degree_one_.pop();
    // Solving other unknowns may have left it with none.
    if (used_[row] == 0 && degree_[row] == 1 && !take_pivot(row)) return false;
  }
  return true;
}

bool pivot_search::take_pivot(uint32_t row) {
  uint32_t col = 0;
  for (const uint32_t *c = row_begin(row); c != row_end(row); ++c)
    if (state_[*c] == kActive) col = *c;
  used_[row] = 1;
  pivot_row_[nb_pivots_] = row;
  pivot_col_[nb_pivots_] = col;
  state_[col] = kSolved;
  order_[col] = nb_pivots_++;
  return remove(col);
}

bool pivot_search::set_aside() {
  uint32_t col = n_cols_;
  while (!heap_.empty()) {
    const candidate best = heap_[0];
    std::pop_heap(heap_.data(), heap_.data() + heap_.size());
    heap_.pop();
    // Entries left behind by a later change of key are skipped.
    if (state_[best.col] == kActive && best.key == key_of(best.col)) {
      col = best.col;
      break;
    }
  }
  // Every unsolved unknown keeps an entry of its current key.
  if (col == n_cols_) return false;
  state_[col] = kInactive;
  order_[col] = nb_inactive_;
  inactive_col_[nb_inactive_++] = col;
  return remove(col);
}

// Takes an unknown that has just been solved or set aside out of the degrees
// of the equations that hold it.
bool pivot_search::remove(uint32_t col) {
  for (uint32_t p = col_start_[col]; p < col_start_[col + 1]; ++p) {
    const uint32_t row = col_rows_[p];
    if (used_[row] != 0) continue;
    const uint32_t degree = degree_[row]--;
    if (degree != 2 && degree != 3) continue;
    // The row leaves degree 2 (its other unknown loses a pair) or enters it
    // (its two unknowns gain one).
    for (const uint32_t *c = row_begin(row); c != row_end(row); ++c) {
      if (*c == col || state_[*c] != kActive) continue;
      pairs_[*c] = degree == 2 ? pairs_[*c] - 1 : pairs_[*c] + 1;
      if (!rank_again(*c)) return false;
    }
    if (degree == 2 && !degree_one_.push(row)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The symbols.

// Frees the first `count` buffers of `values` and sets them to none.
void free_symbols(void **values, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    of_free(values[i]);
    values[i] = nullptr;
  }
}

// Buffers of ours that go when the solution is done, whatever its outcome.
struct scratch_symbols {
  of_array<void *> items;
  uint32_t count = 0;
  bool allocate(uint32_t n) {
    count = n;
    if (!items.allocate_zeroed(n)) {
      count = 0;
      return false;
    }
    return true;
  }
  ~scratch_symbols() { free_symbols(items.get(), count); }
};

class solver {
 public:
  solver(const of_mod2rows *rows, uint32_t n_cols, of_rhs_fn rhs, void *context,
         uint32_t symbol_size, void **values)
      : rows_(rows),
        n_cols_(n_cols),
        rhs_(rhs),
        context_(context),
        len_(symbol_size),
        values_(values),
        search_(rows, n_cols) {}

  of_status_t run(of_inactivation_stats *stats);

 private:
  const uint32_t *row_begin(uint32_t i) const { return rows_->cols + rows_->start[i]; }
  const uint32_t *row_end(uint32_t i) const { return rows_->cols + rows_->start[i + 1]; }
  // Row `row` of the system with its pivots' unknowns replaced by their
  // inactive parts: the bits of the inactive unknowns it then sums.
  void inactive_part(uint32_t row, uint32_t skip_col, uint64_t *out);
  of_status_t choose_dense_rows();
  bool invert_dense_system();
  bool compute_symbols();
  void *new_symbol() { return of_malloc(len_ != 0 ? len_ : 1); }

  const of_mod2rows *rows_;
  uint32_t n_cols_;
  of_rhs_fn rhs_;
  void *context_;
  uint32_t len_;
  void **values_;
  pivot_search search_;
  bit_matrix pivot_parts_;         // per pivot, its unknown's inactive part
  of_array<uint32_t> dense_rows_;  // the equations of the dense system
  bit_matrix inverse_;             // of the dense system, t rows of t bits
};

void solver::inactive_part(uint32_t row, uint32_t skip_col, uint64_t *out) {
  for (const uint32_t *c = row_begin(row); c != row_end(row); ++c) {
    if (*c == skip_col) continue;
    if (search_.state(*c) == kInactive)
      flip_bit(out, search_.order(*c));
    else
      xor_words(out, pivot_parts_.row(search_.order(*c)), pivot_parts_.n_words);
  }
}

// Picks t equations among those that were no pivot whose inactive parts are
// independent, by forward elimination on those parts; FAILURE when there are
// not t of them.
of_status_t solver::choose_dense_rows() {
  const uint32_t t = search_.nb_inactive();
  const uint32_t n_rows = rows_->n_rows;
  const uint32_t spare = n_rows - search_.nb_pivots();
  if (spare < t) return OF_STATUS_FAILURE;
  bit_matrix parts;
  of_array<uint32_t> origin, slot;
  if (!parts.allocate(spare, t) || !origin.allocate(spare) || !slot.allocate(spare) ||
      !dense_rows_.allocate(t))
    return OF_STATUS_FATAL_ERROR;
  uint32_t count = 0;
  for (uint32_t row = 0; row < n_rows; ++row) {
    if (search_.is_pivot_row(row)) continue;
    inactive_part(row, n_cols_, parts.row(count));
    origin[count] = row;
    slot[count] = count;
    ++count;
  }
  // slot[0 .. a-1] are the rows already chosen, in column order.
  for (uint32_t a = 0; a < t; ++a) {
    uint32_t p = a;
    while (p < spare && !test_bit(parts.row(slot[p]), a)) ++p;
    if (p == spare) return OF_STATUS_FAILURE;
    std::swap(slot[a], slot[p]);
    const uint64_t *pivot = parts.row(slot[a]);
    // Words of the blocks before column a's are zero in every row left.
    const uint32_t from = a / (64 * kBlockWords) * kBlockWords;
    for (uint32_t q = a + 1; q < spare; ++q) {
      uint64_t *target = parts.row(slot[q]);
      if (test_bit(target, a)) xor_words(target + from, pivot + from, parts.n_words - from);
    }
    dense_rows_[a] = origin[slot[a]];
  }
  return OF_STATUS_OK;
}

// Gauss-Jordan on [dense system | identity]; the system is known to be
// invertible. inverse_ row j then gives inactive unknown j as a sum of the
// dense equations' right-hand sides.
bool solver::invert_dense_system() {
  const uint32_t t = search_.nb_inactive();
  bit_matrix both;
  of_array<uint32_t> slot;
  if (!both.allocate(t, 2 * t) || !slot.allocate(t) || !inverse_.allocate(t, t)) return false;
  for (uint32_t a = 0; a < t; ++a) {
    inactive_part(dense_rows_[a], n_cols_, both.row(a));
    flip_bit(both.row(a), t + a);
    slot[a] = a;
  }
  for (uint32_t a = 0; a < t; ++a) {
    uint32_t p = a;
    while (!test_bit(both.row(slot[p]), a)) ++p;
    std::swap(slot[a], slot[p]);
    const uint64_t *pivot = both.row(slot[a]);
    for (uint32_t q = 0; q < t; ++q) {
      uint64_t *target = both.row(slot[q]);
      if (q != a && test_bit(target, a)) xor_words(target, pivot, both.n_words);
    }
  }
  for (uint32_t j = 0; j < t; ++j) {
    const uint64_t *row = both.row(slot[j]);
    uint64_t *out = inverse_.row(j);
    for (uint32_t s = 0; s < t; ++s)
      if (test_bit(row, t + s)) flip_bit(out, s);
  }
  return true;
}

bool solver::compute_symbols() {
  const uint32_t m = search_.nb_pivots();
  const uint32_t t = search_.nb_inactive();
  // Each pivot's unknown without its inactive part, from its equation's
  // right-hand side and the pivots solved before it.
  for (uint32_t i = 0; i < m; ++i) {
    const uint32_t col = search_.pivot_col(i);
    const uint32_t row = search_.pivot_row(i);
    values_[col] = new_symbol();
    if (values_[col] == nullptr) return false;
    of_symbol_sum sum(values_[col], len_, false);
    rhs_(context_, row, &sum);
    for (const uint32_t *c = row_begin(row); c != row_end(row); ++c)
      if (*c != col && search_.state(*c) == kSolved) sum.add(values_[*c]);
    sum.finish();
  }
  if (t == 0) return true;
  // The dense system's right-hand sides, likewise.
  scratch_symbols dense_rhs;
  if (!dense_rhs.allocate(t)) return false;
  for (uint32_t a = 0; a < t; ++a) {
    const uint32_t row = dense_rows_[a];
    dense_rhs.items[a] = new_symbol();
    if (dense_rhs.items[a] == nullptr) return false;
    of_symbol_sum sum(dense_rhs.items[a], len_, false);
    rhs_(context_, row, &sum);
    for (const uint32_t *c = row_begin(row); c != row_end(row); ++c)
      if (search_.state(*c) == kSolved) sum.add(values_[*c]);
    sum.finish();
  }
  for (uint32_t j = 0; j < t; ++j) {
    const uint32_t col = search_.inactive_col(j);
    values_[col] = new_symbol();
    if (values_[col] == nullptr) return false;
    of_symbol_sum sum(values_[col], len_, false);
    const uint64_t *row = inverse_.row(j);
    for (uint32_t s = 0; s < t; ++s)
      if (test_bit(row, s)) sum.add(dense_rhs.items[s]);
    sum.finish();
  }
  // Each pivot's inactive part, from the inactive unknowns and the parts of
  // the pivots solved before it, added to its unknown. A pivot whose part is
  // zero needs none.
  scratch_symbols parts;
  if (!parts.allocate(m)) return false;
  for (uint32_t i = 0; i < m; ++i) {
    if (is_zero(pivot_parts_.row(i), pivot_parts_.n_words)) continue;
    const uint32_t col = search_.pivot_col(i);
    const uint32_t row = search_.pivot_row(i);
    parts.items[i] = new_symbol();
    if (parts.items[i] == nullptr) return false;
    of_symbol_sum sum(parts.items[i], len_, false);
    for (const uint32_t *c = row_begin(row); c != row_end(row); ++c) {
      if (*c == col) continue;
      if (search_.state(*c) == kInactive)
        sum.add(values_[*c]);
      else if (parts.items[search_.order(*c)] != nullptr)
        sum.add(parts.items[search_.order(*c)]);
    }
    sum.finish();
    of_add_to_symbol(values_[col], parts.items[i], len_);
  }
  return true;
}

of_status_t solver::run(of_inactivation_stats *stats) {
  // Fewer equations than unknowns cannot determine them all.
  if (rows_->n_rows < n_cols_) {
    if (stats != nullptr) *stats = {0, 0};
    return OF_STATUS_FAILURE;
  }
  if (!search_.run()) return OF_STATUS_FATAL_ERROR;
  if (stats != nullptr) *stats = {search_.nb_pivots(), search_.nb_inactive()};
  const uint32_t m = search_.nb_pivots();
  if (!pivot_parts_.allocate(m, search_.nb_inactive())) return OF_STATUS_FATAL_ERROR;
  // A pivot's other unknowns are inactive or solved before it.
  for (uint32_t i = 0; i < m; ++i)
    inactive_part(search_.pivot_row(i), search_.pivot_col(i), pivot_parts_.row(i));
  const of_status_t status = choose_dense_rows();
  if (status != OF_STATUS_OK) return status;
  if (!invert_dense_system() || !compute_symbols()) {
    free_symbols(values_, n_cols_);
    return OF_STATUS_FATAL_ERROR;
  }
  return OF_STATUS_OK;
}

}  // namespace

of_status_t of_inactivation_solve(const of_mod2rows *rows, uint32_t n_cols, of_rhs_fn rhs,
                                  void *context, uint32_t symbol_size, void **values,
                                  of_inactivation_stats *stats) {
  solver s(rows, n_cols, rhs, context, symbol_size, values);
  return s.run(stats);
}
