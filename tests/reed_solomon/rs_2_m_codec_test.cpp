#include "reed_solomon/rs_2_m_codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "reed_solomon/session_harness.h"
#include "session/alloc_fault.h"

namespace {

using namespace rs_test;

Group gf8(uint32_t k, uint32_t r, uint32_t len = 24) {
  return {OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, k, r, len, 8};
}

TEST(RsGf2mCodec, RoundTripsOverRandomLosses) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 60; ++trial) {
    const uint16_t m = trial % 3 == 0 ? 4 : 8;
    const auto k = static_cast<uint32_t>(1 + rng() % (m == 4 ? 15 : 100));
    const auto r = static_cast<uint32_t>(rng() % ((m == 4 ? 17 : 257) - k));
    const auto len = static_cast<uint32_t>(1 + rng() % 90);
    round_trip({OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, k, r, len, m}, rng);
  }
}

TEST(RsGf2mCodec, LargestGroupWorksEndToEnd) {
  std::mt19937 rng(4);
  round_trip(gf8(255, 1, 16), rng);
}

TEST(RsGf2mCodec, AllSourceSymbolsCompleteWithoutAllocating) {
  const Group g = gf8(3, 2);
  std::mt19937 rng(8);
  Symbols src = random_symbols(rng, 3, g.len);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  of_fail_nth_allocation(-1);
  for (uint32_t i = 0; i < 3; ++i)
    ASSERT_EQ(of_decode_with_new_symbol(ses, src[i].data(), i), OF_STATUS_OK);
  EXPECT_EQ(of_fail_nth_allocation(-1), 0);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  void *out[3] = {};
  ASSERT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_OK);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(out[i], src[i].data());
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

struct CallbackLog {
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // (size, esi)
  std::vector<unsigned char> buffer = std::vector<unsigned char>(64);
};

void *give_buffer(void *context, uint32_t size, uint32_t esi) {
  auto *log = static_cast<CallbackLog *>(context);
  log->calls.emplace_back(size, esi);
  return log->buffer.data();
}

TEST(RsGf2mCodec, DecodesInsideTheKthSymbolIntoTheCallbackBuffer) {
  const Group g = gf8(4, 2);
  std::mt19937 rng(6);
  Symbols src = random_symbols(rng, 4, g.len);
  Symbols repair = encode_group(g, src);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  CallbackLog log;
  ASSERT_EQ(of_set_callback_functions(ses, give_buffer, nullptr, &log), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[0].data(), 0), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[1].data(), 1), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[3].data(), 3), OF_STATUS_OK);
  EXPECT_TRUE(log.calls.empty());
  EXPECT_FALSE(of_is_decoding_complete(ses));
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[1].data(), 5), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  ASSERT_EQ(log.calls.size(), 1u);
  EXPECT_EQ(log.calls[0], std::make_pair(g.len, 2u));
  void *out[4] = {};
  ASSERT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_OK);
  EXPECT_EQ(out[2], log.buffer.data());
  EXPECT_EQ(Symbol(log.buffer.begin(), log.buffer.begin() + g.len), src[2]);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf2mCodec, FinishNeedsKDistinctSymbols) {
  const Group g = gf8(3, 3);
  std::mt19937 rng(10);
  Symbols src = random_symbols(rng, 3, g.len);
  Symbols repair = encode_group(g, src);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  void *out[3] = {};
  EXPECT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_ERROR);
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FAILURE);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[1].data(), 1), OF_STATUS_OK);
  // The same ESI again, even with other data, is neither kept nor counted.
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[0].data(), 1), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[2].data(), 5), OF_STATUS_OK);
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FAILURE);
  EXPECT_FALSE(of_is_decoding_complete(ses));
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[0].data(), 3), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  // Symbols after completion are ignored.
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[1].data(), 0), OF_STATUS_OK);
  EXPECT_EQ(take_source_symbols(ses, g, {src[1].data()}), src);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf2mCodec, SetAvailableSymbolsThenFinish) {
  const Group g = gf8(5, 3);
  std::mt19937 rng(12);
  Symbols src = random_symbols(rng, 5, g.len);
  Symbols repair = encode_group(g, src);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  const void *tab[8] = {src[0].data(), nullptr,          src[2].data(), nullptr,
                        nullptr,       repair[0].data(), nullptr,       repair[2].data()};
  ASSERT_EQ(of_set_available_symbols(ses, tab), OF_STATUS_OK);
  EXPECT_FALSE(of_is_decoding_complete(ses));
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FAILURE);  // 4 of 5
  tab[6] = repair[1].data();
  ASSERT_EQ(of_set_available_symbols(ses, tab), OF_STATUS_OK);
  ASSERT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  EXPECT_EQ(take_source_symbols(ses, g, std::vector<const void *>(tab, tab + 8)), src);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf2mCodec, BuildRepairSymbolChecksAndBuffers) {
  const Group g = gf8(3, 2, 8);
  std::mt19937 rng(14);
  Symbols src = random_symbols(rng, 3, g.len);
  const Symbols repair = encode_group(g, src);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_ENCODER);
  ASSERT_NE(ses, nullptr);
  Symbol own(g.len, 0xEE);
  void *tab[5] = {src[0].data(), src[1].data(), src[2].data(), own.data(), nullptr};
  EXPECT_EQ(of_build_repair_symbol(ses, tab, 2), OF_STATUS_ERROR);
  EXPECT_EQ(of_build_repair_symbol(ses, tab, 5), OF_STATUS_ERROR);
  EXPECT_EQ(tab[4], nullptr);
  ASSERT_EQ(of_build_repair_symbol(ses, tab, 3), OF_STATUS_OK);
  EXPECT_EQ(tab[3], own.data());
  EXPECT_EQ(own, repair[0]);
  // A missing source symbol is refused and the table is left as it was.
  tab[1] = nullptr;
  EXPECT_EQ(of_build_repair_symbol(ses, tab, 4), OF_STATUS_ERROR);
  EXPECT_EQ(tab[4], nullptr);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf2mCodec, ParameterLimits) {
  struct Case {
    uint32_t k, r, len;
    uint16_t m;
    of_status_t want;
  } cases[] = {
      {255, 1, 8, 8, OF_STATUS_OK},
      {256, 0, 8, 8, OF_STATUS_FATAL_ERROR},
      {3, 2, 8, 5, OF_STATUS_FATAL_ERROR},
      {3, 2, 8, 0, OF_STATUS_FATAL_ERROR},
      {15, 1, 8, 4, OF_STATUS_OK},
      {16, 0, 8, 4, OF_STATUS_FATAL_ERROR},
      {10, UINT32_MAX, 8, 8, OF_STATUS_FATAL_ERROR},   // n wraps around
      {10, 2, 0x80000000u, 8, OF_STATUS_FATAL_ERROR},  // length beyond an int
  };
  for (const auto &c : cases) {
    of_session_t *ses = nullptr;
    ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 0),
              OF_STATUS_OK);
    of_rs_2_m_parameters_t p{c.k, c.r, c.len, c.m};
    EXPECT_EQ(of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)), c.want)
        << "k " << c.k << " r " << c.r << " m " << c.m;
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

// Groups without source symbols or with empty symbols are accepted and do
// no harm: nothing can be built from zero source symbols, and empty symbols
// code to empty symbols.
TEST(RsGf2mCodec, EmptyGroupsAreHarmless) {
  of_session_t *none = open_session(gf8(0, 2), OF_CODEC_TYPE_ENCODER | OF_CODEC_TYPE_DECODER);
  ASSERT_NE(none, nullptr);
  void *tab[2] = {};
  EXPECT_EQ(of_build_repair_symbol(none, tab, 0), OF_STATUS_ERROR);
  EXPECT_EQ(tab[0], nullptr);
  EXPECT_EQ(of_finish_decoding(none), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(none));
  EXPECT_EQ(of_release_codec_instance(none), OF_STATUS_OK);

  const Group empty = gf8(2, 1, 0);
  Symbols src = {{7}, {9}};  // non-null buffers of which no byte is read
  ASSERT_EQ(encode_group(empty, src).size(), 1u);
  of_session_t *ses = open_session(empty, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  unsigned char dummy = 0;
  ASSERT_EQ(of_decode_with_new_symbol(ses, &dummy, 2), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, &dummy, 0), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  take_source_symbols(ses, empty, {&dummy});
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(RsGf2mCodec, ControlParameters) {
  of_session_t *ses = nullptr;
  ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 0),
            OF_STATUS_OK);
  uint32_t max = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 4),
            OF_STATUS_ERROR);
  uint16_t m = 5;
  EXPECT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, &m, 2), OF_STATUS_ERROR);
  m = 4;
  EXPECT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, &m, 4), OF_STATUS_ERROR);
  EXPECT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, nullptr, 2), OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &max, 4),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, &m, 2), OF_STATUS_OK);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 4), OF_STATUS_OK);
  EXPECT_EQ(max, 15u);
  max = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &max, 4), OF_STATUS_OK);
  EXPECT_EQ(max, 15u);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 2),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, nullptr, 4),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, 7, &max, 4), OF_STATUS_ERROR);
  EXPECT_EQ(of_set_control_parameter(ses, 7, nullptr, 0), OF_STATUS_OK);
  m = 8;
  EXPECT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, &m, 2), OF_STATUS_OK);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 4), OF_STATUS_OK);
  EXPECT_EQ(max, 255u);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Once the parameters are set, m may change only to a field that still holds
// the code: k <= 2^m - 1 and n <= 2^m. A refused m leaves the session coding
// in its field, as a session opened with that field does.
TEST(RsGf2mCodec, SetMKeepsAFieldThatHoldsTheCode) {
  const struct {
    uint32_t k, r;
    uint16_t from, to;
    of_status_t want;
  } cases[] = {
      {10, 10, 8, 4, OF_STATUS_ERROR},  // n = 20 > 16
      {16, 0, 8, 4, OF_STATUS_ERROR},   // k = 16 > 15
      {15, 1, 8, 4, OF_STATUS_OK},      // n = 16
      {10, 6, 8, 4, OF_STATUS_OK},     {5, 3, 4, 8, OF_STATUS_OK},
  };
  for (const auto &c : cases) {
    const Group g{OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, c.k, c.r, 16, c.from};
    std::mt19937 rng(c.k * 100 + c.r);
    Symbols src = random_symbols(rng, c.k, g.len);
    of_session_t *ses = open_session(g, OF_CODEC_TYPE_ENCODER);
    ASSERT_NE(ses, nullptr);
    uint16_t m = c.to;
    EXPECT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, &m, 2), c.want)
        << "k " << c.k << " r " << c.r << " m " << c.to;
    const uint16_t field = c.want == OF_STATUS_OK ? c.to : c.from;
    uint32_t max = 0;
    EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &max, 4), OF_STATUS_OK);
    EXPECT_EQ(max, (1u << field) - 1);
    std::vector<void *> tab(c.k + c.r, nullptr);
    for (uint32_t i = 0; i < c.k; ++i) tab[i] = src[i].data();
    Symbols built;
    for (uint32_t esi = c.k; esi < c.k + c.r; ++esi) {
      ASSERT_EQ(of_build_repair_symbol(ses, tab.data(), esi), OF_STATUS_OK) << esi;
      auto *bytes = static_cast<unsigned char *>(tab[esi]);
      built.emplace_back(bytes, bytes + g.len);
      of_free(tab[esi]);
    }
    EXPECT_EQ(built, encode_group({g.codec, c.k, c.r, g.len, field}, src))
        << "k " << c.k << " r " << c.r << " m " << c.to;
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

TEST(RsGf2mCodec, GF16PacksTwoElementsPerByte) {
  const Group g{OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 1, 1, 1, 4};
  Symbols src = {{0x12}};
  EXPECT_EQ(encode_group(g, src), Symbols{{0x12}});
}

// Switching the field after a repair symbol was built must not reuse the
// matrix of the old field.
TEST(RsGf2mCodec, ChangingTheFieldRebuildsTheMatrix) {
  std::mt19937 rng(16);
  Symbols src = random_symbols(rng, 3, 16);
  const Symbols want = encode_group({OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 3, 16, 4}, src);
  of_session_t *ses = open_session(gf8(3, 3, 16), OF_CODEC_TYPE_ENCODER);
  ASSERT_NE(ses, nullptr);
  void *tab[6] = {src[0].data(), src[1].data(), src[2].data(), nullptr, nullptr, nullptr};
  ASSERT_EQ(of_build_repair_symbol(ses, tab, 5), OF_STATUS_OK);
  uint16_t m = 4;
  ASSERT_EQ(of_set_control_parameter(ses, OF_RS_2_M_CTRL_SET_M, &m, 2), OF_STATUS_OK);
  ASSERT_EQ(of_build_repair_symbol(ses, tab, 5), OF_STATUS_OK);
  EXPECT_EQ(Symbol(static_cast<unsigned char *>(tab[5]), static_cast<unsigned char *>(tab[5]) + 16),
            want[2]);
  of_free(tab[5]);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Runs a whole encoding and decoding with the n-th allocation refused, for
// every n until a run meets no refusal: each step must answer OK or its
// documented failure, a failed decoding must be finishable later, and every
// session must release cleanly (leaks show under the sanitizer build).
TEST(RsGf2mCodec, EveryAllocationFailureIsReportedAndRecoverable) {
  const Group g = gf8(4, 3, 20);
  std::mt19937 rng(18);
  Symbols src = random_symbols(rng, g.k, g.len);
  const Symbols repair = encode_group(g, src);
  long nth = 0;
  for (;; ++nth) {
    of_fail_nth_allocation(nth);
    of_session_t *enc = nullptr;
    const of_status_t created =
        of_create_codec_instance(&enc, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 0);
    if (created != OF_STATUS_OK) {
      EXPECT_EQ(created, OF_STATUS_FATAL_ERROR);
      EXPECT_EQ(enc, nullptr);
      continue;
    }
    of_rs_2_m_parameters_t p{g.k, g.r, g.len, g.m};
    const of_status_t set = of_set_fec_parameters(enc, reinterpret_cast<of_parameters_t *>(&p));
    if (set != OF_STATUS_OK) {
      EXPECT_EQ(set, OF_STATUS_ERROR);
      EXPECT_EQ(of_release_codec_instance(enc), OF_STATUS_OK);
      continue;
    }
    void *tab[7] = {src[0].data(), src[1].data(), src[2].data(), src[3].data()};
    for (uint32_t esi = 4; esi < 7; ++esi) {
      const of_status_t built = of_build_repair_symbol(enc, tab, esi);
      if (built != OF_STATUS_OK) {
        EXPECT_EQ(built, OF_STATUS_ERROR);
        EXPECT_EQ(tab[esi], nullptr);
        ASSERT_EQ(of_build_repair_symbol(enc, tab, esi), OF_STATUS_OK);  // memory is back
      }
      EXPECT_EQ(Symbol(static_cast<unsigned char *>(tab[esi]),
                       static_cast<unsigned char *>(tab[esi]) + g.len),
                repair[esi - 4]);
      of_free(tab[esi]);
    }
    // Decoder: source 1 and 3 lost; the fourth symbol triggers decoding.
    const uint32_t feed[] = {0, 2, 5, 6};
    const void *bufs[] = {src[0].data(), src[2].data(), repair[1].data(), repair[2].data()};
    for (uint32_t i = 0; i < 4; ++i) {
      const of_status_t st = of_decode_with_new_symbol(enc, bufs[i], feed[i]);
      EXPECT_TRUE(st == OF_STATUS_OK || st == OF_STATUS_ERROR) << st;
    }
    if (!of_is_decoding_complete(enc)) {
      EXPECT_EQ(of_finish_decoding(enc), OF_STATUS_OK);
    }
    ASSERT_TRUE(of_is_decoding_complete(enc));
    void *out[4] = {};
    ASSERT_EQ(of_get_source_symbols_tab(enc, out), OF_STATUS_OK);
    EXPECT_EQ(out[0], src[0].data());
    EXPECT_EQ(out[2], src[2].data());
    for (uint32_t i : {1u, 3u}) {
      // Only a refused buffer for a rebuilt symbol leaves its entry empty.
      if (out[i] == nullptr) continue;
      EXPECT_EQ(Symbol(static_cast<unsigned char *>(out[i]),
                       static_cast<unsigned char *>(out[i]) + g.len),
                src[i]);
      of_free(out[i]);
    }
    EXPECT_EQ(of_release_codec_instance(enc), OF_STATUS_OK);
    if (of_fail_nth_allocation(-1) <= nth) break;  // this run met no refusal
  }
  EXPECT_GT(nth, 6);  // the road allocates often enough to have been swept
}

}  // namespace
