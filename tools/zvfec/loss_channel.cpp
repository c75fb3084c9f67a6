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

std::optional<LossModel> channel_from_options(std::string_view loss, std::string_view burst,
                                              std::string *why) {
  if (loss.empty() == burst.empty()) {
    *why = "give one of --loss P or --burst P:MEANLEN";
    return std::nullopt;
  }
  return loss.empty() ? parse_loss(burst, true, why) : parse_loss(loss, false, why);
}

LossChannel::LossChannel(const LossModel &m, std::uint64_t seed) : m_(m), rng_(seed) {
  bad_ = u_(rng_) < m_.stationary_bad();
}

bool LossChannel::lose() {
  const bool lost = u_(rng_) < (bad_ ? m_.loss_bad : m_.loss_good);
  bad_ = bad_ ? !(u_(rng_) < m_.p_bad_to_good) : u_(rng_) < m_.p_good_to_bad;
  return lost;
}

namespace {
// Where shape n starts in a table whose entry for n holds 2 * (n + extra) values.
std::size_t offset(int n, int extra) {
  const auto u = static_cast<std::size_t>(n);
  return u * (u - 1) + 2 * static_cast<std::size_t>(extra) * u;
}
}  // namespace

MdsResidualTable::MdsResidualTable(const LossModel &m, int max_k, int max_r)
    : media_(offset(max_k + 1, 1), 0.0), tail_(offset(max_r + 1, 2), 0.0) {
  const double loss[2] = {m.loss_good, m.loss_bad};
  // move[s][t]: P(the next packet is in state t | this one is in state s).
  const double move[2][2] = {{1 - m.p_good_to_bad, m.p_good_to_bad},
                             {m.p_bad_to_good, 1 - m.p_bad_to_good}};

  // Forward over the media packets, from the stationary distribution.
  const double pb = m.stationary_bad();
  media_[0] = 1 - pb;
  media_[1] = pb;
  for (int k = 1; k <= max_k; ++k) {
    const double *prev = &media_[offset(k - 1, 1)];
    double *cur = &media_[offset(k, 1)];
    for (int ml = 0; ml < k; ++ml)
      for (int s = 0; s < 2; ++s) {
        const double p = prev[2 * ml + s];
        if (p == 0) continue;
        for (int t = 0; t < 2; ++t) {
          cur[2 * ml + t] += p * (1 - loss[s]) * move[s][t];
          cur[2 * (ml + 1) + t] += p * loss[s] * move[s][t];
        }
      }
  }

  // Backward over the repair packets: the count lost among r packets given the
  // state of the first is one packet, then r - 1 packets from the next state.
  std::vector<double> dist(2, 0.0), next;  // dist[2 * j + s] = P(j lost | s)
  dist[0] = dist[1] = 1;
  for (int r = 1; r <= max_r; ++r) {
    next.assign(2 * static_cast<std::size_t>(r + 1), 0.0);
    for (int j = 0; j < r; ++j)
      for (int s = 0; s < 2; ++s) {
        const double rest = move[s][0] * dist[2 * j] + move[s][1] * dist[2 * j + 1];
        next[2 * j + s] += (1 - loss[s]) * rest;
        next[2 * (j + 1) + s] += loss[s] * rest;
      }
    std::swap(dist, next);
    // Tails summed from the far end, so that tiny tails keep their precision.
    double *tail = &tail_[offset(r, 2)];
    for (int j = r; j >= 0; --j)
      for (int s = 0; s < 2; ++s) tail[2 * j + s] = tail[2 * (j + 1) + s] + dist[2 * j + s];
  }
}

ResidualMoments MdsResidualTable::at(int k, int r) const {
  const double *media = &media_[offset(k, 1)];
  const double *tail = &tail_[offset(r, 2)];
  ResidualMoments res;
  for (int ml = 1; ml <= k; ++ml) {
    // The group is lost when more than r - ml repair packets are lost too.
    const int need = std::max(r + 1 - ml, 0);
    const double p = media[2 * ml] * tail[2 * need] + media[2 * ml + 1] * tail[2 * need + 1];
    const double x = static_cast<double>(ml) / static_cast<double>(k);
    res.mean += p * x;
    res.variance += p * x * x;
  }
  res.variance -= res.mean * res.mean;
  if (res.variance < 0) res.variance = 0;
  return res;
}

ResidualMoments mds_residual(const LossModel &m, int k, int r) {
  return MdsResidualTable(m, k, r).at(k, r);
}

}  // namespace zvtool
