// GF(256) tables, scalar operations and bulk operations, including the vector
// kernels against the scalar reference.
#include "cauchy/gf256.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "zvfec/cauchy.h"

namespace {

// Carry-less multiplication reduced by 0x14D, independent of the tables.
uint8_t slow_mul(uint8_t a, uint8_t b) {
  unsigned product = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (b & (1u << bit)) product ^= static_cast<unsigned>(a) << bit;
  }
  for (int bit = 15; bit >= 8; --bit) {
    if (product & (1u << bit)) product ^= 0x14Du << (bit - 8);
  }
  return static_cast<uint8_t>(product);
}

class Gf256 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(cm256_init_(2), 0); }
};

TEST_F(Gf256, SampleValues) {
  EXPECT_EQ(GF256Ctx.Polynomial, 0x14Du);
  EXPECT_EQ(gf256_mul(2, 0x80), 0x4D);
  EXPECT_EQ(GF256Ctx.GF256_EXP_TABLE[8], 0x4D);
  EXPECT_EQ(GF256Ctx.GF256_INV_TABLE[2], 0xa6);
  EXPECT_EQ(GF256Ctx.GF256_LOG_TABLE[1], 255);
  EXPECT_EQ(GF256Ctx.GF256_LOG_TABLE[0], 512);
}

TEST_F(Gf256, TablesAgreeWithCarryLessArithmetic) {
  for (unsigned x = 0; x < 256; ++x) {
    const auto bx = static_cast<uint8_t>(x);
    ASSERT_EQ(gf256_sqr(bx), slow_mul(bx, bx)) << x;
    if (x != 0) {
      ASSERT_EQ(slow_mul(bx, gf256_inv(bx)), 1) << x;
    }
    for (unsigned y = 0; y < 256; ++y) {
      const auto by = static_cast<uint8_t>(y);
      ASSERT_EQ(gf256_mul(bx, by), slow_mul(bx, by)) << x << "*" << y;
      if (y != 0) {
        ASSERT_EQ(slow_mul(gf256_div(bx, by), by), bx) << x << "/" << y;
      }
    }
  }
}

TEST_F(Gf256, DivisionByZeroYieldsZero) {
  EXPECT_EQ(gf256_inv(0), 0);
  for (unsigned x = 0; x < 256; ++x) EXPECT_EQ(gf256_div(static_cast<uint8_t>(x), 0), 0) << x;
}

TEST_F(Gf256, ExpTableLayout) {
  const uint8_t *exp = GF256Ctx.GF256_EXP_TABLE;
  for (int i = 0; i < 255; ++i) {
    EXPECT_EQ(GF256Ctx.GF256_LOG_TABLE[exp[i]], i == 0 ? 255 : i);
    EXPECT_EQ(exp[i + 255], exp[i]) << i;
  }
  EXPECT_EQ(exp[510], 1);
  for (int i = 511; i <= 1024; ++i) ASSERT_EQ(exp[i], 0) << i;
}

// ---- bulk operations ----

constexpr int kGuardBytes = 16;
constexpr uint8_t kGuard = 0xA5;

// A region of n bytes with guard bytes on both sides, shifted by `skew` bytes
// from the allocation so that unaligned starts are covered.
struct Guarded {
  std::vector<uint8_t> storage;
  int n, skew;
  Guarded(int bytes, int skew_, std::mt19937 &rng)
      : storage(bytes + 2 * kGuardBytes + 3, kGuard), n(bytes), skew(skew_) {
    for (int i = 0; i < n; ++i) data()[i] = static_cast<uint8_t>(rng());
  }
  uint8_t *data() { return storage.data() + kGuardBytes + skew; }
  std::vector<uint8_t> bytes() { return {data(), data() + n}; }
  bool guards_intact() const {
    for (size_t i = 0; i < storage.size(); ++i) {
      const bool inside = i >= static_cast<size_t>(kGuardBytes + skew) &&
                          i < static_cast<size_t>(kGuardBytes + skew + n);
      if (!inside && storage[i] != kGuard) return false;
    }
    return true;
  }
};

struct BulkCase {
  const char *name;
  // Runs the operation on z, x, y (y unused by two-region operations).
  std::function<void(uint8_t *z, uint8_t *x, uint8_t *y, int n)> run;
  // Expected byte of z from the old bytes of z, x, y.
  std::function<uint8_t(uint8_t z, uint8_t x, uint8_t y)> expect;
  // Expected byte of x afterwards (only memswap writes its second region).
  std::function<uint8_t(uint8_t z, uint8_t x)> expect_x = [](uint8_t, uint8_t x) { return x; };
};

const std::vector<BulkCase> &bulk_cases() {
  static const std::vector<BulkCase> cases = {
      {"add_mem", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_add_mem(z, x, n); },
       [](uint8_t z, uint8_t x, uint8_t) -> uint8_t { return z ^ x; }},
      {"add2_mem", [](uint8_t *z, uint8_t *x, uint8_t *y, int n) { gf256_add2_mem(z, x, y, n); },
       [](uint8_t z, uint8_t x, uint8_t y) -> uint8_t { return z ^ x ^ y; }},
      {"addset_mem",
       [](uint8_t *z, uint8_t *x, uint8_t *y, int n) { gf256_addset_mem(z, x, y, n); },
       [](uint8_t, uint8_t x, uint8_t y) -> uint8_t { return x ^ y; }},
      {"mul_mem", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_mul_mem(z, x, 0xA2, n); },
       [](uint8_t, uint8_t x, uint8_t) { return slow_mul(x, 0xA2); }},
      {"mul_mem_by_0", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_mul_mem(z, x, 0, n); },
       [](uint8_t, uint8_t, uint8_t) -> uint8_t { return 0; }},
      {"mul_mem_by_1", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_mul_mem(z, x, 1, n); },
       [](uint8_t, uint8_t x, uint8_t) { return x; }},
      {"muladd_mem",
       [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_muladd_mem(z, 0x6C, x, n); },
       [](uint8_t z, uint8_t x, uint8_t) -> uint8_t { return z ^ slow_mul(x, 0x6C); }},
      {"muladd_mem_by_0",
       [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_muladd_mem(z, 0, x, n); },
       [](uint8_t z, uint8_t, uint8_t) { return z; }},
      {"muladd_mem_by_1",
       [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_muladd_mem(z, 1, x, n); },
       [](uint8_t z, uint8_t x, uint8_t) -> uint8_t { return z ^ x; }},
      {"div_mem", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_div_mem(z, x, 0x1D, n); },
       [](uint8_t, uint8_t x, uint8_t) { return slow_mul(x, gf256_inv(0x1D)); }},
      {"div_mem_by_1", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_div_mem(z, x, 1, n); },
       [](uint8_t, uint8_t x, uint8_t) { return x; }},
      {"memswap", [](uint8_t *z, uint8_t *x, uint8_t *, int n) { gf256_memswap(z, x, n); },
       [](uint8_t, uint8_t x, uint8_t) { return x; }, [](uint8_t z, uint8_t) { return z; }},
  };
  return cases;
}

// 63 = 7 words + 4 + 3 takes every stage; the longer ones reach the vector kernels.
constexpr int kLengths[] = {63, 8, 16, 4, 3, 1, 0, 64, 95, 127, 1207};

TEST_F(Gf256, BulkOperationsChangeExactlyTheirBytes) {
  std::mt19937 rng(7);
  for (const BulkCase &c : bulk_cases()) {
    for (int n : kLengths) {
      for (int skew = 0; skew < 3; ++skew) {
        SCOPED_TRACE(std::string(c.name) + " n=" + std::to_string(n) +
                     " skew=" + std::to_string(skew));
        Guarded z(n, skew, rng), x(n, (skew + 1) % 3, rng), y(n, (skew + 2) % 3, rng);
        const auto z0 = z.bytes(), x0 = x.bytes(), y0 = y.bytes();
        c.run(z.data(), x.data(), y.data(), n);
        for (int i = 0; i < n; ++i) {
          ASSERT_EQ(z.data()[i], c.expect(z0[i], x0[i], y0[i])) << "z byte " << i;
          ASSERT_EQ(x.data()[i], c.expect_x(z0[i], x0[i])) << "x byte " << i;
        }
        EXPECT_EQ(y.bytes(), y0);
        EXPECT_TRUE(z.guards_intact());
        EXPECT_TRUE(x.guards_intact());
        EXPECT_TRUE(y.guards_intact());
      }
    }
  }
}

TEST_F(Gf256, MultiplyInPlaceMatchesSeparateRegions) {
  std::mt19937 rng(11);
  for (int n : kLengths) {
    for (uint8_t y : {uint8_t{0x02}, uint8_t{0xA2}, uint8_t{0xFF}}) {
      SCOPED_TRACE("n=" + std::to_string(n) + " y=" + std::to_string(y));
      Guarded a(n, 1, rng), separate(n, 0, rng);
      gf256_mul_mem(separate.data(), a.data(), y, n);
      gf256_mul_mem(a.data(), a.data(), y, n);
      EXPECT_EQ(a.bytes(), separate.bytes());
      EXPECT_TRUE(a.guards_intact());
      gf256_div_mem(a.data(), a.data(), y, n);  // and back
      for (int i = 0; i < n; ++i) separate.data()[i] = slow_mul(separate.data()[i], gf256_inv(y));
      EXPECT_EQ(a.bytes(), separate.bytes());
    }
  }
}

// ---- rows of sums ----

// The constants the bulk operations use reproduce the product table.
TEST_F(Gf256, MultiplicationConstantsReproduceProducts) {
  for (unsigned y = 0; y < 256; ++y) {
    for (unsigned x = 0; x < 256; ++x) {
      ASSERT_EQ(gf_mul_const_apply(GF256MulConst[y], static_cast<uint8_t>(x)),
                gf256_mul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)))
          << x << "*" << y;
    }
  }
}

// Several rows of sums from sources of their own lengths equal the same sums
// built byte by byte with scalar products; no byte outside a region changes.
TEST_F(Gf256, DotMatchesScalarSumsOverRaggedSources) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 200; ++trial) {
    const int rows = 1 + static_cast<int>(rng() % 20);
    const int count = 1 + static_cast<int>(rng() % 70);
    const int n = static_cast<int>(rng() % 1300);
    const bool accumulate = (trial % 2) == 1;
    SCOPED_TRACE(::testing::Message() << "rows=" << rows << " count=" << count << " n=" << n
                                      << " accumulate=" << accumulate);
    std::vector<Guarded> src;
    std::vector<int> lengths;
    for (int j = 0; j < count; ++j) {
      lengths.push_back(trial % 3 == 0 ? n : static_cast<int>(rng() % (n + 1)));
      src.emplace_back(lengths.back(), j % 3, rng);
    }
    std::vector<Guarded> out;
    for (int r = 0; r < rows; ++r) out.emplace_back(n, r % 3, rng);
    std::vector<uint8_t> coeff(static_cast<size_t>(rows) * count);
    for (auto &c : coeff) c = static_cast<uint8_t>(rng());
    if (trial % 5 == 0) coeff[0] = 0;
    if (trial % 7 == 0) coeff.back() = 1;
    std::vector<const uint8_t *> src_ptrs;
    for (auto &g : src) src_ptrs.push_back(g.data());
    std::vector<uint8_t *> out_ptrs;
    for (auto &o : out) out_ptrs.push_back(o.data());
    std::vector<std::vector<uint8_t>> want;
    for (int r = 0; r < rows; ++r) {
      std::vector<uint8_t> w = out[r].bytes();
      for (int i = 0; i < n; ++i) {
        bool reached = false;
        uint8_t sum = 0;
        for (int j = 0; j < count; ++j) {
          if (i >= lengths[j]) continue;
          reached = true;
          sum ^= slow_mul(src[j].data()[i], coeff[static_cast<size_t>(r) * count + j]);
        }
        w[i] = accumulate ? (reached ? static_cast<uint8_t>(w[i] ^ sum) : w[i]) : sum;
      }
      want.push_back(w);
    }
    gf256_dot_mem(out_ptrs.data(), rows, src_ptrs.data(), lengths.data(), count, coeff.data(), n,
                  accumulate);
    for (int r = 0; r < rows; ++r) {
      ASSERT_EQ(out[r].bytes(), want[r]) << "row " << r;
      ASSERT_TRUE(out[r].guards_intact());
    }
  }
}

}  // namespace
