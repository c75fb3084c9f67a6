#include "binary/of_symbol.h"

#include <cstddef>
#include <cstring>

namespace {

// Sixteen bytes of a symbol, loaded and stored through memcpy so that no
// alignment of the caller's buffers is assumed; compilers keep these in
// vector registers (SSE2 at least on x86-64).
typedef uint64_t block16 __attribute__((vector_size(16)));

inline void xor_bytes(unsigned char *to, const unsigned char *from, size_t size) {
  size_t i = 0;
  for (; i + 64 <= size; i += 64) {
    block16 a0, a1, a2, a3, b0, b1, b2, b3;
    std::memcpy(&a0, to + i, 16);
    std::memcpy(&a1, to + i + 16, 16);
    std::memcpy(&a2, to + i + 32, 16);
    std::memcpy(&a3, to + i + 48, 16);
    std::memcpy(&b0, from + i, 16);
    std::memcpy(&b1, from + i + 16, 16);
    std::memcpy(&b2, from + i + 32, 16);
    std::memcpy(&b3, from + i + 48, 16);
    a0 ^= b0;
    a1 ^= b1;
    a2 ^= b2;
    a3 ^= b3;
    std::memcpy(to + i, &a0, 16);
    std::memcpy(to + i + 16, &a1, 16);
    std::memcpy(to + i + 32, &a2, 16);
    std::memcpy(to + i + 48, &a3, 16);
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
