#include "binary/of_symbol.h"

#include "gf/gf_region.h"

namespace {

const uint8_t *bytes_of(const void *p) { return static_cast<const uint8_t *>(p); }

}  // namespace

void of_add_to_symbol(void *to, const void *from, uint32_t symbol_size) {
  gf_region_xor(static_cast<uint8_t *>(to), bytes_of(from), symbol_size);
}

void of_add_from_multiple_symbols(void *to, const void *const *from, uint32_t from_size,
                                  uint32_t symbol_size) {
  of_symbol_sum sum(to, symbol_size, true);
  for (uint32_t i = 0; i < from_size; ++i) sum.add(from[i]);
  sum.finish();
}

void of_add_to_multiple_symbols(void *const *to, const void *from, uint32_t to_size,
                                uint32_t symbol_size) {
  for (uint32_t i = 0; i < to_size; ++i) of_add_to_symbol(to[i], from, symbol_size);
}

void of_symbol_sum::flush() {
  gf_region_xor_sum(static_cast<uint8_t *>(to_), batch_, static_cast<int>(count_), size_,
                    accumulate_);
  accumulate_ = true;
  count_ = 0;
}
