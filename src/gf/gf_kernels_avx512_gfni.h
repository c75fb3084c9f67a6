// The AVX-512BW + GFNI set's traits (see gf_kernels_impl.h): 64 bytes per
// step, one GF(2) affine transform per product; the last partial step uses
// byte-masked loads and stores. Included by the set's kernel unit and by its
// ceiling unit in bench/, both compiled with -mavx512f -mavx512bw -mgfni.
#pragma once

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

}  // namespace
