// The AVX-512BW + GFNI set's traits (see gf_kernels_impl.h): 64 bytes per
// step, one GF(2) affine transform per product (gf_kernels_gfni.h); the last partial step uses
// byte-masked loads and stores. Included by the set's kernel unit and by its
// ceiling unit in bench/, both compiled with -mavx512f -mavx512bw -mgfni.
#pragma once

#include "gf/gf_kernels_gfni.h"
#include "gf/gf_kernels_zmm.h"

namespace {

struct Avx512GfniOps : Zmm {
  static reg broadcast(uint8_t b) { return _mm512_set1_epi8(static_cast<char>(b)); }
  // The empty asm statement keeps the broadcast matrix in a register: as a
  // folded {1to8} memory operand one assembler in use encodes its
  // displacement at the wrong scale.
  static reg matrix_of(uint64_t matrix) {
    reg m = _mm512_set1_epi64(static_cast<long long>(matrix));
    __asm__("" : "+v"(m));
    return m;
  }
  static reg affine(reg v, uint64_t matrix) {
    return _mm512_gf2p8affine_epi64_epi8(v, matrix_of(matrix), 0);
  }
  static reg affine_inverse(reg v, uint64_t matrix) {
    return _mm512_gf2p8affineinv_epi64_epi8(v, matrix_of(matrix), 0);
  }
  static reg field_mul(reg a, reg b) { return _mm512_gf2p8mul_epi8(a, b); }
  static reg one_for_zero(reg v) {
    return _mm512_mask_mov_epi8(v, _mm512_testn_epi8_mask(v, v), _mm512_set1_epi8(1));
  }
};

using Avx512Gfni = Gfni<Avx512GfniOps>;

}  // namespace
