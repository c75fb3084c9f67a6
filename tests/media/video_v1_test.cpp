// Video version 1 end to end through the exported functions.
#include <gtest/gtest.h>

#include <string>

#include "group_harness.h"

namespace {

using namespace zvtest;

class VideoV1Test : public ::testing::Test {
 protected:
  LogCapture log_;
  Group group(int k, int r, uint16_t base = 4000, int min_len = 20, int max_len = 300) {
    Group g = encode_group(handle_.get(), 8, k, r, base, min_len, max_len, rng_);
    EXPECT_EQ(g.encode_rc, 0);
    return g;
  }
  Handle handle_{ZV_FEC_VIDEO, ZV_FEC_VERSION_1};
  std::mt19937 rng_{2024};
};

TEST_F(VideoV1Test, FecPacketsCarryTagZeroAndTheSymbolAtByte20) {
  const Group g = group(4, 2);
  const int s = symbol_length_of(g.media);
  for (int j = 0; j < 2; ++j) {
    const Bytes &p = g.fec[static_cast<size_t>(j)];
    ASSERT_EQ(static_cast<int>(p.size()), s + 20);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 12), Bytes(12, 0));
    EXPECT_EQ(p[12], 0x00);
    EXPECT_EQ(p[13], 4 + j);
    EXPECT_EQ(p[14] << 8 | p[15], 4000);
    EXPECT_EQ(p[16], 4);
    EXPECT_EQ(p[17], 2);
    EXPECT_EQ(p[18] << 8 | p[19], s);
  }
}

TEST_F(VideoV1Test, MiddlePacketsComeBackInOrder) {
  const Group g = group(4, 2);
  const Decoded d =
      decode_group(handle_.get(), {g.media[0], g.media[3]}, g.fec, symbol_length_of(g.media));
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, (std::vector<Bytes>{rtp_of(g.media[1]), rtp_of(g.media[2])}));
}

TEST_F(VideoV1Test, RandomErasurePatternsUpToN128) {
  for (int trial = 0; trial < 30; ++trial) {
    const int k = std::uniform_int_distribution<int>(1, 100)(rng_);
    const int r = std::uniform_int_distribution<int>(1, 128 - k)(rng_);
    const Group g = group(k, r, static_cast<uint16_t>(rng_()), 14, 1200);
    const int lose = std::uniform_int_distribution<int>(0, r)(rng_);
    SCOPED_TRACE("k=" + std::to_string(k) + " r=" + std::to_string(r));
    expect_recovers(handle_.get(), g, random_loss(k + r, lose, rng_));
  }
}

TEST_F(VideoV1Test, AllMediaPresentRecoversNothing) {
  const Group g = group(5, 2);
  const Decoded d = decode_group(handle_.get(), g.media, g.fec, symbol_length_of(g.media));
  EXPECT_EQ(d.rc, 0);
  EXPECT_TRUE(d.packets.empty());
}

TEST_F(VideoV1Test, DecoderFailuresWithTheirMessages) {
  const Group g = group(3, 2, 100);
  const int s = symbol_length_of(g.media);

  g_lines.clear();  // the same media packet twice counts twice, yet adds nothing
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], g.media[0]}, {g.fec[0]}, s).rc, -106);
  EXPECT_TRUE(
      logged("\nFailed to recover all erased source symbols even after receiving 3 packets\n"));

  g_lines.clear();
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0]}, {g.fec[0]}, s).rc, -100);
  EXPECT_TRUE(logged("data is not enough 2"));

  g_lines.clear();  // 128 positions after the base: the call ends
  std::mt19937 other(1);
  const Bytes far = make_media(100 + 128, 20, other);
  EXPECT_EQ(decode_group(handle_.get(), {far, g.media[0]}, g.fec, s).rc, -102);
  EXPECT_TRUE(logged("esi=128 invalid\n"));

  // Positions k .. 127 are not the group's media: skipped.
  const Bytes near = make_media(100 + 3, 20, other);
  const Decoded d = decode_group(handle_.get(), {near, g.media[0], g.media[2]}, {g.fec[1]}, s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, std::vector<Bytes>{rtp_of(g.media[1])});

  Bytes too_long = g.media[1];
  too_long.resize(static_cast<size_t>(s + 1));
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], too_long}, g.fec, s).rc, -101);
}

TEST_F(VideoV1Test, RepairIndexAbove127EndsTheCall) {
  const Group g = group(100, 28, 9, 14, 40);
  const int s = symbol_length_of(g.media);
  // Lose 28 media packets; a repair symbol of index 128 is reached before the
  // group is complete.
  std::vector<Bytes> media(g.media.begin() + 28, g.media.end());
  std::vector<Bytes> fec(g.fec.begin(), g.fec.end());
  Bytes forged = g.fec[27];
  forged[13] = 128;
  forged[17] = 29;  // the group, as this packet names it, has index 128
  fec.insert(fec.begin(), forged);
  EXPECT_EQ(decode_group(handle_.get(), media, fec, s).rc, -102);
}

TEST_F(VideoV1Test, GroupsWithMoreIndicesThanTheHeaderCarriesAreRefused) {
  // The esi byte holds indices up to 255; beyond that a repair index would
  // wrap into the media range and a receiver would place it as media.
  struct Case {
    int k, r, code;
  };
  for (const Case &c : {Case{200, 100, -2}, Case{200, 57, -2}, Case{200, 56, 0}}) {
    SCOPED_TRACE(::testing::Message() << "k=" << c.k << " r=" << c.r);
    std::vector<Bytes> media;
    for (int i = 0; i < c.k; ++i) media.push_back(make_media(static_cast<uint16_t>(i), 10, rng_));
    std::vector<Bytes> fec(static_cast<size_t>(c.r), Bytes(32, 0xAB));
    PacketArrays m(media), f(fec);
    ASSERT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), c.k, c.r, 0, f.p(), f.l()), c.code);
    for (int j = 0; j < c.r; ++j) {
      const Bytes &p = fec[static_cast<size_t>(j)];
      if (c.code != 0)
        ASSERT_EQ(p, Bytes(32, 0xAB));
      else
        ASSERT_EQ(p[13], c.k + j);
    }
  }
}

TEST_F(VideoV1Test, EncoderWithoutFecPacketsBuildsNothing) {
  std::vector<Bytes> media{make_media(1, 30, rng_)};
  PacketArrays m(media);
  EXPECT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 1, 0, 0, nullptr, nullptr), 0);
}

TEST_F(VideoV1Test, LengthPrefixWithItsTopBitSetIsALengthError) {
  // The second packet holds 32772 bytes (prefix 0x8004): the symbol is long
  // enough for them, but version 1 reads the prefix as signed.
  std::vector<Bytes> media{make_media(50, 32800, rng_), make_media(51, 32772, rng_)};
  std::vector<Bytes> fec(1, Bytes(static_cast<size_t>(20 + symbol_length_of(media))));
  PacketArrays m(media), f(fec);
  ASSERT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 2, 1, 0, f.p(), f.l()), 0);
  g_lines.clear();
  const Decoded d = decode_group(handle_.get(), {media[0]}, fec, symbol_length_of(media));
  EXPECT_EQ(d.rc, 0);
  EXPECT_TRUE(d.packets.empty());
  EXPECT_TRUE(logged("len error =-32764 seq base=50"));
}

}  // namespace
