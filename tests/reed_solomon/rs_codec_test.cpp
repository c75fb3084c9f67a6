#include "reed_solomon/rs_codec.h"

#include <gtest/gtest.h>

#include "reed_solomon/session_harness.h"
#include "session/alloc_fault.h"

namespace {

using namespace rs_test;

Group rs8(uint32_t k, uint32_t r, uint32_t len = 24) {
  return {OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, k, r, len, 0};
}

TEST(RsGf28Codec, RoundTripsOverRandomLosses) {
  std::mt19937 rng(41);
  for (int trial = 0; trial < 40; ++trial) {
    const auto k = static_cast<uint32_t>(1 + rng() % 120);
    const auto r = static_cast<uint32_t>(rng() % (257 - k));
    round_trip(rs8(k, r, static_cast<uint32_t>(1 + rng() % 90)), rng);
  }
}

TEST(RsGf28Codec, LargestGroupWorksEndToEnd) {
  std::mt19937 rng(42);
  round_trip(rs8(255, 1, 16), rng);
}

TEST(RsGf28Codec, RepairSymbolsEqualThoseOfTheGf2mCodec) {
  std::mt19937 rng(43);
  for (auto [k, r] : {std::pair{1u, 3u}, {3u, 3u}, {10u, 5u}, {100u, 156u}, {255u, 1u}}) {
    Symbols src = random_symbols(rng, k, 40);
    const Symbols classic = encode_group(rs8(k, r, 40), src);
    const Symbols gf2m = encode_group({OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, k, r, 40, 8}, src);
    ASSERT_EQ(classic.size(), r);
    EXPECT_EQ(classic, gf2m) << "k " << k << " r " << r;
  }
}

TEST(RsGf28Codec, ParameterLimits) {
  struct Case {
    uint32_t k, r, len;
    of_status_t want;
  } cases[] = {
      {255, 1, 8, OF_STATUS_OK},
      {256, 0, 8, OF_STATUS_FATAL_ERROR},
      {200, 100, 8, OF_STATUS_OK},  // accepted; no coder can be made for it
      {10, UINT32_MAX, 8, OF_STATUS_FATAL_ERROR},
      {10, 2, 0x80000000u, OF_STATUS_FATAL_ERROR},
  };
  for (const auto &c : cases) {
    of_session_t *ses = nullptr;
    ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, 3, 0),
              OF_STATUS_OK);
    of_rs_parameters_t p{c.k, c.r, c.len};
    EXPECT_EQ(of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)), c.want) << c.k;
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

// n = 300 passes the parameters but no coder exists for it: building and
// decoding fail without harm, and the session still releases.
TEST(RsGf28Codec, GroupBeyond256SymbolsCannotCode) {
  const Group g = rs8(200, 100, 4);
  std::mt19937 rng(44);
  Symbols src = random_symbols(rng, g.k, g.len);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_ENCODER | OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  std::vector<void *> tab(300, nullptr);
  for (uint32_t i = 0; i < g.k; ++i) tab[i] = src[i].data();
  EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), 200), OF_STATUS_ERROR);
  EXPECT_EQ(tab[200], nullptr);
  Symbol fake(g.len, 0);
  for (uint32_t i = 1; i < g.k; ++i)
    ASSERT_EQ(of_decode_with_new_symbol(ses, src[i].data(), i), OF_STATUS_OK);
  EXPECT_EQ(of_decode_with_new_symbol(ses, fake.data(), 250), OF_STATUS_ERROR);
  EXPECT_FALSE(of_is_decoding_complete(ses));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf28Codec, ControlParameters) {
  of_session_t *ses = nullptr;
  ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, 3, 0),
            OF_STATUS_OK);
  uint32_t max = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 4), OF_STATUS_OK);
  EXPECT_EQ(max, 255u);
  max = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &max, 4), OF_STATUS_OK);
  EXPECT_EQ(max, 255u);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 2),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, nullptr, 4),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, 1024, &max, 4), OF_STATUS_ERROR);
  uint16_t m = 8;
  for (unsigned type : {0u, 1u, 2u, 1024u, 99999u})
    EXPECT_EQ(of_set_control_parameter(ses, type, &m, 2), OF_STATUS_ERROR) << type;
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf28Codec, SourceOrRepairByEsi) {
  of_session_t *ses = open_session(rs8(4, 2), OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  auto *cb = reinterpret_cast<of_rs_cb_t *>(ses);
  EXPECT_TRUE(of_rs_is_source_symbol(cb, 3));
  EXPECT_FALSE(of_rs_is_repair_symbol(cb, 3));
  EXPECT_FALSE(of_rs_is_source_symbol(cb, 4));
  EXPECT_TRUE(of_rs_is_repair_symbol(cb, 4));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf28Codec, AllSourceSymbolsNeedNoCoder) {
  const Group g = rs8(3, 2);
  std::mt19937 rng(45);
  Symbols src = random_symbols(rng, 3, g.len);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  of_fail_nth_allocation(-1);
  for (uint32_t i = 0; i < 3; ++i)
    ASSERT_EQ(of_decode_with_new_symbol(ses, src[i].data(), i), OF_STATUS_OK);
  EXPECT_EQ(of_fail_nth_allocation(-1), 0);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  EXPECT_EQ(reinterpret_cast<of_rs_cb_t *>(ses)->rs_cb, nullptr);
  void *out[3] = {};
  ASSERT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_OK);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(out[i], src[i].data());
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf28Codec, DuplicatesAndLateSymbolsAreIgnored) {
  const Group g = rs8(3, 3);
  std::mt19937 rng(46);
  Symbols src = random_symbols(rng, 3, g.len);
  Symbols repair = encode_group(g, src);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  void *out[3] = {};
  EXPECT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_ERROR);
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[1].data(), 4), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[2].data(), 4), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[0].data(), 0), OF_STATUS_OK);
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FAILURE);
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[2].data(), 5), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  EXPECT_EQ(reinterpret_cast<of_rs_cb_t *>(ses)->rs_cb, nullptr);  // freed after decoding
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[0].data(), 1), OF_STATUS_OK);
  EXPECT_EQ(take_source_symbols(ses, g, {src[0].data()}), src);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Once decoding has completed, the table holds the rebuilt source symbols. A
// table of received symbols handed over then is refused and changes nothing:
// completion is never reported while a source symbol is missing, and the
// rebuilt one stays there for the caller to take and free. Both Reed-Solomon
// codecs share this step.
TEST(RsGf28Codec, AvailableSymbolsAfterCompletionAreRefused) {
  for (const Group &g : {rs8(4, 2, 16), Group{OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 4, 2, 16, 8}}) {
    std::mt19937 rng(48);
    Symbols src = random_symbols(rng, g.k, g.len);
    Symbols repair = encode_group(g, src);
    of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
    ASSERT_NE(ses, nullptr);
    const void *tab[6] = {src[0].data(), src[1].data(),    nullptr,
                          src[3].data(), repair[0].data(), nullptr};
    for (uint32_t esi : {0u, 1u, 3u, 4u})
      ASSERT_EQ(of_decode_with_new_symbol(ses, tab[esi], esi), OF_STATUS_OK);
    ASSERT_TRUE(of_is_decoding_complete(ses));
    EXPECT_EQ(of_set_available_symbols(ses, tab), OF_STATUS_ERROR) << "codec " << g.codec;
    EXPECT_TRUE(of_is_decoding_complete(ses));
    EXPECT_EQ(take_source_symbols(ses, g, std::vector<const void *>(tab, tab + 6)), src)
        << "codec " << g.codec;
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

// Every refused allocation of the wrappers gives the documented status, and
// decoding that failed for memory completes once memory is back.
TEST(RsGf28Codec, EveryAllocationFailureIsReportedAndRecoverable) {
  const Group g = rs8(4, 3, 20);
  std::mt19937 rng(47);
  Symbols src = random_symbols(rng, g.k, g.len);
  const Symbols repair = encode_group(g, src);
  long nth = 0;
  for (;; ++nth) {
    of_fail_nth_allocation(nth);
    of_session_t *ses = nullptr;
    const of_status_t created =
        of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, 3, 0);
    if (created != OF_STATUS_OK) {
      EXPECT_EQ(created, OF_STATUS_FATAL_ERROR);
      EXPECT_EQ(ses, nullptr);
      continue;
    }
    of_rs_parameters_t p{g.k, g.r, g.len};
    const of_status_t set = of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p));
    if (set != OF_STATUS_OK) {
      EXPECT_EQ(set, OF_STATUS_ERROR);
      EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
      continue;
    }
    void *tab[7] = {src[0].data(), src[1].data(), src[2].data(), src[3].data()};
    for (uint32_t esi = 4; esi < 7; ++esi) {
      if (of_build_repair_symbol(ses, tab, esi) != OF_STATUS_OK) {
        EXPECT_EQ(tab[esi], nullptr);
        ASSERT_EQ(of_build_repair_symbol(ses, tab, esi), OF_STATUS_OK);
      }
      EXPECT_EQ(Symbol(static_cast<unsigned char *>(tab[esi]),
                       static_cast<unsigned char *>(tab[esi]) + g.len),
                repair[esi - 4]);
      of_free(tab[esi]);
    }
    const uint32_t feed[] = {0, 2, 5, 6};
    const void *bufs[] = {src[0].data(), src[2].data(), repair[1].data(), repair[2].data()};
    for (uint32_t i = 0; i < 4; ++i) {
      const of_status_t st = of_decode_with_new_symbol(ses, bufs[i], feed[i]);
      EXPECT_TRUE(st == OF_STATUS_OK || st == OF_STATUS_ERROR) << st;
    }
    if (!of_is_decoding_complete(ses)) {
      EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
    }
    ASSERT_TRUE(of_is_decoding_complete(ses));
    void *out[4] = {};
    ASSERT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_OK);
    for (uint32_t i : {1u, 3u}) {
      if (out[i] == nullptr) continue;  // its buffer was the refused allocation
      EXPECT_EQ(Symbol(static_cast<unsigned char *>(out[i]),
                       static_cast<unsigned char *>(out[i]) + g.len),
                src[i]);
      of_free(out[i]);
    }
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    if (of_fail_nth_allocation(-1) <= nth) break;
  }
  EXPECT_GT(nth, 5);
}

}  // namespace
