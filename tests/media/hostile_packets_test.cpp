// Every variant against callers and networks that do not keep the contract:
// refused encoder arguments, packets shorter than they claim, forged headers.
// Buffers are allocated at exactly their stated lengths, so the sanitizer
// build turns any access outside them into a failure.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>

#include "group_harness.h"

namespace {

using namespace zvtest;

struct VariantCase {
  const char *name;
  int type;
  int version;
  std::set<int> decode_codes;  // what a decode call may answer to garbage
  bool group_limit_64;         // the encoder holds at most 64 media and 64 FEC packets
  int too_few_symbols;         // the answer when fewer than k usable symbols arrived
};

const VariantCase kVariants[] = {
    {"audio_v2", ZV_FEC_AUDIO, ZV_FEC_VERSION_2, {0, -2, -3, -4, -100, -101}, true, -3},
    {"video_v2", ZV_FEC_VIDEO, ZV_FEC_VERSION_2, {0, -2, -3, -4, -100, -101}, true, -3},
    {"video_v1",
     ZV_FEC_VIDEO,
     ZV_FEC_VERSION_1,
     {0, -2, -3, -4, -5, -100, -101, -102, -103, -105, -106},
     false,
     -106},
};

class HostileTest : public ::testing::TestWithParam<VariantCase> {
 protected:
  int hdr() const { return header_size(GetParam().type, GetParam().version); }
  Handle handle_{GetParam().type, GetParam().version};
  std::mt19937 rng_{777};
};

TEST_P(HostileTest, EncoderRefusesUnsoundArgumentsBeforeWriting) {
  std::vector<Bytes> media;
  for (int i = 0; i < 65; ++i) media.push_back(make_media(static_cast<uint16_t>(i), 40, rng_));
  const int s = symbol_length_of(media);
  const int need = 12 + hdr() + s;
  struct Case {
    const char *what;
    int k, r, capacity;
    bool null_media, null_fec;
  };
  const Case cases[] = {
      {"k above 64", 65, 1, need, false, false},
      {"r above 64", 2, 65, need, false, false},
      {"negative r", 2, -1, need, false, false},
      {"FEC buffer one byte short", 3, 2, need - 1, false, false},
      {"null media array", 3, 2, need, true, false},
      {"null FEC array", 3, 2, need, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if ((c.k > 64 || c.r > 64) && !GetParam().group_limit_64) continue;
    const int r = std::max(c.r, 1);
    std::vector<Bytes> fec(65, Bytes(static_cast<size_t>(c.capacity), 0xAB));
    PacketArrays m(media), f(fec);
    std::vector<int> caps = f.len;
    const int rc = zv_rsfec_encode(handle_.get(), 0, c.null_media ? nullptr : m.p(), m.l(), c.k,
                                   c.r, 0, c.null_fec ? nullptr : f.p(), caps.data());
    EXPECT_EQ(rc, -2);
    for (int j = 0; j < r; ++j) {
      EXPECT_EQ(caps[static_cast<size_t>(j)], c.capacity);
      EXPECT_EQ(fec[static_cast<size_t>(j)], Bytes(static_cast<size_t>(c.capacity), 0xAB));
    }
  }
}

TEST_P(HostileTest, EncoderRefusesMalformedMediaBuffers) {
  // Each case states a media buffer that the encoder must not trust: nothing
  // may be written to the FEC buffers, not even their zero fill.
  struct Case {
    const char *what;
    int index;   // the media buffer to spoil
    int stated;  // its stated length (-1: leave it)
    bool null;   // pass a null buffer
    int fec_capacity;
  };
  const int need = 12 + hdr() + 24;
  const Case cases[] = {
      {"prefix claims more than the stated length", 1, 19, false, need},
      {"stated length too short for the prefix", 2, 1, false, need},
      {"stated length 0", 0, 0, false, need},
      {"null buffer with stated length 0", 1, 0, true, need},
      {"stated length INT_MAX", 0, INT_MAX, false, 64},
      {"stated length INT_MAX - 2", 2, INT_MAX - 2, false, 64},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bytes> media;
    for (int i = 0; i < 3; ++i) media.push_back(make_media(static_cast<uint16_t>(i), 18, rng_));
    std::vector<Bytes> fec(2, Bytes(static_cast<size_t>(c.fec_capacity), 0xAB));
    PacketArrays m(media), f(fec);
    if (c.null) m.ptr[static_cast<size_t>(c.index)] = nullptr;
    if (c.stated >= 0) m.len[static_cast<size_t>(c.index)] = c.stated;
    std::vector<int> caps = f.len;
    EXPECT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 3, 2, 0, f.p(), caps.data()), -2);
    EXPECT_EQ(caps, f.len);
    for (const Bytes &b : fec) EXPECT_EQ(b, Bytes(static_cast<size_t>(c.fec_capacity), 0xAB));
  }
}

TEST_P(HostileTest, ImpossibleSymbolLengthsAreRefusedBeforeDecoding) {
  // One FEC packet naming a one-packet group whose symbol cannot hold a
  // length prefix, or that no encoder writes. Each packet is exactly as long
  // as its header says, so reading a prefix past it would leave the buffer.
  struct Case {
    int k, n_r, max_len;
  };
  const Case cases[] = {{1, 1, 0},  {1, 1, 1}, {1, 1, 2}, {1, 1, 3}, {1, 1, 6},
                        {1, 1, 10}, {0, 1, 8}, {1, 0, 8}, {0, 0, 0}};
  // Refused quietly: nothing reaches the host's standard streams.
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "k=" << c.k << " n_r=" << c.n_r << " S=" << c.max_len);
    Bytes fec(static_cast<size_t>(12 + hdr() + c.max_len), 0x5A);
    fec[12] =
        GetParam().type == ZV_FEC_AUDIO ? 0x11 : (GetParam().version == ZV_FEC_VERSION_2 ? 1 : 0);
    fec[13] = static_cast<uint8_t>(c.k);  // esi: the group's first repair symbol
    fec[14] = fec[15] = 0;
    fec[16] = static_cast<uint8_t>(c.k);
    fec[17] = static_cast<uint8_t>(c.n_r);
    fec[18] = 0;
    fec[19] = static_cast<uint8_t>(c.max_len);
    if (hdr() == 12) fec[20] = fec[21] = fec[22] = fec[23] = 0;
    const Decoded d = decode_group(handle_.get(), {}, {fec}, 64);
    EXPECT_EQ(d.rc, -2);
    EXPECT_TRUE(d.packets.empty());
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_P(HostileTest, MediaShorterThanItsPrefixIsNotReceived) {
  // The receiver states two media packets two bytes shorter than their
  // prefixes say (the buffers end there too). Trusting them would rebuild the
  // lost packet from truncated symbols and hand it out as good.
  const LogCapture log;
  std::vector<Bytes> media;
  for (int i = 0; i < 3; ++i) media.push_back(make_media(static_cast<uint16_t>(700 + i), 18, rng_));
  std::vector<Bytes> fec(2, Bytes(static_cast<size_t>(12 + hdr() + 20)));
  PacketArrays m(media), f(fec);
  ASSERT_EQ(zv_rsfec_encode(handle_.get(), 0, m.p(), m.l(), 3, 2, 0, f.p(), f.l()), 0);
  for (Bytes &b : fec) b.resize(static_cast<size_t>(12 + hdr() + 20));
  Bytes cut0(media[0].begin(), media[0].end() - 2), cut2(media[2].begin(), media[2].end() - 2);
  const Decoded d = decode_group(handle_.get(), {cut0, cut2}, {fec[0]}, 20);
  EXPECT_EQ(d.rc, GetParam().too_few_symbols);
  EXPECT_TRUE(d.packets.empty());
  EXPECT_TRUE(logged("2 + length prefix 18 exceeds its stated length 18"));
  // With the packets whole the same call recovers the lost one.
  const Decoded whole = decode_group(handle_.get(), {media[0], media[2]}, {fec[0]}, 20);
  ASSERT_EQ(whole.rc, 0);
  EXPECT_EQ(whole.packets, std::vector<Bytes>{rtp_of(media[1])});
}

TEST_P(HostileTest, ShortFecPacketsAreSkipped) {
  const Group g = encode_group(handle_.get(), hdr(), 3, 2, 40000, 30, 80, rng_);
  const int s = symbol_length_of(g.media);
  Bytes cut = g.fec[0];
  cut.pop_back();  // one byte short of header + symbol: not used
  Decoded d = decode_group(handle_.get(), {g.media[0], g.media[1]}, {cut}, s);
  EXPECT_EQ(d.rc, GetParam().too_few_symbols);
  d = decode_group(handle_.get(), {g.media[0], g.media[1]}, {cut, g.fec[1]}, s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, std::vector<Bytes>{rtp_of(g.media[2])});
  // The first FEC packet names the group; shorter than its header, nothing can be done.
  Bytes stub(g.fec[0].begin(), g.fec[0].begin() + 12 + hdr() - 1);
  EXPECT_EQ(decode_group(handle_.get(), {g.media[0], g.media[1]}, {stub, g.fec[1]}, s).rc, -2);
}

TEST_P(HostileTest, OutOfGroupIndicesAreSkipped) {
  const Group g = encode_group(handle_.get(), hdr(), 3, 2, 10, 30, 80, rng_);
  const int s = symbol_length_of(g.media);
  Bytes forged = g.fec[1];
  forged[13] = 200;  // esi beyond k + r - 1
  Decoded d = decode_group(handle_.get(), {g.media[0], g.media[1]}, {g.fec[0], forged}, s);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.packets, std::vector<Bytes>{rtp_of(g.media[2])});
  forged[13] = 1;  // esi of a media symbol
  d = decode_group(handle_.get(), {g.media[0]}, {forged, g.fec[0]}, s);
  EXPECT_EQ(d.rc, GetParam().too_few_symbols);
}

TEST_P(HostileTest, ForgedHeadersAndLengthsNeverEscapeTheBuffers) {
  const std::set<int> &allowed = GetParam().decode_codes;
  std::map<int, int> seen;  // answers over all trials
  int recovering_calls = 0;
  // The media path reports through the log callback only: whatever it is
  // fed, the host's standard streams stay untouched.
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  for (int trial = 0; trial < 400; ++trial) {
    const int k = std::uniform_int_distribution<int>(1, 10)(rng_);
    const int r = std::uniform_int_distribution<int>(1, 6)(rng_);
    const Group g =
        encode_group(handle_.get(), hdr(), k, r, static_cast<uint16_t>(rng_()), 6, 200, rng_);
    ASSERT_EQ(g.encode_rc, 0);
    std::vector<Bytes> media, fec;
    for (const Bytes &b : g.media)
      if (rng_() % 3) media.push_back(b);
    for (const Bytes &b : g.fec)
      if (rng_() % 4) fec.push_back(b);
    if (fec.empty()) fec.push_back(g.fec[0]);
    // Forge: rewrite header bytes, cut packets short, or make up garbage.
    const int edits = std::uniform_int_distribution<int>(1, 4)(rng_);
    for (int e = 0; e < edits; ++e) {
      std::vector<Bytes> &list = (rng_() % 3 == 0 && !media.empty()) ? media : fec;
      Bytes &p = list[rng_() % list.size()];
      switch (rng_() % 5) {
        case 0:  // one header byte (esi, seq, k, n_r, max_len, mask) to an extreme or random
          if (p.size() > 12) {
            const size_t at = 12 + rng_() % std::min<size_t>(p.size() - 12, 12);
            const uint8_t values[] = {0, 1, 0x7F, 0x80, 0xFF, static_cast<uint8_t>(rng_())};
            p[at] = values[rng_() % 6];
          }
          break;
        case 1:  // shorter than it was
          p.resize(rng_() % (p.size() + 1));
          break;
        case 2:  // longer, with garbage
          p.resize(p.size() + rng_() % 64, static_cast<uint8_t>(rng_()));
          break;
        case 3:  // garbage of any length
          p.assign(rng_() % 80, 0);
          for (uint8_t &x : p) x = static_cast<uint8_t>(rng_());
          break;
        default:  // a length prefix that lies
          if (p.size() >= 2) p[rng_() % 2] = static_cast<uint8_t>(rng_());
          break;
      }
    }
    // Output buffers as large as any symbol the 16-bit header can name.
    PacketArrays m(media), f(fec);
    std::vector<Bytes> out(fec.size(), Bytes(65536));
    PacketArrays o(out);
    int num = -1;
    const int rc = zv_rsfec_decode(handle_.get(), m.p(), m.l(), m.n(), f.p(), f.l(), f.n(), 0,
                                   o.p(), o.l(), &num);
    ASSERT_TRUE(allowed.count(rc)) << "trial " << trial << " rc " << rc;
    ASSERT_GE(num, 0);
    ASSERT_LE(num, f.n());
    if (rc != 0) {
      ASSERT_EQ(num, 0);
    }
    ++seen[rc];
    recovering_calls += num > 0;
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  // The forgeries must leave room for real work, or this test shows nothing.
  EXPECT_GT(recovering_calls, 20);
  EXPECT_GT(seen.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Variants, HostileTest, ::testing::ValuesIn(kVariants),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
