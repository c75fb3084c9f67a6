#include "binary/of_symbol.h"

#include <cstddef>
#include <cstring>

namespace {

// Words travel through memcpy, which compilers turn into plain (vectorisable)
// loads and stores without assuming any alignment of the caller's buffers.
inline void xor_bytes(unsigned char *to, const unsigned char *from, size_t size) {
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    uint64_t a[4], b[4];
    std::memcpy(a, to + i, sizeof a);
    std::memcpy(b, from + i, sizeof b);
    for (int w = 0; w < 4; ++w) a[w] ^= b[w];
    std::memcpy(to + i, a, sizeof a);
  }
  for (; i + 8 <= size; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, to + i, sizeof a);
    std::memcpy(&b, from + i, sizeof b);
    a ^= b;
    std::memcpy(to + i, &a, sizeof a);
  }
  for (; i < size; ++i) to[i] ^= from[i];
}

}  // namespace

void of_add_to_symbol(void *to, const void *from, uint32_t symbol_size) {
  xor_bytes(static_cast<unsigned char *>(to), static_cast<const unsigned char *>(from),
            symbol_size);
}

void of_add_from_multiple_symbols(void *to, const void *const *from, uint32_t from_size,
                                  uint32_t symbol_size) {
  for (uint32_t i = 0; i < from_size; ++i) of_add_to_symbol(to, from[i], symbol_size);
}

void of_add_to_multiple_symbols(void *const *to, const void *from, uint32_t to_size,
                                uint32_t symbol_size) {
  for (uint32_t i = 0; i < to_size; ++i) of_add_to_symbol(to[i], from, symbol_size);
}
