#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "binary/of_ldpc_staircase_api.h"
#include "binary/of_ldpc_staircase_pchk.h"
#include "binary_codec_harness.h"
#include "run_together.h"
#include "session/alloc_fault.h"
#include "zvfec/codec_session.h"

using namespace binary_test;

namespace {

Code ldpc(uint32_t k, uint32_t r, uint32_t len, uint8_t n1 = 7, int32_t seed = 1) {
  return Code{OF_CODEC_LDPC_STAIRCASE_STABLE, k, r, len, seed, n1};
}

struct SparseDeleter {
  void operator()(of_mod2sparse *m) const {
    of_mod2sparse_free(m);
    of_free(m);
  }
};
using SparsePtr = std::unique_ptr<of_mod2sparse, SparseDeleter>;

SparsePtr matrix_of(const Code &c) {
  bool extra = false;
  return SparsePtr(of_create_pchck_matrix_rfc5170_compliant(c.r, c.n(), c.n1,
                                                            static_cast<uint32_t>(c.seed), &extra));
}

std::vector<uint32_t> esis_of_row(of_mod2sparse *m, const Code &c, uint32_t row) {
  std::vector<uint32_t> out;
  for (of_mod2entry *e = m->rows[row].right; e->row >= 0; e = e->right)
    out.push_back(e->col < static_cast<int>(c.r) ? c.k + static_cast<uint32_t>(e->col)
                                                 : static_cast<uint32_t>(e->col) - c.r);
  return out;
}

// Records every announced symbol and hands out buffers: for source symbols
// unless give_buffers is off (the test frees them), for repair symbols only
// when give_repair_buffers is on (freed with the record).
struct Announcements {
  std::map<uint32_t, void *> source;
  std::vector<uint32_t> repair;
  std::map<uint32_t, void *> repair_buffers;
  bool give_buffers = true;
  bool give_repair_buffers = false;
  static void *on_source(void *ctx, uint32_t size, uint32_t esi) {
    auto *self = static_cast<Announcements *>(ctx);
    void *buf = self->give_buffers ? std::malloc(size) : nullptr;
    self->source[esi] = buf;
    return buf;
  }
  static void *on_repair(void *ctx, uint32_t size, uint32_t esi) {
    auto *self = static_cast<Announcements *>(ctx);
    self->repair.push_back(esi);
    if (!self->give_repair_buffers) return nullptr;
    void *buf = std::calloc(1, size);
    self->repair_buffers[esi] = buf;
    return buf;
  }
  ~Announcements() {
    for (auto &[esi, buf] : repair_buffers) std::free(buf);
  }
};

TEST(LdpcStaircaseParameters, RefusesWhatTheCodeCannotBe) {
  const struct {
    const char *why;
    Code code;
  } cases[] = {
      {"N1 = 2", ldpc(100, 50, 8, 2)},
      {"k above 50000", ldpc(50001, 10, 8)},
      {"n above 50000", ldpc(40000, 10001, 8)},
      {"r below N1", ldpc(10, 4, 8, 5)},
      {"no source symbol", ldpc(0, 10, 8)},
      // Seeds outside 1 .. 0x7FFFFFFE: once ignored, they left the generator
      // at 0 and the builder drawing for ever for this shape.
      {"seed 0", ldpc(2, 10, 8, 3, 0)},
      {"seed INT32_MIN", ldpc(2, 10, 8, 3, INT32_MIN)},
      {"seed -1", ldpc(2, 10, 8, 3, -1)},
      {"seed 0x7FFFFFFF", ldpc(2, 10, 8, 3, INT32_MAX)},
  };
  for (const auto &c : cases) {
    for (of_codec_type_t type : {OF_CODEC_TYPE_ENCODER, OF_CODEC_TYPE_DECODER}) {
      of_session_t *ses = nullptr;
      ASSERT_EQ(of_create_codec_instance(&ses, c.code.codec, type, 0), OF_STATUS_OK);
      EXPECT_EQ(set_parameters(ses, c.code), OF_STATUS_FATAL_ERROR) << c.why;
      // A refused session is still safe to query and release.
      EXPECT_FALSE(of_is_decoding_complete(ses)) << c.why;
      unsigned char sym[8] = {};
      EXPECT_NE(of_decode_with_new_symbol(ses, sym, 0), OF_STATUS_OK) << c.why;
      EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK) << c.why;
    }
  }
  // The largest code accepted.
  of_session_t *ses = open_session(ldpc(40000, 10000, 4), OF_CODEC_TYPE_ENCODER);
  ASSERT_NE(ses, nullptr);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(LdpcStaircaseParameters, ControlParameters) {
  of_session_t *ses = nullptr;
  ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_LDPC_STAIRCASE_STABLE, 3, 0), OF_STATUS_OK);
  uint32_t value = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, &value, 4), OF_STATUS_OK);
  EXPECT_EQ(value, 50000u);
  value = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &value, 4),
            OF_STATUS_OK);
  EXPECT_EQ(value, 50000u);
  uint64_t wide = 0;
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, &wide, 8),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, nullptr, 4),
            OF_STATUS_ERROR);
  EXPECT_EQ(of_get_control_parameter(ses, 3, &value, 4), OF_STATUS_ERROR);
  EXPECT_EQ(
      of_get_control_parameter(ses, OF_LDPC_STAIRCASE_CTRL_LAST_REPAIR_ALWAYS_ZERO, nullptr, 1),
      OF_STATUS_ERROR);
  for (unsigned type : {1u, 2u, 1024u, 7u}) {
    value = 9;
    EXPECT_EQ(of_set_control_parameter(ses, type, &value, 4), OF_STATUS_ERROR) << type;
  }
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// With N1 even and no rows topped up, every source symbol appears an even
// number of times in the sum of all equations, which leaves the last repair
// symbol equal to zero: the encoder produces it, and a new decoder already
// knows it.
TEST(LdpcStaircaseParameters, LastRepairSymbolOfAnEvenLeftDegreeIsKnownZero) {
  std::mt19937 rng(5);
  for (uint8_t n1 : {3, 4, 7, 8}) {
    const Code c = ldpc(300, 150, 24, n1, 77);
    of_session_t *dec = open_session(c, OF_CODEC_TYPE_DECODER);
    ASSERT_NE(dec, nullptr);
    bool always_zero = !(n1 % 2 == 0);
    ASSERT_EQ(of_get_control_parameter(dec, OF_LDPC_STAIRCASE_CTRL_LAST_REPAIR_ALWAYS_ZERO,
                                       &always_zero, 1),
              OF_STATUS_OK);
    // These shapes give every row enough source entries: no extra entries.
    EXPECT_EQ(always_zero, n1 % 2 == 0) << int{n1};
    of_linear_binary_code_cb *cb = block_of(dec);
    EXPECT_EQ(cb->nb_repair_symbol_ready, always_zero ? 1u : 0u) << int{n1};
    EXPECT_EQ(cb->encoding_symbols_tab[c.n() - 1] != nullptr, always_zero) << int{n1};
    Symbols src = random_symbols(rng, c.k, c.len);
    Symbols repair = encode(c, src);
    ASSERT_EQ(repair.size(), c.r);
    EXPECT_EQ(repair.back() == Symbol(c.len, 0), always_zero) << int{n1};
    EXPECT_EQ(of_release_codec_instance(dec), OF_STATUS_OK);
  }
}

TEST(LdpcStaircaseEncoding, EveryEquationOfTheMatrixSumsToZero) {
  std::mt19937 rng(11);
  const Code c = ldpc(200, 100, 37, 5, 1234);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  ASSERT_EQ(repair.size(), c.r);
  SparsePtr m = matrix_of(c);
  ASSERT_NE(m, nullptr);
  for (uint32_t row = 0; row < c.r; ++row) {
    Symbol sum(c.len, 0);
    for (uint32_t esi : esis_of_row(m.get(), c, row)) {
      const unsigned char *s = symbol_of(src, repair, esi);
      for (uint32_t b = 0; b < c.len; ++b) sum[b] ^= s[b];
    }
    ASSERT_EQ(sum, Symbol(c.len, 0)) << "row " << row;
  }
}

TEST(LdpcStaircaseEncoding, RepairSymbolsNeedTheirInputsFirst) {
  std::mt19937 rng(3);
  const Code c = ldpc(20, 10, 16, 3);
  Symbols src = random_symbols(rng, c.k, c.len);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_ENCODER);
  ASSERT_NE(ses, nullptr);
  std::vector<void *> tab(c.n(), nullptr);
  // No source symbol yet: refused, and the table keeps no half-built buffer.
  EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), c.k), OF_STATUS_ERROR);
  EXPECT_EQ(tab[c.k], nullptr);
  for (uint32_t i = 0; i < c.k; ++i) tab[i] = src[i].data();
  // Repair symbol k + 1 needs repair symbol k in the table.
  Symbol caller_buffer(c.len, 0xAB);
  tab[c.k + 1] = caller_buffer.data();
  EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), c.k + 1), OF_STATUS_ERROR);
  EXPECT_EQ(tab[c.k + 1], caller_buffer.data());
  for (uint32_t esi : {0u, c.k - 1, c.n(), c.n() + 5})
    EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), esi), OF_STATUS_ERROR) << esi;
  // No memory for a NULL entry: fatal, and the entry stays NULL.
  of_fail_nth_allocation(0);
  EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), c.k), OF_STATUS_FATAL_ERROR);
  of_fail_nth_allocation(-1);
  EXPECT_EQ(tab[c.k], nullptr);
  // In order, a caller's buffer is written in place and a NULL entry filled.
  EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), c.k), OF_STATUS_OK);
  ASSERT_NE(tab[c.k], nullptr);
  EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), c.k + 1), OF_STATUS_OK);
  EXPECT_EQ(tab[c.k + 1], caller_buffer.data());
  // A decoder session may not build.
  of_session_t *dec = open_session(c, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(dec, nullptr);
  EXPECT_EQ(of_build_repair_symbol(dec, tab.data(), c.k + 2), OF_STATUS_FATAL_ERROR);
  // What was built matches a whole encoding.
  Symbols repair = encode(c, src);
  EXPECT_EQ(std::memcmp(tab[c.k], repair[0].data(), c.len), 0);
  EXPECT_EQ(caller_buffer, repair[1]);
  of_free(tab[c.k]);
  EXPECT_EQ(of_release_codec_instance(dec), OF_STATUS_OK);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// All source symbols but one are fed, then the repair symbols whose equation
// isolates it: row 0 needs repair symbol k alone, row j >= 1 also repair
// symbol k + j - 1. The lost symbol comes back through the source callback,
// into the callback's buffer, and completes decoding.
TEST(LdpcStaircaseDecoding, OneLostSourceSymbolComesBackThroughTheCallback) {
  std::mt19937 rng(21);
  const Code c = ldpc(60, 30, 13, 3, 99);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  SparsePtr m = matrix_of(c);
  ASSERT_NE(m, nullptr);
  for (uint32_t row : {0u, 1u, 17u, c.r - 1}) {
    uint32_t lost = c.k;
    for (uint32_t esi : esis_of_row(m.get(), c, row))
      if (esi < c.k) lost = esi;
    ASSERT_LT(lost, c.k);
    of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
    ASSERT_NE(ses, nullptr);
    Announcements seen;
    ASSERT_EQ(
        of_set_callback_functions(ses, Announcements::on_source, Announcements::on_repair, &seen),
        OF_STATUS_OK);
    for (uint32_t esi = 0; esi < c.k; ++esi) {
      if (esi == lost) continue;
      ASSERT_EQ(of_decode_with_new_symbol(ses, src[esi].data(), esi), OF_STATUS_OK);
    }
    EXPECT_FALSE(of_is_decoding_complete(ses));
    EXPECT_TRUE(seen.source.empty());
    if (row > 0) {
      ASSERT_EQ(of_decode_with_new_symbol(ses, repair[row - 1].data(), c.k + row - 1),
                OF_STATUS_OK);
    }
    ASSERT_EQ(of_decode_with_new_symbol(ses, repair[row].data(), c.k + row), OF_STATUS_OK);
    EXPECT_TRUE(of_is_decoding_complete(ses)) << row;
    ASSERT_EQ(seen.source.size(), 1u) << row;
    ASSERT_EQ(seen.source.begin()->first, lost);
    void *buf = seen.source.begin()->second;
    std::vector<void *> out(c.k);
    ASSERT_EQ(of_get_source_symbols_tab(ses, out.data()), OF_STATUS_OK);
    EXPECT_EQ(out[lost], buf);
    EXPECT_EQ(std::memcmp(buf, src[lost].data(), c.len), 0) << row;
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    std::free(buf);
  }
}

// A callback that gives no buffer leaves the symbol in one of the codec's,
// which the caller then owns; a repeated ESI changes nothing.
TEST(LdpcStaircaseDecoding, DuplicatesAndCallbacksWithoutBuffers) {
  std::mt19937 rng(8);
  const Code c = ldpc(40, 20, 9, 3, 5);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  Announcements seen;
  seen.give_buffers = false;
  ASSERT_EQ(of_set_callback_functions(ses, Announcements::on_source, nullptr, &seen), OF_STATUS_OK);
  of_linear_binary_code_cb *cb = block_of(ses);
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[0].data(), c.k), OF_STATUS_OK);
  const Symbol other(c.len, 0x5A);
  ASSERT_EQ(of_decode_with_new_symbol(ses, other.data(), c.k), OF_STATUS_OK);
  EXPECT_EQ(std::memcmp(cb->encoding_symbols_tab[c.k], repair[0].data(), c.len), 0);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[3].data(), 3), OF_STATUS_OK);
  ASSERT_EQ(of_decode_with_new_symbol(ses, other.data(), 3), OF_STATUS_OK);
  EXPECT_EQ(cb->encoding_symbols_tab[3], src[3].data());
  EXPECT_EQ(cb->nb_repair_symbol_ready, 1u);
  EXPECT_EQ(cb->nb_source_symbol_ready, 1u);
  // Everything else: the source symbols of row 0 but one are recovered
  // through a callback that declines to give a buffer.
  for (uint32_t esi = 0; esi < c.n(); ++esi) {
    if (esi == 0 || esi == 3 || esi == c.k) continue;
    ASSERT_EQ(of_decode_with_new_symbol(ses, symbol_of(src, repair, esi), esi), OF_STATUS_OK);
  }
  EXPECT_TRUE(of_is_decoding_complete(ses));
  ASSERT_EQ(seen.source.count(0), 1u);
  EXPECT_EQ(seen.source[0], nullptr);
  EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Completeness follows the source slots, whether received or recovered, and
// a source symbol that completes the block ends processing at once.
TEST(LdpcStaircaseDecoding, CompleteOnceEverySourceSlotIsFilled) {
  std::mt19937 rng(4);
  const Code c = ldpc(30, 15, 8, 3, 3);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  of_linear_binary_code_cb *cb = block_of(ses);
  for (uint32_t esi = c.k; esi-- > 1;) {
    EXPECT_FALSE(of_is_decoding_complete(ses)) << esi;
    ASSERT_EQ(of_decode_with_new_symbol(ses, src[esi].data(), esi), OF_STATUS_OK);
  }
  EXPECT_FALSE(of_is_decoding_complete(ses));
  const std::vector<uint16_t> unknowns(cb->tab_nb_unknown_symbols,
                                       cb->tab_nb_unknown_symbols + c.r);
  ASSERT_EQ(of_decode_with_new_symbol(ses, src[0].data(), 0), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  // The last source symbol was stored but not substituted anywhere.
  EXPECT_EQ(std::vector<uint16_t>(cb->tab_nb_unknown_symbols, cb->tab_nb_unknown_symbols + c.r),
            unknowns);
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Encodes a random group with the code of this seed, loses a quarter of the
// symbols, and decodes the rest iteratively, then by elimination.
testing::AssertionResult recovers_a_quarter_lost(int32_t seed) {
  std::mt19937 rng(static_cast<uint32_t>(seed));
  const Code c = ldpc(1000, 500, 32, 7, seed);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
  if (ses == nullptr) return testing::AssertionFailure() << "no decoder";
  testing::AssertionResult result = testing::AssertionSuccess();
  for (uint32_t esi : received_after_loss(rng, c.n(), c.n() / 4)) {
    if (of_decode_with_new_symbol(ses, symbol_of(src, repair, esi), esi) != OF_STATUS_OK) {
      result = testing::AssertionFailure() << "symbol " << esi << " refused";
      break;
    }
  }
  if (result && of_finish_decoding(ses) != OF_STATUS_OK)
    result = testing::AssertionFailure() << "finishing failed";
  if (result && !of_is_decoding_complete(ses))
    result = testing::AssertionFailure() << "decoding incomplete";
  if (result) result = same_symbols(take_source_symbols(ses, c, src), src);
  if (of_release_codec_instance(ses) != OF_STATUS_OK)
    result = testing::AssertionFailure() << "release failed";
  return result;
}

// Iterative decoding, then elimination, recover every source symbol after a
// quarter of the symbols is lost.
TEST(LdpcStaircaseDecoding, RecoversAQuarterLostForSeveralSeeds) {
  for (int32_t seed : {1, 2, 3, 1000, 65537}) EXPECT_TRUE(recovers_a_quarter_lost(seed)) << seed;
}

// Sessions on separate threads share nothing, the generator that draws their
// matrices included: each thread encodes and decodes groups of its own seed,
// all at once, and gets its source symbols back. (Run under ThreadSanitizer,
// this also shows that creating sessions leaves process-wide state alone.)
TEST(LdpcStaircaseDecoding, SessionsOnSeveralThreadsAtOnce) {
  const int32_t seeds[] = {1, 2, 3, 1000};
  run_together(std::size(seeds), 6, [&](size_t t, int round) {
    EXPECT_TRUE(recovers_a_quarter_lost(seeds[t])) << seeds[t] << ", round " << round;
  });
}

// The whole received table at once goes through the same decoder.
TEST(LdpcStaircaseDecoding, AvailableSymbolsAtOnce) {
  std::mt19937 rng(77);
  const Code c = ldpc(500, 250, 16, 7, 7);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  std::vector<const void *> tab(c.n(), nullptr);
  for (uint32_t esi : received_after_loss(rng, c.n(), c.n() / 5))
    tab[esi] = symbol_of(src, repair, esi);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  ASSERT_EQ(of_set_available_symbols(ses, tab.data()), OF_STATUS_OK);
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src));
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Losing every repair symbol but the last, and the source symbol whose
// equations all lie lowest in the staircase, makes the last repair symbol
// set off one chain of thousands of repair recoveries down the staircase,
// inside one call; one more repair symbol then yields the source symbol.
TEST(LdpcStaircaseDecoding, ThousandsOfRecoveriesInOneChain) {
  std::mt19937 rng(12);
  const Code c = ldpc(20000, 10000, 4, 7, 4242);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  SparsePtr m = matrix_of(c);
  ASSERT_NE(m, nullptr);
  uint32_t lost = 0, lowest_top = c.r;
  for (uint32_t s = 0; s < c.k; ++s) {
    const int top = m->cols[c.r + s].up->row;
    if (static_cast<uint32_t>(top) < lowest_top) {
      lowest_top = static_cast<uint32_t>(top);
      lost = s;
    }
  }
  ASSERT_LT(lowest_top, c.r / 2);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  Announcements seen;
  ASSERT_EQ(
      of_set_callback_functions(ses, Announcements::on_source, Announcements::on_repair, &seen),
      OF_STATUS_OK);
  for (uint32_t esi = 0; esi < c.k; ++esi)
    if (esi != lost) {
      ASSERT_EQ(of_decode_with_new_symbol(ses, src[esi].data(), esi), OF_STATUS_OK);
    }
  seen.repair.clear();
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[c.r - 1].data(), c.n() - 1), OF_STATUS_OK);
  // Down from row r - 1 to the top row of the lost symbol, depth first.
  ASSERT_EQ(seen.repair.size(), c.r - 1 - lowest_top);
  for (size_t i = 0; i < seen.repair.size(); ++i) ASSERT_EQ(seen.repair[i], c.n() - 2 - i);
  EXPECT_FALSE(of_is_decoding_complete(ses));
  ASSERT_EQ(of_decode_with_new_symbol(ses, repair[lowest_top - 1].data(), c.k + lowest_top - 1),
            OF_STATUS_OK);
  ASSERT_TRUE(of_is_decoding_complete(ses));
  ASSERT_EQ(seen.source.size(), 1u);
  EXPECT_EQ(std::memcmp(seen.source[lost], src[lost].data(), c.len), 0);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  std::free(seen.source[lost]);
}

// A decoder of a small code, both callbacks registered, fed with all but 15
// symbols: losses that leave every equation with two unknowns or more stall
// the peeling after it has recovered a few symbols, and elimination has to
// find the rest.
struct LdpcStaircaseStalledDecoding : testing::Test {
  std::mt19937 rng{32};
  const Code c = ldpc(40, 20, 8, 4, 17);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  const std::vector<uint32_t> received = received_after_loss(rng, c.n(), 15);
  Announcements seen;
  of_session_t *ses = nullptr;

  void feed() {
    ses = open_session(c, OF_CODEC_TYPE_DECODER);
    ASSERT_NE(ses, nullptr);
    ASSERT_EQ(
        of_set_callback_functions(ses, Announcements::on_source, Announcements::on_repair, &seen),
        OF_STATUS_OK);
    for (uint32_t esi : received)
      ASSERT_EQ(of_decode_with_new_symbol(ses, symbol_of(src, repair, esi), esi), OF_STATUS_OK);
    ASSERT_FALSE(of_is_decoding_complete(ses));
  }
  void TearDown() override {
    if (ses != nullptr) {
      EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    }
    for (auto &[esi, buf] : seen.source) std::free(buf);
  }
};

// Elimination finds every missing source symbol and puts it straight into the
// table: the source callback is only for symbols found by peeling.
TEST_F(LdpcStaircaseStalledDecoding, EliminationFillsTheTableWithoutCallbacks) {
  ASSERT_NO_FATAL_FAILURE(feed());
  std::vector<void *> before(c.k);
  ASSERT_EQ(of_get_source_symbols_tab(ses, before.data()), OF_STATUS_OK);
  uint32_t missing = 0;
  for (void *p : before) missing += p == nullptr;
  ASSERT_GE(missing, 2u);
  const size_t announced = seen.source.size();
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  EXPECT_EQ(seen.source.size(), announced);
  std::vector<void *> after(c.k);
  ASSERT_EQ(of_get_source_symbols_tab(ses, after.data()), OF_STATUS_OK);
  for (uint32_t i = 0; i < c.k; ++i) {
    ASSERT_NE(after[i], nullptr) << i;
    EXPECT_EQ(std::memcmp(after[i], src[i].data(), c.len), 0) << i;
    if (before[i] == nullptr) of_free(after[i]);
  }
  // No further symbols once elimination has consumed the equations.
  EXPECT_EQ(of_decode_with_new_symbol(ses, repair[0].data(), c.k), OF_STATUS_ERROR);
}

// A repair symbol recovered by peeling is copied into the buffer that the
// repair callback returns, which stays the caller's: the codec keeps (and
// frees) its own copy, and goes on to finish by elimination. Under the
// sanitizer build a leaked or doubly freed buffer fails the test.
TEST_F(LdpcStaircaseStalledDecoding, RecoveredRepairSymbolsReachTheCallersBuffers) {
  seen.give_repair_buffers = true;
  ASSERT_NO_FATAL_FAILURE(feed());
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_OK);
  EXPECT_FALSE(seen.repair_buffers.empty());
  EXPECT_EQ(seen.repair_buffers.size(), seen.repair.size());
  for (const auto &[esi, buf] : seen.repair_buffers) {
    ASSERT_GE(esi, c.k);
    EXPECT_EQ(std::memcmp(buf, repair[esi - c.k].data(), c.len), 0) << "repair " << esi;
  }
  std::vector<void *> out(c.k);
  ASSERT_EQ(of_get_source_symbols_tab(ses, out.data()), OF_STATUS_OK);
  for (uint32_t i = 0; i < c.k; ++i) {
    ASSERT_NE(out[i], nullptr) << i;
    EXPECT_EQ(std::memcmp(out[i], src[i].data(), c.len), 0) << i;
    // Found by elimination: in a buffer of the codec's, now the caller's.
    if (out[i] != src[i].data() && seen.source.count(i) == 0) of_free(out[i]);
  }
}

// Every allocation of a whole decoding, refused in turn: the call that meets
// it answers OF_STATUS_FATAL_ERROR (or the decoding carries on correctly when
// the memory was not needed), and the session is always released cleanly.
TEST(LdpcStaircaseDecoding, AnyAllocationFailureIsFatalAndReleasable) {
  std::mt19937 rng(32);
  const Code c = ldpc(40, 20, 8, 4, 17);
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  const std::vector<uint32_t> received = received_after_loss(rng, c.n(), 15);
  int failures_seen = 0;
  bool complete_before_finish = true;
  for (long nth = 0;; ++nth) {
    of_fail_nth_allocation(nth);
    of_session_t *ses = nullptr;
    of_status_t st = of_create_codec_instance(&ses, c.codec, OF_CODEC_TYPE_DECODER, 0);
    bool failed = st != OF_STATUS_OK;
    if (!failed) {
      st = set_parameters(ses, c);
      failed = st != OF_STATUS_OK;
    }
    for (uint32_t esi : received) {
      if (failed) break;
      st = of_decode_with_new_symbol(ses, symbol_of(src, repair, esi), esi);
      failed = st != OF_STATUS_OK;
    }
    if (!failed) {
      complete_before_finish = of_is_decoding_complete(ses);
      st = of_finish_decoding(ses);
      failed = st != OF_STATUS_OK;
    }
    const long calls = of_fail_nth_allocation(-1);
    const bool refused_one = nth < calls;
    EXPECT_TRUE(refused_one || !failed) << "the run needs no refusal to succeed";
    if (failed) {
      EXPECT_EQ(st, OF_STATUS_FATAL_ERROR) << "allocation " << nth;
      ++failures_seen;
      // Symbols recovered before the failure are the caller's to free.
      std::vector<void *> out(c.k, nullptr);
      if (ses != nullptr && of_get_source_symbols_tab(ses, out.data()) == OF_STATUS_OK) {
        for (uint32_t i = 0; i < c.k; ++i)
          if (out[i] != src[i].data()) of_free(out[i]);
      }
    } else {
      EXPECT_TRUE(same_symbols(take_source_symbols(ses, c, src), src)) << "allocation " << nth;
    }
    if (ses != nullptr) {
      EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    }
    if (!refused_one) break;  // the whole run needed fewer allocations
  }
  EXPECT_GT(failures_seen, 10);
  // The losses are such that elimination had its share of the work.
  EXPECT_FALSE(complete_before_finish);
}

}  // namespace
