// The missing source symbols of a scaled Cauchy code in closed form, for the
// decoders of the codes built on one: a decode then costs the encoder's
// multiply-accumulates, a few table look-ups per coefficient, and no matrix
// inversion.
//
// The code, over GF(2^8) with every point distinct: the repair symbol at point
// x is rho(x) * sum over the source points t of sigma(t) / (x + t) * S_t. From N
// repair symbols (points X), N missing sources (points Y) and R received ones
// (points Z), missing source y is
//   sum over the symbols s at hand (X and Z) of F(y) * W(s) / (s + y) * (s's data),
// with L(u) = prod over Y of (u + y) / prod over X of (u + x), each product
// without the factor that vanishes at u, and
//   W(s) = L(s) / rho(s) for a repair point, L(s) * sigma(s) for a source point,
//   F(y) = 1 / (L(y) * sigma(y)).
// A decoder gives each point the logarithm of 1 / rho or of sigma (its
// offset); products are sums of logarithms.
//
// In passes: pass p rebuilds missing sources 8p .. 8p + 7 and reads the repair
// symbols from 8p on, the received sources and the missing ones before 8p
// (rebuilt by the passes before it). A decoder may so write each pass's outputs
// over the repair symbols that the pass itself reads; the system left after a
// pass is one of the same form.
#pragma once

#include <cstdint>

#include "gf/gf_kernels.h"

// The tables of a GF(2^8) field that the solve reads: logarithms to the
// field's generator (log[x] in 0 .. 254 for x != 0, and log[0] a multiple of
// 255, so that a factor of 0 leaves a sum of logarithms as it is) and powers
// (exp[i] for i below kGfSolveExpSize, so that short sums of logarithms need
// no reduction); and the field's map onto the one where a kernel set with
// field instructions computes the same in vectors.
inline constexpr unsigned kGfSolveExpSize = 16 * 255;

struct gf_solve_field {
  const uint8_t *log;
  const uint8_t *exp;
  gf_field_map map;
};

// GF(2^8) modulo x^8 + x^4 + x^3 + x^2 + 1, every table built at compile time.
const gf_solve_field &gf_solve_field_11d();

// GF(2^8) modulo x^8 + x^6 + x^3 + x^2 + 1, likewise.
const gf_solve_field &gf_solve_field_14d();

class gf_cauchy_solve {
 public:
  static constexpr int kRowsPerPass = 8;
  static constexpr int kMaxMissing = 128;  // N + N + R distinct points <= 256

  // point and offset: the N repair points, then the R received ones, then
  // the N missing ones (N >= 1, 2N + R <= 256). The tables and the points
  // must outlive this. The kernel set in use computes it where it has field
  // instructions, the tables otherwise.
  void prepare(const gf_solve_field &field, int n, int r, const uint8_t *point,
               const uint8_t *offset);
  int passes() const { return (n_ + kRowsPerPass - 1) / kRowsPerPass; }

  // The coefficients that rebuild missing sources row_begin .. row_end - 1
  // (from pass p's first on) over pass p's symbols, N + R per row in the
  // order of the points from repair point 8p on: repair symbols 8p .. N - 1,
  // received sources 0 .. R - 1, missing sources 0 .. 8p - 1.
  void coefficients(int p, int row_begin, int row_end, uint8_t *coeff) const;

 private:
  const gf_solve_field *field_ = nullptr;
  const gf_kernel_set *kernels_ = nullptr;  // with field instructions, else null
  const uint8_t *point_ = nullptr;
  const uint8_t *offset_ = nullptr;
  int n_ = 0, r_ = 0;
  // One pass of few points: prepare leaves the work to coefficients.
  bool direct_ = false;
  // Per pass and point, W over the system left at that pass (F = 1 / W at a
  // missing point): its value for the field instructions, else its logarithm.
  uint8_t w_[kMaxMissing / kRowsPerPass][256];
};
