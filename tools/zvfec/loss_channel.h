// Packet-loss channels and the exact residual loss of an ideal MDS code on them.
//
// Both channels are one two-state Markov chain (good, bad) with a loss
// probability per state: random loss has the same probability in both states;
// the Gilbert-Elliott burst channel loses every packet in the bad state and
// none in the good one, so a burst is a stay in the bad state.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zvtool {

struct LossModel {
  double loss_good = 0, loss_bad = 0;  // loss probability in each state
  double p_good_to_bad = 0, p_bad_to_good = 1;
  bool burst = false;
  double rate = 0;        // stationary loss rate
  double mean_burst = 1;  // burst channel only

  static LossModel random(double p);
  // Overall loss rate p and mean burst length len >= 1. Fails (nullopt) when the
  // chain cannot reach that rate with that burst length (p / (1 - p) > len).
  static std::optional<LossModel> gilbert_elliott(double p, double len);

  double stationary_bad() const;
  std::string describe() const;  // "random 5%", "burst 5% mean 3"
};

// Parses "P" (random) or, with burst = true, "P:MEANLEN". Returns the model or
// nullopt with the reason in *why.
std::optional<LossModel> parse_loss(std::string_view text, bool burst, std::string *why);

// The channel of a command that takes exactly one of --loss P and --burst
// P:MEANLEN (an empty string for the one not given).
std::optional<LossModel> channel_from_options(std::string_view loss, std::string_view burst,
                                              std::string *why);

// A finite number filling the whole text, as an option gives it.
std::optional<double> parse_double(std::string_view text);

// One channel realisation: the chain starts in its stationary distribution.
class LossChannel {
 public:
  LossChannel(const LossModel &m, std::uint64_t seed);
  bool lose();  // true when the next packet is lost

 private:
  LossModel m_;
  std::mt19937_64 rng_;
  std::uniform_real_distribution<double> u_{0.0, 1.0};
  bool bad_ = false;
};

// Residual media loss of one group of k media packets followed by r repair
// packets, for a code that recovers every loss when at most r of the k + r
// packets are lost and nothing otherwise. X = (media lost in a group that
// cannot be recovered) / k; mean is the expected residual loss rate and
// variance the per-group variance of X, so that a simulation of G independent
// groups has standard error sqrt(variance / G).
struct ResidualMoments {
  double mean = 0, variance = 0;
};

// The moments above for every shape up to (max_k, max_r) on one channel. The
// media packets and the repair packets of a group meet only in the chain's
// state at the first repair packet, so one pass over max_k media packets and
// one over max_r repair packets serve every (k, r): building the table takes
// O(max_k^2 + max_r^2) steps and each look-up O(k).
class MdsResidualTable {
 public:
  MdsResidualTable(const LossModel &m, int max_k, int max_r);
  // 1 <= k <= max_k, 1 <= r <= max_r.
  ResidualMoments at(int k, int r) const;

 private:
  // media_[offset(k) + 2 * lost + s]: P(lost of the first k media packets are
  // lost and the chain is in state s at the next packet).
  std::vector<double> media_;
  // tail_[offset(r) + 2 * j + s]: P(at least j of r repair packets are lost |
  // the chain is in state s at the first of them), j = 0 .. r + 1.
  std::vector<double> tail_;
};

ResidualMoments mds_residual(const LossModel &m, int k, int r);

}  // namespace zvtool
