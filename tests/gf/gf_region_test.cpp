// The region arithmetic: every kernel set this processor runs against the
// scalar reference, the reference against plain field arithmetic, for every
// field in use, over odd lengths and misaligned buffers; and the dispatcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gf/gf_cauchy_solve.h"
#include "gf/gf_kernels.h"
#include "gf/gf_region.h"
#include "gf/gf_tables.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The product rows of one field, by the carry-less reference product (itself
// checked against an independent multiply-then-reduce in the Cauchy field's
// tests): row(c)[x] = c * x.
struct Field {
  const char *name;
  int constants;  // how many constants c the field has
  uint8_t (*product)(unsigned c, unsigned x);
};

const Field kFields[] = {
    {"GF(2^8)/0x11D", 256, [](unsigned c, unsigned x) { return gf_slow_mul(c, x, 0x11D, 8); }},
    {"GF(2^8)/0x14D", 256, [](unsigned c, unsigned x) { return gf_slow_mul(c, x, 0x14D, 8); }},
    {"packed GF(2^4)/0x13", 16, gf_slow_mul_packed4},
};

std::vector<gf_mul_const> constants_of(const Field &f) {
  std::vector<gf_mul_const> out;
  for (int c = 0; c < f.constants; ++c) {
    uint8_t row[256];
    for (unsigned x = 0; x < 256; ++x) row[x] = f.product(static_cast<unsigned>(c), x);
    out.push_back(gf_mul_const_from_row(row));
  }
  return out;
}

// What the GF(2) affine instruction computes with the constant's matrix.
uint8_t affine_apply(uint64_t matrix, uint8_t x) {
  unsigned out = 0;
  for (int i = 0; i < 8; ++i) {
    const unsigned selected = static_cast<unsigned>(matrix >> ((7 - i) * 8)) & x & 0xFF;
    out |= static_cast<unsigned>(std::popcount(selected) & 1) << i;
  }
  return static_cast<uint8_t>(out);
}

TEST(GfConstants, BothFormsReproduceEveryProductOfEveryField) {
  for (const Field &f : kFields) {
    SCOPED_TRACE(f.name);
    const std::vector<gf_mul_const> cs = constants_of(f);
    for (int c = 0; c < f.constants; ++c) {
      for (unsigned x = 0; x < 256; ++x) {
        const uint8_t want = f.product(static_cast<unsigned>(c), x);
        ASSERT_EQ(gf_mul_const_apply(cs[c], static_cast<uint8_t>(x)), want) << c << "*" << x;
        ASSERT_EQ(affine_apply(cs[c].affine, static_cast<uint8_t>(x)), want) << c << "*" << x;
      }
    }
  }
  // The tables the Reed-Solomon codecs use are these constants.
  for (int c = 0; c < 256; ++c) {
    ASSERT_EQ(
        std::memcmp(&of_gf_2_8_mul_const[c], &constants_of(kFields[0])[c], sizeof(gf_mul_const)),
        0);
  }
  for (int c = 0; c < 16; ++c) {
    ASSERT_EQ(std::memcmp(&of_gf_2_4_packed_mul_const[c], &constants_of(kFields[2])[c],
                          sizeof(gf_mul_const)),
              0);
  }
}

// A region with guard bytes on both sides, starting `skew` bytes into its
// allocation, so that misaligned starts and overruns show.
class Guarded {
 public:
  Guarded(size_t n, size_t skew, std::mt19937 &rng) : n_(n), skew_(skew), mem_(n + skew + 64) {
    for (uint8_t &b : mem_) b = static_cast<uint8_t>(rng());
  }
  uint8_t *data() { return mem_.data() + skew_; }
  const Bytes &all() const { return mem_; }
  Bytes bytes() const { return Bytes(mem_.begin() + skew_, mem_.begin() + skew_ + n_); }

 private:
  size_t n_, skew_;
  Bytes mem_;
};

std::vector<const gf_kernel_set *> available_sets() {
  const gf_kernel_set *sets[8];
  const int n = gf_available_kernel_sets(sets, 8);
  return {sets, sets + n};
}

// Each set computes every operation on the same random inputs; the whole
// allocations, guard bytes included, must equal the reference's.
TEST(GfKernels, EveryKernelSetMatchesTheReferenceBitForBit) {
  const std::vector<const gf_kernel_set *> sets = available_sets();
  ASSERT_STREQ(sets[0]->name, "scalar");
  for (const gf_kernel_set *k : sets) std::printf("kernel set %s: tested\n", k->name);
  std::vector<std::vector<gf_mul_const>> fields;
  for (const Field &f : kFields) fields.push_back(constants_of(f));
  const gf_kernel_set &ref = gf_kernels_scalar();
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 400; ++trial) {
    const size_t n = trial < 100 ? static_cast<size_t>(trial) : rng() % 1500;
    const std::vector<gf_mul_const> &cs = fields[static_cast<size_t>(trial) % fields.size()];
    const int rows = 1 + static_cast<int>(rng() % kGfDotRows);
    // Beyond 128 sources the kernels take them in several passes.
    const int count = 1 + static_cast<int>(rng() % (trial % 10 == 0 ? 300 : 12));
    const bool accumulate = rng() % 2 == 1;
    SCOPED_TRACE(::testing::Message() << "n=" << n << " rows=" << rows << " count=" << count
                                      << " accumulate=" << accumulate);
    std::vector<Guarded> src, out;
    for (int j = 0; j < count; ++j) src.emplace_back(n, rng() % 7, rng);
    for (int r = 0; r < rows; ++r) out.emplace_back(n, rng() % 7, rng);
    std::vector<const uint8_t *> sp;
    for (Guarded &g : src) sp.push_back(g.data());
    std::vector<uint8_t> coeff;
    for (int i = 0; i < rows * count; ++i) coeff.push_back(static_cast<uint8_t>(rng() % cs.size()));

    for (const gf_kernel_set *k : sets) {
      SCOPED_TRACE(k->name);
      // xor_sum
      Guarded want = out[0], got = out[0];
      ref.xor_sum(want.data(), sp.data(), count, n, accumulate);
      k->xor_sum(got.data(), sp.data(), count, n, accumulate);
      ASSERT_EQ(got.all(), want.all()) << "xor_sum";
      // mul, separate regions and in place
      want = out[0], got = out[0];
      ref.mul(want.data(), sp[0], &cs[coeff[0]], n, accumulate);
      k->mul(got.data(), sp[0], &cs[coeff[0]], n, accumulate);
      ASSERT_EQ(got.all(), want.all()) << "mul";
      want = src[0], got = src[0];
      ref.mul(want.data(), want.data(), &cs[coeff[0]], n, accumulate);
      k->mul(got.data(), got.data(), &cs[coeff[0]], n, accumulate);
      ASSERT_EQ(got.all(), want.all()) << "mul in place";
      // dot
      std::vector<Guarded> want_rows = out, got_rows = out;
      std::vector<uint8_t *> wp, gp;
      for (int r = 0; r < rows; ++r) {
        wp.push_back(want_rows[r].data());
        gp.push_back(got_rows[r].data());
      }
      ref.dot(wp.data(), rows, sp.data(), count, cs.data(), coeff.data(), n, accumulate);
      k->dot(gp.data(), rows, sp.data(), count, cs.data(), coeff.data(), n, accumulate);
      for (int r = 0; r < rows; ++r)
        ASSERT_EQ(got_rows[r].all(), want_rows[r].all()) << "dot " << r;
      // dot with the first and the last output also the first and the last
      // source, as a decoder restores originals over the blocks it reads
      if (count > 256) continue;
      want_rows = out, got_rows = out;
      std::vector<const uint8_t *> wsp = sp, gsp = sp;
      wsp.front() = wp.front(), gsp.front() = gp.front();
      wsp.back() = wp.back(), gsp.back() = gp.back();
      ref.dot(wp.data(), rows, wsp.data(), count, cs.data(), coeff.data(), n, accumulate);
      k->dot(gp.data(), rows, gsp.data(), count, cs.data(), coeff.data(), n, accumulate);
      for (int r = 0; r < rows; ++r)
        ASSERT_EQ(got_rows[r].all(), want_rows[r].all()) << "dot in place " << r;
    }
  }
}

// Sources that share one misalignment, as the symbols of one pool do, are
// taken in a partial step up to the first vector boundary and in whole
// vectors after it: every set agrees with the reference on lengths about that
// boundary, with the outputs apart and over the first sources, and writes
// nothing else.
TEST(GfKernels, DotOverSourcesSharingOneMisalignment) {
  const std::vector<gf_mul_const> cs = constants_of(kFields[0]);
  const gf_kernel_set &ref = gf_kernels_scalar();
  constexpr size_t kSlot = 2048;
  constexpr int kCount = 4;
  std::mt19937 rng(77);
  for (const gf_kernel_set *k : available_sets()) {
    SCOPED_TRACE(k->name);
    for (const size_t offset : {1u, 16u, 48u, 63u}) {
      const size_t head = 64 - offset;
      for (const size_t n : {head - 1, head, head + 1, head + 64, size_t{1200}}) {
        for (const int rows : {1, 2, 5}) {
          for (const bool in_place : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "offset=" << offset << " n=" << n
                                              << " rows=" << rows << " in_place=" << in_place);
            // Both arenas hold the same bytes from the same 64-byte boundary.
            const size_t slots = static_cast<size_t>(kCount + rows);
            Bytes fill(slots * kSlot);
            for (uint8_t &b : fill) b = static_cast<uint8_t>(rng());
            Bytes want_mem(fill.size() + 64), got_mem(fill.size() + 64);
            auto aligned = [](Bytes &m) {
              const uintptr_t at = reinterpret_cast<uintptr_t>(m.data());
              return m.data() + ((64 - at % 64) % 64);
            };
            uint8_t *want = aligned(want_mem), *got = aligned(got_mem);
            std::memcpy(want, fill.data(), fill.size());
            std::memcpy(got, fill.data(), fill.size());
            auto regions = [&](uint8_t *base, std::vector<const uint8_t *> &src,
                               std::vector<uint8_t *> &out) {
              for (size_t j = 0; j < slots; ++j) {
                uint8_t *p = base + j * kSlot + offset;
                if (j < kCount) src.push_back(p);
                if (j >= kCount) out.push_back(p);
              }
              // In place, the outputs are the first sources.
              for (int r = 0; in_place && r < std::min(rows, kCount); ++r)
                out[static_cast<size_t>(r)] = const_cast<uint8_t *>(src[static_cast<size_t>(r)]);
            };
            std::vector<const uint8_t *> want_src, got_src;
            std::vector<uint8_t *> want_out, got_out;
            regions(want, want_src, want_out);
            regions(got, got_src, got_out);
            std::vector<uint8_t> coeff;
            for (int i = 0; i < rows * kCount; ++i) coeff.push_back(static_cast<uint8_t>(rng()));
            ref.dot(want_out.data(), rows, want_src.data(), kCount, cs.data(), coeff.data(), n,
                    false);
            k->dot(got_out.data(), rows, got_src.data(), kCount, cs.data(), coeff.data(), n, false);
            ASSERT_EQ(0, std::memcmp(want, got, fill.size()));
          }
        }
      }
    }
  }
}

// The field maps of the closed-form solve carry each field's products onto
// those of the GFNI field, and the field operations of every set that has
// them match their references, for both fields, over ragged counts.
TEST(GfKernels, CauchyFieldOperationsMatchTheReference) {
  struct Mapped {
    unsigned poly;
    gf_field_map map;
  };
  const Mapped fields[] = {{0x11D, gf_solve_field_11d().map}, {0x14D, gf_solve_field_14d().map}};
  for (const Mapped &f : fields) {
    for (unsigned a = 0; a < 256; a += 3) {
      for (unsigned b = 0; b < 256; b += 5) {
        const uint8_t there =
            gf_slow_mul(affine_apply(f.map.to, static_cast<uint8_t>(a)),
                        affine_apply(f.map.to, static_cast<uint8_t>(b)), 0x11B, 8);
        ASSERT_EQ(affine_apply(f.map.from, there), gf_slow_mul(a, b, f.poly, 8)) << a << "*" << b;
      }
    }
  }
  std::mt19937 rng(77);
  for (const gf_kernel_set *k : available_sets()) {
    if (k->cauchy_weights == nullptr) continue;
    SCOPED_TRACE(k->name);
    for (int trial = 0; trial < 40; ++trial) {
      const gf_field_map &map = fields[trial % 2].map;
      const size_t n = trial < 10 ? static_cast<size_t>(trial) : 1 + rng() % 256;
      const int m = static_cast<int>(rng() % 9);
      const int rows = 1 + static_cast<int>(rng() % 12);
      SCOPED_TRACE(::testing::Message() << "n=" << n << " m=" << m << " rows=" << rows);
      // Element points from 16 on, row points below: never equal.
      Bytes x(n), scale(n), fy(8), fx(8), y(rows), f(rows);
      for (auto &v : x) v = static_cast<uint8_t>(16 + rng() % 240);
      for (auto &v : scale) v = static_cast<uint8_t>(rng());
      for (int j = 0; j < 8; ++j) {
        // Some factors vanish: points of the elements themselves.
        fy[j] = n > 0 && j % 3 == 0 ? x[rng() % n] : static_cast<uint8_t>(rng());
        fx[j] = n > 0 && j % 3 == 1 ? x[rng() % n] : static_cast<uint8_t>(rng());
      }
      for (int i = 0; i < rows; ++i) {
        y[i] = static_cast<uint8_t>(rng() % 16);
        f[i] = static_cast<uint8_t>(rng());
      }
      Guarded w_want(n, 1, rng), num_want(n, 2, rng), den_want(n, 3, rng);
      Guarded w_got = w_want, num_got = num_want, den_got = den_want;
      gf_cauchy_weights_reference(w_want.data(), num_want.data(), den_want.data(), x.data(),
                                  scale.data(), n, fy.data(), fx.data(), m, &map);
      k->cauchy_weights(w_got.data(), num_got.data(), den_got.data(), x.data(), scale.data(), n,
                        fy.data(), fx.data(), m, &map);
      ASSERT_EQ(w_got.all(), w_want.all());
      ASSERT_EQ(num_got.all(), num_want.all());
      ASSERT_EQ(den_got.all(), den_want.all());
      Guarded out_want(n * static_cast<size_t>(rows), 5, rng), out_got = out_want;
      gf_cauchy_rows_reference(out_want.data(), rows, w_want.data(), x.data(), n, y.data(),
                               f.data(), &map);
      k->cauchy_rows(out_got.data(), rows, w_want.data(), x.data(), n, y.data(), f.data(), &map);
      ASSERT_EQ(out_got.all(), out_want.all());
    }
  }
}

// The reference itself against field arithmetic, byte by byte, and the
// region operations of the active set with more rows than one pass holds and
// sources of their own lengths.
TEST(GfKernels, RegionOperationsComputeFieldSums) {
  std::mt19937 rng(5);
  for (const Field &f : kFields) {
    SCOPED_TRACE(f.name);
    const std::vector<gf_mul_const> cs = constants_of(f);
    for (int trial = 0; trial < 40; ++trial) {
      const size_t n = rng() % 700;
      const int rows = 1 + static_cast<int>(rng() % 20);
      const int count = static_cast<int>(rng() % 40);
      const bool accumulate = trial % 2 == 1;
      std::vector<Bytes> src(static_cast<size_t>(count), Bytes(n));
      std::vector<size_t> lengths;
      for (Bytes &s : src) {
        for (uint8_t &b : s) b = static_cast<uint8_t>(rng());
        lengths.push_back(trial % 4 == 0 ? n : rng() % (n + 2));
      }
      std::vector<uint8_t> picks;
      for (int i = 0; i < rows * count; ++i)
        picks.push_back(static_cast<uint8_t>(rng() % cs.size()));
      std::vector<Bytes> out(static_cast<size_t>(rows), Bytes(n)), out_ragged;
      for (Bytes &o : out)
        for (uint8_t &b : o) b = static_cast<uint8_t>(rng());
      out_ragged = out;
      std::vector<Bytes> want = out, want_ragged = out;
      for (int r = 0; r < rows; ++r) {
        for (size_t i = 0; i < n; ++i) {
          uint8_t sum = accumulate ? want[r][i] : 0, ragged = sum;
          for (int j = 0; j < count; ++j) {
            const uint8_t p = f.product(static_cast<unsigned>(picks[r * count + j]), src[j][i]);
            sum ^= p;
            if (i < lengths[j]) ragged ^= p;
          }
          want[r][i] = sum;
          // Bytes that no source reaches stay as they were when accumulating.
          const bool reached =
              std::any_of(lengths.begin(), lengths.end(), [&](size_t len) { return i < len; });
          want_ragged[r][i] = accumulate && !reached ? want_ragged[r][i] : ragged;
        }
      }
      std::vector<const uint8_t *> sp;
      for (Bytes &s : src) sp.push_back(s.data());
      std::vector<uint8_t *> op;
      for (Bytes &o : out) op.push_back(o.data());
      gf_region_dot(op.data(), rows, sp.data(), count, cs.data(), picks.data(), n, accumulate);
      EXPECT_EQ(out, want);
      // The ragged form, one pass of up to eight rows at a time.
      for (int r0 = 0; r0 < rows; r0 += kGfDotRows) {
        std::vector<uint8_t *> rp;
        for (int r = r0; r < std::min(rows, r0 + kGfDotRows); ++r)
          rp.push_back(out_ragged[r].data());
        ASSERT_TRUE(gf_region_dot_ragged(rp.data(), static_cast<int>(rp.size()), sp.data(),
                                         lengths.data(), count, cs.data(),
                                         picks.data() + r0 * count, n, accumulate));
      }
      EXPECT_EQ(out_ragged, want_ragged);
      // Single-constant forms through the scalar reference.
      if (count > 0) {
        Bytes m(n), ma = out[0];
        gf_kernels_scalar().mul(m.data(), sp[0], &cs[picks[0]], n, false);
        gf_kernels_scalar().mul(ma.data(), sp[0], &cs[picks[0]], n, true);
        for (size_t i = 0; i < n; ++i) {
          const uint8_t p = f.product(static_cast<unsigned>(picks[0]), src[0][i]);
          ASSERT_EQ(m[i], p);
          ASSERT_EQ(ma[i], out[0][i] ^ p);
        }
      }
    }
  }
}

// ---- the dispatcher ----

// Kernel sets made of the reference with one chosen fault: the dispatcher must
// pass over any set that disagrees with the reference, however small or rare
// the disagreement.
enum class Fault {
  kNone,
  kXor,
  kMul,
  kMulAccumulate,
  kDotSevenRows,
  kDotNotInPlace,
  kCauchyWeights,
  kCauchyRows,
  kWritesPastEnd
};
Fault g_fault = Fault::kNone;

void spoil(uint8_t *p, size_t bytes, bool when) {
  if (when && bytes > 100) p[100] ^= 0x01;
}

void faulty_xor(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes, bool acc) {
  gf_kernels_scalar().xor_sum(dst, src, count, bytes, acc);
  spoil(dst, bytes, g_fault == Fault::kXor && count == 2);
}
void faulty_mul(uint8_t *dst, const uint8_t *src, const gf_mul_const *c, size_t bytes, bool acc) {
  gf_kernels_scalar().mul(dst, src, c, bytes, acc);
  spoil(dst, bytes, g_fault == Fault::kMul || (g_fault == Fault::kMulAccumulate && acc));
  if (g_fault == Fault::kWritesPastEnd) dst[bytes] ^= 0xFF;
}
void faulty_dot(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool acc) {
  if (g_fault == Fault::kDotNotInPlace) {
    // Row by row into the outputs: right unless an output is also a source.
    for (int r = 0; r < rows; ++r) {
      gf_kernels_scalar().dot(out + r, 1, src, count, field, coeff + r * count, bytes, acc);
    }
    return;
  }
  gf_kernels_scalar().dot(out, rows, src, count, field, coeff, bytes, acc);
  for (int r = 0; r < rows; ++r) spoil(out[r], bytes, g_fault == Fault::kDotSevenRows && rows == 7);
}

void faulty_weights(uint8_t *w, uint8_t *num, uint8_t *den, const uint8_t *x, const uint8_t *scale,
                    size_t n, const uint8_t *fy, const uint8_t *fx, int m,
                    const gf_field_map *map) {
  gf_cauchy_weights_reference(w, num, den, x, scale, n, fy, fx, m, map);
  if (g_fault == Fault::kCauchyWeights && m == 8) w[n - 1] ^= 1;
}
void faulty_rows(uint8_t *out, int rows, const uint8_t *w, const uint8_t *x, size_t n,
                 const uint8_t *y, const uint8_t *f, const gf_field_map *map) {
  gf_cauchy_rows_reference(out, rows, w, x, n, y, f, map);
  // Right for one batch of rows only.
  if (g_fault == Fault::kCauchyRows && rows > kGfDotRows) out[kGfDotRows * n] ^= 1;
}

TEST(GfDispatch, KernelSetThatDisagreesWithTheReferenceIsNeverChosen) {
  for (const gf_kernel_set *k : available_sets())
    EXPECT_TRUE(gf_kernels_agree_with_reference(*k)) << k->name;

  const gf_kernel_set faulty{"faulty",   faulty_xor,     faulty_mul,
                             faulty_dot, faulty_weights, faulty_rows};
  const gf_kernel_set *candidates[] = {nullptr, &faulty};
  g_fault = Fault::kNone;
  EXPECT_EQ(&gf_choose_kernels(candidates, 2), &faulty) << "without its fault the set is taken";
  for (const Fault f :
       {Fault::kXor, Fault::kMul, Fault::kMulAccumulate, Fault::kDotSevenRows,
        Fault::kDotNotInPlace, Fault::kCauchyWeights, Fault::kCauchyRows, Fault::kWritesPastEnd}) {
    SCOPED_TRACE(static_cast<int>(f));
    g_fault = f;
    EXPECT_FALSE(gf_kernels_agree_with_reference(faulty));
    EXPECT_EQ(&gf_choose_kernels(candidates, 2), &gf_kernels_scalar());
  }
  g_fault = Fault::kNone;
}

// Run with ZVFEC_GF_KERNELS set (CTest does so for every set name): the set
// in use is the named one where this processor has it, and never a better one.
TEST(GfDispatch, ActiveSetHonoursTheCapInTheEnvironment) {
  const char *cap = std::getenv("ZVFEC_GF_KERNELS");
  if (cap == nullptr) GTEST_SKIP() << "ZVFEC_GF_KERNELS not set";
#if defined(__aarch64__)
  const std::vector<std::string> order = {"scalar", "neon", "sve256", "sve512"};
#else
  const std::vector<std::string> order = {"scalar", "ssse3",     "avx2",
                                          "avx512", "avx2-gfni", "avx512-gfni"};
#endif
  if (std::find(order.begin(), order.end(), cap) == order.end())
    GTEST_SKIP() << cap << " is a set of another architecture";
  const auto rank = [&](const std::string &name) {
    return std::find(order.begin(), order.end(), name) - order.begin();
  };
  const std::string active = gf_active_kernels().name;
  EXPECT_LE(rank(active), rank(cap));
  bool available = false;
  for (const gf_kernel_set *k : available_sets())
    available = available || cap == std::string(k->name);
  if (available) {
    EXPECT_EQ(active, cap);
  }
}

}  // namespace
