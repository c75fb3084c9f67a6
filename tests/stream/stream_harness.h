// RTP packets built byte by byte for the stream layer's tests, and RAII owners
// of senders and receivers with helpers that drain what they hand out.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <zvfec/stream.h>

namespace zvtest {

using Bytes = std::vector<std::uint8_t>;

// A media RTP packet of len bytes whose payload is a pattern of (ssrc, seq) and
// a seeded random tail, so that a misplaced or rebuilt-wrong packet differs.
inline Bytes rtp(std::uint32_t ssrc, std::uint16_t seq, std::size_t len = 100,
                 std::uint32_t timestamp = 0, std::uint8_t pt = 96) {
  Bytes p(len);
  p[0] = 0x80;
  p[1] = pt;
  p[2] = static_cast<std::uint8_t>(seq >> 8);
  p[3] = static_cast<std::uint8_t>(seq);
  for (int i = 0; i < 4; ++i) {
    p[4 + i] = static_cast<std::uint8_t>(timestamp >> (24 - 8 * i));
    p[8 + i] = static_cast<std::uint8_t>(ssrc >> (24 - 8 * i));
  }
  std::mt19937 rng(ssrc * 65536u + seq);
  for (std::size_t i = 12; i < len; ++i) p[i] = static_cast<std::uint8_t>(rng());
  return p;
}

inline std::uint16_t seq_of(const Bytes &p) { return static_cast<std::uint16_t>(p[2] << 8 | p[3]); }
inline std::uint32_t u32_at(const Bytes &p, std::size_t at) {
  return std::uint32_t{p[at]} << 24 | std::uint32_t{p[at + 1]} << 16 |
         std::uint32_t{p[at + 2]} << 8 | p[at + 3];
}

using SenderPtr = std::unique_ptr<zvfec_stream_sender, decltype(&zvfec_stream_sender_free)>;
using ReceiverPtr = std::unique_ptr<zvfec_stream_receiver, decltype(&zvfec_stream_receiver_free)>;

inline SenderPtr make_sender(int variant, int k, int r, std::uint32_t fec_ssrc = 0,
                             std::int64_t timeout_ns = 0, int pt = 127) {
  const zvfec_stream_sender_config cfg{variant, k, r, pt, fec_ssrc, timeout_ns};
  return {zvfec_stream_sender_new(&cfg, nullptr), zvfec_stream_sender_free};
}

inline ReceiverPtr make_receiver(std::int64_t hold_ns = 1'000'000'000, std::size_t max = 0) {
  const zvfec_stream_receiver_config cfg{hold_ns, max};
  return {zvfec_stream_receiver_new(&cfg, nullptr), zvfec_stream_receiver_free};
}

struct Out {
  Bytes data;
  std::uint32_t media_ssrc;
  std::int64_t seq;
};

inline std::vector<Out> drain(zvfec_stream_sender *s) {
  std::vector<Out> out;
  zvfec_stream_packet p;
  while (zvfec_stream_sender_pop(s, &p))
    out.push_back({{p.data, p.data + p.len}, p.media_ssrc, p.seq});
  return out;
}

inline std::vector<Out> drain(zvfec_stream_receiver *r) {
  std::vector<Out> out;
  zvfec_stream_packet p;
  while (zvfec_stream_receiver_pop(r, &p))
    out.push_back({{p.data, p.data + p.len}, p.media_ssrc, p.seq});
  return out;
}

inline zvfec_stream_receiver_stats stats(const zvfec_stream_receiver *r) {
  zvfec_stream_receiver_stats s{};
  zvfec_stream_receiver_get_stats(r, &s);
  return s;
}

}  // namespace zvtest
