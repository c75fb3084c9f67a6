// The NEON set's traits (see gf_kernels_impl.h): 16 bytes per step, 32
// registers; a product is two 16-entry table lookups (tbl) on the low and high
// nibble of each byte. Included by the set's kernel unit and by its ceiling
// unit in bench/. NEON is part of every aarch64 processor, so neither needs
// flags of its own.
#pragma once

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

namespace {

struct Neon {
  using reg = uint8x16_t;
  static constexpr size_t width = 16;
  static constexpr int registers = 32;
  static constexpr bool masked = false;
  static reg load(const uint8_t *p) { return vld1q_u8(p); }
  static void store(uint8_t *p, reg v) { vst1q_u8(p, v); }
  static reg zero() { return vdupq_n_u8(0); }
  static reg bxor(reg a, reg b) { return veorq_u8(a, b); }

  using coef = const gf_mul_const *;
  static coef coef_of(const gf_mul_const *c) { return c; }
  struct split {
    reg low, high;
  };
  static split split_of(reg v) { return {vandq_u8(v, vdupq_n_u8(0x0f)), vshrq_n_u8(v, 4)}; }
  static reg product(const split &s, coef c) {
    return veorq_u8(vqtbl1q_u8(load(c->lo), s.low), vqtbl1q_u8(load(c->hi), s.high));
  }
};

}  // namespace
