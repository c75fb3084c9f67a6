// zvfec: what forward error correction buys on a lossy network, shown with the
// zv_rsfec library on simulated streams and on real RTP captures.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <zv_rsfec.h>
#include <CLI/CLI.hpp>

#include "lossy.h"
#include "plot.h"
#include "progress.h"
#include "protect.h"
#include "recover.h"
#include "report.h"
#include "simulate.h"

namespace {

using namespace zvtool;

struct SimArgs {
  std::string variant = "all";
  std::optional<int> k, r;
  std::string loss, burst, sweep, csv, plot;
  double duration = 30;
  std::uint64_t seed = 1;
  bool json = false;
};

int fail(const std::string &msg) {
  fmt::print(stderr, "zvfec simulate: {}\n", msg);
  return 1;
}

bool write_text(const std::string &path, const std::string &text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f.flush());
}

// Writes the fault summary to stderr and tells whether the library misbehaved.
bool faults(const std::vector<SimResult> &rs) {
  bool bad = false;
  for (const auto &r : rs) {
    const auto name = variant_info(r.c.variant).name;
    if (!r.error.empty()) {
      fmt::print(stderr, "zvfec simulate: {} on {}: {}\n", name, r.c.channel.describe(), r.error);
      bad = true;
    }
    if (r.failed_groups > 0 || r.corrupt > 0) {
      fmt::print(stderr,
                 "zvfec simulate: {} on {}: {} group(s) with enough packets not recovered, {} "
                 "recovered packet(s) differ from the original\n",
                 name, r.c.channel.describe(), r.failed_groups, r.corrupt);
      bad = true;
    }
  }
  return bad;
}

int run_simulate(const SimArgs &a) {
  std::vector<Variant> variants;
  if (a.variant == "all") {
    variants = {Variant::video_v2, Variant::video_v1, Variant::audio_v2};
  } else if (auto v = variant_from_name(a.variant)) {
    variants = {*v};
  } else {
    return fail(
        fmt::format("unknown variant '{}' (audio-v2, video-v2, video-v1 or all)", a.variant));
  }
  // The streams are held in memory: ten minutes of video is about 170 MB.
  if (!(a.duration > 0 && a.duration <= 600)) return fail("--duration must be in (0, 600] seconds");

  std::vector<LossModel> channels;
  std::string why;
  if (!a.loss.empty()) {
    auto m = parse_loss(a.loss, false, &why);
    if (!m) return fail(why);
    channels.push_back(*m);
  }
  if (!a.burst.empty()) {
    auto m = parse_loss(a.burst, true, &why);
    if (!m) return fail(why);
    channels.push_back(*m);
  }
  if (channels.empty()) channels = {LossModel::random(0.05), *LossModel::gilbert_elliott(0.05, 3)};

  std::vector<SimCase> cases;
  for (auto v : variants) {
    const auto &info = variant_info(v);
    const int k = a.k.value_or(info.default_k), r = a.r.value_or(info.default_r);
    if (auto bad = check_group_shape(v, k, r); !bad.empty())
      return fail(fmt::format("{}: {}", info.name, bad));
    cases.push_back({v, k, r, channels.front()});
  }

  const SimOptions opts{a.duration, a.seed};
  std::vector<Bytes> video, audio;
  auto stream = [&](Variant v) -> const std::vector<Bytes> & {
    auto &s = v == Variant::audio_v2 ? audio : video;
    if (s.empty()) s = stream_for(v, opts);
    return s;
  };

  const bool sweeping = !a.sweep.empty() || !a.plot.empty();
  if (!sweeping) {
    std::vector<SimResult> results;
    Progress progress("simulate", static_cast<std::int64_t>(cases.size() * channels.size()) * 1000);
    for (const auto &ch : channels)
      for (auto c : cases) {
        const auto done = static_cast<std::int64_t>(results.size()) * 1000;
        c.channel = ch;
        results.push_back(simulate_case(c, stream(c.variant), opts, [&](double f) {
          progress.update(done + static_cast<std::int64_t>(f * 1000));
        }));
      }
    if (a.json) {
      auto j = results_json(results);
      j["duration_s"] = a.duration;
      j["seed"] = a.seed;
      fmt::print("{}\n", j.dump(2));
    } else {
      fmt::print(
          "{} s per stream (video 2.5 Mbit/s 30 fps, packets <= 1200 bytes; audio 50 "
          "packets/s), seed {}\n",
          a.duration, a.seed);
      fmt::print("{}", results_table(results));
    }
    if (!a.csv.empty() && !write_text(a.csv, results_csv(results)))
      return fail(fmt::format("cannot write '{}'", a.csv));
    return faults(results) ? 1 : 0;
  }

  // A sweep varies the loss rate of one channel kind: the burst channel (with
  // its mean burst length) when --burst is given, random loss otherwise.
  double from = 0, to = 0.3, step = 0.02;
  if (!a.sweep.empty()) {
    double f = 0, t = 0, s = 0;
    char tail = 0;
    if (std::sscanf(a.sweep.c_str(), "%lf:%lf:%lf%c", &f, &t, &s, &tail) != 3 || !(s > 0) ||
        !(f >= 0) || !(t >= f) || !(t < 1) || (t - f) / s > 1000)
      return fail(
          fmt::format("--sweep '{}' must be FROM:TO:STEP with 0 <= FROM <= TO < 1, STEP > 0 "
                      "and at most 1000 steps",
                      a.sweep));
    from = f, to = t, step = s;
  }
  const bool burst = !a.burst.empty();
  const double mean_burst = burst ? channels.back().mean_burst : 1;
  std::vector<SweepPoint> sweep;
  const int points = static_cast<int>(std::floor((to - from) / step + 1e-9)) + 1;
  Progress progress("sweep", points);
  for (int i = 0; i < points; ++i) {
    progress.update(i);
    const double p = from + step * i;
    std::optional<LossModel> m = burst ? LossModel::gilbert_elliott(p, mean_burst)
                                       : std::optional<LossModel>(LossModel::random(p));
    if (!m) continue;  // that rate cannot have that burst length
    SweepPoint pt{p, {}};
    for (auto c : cases) {
      c.channel = *m;
      pt.results.push_back(simulate_case(c, stream(c.variant), opts));
    }
    sweep.push_back(std::move(pt));
  }
  if (a.json) {
    auto j = sweep_json(sweep);
    j["duration_s"] = a.duration;
    j["seed"] = a.seed;
    fmt::print("{}\n", j.dump(2));
  } else {
    fmt::print(
        "residual media loss % against channel loss % ({} channel{}), {} s per stream, "
        "seed {}\n",
        burst ? "burst" : "random", burst ? fmt::format(", mean burst {:g}", mean_burst) : "",
        a.duration, a.seed);
    fmt::print("{}", sweep_table(sweep));
  }
  if (!a.csv.empty() && !write_text(a.csv, sweep_csv(sweep)))
    return fail(fmt::format("cannot write '{}'", a.csv));
  if (!a.plot.empty()) {
    if (auto err = plot_sweep(sweep, a.plot); !err.empty()) return fail(err);
    if (!a.json) fmt::print("plot written to {}\n", a.plot);
  }
  std::vector<SimResult> all;
  for (const auto &p : sweep) all.insert(all.end(), p.results.begin(), p.results.end());
  return faults(all) ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{
      "zvfec: forward error correction for RTP media, simulated on lossy networks and "
      "applied to packet captures"};
  app.set_version_flag("--version", std::string(zv_rsfec_version()));
  app.require_subcommand(1);
  const std::vector<std::string> variant_names{"audio-v2", "video-v2", "video-v1"};

  SimArgs sim;
  auto *s = app.add_subcommand("simulate",
                               "Protect synthetic streams, send them over a lossy "
                               "channel and compare the residual loss with an ideal code");
  s->add_option("--variant", sim.variant, "audio-v2, video-v2, video-v1 or all")
      ->capture_default_str();
  s->add_option("-k", sim.k, "media packets per group (default per variant)");
  s->add_option("-r", sim.r, "FEC packets per group (default per variant)");
  s->add_option("--loss", sim.loss, "random loss with probability P")->type_name("P");
  s->add_option("--burst", sim.burst, "Gilbert-Elliott burst loss: rate P, mean burst length")
      ->type_name("P:MEANLEN");
  s->add_option("--duration", sim.duration, "seconds of media per stream")->capture_default_str();
  s->add_option("--seed", sim.seed, "random seed")->capture_default_str();
  s->add_option("--sweep", sim.sweep, "residual loss over channel loss rates")
      ->type_name("FROM:TO:STEP");
  s->add_option("--csv", sim.csv, "also write the results as CSV")->type_name("FILE");
  s->add_flag("--json", sim.json, "print JSON instead of the table");
  s->add_option("--plot", sim.plot,
                "plot residual loss against channel loss (sweeps 0:0.3:0.02 "
                "unless --sweep is given)")
      ->type_name("FILE.png|FILE.svg");

  ProtectOptions prot;
  std::string p_in, p_out, p_variant;
  auto *p = app.add_subcommand("protect", "Add FEC packets to the RTP streams of a capture");
  p->add_option("IN", p_in, "input capture")->required();
  p->add_option("OUT", p_out, "output capture")->required();
  p->add_option("--variant", p_variant, "FEC variant")
      ->required()
      ->check(CLI::IsMember(variant_names));
  p->add_option("-k", prot.k, "media packets per group")->required();
  p->add_option("-r", prot.r, "FEC packets per group")->required();
  p->add_option("--fec-pt", prot.fec_pt, "RTP payload type of the FEC packets")
      ->check(CLI::Range(0, 127))
      ->capture_default_str();
  p->add_option("--fec-port-offset", prot.port_offset, "FEC port = media port + offset")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();

  std::string l_in, l_out, l_loss, l_burst;
  std::uint64_t l_seed = 1;
  auto *l = app.add_subcommand("lossy", "Drop packets of a capture, media and FEC alike");
  l->add_option("IN", l_in, "input capture")->required();
  l->add_option("OUT", l_out, "output capture")->required();
  auto *l_loss_opt =
      l->add_option("--loss", l_loss, "random loss with probability P")->type_name("P");
  auto *l_burst_opt =
      l->add_option("--burst", l_burst, "Gilbert-Elliott burst loss")->type_name("P:MEANLEN");
  l_loss_opt->excludes(l_burst_opt);
  l->add_option("--seed", l_seed, "random seed")->capture_default_str();

  RecoverOptions rec;
  std::string r_in, r_out;
  auto *r =
      app.add_subcommand("recover", "Recover lost media packets of a capture from its FEC packets");
  r->add_option("IN", r_in, "input capture")->required();
  r->add_option("OUT", r_out, "output capture: the media streams")->required();
  r->add_option("--fec-port-offset", rec.port_offset, "FEC port = media port + offset")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  r->add_option("--fec-pt", rec.fec_pt, "RTP payload type of the FEC packets")
      ->check(CLI::Range(0, 127))
      ->capture_default_str();

  CLI11_PARSE(app, argc, argv);

  if (s->parsed()) return run_simulate(sim);
  if (p->parsed()) {
    prot.variant = *variant_from_name(p_variant);
    if (auto why = check_group_shape(prot.variant, prot.k, prot.r); !why.empty()) {
      fmt::print(stderr, "zvfec protect: {}: {}\n", p_variant, why);
      return 1;
    }
    return protect_command(p_in, p_out, prot);
  }
  if (l->parsed()) {
    if (l_loss.empty() == l_burst.empty()) {
      fmt::print(stderr, "zvfec lossy: give one of --loss P or --burst P:MEANLEN\n");
      return 1;
    }
    std::string why;
    const auto m =
        l_loss.empty() ? parse_loss(l_burst, true, &why) : parse_loss(l_loss, false, &why);
    if (!m) {
      fmt::print(stderr, "zvfec lossy: {}\n", why);
      return 1;
    }
    return lossy_command(l_in, l_out, *m, l_seed);
  }
  return recover_command(r_in, r_out, rec);
}
