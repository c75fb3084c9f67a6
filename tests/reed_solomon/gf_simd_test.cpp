#include "reed_solomon/gf_simd.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gf/gf_tables.h"
#include "reed_solomon/gf_kernels.h"

namespace {

const gf *random_row(std::mt19937 &rng) {
  return rng() % 2 ? of_gf_2_8_mul_table[rng() % 256].data()
                   : of_gf_2_4_opt_mul_table[rng() % 16].data();
}

// Every variant this CPU runs, and the dispatcher, must equal the plain table
// kernel on random rows, lengths and (unaligned) offsets, and must not touch
// bytes past the length.
TEST(GfSimd, VariantsMatchThePlainKernelBitForBit) {
  gf_addmul_variant variants[8];
  const int count = gf_addmul_variants(variants, 8);
  ASSERT_GE(count, 1);
  EXPECT_STREQ(variants[0].name, "plain");
  std::vector<gf_addmul_kernel> kernels = {gf_addmul_linear_row};
  for (int v = 1; v < count; ++v) {
    if (variants[v].available) kernels.push_back(variants[v].kernel);
    std::printf("variant %s: %s\n", variants[v].name,
                variants[v].available ? "tested" : "not supported here");
  }
  std::mt19937 rng(51);
  for (int trial = 0; trial < 3000; ++trial) {
    const int sz = trial < 300 ? trial : static_cast<int>(rng() % 3000);
    const size_t src_off = rng() % 32, dst_off = rng() % 32;
    std::vector<gf> src(static_cast<size_t>(sz) + 64), base(static_cast<size_t>(sz) + 64);
    for (auto &b : src) b = static_cast<gf>(rng());
    for (auto &b : base) b = static_cast<gf>(rng());
    const gf *row = random_row(rng);
    std::vector<gf> want = base;
    gf_addmul_row<0xFF>(want.data() + dst_off, src.data() + src_off, row, sz);
    for (gf_addmul_kernel kernel : kernels) {
      std::vector<gf> got = base;
      kernel(got.data() + dst_off, src.data() + src_off, row, sz);
      ASSERT_EQ(got, want) << "sz " << sz << " offsets " << src_off << "," << dst_off;
    }
  }
}

}  // namespace
