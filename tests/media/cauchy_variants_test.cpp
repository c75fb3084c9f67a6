// Audio version 2 and video version 2 end to end through the exported
// functions, including packets that lie about themselves.
#include <gtest/gtest.h>

#include <string>

#include "group_harness.h"
#include "media/log.h"

namespace {

using namespace zvtest;

struct VariantCase {
  const char *name;
  int type;
  int version;
  uint8_t tag;
};

const VariantCase kAudio{"audio_v2", ZV_FEC_AUDIO, ZV_FEC_VERSION_2, 0x11};
const VariantCase kVideo{"video_v2", ZV_FEC_VIDEO, ZV_FEC_VERSION_2, 0x01};

class CauchyVariantTest : public ::testing::TestWithParam<VariantCase> {
 protected:
  LogCapture log_;
  const VariantCase &v() const { return GetParam(); }
  int hdr() const { return header_size(v().type, v().version); }
  Handle handle_{GetParam().type, GetParam().version};
  std::mt19937 rng_{12345};
};

TEST_P(CauchyVariantTest, EveryErasurePatternUpToRRecoversSmallGroups) {
  for (int k = 1; k <= 6; ++k) {
    for (int r = 1; r <= 3; ++r) {
      const Group g = encode_group(handle_.get(), hdr(), k, r, 65533, 12, 90, rng_);
      ASSERT_EQ(g.encode_rc, 0);
      const int n = k + r;
      for (uint64_t lost = 0; lost < (1u << n); ++lost) {
        if (std::popcount(lost) > r) continue;
        SCOPED_TRACE("k=" + std::to_string(k) + " r=" + std::to_string(r) +
                     " lost=" + std::to_string(lost));
        expect_recovers(handle_.get(), g, loss_of_mask(n, lost));
      }
    }
  }
}

TEST_P(CauchyVariantTest, RandomPatternsRecoverLargeGroups) {
  for (int trial = 0; trial < 40; ++trial) {
    const int k = std::uniform_int_distribution<int>(1, 64)(rng_);
    const int r = std::uniform_int_distribution<int>(1, 64)(rng_);
    const uint16_t base = static_cast<uint16_t>(rng_());
    const Group g = encode_group(handle_.get(), hdr(), k, r, base, 12, 1200, rng_);
    ASSERT_EQ(g.encode_rc, 0);
    SCOPED_TRACE("k=" + std::to_string(k) + " r=" + std::to_string(r));
    expect_recovers(handle_.get(), g, random_loss(k + r, r, rng_));
  }
}

TEST_P(CauchyVariantTest, WorkedExampleByteForByte) {
  Bytes a{0x06, 0x00, 0x80, 0x60, 0x00, 0x64, 0x11, 0x22};
  Bytes b{0x06, 0x00, 0x80, 0x60, 0x00, 0x65, 0x33, 0x44};
  std::vector<Bytes> media{a, b};
  std::vector<Bytes> fec{Bytes(40, 0xCC)};
  PacketArrays m(media), f(fec);
  ASSERT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 2, 1, 0, f.p(), f.l()), 0);
  Bytes expected(12, 0);
  expected.insert(expected.end(), {v().tag, 0x02, 0x00, 0x64, 0x02, 0x01, 0x00, 0x08});
  if (hdr() == 12) expected.insert(expected.end(), {0, 0, 0, 0});
  expected.insert(expected.end(), {0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x22, 0x66});
  ASSERT_EQ(f.len[0], static_cast<int>(expected.size()));
  // Zeroed over the stated capacity of 40, written over its length.
  Bytes written(fec[0].begin(), fec[0].begin() + f.len[0]);
  EXPECT_EQ(written, expected);
  for (size_t i = expected.size(); i < fec[0].size(); ++i) EXPECT_EQ(fec[0][i], 0) << i;

  fec[0].resize(expected.size());
  const Decoded d = decode_group(handle_.get(), {a}, fec, 8);
  ASSERT_EQ(d.rc, 0);
  ASSERT_EQ(d.packets, (std::vector<Bytes>{{0x80, 0x60, 0x00, 0x65, 0x33, 0x44}}));
}

TEST_P(CauchyVariantTest, PaddedAndExactMediaBuffersGiveIdenticalPackets) {
  const Group g = encode_group(handle_.get(), hdr(), 5, 3, 100, 20, 300, rng_);
  ASSERT_EQ(g.encode_rc, 0);
  const int s = symbol_length_of(g.media);
  std::vector<Bytes> padded = g.media;
  std::vector<int> stated;
  for (Bytes &b : padded) {
    stated.push_back(static_cast<int>(b.size()));
    b.resize(static_cast<size_t>(s), 0);
  }
  std::vector<Bytes> fec(3, Bytes(static_cast<size_t>(12 + hdr() + s)));
  PacketArrays m(padded), f(fec);
  ASSERT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), stated.data(), 5, 3, 0, f.p(), f.l()), 0);
  EXPECT_EQ(fec, g.fec);
}

TEST_P(CauchyVariantTest, AllMediaPresentLeavesFecUntouched) {
  const Group g = encode_group(handle_.get(), hdr(), 4, 2, 7, 20, 60, rng_);
  std::vector<Bytes> media = g.media, fec = g.fec;
  PacketArrays m(media), f(fec);
  Bytes out(100);
  unsigned char *outs[2] = {out.data(), out.data()};
  int out_len[2] = {0, 0};
  int num = -1;
  EXPECT_EQ(
      zv_rsfec_decode(handle_.get(), m.p(), m.l(), 4, f.p(), f.l(), 2, 0, outs, out_len, &num), 0);
  EXPECT_EQ(num, 0);
  EXPECT_EQ(fec, g.fec);
}

TEST_P(CauchyVariantTest, DuplicatesCountOnce) {
  const Group g = encode_group(handle_.get(), hdr(), 3, 2, 500, 20, 60, rng_);
  const int s = symbol_length_of(g.media);
  // Media 0 twice and FEC 0 twice: only two distinct symbols, k = 3.
  Decoded d = decode_group(handle_.get(), {g.media[0], g.media[0]}, {g.fec[0], g.fec[0]}, s);
  EXPECT_EQ(d.rc, -3);
  EXPECT_TRUE(d.packets.empty());
  d = decode_group(handle_.get(), {g.media[0], g.media[0]}, {g.fec[1], g.fec[1], g.fec[0]}, s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, (std::vector<Bytes>{rtp_of(g.media[1]), rtp_of(g.media[2])}));
}

TEST_P(CauchyVariantTest, DecoderFailuresWithTheirMessages) {
  const Group g = encode_group(handle_.get(), hdr(), 4, 2, 900, 30, 60, rng_);
  const int s = symbol_length_of(g.media);

  g_lines.clear();
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0]}, {g.fec[0]}, s).rc, -100);
  EXPECT_TRUE(logged("data is not enough 2 4"));

  g_lines.clear();
  Bytes too_long = g.media[1];
  too_long.resize(static_cast<size_t>(s + 1));
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], too_long}, {g.fec[0], g.fec[1]}, s).rc, -101);
  EXPECT_TRUE(logged("i 1 received_med_pkt_len[i] " + std::to_string(s + 1) +
                     " params->encoding_symbol_length " + std::to_string(s)));
  Bytes exact = g.media[1];
  exact.resize(static_cast<size_t>(s));  // zero padding up to exactly S is fine
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], exact}, {g.fec[0], g.fec[1]}, s).rc, 0);

  g_lines.clear();
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], g.media[0]}, {g.fec[0], g.fec[0]}, s).rc, -3);
  EXPECT_TRUE(logged(v().type == ZV_FEC_AUDIO
                         ? "zvfec dec  packet num:4 (real:2 ) invalid, so can not run fec!\n"
                         : "zvfec dec k=4  realcnt=2 invalid,so can not run fec!"));

  EXPECT_EQ(decode_group(handle_.get(), {g.media[0]}, {}, s).rc, -2);
}

TEST_P(CauchyVariantTest, EncoderFailuresWithTheirMessages) {
  std::vector<Bytes> media{make_media(1, 30, rng_)};
  std::vector<Bytes> fec{Bytes(64)};
  PacketArrays m(media), f(fec);

  g_lines.clear();
  EXPECT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 0, 1, 0, f.p(), f.l()), -2);
  EXPECT_TRUE(logged("argument packet_number is illegal"));

  g_lines.clear();  // r = 0: the codec refuses its parameters (code -1)
  EXPECT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 1, 0, 0, f.p(), f.l()), -4);
  EXPECT_TRUE(logged(v().type == ZV_FEC_AUDIO ? "err -1\n" : "err -4\n"));
}

TEST_P(CauchyVariantTest, SingleMediaPacketGroup) {
  const Group g = encode_group(handle_.get(), hdr(), 1, 2, 65535, 20, 40, rng_);
  ASSERT_EQ(g.encode_rc, 0);
  const Decoded d = decode_group(handle_.get(), {}, {g.fec[1]}, symbol_length_of(g.media));
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, std::vector<Bytes>{rtp_of(g.media[0])});
}

TEST_P(CauchyVariantTest, MediaOfAnotherGroupIsSkipped) {
  const Group g = encode_group(handle_.get(), hdr(), 3, 1, 1000, 20, 40, rng_);
  std::mt19937 other(7);
  const int s = symbol_length_of(g.media);
  // Offsets 3 (just past the group) and 300 (far away) are not symbols of it.
  const Bytes stray1 = make_media(1003, 20, other), stray2 = make_media(1300, 20, other);
  Decoded d = decode_group(handle_.get(), {g.media[0], stray1, stray2, g.media[2]}, {g.fec[0]}, s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, std::vector<Bytes>{rtp_of(g.media[1])});
}

INSTANTIATE_TEST_SUITE_P(Variants, CauchyVariantTest, ::testing::Values(kAudio, kVideo),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace

namespace {

using namespace zvtest;

// Video version 2 groups whose members are marked by a sequence mask: bit b
// (from the least significant end) marks sequence offset b, and a member's
// symbol index is the number of members before it.
class SequenceMaskTest : public ::testing::Test {
 protected:
  // Encodes media packets at the given offsets from `base` (in that order, as
  // the group's symbols 0..k-1) and stamps `mask` into every FEC header.
  Group masked_group(const std::vector<int> &offsets, uint32_t mask, int r) {
    Group g;
    for (int off : offsets)
      g.media.push_back(make_media(static_cast<uint16_t>(kBase + off), 40, rng_));
    const int s = symbol_length_of(g.media);
    g.fec.assign(static_cast<size_t>(r), Bytes(static_cast<size_t>(24 + s)));
    PacketArrays m(g.media), f(g.fec);
    g.encode_rc = zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), m.n(), r, 0, f.p(), f.l());
    for (Bytes &p : g.fec) {
      p[20] = static_cast<uint8_t>(mask >> 24);
      p[21] = static_cast<uint8_t>(mask >> 16);
      p[22] = static_cast<uint8_t>(mask >> 8);
      p[23] = static_cast<uint8_t>(mask);
    }
    return g;
  }
  static constexpr uint16_t kBase = 65530;
  Handle handle_{ZV_FEC_VIDEO, ZV_FEC_VERSION_2};
  std::mt19937 rng_{99};
};

TEST_F(SequenceMaskTest, MembersArePlacedByTheirRankInTheMask) {
  const std::vector<int> offsets{0, 2, 5, 31};
  const uint32_t mask = 1u << 0 | 1u << 2 | 1u << 5 | 1u << 31;
  const Group g = masked_group(offsets, mask, 2);
  ASSERT_EQ(g.encode_rc, 0);
  const int s = symbol_length_of(g.media);
  // Lose the members at offsets 2 and 31 (indices 1 and 3).
  const Decoded d = decode_group(handle_.get(), {g.media[2], g.media[0]}, g.fec, s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, (std::vector<Bytes>{rtp_of(g.media[1]), rtp_of(g.media[3])}));
}

TEST_F(SequenceMaskTest, FullMaskMeansConsecutiveMembers) {
  std::vector<int> offsets;
  for (int b = 0; b < 32; ++b) offsets.push_back(b);
  const Group g = masked_group(offsets, 0xFFFFFFFFu, 3);
  ASSERT_EQ(g.encode_rc, 0);
  std::vector<Bytes> media(g.media.begin(), g.media.end());
  media.erase(media.begin() + 30);
  media.erase(media.begin() + 7);
  media.erase(media.begin() + 0);
  const Decoded d = decode_group(handle_.get(), media, g.fec, symbol_length_of(g.media));
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets,
            (std::vector<Bytes>{rtp_of(g.media[0]), rtp_of(g.media[7]), rtp_of(g.media[30])}));
}

TEST_F(SequenceMaskTest, NonMembersAreIgnored) {
  const uint32_t mask = 1u << 0 | 1u << 1 | 1u << 4;
  const Group g = masked_group({0, 1, 4}, mask, 1);
  const int s = symbol_length_of(g.media);
  std::mt19937 other(5);
  const Bytes clear_bit =
      make_media(static_cast<uint16_t>(kBase + 2), 40, other);                 // bit 2 is clear
  const Bytes far = make_media(static_cast<uint16_t>(kBase + 32), 40, other);  // beyond the mask
  Bytes too_long_outside = make_media(static_cast<uint16_t>(kBase + 3), 40, other);
  too_long_outside.resize(static_cast<size_t>(s + 8));  // skipped before its length matters

  Decoded d = decode_group(handle_.get(), {clear_bit, far, g.media[0]}, g.fec, s);
  EXPECT_EQ(d.rc, -3);
  d = decode_group(handle_.get(), {clear_bit, too_long_outside, g.media[0], far, g.media[2]}, g.fec,
                   s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, std::vector<Bytes>{rtp_of(g.media[1])});

  Bytes too_long_inside = g.media[2];
  too_long_inside.resize(static_cast<size_t>(s + 1));
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], too_long_inside}, g.fec, s).rc, -101);
}

}  // namespace
