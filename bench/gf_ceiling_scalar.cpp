// The ceiling loop of the scalar set: one byte per "register", and a product
// is the lookup in the 256-entry row of the constant, built as the scalar
// set's multiply builds it for regions of 256 bytes or more.
#include "gf/gf_region.h"
#include "gf_ceiling_loop.h"

namespace {

struct ScalarRow {
  using reg = uint8_t;
  static constexpr size_t width = 1;
  static reg load(const uint8_t *p) { return *p; }
  static void store(uint8_t *p, reg v) { *p = v; }
  static reg bxor(reg a, reg b) { return static_cast<reg>(a ^ b); }
  using coef = const uint8_t *;  // row[x] = c * x
  using split = reg;
  static split split_of(reg v) { return v; }
  static reg product(const split &x, coef row) { return row[x]; }
};

}  // namespace

void gf_ceiling_rounds_scalar(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  uint8_t rows[kCeilingAccumulators][256];
  const uint8_t *k[kCeilingAccumulators];
  for (int r = 0; r < kCeilingAccumulators; ++r) {
    for (int x = 0; x < 256; ++x) rows[r][x] = gf_mul_const_apply(c[r], static_cast<uint8_t>(x));
    k[r] = rows[r];
  }
  ceiling_rounds<ScalarRow>(k, state, pairs);
}
