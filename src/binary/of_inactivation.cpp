#include "binary/of_inactivation.h"

#include <algorithm>
#include <bit>
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

// The eight statements of a block are spelt out: compilers at -O2 pair them
// into vector XORs, which they do not for an inner loop.
void xor_words(uint64_t *__restrict dst, const uint64_t *__restrict src, uint32_t n_words) {
  static_assert(kBlockWords == 8);
  for (uint32_t w = 0; w < n_words; w += kBlockWords) {
    uint64_t *d = dst + w;
    const uint64_t *s = src + w;
    d[0] ^= s[0];
    d[1] ^= s[1];
    d[2] ^= s[2];
    d[3] ^= s[3];
    d[4] ^= s[4];
    d[5] ^= s[5];
    d[6] ^= s[6];
    d[7] ^= s[7];
  }
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
  if (!col_start_.allocate(n_cols_ + size_t{1}) || !col_rows_.allocate(rows_->start[n_rows]) ||
      !degree_.allocate(n_rows) || !used_.allocate_zeroed(n_rows) ||
      !state_.allocate_zeroed(n_cols_) || !order_.allocate(n_cols_) ||
      !pairs_.allocate_zeroed(n_cols_) || !pivot_row_.allocate(n_cols_) ||
      !pivot_col_.allocate(n_cols_) || !inactive_col_.allocate(n_cols_))
    return false;
  of_mod2rows_to_columns(rows_, n_cols_, col_start_.get(), col_rows_.get());
  for (uint32_t i = 0; i < n_rows; ++i) {
    degree_[i] = rows_->row_weight(i);
    if (degree_[i] == 1 && !degree_one_.push(i)) return false;
    if (degree_[i] == 2)
      for (const uint32_t c : rows_->row(i)) ++pairs_[c];
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
  for (const uint32_t c : rows_->row(row))
    if (state_[c] == kActive) col = c;
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
    for (const uint32_t c : rows_->row(row)) {
      if (c == col || state_[c] != kActive) continue;
      pairs_[c] = degree == 2 ? pairs_[c] - 1 : pairs_[c] + 1;
      if (!rank_again(c)) return false;
    }
    if (degree == 2 && !degree_one_.push(row)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The symbols.

constexpr uint32_t kUnread = UINT32_MAX;

// Symbol-sized scratch buffers, carved from blocks of ours and recycled as
// soon as they are no longer needed, so that a solution touches little fresh
// memory and seldom calls the allocator. Everything goes with the pool.
class symbol_pool {
 public:
  explicit symbol_pool(uint32_t symbol_size)
      : slot_((std::max<size_t>(symbol_size, sizeof(void *)) + kAlign - 1) / kAlign * kAlign) {}
  symbol_pool(const symbol_pool &) = delete;
  symbol_pool &operator=(const symbol_pool &) = delete;
  ~symbol_pool() {
    while (blocks_ != nullptr) {
      void *next = nullptr;
      std::memcpy(&next, blocks_, sizeof next);
      of_free(blocks_);
      blocks_ = next;
    }
  }
  // None when memory is short.
  void *take() {
    if (free_ == nullptr && !grow()) return nullptr;
    void *slot = free_;
    std::memcpy(&free_, slot, sizeof free_);
    return slot;
  }
  void give_back(void *slot) {
    std::memcpy(slot, &free_, sizeof free_);
    free_ = slot;
  }

 private:
  static constexpr size_t kAlign = 64;
  static constexpr size_t kSlotsPerBlock = 32;
  // A block: the link to the next block, then slots from the first aligned
  // address on.
  bool grow() {
    auto *block =
        static_cast<unsigned char *>(of_malloc(sizeof(void *) + kAlign + kSlotsPerBlock * slot_));
    if (block == nullptr) return false;
    std::memcpy(block, &blocks_, sizeof blocks_);
    blocks_ = block;
    const auto first = reinterpret_cast<uintptr_t>(block + sizeof(void *));
    unsigned char *slot = block + sizeof(void *) + (kAlign - first % kAlign) % kAlign;
    for (size_t i = 0; i < kSlotsPerBlock; ++i, slot += slot_) give_back(slot);
    return true;
  }

  size_t slot_;
  void *blocks_ = nullptr;
  void *free_ = nullptr;
};

class solver {
 public:
  solver(const of_mod2rows *rows, uint32_t n_cols, of_rhs_fn rhs, void *context,
         uint32_t symbol_size, const uint8_t *wanted, void **values)
      : rows_(rows),
        n_cols_(n_cols),
        rhs_(rhs),
        context_(context),
        len_(symbol_size),
        wanted_(wanted),
        values_(values),
        search_(rows, n_cols),
        pool_(symbol_size) {}

  of_status_t run(of_inactivation_stats *stats);

 private:
  // Row `row` of the system with its pivots' unknowns replaced by their
  // inactive parts: the bits of the inactive unknowns it then sums.
  void inactive_part(uint32_t row, uint32_t skip_col, uint64_t *out);
  of_status_t choose_dense_rows();
  bool invert_dense_system();
  bool apply_inverse(void *const *rhs);
  bool find_last_readers();
  bool compute_symbols();
  bool wanted(uint32_t col) const { return wanted_ == nullptr || wanted_[col] != 0; }
  // A wanted unknown's buffer will be the caller's; any other is scratch.
  void *new_value(uint32_t col) {
    return wanted(col) ? of_malloc(len_ != 0 ? len_ : 1) : pool_.take();
  }
  // Gives back the unwanted values of the solved unknowns that row `row`
  // reads for the last time at step `step`.
  void release_read_values(uint32_t row, uint32_t step);
  // `out` = the right-hand side of equation `row` plus the values of the
  // solved unknowns it holds (skip_col's aside), as step `step`: the
  // unwanted values that no later step reads go back to the pool.
  void sum_known_terms(uint32_t row, uint32_t skip_col, uint32_t step, void *out);
  void drop_values(bool all);

  const of_mod2rows *rows_;
  uint32_t n_cols_;
  of_rhs_fn rhs_;
  void *context_;
  uint32_t len_;
  const uint8_t *wanted_;
  void **values_;
  pivot_search search_;
  symbol_pool pool_;
  // Per solved unknown, the last step that reads its value without its
  // inactive part (pivot i, or pivot count + dense equation a); per pivot, the
  // last pivot that reads its inactive part. kUnread when none.
  of_array<uint32_t> value_last_read_, part_last_read_;
  bit_matrix pivot_parts_;         // per pivot, its unknown's inactive part
  of_array<uint32_t> dense_rows_;  // the equations of the dense system
  bit_matrix inverse_;             // of the dense system, t rows of t bits
};

void solver::inactive_part(uint32_t row, uint32_t skip_col, uint64_t *out) {
  for (const uint32_t c : rows_->row(row)) {
    if (c == skip_col) continue;
    if (search_.state(c) == kInactive)
      flip_bit(out, search_.order(c));
    else
      xor_words(out, pivot_parts_.row(search_.order(c)), pivot_parts_.n_words);
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

// The byte of row `row` for right-hand sides 8 g .. 8 g + 7.
uint8_t byte_of(const uint64_t *row, uint32_t g) {
  return static_cast<uint8_t>(row[g / 8] >> (g % 8 * 8));
}

// Inactive unknown j is the sum of the dense right-hand sides that row j of
// the inverse names, about t / 2 of them. Past some size it is cheaper to
// take the right-hand sides eight at a time: a table of the 255 non-zero
// sums of each eight (built one XOR of two symbols per entry), and each
// unknown adds one entry per eight instead of up to eight symbols. The tables
// of kGroupsPerPass eights are built at a time and summed in one pass over
// each unknown. Whichever way needs fewer symbol reads is taken.
bool solver::apply_inverse(void *const *rhs) {
  const uint32_t t = search_.nb_inactive();
  const uint32_t groups = (t + 7) / 8;
  constexpr uint32_t kGroupsPerPass = 8;
  uint64_t direct = 0, grouped = 0;
  for (uint32_t j = 0; j < t; ++j) {
    const uint64_t *row = inverse_.row(j);
    for (uint32_t g = 0; g < groups; ++g) {
      direct += static_cast<uint32_t>(std::popcount(byte_of(row, g)));
      grouped += byte_of(row, g) != 0;
    }
  }
  grouped += uint64_t{groups} * 255 * 2 + uint64_t{t} * 2 * ((groups - 1) / kGroupsPerPass);
  if (direct <= grouped) {
    for (uint32_t j = 0; j < t; ++j) {
      of_symbol_sum sum(values_[search_.inactive_col(j)], len_, false);
      const uint64_t *row = inverse_.row(j);
      for (uint32_t a = 0; a < t; ++a)
        if (test_bit(row, a)) sum.add(rhs[a]);
      sum.finish();
    }
    return true;
  }
  // table[256 g + mask]: the sum of the right-hand sides of group g that
  // mask names; a single one is the right-hand side itself.
  of_array<const void *> table;
  if (!table.allocate_zeroed(size_t{256} * kGroupsPerPass)) return false;
  bool ok = true;
  for (uint32_t first = 0; first < groups && ok; first += kGroupsPerPass) {
    const uint32_t last = std::min(groups, first + kGroupsPerPass);
    for (uint32_t g = first; g < last && ok; ++g) {
      const void **sums = table.get() + size_t{256} * (g - first);
      const uint32_t size = std::min<uint32_t>(8, t - 8 * g);
      for (uint32_t mask = 1; mask < (1u << size); ++mask) {
        const uint32_t low = static_cast<uint32_t>(std::countr_zero(mask));
        if (mask == (1u << low)) {
          sums[mask] = rhs[8 * g + low];
          continue;
        }
        void *sum = pool_.take();
        if (sum == nullptr) {
          ok = false;
          break;
        }
        of_symbol_sum both(sum, len_, false);
        both.add(sums[mask & (mask - 1)]);
        both.add(rhs[8 * g + low]);
        both.finish();
        sums[mask] = sum;
      }
    }
    for (uint32_t j = 0; j < t && ok; ++j) {
      of_symbol_sum sum(values_[search_.inactive_col(j)], len_, first != 0);
      const uint64_t *row = inverse_.row(j);
      for (uint32_t g = first; g < last; ++g) {
        const uint8_t mask = byte_of(row, g);
        if (mask != 0) sum.add(table[size_t{256} * (g - first) + mask]);
      }
      sum.finish();
    }
    // Back to the pool: every sum of two or more.
    for (uint32_t g = first; g < last; ++g) {
      const void **sums = table.get() + size_t{256} * (g - first);
      for (uint32_t mask = 1; mask < 256; ++mask) {
        if ((mask & (mask - 1)) != 0 && sums[mask] != nullptr)
          pool_.give_back(const_cast<void *>(sums[mask]));
        sums[mask] = nullptr;
      }
    }
  }
  return ok;
}

bool solver::find_last_readers() {
  const uint32_t m = search_.nb_pivots();
  if (!value_last_read_.allocate(n_cols_) || !part_last_read_.allocate(m)) return false;
  for (uint32_t c = 0; c < n_cols_; ++c) value_last_read_[c] = kUnread;
  for (uint32_t i = 0; i < m; ++i) part_last_read_[i] = kUnread;
  auto note_readers = [&](uint32_t row, uint32_t skip_col, uint32_t step, bool reads_parts) {
    for (const uint32_t c : rows_->row(row)) {
      if (c == skip_col || search_.state(c) != kSolved) continue;
      value_last_read_[c] = step;
      if (reads_parts) part_last_read_[search_.order(c)] = step;
    }
  };
  for (uint32_t i = 0; i < m; ++i)
    note_readers(search_.pivot_row(i), search_.pivot_col(i), i, true);
  for (uint32_t a = 0; a < search_.nb_inactive(); ++a)
    note_readers(dense_rows_[a], n_cols_, m + a, false);
  return true;
}

void solver::release_read_values(uint32_t row, uint32_t step) {
  for (const uint32_t c : rows_->row(row)) {
    if (search_.state(c) != kSolved || value_last_read_[c] != step || wanted(c)) continue;
    pool_.give_back(values_[c]);
    values_[c] = nullptr;
  }
}

void solver::sum_known_terms(uint32_t row, uint32_t skip_col, uint32_t step, void *out) {
  of_symbol_sum sum(out, len_, false);
  rhs_(context_, row, &sum);
  for (const uint32_t c : rows_->row(row))
    if (c != skip_col && search_.state(c) == kSolved) sum.add(values_[c]);
  sum.finish();
  release_read_values(row, step);
}

bool solver::compute_symbols() {
  const uint32_t m = search_.nb_pivots();
  const uint32_t t = search_.nb_inactive();
  if (!find_last_readers()) return false;
  // Each pivot's unknown without its inactive part, from its equation's
  // right-hand side and the pivots solved before it; not at all for an
  // unwanted unknown that nothing reads.
  for (uint32_t i = 0; i < m; ++i) {
    const uint32_t col = search_.pivot_col(i);
    if (!wanted(col) && value_last_read_[col] == kUnread) continue;
    values_[col] = new_value(col);
    if (values_[col] == nullptr) return false;
    sum_known_terms(search_.pivot_row(i), col, i, values_[col]);
  }
  if (t == 0) return true;
  // The dense system's right-hand sides, likewise.
  of_array<void *> dense_rhs;
  if (!dense_rhs.allocate(t)) return false;
  for (uint32_t a = 0; a < t; ++a) {
    dense_rhs[a] = pool_.take();
    if (dense_rhs[a] == nullptr) return false;
    sum_known_terms(dense_rows_[a], n_cols_, m + a, dense_rhs[a]);
  }
  for (uint32_t j = 0; j < t; ++j) {
    const uint32_t col = search_.inactive_col(j);
    values_[col] = new_value(col);
    if (values_[col] == nullptr) return false;
  }
  if (!apply_inverse(dense_rhs.get())) return false;
  for (uint32_t a = 0; a < t; ++a) pool_.give_back(dense_rhs[a]);
  // Each pivot's inactive part, from the inactive unknowns and the parts of
  // the pivots solved before it, added to its unknown when wanted. A zero
  // part needs no buffer, and one that nothing reads none either.
  of_array<void *> parts;
  if (!parts.allocate_zeroed(m)) return false;
  for (uint32_t i = 0; i < m; ++i) {
    const uint32_t col = search_.pivot_col(i);
    if (is_zero(pivot_parts_.row(i), pivot_parts_.n_words)) continue;
    if (!wanted(col) && part_last_read_[i] == kUnread) continue;
    const uint32_t row = search_.pivot_row(i);
    parts[i] = pool_.take();
    if (parts[i] == nullptr) return false;
    of_symbol_sum sum(parts[i], len_, false);
    for (const uint32_t c : rows_->row(row)) {
      if (c == col) continue;
      if (search_.state(c) == kInactive)
        sum.add(values_[c]);
      else if (parts[search_.order(c)] != nullptr)
        sum.add(parts[search_.order(c)]);
    }
    sum.finish();
    if (wanted(col)) of_add_to_symbol(values_[col], parts[i], len_);
    for (const uint32_t c : rows_->row(row)) {
      if (c == col || search_.state(c) != kSolved) continue;
      const uint32_t j = search_.order(c);
      if (part_last_read_[j] == i && parts[j] != nullptr) {
        pool_.give_back(parts[j]);
        parts[j] = nullptr;
      }
    }
    if (part_last_read_[i] == kUnread) {
      pool_.give_back(parts[i]);
      parts[i] = nullptr;
    }
  }
  return true;
}

// Leaves the caller only the wanted values, or none at all when `all`.
void solver::drop_values(bool all) {
  for (uint32_t c = 0; c < n_cols_; ++c) {
    if (wanted(c) && !all) continue;
    if (wanted(c)) of_free(values_[c]);
    values_[c] = nullptr;
  }
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
  const bool done = invert_dense_system() && compute_symbols();
  // Scratch values go with the pool.
  drop_values(!done);
  return done ? OF_STATUS_OK : OF_STATUS_FATAL_ERROR;
}

}  // namespace

of_status_t of_inactivation_solve(const of_mod2rows *rows, uint32_t n_cols, of_rhs_fn rhs,
                                  void *context, uint32_t symbol_size, const uint8_t *wanted,
                                  void **values, of_inactivation_stats *stats) {
  solver s(rows, n_cols, rhs, context, symbol_size, wanted, values);
  return s.run(stats);
}
