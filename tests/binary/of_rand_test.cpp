#include "binary/of_rand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Rfc5170Rand, FollowsTheMinimalStandardSequence) {
  of_rfc5170_rng rng{};
  ASSERT_TRUE(of_rfc5170_seed(&rng, 1));
  EXPECT_EQ(of_rfc5170_draw(&rng, 2147483647), 16807u);  // the state itself, scaled by one
  EXPECT_EQ(rng.state, 16807u);
  EXPECT_EQ(of_rfc5170_draw(&rng, 100), 13u);  // 282475249 * 100 / (2^31 - 1)
  EXPECT_EQ(rng.state, 282475249u);
  for (int i = 2; i < 10000; ++i) of_rfc5170_draw(&rng, 1);
  EXPECT_EQ(rng.state, 1043618065u);
}

TEST(Rfc5170Rand, DrawsStayBelowTheBound) {
  of_rfc5170_rng rng{};
  ASSERT_TRUE(of_rfc5170_seed(&rng, 0x7FFFFFFE));  // the largest seed accepted
  EXPECT_EQ(rng.state, 0x7FFFFFFEu);
  for (uint64_t maxv : {1ull, 2ull, 3ull, 1000ull, 0x7FFFFFFFull, 1ull << 40}) {
    for (int i = 0; i < 500; ++i) {
      const uint64_t v = of_rfc5170_draw(&rng, maxv);
      ASSERT_LT(v, maxv);
      if (maxv == 1) {
        ASSERT_EQ(v, 0u);
      }
    }
  }
}

TEST(Rfc5170Rand, OutOfRangeSeedsKeepTheState) {
  of_rfc5170_rng rng{};
  ASSERT_TRUE(of_rfc5170_seed(&rng, 12345));
  of_rfc5170_draw(&rng, 10);
  const uint64_t state = rng.state;
  for (uint64_t bad : {0ull, 0x7FFFFFFFull, 0x80000000ull, ~0ull}) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(of_rfc5170_seed(&rng, bad));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ldpc_rand: ERROR, seed (" + std::to_string(bad) + ") out of range\n");
    EXPECT_EQ(rng.state, state);
  }
}

// Two states interleaved give each its own sequence: drawing from one never
// moves the other.
TEST(Rfc5170Rand, StatesShareNothing) {
  of_rfc5170_rng a{}, b{};
  ASSERT_TRUE(of_rfc5170_seed(&a, 1));
  ASSERT_TRUE(of_rfc5170_seed(&b, 1));
  EXPECT_EQ(of_rfc5170_draw(&a, 2147483647), 16807u);
  EXPECT_EQ(b.state, 1u);
  EXPECT_EQ(of_rfc5170_draw(&b, 2147483647), 16807u);
  for (int i = 1; i < 10000; ++i) of_rfc5170_draw(&a, 1);
  EXPECT_EQ(a.state, 1043618065u);
  EXPECT_EQ(b.state, 16807u);
  EXPECT_EQ(of_rfc5170_draw(&b, 100), 13u);
  EXPECT_EQ(a.state, 1043618065u);
}

}  // namespace
