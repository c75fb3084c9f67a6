// The AVX2 + GFNI set's traits (see gf_kernels_impl.h): 32 bytes per step,
// one GF(2) affine transform per product. Included by the set's kernel unit
// and by its ceiling unit in bench/, both compiled with -mavx2 -mgfni.
#pragma once

#include "gf/gf_kernels_ymm.h"

namespace {

struct Avx2Gfni : Ymm {
  using coef = long long;
  static coef coef_of(const gf_mul_const *c) { return static_cast<long long>(c->affine); }
  using split = reg;
  static split split_of(reg v) { return v; }
  static reg product(const split &v, coef matrix) {
    // The empty asm statement keeps the broadcast matrix in a register: as a
    // folded {1to4} memory operand one assembler in use encodes its
    // displacement at the wrong scale.
    reg m = _mm256_set1_epi64x(matrix);
    __asm__("" : "+x"(m));
    return _mm256_gf2p8affine_epi64_epi8(v, m, 0);
  }
};

}  // namespace
