#include "synthetic_stream.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "rtp.h"

namespace zvtool {
namespace {

Bytes rtp_packet(const RtpHeader &h, std::size_t payload, std::mt19937_64 &rng) {
  Bytes p(12 + payload);
  write_rtp(p, h);
  for (std::size_t i = 12; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(rng());
  return p;
}

}  // namespace

std::vector<Bytes> synthetic_video(double seconds, double bitrate, int fps, int max_packet,
                                   std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> jitter(0.8, 1.2);
  const int frames = static_cast<int>(std::lround(seconds * fps));
  // A key frame every fps frames at 4x: mean frame = (4 + fps - 1) / fps units.
  const double unit = bitrate / 8.0 / (fps + 3.0);
  const auto max_payload = static_cast<std::size_t>(std::max(max_packet - 12, 1));
  RtpHeader h;
  h.payload_type = 96;
  h.ssrc = 0x1234ABCD;
  h.seq = static_cast<std::uint16_t>(rng());
  std::vector<Bytes> out;
  for (int f = 0; f < frames; ++f) {
    const double size = unit * (f % fps == 0 ? 4.0 : 1.0) * jitter(rng);
    auto left = static_cast<std::size_t>(std::max(1.0, size));
    h.timestamp = static_cast<std::uint32_t>(f) * (90000u / static_cast<std::uint32_t>(fps));
    while (left > 0) {
      const std::size_t chunk = std::min(left, max_payload);
      left -= chunk;
      h.marker = left == 0;
      out.push_back(rtp_packet(h, chunk, rng));
      ++h.seq;
    }
  }
  return out;
}

std::vector<Bytes> synthetic_audio(double seconds, int packets_per_s, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> size(100, 200);
  const int n = static_cast<int>(std::lround(seconds * packets_per_s));
  RtpHeader h;
  h.payload_type = 111;
  h.ssrc = 0x5EED0A0D;
  h.seq = static_cast<std::uint16_t>(rng());
  std::vector<Bytes> out;
  for (int i = 0; i < n; ++i) {
    h.timestamp =
        static_cast<std::uint32_t>(i) * (48000u / static_cast<std::uint32_t>(packets_per_s));
    out.push_back(rtp_packet(h, size(rng) - 12, rng));
    ++h.seq;
  }
  return out;
}

}  // namespace zvtool
