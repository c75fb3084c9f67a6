// One-time build of the GF(256) tables, watched from a fresh process: nothing
// in this program touches the tables before the test below.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "cauchy/gf256.h"
#include "zvfec/cauchy.h"

namespace {

bool tables_empty() {
  for (uint8_t v : GF256Ctx.GF256_MUL_TABLE) {
    if (v != 0) return false;
  }
  return GF256Ctx.Polynomial == 0 && GF256Ctx.GF256_EXP_TABLE[0] == 0;
}

// Before the tables exist the first recovery row, all ones, is still the XOR
// parity and every other row is zero, whichever kernels the processor has: no
// vector path may run on the empty tables. Runs before any build.
TEST(Gf256Init, EncodingBeforeTheBuildGivesParityThenZeros) {
  ASSERT_TRUE(tables_empty());
  constexpr int kK = 3, kM = 2, kBytes = 200;  // long enough for every vector path
  std::vector<std::vector<uint8_t>> originals(kK, std::vector<uint8_t>(kBytes));
  std::vector<std::vector<uint8_t>> recovery(kM, std::vector<uint8_t>(kBytes, 0xEE));
  std::vector<void *> o, r;
  for (int j = 0; j < kK; ++j) {
    for (int i = 0; i < kBytes; ++i) originals[j][i] = static_cast<uint8_t>(i * 7 + j * 31 + 1);
    o.push_back(originals[j].data());
  }
  for (auto &block : recovery) r.push_back(block.data());
  ASSERT_EQ(zvfec_encode({kK, kM, kBytes}, o.data(), r.data()), 0);
  for (int i = 0; i < kBytes; ++i) {
    ASSERT_EQ(recovery[0][i], originals[0][i] ^ originals[1][i] ^ originals[2][i]) << "byte " << i;
    ASSERT_EQ(recovery[1][i], 0) << "byte " << i;
  }
  EXPECT_TRUE(tables_empty());
}

TEST(Gf256Init, VersionCheckThenOneBuildUnderConcurrentFirstUse) {
  ASSERT_TRUE(tables_empty());
  // Before the build every product is zero, not a crash.
  uint8_t region[100];
  for (int i = 0; i < 100; ++i) region[i] = static_cast<uint8_t>(i + 1);
  gf256_mul_mem(region, region, 0x53, 100);
  for (uint8_t v : region) ASSERT_EQ(v, 0);

  EXPECT_EQ(gf256_init_(1), -1);
  EXPECT_EQ(cm256_init_(1), -10);
  EXPECT_EQ(cm256_init_(3), -10);
  EXPECT_TRUE(tables_empty()) << "a refused version must not build";

  // Several threads create their first handles at once.
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<int> results(kThreads, 99);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      results[t] = cm256_init_(2);
      // Each caller may use the tables as soon as its call returns.
      if (gf256_mul(2, 0x80) != 0x4D) results[t] = 100;
    });
  }
  for (auto &th : threads) th.join();
  for (int r : results) EXPECT_EQ(r, 0);
  EXPECT_EQ(GF256Ctx.Polynomial, 0x14Du);
  EXPECT_EQ(gf256_div(gf256_mul(0x37, 0xC1), 0xC1), 0x37);

  // A later call returns 0 without rebuilding: a marked entry survives it.
  const uint32_t polynomial = GF256Ctx.Polynomial;
  GF256Ctx.Polynomial = 0xDEAD;
  EXPECT_EQ(gf256_init_(2), 0);
  EXPECT_EQ(cm256_init_(2), 0);
  EXPECT_EQ(GF256Ctx.Polynomial, 0xDEADu);
  GF256Ctx.Polynomial = polynomial;
}

}  // namespace
