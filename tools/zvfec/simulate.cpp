#include "simulate.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "rtp.h"
#include "synthetic_stream.h"

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

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  const auto i = static_cast<std::size_t>(std::min<double>(
      static_cast<double>(v.size() - 1), std::floor(q * static_cast<double>(v.size()))));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(i), v.end());
  return v[i];
}

}  // namespace

std::vector<Bytes> stream_for(Variant v, const SimOptions &opts) {
  if (v == Variant::audio_v2) return synthetic_audio(opts.duration_s, 50, mix(opts.seed ^ 0xA0));
  return synthetic_video(opts.duration_s, 2.5e6, 30, 1200, mix(opts.seed ^ 0x7D));
}

SimResult simulate_case(const SimCase &c, const std::vector<Bytes> &stream, const SimOptions &opts,
                        const std::function<void(double)> &on_progress) {
  SimResult res;
  res.c = c;
  if (auto why = check_group_shape(c.variant, c.k, c.r); !why.empty()) {
    res.error = why;
    return res;
  }
  FecCodec codec(c.variant);
  if (!codec.ok()) {
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
  std::vector<Bytes> fec;
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
    const Timed enc = codec.encode(media, c.r, fec);
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
        const auto hdr = parse_fec_packet(fec[0]);
        if (!hdr) {
          res.error = "the library wrote an FEC header that does not describe the group";
          return res;
        }
        const auto ssrc = parse_rtp(media[0])->ssrc;
        const auto d = codec.decode(*hdr, got_media, got_fec, ssrc);
        if (d.call.code != -100) {
          if (d.call.ns > 0)
            dec_rate.push_back(static_cast<double>(group_bytes) / static_cast<double>(d.call.ns));
          group_us += static_cast<double>(d.call.ns) / 1e3;
        }
        for (const auto &p : d.packets) {
          const auto off = static_cast<std::uint16_t>(parse_rtp(p)->seq - hdr->base_seq);
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

  res.groups = static_cast<std::int64_t>(groups);
  res.media = static_cast<std::int64_t>(groups * k);
  if (res.media > 0)
    res.residual = static_cast<double>(res.lost - res.recovered) / static_cast<double>(res.media);
  if (res.media_bytes > 0)
    res.overhead = static_cast<double>(res.fec_bytes) / static_cast<double>(res.media_bytes);
  const auto bound = mds_residual(c.channel, c.k, c.r);
  res.mds = bound.mean;
  if (groups > 0) res.mds_stderr = std::sqrt(bound.variance / static_cast<double>(groups));
  res.encode_mbps = percentile(enc_rate, 0.5) * 1e3;
  res.decode_mbps = percentile(dec_rate, 0.5) * 1e3;
  res.latency_p50_us = percentile(latency_us, 0.50);
  res.latency_p99_us = percentile(latency_us, 0.99);
  return res;
}

}  // namespace zvtool
