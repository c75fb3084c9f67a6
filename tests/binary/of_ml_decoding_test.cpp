// Decoding checked against references that share no code with the decoder:
// a plain rank computation over the received equations says whether the
// lost symbols are determined, and plain peeling says which of them the
// decoder finds without elimination.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "binary/of_create_pchk.h"
#include "binary/of_ldpc_staircase_pchk.h"
#include "binary_codec_harness.h"
#include "zvfec/codec_session.h"

using namespace binary_test;

namespace {

// The parity-check matrix of a code as lists of ESIs, one per equation.
std::vector<std::vector<uint32_t>> equations_of(const Code &c) {
  of_mod2sparse *m = nullptr;
  if (c.codec == OF_CODEC_LDPC_STAIRCASE_STABLE) {
    bool extra = false;
    m = of_create_pchck_matrix_rfc5170_compliant(c.r, c.n(), c.n1, static_cast<uint32_t>(c.seed),
                                                 &extra);
  } else {
    m = of_create_pchk_matrix(c.r, c.n(), Evenboth, 0, 0, false, Type2DMATRIX, 0);
  }
  std::vector<std::vector<uint32_t>> rows(c.r);
  if (m == nullptr) return {};
  for (uint32_t i = 0; i < c.r; ++i)
    for (of_mod2entry *e = m->rows[i].right; e->row >= 0; e = e->right)
      rows[i].push_back(e->col < static_cast<int32_t>(c.r) ? c.k + static_cast<uint32_t>(e->col)
                                                           : static_cast<uint32_t>(e->col) - c.r);
  of_mod2sparse_free(m);
  of_free(m);
  return rows;
}

// Whether the equations determine every unknown symbol: their restriction
// to the unknowns has full column rank, by elimination on bitsets.
bool unknowns_determined(const std::vector<std::vector<uint32_t>> &equations,
                         const std::vector<bool> &known) {
  std::vector<uint32_t> index(known.size(), 0);
  uint32_t unknowns = 0;
  for (size_t esi = 0; esi < known.size(); ++esi)
    if (!known[esi]) index[esi] = unknowns++;
  const size_t words = (unknowns + 63) / 64;
  std::vector<std::vector<uint64_t>> rows;
  for (const auto &equation : equations) {
    std::vector<uint64_t> bits(words, 0);
    for (uint32_t esi : equation)
      if (!known[esi]) bits[index[esi] / 64] ^= uint64_t{1} << (index[esi] % 64);
    rows.push_back(bits);
  }
  uint32_t rank = 0;
  for (uint32_t col = 0; col < unknowns; ++col) {
    const uint64_t bit = uint64_t{1} << (col % 64);
    size_t p = rank;
    while (p < rows.size() && !(rows[p][col / 64] & bit)) ++p;
    if (p == rows.size()) return false;
    std::swap(rows[p], rows[rank]);
    for (size_t q = rank + 1; q < rows.size(); ++q)
      if (rows[q][col / 64] & bit)
        for (size_t w = 0; w < words; ++w) rows[q][w] ^= rows[rank][w];
    ++rank;
  }
  return true;
}

// The symbols found by peeling alone: an equation with one unknown left
// yields it, until none does.
std::vector<bool> peeled(const std::vector<std::vector<uint32_t>> &equations,
                         std::vector<bool> known) {
  for (bool progress = true; progress;) {
    progress = false;
    for (const auto &equation : equations) {
      uint32_t unknown = 0, last = 0;
      for (uint32_t esi : equation)
        if (!known[esi]) {
          ++unknown;
          last = esi;
        }
      if (unknown == 1) {
        known[last] = true;
        progress = true;
      }
    }
  }
  return known;
}

struct Trial {
  Code code;
  uint32_t lost;
  bool whole_table;  // of_set_available_symbols rather than one symbol at a time
};

// Decodes one random loss pattern and compares with the references: decoding
// succeeds exactly when the unknowns are determined, every source symbol it
// gives back equals its original, and when it fails it has found exactly the
// source symbols that peeling finds.
testing::AssertionResult matches_the_references(const Trial &t, std::mt19937 &rng,
                                                bool *succeeded) {
  const Code &c = t.code;
  const auto equations = equations_of(c);
  if (equations.empty()) return testing::AssertionFailure() << "no matrix";
  Symbols src = random_symbols(rng, c.k, c.len);
  Symbols repair = encode(c, src);
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_DECODER);
  if (ses == nullptr) return testing::AssertionFailure() << "no decoder";
  std::vector<bool> known(c.n(), false);
  // A symbol the decoder knows before anything arrives counts as received.
  for (uint32_t esi = 0; esi < c.n(); ++esi)
    known[esi] = block_of(ses)->encoding_symbols_tab[esi] != nullptr;
  const std::vector<uint32_t> received = received_after_loss(rng, c.n(), t.lost);
  for (uint32_t esi : received) known[esi] = true;
  testing::AssertionResult result = testing::AssertionSuccess();
  if (t.whole_table) {
    std::vector<const void *> tab(c.n(), nullptr);
    for (uint32_t esi : received) tab[esi] = symbol_of(src, repair, esi);
    if (of_set_available_symbols(ses, tab.data()) != OF_STATUS_OK)
      result = testing::AssertionFailure() << "table refused";
  } else {
    for (uint32_t esi : received)
      if (of_decode_with_new_symbol(ses, symbol_of(src, repair, esi), esi) != OF_STATUS_OK)
        result = testing::AssertionFailure() << "symbol " << esi << " refused";
  }
  const of_status_t st = of_finish_decoding(ses);
  const bool determined = unknowns_determined(equations, known);
  *succeeded = determined;
  if (result && st != (determined ? OF_STATUS_OK : OF_STATUS_FAILURE))
    result = testing::AssertionFailure() << "finishing gave " << st << ", the rank says "
                                         << (determined ? "determined" : "not determined");
  if (result && of_is_decoding_complete(ses) != determined)
    result = testing::AssertionFailure() << "completeness disagrees with the rank";
  const Symbols got = take_source_symbols(ses, c, src);
  const std::vector<bool> by_peeling = peeled(equations, known);
  for (uint32_t i = 0; i < c.k && result; ++i) {
    if (got[i].empty()) {
      if (determined || by_peeling[i])
        result = testing::AssertionFailure() << "source symbol " << i << " missing";
    } else if (got[i] != src[i]) {
      result = testing::AssertionFailure() << "source symbol " << i << " wrong";
    } else if (!determined && !by_peeling[i]) {
      result = testing::AssertionFailure() << "source symbol " << i << " found beyond peeling";
    }
  }
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  return result << " (k " << c.k << ", r " << c.r << ", N1 " << int{c.n1} << ", seed " << c.seed
                << ", " << t.lost << " lost" << (t.whole_table ? ", whole table)" : ")");
}

// Losses around each code's threshold, so that both outcomes come up often:
// rate 2/3 and 1/2 staircase codes of several left degrees and seeds (even
// N1 with its known-zero last repair symbol among them), and the 2D parity
// code, whose table is only recorded before finishing.
TEST(MaximumLikelihoodDecoding, FailsExactlyWhenTheRankSaysAndRecoversEveryOther) {
  struct Shape {
    of_codec_id_t codec;
    uint32_t k, r;
    uint8_t n1;
    uint32_t min_lost, max_lost;
  };
  const Shape shapes[] = {
      {OF_CODEC_LDPC_STAIRCASE_STABLE, 200, 100, 7, 80, 105},
      {OF_CODEC_LDPC_STAIRCASE_STABLE, 300, 150, 3, 120, 158},
      {OF_CODEC_LDPC_STAIRCASE_STABLE, 120, 120, 4, 105, 125},
      {OF_CODEC_LDPC_STAIRCASE_STABLE, 40, 20, 5, 12, 21},
      {OF_CODEC_2D_PARITY_MATRIX_STABLE, 16, 8, 0, 3, 8},
      {OF_CODEC_2D_PARITY_MATRIX_STABLE, 12, 7, 0, 2, 7},
  };
  std::mt19937 rng(2024);
  for (const Shape &s : shapes) {
    int successes = 0, failures = 0;
    for (int round = 0; round < 100; ++round) {
      Trial t{{s.codec, s.k, s.r, 16, 1 + round % 7, s.n1},
              s.min_lost + static_cast<uint32_t>(rng() % (s.max_lost - s.min_lost + 1)),
              round % 3 == 0};
      bool succeeded = false;
      ASSERT_TRUE(matches_the_references(t, rng, &succeeded)) << "round " << round;
      (succeeded ? successes : failures)++;
    }
    // Around the threshold: both outcomes.
    EXPECT_GT(successes, 4) << s.k << "/" << s.r;
    EXPECT_GT(failures, 4) << s.k << "/" << s.r;
  }
}

}  // namespace
