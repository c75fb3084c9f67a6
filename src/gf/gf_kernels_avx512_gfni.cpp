// AVX-512BW with GFNI: 64 bytes per step, one GF(2) affine transform per
// product; the last partial step uses byte-masked loads and stores.
// Compiled with -mavx512f -mavx512bw -mgfni.
#include "gf/gf_kernels_zmm.h"

namespace {

struct Avx512Gfni : Zmm {
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
