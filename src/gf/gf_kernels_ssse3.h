// The SSSE3 set's traits (see gf_kernels_impl.h): 16 bytes per step; a
// product is two 16-entry table lookups (pshufb) on the low and high nibble of
// each byte. Included by the set's kernel unit and by its ceiling unit in
// bench/, both compiled with -mssse3.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

namespace {

struct Ssse3 {
  using reg = __m128i;
  static constexpr size_t width = 16;
  static constexpr bool masked = false;
  static reg load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const reg *>(p)); }
  static void store(uint8_t *p, reg v) { _mm_storeu_si128(reinterpret_cast<reg *>(p), v); }
  static reg zero() { return _mm_setzero_si128(); }
  static reg bxor(reg a, reg b) { return _mm_xor_si128(a, b); }

  using coef = const gf_mul_const *;
  static coef coef_of(const gf_mul_const *c) { return c; }
  struct split {
    reg low, high;
  };
  static split split_of(reg v) {
    const reg mask = _mm_set1_epi8(0x0f);
    return {_mm_and_si128(v, mask), _mm_and_si128(_mm_srli_epi64(v, 4), mask)};
  }
  static reg product(const split &s, coef c) {
    return _mm_xor_si128(_mm_shuffle_epi8(load(c->lo), s.low),
                         _mm_shuffle_epi8(load(c->hi), s.high));
  }
};

}  // namespace
