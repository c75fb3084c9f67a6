#include "loss_channel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <fmt/format.h>

namespace zvtool {

LossModel LossModel::random(double p) {
  LossModel m;
  m.loss_good = m.loss_bad = p;
  m.rate = p;
  return m;
}

std::optional<LossModel> LossModel::gilbert_elliott(double p, double len) {
  if (!(p >= 0 && p < 1) || !(len >= 1)) return std::nullopt;
  LossModel m;
  m.burst = true;
  m.loss_good = 0;
  m.loss_bad = 1;
  m.p_bad_to_good = 1 / len;
  // Stationary P(bad) = g2b / (g2b + b2g) = p.
  m.p_good_to_bad = p * m.p_bad_to_good / (1 - p);
  if (m.p_good_to_bad > 1) return std::nullopt;
  m.rate = p;
  m.mean_burst = len;
  return m;
}

double LossModel::stationary_bad() const {
  const double d = p_good_to_bad + p_bad_to_good;
  return d > 0 ? p_good_to_bad / d : 0;
}

std::string LossModel::describe() const {
  if (burst) return fmt::format("burst {:g}% mean {:g}", rate * 100, mean_burst);
  return fmt::format("random {:g}%", rate * 100);
}

namespace {
std::optional<double> parse_double(std::string_view t) {
  // std::from_chars for double is not in every toolchain we target; strtod
  // on a NUL-terminated copy is.
  std::string s(t);
  if (s.empty()) return std::nullopt;
  char *end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}
}  // namespace

std::optional<LossModel> parse_loss(std::string_view text, bool burst, std::string *why) {
  if (!burst) {
    const auto p = parse_double(text);
    if (!p || *p < 0 || *p >= 1) {
      *why = fmt::format("loss '{}' must be a probability in [0, 1)", text);
      return std::nullopt;
    }
    return LossModel::random(*p);
  }
  const auto colon = text.find(':');
  const auto p = parse_double(text.substr(0, colon));
  const auto len =
      colon == std::string_view::npos ? std::nullopt : parse_double(text.substr(colon + 1));
  if (!p || !len || *p < 0 || *p >= 1 || *len < 1) {
    *why = fmt::format("burst '{}' must be P:MEANLEN with P in [0, 1) and MEANLEN >= 1", text);
    return std::nullopt;
  }
  auto m = LossModel::gilbert_elliott(*p, *len);
  if (!m)
    *why = fmt::format("burst '{}': loss {} cannot have mean burst length {}", text, *p, *len);
  return m;
}

LossChannel::LossChannel(const LossModel &m, std::uint64_t seed) : m_(m), rng_(seed) {
  bad_ = u_(rng_) < m_.stationary_bad();
}

bool LossChannel::lose() {
  const bool lost = u_(rng_) < (bad_ ? m_.loss_bad : m_.loss_good);
  bad_ = bad_ ? !(u_(rng_) < m_.p_bad_to_good) : u_(rng_) < m_.p_good_to_bad;
  return lost;
}

ResidualMoments mds_residual(const LossModel &m, int k, int r) {
  // Probability of (media lost, repair lost, state) after each packet of the
  // group; the chain enters the group in its stationary distribution.
  const auto K = static_cast<std::size_t>(k), R = static_cast<std::size_t>(r);
  const std::size_t width = R + 1;
  auto at = [width](std::size_t ml, std::size_t fl, std::size_t st) {
    return (ml * width + fl) * 2 + st;
  };
  std::vector<double> cur((K + 1) * width * 2, 0.0), next(cur.size());
  const double pb = m.stationary_bad();
  cur[at(0, 0, 0)] = 1 - pb;
  cur[at(0, 0, 1)] = pb;
  const double loss[2] = {m.loss_good, m.loss_bad};
  const double stay[2] = {1 - m.p_good_to_bad, 1 - m.p_bad_to_good};
  for (std::size_t pos = 0; pos < K + R; ++pos) {
    std::fill(next.begin(), next.end(), 0.0);
    const bool media = pos < K;
    for (std::size_t ml = 0; ml <= K; ++ml)
      for (std::size_t fl = 0; fl <= R; ++fl)
        for (std::size_t st = 0; st < 2; ++st) {
          const double p = cur[at(ml, fl, st)];
          if (p == 0) continue;
          for (int lost = 0; lost < 2; ++lost) {
            const double pl = lost ? loss[st] : 1 - loss[st];
            if (pl == 0) continue;
            const std::size_t ml2 = ml + (lost && media);
            const std::size_t fl2 = fl + (lost && !media);
            // Once r repair packets are lost any media loss is final, so
            // further repair losses can share the last column.
            const std::size_t fl3 = std::min(fl2, R);
            next[at(ml2, fl3, st)] += p * pl * stay[st];
            next[at(ml2, fl3, 1 - st)] += p * pl * (1 - stay[st]);
          }
        }
    std::swap(cur, next);
  }
  ResidualMoments res;
  for (std::size_t ml = 1; ml <= K; ++ml)
    for (std::size_t fl = 0; fl <= R; ++fl) {
      if (ml + fl <= R) continue;
      const double p = cur[at(ml, fl, 0)] + cur[at(ml, fl, 1)];
      const double x = static_cast<double>(ml) / static_cast<double>(K);
      res.mean += p * x;
      res.variance += p * x * x;
    }
  res.variance -= res.mean * res.mean;
  if (res.variance < 0) res.variance = 0;
  return res;
}

}  // namespace zvtool
