// The SVE sets' traits (see gf_kernels_impl.h), for one vector length fixed
// at compile time (-msve-vector-bits, which sets __ARM_FEATURE_SVE_BITS): a
// set runs only on a processor whose vector length is exactly that. A product
// is two table lookups (tbl) on the low and high nibble of each byte, in the
// constant's 16-byte tables replicated over the vector; partial steps use
// predicates. Included by each SVE length's kernel unit and ceiling unit in
// bench/.
#pragma once

#include <arm_sve.h>

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

namespace {

typedef svuint8_t SveBytes __attribute__((arm_sve_vector_bits(__ARM_FEATURE_SVE_BITS)));

struct Sve {
  using reg = SveBytes;
  static constexpr size_t width = __ARM_FEATURE_SVE_BITS / 8;
  static constexpr int registers = 32;
  static constexpr bool masked = true;
  static svbool_t all() { return svptrue_b8(); }
  static reg load(const uint8_t *p) { return svld1_u8(all(), p); }
  static void store(uint8_t *p, reg v) { svst1_u8(all(), p, v); }
  static reg load_masked(const uint8_t *p, size_t n) { return svld1_u8(svwhilelt_b8_u64(0, n), p); }
  static void store_masked(uint8_t *p, size_t n, reg v) { svst1_u8(svwhilelt_b8_u64(0, n), p, v); }
  static reg zero() { return svdup_n_u8(0); }
  static reg bxor(reg a, reg b) { return sveor_u8_x(all(), a, b); }

  using coef = const gf_mul_const *;
  static coef coef_of(const gf_mul_const *c) { return c; }
  struct split {
    reg low, high;
  };
  static split split_of(reg v) { return {svand_n_u8_x(all(), v, 0x0f), svlsr_n_u8_x(all(), v, 4)}; }
  // Indices 0 .. 15 pick from the first 16 bytes, which hold the table.
  static reg product(const split &s, coef c) {
    return sveor_u8_x(all(), svtbl_u8(svld1rq_u8(all(), c->lo), s.low),
                      svtbl_u8(svld1rq_u8(all(), c->hi), s.high));
  }
};

}  // namespace
