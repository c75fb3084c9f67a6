// What the GFNI sets' traits (see gf_kernels_impl.h) share over the field
// instructions of one register width: a product is one GF(2) affine transform
// of the source vector by the constant's matrix, so nothing is split. Ops
// gives the register traits and
//   static reg broadcast(uint8_t), affine(reg, uint64_t matrix),
//     affine_inverse(reg, uint64_t matrix), field_mul(reg, reg),
//     one_for_zero(reg).
// Included by the GFNI sets' traits headers, compiled with their flags.
#pragma once

#include <cstdint>

#include "gf/gf_region.h"

namespace {

template <class Ops>
struct Gfni : Ops {
  using reg = typename Ops::reg;
  using coef = long long;
  static coef coef_of(const gf_mul_const *c) { return static_cast<long long>(c->affine); }
  using split = reg;
  static split split_of(reg v) { return v; }
  static reg product(const split &v, coef matrix) {
    return Ops::affine(v, static_cast<uint64_t>(matrix));
  }
};

}  // namespace
