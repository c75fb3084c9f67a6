// AVX-512BW with GFNI: 64 bytes per step, one GF(2) affine transform per
// product; the last partial step uses byte-masked loads and stores.
// Compiled with -mavx512f -mavx512bw -mgfni.
#include <immintrin.h>

#include "gf/gf_kernels_impl.h"

namespace {

struct Avx512Gfni {
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

  using coef = long long;
  static coef coef_of(const gf_mul_const *c) { return static_cast<long long>(c->affine); }
  using split = reg;
  static split split_of(reg v) { return v; }
  static reg product(const split &v, coef matrix) {
    // The empty asm statement keeps the broadcast matrix in a register: as a
    // folded {1to8} memory operand one assembler in use encodes its
    // displacement at the wrong scale.
    reg m = _mm512_set1_epi64(matrix);
    __asm__("" : "+v"(m));
    return _mm512_gf2p8affine_epi64_epi8(v, m, 0);
  }
};

constexpr gf_kernel_set kAvx512Gfni = gf_impl::kernel_set<Avx512Gfni>("avx512-gfni");

}  // namespace

const gf_kernel_set *gf_kernels_avx512_gfni_unchecked() { return &kAvx512Gfni; }
