// XOR of symbols: the one arithmetic operation of the binary codecs, used by
// their encoders and by every decoding stage, on the region arithmetic.
// Symbols are byte arrays with no alignment promise; sizes are in bytes.
#pragma once

#include <cstdint>

// to ^= from over symbol_size bytes. The two may not overlap unless equal.
void of_add_to_symbol(void *to, const void *from, uint32_t symbol_size);

// to ^= from[i] for each of the from_size symbols, in one pass over `to` for
// up to 64 of them.
void of_add_from_multiple_symbols(void *to, const void *const *from, uint32_t from_size,
                                  uint32_t symbol_size);

// to[i] ^= from for each of the to_size symbols.
void of_add_to_multiple_symbols(void *const *to, const void *from, uint32_t to_size,
                                uint32_t symbol_size);

// A multi-input XOR whose inputs are found one at a time: add() collects
// them, and every 64 of them are summed into `to` in one pass over it, the
// sums held in registers. `to` starts from its own content (accumulate) or
// from zero; finish() sums what is left, after which `to` is complete (all
// zero when nothing was added to a non-accumulating sum). No input may
// overlap `to`.
class of_symbol_sum {
 public:
  of_symbol_sum(void *to, uint32_t symbol_size, bool accumulate)
      : to_(to), size_(symbol_size), accumulate_(accumulate) {}
  of_symbol_sum(const of_symbol_sum &) = delete;
  of_symbol_sum &operator=(const of_symbol_sum &) = delete;

  void add(const void *from) {
    batch_[count_++] = static_cast<const uint8_t *>(from);
    if (count_ == kBatch) flush();
  }
  void finish() {
    if (count_ != 0 || !accumulate_) flush();
  }

 private:
  static constexpr uint32_t kBatch = 64;
  void flush();

  void *to_;
  uint32_t size_;
  bool accumulate_;
  uint32_t count_ = 0;
  const uint8_t *batch_[kBatch];
};
