#include "binary/of_rand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Rfc5170Rand, FollowsTheMinimalStandardSequence) {
  of_rfc5170_srand(1);
  EXPECT_EQ(of_rfc5170_rand(2147483647), 16807u);  // the state itself, scaled by one
  EXPECT_EQ(of_seed, 16807u);
  EXPECT_EQ(of_rfc5170_rand(100), 13u);  // 282475249 * 100 / (2^31 - 1)
  EXPECT_EQ(of_seed, 282475249u);
  for (int i = 2; i < 10000; ++i) of_rfc5170_rand(1);
  EXPECT_EQ(of_seed, 1043618065u);
}

TEST(Rfc5170Rand, DrawsStayBelowTheBound) {
  of_rfc5170_srand(0x7FFFFFFE);  // the largest seed accepted
  EXPECT_EQ(of_seed, 0x7FFFFFFEu);
  for (uint64_t maxv : {1ull, 2ull, 3ull, 1000ull, 0x7FFFFFFFull, 1ull << 40}) {
    for (int i = 0; i < 500; ++i) {
      const uint64_t v = of_rfc5170_rand(maxv);
      ASSERT_LT(v, maxv);
      if (maxv == 1) {
        ASSERT_EQ(v, 0u);
      }
    }
  }
}

TEST(Rfc5170Rand, OutOfRangeSeedsKeepTheState) {
  of_rfc5170_srand(12345);
  of_rfc5170_rand(10);
  const uint64_t state = of_seed;
  for (uint64_t bad : {0ull, 0x7FFFFFFFull, 0x80000000ull, ~0ull}) {
    testing::internal::CaptureStderr();
    of_rfc5170_srand(bad);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ldpc_rand: ERROR, seed (" + std::to_string(bad) + ") out of range\n");
    EXPECT_EQ(of_seed, state);
  }
}

}  // namespace
