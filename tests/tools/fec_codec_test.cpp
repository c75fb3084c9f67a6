#include "fec_codec.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "rtp.h"

namespace zvtool {
namespace {

constexpr std::uint32_t kSsrc = 0xCAFE0001;

// k RTP packets with consecutive sequence numbers from `first` (wrapping
// allowed) and random sizes and payloads.
std::vector<Bytes> rtp_group(int k, std::uint16_t first, std::mt19937 &rng, std::size_t max = 300) {
  std::vector<Bytes> out;
  for (int i = 0; i < k; ++i) {
    Bytes p(12 + rng() % (max - 11));
    RtpHeader h;
    h.payload_type = 96;
    h.seq = static_cast<std::uint16_t>(first + i);
    h.timestamp = 1000;
    h.ssrc = kSsrc;
    write_rtp(p, h);
    for (std::size_t b = 12; b < p.size(); ++b) p[b] = static_cast<std::uint8_t>(rng());
    out.push_back(std::move(p));
  }
  return out;
}

std::vector<ByteView> views(const std::vector<Bytes> &v) { return {v.begin(), v.end()}; }

struct Shape {
  Variant v;
  int k, r;
};

TEST(FecCodec, AnyKOfNRecoverTheGroupByteForByte) {
  std::mt19937 rng(5);
  for (const Shape s : {Shape{Variant::audio_v2, 5, 2}, Shape{Variant::video_v2, 10, 4},
                        Shape{Variant::video_v1, 10, 4}, Shape{Variant::video_v2, 64, 64},
                        Shape{Variant::video_v1, 100, 28}, Shape{Variant::audio_v2, 1, 1}}) {
    FecCodec codec(s.v);
    ASSERT_TRUE(codec.ok());
    const auto media = rtp_group(s.k, static_cast<std::uint16_t>(65530), rng);
    std::vector<Bytes> fec;
    ASSERT_EQ(codec.encode(views(media), s.r, fec).code, 0) << variant_info(s.v).name;
    ASSERT_EQ(fec.size(), static_cast<std::size_t>(s.r));
    const auto hdr = parse_fec_packet(fec[0]);
    ASSERT_TRUE(hdr);
    EXPECT_EQ(hdr->variant, s.v);
    EXPECT_EQ(hdr->base_seq, 65530);
    EXPECT_EQ(hdr->k, s.k);
    EXPECT_EQ(hdr->r, s.r);
    for (int trial = 0; trial < 5; ++trial) {
      // Lose r of the n packets at random, at least one of them media.
      std::vector<int> order(static_cast<std::size_t>(s.k + s.r));
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
      do std::shuffle(order.begin(), order.end(), rng);
      while (std::none_of(order.begin(), order.begin() + s.r, [&](int i) { return i < s.k; }));
      std::vector<bool> lost(order.size(), false);
      for (int i = 0; i < s.r; ++i)
        lost[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])] = true;
      std::vector<ByteView> got_media, got_fec;
      std::vector<Bytes> expect;
      for (int i = 0; i < s.k; ++i)
        if (lost[static_cast<std::size_t>(i)])
          expect.push_back(media[static_cast<std::size_t>(i)]);
        else
          got_media.push_back(media[static_cast<std::size_t>(i)]);
      for (int j = 0; j < s.r; ++j)
        if (!lost[static_cast<std::size_t>(s.k + j)])
          got_fec.push_back(fec[static_cast<std::size_t>(j)]);
      if (got_fec.empty()) continue;
      const auto d = codec.decode(*hdr, got_media, got_fec, kSsrc);
      EXPECT_EQ(d.call.code, 0);
      EXPECT_EQ(d.rejected, 0);
      EXPECT_EQ(d.packets, expect) << variant_info(s.v).name << " trial " << trial;
    }
  }
}

TEST(FecCodec, TooFewSymbolsIsReportedWithoutCallingTheLibrary) {
  std::mt19937 rng(6);
  FecCodec codec(Variant::video_v2);
  const auto media = rtp_group(6, 100, rng);
  std::vector<Bytes> fec;
  ASSERT_EQ(codec.encode(views(media), 2, fec).code, 0);
  const auto hdr = parse_fec_packet(fec[0]);
  const std::vector<ByteView> three(media.begin(), media.begin() + 3);
  const std::vector<ByteView> both{fec[0], fec[1], fec[1]};
  const auto d = codec.decode(*hdr, three, both, kSsrc);  // 3 media + 2 distinct FEC < 6
  EXPECT_EQ(d.call.code, -100);
  EXPECT_TRUE(d.packets.empty());
}

TEST(FecCodec, MediaOfOtherGroupsAndStreamsIsLeftOut) {
  std::mt19937 rng(7);
  FecCodec codec(Variant::audio_v2);
  const auto media = rtp_group(4, 500, rng);
  std::vector<Bytes> fec;
  ASSERT_EQ(codec.encode(views(media), 2, fec).code, 0);
  const auto hdr = parse_fec_packet(fec[0]);
  // Packet 504 belongs to the next group, the foreign one to another SSRC and
  // the long one cannot fit the symbol: none of them may stand in for 502/503.
  auto next = rtp_group(1, 504, rng)[0];
  auto foreign = media[2];
  store_be32(&foreign[8], 0xDEAD);
  auto too_long = media[3];
  too_long.resize(static_cast<std::size_t>(hdr->symbol_len));
  const std::vector<ByteView> got{media[0], media[1], next, foreign, too_long};
  const auto d = codec.decode(*hdr, got, views(fec), kSsrc);
  ASSERT_EQ(d.call.code, 0);
  EXPECT_EQ(d.packets, (std::vector<Bytes>{media[2], media[3]}));
}

TEST(FecCodec, AGarbageSymbolNeverYieldsAPacket) {
  std::mt19937 rng(8);
  for (const auto v : {Variant::audio_v2, Variant::video_v2, Variant::video_v1}) {
    FecCodec codec(v);
    const auto media = rtp_group(5, 7, rng);
    std::vector<Bytes> fec;
    ASSERT_EQ(codec.encode(views(media), 2, fec).code, 0);
    const auto hdr = parse_fec_packet(fec[0]);
    // A well-formed header in front of random bytes: what the library rebuilds
    // is garbage and must be refused rather than passed off as media.
    for (std::size_t b = kRtpRoom + variant_info(v).header_len; b < fec[0].size(); ++b)
      fec[0][b] = static_cast<std::uint8_t>(rng());
    const std::vector<ByteView> got(media.begin() + 1, media.end());
    const auto d = codec.decode(*hdr, got, std::vector<ByteView>{fec[0]}, kSsrc);
    EXPECT_TRUE(d.packets.empty()) << variant_info(v).name;
  }
}

TEST(ParseFecPacket, RefusesForgedHeaders) {
  std::mt19937 rng(9);
  FecCodec codec(Variant::video_v2);
  const auto media = rtp_group(4, 1, rng);
  std::vector<Bytes> fec;
  ASSERT_EQ(codec.encode(views(media), 2, fec).code, 0);
  const Bytes good = fec[1];
  ASSERT_TRUE(parse_fec_packet(good));
  struct Forgery {
    const char *what;
    std::size_t offset;  // within the packet; SIZE_MAX: change the length
    std::uint8_t value;
  };
  for (const Forgery f :
       {Forgery{"unknown tag", 12, 0x42}, Forgery{"esi below k", 13, 3},
        Forgery{"esi past n", 13, 6}, Forgery{"k zero", 16, 0}, Forgery{"k beyond 64", 16, 65},
        Forgery{"r beyond 64", 17, 200},
        Forgery{"S not a multiple of 4", 19, static_cast<std::uint8_t>(good[19] + 1)},
        Forgery{"S larger than the packet", 18, 0x40}, Forgery{"non-zero mask", 23, 1},
        Forgery{"audio tag on a video packet", 12, 0x11}, Forgery{"truncated", SIZE_MAX, 0}}) {
    Bytes bad = good;
    if (f.offset == SIZE_MAX)
      bad.resize(bad.size() - 1);
    else
      bad[f.offset] = f.value;
    std::string why;
    EXPECT_FALSE(parse_fec_packet(bad, &why)) << f.what;
    EXPECT_FALSE(why.empty()) << f.what;
  }
  for (std::size_t len = 0; len < 24; ++len)
    EXPECT_FALSE(parse_fec_packet(ByteView(good.data(), len))) << len;
}

TEST(FecCodec, GroupShapesFollowTheVariantLimits) {
  EXPECT_TRUE(check_group_shape(Variant::video_v2, 64, 64).empty());
  EXPECT_FALSE(check_group_shape(Variant::video_v2, 65, 1).empty());
  EXPECT_FALSE(check_group_shape(Variant::audio_v2, 1, 65).empty());
  EXPECT_TRUE(check_group_shape(Variant::video_v1, 100, 28).empty());
  EXPECT_FALSE(check_group_shape(Variant::video_v1, 100, 29).empty());
  EXPECT_FALSE(check_group_shape(Variant::video_v1, 10, 0).empty());
}

}  // namespace
}  // namespace zvtool
