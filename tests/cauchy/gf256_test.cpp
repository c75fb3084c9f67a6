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

#include "cauchy/gf256_kernels.h"
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
      gf256_ref_mul_mem(separate.data(), separate.data(), gf256_inv(y), n);
      EXPECT_EQ(a.bytes(), separate.bytes());
    }
  }
}

// ---- vector kernels against the scalar reference ----

struct KernelSet {
  const char *level;
  const gf256_kernels *kernels;
};

std::vector<KernelSet> available_kernels() {
  std::vector<KernelSet> sets;
  if (const gf256_kernels *k = gf256_kernels_ssse3()) sets.push_back({"ssse3", k});
  if (const gf256_kernels *k = gf256_kernels_avx2()) sets.push_back({"avx2", k});
  if (const gf256_kernels *k = gf256_kernels_avx512_gfni()) sets.push_back({"avx512-gfni", k});
  return sets;
}

TEST_F(Gf256, VectorTablesReproduceProducts) {
  for (unsigned y = 0; y < 256; ++y) {
    const gf256_nibbles &t = GF256VectorTables.nibbles[y];
    const uint64_t matrix = GF256VectorTables.affine[y];
    for (unsigned x = 0; x < 256; ++x) {
      const uint8_t product = gf256_mul(static_cast<uint8_t>(x), static_cast<uint8_t>(y));
      ASSERT_EQ(t.lo[x & 15] ^ t.hi[x >> 4], product) << x << "*" << y;
      // Output bit i is the parity of the input bits selected by byte 7 - i.
      unsigned affine = 0;
      for (int i = 0; i < 8; ++i) {
        const unsigned selected = (matrix >> ((7 - i) * 8)) & x & 0xFF;
        affine |= static_cast<unsigned>(std::popcount(selected) & 1) << i;
      }
      ASSERT_EQ(affine, product) << x << "*" << y;
    }
  }
}

TEST_F(Gf256, VectorKernelsMatchReferenceBitForBit) {
  const auto sets = available_kernels();
  if (sets.empty()) GTEST_SKIP() << "no vector kernels on this processor";
  std::mt19937 rng(2024);
  for (const KernelSet &set : sets) {
    const gf256_kernels &k = *set.kernels;
    for (int trial = 0; trial < 300; ++trial) {
      const int n = static_cast<int>(rng() % 1500);
      const auto y = static_cast<uint8_t>(rng());
      const int skew = static_cast<int>(rng() % 3);
      SCOPED_TRACE(std::string(set.level) + " n=" + std::to_string(n) + " y=" + std::to_string(y));
      Guarded z(n, skew, rng), x(n, 2 - skew, rng), y2(n, 1, rng);
      // Each case: the kernel on a prefix and the reference on the rest,
      // against the reference over the whole region.
      const std::vector<std::pair<const char *, std::function<void(uint8_t *, const uint8_t *,
                                                                   const uint8_t *, int, bool)>>>
          ops = {
              {"add",
               [&](uint8_t *d, const uint8_t *a, const uint8_t *, int len, bool vec) {
                 const int done = vec ? k.add_mem(d, a, len) : 0;
                 gf256_ref_add_mem(d + done, a + done, len - done);
               }},
              {"add2",
               [&](uint8_t *d, const uint8_t *a, const uint8_t *b, int len, bool vec) {
                 const int done = vec ? k.add2_mem(d, a, b, len) : 0;
                 gf256_ref_add2_mem(d + done, a + done, b + done, len - done);
               }},
              {"addset",
               [&](uint8_t *d, const uint8_t *a, const uint8_t *b, int len, bool vec) {
                 const int done = vec ? k.addset_mem(d, a, b, len) : 0;
                 gf256_ref_addset_mem(d + done, a + done, b + done, len - done);
               }},
              {"mul",
               [&](uint8_t *d, const uint8_t *a, const uint8_t *, int len, bool vec) {
                 const int done = vec ? k.mul_mem(d, a, y, len) : 0;
                 gf256_ref_mul_mem(d + done, a + done, y, len - done);
               }},
              {"muladd",
               [&](uint8_t *d, const uint8_t *a, const uint8_t *, int len, bool vec) {
                 const int done = vec ? k.muladd_mem(d, a, y, len) : 0;
                 gf256_ref_muladd_mem(d + done, y, a + done, len - done);
               }},
          };
      for (const auto &[name, op] : ops) {
        Guarded expected = z, actual = z;
        op(expected.data(), x.data(), y2.data(), n, false);
        op(actual.data(), x.data(), y2.data(), n, true);
        ASSERT_EQ(actual.bytes(), expected.bytes()) << name;
        ASSERT_TRUE(actual.guards_intact()) << name;
      }
      // In place through the kernel.
      Guarded in_place = x, expected = x;
      const int done = k.mul_mem(in_place.data(), in_place.data(), y, n);
      EXPECT_LE(done, n);
      gf256_ref_mul_mem(in_place.data() + done, in_place.data() + done, y, n - done);
      gf256_ref_mul_mem(expected.data(), expected.data(), y, n);
      ASSERT_EQ(in_place.bytes(), expected.bytes());
    }
  }
}

// Several rows of sums in one pass, through the dispatcher and through each
// kernel set that has the kernel, equal the same sums built pass by pass with
// the reference; bytes beyond the returned prefix stay untouched.
TEST_F(Gf256, DotPrefixMatchesReferencePasses) {
  std::mt19937 rng(77);
  for (int trial = 0; trial < 200; ++trial) {
    const int rows = 1 + static_cast<int>(rng() % kGf256DotRows);
    const int count = 1 + static_cast<int>(rng() % 70);
    const int n = static_cast<int>(rng() % 1300);
    const bool accumulate = (trial % 2) == 1;
    SCOPED_TRACE(::testing::Message() << "rows=" << rows << " count=" << count << " n=" << n
                                      << " accumulate=" << accumulate);
    std::vector<Guarded> src, initial;
    for (int j = 0; j < count; ++j) src.emplace_back(n, j % 3, rng);
    for (int r = 0; r < rows; ++r) initial.emplace_back(n, r % 3, rng);
    std::vector<uint8_t> coeff(static_cast<size_t>(rows) * count);
    for (auto &c : coeff) c = static_cast<uint8_t>(rng());
    if (trial % 5 == 0) coeff[0] = 0;
    if (trial % 7 == 0) coeff.back() = 1;
    std::vector<const uint8_t *> src_ptrs;
    for (auto &g : src) src_ptrs.push_back(g.data());

    using Form = std::function<int(uint8_t *const *)>;
    std::vector<std::pair<std::string, Form>> forms = {
        {"dispatched", [&](uint8_t *const *o) {
           return gf256_dot_prefix(o, rows, src_ptrs.data(), count, coeff.data(), n, accumulate);
         }}};
    for (const KernelSet &set : available_kernels()) {
      if (set.kernels->dot_mem == nullptr) continue;
      forms.emplace_back(set.level, [&, set](uint8_t *const *o) {
        return set.kernels->dot_mem(o, rows, src_ptrs.data(), count, coeff.data(), n, accumulate);
      });
    }
    for (const auto &[form, run] : forms) {
      SCOPED_TRACE(form);
      std::vector<Guarded> out = initial;
      std::vector<uint8_t *> out_ptrs;
      for (auto &o : out) out_ptrs.push_back(o.data());
      const int done = run(out_ptrs.data());
      ASSERT_GE(done, 0);
      ASSERT_LE(done, n);
      for (int r = 0; r < rows; ++r) {
        Guarded e = initial[r];
        if (!accumulate) std::memset(e.data(), 0, static_cast<size_t>(done));
        for (int j = 0; j < count; ++j) {
          gf256_ref_muladd_mem(e.data(), coeff[static_cast<size_t>(r) * count + j], src[j].data(),
                               done);
        }
        ASSERT_EQ(out[r].bytes(), e.bytes()) << "row " << r;
        ASSERT_TRUE(out[r].guards_intact());
      }
    }
  }
  const gf256_kernels *active = gf256_active_kernels();
  if (active != nullptr && active->dot_mem != nullptr) {
    // The prefix really is served where a kernel exists.
    std::mt19937 r2(1);
    Guarded a(256, 0, r2), b(256, 0, r2);
    uint8_t *o[] = {a.data()};
    const uint8_t *x[] = {b.data()};
    const uint8_t c = 7;
    EXPECT_GE(gf256_dot_prefix(o, 1, x, 1, &c, 250, false), 250 - 63);
  }
}

}  // namespace

// ---- the dispatcher's self-check ----

// A kernel set made of the reference itself, with one chosen fault: the
// dispatcher must pass over any set that disagrees with the reference, however
// small or rare the disagreement.
enum class Fault { kNone, kAdd, kAdd2, kAddset, kMul, kMuladd, kDotSevenRows, kWritesPastEnd };
Fault g_fault = Fault::kNone;

void spoil(uint8_t *p, int bytes, Fault where) {
  if (g_fault == where && bytes > 100) p[100] ^= 0x01;
}

int ref_add(uint8_t *x, const uint8_t *y, int bytes) {
  gf256_ref_add_mem(x, y, bytes);
  spoil(x, bytes, Fault::kAdd);
  return bytes;
}
int ref_add2(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  gf256_ref_add2_mem(z, x, y, bytes);
  spoil(z, bytes, Fault::kAdd2);
  return bytes;
}
int ref_addset(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  gf256_ref_addset_mem(z, x, y, bytes);
  spoil(z, bytes, Fault::kAddset);
  return bytes;
}
int ref_mul(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  gf256_ref_mul_mem(z, x, y, bytes);
  spoil(z, bytes, Fault::kMul);
  // A kernel that stores one byte too many.
  if (g_fault == Fault::kWritesPastEnd) z[bytes] ^= 0xFF;
  return bytes;
}
int ref_muladd(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  gf256_ref_muladd_mem(z, y, x, bytes);
  spoil(z, bytes, Fault::kMuladd);
  return bytes;
}
int ref_dot(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
            const uint8_t *coeff, int bytes, bool accumulate) {
  for (int r = 0; r < rows; ++r) {
    if (!accumulate) std::memset(out[r], 0, static_cast<size_t>(bytes));
    for (int j = 0; j < count; ++j)
      gf256_ref_muladd_mem(out[r], coeff[r * count + j], src[j], bytes);
    if (rows == 7) spoil(out[r], bytes, Fault::kDotSevenRows);
  }
  return bytes;
}

TEST_F(Gf256, KernelSetThatDisagreesWithTheReferenceIsNeverChosen) {
  for (const KernelSet &set : available_kernels())
    EXPECT_TRUE(gf256_kernels_agree_with_reference(*set.kernels)) << set.level;

  const gf256_kernels faulty{"faulty", ref_add, ref_add2, ref_addset, ref_mul, ref_muladd, ref_dot};
  const gf256_kernels *candidates[] = {nullptr, &faulty};
  g_fault = Fault::kNone;
  EXPECT_EQ(gf256_choose_kernels(candidates, 2), &faulty) << "without its fault the set is taken";
  for (const Fault f : {Fault::kAdd, Fault::kAdd2, Fault::kAddset, Fault::kMul, Fault::kMuladd,
                        Fault::kDotSevenRows, Fault::kWritesPastEnd}) {
    SCOPED_TRACE(static_cast<int>(f));
    g_fault = f;
    EXPECT_FALSE(gf256_kernels_agree_with_reference(faulty));
    EXPECT_EQ(gf256_choose_kernels(candidates, 2), nullptr);
  }
  g_fault = Fault::kNone;
}
