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

// What a sender or a receiver hands out, until it has nothing more.
template <class T>
std::vector<Out> drain_with(T *object, int (*pop)(T *, zvfec_stream_packet *)) {
  std::vector<Out> out;
  zvfec_stream_packet p;
  while (pop(object, &p)) out.push_back({{p.data, p.data + p.len}, p.media_ssrc, p.seq});
  return out;
}
inline std::vector<Out> drain(zvfec_stream_sender *s) {
  return drain_with(s, zvfec_stream_sender_pop);
}
inline std::vector<Out> drain(zvfec_stream_receiver *r) {
  return drain_with(r, zvfec_stream_receiver_pop);
}

struct Group {
  std::vector<Bytes> media, fec;
};

// n consecutive groups of k packets of one SSRC from sequence number `first`,
// protected by r FEC packets each from a stream-layer sender. Packets differ
// in length; RTP timestamps advance 3000 per packet.
inline std::vector<Group> protected_groups(int variant, std::uint32_t ssrc, std::uint16_t first,
                                           int n, int k, int r) {
  auto s = make_sender(variant, k, r);
  std::vector<Group> out(static_cast<std::size_t>(n));
  for (auto &g : out)
    for (int i = 0; i < k; ++i) {
      auto p = rtp(ssrc, first, 20 + (first * 37) % 400, 3000u * first);
      ++first;
      zvfec_stream_sender_push(s.get(), p.data(), p.size(), 0);
      g.media.push_back(std::move(p));
      for (auto &o : drain(s.get())) g.fec.push_back(o.data);
    }
  return out;
}

inline zvfec_stream_receiver_stats stats(const zvfec_stream_receiver *r) {
  zvfec_stream_receiver_stats s{};
  zvfec_stream_receiver_get_stats(r, &s);
  return s;
}

}  // namespace zvtest
