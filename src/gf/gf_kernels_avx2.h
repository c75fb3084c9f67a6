// The AVX2 set's traits (see gf_kernels_impl.h): 32 bytes per step; a product
// is two 16-entry table lookups (vpshufb) on the low and high nibble of each
// byte, the tables broadcast to both lanes. Included by the set's kernel unit
// and by its ceiling unit in bench/, both compiled with -mavx2.
#pragma once

#include "gf/gf_kernels_ymm.h"

namespace {

struct Avx2 : Ymm {
  using coef = const gf_mul_const *;
  static coef coef_of(const gf_mul_const *c) { return c; }
  struct split {
    reg low, high;
  };
  static split split_of(reg v) {
    const reg mask = _mm256_set1_epi8(0x0f);
    return {_mm256_and_si256(v, mask), _mm256_and_si256(_mm256_srli_epi64(v, 4), mask)};
  }
  static reg table(const uint8_t *t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t)));
  }
  static reg product(const split &s, coef c) {
    return _mm256_xor_si256(_mm256_shuffle_epi8(table(c->lo), s.low),
                            _mm256_shuffle_epi8(table(c->hi), s.high));
  }
};

}  // namespace
