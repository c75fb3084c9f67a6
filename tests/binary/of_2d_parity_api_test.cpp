#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "binary/of_2d_parity_api.h"
#include "binary_codec_harness.h"
#include "zvfec/codec_session.h"

using namespace binary_test;

namespace {

Code parity(uint32_t k, uint32_t r, uint32_t len = 12) {
  return Code{OF_CODEC_2D_PARITY_MATRIX_STABLE, k, r, len};
}

// A decoding callback that hands out a buffer for every announced symbol,
// source or repair; the test frees them.
struct CallerBuffers {
  std::map<uint32_t, void *> given;
  static void *give(void *ctx, uint32_t size, uint32_t esi) {
    void *buf = std::calloc(1, size);
    static_cast<CallerBuffers *>(ctx)->given[esi] = buf;
    return buf;
  }
};

TEST(TwoDParityParameters, RefusesCodesWithoutAGrid) {
  const struct { uint32_t k, r; } cases[] = {{17, 8}, {16, 9}, {10, 6}, {16, 7}, {0, 4}};
  for (const auto &c : cases) {
    of_session_t *ses = nullptr;
    ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_2D_PARITY_MATRIX_STABLE, 3, 0), OF_STATUS_OK);
    EXPECT_EQ(set_parameters(ses, parity(c.k, c.r)), OF_STATUS_FATAL_ERROR) << c.k << "," << c.r;
    EXPECT_FALSE(of_is_decoding_complete(ses));
    EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_ERROR);
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

TEST(TwoDParityParameters, ControlParameters) {
  of_session_t *ses = nullptr;
  ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_2D_PARITY_MATRIX_STABLE, 2, 0), OF_STATUS_OK);
  uint32_t value = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &value, 4), OF_STATUS_OK);
  EXPECT_EQ(value, 16u);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &value, 4),
            OF_STATUS_OK);
  EXPECT_EQ(value, 24u);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &value, 2),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, 1024, &value, 4), OF_STATUS_ERROR);
  EXPECT_EQ(of_set_control_parameter(ses, 1, &value, 4), OF_STATUS_ERROR);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Repair symbol k + i is the XOR of grid row i, k + b + c that of grid
// column c, whatever order they are built in.
TEST(TwoDParityEncoding, RepairSymbolsAreTheGridParities) {
  const struct {
    uint32_t k, r, rows, cols;
  } shapes[] = {{16, 8, 4, 4}, {12, 7, 3, 4}, {9, 6, 3, 3}, {8, 6, 4, 2}, {4, 4, 2, 2}};
  std::mt19937 rng(2);
  for (const auto &s : shapes) {
    const Code c = parity(s.k, s.r);
    Symbols src = random_symbols(rng, c.k, c.len);
    of_session_t *ses = open_session(c, OF_CODEC_TYPE_ENCODER);
    ASSERT_NE(ses, nullptr) << s.k << "," << s.r;
    std::vector<void *> tab(c.n(), nullptr);
    for (uint32_t i = 0; i < c.k; ++i) tab[i] = src[i].data();
    for (uint32_t esi = c.n(); esi-- > c.k;)
      ASSERT_EQ(of_build_repair_symbol(ses, tab.data(), esi), OF_STATUS_OK);
    for (uint32_t p = 0; p < c.r; ++p) {
      Symbol want(c.len, 0);
      for (uint32_t i = 0; i < c.k; ++i) {
        const bool covered = p < s.rows ? i / s.cols == p : i % s.cols == p - s.rows;
        if (!covered) continue;
        for (uint32_t b = 0; b < c.len; ++b) want[b] ^= src[i][b];
      }
      EXPECT_EQ(std::memcmp(tab[c.k + p], want.data(), c.len), 0) << s.k << "," << s.r << " p" << p;
      of_free(tab[c.k + p]);
    }
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

struct Fixture4x4 : testing::Test {
  const Code c = parity(16, 8);
  std::mt19937 rng{6};
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  // Source symbol at grid row i, column j; the parities of row i and column j.
  static uint32_t at(uint32_t i, uint32_t j) { return i * 4 + j; }
  uint32_t row_parity(uint32_t i) const { return c.k + i; }
  uint32_t col_parity(uint32_t j) const { return c.k + 4 + j; }

  of_session_t *feed_all_but(const std::set<uint32_t> &lost) {
    of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
    EXPECT_NE(ses, nullptr);
    for (uint32_t esi = 0; esi < c.n() && ses; ++esi) {
      if (lost.count(esi)) continue;
      EXPECT_EQ(of_decode_with_new_symbol(ses, symbol_of(src, repair, esi), esi), OF_STATUS_OK);
    }
    return ses;
  }
};

TEST_F(Fixture4x4, AGridRowAndItsParityComeBackThroughTheColumns) {
  of_session_t *ses = feed_all_but({at(2, 0), at(2, 1), at(2, 2), at(2, 3), row_parity(2)});
  ASSERT_NE(ses, nullptr);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST_F(Fixture4x4, TheCornersOfARectangleCannotBeRecovered) {
  const std::set<uint32_t> corners = {at(0, 1), at(0, 3), at(2, 1), at(2, 3)};
  of_session_t *ses = feed_all_but(corners);
  ASSERT_NE(ses, nullptr);
  EXPECT_FALSE(of_is_decoding_complete(ses));
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FAILURE);
  EXPECT_FALSE(of_is_decoding_complete(ses));
  Symbols got = take_source_symbols(ses, c, src);
  for (uint32_t i = 0; i < c.k; ++i) EXPECT_EQ(got[i], corners.count(i) ? Symbol{} : src[i]) << i;
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Handed over as a table, the symbols are only recorded; finishing recovers
// the missing one while substituting, and announces it.
TEST_F(Fixture4x4, AvailableSymbolsThenFinishRecoverThroughTheCallback) {
  for (uint32_t lost : {0u, 5u, 15u}) {
    std::vector<const void *> tab(c.n());
    for (uint32_t esi = 0; esi < c.n(); ++esi)
      tab[esi] = esi == lost ? nullptr : symbol_of(src, repair, esi);
    of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
    ASSERT_NE(ses, nullptr);
    CallerBuffers buffers;
    ASSERT_EQ(of_set_callback_functions(ses, CallerBuffers::give, nullptr, &buffers), OF_STATUS_OK);
    ASSERT_EQ(of_set_available_symbols(ses, tab.data()), OF_STATUS_OK);
    EXPECT_FALSE(of_is_decoding_complete(ses));
    EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
    ASSERT_EQ(buffers.given.size(), 1u);
    ASSERT_EQ(buffers.given.count(lost), 1u);
    std::vector<void *> out(c.k);
    ASSERT_EQ(of_get_source_symbols_tab(ses, out.data()), OF_STATUS_OK);
    EXPECT_EQ(out[lost], buffers.given[lost]);
    EXPECT_EQ(std::memcmp(out[lost], src[lost].data(), c.len), 0);
    // Received source symbols stay the caller's own buffers.
    EXPECT_EQ(out[(lost + 1) % c.k], src[(lost + 1) % c.k].data());
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    std::free(buffers.given[lost]);
  }
}

// A recovered parity is copied into the buffer that the repair callback
// returns, which stays the caller's (the codec frees only its own copy), both
// when peeling finds it as symbols arrive and when finishing finds it in a
// handed-over table. Grid row 2 keeps all its sources, so its parity comes
// back while two sources of row 0 are still missing; fed in ESI order, other
// parities are recovered too before they arrive.
TEST_F(Fixture4x4, RecoveredParitiesReachTheRepairCallbacksBuffers) {
  const std::set<uint32_t> lost = {row_parity(2), at(0, 0), at(0, 1)};
  for (const bool whole_table : {false, true}) {
    of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
    ASSERT_NE(ses, nullptr);
    CallerBuffers buffers;
    ASSERT_EQ(of_set_callback_functions(ses, nullptr, CallerBuffers::give, &buffers), OF_STATUS_OK);
    std::vector<const void *> tab(c.n());
    for (uint32_t esi = 0; esi < c.n(); ++esi)
      tab[esi] = lost.count(esi) ? nullptr : symbol_of(src, repair, esi);
    if (whole_table) {
      ASSERT_EQ(of_set_available_symbols(ses, tab.data()), OF_STATUS_OK);
      EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
    } else {
      for (uint32_t esi = 0; esi < c.n(); ++esi) {
        if (tab[esi] != nullptr) {
          ASSERT_EQ(of_decode_with_new_symbol(ses, tab[esi], esi), OF_STATUS_OK);
        }
      }
    }
    EXPECT_TRUE(of_is_decoding_complete(ses)) << whole_table;
    EXPECT_EQ(buffers.given.count(row_parity(2)), 1u) << whole_table;
    for (const auto &[esi, buf] : buffers.given) {
      ASSERT_GE(esi, c.k);
      EXPECT_EQ(std::memcmp(buf, repair[esi - c.k].data(), c.len), 0)
          << "repair " << esi << (whole_table ? ", whole table" : ", one by one");
    }
    EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src)) << whole_table;
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    for (const auto &[esi, buf] : buffers.given) std::free(buf);
  }
}

// A source symbol with both its parities lost leaves two equations for three
// unknowns: elimination is refused with the fewer-rows message, and what the
// substitution recovered meanwhile stays.
TEST_F(Fixture4x4, FewerEquationsThanUnknownsKeepsWhatWasRecovered) {
  const std::set<uint32_t> lost = {at(1, 1), row_parity(1), col_parity(1), at(3, 2)};
  std::vector<const void *> tab(c.n());
  for (uint32_t esi = 0; esi < c.n(); ++esi)
    tab[esi] = lost.count(esi) ? nullptr : symbol_of(src, repair, esi);
  of_session_t *ses = nullptr;
  ASSERT_EQ(of_create_codec_instance(&ses, c.codec, OF_CODEC_TYPE_DECODER, 1), OF_STATUS_OK);
  ASSERT_EQ(set_parameters(ses, c), OF_STATUS_OK);
  ASSERT_EQ(of_set_available_symbols(ses, tab.data()), OF_STATUS_OK);
  testing::internal::CaptureStdout();
  const of_status_t st = of_finish_decoding(ses);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(st, OF_STATUS_FAILURE);
  EXPECT_EQ(printed,
            "of_linear_binary_code_create_simplified_linear_system: Failure, fewer rows than "
            "columns, ofcb->remain_rows (2) < ofcb->remain_cols (3)\n");
  std::vector<void *> out(c.k);
  ASSERT_EQ(of_get_source_symbols_tab(ses, out.data()), OF_STATUS_OK);
  for (uint32_t i = 0; i < c.k; ++i) {
    if (i == at(1, 1)) {
      EXPECT_EQ(out[i], nullptr);
    } else {
      ASSERT_NE(out[i], nullptr) << i;
      EXPECT_EQ(std::memcmp(out[i], src[i].data(), c.len), 0) << i;
    }
  }
  // The equations are left fit for peeling: one more parity finishes.
  ASSERT_EQ(of_decode_with_new_symbol(ses, symbol_of(src, repair, col_parity(1)), col_parity(1)),
            OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  of_verbosity = 0;
}

}  // namespace
