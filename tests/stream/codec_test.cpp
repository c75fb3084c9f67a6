// The stream layer's group codec and FEC header parser, one group at a time:
// any k of n packets rebuild the group, and nothing that is not a missing
// media packet of the group ever comes out of a decode.
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <span>

#include <gtest/gtest.h>

#include "stream/stream_harness.h"

namespace zvtest {
namespace {

constexpr std::uint32_t kSsrc = 0xCAFE0001;

using CodecPtr = std::unique_ptr<zvfec_stream_codec, decltype(&zvfec_stream_codec_free)>;

CodecPtr make_codec(int variant) {
  return {zvfec_stream_codec_new(variant), zvfec_stream_codec_free};
}

const char *name_of(int variant) {
  zvfec_stream_variant_info info{};
  return zvfec_stream_variant_describe(variant, &info) == 0 ? info.name : "?";
}

// k RTP packets of kSsrc with consecutive sequence numbers from `first`
// (wrapping allowed) and random sizes of 12..max bytes.
std::vector<Bytes> rtp_group(int k, std::uint16_t first, std::mt19937 &rng, std::size_t max = 300) {
  std::vector<Bytes> out;
  for (int i = 0; i < k; ++i)
    out.push_back(rtp(kSsrc, static_cast<std::uint16_t>(first + i), 12 + rng() % (max - 11), 1000));
  return out;
}

// Protects media with r FEC packets: 0 and fec filled, or the encoder's code.
int encode(zvfec_stream_codec *codec, int variant, const std::vector<Bytes> &media, int r,
           std::vector<Bytes> &fec) {
  std::vector<const std::uint8_t *> ptr;
  std::vector<std::size_t> len;
  std::size_t longest = 0;
  for (const auto &m : media) {
    ptr.push_back(m.data());
    len.push_back(m.size());
    longest = std::max(longest, m.size());
  }
  const std::size_t cap = zvfec_stream_fec_size(variant, zvfec_stream_symbol_len(longest));
  fec.assign(static_cast<std::size_t>(r), Bytes(cap));
  std::vector<std::uint8_t *> out;
  for (auto &f : fec) out.push_back(f.data());
  std::vector<std::size_t> out_len(fec.size(), 0);
  const int rc =
      zvfec_stream_codec_encode(codec, ptr.data(), len.data(), static_cast<int>(media.size()), r,
                                out.data(), cap, out_len.data());
  for (std::size_t j = 0; j < fec.size(); ++j) fec[j].resize(out_len[j]);
  return rc;
}

struct Decoded {
  int code = 0;
  std::vector<Bytes> packets;  // in sequence order
  int rejected = 0;
};

Decoded decode(zvfec_stream_codec *codec, const zvfec_stream_fec_header &group,
               std::span<const Bytes> media, std::span<const Bytes> fec) {
  std::vector<const std::uint8_t *> mp, fp;
  std::vector<std::size_t> ml, fl;
  for (const auto &m : media) mp.push_back(m.data()), ml.push_back(m.size());
  for (const auto &f : fec) fp.push_back(f.data()), fl.push_back(f.size());
  const auto k = static_cast<std::size_t>(group.k);
  const auto cap = static_cast<std::size_t>(group.symbol_len);
  std::vector<Bytes> out(k, Bytes(cap));
  std::vector<std::uint8_t *> op;
  for (auto &o : out) op.push_back(o.data());
  std::vector<std::size_t> ol(k, 0);
  int count = 0;
  Decoded d;
  d.code = zvfec_stream_codec_decode(codec, &group, kSsrc, mp.data(), ml.data(), mp.size(),
                                     fp.data(), fl.data(), fp.size(), op.data(), cap, ol.data(),
                                     &count, &d.rejected);
  for (int m = 0; m < count; ++m) {
    const auto i = static_cast<std::size_t>(m);
    out[i].resize(ol[i]);
    d.packets.push_back(std::move(out[i]));
  }
  return d;
}

zvfec_stream_fec_header parse(const Bytes &fec) {
  zvfec_stream_fec_header h{};
  EXPECT_EQ(zvfec_stream_parse_fec(fec.data(), fec.size(), &h), 0);
  return h;
}

TEST(GroupCodec, AnyKOfNRecoverTheGroupByteForByte) {
  struct Shape {
    int variant, k, r;
  };
  std::mt19937 rng(5);
  for (const Shape s :
       {Shape{ZVFEC_STREAM_AUDIO_V2, 5, 2}, Shape{ZVFEC_STREAM_VIDEO_V2, 10, 4},
        Shape{ZVFEC_STREAM_VIDEO_V1, 10, 4}, Shape{ZVFEC_STREAM_VIDEO_V2, 64, 64},
        Shape{ZVFEC_STREAM_VIDEO_V1, 100, 28}, Shape{ZVFEC_STREAM_AUDIO_V2, 1, 1}}) {
    const auto codec = make_codec(s.variant);
    ASSERT_TRUE(codec);
    const auto media = rtp_group(s.k, 65530, rng);
    std::vector<Bytes> fec;
    ASSERT_EQ(encode(codec.get(), s.variant, media, s.r, fec), 0) << name_of(s.variant);
    ASSERT_EQ(fec.size(), static_cast<std::size_t>(s.r));
    const auto hdr = parse(fec[0]);
    EXPECT_EQ(hdr.variant, s.variant);
    EXPECT_EQ(hdr.base_seq, 65530);
    EXPECT_EQ(hdr.k, s.k);
    EXPECT_EQ(hdr.r, s.r);
    for (int trial = 0; trial < 5; ++trial) {
      // Lose r of the n packets at random, at least one of them media.
      std::vector<int> order(static_cast<std::size_t>(s.k + s.r));
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
      do std::shuffle(order.begin(), order.end(), rng);
      while (std::none_of(order.begin(), order.begin() + s.r, [&](int i) { return i < s.k; }));
      std::vector<bool> lost(order.size(), false);
      for (int i = 0; i < s.r; ++i)
        lost[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])] = true;
      std::vector<Bytes> got_media, got_fec, expect;
      for (int i = 0; i < s.k; ++i)
        (lost[static_cast<std::size_t>(i)] ? expect : got_media)
            .push_back(media[static_cast<std::size_t>(i)]);
      for (int j = 0; j < s.r; ++j)
        if (!lost[static_cast<std::size_t>(s.k + j)])
          got_fec.push_back(fec[static_cast<std::size_t>(j)]);
      if (got_fec.empty()) continue;
      const auto d = decode(codec.get(), hdr, got_media, got_fec);
      EXPECT_EQ(d.code, 0);
      EXPECT_EQ(d.rejected, 0);
      EXPECT_EQ(d.packets, expect) << name_of(s.variant) << " trial " << trial;
    }
  }
}

TEST(GroupCodec, TooFewSymbolsIsReportedAndYieldsNothing) {
  std::mt19937 rng(6);
  const auto codec = make_codec(ZVFEC_STREAM_VIDEO_V2);
  const auto media = rtp_group(6, 100, rng);
  std::vector<Bytes> fec;
  ASSERT_EQ(encode(codec.get(), ZVFEC_STREAM_VIDEO_V2, media, 2, fec), 0);
  const std::vector<Bytes> three(media.begin(), media.begin() + 3);
  const std::vector<Bytes> both{fec[0], fec[1], fec[1]};
  const auto d = decode(codec.get(), parse(fec[0]), three, both);  // 3 media + 2 distinct FEC < 6
  EXPECT_EQ(d.code, ZVFEC_STREAM_E_TOO_FEW);
  EXPECT_TRUE(d.packets.empty());
}

TEST(GroupCodec, MediaOfOtherGroupsAndStreamsIsLeftOut) {
  std::mt19937 rng(7);
  const auto codec = make_codec(ZVFEC_STREAM_AUDIO_V2);
  const auto media = rtp_group(4, 500, rng);
  std::vector<Bytes> fec;
  ASSERT_EQ(encode(codec.get(), ZVFEC_STREAM_AUDIO_V2, media, 2, fec), 0);
  const auto hdr = parse(fec[0]);
  // Packet 504 belongs to the next group, the foreign one to another SSRC and
  // the long one cannot fit the symbol: none of them may stand in for 502/503.
  auto next = rtp_group(1, 504, rng)[0];
  auto foreign = media[2];
  foreign[11] ^= 0x5A;  // the SSRC's last byte
  auto too_long = media[3];
  too_long.resize(static_cast<std::size_t>(hdr.symbol_len));
  const std::vector<Bytes> got{media[0], media[1], next, foreign, too_long};
  const auto d = decode(codec.get(), hdr, got, fec);
  ASSERT_EQ(d.code, 0);
  EXPECT_EQ(d.packets, (std::vector<Bytes>{media[2], media[3]}));
}

TEST(GroupCodec, AGarbageSymbolNeverYieldsAPacket) {
  std::mt19937 rng(8);
  for (const int v : {ZVFEC_STREAM_AUDIO_V2, ZVFEC_STREAM_VIDEO_V2, ZVFEC_STREAM_VIDEO_V1}) {
    const auto codec = make_codec(v);
    const auto media = rtp_group(5, 7, rng);
    std::vector<Bytes> fec;
    ASSERT_EQ(encode(codec.get(), v, media, 2, fec), 0);
    const auto hdr = parse(fec[0]);
    // A well-formed header in front of random bytes: what the library rebuilds
    // is garbage and must be refused rather than passed off as media. The
    // symbol starts where an FEC packet of an empty symbol would end.
    for (std::size_t b = zvfec_stream_fec_size(v, 0); b < fec[0].size(); ++b)
      fec[0][b] = static_cast<std::uint8_t>(rng());
    const std::vector<Bytes> got(media.begin() + 1, media.end());
    const auto d = decode(codec.get(), hdr, got, std::vector<Bytes>{fec[0]});
    EXPECT_TRUE(d.packets.empty()) << name_of(v);
  }
}

TEST(ParseFec, RefusesForgedHeaders) {
  std::mt19937 rng(9);
  const auto codec = make_codec(ZVFEC_STREAM_VIDEO_V2);
  const auto media = rtp_group(4, 1, rng);
  std::vector<Bytes> fec;
  ASSERT_EQ(encode(codec.get(), ZVFEC_STREAM_VIDEO_V2, media, 2, fec), 0);
  const Bytes good = fec[1];
  parse(good);
  // A refused packet leaves the caller's header as it was.
  auto refused = [](const Bytes &p, std::size_t len) {
    zvfec_stream_fec_header h, before;
    std::memset(&h, 0xA5, sizeof h);
    std::memcpy(&before, &h, sizeof h);
    const int code = zvfec_stream_parse_fec(p.data(), len, &h);
    EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0) << "len " << len;
    return code;
  };
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
    const int code = refused(bad, bad.size());
    EXPECT_LT(code, 0) << f.what;
    EXPECT_STRNE(zvfec_stream_error_text(code), zvfec_stream_error_text(-12345)) << f.what;
  }
  for (std::size_t len = 0; len < 24; ++len) EXPECT_LT(refused(good, len), 0) << len;
}

TEST(GroupCodec, GroupShapesFollowTheVariantLimits) {
  struct Case {
    int variant, k, r, code;
  };
  for (const Case c : {Case{ZVFEC_STREAM_VIDEO_V2, 64, 64, 0},
                       Case{ZVFEC_STREAM_VIDEO_V2, 65, 1, ZVFEC_STREAM_E_K},
                       Case{ZVFEC_STREAM_AUDIO_V2, 1, 65, ZVFEC_STREAM_E_R},
                       Case{ZVFEC_STREAM_VIDEO_V1, 100, 28, 0},
                       Case{ZVFEC_STREAM_VIDEO_V1, 100, 29, ZVFEC_STREAM_E_N},
                       Case{ZVFEC_STREAM_VIDEO_V1, 10, 0, ZVFEC_STREAM_E_R}})
    EXPECT_EQ(zvfec_stream_check_shape(c.variant, c.k, c.r), c.code)
        << name_of(c.variant) << " k=" << c.k << " r=" << c.r;
}

}  // namespace
}  // namespace zvtest
