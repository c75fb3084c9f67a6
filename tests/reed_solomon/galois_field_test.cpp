#include "reed_solomon/galois_field.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gf/gf_tables.h"

namespace {

// Independent carry-less product, the reference for every table.
unsigned ref_mul(unsigned a, unsigned b, unsigned poly, unsigned bits) {
  unsigned p = 0;
  for (; b != 0; b >>= 1) {
    if (b & 1) p ^= a;
    a <<= 1;
    if (a >> bits) a ^= poly;
  }
  return p;
}
unsigned mul8(unsigned a, unsigned b) { return ref_mul(a, b, 0x11D, 8); }
unsigned mul4(unsigned a, unsigned b) { return ref_mul(a, b, 0x13, 4); }

TEST(GaloisFieldTables, SampleEntries) {
  EXPECT_EQ(of_gf_2_8_exp[8], 29);
  EXPECT_EQ(of_gf_2_8_exp[255], 1);
  EXPECT_EQ(of_gf_2_8_log[3], 25);
  EXPECT_EQ(of_gf_2_8_log[255], 175);
  EXPECT_EQ(of_gf_2_8_log[0], 255);
  EXPECT_EQ(of_gf_2_8_mul_table[2][128], 29);
  EXPECT_EQ(of_gf_2_8_mul_table[3][7], 9);
  EXPECT_EQ(of_gf_2_8_inv[2], 142);
  EXPECT_EQ(of_gf_2_8_inv[3], 244);
  EXPECT_EQ(of_gf_2_8_inv[0], 0);
  const std::vector<int> exp4 = {1, 2, 4, 8, 3, 6, 12, 11, 5, 10, 7, 14, 15, 13, 9, 1};
  EXPECT_EQ(std::vector<int>(of_gf_2_4_exp.begin(), of_gf_2_4_exp.end()), exp4);
  EXPECT_EQ(of_gf_2_4_log[0], 15);
  EXPECT_EQ(of_gf_2_4_mul_table[2][8], 3);
  EXPECT_EQ(of_gf_2_4_inv[2], 9);
  EXPECT_EQ(of_gf_2_4_opt_mul_table[3][0x12], 0x36);
  EXPECT_EQ(of_gf_2_4_opt_mul_table[2][0xFF], 0xDD);
}

TEST(GaloisFieldTables, AgreeWithReferenceArithmetic) {
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b)
      ASSERT_EQ(of_gf_2_8_mul_table[a][b], mul8(a, b)) << a << "*" << b;
    if (a != 0) {
      EXPECT_EQ(mul8(a, of_gf_2_8_inv[a]), 1u) << a;
      EXPECT_EQ(of_gf_2_8_exp[static_cast<size_t>(of_gf_2_8_log[a])], a);
    }
  }
  for (unsigned a = 0; a < 16; ++a) {
    for (unsigned b = 0; b < 16; ++b) ASSERT_EQ(of_gf_2_4_mul_table[a][b], mul4(a, b));
    for (unsigned byte = 0; byte < 256; ++byte)
      ASSERT_EQ(of_gf_2_4_opt_mul_table[a][byte], mul4(a, byte >> 4) << 4 | mul4(a, byte & 15));
    if (a != 0) {
      EXPECT_EQ(mul4(a, of_gf_2_4_inv[a]), 1u) << a;
      EXPECT_EQ(of_gf_2_4_exp[static_cast<size_t>(of_gf_2_4_log[a])], a);
    }
  }
}

enum class Kernel { addmul_2_8, addmul_2_4, compact_2_4 };

// Every kernel against a byte-by-byte reference, over lengths that exercise
// the tail alone (0..15), the 16-byte loop alone and both, with factors 0, 1
// and random ones; bytes past sz must stay untouched.
TEST(GaloisFieldAddmul, MatchesBytewiseReferenceAtEveryLength) {
  std::mt19937 rng(7);
  for (Kernel kernel : {Kernel::addmul_2_8, Kernel::addmul_2_4, Kernel::compact_2_4}) {
    const unsigned elems = kernel == Kernel::addmul_2_8 ? 256 : 16;
    for (int sz = 0; sz <= 50; ++sz) {
      for (unsigned c : {0u, 1u, static_cast<unsigned>(rng() % elems), elems - 1}) {
        std::vector<gf> src(static_cast<size_t>(sz) + 8), dst(static_cast<size_t>(sz) + 8);
        for (auto &b : src) b = static_cast<gf>(kernel == Kernel::addmul_2_4 ? rng() % 16 : rng());
        for (auto &b : dst) b = static_cast<gf>(rng());
        std::vector<gf> want = dst;
        for (int i = 0; i < sz; ++i) {
          const unsigned s = src[static_cast<size_t>(i)];
          unsigned product = kernel == Kernel::addmul_2_8 ? mul8(c, s)
                             : kernel == Kernel::addmul_2_4
                                 ? mul4(c, s)
                                 : (mul4(c, s >> 4) << 4 | mul4(c, s & 15));
          want[static_cast<size_t>(i)] ^= static_cast<gf>(product);
        }
        const gf cc = static_cast<gf>(c);
        if (kernel == Kernel::addmul_2_8)
          of_galois_field_2_8_addmul1(dst.data(), src.data(), cc, sz);
        if (kernel == Kernel::addmul_2_4)
          of_galois_field_2_4_addmul1(dst.data(), src.data(), cc, sz);
        if (kernel == Kernel::compact_2_4)
          of_galois_field_2_4_addmul1_compact(dst.data(), src.data(), cc, sz);
        ASSERT_EQ(dst, want) << "kernel " << static_cast<int>(kernel) << " sz " << sz << " c " << c;
      }
    }
  }
}

struct Field {
  unsigned order;
  unsigned (*mul)(unsigned, unsigned);
  void (*matmul)(gf *, gf *, gf *, int, int, int);
  int (*invert_mat)(of_galois_field_code_cb_t *, gf *, int);
  int (*invert_vdm)(of_galois_field_code_cb_t *, gf *, int);
};
const Field fields[] = {
    {256, mul8, of_galois_field_2_8_matmul, of_galois_field_2_8_invert_mat,
     of_galois_field_2_8_invert_vdm},
    {16, mul4, of_galois_field_2_4_matmul, of_galois_field_2_4_invert_mat,
     of_galois_field_2_4_invert_vdm},
};

std::vector<gf> identity(int k) {
  std::vector<gf> m(static_cast<size_t>(k * k), 0);
  for (int i = 0; i < k; ++i) m[static_cast<size_t>(i * k + i)] = 1;
  return m;
}

TEST(GaloisFieldMatrix, MatmulMatchesReference) {
  std::mt19937 rng(3);
  for (const Field &f : fields) {
    const int n = 3, k = 4, m = 5;
    std::vector<gf> a(n * k), b(k * m), c(n * m);
    for (auto &x : a) x = static_cast<gf>(rng() % f.order);
    for (auto &x : b) x = static_cast<gf>(rng() % f.order);
    f.matmul(a.data(), b.data(), c.data(), n, k, m);
    for (int row = 0; row < n; ++row)
      for (int col = 0; col < m; ++col) {
        unsigned acc = 0;
        for (int i = 0; i < k; ++i) acc ^= f.mul(a[size_t(row * k + i)], b[size_t(i * m + col)]);
        EXPECT_EQ(c[size_t(row * m + col)], acc);
      }
  }
}

TEST(GaloisFieldMatrix, InvertMatIdentityAndSingular) {
  for (const Field &f : fields) {
    std::vector<gf> id = identity(5), m = id;
    EXPECT_EQ(f.invert_mat(nullptr, m.data(), 5), 0);
    EXPECT_EQ(m, id);
    std::vector<gf> zero_row = {1, 2, 3, 0, 0, 0, 4, 5, 7};
    EXPECT_EQ(f.invert_mat(nullptr, zero_row.data(), 3), 1);
    std::vector<gf> equal_rows = {1, 2, 3, 4, 5, 6, 1, 2, 3};
    EXPECT_EQ(f.invert_mat(nullptr, equal_rows.data(), 3), 1);
  }
}

// The product of a random matrix with its computed inverse is the identity;
// singular draws must be reported as such (their product is never checked).
TEST(GaloisFieldMatrix, InvertMatOfRandomMatricesGivesTheInverse) {
  std::mt19937 rng(11);
  for (const Field &f : fields) {
    int inverted = 0;
    for (int trial = 0; trial < 60; ++trial) {
      const int k = 1 + trial % (f.order == 256 ? 24 : 7);
      std::vector<gf> a(static_cast<size_t>(k * k));
      for (auto &x : a) x = static_cast<gf>(rng() % f.order);
      std::vector<gf> inv = a, product(a.size());
      if (f.invert_mat(nullptr, inv.data(), k) != 0) continue;
      ++inverted;
      f.matmul(inv.data(), a.data(), product.data(), k, k, k);
      ASSERT_EQ(product, identity(k)) << "k " << k;
      f.matmul(a.data(), inv.data(), product.data(), k, k, k);
      ASSERT_EQ(product, identity(k)) << "k " << k;
    }
    EXPECT_GT(inverted, 30);
  }
}

TEST(GaloisFieldMatrix, InvertVdm) {
  for (const Field &f : fields) {
    std::vector<gf> one = {7};
    EXPECT_EQ(f.invert_vdm(nullptr, one.data(), 1), 0);
    EXPECT_EQ(one, std::vector<gf>{7});
    // Points 0 and 1: in characteristic 2 the matrix is its own inverse.
    std::vector<gf> m = {1, 0, 1, 1};
    EXPECT_EQ(f.invert_vdm(nullptr, m.data(), 2), 0);
    EXPECT_EQ(m, (std::vector<gf>{1, 0, 1, 1}));
    // Distinct points 0, 1, 2, ...: the product with the original is I.
    const int k = f.order == 256 ? 40 : 15;
    std::vector<gf> vdm(static_cast<size_t>(k * k));
    for (int row = 0; row < k; ++row) {
      unsigned power = 1;
      for (int col = 0; col < k; ++col) {
        vdm[size_t(row * k + col)] = static_cast<gf>(power);
        power = f.mul(power, static_cast<unsigned>(row));
      }
    }
    vdm[0] = 1;  // 0^0
    std::vector<gf> inv = vdm, product(vdm.size());
    EXPECT_EQ(f.invert_vdm(nullptr, inv.data(), k), 0);
    f.matmul(vdm.data(), inv.data(), product.data(), k, k, k);
    EXPECT_EQ(product, identity(k));
  }
}

}  // namespace
