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
#include "plan.h"
#include "plot.h"
#include "progress.h"
#include "protect.h"
#include "recover.h"
#include "report.h"
#include "simulate.h"
#include "variant.h"

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

// The variants' names as the help and the messages list them.
std::string variant_list() {
  std::string out;
  for (const auto v : known_variants())
    out += (out.empty() ? "" : ", ") + std::string(variant_name(v));
  return out;
}

int fail(const std::string &msg, const char *command = "simulate") {
  fmt::print(stderr, "zvfec {}: {}\n", command, msg);
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
    const auto name = variant_name(r.c.variant);
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
  std::vector<zvfec_stream_variant> variants;
  if (a.variant == "all") {
    variants = {ZVFEC_STREAM_VIDEO_V2, ZVFEC_STREAM_VIDEO_V1, ZVFEC_STREAM_AUDIO_V2};
  } else if (auto v = variant_from_name(a.variant)) {
    variants = {*v};
  } else {
    return fail(fmt::format("unknown variant '{}' ({} or all)", a.variant, variant_list()));
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
    const auto shape = default_shape(v);
    const int k = a.k.value_or(shape.k), r = a.r.value_or(shape.r);
    if (auto bad = shape_error(v, k, r); !bad.empty())
      return fail(fmt::format("{}: {}", variant_name(v), bad));
    cases.push_back({v, k, r, channels.front()});
  }

  const SimOptions opts{a.duration, a.seed};
  std::vector<Bytes> video, audio;
  auto stream = [&](zvfec_stream_variant v) -> const std::vector<Bytes> & {
    auto &s = v == ZVFEC_STREAM_AUDIO_V2 ? audio : video;
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

// --loss P or --burst P:MEANLEN, one of them.
void add_channel_options(CLI::App *cmd, std::string &loss, std::string &burst) {
  auto *l = cmd->add_option("--loss", loss, "random loss with probability P")->type_name("P");
  auto *b =
      cmd->add_option("--burst", burst, "Gilbert-Elliott burst loss: rate P, mean burst length")
          ->type_name("P:MEANLEN");
  l->excludes(b);
}

struct PlanArgs {
  std::string variant = "video-v2";
  std::string loss, burst, rate, plot;
  std::optional<double> pps, max_overhead;
  int packet = 1200;
  double target = 0, max_delay = 0;
  bool json = false;
};

int run_plan(const PlanArgs &a) {
  auto bad = [](const std::string &msg) { return fail(msg, "plan"); };
  PlanRequest req;
  req.variant = *variant_from_name(a.variant);
  std::string why;
  const auto channel = channel_from_options(a.loss, a.burst, &why);
  if (!channel) return bad(why);
  req.channel = *channel;
  req.packet_bytes = a.packet;
  if (a.pps.has_value() == !a.rate.empty())
    return bad("give the stream as --pps N or as --rate BITS (with --packet BYTES)");
  if (a.pps) {
    req.packets_per_s = *a.pps;
  } else {
    const auto bits = parse_bit_rate(a.rate);
    if (!bits)
      return bad(fmt::format("--rate '{}' must be a bit rate such as 2.5M or 64k", a.rate));
    req.packets_per_s = *bits / (8.0 * a.packet);
  }
  req.target = a.target;
  req.max_delay_ms = a.max_delay;
  if (a.max_overhead) req.max_overhead = *a.max_overhead;
  if (auto e = check_plan_request(req); !e.empty()) return bad(e);

  const Plan plan = make_plan(req);
  if (a.json)
    fmt::print("{}\n", plan_json(plan).dump(2));
  else
    fmt::print("{}", plan_text(plan));
  if (!a.plot.empty()) {
    // One curve for each of a quarter, a half, once and twice the budget.
    std::vector<Plan> budgets;
    for (double f : {0.25, 0.5, 1.0, 2.0}) {
      PlanRequest r = req;
      r.max_delay_ms = req.max_delay_ms * f;
      if (f == 1.0)
        budgets.push_back(plan);
      else if (r.max_delay_ms > 0)
        budgets.push_back(make_plan(r));
    }
    if (auto e = plot_plans(budgets, plan, a.plot); !e.empty()) return bad(e);
    if (!a.json) fmt::print("plot written to {}\n", a.plot);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{
      "zvfec: forward error correction for RTP media, simulated on lossy networks, planned "
      "for them and applied to packet captures"};
  app.set_version_flag("--version", std::string(zv_rsfec_version()));
  app.require_subcommand(1);
  std::vector<std::string> variant_names;
  for (const auto v : known_variants()) variant_names.emplace_back(variant_name(v));

  SimArgs sim;
  auto *s = app.add_subcommand("simulate",
                               "Protect synthetic streams, send them over a lossy "
                               "channel and compare the residual loss with an ideal code");
  s->add_option("--variant", sim.variant, variant_list() + " or all")->capture_default_str();
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
  add_channel_options(l, l_loss, l_burst);
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

  PlanArgs plan;
  auto *pl = app.add_subcommand(
      "plan", "The cheapest k and r that bring a channel's loss down to a target within a delay");
  add_channel_options(pl, plan.loss, plan.burst);
  auto *pl_pps = pl->add_option("--pps", plan.pps, "media packets per second")->type_name("N");
  auto *pl_rate =
      pl->add_option("--rate", plan.rate, "media bit rate; packets/s = rate / (8 * packet size)")
          ->type_name("BITS[k|M|G]");
  pl_pps->excludes(pl_rate);
  pl->add_option("--packet", plan.packet, "media packet size in bytes, RTP header included")
      ->capture_default_str();
  pl->add_option("--target", plan.target, "residual media loss to reach, e.g. 1e-4")->required();
  pl->add_option("--max-delay", plan.max_delay, "added latency the receiver accepts")
      ->type_name("MS")
      ->required();
  pl->add_option("--variant", plan.variant, "FEC variant: sets the limits on k and r")
      ->check(CLI::IsMember(variant_names))
      ->capture_default_str();
  pl->add_option("--max-overhead", plan.max_overhead, "most FEC bytes per media byte, e.g. 0.25")
      ->type_name("FRACTION");
  pl->add_flag("--json", plan.json, "print JSON instead of the table");
  pl->add_option("--plot", plan.plot,
                 "plot residual loss against overhead for 1/4, 1/2, 1 and 2 times --max-delay")
      ->type_name("FILE.png|FILE.svg");
  pl->footer(
      "Every (k, r) the variant allows is searched with the exact residual loss of an ideal\n"
      "code (the MDS% of `zvfec simulate`). Cheapest means the fewest FEC bytes per media\n"
      "byte; between equal overheads, the smaller k (less delay) wins.\n"
      "Added delay: (k - 1) / packets per second. The FEC packets follow the group's last\n"
      "media packet at once, so a lost first packet is back once the rest of the group is.\n"
      "Decode MB/s: k * S bytes of GF(256) multiply-add for every media packet recovered\n"
      "(S: the packet size plus 2, rounded up to 4), times the packets recovered per second.\n"
      "The table shows the choices around the answer that are cheapest for their residual\n"
      "loss. When no shape meets the target, the closest one (least residual loss) is shown.");

  CLI11_PARSE(app, argc, argv);

  if (s->parsed()) return run_simulate(sim);
  if (pl->parsed()) return run_plan(plan);
  if (p->parsed()) {
    prot.variant = *variant_from_name(p_variant);
    if (auto why = shape_error(prot.variant, prot.k, prot.r); !why.empty()) {
      fmt::print(stderr, "zvfec protect: {}: {}\n", p_variant, why);
      return 1;
    }
    return protect_command(p_in, p_out, prot);
  }
  if (l->parsed()) {
    std::string why;
    const auto m = channel_from_options(l_loss, l_burst, &why);
    if (!m) {
      fmt::print(stderr, "zvfec lossy: {}\n", why);
      return 1;
    }
    return lossy_command(l_in, l_out, *m, l_seed);
  }
  return recover_command(r_in, r_out, rec);
}
