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
