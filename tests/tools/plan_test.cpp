#include "plan.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "rtp.h"
#include "simulate.h"
#include "variant.h"

namespace zvtool {
namespace {

constexpr double kNoLimit = std::numeric_limits<double>::infinity();

// Bytes of one FEC packet as the library writes it for media packets of
// packet_bytes bytes: the same for every k and r of the variant.
std::size_t library_fec_packet(zvfec_stream_variant v, int packet_bytes) {
  const std::unique_ptr<zvfec_stream_codec, decltype(&zvfec_stream_codec_free)> codec(
      zvfec_stream_codec_new(v), zvfec_stream_codec_free);
  Bytes media(static_cast<std::size_t>(packet_bytes), 0);
  write_rtp(media, RtpHeader{false, 96, 1, 0, 1});
  const std::uint8_t *one[] = {media.data()};
  const std::size_t one_len[] = {media.size()};
  Bytes fec(2 * media.size() + 64);
  std::uint8_t *out[] = {fec.data()};
  std::size_t out_len = 0;
  EXPECT_EQ(zvfec_stream_codec_encode(codec.get(), one, one_len, 1, 1, out, fec.size(), &out_len),
            0);
  return out_len;
}

struct Shape {
  int k = 0, r = 0;
  double overhead = 0, residual = 0;
};

struct BruteForce {
  std::optional<Shape> cheapest_meeting;  // least overhead, then least delay
  std::optional<Shape> closest;           // least residual loss, then least overhead and delay
  int within_budget = 0;
};

bool cheaper(const Shape &a, const Shape &b) {
  return a.overhead != b.overhead ? a.overhead < b.overhead : a.k < b.k;
}

// Every (k, r) the variant accepts, each worked out on its own.
BruteForce brute_force(const PlanRequest &q) {
  const auto fec = static_cast<double>(library_fec_packet(q.variant, q.packet_bytes));
  BruteForce out;
  for (int k = 1; k < 256; ++k)
    for (int r = 1; r < 256; ++r) {
      if (!shape_error(q.variant, k, r).empty()) continue;
      const double delay_ms = (k - 1) / q.packets_per_s * 1000;
      Shape s{k, r, r * fec / (k * static_cast<double>(q.packet_bytes)), 0};
      if (delay_ms > q.max_delay_ms + 1e-9 || s.overhead > q.max_overhead) continue;
      ++out.within_budget;
      s.residual = mds_residual(q.channel, k, r).mean;
      if (s.residual <= q.target && (!out.cheapest_meeting || cheaper(s, *out.cheapest_meeting)))
        out.cheapest_meeting = s;
      if (!out.closest || s.residual < out.closest->residual ||
          (s.residual == out.closest->residual && cheaper(s, *out.closest)))
        out.closest = s;
    }
  return out;
}

struct Case {
  zvfec_stream_variant variant;
  LossModel channel;
  double packets_per_s;
  double target, max_delay_ms, max_overhead;
  double simulate_s;  // 0: the residual loss is too small to measure in a short run
};

PlanRequest request(const Case &c) {
  PlanRequest q;
  q.variant = c.variant;
  q.channel = c.channel;
  q.packets_per_s = c.packets_per_s;
  q.packet_bytes = 1200;
  q.target = c.target;
  q.max_delay_ms = c.max_delay_ms;
  q.max_overhead = c.max_overhead;
  return q;
}

// The simulated cases aim at residual losses of 1 % to 5 %, so that a few
// minutes of media lose enough groups to measure them to within 5 to 15 %.
const Case kCases[] = {
    // 2.5 Mbit/s of 1200-byte packets: the README's example.
    {ZVFEC_STREAM_VIDEO_V2, LossModel::random(0.05), 2.5e6 / 9600, 1e-4, 100, kNoLimit, 0},
    {ZVFEC_STREAM_VIDEO_V2, *LossModel::gilbert_elliott(0.05, 3), 260, 3e-3, 100, kNoLimit, 0},
    {ZVFEC_STREAM_VIDEO_V2, *LossModel::gilbert_elliott(0.05, 3), 260, 1e-2, 100, kNoLimit, 300},
    {ZVFEC_STREAM_VIDEO_V2, *LossModel::gilbert_elliott(0.1, 2), 260, 3e-2, 50, kNoLimit, 200},
    {ZVFEC_STREAM_VIDEO_V1, LossModel::random(0.2), 260, 3e-2, 60, kNoLimit, 200},
    {ZVFEC_STREAM_AUDIO_V2, LossModel::random(0.1), 50, 3e-2, 200, kNoLimit, 600},
    {ZVFEC_STREAM_AUDIO_V2, *LossModel::gilbert_elliott(0.1, 2), 50, 5e-2, 100, kNoLimit, 600},
    // Large groups, where video-v1's k + r <= 128 binds.
    {ZVFEC_STREAM_VIDEO_V1, *LossModel::gilbert_elliott(0.05, 2), 1000, 1e-6, 500, kNoLimit, 0},
    {ZVFEC_STREAM_VIDEO_V1, LossModel::random(0.02), 1000, 1e-9, 200, 0.3, 0},
    // k = 2 r = 1 meets the target, and so does k = 4 r = 2 at the same
    // overhead: the one with less delay wins.
    {ZVFEC_STREAM_VIDEO_V2, LossModel::random(0.05), 1000, 5e-3, 3, kNoLimit, 0},
    // No delay at all: k = 1, repetition.
    {ZVFEC_STREAM_VIDEO_V2, LossModel::random(0.1), 260, 5e-4, 0, kNoLimit, 0},
    // A lossless channel: the cheapest shape of all, r = 1 and the largest k.
    {ZVFEC_STREAM_AUDIO_V2, LossModel::random(0), 50, 1e-6, 100, kNoLimit, 0},
    // Out of reach: the overhead cap, long bursts against a short delay.
    {ZVFEC_STREAM_VIDEO_V2, LossModel::random(0.05), 260, 1e-4, 100, 0.2, 0},
    {ZVFEC_STREAM_VIDEO_V2, *LossModel::gilbert_elliott(0.3, 10), 260, 1e-6, 20, kNoLimit, 0},
    // Nothing fits at all.
    {ZVFEC_STREAM_VIDEO_V2, LossModel::random(0.05), 260, 1e-4, 100, 1e-3, 0},
};

std::string label(const Case &c) {
  return fmt::format("{} on {}, {:g} pps, target {:g} within {:g} ms, overhead <= {:g}",
                     variant_name(c.variant), c.channel.describe(), c.packets_per_s, c.target,
                     c.max_delay_ms, c.max_overhead);
}

TEST(Plan, ChoosesTheCheapestShapeMeetingTheTargetOrTheClosest) {
  for (const auto &c : kCases) {
    const auto q = request(c);
    ASSERT_EQ(check_plan_request(q), "") << label(c);
    const Plan plan = make_plan(q);
    const BruteForce want = brute_force(q);
    EXPECT_EQ(plan.within_budget, want.within_budget) << label(c);
    EXPECT_EQ(plan.met, want.cheapest_meeting.has_value()) << label(c);
    const auto &expected = want.cheapest_meeting ? want.cheapest_meeting : want.closest;
    ASSERT_EQ(plan.best.has_value(), expected.has_value()) << label(c);
    if (!expected) continue;
    const auto &got = plan.frontier[*plan.best];
    EXPECT_EQ(std::make_pair(got.k, got.r), std::make_pair(expected->k, expected->r)) << label(c);
    EXPECT_NEAR(got.residual, expected->residual, 1e-9 * expected->residual) << label(c);
    EXPECT_NEAR(got.overhead, expected->overhead, 1e-12) << label(c);
    EXPECT_LE(got.delay_ms, c.max_delay_ms + 1e-9) << label(c);
  }
}

// The library's codes are MDS, so a simulation of the chosen shape must lose
// what the plan says within the run's statistical error (four standard errors:
// a false alarm chance of about 6e-5 per case). Burst-channel groups are not
// quite independent, but the chosen groups are several bursts long.
TEST(Plan, SimulatingTheChoiceLosesWhatThePlanSays) {
  for (const auto &c : kCases) {
    if (c.simulate_s == 0) continue;
    const Plan plan = make_plan(request(c));
    ASSERT_TRUE(plan.met) << label(c);
    const auto &best = plan.frontier[*plan.best];
    const SimOptions opts{c.simulate_s, 5};
    const auto res =
        simulate_case({c.variant, best.k, best.r, c.channel}, stream_for(c.variant, opts), opts);
    ASSERT_TRUE(res.error.empty()) << res.error;
    EXPECT_EQ(res.failed_groups, 0) << label(c);
    EXPECT_EQ(res.corrupt, 0) << label(c);
    // Enough unrecoverable groups that the comparison means something.
    ASSERT_GT(best.residual * static_cast<double>(res.media), 50) << label(c);
    const double se = std::sqrt(best.residual_variance / static_cast<double>(res.groups));
    EXPECT_NEAR(res.residual, best.residual, 4 * se)
        << label(c) << " k=" << best.k << " r=" << best.r
        << ": z = " << (res.residual - best.residual) / se;

    // The decode work counts k symbols for each media packet recovered. The
    // count recovered varies about as much as the count lost, whose variance
    // the chain's memory rho scales by (1 + rho) / (1 - rho).
    const double per_packet =
        best.decode_bytes_per_s /
        (c.packets_per_s * best.k *
         static_cast<double>(zvfec_stream_symbol_len(request(c).packet_bytes)));
    const double rho = 1 - c.channel.p_good_to_bad - c.channel.p_bad_to_good;
    const double se_back = std::sqrt(c.channel.rate * (1 - c.channel.rate) /
                                     static_cast<double>(res.media) * (1 + rho) / (1 - rho));
    const double back = static_cast<double>(res.recovered) / static_cast<double>(res.media);
    EXPECT_NEAR(back, per_packet, 4 * se_back)
        << label(c) << ": z = " << (back - per_packet) / se_back;
  }
}

TEST(Plan, RefusesRequestsItCannotPlan) {
  struct Bad {
    double pps;
    int packet;
    double target, delay, overhead;
    const char *message;
  };
  for (const Bad b :
       {Bad{0, 1200, 1e-4, 100, kNoLimit, "packet rate"},
        Bad{260, 11, 1e-4, 100, kNoLimit, "packet size"},
        Bad{260, 65531, 1e-4, 100, kNoLimit, "packet size"},
        Bad{260, 1200, 0, 100, kNoLimit, "--target"}, Bad{260, 1200, 1, 100, kNoLimit, "--target"},
        Bad{260, 1200, 1e-4, -1, kNoLimit, "--max-delay"},
        Bad{260, 1200, 1e-4, 100, 0, "--max-overhead"}}) {
    PlanRequest q;
    q.channel = LossModel::random(0.05);
    q.packets_per_s = b.pps;
    q.packet_bytes = b.packet;
    q.target = b.target;
    q.max_delay_ms = b.delay;
    q.max_overhead = b.overhead;
    EXPECT_NE(check_plan_request(q).find(b.message), std::string::npos) << b.message;
  }
}

TEST(Plan, BitRatesTakeDecimalSuffixes) {
  struct Rate {
    const char *text;
    std::optional<double> bits;
  };
  for (const Rate r :
       {Rate{"2.5M", 2.5e6}, Rate{"64k", 64e3}, Rate{"64K", 64e3}, Rate{"1G", 1e9},
        Rate{"96000", 96e3}, Rate{"", std::nullopt}, Rate{"M", std::nullopt},
        Rate{"-1M", std::nullopt}, Rate{"0", std::nullopt}, Rate{"2.5Mb", std::nullopt}})
    EXPECT_EQ(parse_bit_rate(r.text), r.bits) << r.text;
}

}  // namespace
}  // namespace zvtool
