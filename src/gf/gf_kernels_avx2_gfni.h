// The AVX2 + GFNI set's traits (see gf_kernels_impl.h): 32 bytes per step,
// one GF(2) affine transform per product (gf_kernels_gfni.h). Included by the set's kernel unit
// and by its ceiling unit in bench/, both compiled with -mavx2 -mgfni.
#pragma once

#include "gf/gf_kernels_gfni.h"
#include "gf/gf_kernels_ymm.h"

namespace {

struct Avx2GfniOps : Ymm {
  static reg broadcast(uint8_t b) { return _mm256_set1_epi8(static_cast<char>(b)); }
  // The empty asm statement keeps the broadcast matrix in a register: as a
  // folded {1to4} memory operand one assembler in use encodes its
  // displacement at the wrong scale.
  static reg matrix_of(uint64_t matrix) {
    reg m = _mm256_set1_epi64x(static_cast<long long>(matrix));
    __asm__("" : "+x"(m));
    return m;
  }
  static reg affine(reg v, uint64_t matrix) {
    return _mm256_gf2p8affine_epi64_epi8(v, matrix_of(matrix), 0);
  }
  static reg affine_inverse(reg v, uint64_t matrix) {
    return _mm256_gf2p8affineinv_epi64_epi8(v, matrix_of(matrix), 0);
  }
  static reg field_mul(reg a, reg b) { return _mm256_gf2p8mul_epi8(a, b); }
  static reg one_for_zero(reg v) {
    const reg zero_bytes = _mm256_cmpeq_epi8(v, _mm256_setzero_si256());
    return _mm256_or_si256(v, _mm256_and_si256(zero_bytes, _mm256_set1_epi8(1)));
  }
};

using Avx2Gfni = Gfni<Avx2GfniOps>;

}  // namespace
