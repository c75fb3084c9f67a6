#include "gf/gf_cauchy_solve.h"

#include <array>
#include <cstring>

#include "gf/gf_region.h"
#include "gf/gf_tables.h"

namespace {

// Logarithms (log[0] = 255) and powers of GF(2^8) modulo poly, generator 2.
template <unsigned Poly>
struct log_tables {
  std::array<uint8_t, 256> log{};
  std::array<uint8_t, kGfSolveExpSize> exp{};
  constexpr log_tables() {
    unsigned x = 1;
    for (unsigned i = 0; i < 255; ++i) {
      exp[i] = static_cast<uint8_t>(x);
      log[x] = static_cast<uint8_t>(i);
      x = gf_slow_mul(x, 2, Poly, 8);
    }
    for (unsigned i = 255; i < kGfSolveExpSize; ++i) exp[i] = exp[i - 255];
    log[0] = 255;
  }
};

constexpr log_tables<0x11D> k11d;
constexpr log_tables<0x14D> k14d;

// The isomorphism from GF(2^8) modulo poly onto GF(2^8) modulo 0x11B: the
// generator 2 goes to a root of poly there, and with it the polynomial basis.
template <unsigned Poly>
constexpr gf_field_map field_map() {
  unsigned root = 0;
  for (unsigned b = 2; b < 256 && root == 0; ++b) {
    unsigned value = 0, power = 1;
    for (unsigned i = 0; i <= 8; ++i) {
      if ((Poly >> i) & 1) value ^= power;
      power = gf_slow_mul(power, b, 0x11B, 8);
    }
    if (value == 0) root = b;
  }
  uint8_t basis[8] = {};
  unsigned power = 1;
  for (unsigned j = 0; j < 8; ++j) {
    basis[j] = static_cast<uint8_t>(power);
    power = gf_slow_mul(power, root, 0x11B, 8);
  }
  uint8_t to[256] = {}, from[256] = {};
  for (unsigned x = 0; x < 256; ++x) {
    unsigned image = 0;
    for (unsigned j = 0; j < 8; ++j) {
      if ((x >> j) & 1) image ^= basis[j];
    }
    to[x] = static_cast<uint8_t>(image);
    from[image] = static_cast<uint8_t>(x);
  }
  return {gf_mul_const_from_row(to).affine, gf_mul_const_from_row(from).affine};
}

// Sums of at most kMaxMissing logarithms of each sign, plus an offset, stay
// above minus this multiple of 255.
constexpr int kLogBias = (gf_cauchy_solve::kMaxMissing + 1) * 255;

// With W's logarithm reduced, a coefficient's log W + log F - log(s + y), as
// log W + 2 * 255 - log W(y) - log(s + y), needs no reduction either.
static_assert(254 + 2 * 255 < kGfSolveExpSize);

// The vectors pay from this many points on: for fewer, the loads of points
// just written would wait on their stores longer than the tables take.
constexpr int kVectorPoints = 8;

// A single pass of N missing points and fewer than kVectorPoints points in all
// (so N <= 3), straight from the points. The logarithms of the differences
// between the symbols' points and the rows' that W and F sum are the
// coefficients' own: each is looked up once for both, and the sums go to the
// power table unreduced.
constexpr int kDirectMissing = (kVectorPoints - 1) / 2;
// A coefficient's sum of logarithms lies within (2N + 2) * 255 below 0 and
// (2N + 1) * 255 above.
constexpr int kDirectBase = (2 * kDirectMissing + 2) * 255;
static_assert(kDirectBase + (2 * kDirectMissing + 1) * 255 < int{kGfSolveExpSize});

template <int N>
void direct_coefficients(const gf_solve_field &field, const uint8_t *point, const uint8_t *offset,
                         int count, int row_begin, int row_end, uint8_t *coeff) {
  const uint8_t *log = field.log;
  const uint8_t *exp = field.exp;
  const uint8_t *y = point + count;
  // d[i][s] = log(s + y_i); the logarithm of W at symbol s and of F at row i.
  int d[N][kVectorPoints], w[kVectorPoints], f[N];
  for (int s = 0; s < count; ++s) {
    w[s] = offset[s];
    for (int i = 0; i < N; ++i) {
      d[i][s] = log[point[s] ^ y[i]];
      w[s] += d[i][s] - log[point[s] ^ point[i]];
    }
  }
  for (int i = 0; i < N; ++i) {
    f[i] = -offset[count + i];
    for (int j = 0; j < N; ++j) f[i] += d[i][j] - log[y[i] ^ y[j]];
  }
  for (int i = row_begin; i < row_end; ++i) {
    for (int s = 0; s < count; ++s) coeff[s] = exp[kDirectBase + w[s] + f[i] - d[i][s]];
    coeff += count;
  }
}

}  // namespace

const gf_solve_field &gf_solve_field_11d() {
  static constexpr gf_solve_field field{k11d.log.data(), k11d.exp.data(), field_map<0x11D>()};
  return field;
}

const gf_solve_field &gf_solve_field_14d() {
  static constexpr gf_solve_field field{k14d.log.data(), k14d.exp.data(), field_map<0x14D>()};
  return field;
}

void gf_cauchy_solve::prepare(const gf_solve_field &field, int n, int r, const uint8_t *point,
                              const uint8_t *offset) {
  field_ = &field;
  point_ = point;
  offset_ = offset;
  n_ = n;
  r_ = r;
  const int points = 2 * n + r;
  // One pass of few points: coefficients() works straight from the points.
  direct_ = points < kVectorPoints;
  kernels_ = nullptr;
  if (direct_) return;
  const uint8_t *missing = point + n + r;
  const uint8_t *exp = field.exp;
  const gf_kernel_set &k = gf_active_kernels();
  if (k.cauchy_weights != nullptr) kernels_ = &k;
  // From the last pass back: each pass's system takes in the repair and
  // missing points of its own rows.
  if (kernels_ != nullptr) {
    uint8_t scale[256], num[256], den[256];
    for (int u = 0; u < points; ++u) {
      scale[u] = exp[offset[u]];
      num[u] = den[u] = 1;
    }
    for (int p = passes() - 1; p >= 0; --p) {
      const int first = p * kRowsPerPass;
      const int rows = n - first < kRowsPerPass ? n - first : kRowsPerPass;
      k.cauchy_weights(w_[p], num, den, point, scale, static_cast<size_t>(points), missing + first,
                       point + first, rows, &field.map);
    }
    return;
  }
  const uint8_t *log = field.log;
  int sums[256];
  for (int p = passes() - 1; p >= 0; --p) {
    const int first = p * kRowsPerPass;
    const int end = first + kRowsPerPass < n ? first + kRowsPerPass : n;
    const bool last = end == n;
    uint8_t *w = w_[p];
    for (int u = 0; u < points; ++u) {
      const unsigned t = point[u];
      int sum = last ? 0 : sums[u];
      for (int j = first; j < end; ++j) sum += log[t ^ missing[j]] - log[t ^ point[j]];
      sums[u] = sum;
      w[u] = static_cast<uint8_t>(static_cast<unsigned>(sum + offset[u] + kLogBias) % 255);
    }
  }
}

void gf_cauchy_solve::coefficients(int p, int row_begin, int row_end, uint8_t *coeff) const {
  // Pass p's symbols lie side by side from the pass's first repair point on;
  // F = 1 / W at a row's point.
  const int first = p * kRowsPerPass;
  const int count = n_ + r_;
  const uint8_t *w = w_[p] + first;
  const uint8_t *x = point_ + first;
  const uint8_t *row_w = w_[p] + count;
  const uint8_t *row_point = point_ + count;
  const uint8_t *log = field_->log;
  const uint8_t *exp = field_->exp;
  if (direct_) {
    auto direct = [&](auto fn) { fn(*field_, point_, offset_, count, row_begin, row_end, coeff); };
    if (n_ == 1) return direct(direct_coefficients<1>);
    if (n_ == 2) return direct(direct_coefficients<2>);
    return direct(direct_coefficients<3>);
  }
  if (kernels_ != nullptr) {
    uint8_t f[kMaxMissing];
    for (int i = row_begin; i < row_end; ++i) f[i - row_begin] = exp[255 - log[row_w[i]]];
    kernels_->cauchy_rows(coeff, row_end - row_begin, w, x, static_cast<size_t>(count),
                          row_point + row_begin, f, &field_->map);
    return;
  }
  // W in logarithms: F = 1 / W adds 255 - log W.
  for (int i = row_begin; i < row_end; ++i) {
    const unsigned y = row_point[i];
    const unsigned shift = 2 * 255u - row_w[i];
    for (int s = 0; s < count; ++s) coeff[s] = exp[w[s] + shift - log[x[s] ^ y]];
    coeff += count;
  }
}
