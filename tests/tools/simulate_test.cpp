#include "simulate.h"

#include <cmath>

#include <gtest/gtest.h>

#include "variant.h"

namespace zvtool {
namespace {

// The library's codes are MDS, so each variant's simulated residual loss must
// agree with the exact bound within the simulation's own statistical error:
// the standard error of a mean of independent per-group residuals, whose
// variance the bound's computation gives exactly. Four standard errors leave a
// false alarm chance of about 6e-5 per comparison. Burst-channel groups are
// not quite independent (a burst can straddle two groups); with bursts of mean
// length 3 against groups of 7 to 14 packets that correlation is small.
TEST(Simulate, ResidualLossAgreesWithTheMdsBoundWithinItsStandardError) {
  const SimOptions opts{120, 11};
  for (const auto &channel : {LossModel::random(0.15), *LossModel::gilbert_elliott(0.1, 3)})
    for (const auto v : known_variants()) {
      const auto shape = default_shape(v);
      const SimCase c{v, shape.k, shape.r, channel};
      const auto res = simulate_case(c, stream_for(c.variant, opts), opts);
      ASSERT_TRUE(res.error.empty()) << res.error;
      const auto label = std::string(variant_name(v)) + " " + channel.describe();
      EXPECT_EQ(res.failed_groups, 0) << label;
      EXPECT_EQ(res.corrupt, 0) << label;
      // Enough unrecoverable groups that the comparison means something.
      ASSERT_GT(res.mds * static_cast<double>(res.media), 50) << label;
      EXPECT_GT(res.recovered, 0) << label;
      EXPECT_NEAR(res.residual, res.mds, 4 * res.mds_stderr)
          << label << ": z = " << (res.residual - res.mds) / res.mds_stderr;
    }
}

TEST(Simulate, SameSeedSameCountsOtherSeedOtherLosses) {
  const SimCase c{ZVFEC_STREAM_VIDEO_V2, 10, 4, *LossModel::gilbert_elliott(0.05, 3)};
  const SimOptions a{10, 3}, b{10, 4};
  const auto r1 = simulate_case(c, stream_for(c.variant, a), a);
  const auto r2 = simulate_case(c, stream_for(c.variant, a), a);
  const auto r3 = simulate_case(c, stream_for(c.variant, b), b);
  EXPECT_EQ(r1.media_bytes, r2.media_bytes);
  EXPECT_EQ(r1.lost, r2.lost);
  EXPECT_EQ(r1.recovered, r2.recovered);
  EXPECT_NE(std::make_pair(r1.lost, r1.media_bytes), std::make_pair(r3.lost, r3.media_bytes));
}

TEST(Simulate, DefaultStreamsHaveTheAdvertisedShape) {
  const SimOptions opts{30, 1};
  const auto video = stream_for(ZVFEC_STREAM_VIDEO_V2, opts);
  const auto audio = stream_for(ZVFEC_STREAM_AUDIO_V2, opts);
  std::size_t bytes = 0, largest = 0;
  for (const auto &p : video) bytes += p.size() - 12, largest = std::max(largest, p.size());
  EXPECT_LE(largest, 1200u);
  // 2.5 Mbit/s of payload within the +-20 % frame-size jitter averaged out.
  EXPECT_NEAR(static_cast<double>(bytes) * 8 / 30, 2.5e6, 0.05 * 2.5e6);
  EXPECT_EQ(audio.size(), 1500u);
}

TEST(Simulate, NoLossMeansNothingLostAndOverheadOfTheGroupShape) {
  const SimOptions opts{5, 1};
  const SimCase c{ZVFEC_STREAM_VIDEO_V1, 8, 2, LossModel::random(0)};
  const auto res = simulate_case(c, stream_for(c.variant, opts), opts);
  EXPECT_EQ(res.lost, 0);
  EXPECT_EQ(res.residual, 0);
  EXPECT_EQ(res.mds, 0);
  EXPECT_EQ(res.media % 8, 0);
  // r/k of the padded symbol plus headers: at least 25 %.
  EXPECT_GT(res.overhead, 0.25);
  EXPECT_LT(res.overhead, 0.40);
}

TEST(Simulate, RefusesShapesBeyondTheVariant) {
  const SimOptions opts{1, 1};
  const SimCase c{ZVFEC_STREAM_AUDIO_V2, 65, 2, LossModel::random(0.1)};
  EXPECT_FALSE(simulate_case(c, stream_for(c.variant, opts), opts).error.empty());
}

}  // namespace
}  // namespace zvtool
