#include "simulate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

#include <fmt/format.h>

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
