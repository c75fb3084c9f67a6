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

constexpr std::array<uint8_t, 256 * 256> quotients_11d() {
  std::array<uint8_t, 256 * 256> table{};
  // Raw pointers: every call of std::array's operator[] costs the constant
  // evaluator steps of its own.
  uint8_t *t = table.data();
  const uint8_t *log = k11d.log.data();
  const uint8_t *exp = k11d.exp.data();
  for (unsigned y = 1; y < 256; ++y) {
    uint8_t *row = t + y * 256;
    const unsigned log_y = 255u - log[y];
    for (unsigned x = 1; x < 256; ++x) row[x] = exp[log[x] + log_y];
  }
  return table;
}
constexpr std::array<uint8_t, 256 * 256> kDiv11d = quotients_11d();

// Sums of at most kMaxMissing logarithms of each sign, plus an offset, stay
// above minus this multiple of 255.
constexpr int kLogBias = (gf_cauchy_solve::kMaxMissing + 1) * 255;

// The vectors pay from this many points on: for fewer, the loads of points
// just written would wait on their stores longer than the tables take.
constexpr int kVectorPoints = 8;

// A single pass's sums of logarithms (at most eight of each sign, each up to
// 255, and an offset below 255) lie within this multiple of 255 of 0, and the
// power table reaches it either way.
constexpr int kDirectBase = (gf_cauchy_solve::kRowsPerPass + 1) * 255;
static_assert(2 * kDirectBase < kGfSolveExpSize);

}  // namespace

const gf_solve_field &gf_solve_field_11d() {
  static constexpr gf_solve_field field{k11d.log.data(), k11d.exp.data(),
                                        of_gf_2_8_mul_table[0].data(), kDiv11d.data(),
                                        field_map<0x11D>()};
  return field;
}

gf_solve_field gf_solve_field_14d(const uint8_t *mul, const uint8_t *div) {
  static constexpr gf_field_map map = field_map<0x14D>();
  return {k14d.log.data(), k14d.exp.data(), mul, div, map};
}

void gf_cauchy_solve::prepare(const gf_solve_field &field, int n, int r, const uint8_t *point,
                              const uint8_t *offset) {
  field_ = &field;
  point_ = point;
  offset_ = offset;
  n_ = n;
  r_ = r;
  const int points = 2 * n + r;
  const uint8_t *missing = point + n + r;
  const uint8_t *exp = field.exp;
  const gf_kernel_set &k = gf_active_kernels();
  kernels_ = k.cauchy_weights != nullptr && points >= kVectorPoints ? &k : nullptr;
  // One pass of few points: coefficients() works straight from the points.
  direct_ = kernels_ == nullptr && points < kVectorPoints && n <= kRowsPerPass;
  if (direct_) return;
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
      w[u] = exp[static_cast<unsigned>(sum + offset[u] + kLogBias) % 255];
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
  const uint8_t *div = field_->div;
  if (kernels_ != nullptr) {
    uint8_t f[kMaxMissing];
    for (int i = row_begin; i < row_end; ++i) f[i - row_begin] = div[row_w[i] << 8 | 1];
    kernels_->cauchy_rows(coeff, row_end - row_begin, w, x, static_cast<size_t>(count),
                          row_point + row_begin, f, &field_->map);
    return;
  }
  // Each symbol's point (high byte) and W (low byte): with a row's point in
  // the high byte, the quotient table's index of W / (s + y).
  uint16_t symbol[256];
  const uint8_t *times_f[kMaxMissing];
  if (direct_) {
    // W from the points here and now: sums over the single pass's factors.
    const uint8_t *log = field_->log;
    const uint8_t *exp = field_->exp;
    // The logarithm of W, unreduced: within kDirectBase of 0 either way.
    auto log_w = [&](int u) {
      const unsigned t = point_[u];
      int sum = offset_[u];
      for (int j = 0; j < n_; ++j) sum += log[t ^ row_point[j]] - log[t ^ point_[j]];
      return sum;
    };
    for (int s = 0; s < count; ++s)
      symbol[s] = static_cast<uint16_t>(x[s] << 8 | exp[kDirectBase + log_w(s)]);
    for (int i = row_begin; i < row_end; ++i)
      times_f[i] = field_->mul + 256 * exp[kDirectBase - log_w(count + i)];
  } else {
    for (int s = 0; s < count; ++s) symbol[s] = static_cast<uint16_t>(x[s] << 8 | w[s]);
    for (int i = row_begin; i < row_end; ++i)
      times_f[i] = field_->mul + 256 * div[row_w[i] << 8 | 1];
  }
  for (int i = row_begin; i < row_end; ++i) {
    const unsigned y = unsigned{row_point[i]} << 8;
    for (int s = 0; s < count; ++s) coeff[s] = times_f[i][div[symbol[s] ^ y]];
    coeff += count;
  }
}
