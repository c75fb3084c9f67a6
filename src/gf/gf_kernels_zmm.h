// The 64-byte register operations that the AVX-512BW sets' traits share, the
// last partial step by byte-masked loads and stores; included only by units
// compiled with -mavx512f -mavx512bw (see gf_kernels_impl.h).
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

namespace {

struct Zmm {
  using reg = __m512i;
  static constexpr size_t width = 64;
  static constexpr bool masked = true;
  static reg load(const uint8_t *p) { return _mm512_loadu_si512(p); }
  static void store(uint8_t *p, reg v) { _mm512_storeu_si512(p, v); }
  static __mmask64 mask(size_t n) { return ~uint64_t{0} >> (64 - n); }
  static reg load_masked(const uint8_t *p, size_t n) { return _mm512_maskz_loadu_epi8(mask(n), p); }
  static void store_masked(uint8_t *p, size_t n, reg v) { _mm512_mask_storeu_epi8(p, mask(n), v); }
  static reg zero() { return _mm512_setzero_si512(); }
  static reg bxor(reg a, reg b) { return _mm512_xor_si512(a, b); }
};

}  // namespace
