// The stream layer: how senders cut and frame groups, and how receivers cope
// with loss, reordering, repeats, wrap-around, several SSRCs, time and forged
// FEC packets.
#include <algorithm>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "stream/stream_harness.h"

namespace zvtest {
namespace {

constexpr std::uint32_t kA = 0x11223344, kB = 0x55667788;
constexpr int kVariants[] = {ZVFEC_STREAM_AUDIO_V2, ZVFEC_STREAM_VIDEO_V2, ZVFEC_STREAM_VIDEO_V1};

zvfec_stream_fec_header header(const Bytes &fec) {
  zvfec_stream_fec_header h{};
  EXPECT_EQ(zvfec_stream_parse_fec(fec.data(), fec.size(), &h), 0);
  return h;
}

// ---- Sender ----------------------------------------------------------------

TEST(Sender, GroupsHoldConsecutiveNumbersOfOneSsrc) {
  struct Case {
    const char *what;
    std::vector<std::pair<std::uint32_t, int>> in;  // (ssrc, seq) in push order
    int k;
    std::vector<std::tuple<std::uint32_t, int, int>> groups;  // (ssrc, base, k) after flush
  };
  const Case cases[] = {
      {"full groups, then the rest on flush",
       {{kA, 10}, {kA, 11}, {kA, 12}, {kA, 13}, {kA, 14}},
       2,
       {{kA, 10, 2}, {kA, 12, 2}, {kA, 14, 1}}},
      {"wrap-around inside a group",
       {{kA, 65534}, {kA, 65535}, {kA, 0}, {kA, 1}},
       4,
       {{kA, 65534, 4}}},
      {"a gap and a repeat end the group early",
       {{kA, 1}, {kA, 2}, {kA, 4}, {kA, 4}, {kA, 5}},
       3,
       {{kA, 1, 2}, {kA, 4, 1}, {kA, 4, 2}}},
      {"two SSRCs interleaved keep groups of their own",
       {{kA, 100}, {kB, 7}, {kA, 101}, {kB, 8}, {kA, 102}, {kB, 9}},
       2,
       {{kA, 100, 2}, {kB, 7, 2}, {kA, 102, 1}, {kB, 9, 1}}},
  };
  for (const auto &c : cases) {
    auto s = make_sender(ZVFEC_STREAM_AUDIO_V2, c.k, 1);
    for (auto [ssrc, seq] : c.in)
      ASSERT_EQ(zvfec_stream_sender_push(s.get(), rtp(ssrc, static_cast<std::uint16_t>(seq)).data(),
                                         100, 0),
                0);
    zvfec_stream_sender_flush(s.get());
    std::vector<std::tuple<std::uint32_t, int, int>> got;
    for (const auto &o : drain(s.get())) {
      const auto h = header(o.data);
      got.emplace_back(o.media_ssrc, h.base_seq, h.k);
      // seq is the number of the group's last media packet.
      EXPECT_EQ(o.seq, static_cast<std::uint16_t>(h.base_seq + h.k - 1)) << c.what;
    }
    EXPECT_EQ(got, c.groups) << c.what;
  }
}

TEST(Sender, FecPacketsCarryTheirOwnRtpHeader) {
  struct Case {
    std::uint32_t fixed_ssrc;
    int pt;
  };
  for (const Case c : {Case{0, 127}, Case{0xABCDEF01, 100}}) {
    auto s = make_sender(ZVFEC_STREAM_VIDEO_V2, 3, 2, c.fixed_ssrc, 0, c.pt);
    for (std::uint16_t seq = 500; seq < 509; ++seq) {
      zvfec_stream_sender_push(s.get(), rtp(kA, seq, 60 + seq % 7, 9000u * seq).data(),
                               60 + seq % 7, 0);
      zvfec_stream_sender_push(s.get(), rtp(kB, seq, 80).data(), 80, 0);
    }
    const auto out = drain(s.get());
    ASSERT_EQ(out.size(), 2u * 3 * 2);  // two SSRCs, three groups each, r = 2
    std::map<std::uint32_t, int> next;  // expected FEC sequence number per FEC SSRC
    for (const auto &o : out) {
      const std::uint32_t want_ssrc = c.fixed_ssrc ? c.fixed_ssrc : o.media_ssrc ^ 0x0FEC0FECu;
      EXPECT_EQ(o.data[0], 0x80);
      EXPECT_EQ(o.data[1], c.pt);
      EXPECT_EQ(u32_at(o.data, 8), want_ssrc);
      EXPECT_EQ(seq_of(o.data), next[want_ssrc]++);
      const auto h = header(o.data);
      // The RTP timestamp is the group's first media packet's.
      if (o.media_ssrc == kA) {
        EXPECT_EQ(u32_at(o.data, 4), 9000u * h.base_seq);
      }
      // The packet is as long as the longest media packet of its group needs.
      std::size_t longest = 0;
      for (int i = 0; i < h.k; ++i)
        longest =
            std::max<std::size_t>(longest, o.media_ssrc == kA ? 60 + (h.base_seq + i) % 7 : 80);
      EXPECT_EQ(o.data.size(), 12 + 12 + ((longest + 2 + 3) / 4 * 4));
    }
  }
}

TEST(Sender, APartialGroupIsProtectedWhenItsTimeIsUp) {
  constexpr std::int64_t ms = 1'000'000;
  auto s = make_sender(ZVFEC_STREAM_VIDEO_V2, 10, 2, 0, 20 * ms);
  EXPECT_EQ(zvfec_stream_sender_deadline(s.get()), INT64_MAX);
  for (std::uint16_t seq = 0; seq < 3; ++seq)
    zvfec_stream_sender_push(s.get(), rtp(kA, seq).data(), 100, seq * ms);
  // The deadline runs from the group's first packet.
  EXPECT_EQ(zvfec_stream_sender_deadline(s.get()), 20 * ms);
  zvfec_stream_sender_poll(s.get(), 20 * ms - 1);
  EXPECT_TRUE(drain(s.get()).empty());
  zvfec_stream_sender_poll(s.get(), 20 * ms);
  const auto out = drain(s.get());
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(header(out[0].data).k, 3);
  EXPECT_EQ(zvfec_stream_sender_deadline(s.get()), INT64_MAX);
  // The next packet opens a group with a deadline of its own, even though it
  // continues the numbering.
  zvfec_stream_sender_push(s.get(), rtp(kA, 3).data(), 100, 30 * ms);
  EXPECT_EQ(zvfec_stream_sender_deadline(s.get()), 50 * ms);
}

TEST(Sender, RefusesBadConfigurationsAndNonRtp) {
  struct Case {
    zvfec_stream_sender_config cfg;
    int err;
  };
  for (const Case c : {Case{{ZVFEC_STREAM_VIDEO_V2, 65, 1, 127, 0, 0}, ZVFEC_STREAM_E_K},
                       Case{{ZVFEC_STREAM_AUDIO_V2, 5, 0, 127, 0, 0}, ZVFEC_STREAM_E_R},
                       Case{{ZVFEC_STREAM_VIDEO_V1, 100, 29, 127, 0, 0}, ZVFEC_STREAM_E_N},
                       Case{{7, 5, 2, 127, 0, 0}, ZVFEC_STREAM_E_ARG},
                       Case{{ZVFEC_STREAM_AUDIO_V2, 5, 2, 128, 0, 0}, ZVFEC_STREAM_E_ARG}}) {
    int err = 0;
    EXPECT_EQ(zvfec_stream_sender_new(&c.cfg, &err), nullptr);
    EXPECT_EQ(err, c.err);
  }
  int err = 0;
  EXPECT_EQ(zvfec_stream_sender_new(nullptr, &err), nullptr);
  EXPECT_EQ(err, ZVFEC_STREAM_E_ARG);
  auto s = make_sender(ZVFEC_STREAM_AUDIO_V2, 2, 1);
  Bytes rtcp = rtp(kA, 1);
  rtcp[1] = 200;
  EXPECT_EQ(zvfec_stream_sender_push(s.get(), rtcp.data(), rtcp.size(), 0), ZVFEC_STREAM_E_NOT_RTP);
  EXPECT_EQ(zvfec_stream_sender_push(s.get(), rtcp.data(), 11, 0), ZVFEC_STREAM_E_NOT_RTP);
  zvfec_stream_sender_flush(s.get());
  EXPECT_TRUE(drain(s.get()).empty());
}

// ---- Receiver --------------------------------------------------------------

TEST(Receiver, EveryPatternOfUpToRLossesIsRecovered) {
  struct Shape {
    int k, r;
  };
  for (const int v : kVariants)
    for (const Shape sh : {Shape{4, 2}, Shape{5, 3}}) {
      const auto g = protected_groups(v, kA, 65533, 1, sh.k, sh.r)[0];
      const int n = sh.k + sh.r;
      for (unsigned lost = 0; lost < (1u << n); ++lost) {
        if (std::popcount(lost) > sh.r) continue;
        for (const bool fec_first : {false, true}) {
          auto rx = make_receiver();
          std::vector<std::pair<bool, const Bytes *>> arrive;
          std::set<Bytes> want;
          for (int i = 0; i < n; ++i) {
            const bool is_fec = i >= sh.k;
            const Bytes &p = is_fec ? g.fec[static_cast<std::size_t>(i - sh.k)]
                                    : g.media[static_cast<std::size_t>(i)];
            if (lost >> i & 1) {
              if (!is_fec) want.insert(p);
              continue;
            }
            arrive.emplace_back(is_fec, &p);
          }
          if (fec_first) std::reverse(arrive.begin(), arrive.end());
          // Whatever came out (received, or recovered before its original
          // arrived) is the whole group's media, each packet once.
          std::multiset<Bytes> out;
          for (auto [is_fec, p] : arrive) {
            const int rc =
                is_fec
                    ? zvfec_stream_receiver_push_fec(rx.get(), p->data(), p->size(), 0)
                    : zvfec_stream_receiver_push_media(rx.get(), p->data(), p->size(), 0, nullptr);
            if (!is_fec && rc == 0) out.insert(*p);
            EXPECT_TRUE(rc == 0 || (!is_fec && rc == ZVFEC_STREAM_DUPLICATE && out.contains(*p)));
            for (auto &o : drain(rx.get())) out.insert(o.data);
          }
          EXPECT_EQ(out, std::multiset<Bytes>(g.media.begin(), g.media.end()))
              << "variant " << v << " k " << sh.k << " lost " << lost;
          EXPECT_GE(stats(rx.get()).recovered, want.size());
        }
      }
    }
}

TEST(Receiver, AnyOrderRepeatsWrapAndTwoSsrcs) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    const int v = kVariants[seed % 3];
    std::vector<std::pair<bool, Bytes>> wire;  // (is FEC, packet)
    std::map<std::pair<std::uint32_t, std::uint16_t>, Bytes> lost;
    std::size_t repeats = 0;
    for (const std::uint32_t ssrc : {kA, kB})
      for (auto &g : protected_groups(v, ssrc, static_cast<std::uint16_t>(65520 + seed), 6, 5, 2)) {
        // Up to r of the group's n packets lost, at random.
        std::vector<int> idx(7);
        std::iota(idx.begin(), idx.end(), 0);
        std::shuffle(idx.begin(), idx.end(), rng);
        const int n_lost = static_cast<int>(rng() % 3);
        for (int i = 0; i < 7; ++i) {
          const bool is_fec = idx[static_cast<std::size_t>(i)] >= 5;
          const Bytes &p = is_fec ? g.fec[static_cast<std::size_t>(idx[i] - 5)]
                                  : g.media[static_cast<std::size_t>(idx[i])];
          if (i < n_lost) {
            if (!is_fec) lost[{ssrc, seq_of(p)}] = p;
            continue;
          }
          wire.emplace_back(is_fec, p);
          if (rng() % 6 == 0) wire.emplace_back(is_fec, p), ++repeats;
        }
      }
    // Any order: within a window of a few groups, as a network reorders.
    for (std::size_t i = 0; i + 1 < wire.size(); ++i)
      std::swap(wire[i], wire[std::min(wire.size() - 1, i + rng() % 12)]);
    auto rx = make_receiver();
    // Every media packet comes out once: received, or recovered (and then its
    // original, if it was only late, is a repeat like a copy).
    std::map<std::pair<std::uint32_t, std::uint16_t>, Bytes> back;
    std::set<Bytes> fec_seen;
    for (const auto &[is_fec, p] : wire) {
      std::int64_t ext = -1;
      const auto id = std::pair{u32_at(p, 8), seq_of(p)};
      const bool repeat = is_fec ? !fec_seen.insert(p).second : back.contains(id);
      const int rc = is_fec
                         ? zvfec_stream_receiver_push_fec(rx.get(), p.data(), p.size(), 0)
                         : zvfec_stream_receiver_push_media(rx.get(), p.data(), p.size(), 0, &ext);
      EXPECT_EQ(rc, repeat ? ZVFEC_STREAM_DUPLICATE : 0);
      if (!is_fec) {
        EXPECT_EQ(ext & 0xFFFF, seq_of(p));
        if (!repeat) back.emplace(id, p);
      }
      for (const auto &o : drain(rx.get())) {
        EXPECT_EQ(o.seq & 0xFFFF, seq_of(o.data));
        EXPECT_EQ(u32_at(o.data, 8), o.media_ssrc);
        EXPECT_TRUE(back.emplace(std::pair{o.media_ssrc, seq_of(o.data)}, o.data).second)
            << "handed out twice";
      }
    }
    std::map<std::pair<std::uint32_t, std::uint16_t>, Bytes> sent = lost;
    for (const auto &[is_fec, p] : wire)
      if (!is_fec) sent[{u32_at(p, 8), seq_of(p)}] = p;
    for (const auto &[id, p] : sent)
      EXPECT_TRUE(back.contains(id) && back[id] == p)
          << "seed " << seed << ": ssrc " << id.first << " seq " << id.second << " missing";
    EXPECT_EQ(back.size(), sent.size()) << "seed " << seed;
    EXPECT_GE(stats(rx.get()).media_duplicates + stats(rx.get()).fec_duplicates, repeats);
    EXPECT_EQ(stats(rx.get()).fec_refused, 0u);
    zvfec_stream_ssrc_stats ss{};
    ASSERT_EQ(zvfec_stream_receiver_get_ssrc_stats(rx.get(), kA, &ss), 0);
    EXPECT_EQ(ss.missing, 0);
  }
}

TEST(Receiver, AnOriginalArrivingAfterItsRecoveryIsARepeat) {
  const auto g = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 10, 1, 3, 1)[0];
  auto rx = make_receiver();
  for (int i : {0, 2})
    zvfec_stream_receiver_push_media(rx.get(), g.media[i].data(), g.media[i].size(), 0, nullptr);
  zvfec_stream_receiver_push_fec(rx.get(), g.fec[0].data(), g.fec[0].size(), 0);
  ASSERT_EQ(drain(rx.get()).size(), 1u);
  EXPECT_EQ(
      zvfec_stream_receiver_push_media(rx.get(), g.media[1].data(), g.media[1].size(), 0, nullptr),
      ZVFEC_STREAM_DUPLICATE);
  EXPECT_EQ(zvfec_stream_receiver_push_fec(rx.get(), g.fec[0].data(), g.fec[0].size(), 0),
            ZVFEC_STREAM_DUPLICATE);
  EXPECT_TRUE(drain(rx.get()).empty());
}

// Hosts read the header words of the packets handed out; every packet starts
// 4-byte aligned, from the sender and the receiver alike.
TEST(Receiver, PacketsHandedOutStartAligned) {
  auto tx = make_sender(ZVFEC_STREAM_VIDEO_V2, 3, 2);
  auto rx = make_receiver();
  std::vector<Bytes> media;
  for (std::uint16_t seq = 0; seq < 3; ++seq) {
    media.push_back(rtp(kA, seq, 97 + seq));
    zvfec_stream_sender_push(tx.get(), media.back().data(), media.back().size(), 0);
  }
  zvfec_stream_receiver_push_media(rx.get(), media[2].data(), media[2].size(), 0, nullptr);
  zvfec_stream_packet p;
  int fec = 0, back = 0;
  while (zvfec_stream_sender_pop(tx.get(), &p)) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p.data) % 4, 0u);
    zvfec_stream_receiver_push_fec(rx.get(), p.data, p.len, 0);
    ++fec;
    while (zvfec_stream_receiver_pop(rx.get(), &p)) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p.data) % 4, 0u);
      ++back;
    }
  }
  EXPECT_EQ(fec, 2);
  EXPECT_EQ(back, 2);
}

TEST(Receiver, WhatIsHeldPastItsTimeIsReleased) {
  constexpr std::int64_t ms = 1'000'000;
  struct Case {
    std::int64_t last_fec_at;  // the group's second FEC packet arrives then
    bool recovered;
  };
  for (const Case c : {Case{100 * ms, true}, Case{101 * ms, false}}) {
    const auto g = protected_groups(ZVFEC_STREAM_AUDIO_V2, kA, 0, 1, 4, 2)[0];
    auto rx = make_receiver(100 * ms);
    for (int i : {0, 1})
      zvfec_stream_receiver_push_media(rx.get(), g.media[i].data(), g.media[i].size(), 0, nullptr);
    zvfec_stream_receiver_push_fec(rx.get(), g.fec[0].data(), g.fec[0].size(), 0);
    EXPECT_EQ(stats(rx.get()).held, 3u);
    zvfec_stream_receiver_push_fec(rx.get(), g.fec[1].data(), g.fec[1].size(), c.last_fec_at);
    EXPECT_EQ(drain(rx.get()).size(), c.recovered ? 2u : 0u) << c.last_fec_at;
    const auto st = stats(rx.get());
    // Too late: the first packets were released and only the last one is held.
    EXPECT_EQ(st.held, c.recovered ? 6u : 1u);
    zvfec_stream_receiver_poll(rx.get(), c.last_fec_at + 101 * ms);
    EXPECT_EQ(stats(rx.get()).held, 0u);
    // A group released with media still missing counts once, the first one
    // only if some media packet of it arrived.
    EXPECT_EQ(stats(rx.get()).unrecoverable_groups, c.recovered ? 0u : 1u);
  }
}

TEST(Receiver, HeldPacketsStayWithinTheBound) {
  auto rx = make_receiver(INT64_MAX, 64);
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) {
    // Media of many SSRCs and FEC headers for groups that never complete.
    const auto p = rtp(rng() % 50, static_cast<std::uint16_t>(i), 40);
    zvfec_stream_receiver_push_media(rx.get(), p.data(), p.size(), i, nullptr);
    ASSERT_LE(stats(rx.get()).held, 64u);
  }
  EXPECT_EQ(stats(rx.get()).evicted, 2000u - 64);
}

TEST(Receiver, ForgedAndGarbageFecPacketsNeverBecomeMedia) {
  std::mt19937 rng(11);
  for (const int v : kVariants) {
    const auto gs = protected_groups(v, kA, 100, 20, 6, 3);
    std::set<Bytes> sent;
    for (const auto &g : gs) sent.insert(g.media.begin(), g.media.end());
    auto rx = make_receiver();
    std::size_t lost = 0;
    zvfec_stream_variant_info info{};
    zvfec_stream_variant_describe(v, &info);
    const std::size_t hlen = info.header_len;
    for (const auto &g : gs) {
      // Two media packets lost; forgeries of every kind before the real FEC.
      for (std::size_t i = 2; i < g.media.size(); ++i)
        zvfec_stream_receiver_push_media(rx.get(), g.media[i].data(), g.media[i].size(), 0,
                                         nullptr);
      lost += 2;
      for (int f = 0; f < 8; ++f) {
        Bytes b = g.fec[rng() % g.fec.size()];
        switch (f) {
          case 0:  // a real header in front of a garbage symbol
            for (std::size_t i = 12 + hlen; i < b.size(); ++i)
              b[i] = static_cast<std::uint8_t>(rng());
            break;
          case 1:  // truncated
            b.resize(rng() % b.size());
            break;
          case 2:  // pure garbage behind an RTP header
            for (std::size_t i = 12; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(rng());
            break;
          default:  // a few bytes of the FEC header changed
            for (int n = 0; n < 2; ++n) b[12 + rng() % hlen] = static_cast<std::uint8_t>(rng());
        }
        zvfec_stream_receiver_push_fec(rx.get(), b.data(), b.size(), 0);
      }
      for (const auto &f : g.fec) zvfec_stream_receiver_push_fec(rx.get(), f.data(), f.size(), 0);
    }
    const auto got = drain(rx.get());
    for (const auto &o : got)
      EXPECT_TRUE(sent.contains(o.data)) << "invented packet, variant " << v;
    // The real FEC packets still recover every loss despite the forgeries.
    EXPECT_EQ(got.size(), lost) << v;
    const auto st = stats(rx.get());
    EXPECT_GT(st.fec_refused, 20u);
  }
}

// A held media packet too long for a group's symbols cannot take part in its
// decoding, yet it is no gap: a packet rebuilt for its number (here from FEC
// of a group whose first packet was shorter) is dropped, never handed out a
// second time nor held beside the one received.
TEST(Receiver, APacketHeldAlreadyIsNeverRecoveredAgain) {
  constexpr std::int64_t ms = 1'000'000;
  auto tx = make_sender(ZVFEC_STREAM_AUDIO_V2, 2, 2);
  const Bytes short50 = rtp(kA, 50, 20), p51 = rtp(kA, 51, 20), long50 = rtp(kA, 50, 200);
  for (const auto *p : {&short50, &p51})
    zvfec_stream_sender_push(tx.get(), p->data(), p->size(), 0);
  const auto fec = drain(tx.get());
  ASSERT_EQ(fec.size(), 2u);
  auto rx = make_receiver(100 * ms);
  zvfec_stream_receiver_push_media(rx.get(), long50.data(), long50.size(), 0, nullptr);
  for (const auto &f : fec)
    zvfec_stream_receiver_push_fec(rx.get(), f.data.data(), f.data.size(), 0);
  const auto got = drain(rx.get());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, p51);
  EXPECT_EQ(stats(rx.get()).rejected, 1u);
  EXPECT_EQ(stats(rx.get()).held, 4u);
  zvfec_stream_receiver_poll(rx.get(), 201 * ms);
  EXPECT_EQ(stats(rx.get()).held, 0u);
}

TEST(Receiver, FecSsrcsMapToTheirMediaSsrc) {
  // A fixed FEC SSRC protects nothing until it is mapped.
  for (const bool explicit_map : {true, false}) {
    auto s = make_sender(ZVFEC_STREAM_VIDEO_V2, 4, 1, 0x77777777);
    std::vector<Bytes> media;
    for (std::uint16_t seq = 0; seq < 4; ++seq) {
      media.push_back(rtp(kA, seq));
      zvfec_stream_sender_push(s.get(), media.back().data(), 100, 0);
    }
    const auto fec = drain(s.get());
    auto rx = make_receiver();
    if (explicit_map) zvfec_stream_receiver_map_ssrc(rx.get(), 0x77777777, kA);
    for (int i : {0, 2, 3})
      zvfec_stream_receiver_push_media(rx.get(), media[i].data(), 100, 0, nullptr);
    zvfec_stream_receiver_push_fec(rx.get(), fec[0].data.data(), fec[0].data.size(), 0);
    const auto got = drain(rx.get());
    ASSERT_EQ(got.size(), explicit_map ? 1u : 0u);
    if (explicit_map) {
      EXPECT_EQ(got[0].data, media[1]);
    }
  }
}

TEST(Receiver, RefusesBadConfigurationsAndCountsRefusals) {
  for (const std::int64_t hold : {std::int64_t{0}, std::int64_t{-5}}) {
    const zvfec_stream_receiver_config cfg{hold, 0};
    int err = 0;
    EXPECT_EQ(zvfec_stream_receiver_new(&cfg, &err), nullptr);
    EXPECT_EQ(err, ZVFEC_STREAM_E_ARG);
  }
  int err = 0;
  EXPECT_EQ(zvfec_stream_receiver_new(nullptr, &err), nullptr);
  EXPECT_EQ(err, ZVFEC_STREAM_E_ARG);
  auto rx = make_receiver();
  const Bytes junk(40, 0xFF);
  EXPECT_EQ(zvfec_stream_receiver_push_fec(rx.get(), junk.data(), junk.size(), 0),
            ZVFEC_STREAM_E_NOT_RTP);
  EXPECT_EQ(zvfec_stream_receiver_push_media(rx.get(), junk.data(), junk.size(), 0, nullptr),
            ZVFEC_STREAM_E_NOT_RTP);
  EXPECT_EQ(stats(rx.get()).fec_refused, 1u);
  EXPECT_EQ(stats(rx.get()).media, 0u);
}

// Groups that contradict each other rebuild nothing, but one whose media all
// arrived is complete all the same: released, it counts as no loss.
TEST(Receiver, ContradictedGroupsWhoseMediaArrivedAreNotUnrecoverable) {
  constexpr std::int64_t ms = 1'000'000;
  const auto g = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 10, 1, 4, 2)[0];
  Bytes forged = g.fec[0];
  forged[16] = 3;  // the same symbol, for a group of k = 3 from the same base
  auto rx = make_receiver(100 * ms);
  for (const Bytes &f : {g.fec[0], forged})
    ASSERT_EQ(zvfec_stream_receiver_push_fec(rx.get(), f.data(), f.size(), 0), 0);
  for (const auto &m : g.media)
    zvfec_stream_receiver_push_media(rx.get(), m.data(), m.size(), ms, nullptr);
  EXPECT_TRUE(drain(rx.get()).empty());
  zvfec_stream_receiver_poll(rx.get(), 500 * ms);
  const auto st = stats(rx.get());
  EXPECT_EQ(st.held, 0u);
  EXPECT_EQ(st.fec_conflicts, 1u);
  EXPECT_EQ(st.unrecoverable_groups, 0u);
}

// Copies of real FEC packets under a forged group header: the symbol is
// genuine, so a group shifted by a few numbers (or cut to another k) decodes
// into packets whose shared RTP bytes come out right. Mixed into traffic of
// several SSRCs with burst loss, reordering and repeats, such copies must
// never turn into media, and groups that no copy touches recover as ever.
TEST(Receiver, CopiesUnderForgedGroupHeadersNeverBecomeMedia) {
  constexpr std::int64_t ms = 1'000'000;
  constexpr int kK = 10, kR = 4, kPerSsrc = 3000;
  struct Wire {
    std::int64_t at;
    bool fec;
    Bytes data;
    int group;  // honest group index; -1 for a copy
  };
  struct HonestGroup {
    std::uint32_t ssrc;
    std::uint16_t base;
    int lost = 0, arrived = 0, back = 0;  // back: lost packets handed out
    bool touched_by_copy = false;
  };
  for (const unsigned seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    std::vector<Wire> wire;
    std::vector<HonestGroup> groups;
    std::map<std::pair<std::uint32_t, std::uint16_t>, std::pair<Bytes, int>> sent;  // -> group
    const std::uint32_t ssrcs[] = {0x0A0A0001, 0x0B0B0002, 0x0C0C0003, 0x0D0D0004};
    for (int si = 0; si < 4; ++si) {
      const std::uint32_t ssrc = ssrcs[si];
      const int v = kVariants[si % 3];
      auto tx = make_sender(v, kK, kR);
      bool bad = false;  // Gilbert-Elliott: 5 % loss, mean burst 3
      auto lose = [&] {
        bad = bad ? rng() % 3 != 0 : rng() % 1000 < 18;
        return bad;
      };
      for (int i = 0; i < kPerSsrc; ++i) {
        const auto seq = static_cast<std::uint16_t>(65000 + i);
        // One stream of packets of one length: their lengths then come out of
        // any combination exactly, the hardest case for a plausibility check.
        const std::size_t len = si == 0 ? 1200 : 40 + (i * 37) % 900;
        Bytes p = rtp(ssrc, seq, len, 3000u * static_cast<std::uint32_t>(i / 3));
        const int gi = static_cast<int>(groups.size()) + (i % kK == 0 ? 0 : -1);
        if (i % kK == 0) groups.push_back({ssrc, seq});
        HonestGroup &g = groups[static_cast<std::size_t>(gi)];
        const std::int64_t t = (4 * i + si) * ms / 4;
        sent[{ssrc, seq}] = {p, gi};
        if (lose()) {
          ++g.lost;
          sent[{ssrc, seq}].second = ~gi;  // lost: never reaches the receiver
        } else {
          ++g.arrived;
          wire.push_back({t + static_cast<std::int64_t>(rng() % 15) * ms, false, p, gi});
        }
        zvfec_stream_sender_push(tx.get(), p.data(), p.size(), t);
        for (auto &o : drain(tx.get())) {
          if (lose()) continue;
          ++g.arrived;
          const std::int64_t at = t + static_cast<std::int64_t>(rng() % 15) * ms;
          wire.push_back({at, true, o.data, gi});
          if (rng() % 3 != 0) continue;
          // The copy: base moved by its low byte, or (one in three) k changed
          // to another value that keeps the symbol index inside the group.
          Bytes c = o.data;
          if (rng() % 3 == 0) {
            const int esi = c[13];
            const int k2 = esi - static_cast<int>(rng() % kR);
            if (k2 < 1 || k2 == kK) continue;
            c[16] = static_cast<std::uint8_t>(k2);
          } else {
            c[15] ^= static_cast<std::uint8_t>(1 + rng() % 255);
          }
          const std::uint16_t cbase = static_cast<std::uint16_t>(c[14] << 8 | c[15]);
          // Honest groups that the copy's range overlaps, and its own.
          g.touched_by_copy = true;
          for (auto &h : groups)
            if (h.ssrc == ssrc && (static_cast<std::uint16_t>(h.base - cbase) < c[16] ||
                                   static_cast<std::uint16_t>(cbase - h.base) < kK))
              h.touched_by_copy = true;
          wire.push_back({at + static_cast<std::int64_t>(rng() % 31) * ms - 15 * ms, true, c, -1});
        }
      }
      zvfec_stream_sender_flush(tx.get());
      ASSERT_TRUE(drain(tx.get()).empty());
    }
    // Some repeats, then everything in order of arrival.
    for (std::size_t i = 0, n = wire.size(); i < n; ++i)
      if (rng() % 50 == 0) wire.push_back(wire[i]);
    std::stable_sort(wire.begin(), wire.end(),
                     [](const Wire &a, const Wire &b) { return a.at < b.at; });

    auto rx = make_receiver(1000 * ms);
    std::set<std::pair<std::uint32_t, std::uint16_t>> handed;
    int wrong = 0;
    for (const auto &w : wire) {
      if (w.fec)
        zvfec_stream_receiver_push_fec(rx.get(), w.data.data(), w.data.size(), w.at);
      else
        zvfec_stream_receiver_push_media(rx.get(), w.data.data(), w.data.size(), w.at, nullptr);
      for (const auto &o : drain(rx.get())) {
        const auto id = std::pair{o.media_ssrc, seq_of(o.data)};
        const auto it = sent.find(id);
        if (it == sent.end() || it->second.first != o.data) {
          ++wrong;
          continue;
        }
        EXPECT_TRUE(handed.insert(id).second) << "handed out twice";
        if (it->second.second < 0) ++groups[static_cast<std::size_t>(~it->second.second)].back;
      }
    }
    EXPECT_EQ(wrong, 0) << "seed " << seed << ": packets that never left the sender";
    int recoverable = 0, back = 0;
    for (const auto &g : groups) {
      if (g.lost == 0 || g.arrived < kK) continue;
      ++recoverable;
      back += g.back == g.lost;
      if (!g.touched_by_copy) {
        EXPECT_EQ(g.back, g.lost) << "seed " << seed << ": group of " << g.ssrc << " at " << g.base
                                  << " touched by no copy";
      }
    }
    // Copies put most groups in conflict; those still come back but for a few
    // whose copied packets no other FEC packet could confirm.
    EXPECT_GE(back * 100, recoverable * 85)
        << "seed " << seed << ": " << back << " of " << recoverable << " recoverable groups back";
    EXPECT_GT(stats(rx.get()).fec_conflicts, 0u);
  }
}

}  // namespace
}  // namespace zvtest
