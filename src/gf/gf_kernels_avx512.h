// The AVX-512BW set's traits (see gf_kernels_impl.h): 64 bytes per step; a
// product is two 16-entry table lookups (vpshufb) on the low and high nibble
// of each byte, the tables broadcast to all four lanes; the last partial step
// uses byte-masked loads and stores. Included by the set's kernel unit and by
// its ceiling unit in bench/, both compiled with -mavx512f -mavx512bw.
#pragma once

#include "gf/gf_kernels_zmm.h"

namespace {

struct Avx512 : Zmm {
  using coef = const gf_mul_const *;
  static coef coef_of(const gf_mul_const *c) { return c; }
  struct split {
    reg low, high;
  };
  // The nibble shift is taken on 16-bit lanes and the table broadcast in its
  // zero-masking form with every lane selected (the same instructions as the
  // 64-bit shift and the plain broadcast): those two intrinsics pass undefined
  // lanes to their builtins, which GCC 12 reports as possibly uninitialised
  // once inlined here.
  static split split_of(reg v) {
    const reg mask = _mm512_set1_epi8(0x0f);
    return {_mm512_and_si512(v, mask), _mm512_and_si512(_mm512_srli_epi16(v, 4), mask)};
  }
  static reg table(const uint8_t *t) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF,
                                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(t)));
  }
  static reg product(const split &s, coef c) {
    return _mm512_xor_si512(_mm512_shuffle_epi8(table(c->lo), s.low),
                            _mm512_shuffle_epi8(table(c->hi), s.high));
  }
};

}  // namespace
