#include "gf/gf_tables.h"

#include <cstddef>

namespace {

template <unsigned Bits, unsigned Poly>
struct field_tables {
  static constexpr unsigned order = 1u << Bits;

  static constexpr std::array<gf, order> exp() {
    std::array<gf, order> t{};
    unsigned x = 1;
    for (unsigned i = 0; i < order; ++i) {
      t[i] = static_cast<gf>(x);
      x = gf_slow_mul(x, 2, Poly, Bits);
    }
    return t;
  }
  static constexpr std::array<int, order> log() {
    std::array<int, order> t{};
    const auto e = exp();
    t[0] = static_cast<int>(order - 1);
    for (unsigned i = 0; i + 1 < order; ++i) t[e[i]] = static_cast<int>(i);
    return t;
  }
  // Inverse and product through the logarithms: a^-1 = alpha^(order-1-log a)
  // and a * b = alpha^(log a + log b), cheap enough for any compiler's
  // constant-evaluation budget.
  static constexpr std::array<gf, order> inv() {
    std::array<gf, order> t{};
    const auto e = exp();
    for (unsigned i = 0; i + 1 < order; ++i) t[e[i]] = e[(order - 1 - i) % (order - 1)];
    return t;
  }
  static constexpr std::array<std::array<gf, order>, order> mul() {
    std::array<std::array<gf, order>, order> t{};
    const auto e_table = exp();
    const auto l_table = log();
    // Raw pointers: every call of std::array's operator[] costs the constant
    // evaluator steps of its own.
    const gf *e = e_table.data();
    const int *l = l_table.data();
    for (unsigned a = 1; a < order; ++a) {
      gf *row = t[a].data();
      const unsigned la = static_cast<unsigned>(l[a]);
      for (unsigned b = 1; b < order; ++b)
        row[b] = e[(la + static_cast<unsigned>(l[b])) % (order - 1)];
    }
    return t;
  }
};

using gf_2_8 = field_tables<8, 0x11D>;
using gf_2_4 = field_tables<4, 0x13>;

constexpr std::array<std::array<gf, 256>, 16> packed_mul() {
  std::array<std::array<gf, 256>, 16> t{};
  for (unsigned c = 0; c < 16; ++c)
    for (unsigned b = 0; b < 256; ++b) t[c][b] = gf_slow_mul_packed4(c, b);
  return t;
}

}  // namespace

extern constexpr std::array<gf, 256> of_gf_2_8_exp = gf_2_8::exp();
extern constexpr std::array<int, 256> of_gf_2_8_log = gf_2_8::log();
extern constexpr std::array<gf, 256> of_gf_2_8_inv = gf_2_8::inv();
extern constexpr std::array<std::array<gf, 256>, 256> of_gf_2_8_mul_table = gf_2_8::mul();

extern constexpr std::array<gf, 16> of_gf_2_4_exp = gf_2_4::exp();
extern constexpr std::array<int, 16> of_gf_2_4_log = gf_2_4::log();
extern constexpr std::array<gf, 16> of_gf_2_4_inv = gf_2_4::inv();
extern constexpr std::array<std::array<gf, 16>, 16> of_gf_2_4_mul_table = gf_2_4::mul();
extern constexpr std::array<std::array<gf, 256>, 16> of_gf_2_4_opt_mul_table = packed_mul();

namespace {

template <size_t N, size_t Row>
constexpr std::array<gf_mul_const, N> constants_of(const std::array<std::array<gf, Row>, N> &rows) {
  std::array<gf_mul_const, N> t{};
  for (size_t c = 0; c < N; ++c) t[c] = gf_mul_const_from_row(rows[c].data());
  return t;
}

}  // namespace

extern constexpr std::array<gf_mul_const, 256> of_gf_2_8_mul_const =
    constants_of(of_gf_2_8_mul_table);
extern constexpr std::array<gf_mul_const, 16> of_gf_2_4_packed_mul_const =
    constants_of(of_gf_2_4_opt_mul_table);
