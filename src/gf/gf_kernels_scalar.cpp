// The scalar set: the plain reference that every vector set must match byte
// for byte, and the set in use where no vector set runs or passes its check.
#include <cstring>

#include "gf/gf_kernels.h"

namespace {

void xor_sum_scalar(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes,
                    bool accumulate) {
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t sum = 0, word = 0;
    if (accumulate) std::memcpy(&sum, dst + i, 8);
    for (int j = 0; j < count; ++j) {
      std::memcpy(&word, src[j] + i, 8);
      sum ^= word;
    }
    std::memcpy(dst + i, &sum, 8);
  }
  for (; i < bytes; ++i) {
    uint8_t sum = accumulate ? dst[i] : 0;
    for (int j = 0; j < count; ++j) sum ^= src[j][i];
    dst[i] = sum;
  }
}

void mul_scalar(uint8_t *dst, const uint8_t *src, const gf_mul_const *c, size_t bytes,
                bool accumulate) {
  // Long regions look products up in the full 256-entry row.
  uint8_t row[256];
  const bool full_row = bytes >= 256;
  if (full_row) {
    for (int x = 0; x < 256; ++x) row[x] = gf_mul_const_apply(*c, static_cast<uint8_t>(x));
  }
  for (size_t i = 0; i < bytes; ++i) {
    const uint8_t p = full_row ? row[src[i]] : gf_mul_const_apply(*c, src[i]);
    dst[i] = accumulate ? static_cast<uint8_t>(dst[i] ^ p) : p;
  }
}

void dot_scalar(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool accumulate) {
  // Sums are built a block at a time apart from the outputs, so that an output
  // may be one of the sources.
  constexpr size_t kBlock = 1024;
  uint8_t sum[kGfDotRows][kBlock];
  for (size_t i = 0; i < bytes; i += kBlock) {
    const size_t n = bytes - i < kBlock ? bytes - i : kBlock;
    for (int r = 0; r < rows; ++r) {
      if (accumulate) {
        std::memcpy(sum[r], out[r] + i, n);
      } else {
        std::memset(sum[r], 0, n);
      }
      for (int j = 0; j < count; ++j)
        mul_scalar(sum[r], src[j] + i, &field[coeff[r * count + j]], n, true);
    }
    for (int r = 0; r < rows; ++r) std::memcpy(out[r] + i, sum[r], n);
  }
}

constexpr gf_kernel_set kScalar{"scalar", xor_sum_scalar, mul_scalar, dot_scalar};

}  // namespace

const gf_kernel_set &gf_kernels_scalar() { return kScalar; }
