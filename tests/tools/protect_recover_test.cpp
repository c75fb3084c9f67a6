// protect_capture and recover_capture in process: group boundaries, and
// recovery from captures whose FEC headers were tampered with.
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "frames.h"
#include "protect.h"
#include "recover.h"

namespace zvtool {
namespace {

Frame rtp_frame(std::uint16_t seq, std::uint32_t ssrc = 0xABCD, std::size_t len = 60) {
  Bytes p(len, static_cast<std::uint8_t>(seq));
  RtpHeader h;
  h.payload_type = 96;
  h.seq = seq;
  h.timestamp = seq * 3000u;
  h.ssrc = ssrc;
  write_rtp(p, h);
  Frame f = frame(DLT_EN10MB, 4, p);
  f.ts_ns = seq * 1000;
  return f;
}

struct Seen {
  std::uint16_t base;
  int k;
};

std::vector<Seen> fec_groups(const std::vector<Frame> &frames) {
  std::vector<Seen> out;
  for (const auto &f : frames) {
    const auto v = dissect_udp(DLT_EN10MB, f);
    const ByteView p(f.data.data() + v->payload_off, v->payload_len);
    if (parse_rtp(p)->payload_type != kDefaultFecPt) continue;
    zvfec_stream_fec_header h{};
    EXPECT_EQ(zvfec_stream_parse_fec(p.data(), p.size(), &h), 0);
    if (h.k > 0 && h.esi == h.k) out.push_back({h.base_seq, h.k});
  }
  return out;
}

TEST(Protect, GroupsHoldConsecutiveSequenceNumbersOnly) {
  Capture cap;
  cap.linktype = DLT_EN10MB;
  // 65533..65535, 0, 1 wrap; then 3 after a gap at 2; then a repeat of 3 and 4.
  for (int s : {65533, 65534, 65535, 0, 1, 3, 3, 4, 5, 6, 7, 8, 9})
    cap.frames.push_back(rtp_frame(static_cast<std::uint16_t>(s)));
  ProtectStats stats;
  std::string messages;
  const ProtectOptions opts{ZVFEC_STREAM_AUDIO_V2, 4, 1, kDefaultFecPt, kDefaultPortOffset};
  const auto out = protect_capture(cap, opts, stats, &messages);
  EXPECT_TRUE(messages.empty()) << messages;
  const auto groups = fec_groups(out);
  // 65533..0 | 1 (gap) | 3 (repeat) | 3..6 | 7..9 (end).
  ASSERT_EQ(groups.size(), 5u);
  const std::vector<std::pair<int, int>> want{{65533, 4}, {1, 1}, {3, 1}, {3, 4}, {7, 3}};
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(groups[i].base, want[i].first) << i;
    EXPECT_EQ(groups[i].k, want[i].second) << i;
  }
  EXPECT_EQ(stats.groups, 5);
  EXPECT_EQ(out.size(), cap.frames.size() + 5);
}

TEST(Recover, TamperedFecHeadersNeverCrashOrInventMedia) {
  Capture cap;
  cap.linktype = DLT_EN10MB;
  for (int s = 0; s < 120; ++s)
    cap.frames.push_back(rtp_frame(static_cast<std::uint16_t>(s), 0xABCD, 40 + (s * 37) % 300));
  ProtectStats ps;
  std::string messages;
  const auto prot = protect_capture(
      cap, {ZVFEC_STREAM_VIDEO_V2, 6, 3, kDefaultFecPt, kDefaultPortOffset}, ps, &messages);
  std::map<std::uint16_t, Bytes> sent;
  for (const auto &f : cap.frames) {
    const auto v = dissect_udp(DLT_EN10MB, f);
    const ByteView p(f.data.data() + v->payload_off, v->payload_len);
    sent[parse_rtp(p)->seq] = Bytes(p.begin(), p.end());
  }
  std::mt19937 rng(12);
  std::int64_t recovered = 0, bad = 0, rejected = 0;
  for (int round = 0; round < 300; ++round) {
    Capture damaged;
    damaged.linktype = DLT_EN10MB;
    for (const auto &f : prot) {
      if (rng() % 8 == 0) continue;  // lost
      Frame g = f;
      const auto v = dissect_udp(DLT_EN10MB, g);
      // Rewrite a few bytes of the FEC header (offsets 12..23 of the payload)
      // of some FEC packets, or cut them short.
      if (v->payload_len > 24 && g.data[v->payload_off + 1] == kDefaultFecPt && rng() % 3 == 0) {
        for (int n = 0; n < 2; ++n)
          g.data[v->payload_off + 12 + rng() % 12] = static_cast<std::uint8_t>(rng());
        if (rng() % 4 == 0) {
          const Bytes payload(g.data.begin() + static_cast<std::ptrdiff_t>(v->payload_off),
                              g.data.begin() + static_cast<std::ptrdiff_t>(v->payload_off +
                                                                           rng() % v->payload_len));
          g.data = build_udp_frame(g, *v, v->flow.sport, v->flow.dport, payload);
          g.orig_len = static_cast<std::uint32_t>(g.data.size());
        }
      }
      damaged.frames.push_back(g);
    }
    RecoverStats rs;
    std::string msg;
    const auto out = recover_capture(damaged, {}, rs, &msg);
    for (const auto &s : rs.streams) recovered += s.recovered;
    bad += rs.bad_fec;
    rejected += rs.rejected;
    for (const auto &f : out) {
      const auto v = dissect_udp(DLT_EN10MB, f);
      ASSERT_TRUE(v);
      const ByteView p(f.data.data() + v->payload_off, v->payload_len);
      const auto h = parse_rtp(p);
      ASSERT_TRUE(h);
      ASSERT_TRUE(sent.contains(h->seq));
      EXPECT_EQ(Bytes(p.begin(), p.end()), sent[h->seq]) << "round " << round << " seq " << h->seq;
    }
  }
  // The damage reached every check: refused headers, refused decodes, and
  // still plenty recovered.
  EXPECT_GT(bad, 100);
  EXPECT_GT(rejected, 0);
  EXPECT_GT(recovered, 1000);
}

}  // namespace
}  // namespace zvtool
