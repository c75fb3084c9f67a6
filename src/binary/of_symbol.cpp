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
  // One pass over `to` for up to this many symbols at a time.
  constexpr uint32_t kBatch = 64;
  const uint8_t *batch[kBatch];
  for (uint32_t i = 0; i < from_size; i += kBatch) {
    const uint32_t n = from_size - i < kBatch ? from_size - i : kBatch;
    for (uint32_t j = 0; j < n; ++j) batch[j] = bytes_of(from[i + j]);
    gf_region_xor_sum(static_cast<uint8_t *>(to), batch, static_cast<int>(n), symbol_size, true);
  }
}

void of_add_to_multiple_symbols(void *const *to, const void *from, uint32_t to_size,
                                uint32_t symbol_size) {
  for (uint32_t i = 0; i < to_size; ++i) of_add_to_symbol(to[i], from, symbol_size);
}
