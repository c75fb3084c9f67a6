// The 32-byte register operations that the AVX2 sets' traits share; included
// only by units compiled with -mavx2 (see gf_kernels_impl.h).
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

namespace {

struct Ymm {
  using reg = __m256i;
  static constexpr size_t width = 32;
  static constexpr bool masked = false;
  static reg load(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const reg *>(p)); }
  static void store(uint8_t *p, reg v) { _mm256_storeu_si256(reinterpret_cast<reg *>(p), v); }
  static reg zero() { return _mm256_setzero_si256(); }
  static reg bxor(reg a, reg b) { return _mm256_xor_si256(a, b); }
};

}  // namespace
