#include "loss_channel.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace zvtool {
namespace {

// Closed form for independent loss: a group of n with j > r losses loses the
// j * k / n media packets it lost on average.
double binomial_residual(int k, int r, double p) {
  const int n = k + r;
  double sum = 0;
  for (int j = r + 1; j <= n; ++j) {
    const double c = std::exp(std::lgamma(n + 1) - std::lgamma(j + 1) - std::lgamma(n - j + 1));
    sum += c * std::pow(p, j) * std::pow(1 - p, n - j) * j / n;
  }
  return sum;
}

TEST(MdsResidual, RandomLossMatchesTheBinomialClosedForm) {
  struct Case {
    int k, r;
    double p;
  };
  for (const Case c : {Case{10, 4, 0.05}, Case{5, 2, 0.2}, Case{1, 1, 0.3}, Case{64, 64, 0.45},
                       Case{100, 27, 0.1}, Case{3, 1, 0.0}}) {
    const auto m = mds_residual(LossModel::random(c.p), c.k, c.r);
    EXPECT_NEAR(m.mean, binomial_residual(c.k, c.r, c.p), 1e-12)
        << "k=" << c.k << " r=" << c.r << " p=" << c.p;
  }
}

// Every state path and loss pattern of a short group, weighted directly.
ResidualMoments enumerate(const LossModel &m, int k, int r) {
  const int n = k + r;
  double mean = 0, square = 0;
  for (unsigned states = 0; states < (1u << n); ++states)
    for (unsigned lost = 0; lost < (1u << n); ++lost) {
      double p = (states & 1) ? m.stationary_bad() : 1 - m.stationary_bad();
      int media_lost = 0, total_lost = 0;
      for (int i = 0; i < n; ++i) {
        const bool bad = (states >> i) & 1, gone = (lost >> i) & 1;
        const double pl = bad ? m.loss_bad : m.loss_good;
        p *= gone ? pl : 1 - pl;
        if (i + 1 < n) {
          const bool next_bad = (states >> (i + 1)) & 1;
          const double to_bad = bad ? 1 - m.p_bad_to_good : m.p_good_to_bad;
          p *= next_bad ? to_bad : 1 - to_bad;
        }
        total_lost += gone;
        media_lost += gone && i < k;
      }
      if (total_lost > r) {
        const double x = static_cast<double>(media_lost) / k;
        mean += p * x;
        square += p * x * x;
      }
    }
  return {mean, square - mean * mean};
}

TEST(MdsResidual, BurstChannelMatchesEnumerationOfEveryPath) {
  struct Case {
    int k, r;
    double p, len;
  };
  for (const Case c :
       {Case{4, 2, 0.05, 3}, Case{5, 2, 0.2, 2}, Case{3, 3, 0.3, 5}, Case{6, 1, 0.1, 1}}) {
    const auto m = *LossModel::gilbert_elliott(c.p, c.len);
    const auto dp = mds_residual(m, c.k, c.r);
    const auto ref = enumerate(m, c.k, c.r);
    EXPECT_NEAR(dp.mean, ref.mean, 1e-12) << c.k << "/" << c.r << " " << c.p << ":" << c.len;
    EXPECT_NEAR(dp.variance, ref.variance, 1e-12) << c.k << "/" << c.r;
  }
  // Random loss through the same enumeration checks the variance there too.
  const auto rnd = LossModel::random(0.25);
  EXPECT_NEAR(mds_residual(rnd, 4, 2).variance, enumerate(rnd, 4, 2).variance, 1e-12);
}

// One table answers for every shape up to its bounds, reusing the media and the
// repair halves across shapes: each entry must equal that shape worked out on
// its own, by the closed form (random loss) and by enumeration (burst loss).
TEST(MdsResidualTable, EveryShapeOfOneTableMatchesThatShapeAlone) {
  const MdsResidualTable random(LossModel::random(0.2), 64, 64);
  for (int k = 1; k <= 64; ++k)
    for (int r = 1; r <= 64; ++r)
      ASSERT_NEAR(random.at(k, r).mean, binomial_residual(k, r, 0.2), 1e-12)
          << "k=" << k << " r=" << r;
  const auto burst = *LossModel::gilbert_elliott(0.15, 2.5);
  const MdsResidualTable table(burst, 5, 3);
  for (int k = 1; k <= 5; ++k)
    for (int r = 1; r <= 3; ++r) {
      const auto ref = enumerate(burst, k, r);
      EXPECT_NEAR(table.at(k, r).mean, ref.mean, 1e-12) << "k=" << k << " r=" << r;
      EXPECT_NEAR(table.at(k, r).variance, ref.variance, 1e-12) << "k=" << k << " r=" << r;
    }
}

TEST(LossChannel, RealisesTheRateAndBurstLengthOfItsModel) {
  // One million draws; tolerances are four standard errors of each estimate.
  constexpr int kDraws = 1000000;
  for (const auto &m : {LossModel::random(0.05), *LossModel::gilbert_elliott(0.05, 3),
                        *LossModel::gilbert_elliott(0.2, 1.5)}) {
    LossChannel ch(m, 42);
    long lost = 0, bursts = 0;
    bool prev = false;
    for (int i = 0; i < kDraws; ++i) {
      const bool l = ch.lose();
      lost += l;
      bursts += l && !prev;
      prev = l;
    }
    const double rate = static_cast<double>(lost) / kDraws;
    // Losses of the burst channel are correlated: the variance of the rate
    // grows by (1 + rho) / (1 - rho), rho = 1 - g2b - b2g the chain's memory.
    const double rho = m.burst ? 1 - m.p_good_to_bad - m.p_bad_to_good : 0;
    const double se = std::sqrt(m.rate * (1 - m.rate) / kDraws * (1 + rho) / (1 - rho));
    EXPECT_NEAR(rate, m.rate, 4 * se) << m.describe();
    if (m.burst) {
      // Burst lengths are geometric with mean len, variance len * (len - 1).
      const double mean_len = static_cast<double>(lost) / static_cast<double>(bursts);
      const double se_len =
          std::sqrt(m.mean_burst * (m.mean_burst - 1) / static_cast<double>(bursts));
      EXPECT_NEAR(mean_len, m.mean_burst, 4 * se_len + 1e-9) << m.describe();
    }
  }
}

TEST(LossChannel, SameSeedSameLosses) {
  const auto m = *LossModel::gilbert_elliott(0.1, 4);
  LossChannel a(m, 7), b(m, 7), c(m, 8);
  int differ = 0;
  for (int i = 0; i < 10000; ++i) {
    const bool la = a.lose();
    EXPECT_EQ(la, b.lose());
    differ += la != c.lose();
  }
  EXPECT_GT(differ, 0);
}

TEST(ParseLoss, AcceptsValidAndRefusesInvalidText) {
  struct Case {
    const char *text;
    bool burst, ok;
  };
  for (const Case c :
       {Case{"0.05", false, true}, Case{"0", false, true}, Case{"1", false, false},
        Case{"-0.1", false, false}, Case{"5%", false, false}, Case{"", false, false},
        Case{"0.05:3", true, true}, Case{"0.05", true, false}, Case{"0.05:0.5", true, false},
        Case{"0.9:2", true, false}, Case{"0.5:1", true, true}, Case{"x:3", true, false}}) {
    std::string why;
    const auto m = parse_loss(c.text, c.burst, &why);
    EXPECT_EQ(m.has_value(), c.ok) << c.text;
    EXPECT_EQ(why.empty(), c.ok) << c.text;
  }
  std::string why;
  const auto m = parse_loss("0.05:3", true, &why);
  EXPECT_NEAR(m->stationary_bad(), 0.05, 1e-15);
  EXPECT_NEAR(1 / m->p_bad_to_good, 3, 1e-12);
}

}  // namespace
}  // namespace zvtool
