#include "simulate.h"

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

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

// What the command line turns into: the cases shown, the channels they run on
// and the sweep, whose channel kind and burst length come from --burst.
TEST(SimulateCommand, OptionsBecomeCasesChannelsAndSweep) {
  using Shapes = std::vector<std::tuple<zvfec_stream_variant, int, int>>;
  struct Case {
    const char *what;
    SimulateArgs args;
    Shapes shapes;
    std::vector<std::string> channels;
    std::optional<std::tuple<double, double, double, bool, double>> sweep;
  };
  auto args = [](auto edit) {
    SimulateArgs a;
    edit(a);
    return a;
  };
  const Shapes all{{ZVFEC_STREAM_VIDEO_V2, 10, 4},
                   {ZVFEC_STREAM_VIDEO_V1, 10, 4},
                   {ZVFEC_STREAM_AUDIO_V2, 5, 2}};
  const Case cases[] = {
      {"defaults", {}, all, {"random 5%", "burst 5% mean 3"}, std::nullopt},
      {"both channels",
       args([](SimulateArgs &a) { a.loss = "0.1", a.burst = "0.2:4"; }),
       all,
       {"random 10%", "burst 20% mean 4"},
       std::nullopt},
      {"a plot alone sweeps random loss",
       args([](SimulateArgs &a) { a.plot = "x.png"; }),
       all,
       {"random 5%", "burst 5% mean 3"},
       std::tuple{0.0, 0.3, 0.02, false, 1.0}},
      {"a burst sweep keeps the burst length",
       args([](SimulateArgs &a) { a.loss = "0.2", a.burst = "0.1:2.5", a.sweep = "0:0.2:0.05"; }),
       all,
       {"random 20%", "burst 10% mean 2.5"},
       std::tuple{0.0, 0.2, 0.05, true, 2.5}},
      {"one variant, r by default",
       args([](SimulateArgs &a) { a.variant = "audio-v2", a.k = 3; }),
       {{ZVFEC_STREAM_AUDIO_V2, 3, 2}},
       {"random 5%", "burst 5% mean 3"},
       std::nullopt},
  };
  for (const auto &c : cases) {
    std::string why;
    const auto cmd = parse_simulate(c.args, &why);
    ASSERT_TRUE(cmd) << c.what << ": " << why;
    Shapes shapes;
    for (const auto &sc : cmd->cases) shapes.emplace_back(sc.variant, sc.k, sc.r);
    EXPECT_EQ(shapes, c.shapes) << c.what;
    std::vector<std::string> channels;
    for (const auto &ch : cmd->channels) channels.push_back(ch.describe());
    EXPECT_EQ(channels, c.channels) << c.what;
    ASSERT_EQ(cmd->sweep.has_value(), c.sweep.has_value()) << c.what;
    if (cmd->sweep) {
      const auto &sw = *cmd->sweep;
      EXPECT_EQ(std::tuple(sw.from, sw.to, sw.step, sw.burst, sw.mean_burst), *c.sweep) << c.what;
    }
  }
}

// Rates a burst length cannot reach (p / (1 - p) > mean burst) are left out of
// a sweep rather than simulated on some other channel.
TEST(SimulateCommand, ASweepSkipsRatesTheBurstLengthCannotHave) {
  SimulateArgs a;
  a.variant = "audio-v2";
  a.duration = 1;
  a.burst = "0.5:2";
  a.sweep = "0.5:0.7:0.1";
  std::string why;
  const auto cmd = parse_simulate(a, &why);
  ASSERT_TRUE(cmd) << why;
  const auto report = run_simulate(*cmd);
  ASSERT_EQ(report.sweep.size(), 2u);
  EXPECT_DOUBLE_EQ(report.sweep[0].loss, 0.5);
  EXPECT_DOUBLE_EQ(report.sweep[1].loss, 0.6);
  for (const auto &p : report.sweep) {
    ASSERT_EQ(p.results.size(), 1u);
    EXPECT_TRUE(p.results[0].c.channel.burst);
    EXPECT_DOUBLE_EQ(p.results[0].c.channel.rate, p.loss);
    EXPECT_DOUBLE_EQ(p.results[0].c.channel.mean_burst, 2);
  }
  EXPECT_TRUE(report.results.empty());
}

}  // namespace
}  // namespace zvtool
