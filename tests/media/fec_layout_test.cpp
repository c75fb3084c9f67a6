// Packet layouts and the steps the three variants share.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "media/byte_order.h"
#include "media/group.h"
#include "media/log.h"
#include "media/wire.h"

namespace zv {
namespace {

TEST(SymbolLength, IsTheLargestLengthRoundedUpToFour) {
  struct Case {
    std::vector<int> lengths;
    int symbol_len;
    int short_packet;  // 8-byte header variants
    int video_v2_packet;
  };
  const Case cases[] = {
      {{97, 100, 41}, 100, 120, 124},
      {{101, 3}, 104, 124, 128},
      {{8, 8}, 8, 28, 32},
      {{1}, 4, 24, 28},
  };
  for (const Case &c : cases) {
    const int s = symbol_length(c.lengths.data(), static_cast<int>(c.lengths.size()));
    EXPECT_EQ(s, c.symbol_len);
    EXPECT_EQ(kAudioV2Layout.packet_length(s), c.short_packet);
    EXPECT_EQ(kVideoV1Layout.packet_length(s), c.short_packet);
    EXPECT_EQ(kVideoV2Layout.packet_length(s), c.video_v2_packet);
  }
}

TEST(FecHeader, FieldsStandInNetworkOrderBehindTheRtpRoom) {
  std::array<uint8_t, 24> pkt{};
  const RSRTPHEAD_VIDEO_V2 h{kTagVideoV2, 4, 0x1234, 4, 2, 100, 0xA1B2C3D4};
  write_fec_header(pkt.data(), kVideoV2Layout, h);
  const std::array<uint8_t, 24> expected{0, 0, 0,    0,    0,    0,    0,    0,
                                         0, 0, 0,    0,    0x01, 4,    0x12, 0x34,
                                         4, 2, 0x00, 0x64, 0xA1, 0xB2, 0xC3, 0xD4};
  EXPECT_EQ(pkt, expected);

  const RSRTPHEAD_VIDEO_V2 back = read_fec_header(pkt.data(), kVideoV2Layout);
  EXPECT_EQ(back.esi, 4);
  EXPECT_EQ(back.seq, 0x1234);
  EXPECT_EQ(back.k, 4);
  EXPECT_EQ(back.n_r, 2);
  EXPECT_EQ(back.max_len, 100);
  EXPECT_EQ(back.seqmask, 0xA1B2C3D4u);
}

TEST(FecHeader, ShortHeaderLeavesTheMaskBytesAlone) {
  std::array<uint8_t, 24> pkt{};
  pkt.fill(0xEE);
  const RSRTPHEAD_VIDEO_V2 h{kTagAudioV2, 5, 0xFFFF, 4, 2, 0x1FC, 0xFFFFFFFF};
  write_fec_header(pkt.data(), kAudioV2Layout, h);
  EXPECT_EQ(pkt[12], 0x11);
  EXPECT_EQ(pkt[13], 5);
  EXPECT_EQ(pkt[18], 0x01);
  EXPECT_EQ(pkt[19], 0xFC);
  for (int i = 20; i < 24; ++i) EXPECT_EQ(pkt[i], 0xEE) << i;
  EXPECT_EQ(read_fec_header(pkt.data(), kAudioV2Layout).seqmask, 0u);
}

TEST(FecBuffers, ZeroFilledOverStatedCapacityOnly) {
  std::array<uint8_t, 40> a{}, b{};
  a.fill(0x5A);
  b.fill(0x5A);
  unsigned char *bufs[] = {a.data(), b.data()};
  const int caps[] = {32, 0};
  zero_fec_buffers(bufs, caps, 2);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(a[i], i < 32 ? 0 : 0x5A) << i;
  for (uint8_t v : b) EXPECT_EQ(v, 0x5A);
  // A region the caller writes itself is left for it, also where the stated
  // capacity ends inside or before that region.
  struct Case {
    int capacity, skip_from, skip_len;
  };
  for (const Case c : {Case{32, 20, 8}, Case{24, 20, 8}, Case{16, 20, 8}, Case{32, 0, 40}}) {
    a.fill(0x5A);
    const int cap[] = {c.capacity};
    zero_fec_buffers(bufs, cap, 1, c.skip_from, c.skip_len);
    for (int i = 0; i < 40; ++i) {
      const bool skipped = i >= c.skip_from && i < c.skip_from + c.skip_len;
      EXPECT_EQ(a[i], i < c.capacity && !skipped ? 0 : 0x5A) << i;
    }
  }
}

TEST(SequenceOffset, WrapsAcrossTheSixteenBitSpace) {
  const uint16_t base = 65534;
  const uint16_t seqs[] = {65534, 65535, 0, 1};
  for (uint16_t i = 0; i < 4; ++i) EXPECT_EQ(seq_offset(seqs[i], base), i);
  EXPECT_EQ(seq_offset(1, 65535), 2);
  EXPECT_EQ(seq_offset(99, 100), 65535);

  std::array<uint8_t, 8> media{6, 0, 0x80, 0x60, 0xFF, 0xFE, 0, 0};
  EXPECT_EQ(media_seq(media.data()), 65534);
}

std::vector<std::string> g_lines;
void collect(const char *text) { g_lines.emplace_back(text); }

struct ExtractFixture : ::testing::Test {
  static constexpr int kS = 16;
  std::array<uint8_t, kS> symbol{};
  std::array<uint8_t, kS> out0{}, out1{};
  unsigned char *outs[2] = {out0.data(), out1.data()};
  int lens[2] = {-1, -1};
  int num = 0;
  RecoveredOut out{outs, lens, &num};

  void SetUp() override {
    for (int i = 0; i < kS; ++i) symbol[i] = static_cast<uint8_t>(0xA0 + i);
    g_lines.clear();
    m_log_callback = collect;
    mLogLevel = ZV_FEC_LOG_INFO;
  }
  void TearDown() override {
    m_log_callback = nullptr;
    mLogLevel = ZV_FEC_LOG_NONE;
  }
};

TEST_F(ExtractFixture, PrefixOfSMinus2FillsTheWholeSymbol) {
  store_le16(symbol.data(), kS - 2);
  for (bool signed_prefix : {false, true}) {
    num = 0;
    ASSERT_TRUE(extract_recovered(symbol.data(), kS, 7, {signed_prefix, ZV_FEC_LOG_ERROR}, out));
    EXPECT_EQ(num, 1);
    EXPECT_EQ(lens[0], kS - 2);
    for (int i = 0; i < kS - 2; ++i) EXPECT_EQ(out0[i], symbol[i + 2]);
  }
  EXPECT_TRUE(g_lines.empty());
}

TEST_F(ExtractFixture, LengthErrorsYieldNothingAndAreLoggedAtTheVariantsSeverity) {
  struct Case {
    uint16_t prefix;
    bool signed_prefix;
    int severity;
    const char *message;
  };
  const Case cases[] = {
      {kS - 1, false, ZV_FEC_LOG_ERROR, "len error =15 seq base=7 max_len=16\n"},
      {kS - 1, false, ZV_FEC_LOG_INFO, "len error =15 seq base=7 max_len=16\n"},
      {0x8004, true, ZV_FEC_LOG_ERROR, "len error =-32764 seq base=7 max_len=16\n"},
      {0x8004, false, ZV_FEC_LOG_ERROR, "len error =32772 seq base=7 max_len=16\n"},
  };
  for (const Case &c : cases) {
    g_lines.clear();
    store_le16(symbol.data(), c.prefix);
    EXPECT_FALSE(extract_recovered(symbol.data(), kS, 7, {c.signed_prefix, c.severity}, out));
    EXPECT_EQ(num, 0);
    EXPECT_EQ(lens[0], -1);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_NE(g_lines[0].find(c.message), std::string::npos) << g_lines[0];
  }
  mLogLevel = ZV_FEC_LOG_ERROR;  // an INFO-severity length error is filtered out
  g_lines.clear();
  store_le16(symbol.data(), kS - 1);
  extract_recovered(symbol.data(), kS, 7, {false, ZV_FEC_LOG_INFO}, out);
  EXPECT_TRUE(g_lines.empty());
}

TEST_F(ExtractFixture, PacketsGoToConsecutiveOutputs) {
  store_le16(symbol.data(), 3);
  ASSERT_TRUE(extract_recovered(symbol.data(), kS, 0, {false, ZV_FEC_LOG_ERROR}, out));
  store_le16(symbol.data(), 0);
  ASSERT_TRUE(extract_recovered(symbol.data(), kS, 0, {false, ZV_FEC_LOG_ERROR}, out));
  EXPECT_EQ(num, 2);
  EXPECT_EQ(lens[0], 3);
  EXPECT_EQ(lens[1], 0);
}

}  // namespace
}  // namespace zv
