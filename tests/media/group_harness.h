// Builds groups of RTP media packets, runs them through the exported encode and
// decode, and compares what comes back. Every buffer is allocated at exactly
// its stated length, so a sanitizer build catches any access beyond it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "zv_rsfec.h"

namespace zvtest {

using Bytes = std::vector<uint8_t>;

// The library's log lines, collected while a LogCapture is alive.
inline std::vector<std::string> g_lines;
inline void collect(const char *text) { g_lines.emplace_back(text); }

inline bool logged(const std::string &text) {
  for (const std::string &l : g_lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

// Registers the collector at INFO level for its lifetime, then restores the
// library's initial state (no callback, nothing logged).
class LogCapture {
 public:
  LogCapture() {
    g_lines.clear();
    zv_rsfec_register_log_callback(collect);
    zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  }
  ~LogCapture() {
    zv_rsfec_register_log_callback(nullptr);
    zv_rsfec_set_log_level(ZV_FEC_LOG_NONE);
  }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;
};

// A media buffer: little-endian length prefix, RTP header with `seq`, random
// payload; `rtp_len` bytes of RTP in all. No padding: the stated length is
// the buffer's size.
inline Bytes make_media(uint16_t seq, int rtp_len, std::mt19937 &rng) {
  Bytes b(static_cast<size_t>(rtp_len + 2));
  b[0] = static_cast<uint8_t>(rtp_len);
  b[1] = static_cast<uint8_t>(rtp_len >> 8);
  for (size_t i = 2; i < b.size(); ++i) b[i] = static_cast<uint8_t>(rng());
  b[2] = 0x80;
  b[3] = 96;
  b[4] = static_cast<uint8_t>(seq >> 8);
  b[5] = static_cast<uint8_t>(seq);
  return b;
}

// Pointer and length arrays over a list of buffers, as the C interface takes them.
struct PacketArrays {
  std::vector<unsigned char *> ptr;
  std::vector<int> len;

  explicit PacketArrays(std::vector<Bytes> &bufs) {
    for (Bytes &b : bufs) {
      ptr.push_back(b.data());
      len.push_back(static_cast<int>(b.size()));
    }
  }
  unsigned char **p() { return ptr.empty() ? nullptr : ptr.data(); }
  int *l() { return len.empty() ? nullptr : len.data(); }
  int n() const { return static_cast<int>(ptr.size()); }
};

// A handle for one variant, released at the end of the scope.
class Handle {
 public:
  Handle(int type, int version) { zv_rsfec_initilize(type, version, &h_); }
  ~Handle() { zv_rsfec_destory(h_); }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  void *get() const { return h_; }

 private:
  void *h_ = nullptr;
};

// The FEC header size of a variant.
inline int header_size(int type, int version) {
  return type == ZV_FEC_VIDEO && version == ZV_FEC_VERSION_2 ? 12 : 8;
}

// A group of k media packets with consecutive sequence numbers from base_seq,
// and its r FEC packets as the encoder wrote them (trimmed to their lengths).
struct Group {
  std::vector<Bytes> media;
  std::vector<Bytes> fec;
  int encode_rc = 0;
};

inline Group encode_group(void *handle, int hdr, int k, int r, uint16_t base_seq, int min_len,
                          int max_len, std::mt19937 &rng) {
  Group g;
  std::uniform_int_distribution<int> size(min_len, max_len);
  int longest = 0;
  for (int i = 0; i < k; ++i) {
    g.media.push_back(make_media(static_cast<uint16_t>(base_seq + i), size(rng), rng));
    longest = std::max(longest, static_cast<int>(g.media.back().size()));
  }
  const int s = (longest + 3) & ~3;
  g.fec.assign(static_cast<size_t>(r), Bytes(static_cast<size_t>(12 + hdr + s)));
  PacketArrays m(g.media), f(g.fec);
  g.encode_rc = zv_rsfec_encode(handle, 0, m.p(), m.l(), k, r, 0, f.p(), f.l());
  for (int j = 0; j < r; ++j)
    g.fec[static_cast<size_t>(j)].resize(static_cast<size_t>(f.len[static_cast<size_t>(j)]));
  return g;
}

// What one decode call returned.
struct Decoded {
  int rc = 0;
  std::vector<Bytes> packets;  // the recovered RTP packets, trimmed to their lengths
};

// Decodes from the given media and FEC packets (copies: the version-2 decoders
// overwrite the FEC packets they use). Output buffers are S - 2 bytes, the
// least the interface promises to need.
inline Decoded decode_group(void *handle, std::vector<Bytes> media, std::vector<Bytes> fec,
                            int symbol_len) {
  PacketArrays m(media), f(fec);
  const size_t slots = std::max<size_t>(fec.size(), 1);
  std::vector<Bytes> out(slots, Bytes(static_cast<size_t>(std::max(symbol_len - 2, 1))));
  PacketArrays o(out);
  int num = -1;
  Decoded d;
  d.rc = zv_rsfec_decode(handle, m.p(), m.l(), m.n(), f.p(), f.l(), f.n(), 0, o.p(), o.l(), &num);
  for (int i = 0; i < num; ++i) {
    Bytes pkt = out[static_cast<size_t>(i)];
    pkt.resize(static_cast<size_t>(o.len[static_cast<size_t>(i)]));
    d.packets.push_back(std::move(pkt));
  }
  return d;
}

// The RTP packet inside a media buffer.
inline Bytes rtp_of(const Bytes &media) { return Bytes(media.begin() + 2, media.end()); }

// Symbol length of a group as the encoder computes it.
inline int symbol_length_of(const std::vector<Bytes> &media) {
  size_t longest = 0;
  for (const Bytes &b : media) longest = std::max(longest, b.size());
  return static_cast<int>((longest + 3) & ~size_t{3});
}

// Decodes after losing the packets marked in `lost` (media packets 0..k-1, then
// FEC packets k..n-1) and checks that exactly the lost media packets come back,
// byte for byte, in sequence order. Patterns that leave no FEC packet are not
// decodable by the interface's contract and are passed over.
inline void expect_recovers(void *h, const Group &g, const std::vector<bool> &lost) {
  const size_t k = g.media.size();
  std::vector<Bytes> media, fec, expected;
  for (size_t i = 0; i < k; ++i) {
    if (lost[i])
      expected.push_back(rtp_of(g.media[i]));
    else
      media.push_back(g.media[i]);
  }
  for (size_t j = 0; j < g.fec.size(); ++j)
    if (!lost[k + j]) fec.push_back(g.fec[j]);
  if (fec.empty()) return;
  const Decoded d = decode_group(h, media, fec, symbol_length_of(g.media));
  ASSERT_EQ(d.rc, 0);
  ASSERT_EQ(d.packets, expected);
}

// The packets of a group of n marked by the bits of `mask`.
inline std::vector<bool> loss_of_mask(int n, uint64_t mask) {
  std::vector<bool> lost(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) lost[static_cast<size_t>(i)] = (mask >> i & 1) != 0;
  return lost;
}

// A set of `count` packets out of n, chosen at random, as a bit mask.
inline std::vector<bool> random_loss(int n, int count, std::mt19937 &rng) {
  std::vector<int> order(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<bool> lost(static_cast<size_t>(n));
  for (int i = 0; i < count && i < n; ++i)
    lost[static_cast<size_t>(order[static_cast<size_t>(i)])] = true;
  return lost;
}

}  // namespace zvtest
