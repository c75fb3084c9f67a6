#include "simulate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include <fmt/format.h>

#include "command.h"
#include "plot.h"
#include "report.h"
#include "rtp.h"
#include "synthetic_stream.h"
#include "variant.h"

namespace zvtool {
namespace {

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t case_seed(const SimCase &c, std::uint64_t seed) {
  std::uint64_t h = mix(seed);
  h = mix(h ^ static_cast<std::uint64_t>(c.variant));
  h = mix(h ^ (static_cast<std::uint64_t>(c.k) << 8 | static_cast<std::uint64_t>(c.r)));
  h = mix(h ^ static_cast<std::uint64_t>(std::llround(c.channel.rate * 1e9)));
  h = mix(h ^ static_cast<std::uint64_t>(std::llround(c.channel.mean_burst * 1e6)));
  return mix(h ^ (c.channel.burst ? 1u : 0u));
}

using CodecPtr = std::unique_ptr<zvfec_stream_codec, decltype(&zvfec_stream_codec_free)>;

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A stream-layer call's result code and the wall time spent inside it.
struct Timed {
  int code = 0;
  std::int64_t ns = 0;
};

// Protects the group `media` with r FEC packets of variant v (the codec's),
// placed in fec, each with the stream layer's zeroed room for an RTP header in
// front.
Timed encode_group(zvfec_stream_codec *codec, zvfec_stream_variant v,
                   std::span<const ByteView> media, int r, std::vector<Bytes> &fec) {
  std::vector<const std::uint8_t *> ptr;
  std::vector<std::size_t> len;
  std::size_t longest = 0;
  for (const auto &m : media) {
    ptr.push_back(m.data());
    len.push_back(m.size());
    longest = std::max(longest, m.size());
  }
  // The stream layer refuses a group too long for a symbol.
  const std::size_t cap = zvfec_stream_fec_size(v, zvfec_stream_symbol_len(longest));
  fec.assign(static_cast<std::size_t>(r), Bytes(cap));
  std::vector<std::uint8_t *> out;
  for (auto &f : fec) out.push_back(f.data());
  std::vector<std::size_t> out_len(fec.size(), 0);
  const std::int64_t t0 = now_ns();
  const int rc =
      zvfec_stream_codec_encode(codec, ptr.data(), len.data(), static_cast<int>(media.size()), r,
                                out.data(), cap, out_len.data());
  const Timed t{rc, now_ns() - t0};
  if (rc != 0) fec.clear();
  for (std::size_t j = 0; j < fec.size(); ++j) fec[j].resize(out_len[j]);
  return t;
}

// Recovers what `group` lacks from the media and FEC packets that arrived;
// recovered holds the packets the stream layer handed out, in sequence order.
Timed decode_group(zvfec_stream_codec *codec, const zvfec_stream_fec_header &group,
                   std::uint32_t ssrc, std::span<const ByteView> media,
                   std::span<const ByteView> fec, std::vector<Bytes> &recovered) {
  std::vector<const std::uint8_t *> mp, fp;
  std::vector<std::size_t> ml, fl;
  for (const auto &m : media) mp.push_back(m.data()), ml.push_back(m.size());
  for (const auto &f : fec) fp.push_back(f.data()), fl.push_back(f.size());
  const auto k = static_cast<std::size_t>(group.k);
  const auto cap = static_cast<std::size_t>(group.symbol_len);
  recovered.assign(k, Bytes(cap));
  std::vector<std::uint8_t *> rp;
  for (auto &b : recovered) rp.push_back(b.data());
  std::vector<std::size_t> rl(k, 0);
  int count = 0;
  const std::int64_t t0 = now_ns();
  const int rc =
      zvfec_stream_codec_decode(codec, &group, ssrc, mp.data(), ml.data(), mp.size(), fp.data(),
                                fl.data(), fp.size(), rp.data(), cap, rl.data(), &count, nullptr);
  const Timed t{rc, now_ns() - t0};
  recovered.resize(static_cast<std::size_t>(count));
  for (std::size_t m = 0; m < recovered.size(); ++m) recovered[m].resize(rl[m]);
  return t;
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  const auto i = static_cast<std::size_t>(std::min<double>(
      static_cast<double>(v.size() - 1), std::floor(q * static_cast<double>(v.size()))));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
  return v[i];
}

// Fills in what follows from res's counts over `groups` groups of its case,
// its ideal code's bound and the per-call rates (bytes per ns) and per-group
// latencies (us) measured.
void summarise(SimResult &res, std::int64_t groups, const std::vector<double> &enc_rate,
               const std::vector<double> &dec_rate, const std::vector<double> &latency_us) {
  res.groups = groups;
  res.media = groups * res.c.k;
  if (res.media > 0)
    res.residual = static_cast<double>(res.lost - res.recovered) / static_cast<double>(res.media);
  if (res.media_bytes > 0)
    res.overhead = static_cast<double>(res.fec_bytes) / static_cast<double>(res.media_bytes);
  const auto bound = mds_residual(res.c.channel, res.c.k, res.c.r);
  res.mds = bound.mean;
  if (groups > 0) res.mds_stderr = std::sqrt(bound.variance / static_cast<double>(groups));
  res.encode_mbps = percentile(enc_rate, 0.5) * 1e3;
  res.decode_mbps = percentile(dec_rate, 0.5) * 1e3;
  res.latency_p50_us = percentile(latency_us, 0.50);
  res.latency_p99_us = percentile(latency_us, 0.99);
}

}  // namespace

std::vector<Bytes> stream_for(zvfec_stream_variant v, const SimOptions &opts) {
  if (v == ZVFEC_STREAM_AUDIO_V2)
    return synthetic_audio(opts.duration_s, 50, mix(opts.seed ^ 0xA0));
  return synthetic_video(opts.duration_s, 2.5e6, 30, 1200, mix(opts.seed ^ 0x7D));
}

SimResult simulate_case(const SimCase &c, const std::vector<Bytes> &stream, const SimOptions &opts,
                        const std::function<void(double)> &on_progress) {
  SimResult res;
  res.c = c;
  if (auto why = shape_error(c.variant, c.k, c.r); !why.empty()) {
    res.error = why;
    return res;
  }
  const CodecPtr codec(zvfec_stream_codec_new(c.variant), zvfec_stream_codec_free);
  if (!codec) {
    res.error = "the library refused to create a handle";
    return res;
  }
  LossChannel channel(c.channel, case_seed(c, opts.seed));
  const auto k = static_cast<std::size_t>(c.k);
  const std::size_t groups = stream.size() / k;
  std::vector<double> latency_us;
  latency_us.reserve(groups);
  // Per-call rates in bytes per nanosecond (GB/s); their median is the
  // throughput, which one descheduled call on a busy machine cannot skew.
  std::vector<double> enc_rate, dec_rate;
  std::vector<Bytes> fec, back_packets;
  std::vector<ByteView> media(k), got_media, got_fec;
  std::vector<bool> media_lost(k);

  for (std::size_t g = 0; g < groups; ++g) {
    if (on_progress && g % 256 == 0)
      on_progress(static_cast<double>(g) / static_cast<double>(groups));
    std::int64_t group_bytes = 0;
    for (std::size_t i = 0; i < k; ++i) {
      media[i] = stream[g * k + i];
      group_bytes += static_cast<std::int64_t>(media[i].size());
    }
    const Timed enc = encode_group(codec.get(), c.variant, media, c.r, fec);
    if (enc.code != 0) {
      res.error = fmt::format("encode failed with code {}", enc.code);
      return res;
    }
    if (enc.ns > 0)
      enc_rate.push_back(static_cast<double>(group_bytes) / static_cast<double>(enc.ns));
    res.media_bytes += group_bytes;
    for (const auto &f : fec) res.fec_bytes += static_cast<std::int64_t>(f.size());

    // Media first, then the repair packets, as a sender puts them on the wire.
    got_media.clear();
    got_fec.clear();
    std::int64_t lost = 0;
    for (std::size_t i = 0; i < k; ++i) {
      media_lost[i] = channel.lose();
      if (media_lost[i])
        ++lost;
      else
        got_media.push_back(media[i]);
    }
    for (const auto &f : fec)
      if (!channel.lose()) got_fec.push_back(f);

    double group_us = static_cast<double>(enc.ns) / 1e3;
    if (lost > 0) {
      res.lost += lost;
      std::int64_t back = 0;
      if (!got_fec.empty()) {
        zvfec_stream_fec_header hdr{};
        if (zvfec_stream_parse_fec(fec[0].data(), fec[0].size(), &hdr) != 0) {
          res.error = "the library wrote an FEC header that does not describe the group";
          return res;
        }
        const auto ssrc = parse_rtp(media[0])->ssrc;
        const Timed dec = decode_group(codec.get(), hdr, ssrc, got_media, got_fec, back_packets);
        // Too few symbols: the stream layer did not call the library.
        if (dec.code != ZVFEC_STREAM_E_TOO_FEW) {
          if (dec.ns > 0)
            dec_rate.push_back(static_cast<double>(group_bytes) / static_cast<double>(dec.ns));
          group_us += static_cast<double>(dec.ns) / 1e3;
        }
        for (const auto &p : back_packets) {
          const auto off = static_cast<std::uint16_t>(parse_rtp(p)->seq - hdr.base_seq);
          if (media_lost[off] && std::ranges::equal(p, media[off]))
            ++back;
          else
            ++res.corrupt;
        }
      }
      res.recovered += back;
      if (got_media.size() + got_fec.size() >= k && back < lost) ++res.failed_groups;
    }
    latency_us.push_back(group_us);
  }

  summarise(res, static_cast<std::int64_t>(groups), enc_rate, dec_rate, latency_us);
  return res;
}

namespace {

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

int failed(const std::string &msg) { return command_error("simulate", msg); }

// FROM:TO:STEP, or nullopt.
std::optional<SimulateCommand::Sweep> parse_sweep(const std::string &text) {
  double f = 0, t = 0, s = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%lf:%lf:%lf%c", &f, &t, &s, &tail) != 3 || !(s > 0) || !(f >= 0) ||
      !(t >= f) || !(t < 1) || (t - f) / s > 1000)
    return std::nullopt;
  SimulateCommand::Sweep out;
  out.from = f, out.to = t, out.step = s;
  return out;
}

// The synthetic streams, each made when a case first needs it.
class Streams {
 public:
  explicit Streams(const SimOptions &opts) : opts_(opts) {}
  const std::vector<Bytes> &of(zvfec_stream_variant v) {
    auto &s = v == ZVFEC_STREAM_AUDIO_V2 ? audio_ : video_;
    if (s.empty()) s = stream_for(v, opts_);
    return s;
  }

 private:
  SimOptions opts_;
  std::vector<Bytes> video_, audio_;
};

std::vector<SimResult> run_cases(const SimulateCommand &cmd, Streams &streams,
                                 const std::function<void(double)> &on_progress) {
  std::vector<SimResult> results;
  const double runs = static_cast<double>(cmd.cases.size() * cmd.channels.size());
  for (const auto &ch : cmd.channels)
    for (auto c : cmd.cases) {
      const auto done = static_cast<double>(results.size());
      c.channel = ch;
      results.push_back(simulate_case(c, streams.of(c.variant), cmd.sim, [&](double f) {
        if (on_progress) on_progress((done + f) / runs);
      }));
    }
  return results;
}

std::vector<SweepPoint> run_sweep(const SimulateCommand &cmd, Streams &streams,
                                  const std::function<void(double)> &on_progress) {
  const auto &sw = *cmd.sweep;
  std::vector<SweepPoint> sweep;
  const int points = static_cast<int>(std::floor((sw.to - sw.from) / sw.step + 1e-9)) + 1;
  for (int i = 0; i < points; ++i) {
    if (on_progress) on_progress(static_cast<double>(i) / points);
    const double p = sw.from + sw.step * i;
    std::optional<LossModel> m = sw.burst ? LossModel::gilbert_elliott(p, sw.mean_burst)
                                          : std::optional<LossModel>(LossModel::random(p));
    if (!m) continue;  // that rate cannot have that burst length
    SweepPoint pt{p, {}};
    for (auto c : cmd.cases) {
      c.channel = *m;
      pt.results.push_back(simulate_case(c, streams.of(c.variant), cmd.sim));
    }
    sweep.push_back(std::move(pt));
  }
  return sweep;
}

// Prints j with the run's duration and seed.
void print_json(const SimulateCommand &cmd, nlohmann::json j) {
  j["duration_s"] = cmd.sim.duration_s;
  j["seed"] = cmd.sim.seed;
  fmt::print("{}\n", j.dump(2));
}

int print_results(const SimulateCommand &cmd, const std::vector<SimResult> &results) {
  if (cmd.json) {
    print_json(cmd, results_json(results));
  } else {
    fmt::print(
        "{} s per stream (video 2.5 Mbit/s 30 fps, packets <= 1200 bytes; audio 50 "
        "packets/s), seed {}\n",
        cmd.sim.duration_s, cmd.sim.seed);
    fmt::print("{}", results_table(results));
  }
  if (!cmd.csv.empty() && !write_text(cmd.csv, results_csv(results)))
    return failed(fmt::format("cannot write '{}'", cmd.csv));
  return faults(results) ? 1 : 0;
}

int print_sweep(const SimulateCommand &cmd, const std::vector<SweepPoint> &sweep) {
  const auto &sw = *cmd.sweep;
  if (cmd.json) {
    print_json(cmd, sweep_json(sweep));
  } else {
    fmt::print(
        "residual media loss % against channel loss % ({} channel{}), {} s per stream, "
        "seed {}\n",
        sw.burst ? "burst" : "random",
        sw.burst ? fmt::format(", mean burst {:g}", sw.mean_burst) : "", cmd.sim.duration_s,
        cmd.sim.seed);
    fmt::print("{}", sweep_table(sweep));
  }
  if (!cmd.csv.empty() && !write_text(cmd.csv, sweep_csv(sweep)))
    return failed(fmt::format("cannot write '{}'", cmd.csv));
  if (!cmd.plot.empty()) {
    if (auto err = plot_sweep(sweep, cmd.plot); !err.empty()) return failed(err);
    if (!cmd.json) fmt::print("plot written to {}\n", cmd.plot);
  }
  std::vector<SimResult> all;
  for (const auto &p : sweep) all.insert(all.end(), p.results.begin(), p.results.end());
  return faults(all) ? 1 : 0;
}

}  // namespace

std::optional<SimulateCommand> parse_simulate(const SimulateArgs &a, std::string *why) {
  SimulateCommand cmd;
  std::vector<zvfec_stream_variant> variants;
  if (a.variant == "all") {
    variants = {ZVFEC_STREAM_VIDEO_V2, ZVFEC_STREAM_VIDEO_V1, ZVFEC_STREAM_AUDIO_V2};
  } else if (auto v = variant_from_name(a.variant)) {
    variants = {*v};
  } else {
    *why = fmt::format("unknown variant '{}' ({} or all)", a.variant, variant_list());
    return std::nullopt;
  }
  // The streams are held in memory: ten minutes of video is about 170 MB.
  if (!(a.duration > 0 && a.duration <= 600)) {
    *why = "--duration must be in (0, 600] seconds";
    return std::nullopt;
  }
  cmd.sim = {a.duration, a.seed};

  if (!a.loss.empty()) {
    auto m = parse_loss(a.loss, false, why);
    if (!m) return std::nullopt;
    cmd.channels.push_back(*m);
  }
  if (!a.burst.empty()) {
    auto m = parse_loss(a.burst, true, why);
    if (!m) return std::nullopt;
    cmd.channels.push_back(*m);
  }
  if (cmd.channels.empty())
    cmd.channels = {LossModel::random(0.05), *LossModel::gilbert_elliott(0.05, 3)};

  for (auto v : variants) {
    const auto shape = default_shape(v);
    const int k = a.k.value_or(shape.k), r = a.r.value_or(shape.r);
    if (auto bad = shape_error(v, k, r); !bad.empty()) {
      *why = fmt::format("{}: {}", variant_name(v), bad);
      return std::nullopt;
    }
    cmd.cases.push_back({v, k, r, cmd.channels.front()});
  }

  if (!a.sweep.empty() || !a.plot.empty()) {
    SimulateCommand::Sweep sw;
    if (!a.sweep.empty()) {
      const auto parsed = parse_sweep(a.sweep);
      if (!parsed) {
        *why = fmt::format(
            "--sweep '{}' must be FROM:TO:STEP with 0 <= FROM <= TO < 1, STEP > 0 and at most "
            "1000 steps",
            a.sweep);
        return std::nullopt;
      }
      sw = *parsed;
    }
    sw.burst = !a.burst.empty();
    sw.mean_burst = sw.burst ? cmd.channels.back().mean_burst : 1;
    cmd.sweep = sw;
  }
  cmd.json = a.json;
  cmd.csv = a.csv;
  cmd.plot = a.plot;
  return cmd;
}

SimulateReport run_simulate(const SimulateCommand &cmd,
                            const std::function<void(double)> &on_progress) {
  Streams streams(cmd.sim);
  SimulateReport report;
  if (cmd.sweep)
    report.sweep = run_sweep(cmd, streams, on_progress);
  else
    report.results = run_cases(cmd, streams, on_progress);
  return report;
}

int print_simulate(const SimulateCommand &cmd, const SimulateReport &report) {
  return cmd.sweep ? print_sweep(cmd, report.sweep) : print_results(cmd, report.results);
}

int simulate_command(const SimulateArgs &args) {
  std::string why;
  const auto cmd = parse_simulate(args, &why);
  if (!cmd) return failed(why);
  const auto report = with_progress(cmd->sweep ? "sweep" : "simulate", [&](const auto &progress) {
    return run_simulate(*cmd, progress);
  });
  return print_simulate(*cmd, report);
}

}  // namespace zvtool
