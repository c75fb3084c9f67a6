#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "binary/of_inactivation.h"
#include "session/alloc_fault.h"

namespace {

using Bits = std::vector<std::vector<uint8_t>>;
using Symbol = std::vector<unsigned char>;

// Rank over GF(2) by a plain elimination on a copy, as a reference.
uint32_t rank_of(Bits a, uint32_t cols) {
  uint32_t rank = 0;
  for (uint32_t c = 0; c < cols && rank < a.size(); ++c) {
    uint32_t p = rank;
    while (p < a.size() && !a[p][c]) ++p;
    if (p == a.size()) continue;
    std::swap(a[p], a[rank]);
    for (uint32_t i = 0; i < a.size(); ++i)
      if (i != rank && a[i][c])
        for (uint32_t j = 0; j < cols; ++j) a[i][j] ^= a[rank][j];
    ++rank;
  }
  return rank;
}

// A system A x = b with random symbols x: A as row lists for the solver and
// as bits for the reference; b[i] is the XOR of the x that row i names, or
// no symbol at all for a zero right-hand side.
struct System {
  uint32_t cols = 0;
  uint32_t len = 0;
  Bits a;
  std::vector<uint32_t> start{0}, entries;
  std::vector<Symbol> x, b;
  std::vector<bool> rhs_read;

  of_mod2rows rows() { return {static_cast<uint32_t>(a.size()), start.data(), entries.data()}; }
  static void rhs(void *context, uint32_t row, of_symbol_sum *sum) {
    auto *self = static_cast<System *>(context);
    self->rhs_read[row] = true;
    if (!self->b[row].empty()) sum->add(self->b[row].data());
  }
};

// Each bit of A set with probability density_percent / 100.
System random_system(std::mt19937 &rng, uint32_t rows, uint32_t cols, uint32_t density_percent,
                     uint32_t len) {
  System s;
  s.cols = cols;
  s.len = len;
  s.x.assign(cols, Symbol(len));
  for (auto &sym : s.x)
    for (auto &byte : sym) byte = static_cast<unsigned char>(rng());
  s.a.assign(rows, std::vector<uint8_t>(cols));
  for (uint32_t i = 0; i < rows; ++i) {
    Symbol sum(len, 0);
    bool any = false;
    for (uint32_t j = 0; j < cols; ++j) {
      if (rng() % 100 >= density_percent) continue;
      s.a[i][j] = 1;
      s.entries.push_back(j);
      any = true;
      for (uint32_t k = 0; k < len; ++k) sum[k] ^= s.x[j][k];
    }
    s.start.push_back(static_cast<uint32_t>(s.entries.size()));
    // A zero right-hand side may come as no symbol, as the decoder gives it.
    s.b.push_back(!any && rng() % 2 ? Symbol{} : sum);
  }
  s.rhs_read.assign(rows, false);
  return s;
}

// Random systems, sparse as the decoder's and dense enough to need many
// inactive unknowns, square and with spare equations, of full rank and of
// too low a rank: the solver gives back every wanted unknown exactly when
// the equations have full column rank (and nothing of the others), and
// otherwise fails without reading a right-hand side or leaving a buffer
// behind.
TEST(InactivationSolve, SolvesExactlyTheSystemsOfFullColumnRank) {
  std::mt19937 rng(9);
  const uint32_t len = 11;
  int solved = 0, refused = 0;
  uint32_t most_inactive = 0;
  for (int round = 0; round < 400; ++round) {
    // Now and then a dense system large enough for the inverse to be applied
    // by tables of sums.
    const bool large = round % 50 == 7;
    const uint32_t cols = large ? 300 + rng() % 40 : 1 + rng() % 120;
    uint32_t rows = cols + rng() % 6;
    // Now and then fewer equations than unknowns.
    if (round % 10 == 0) rows = rows > 3 ? rows - 3 : 1;
    const uint32_t density = large || round % 4 == 0 ? 50 : 2 + rng() % 8;
    System s = random_system(rng, rows, cols, density, len);
    const of_mod2rows rows_of = s.rows();
    std::vector<void *> values(cols, nullptr);
    // Every other round only some unknowns are wanted back.
    std::vector<uint8_t> wanted(cols, 1);
    if (round % 2 != 0)
      for (auto &w : wanted) w = static_cast<uint8_t>(rng() % 2);
    const uint8_t *wanted_flags = round % 2 != 0 ? wanted.data() : nullptr;
    of_inactivation_stats stats{};
    const of_status_t st = of_inactivation_solve(&rows_of, cols, System::rhs, &s, len, wanted_flags,
                                                 values.data(), &stats);
    if (rank_of(s.a, cols) == cols) {
      ASSERT_EQ(st, OF_STATUS_OK) << round;
      for (uint32_t j = 0; j < cols; ++j) {
        if (wanted[j] == 0) {
          ASSERT_EQ(values[j], nullptr) << round << " x" << j;
          continue;
        }
        ASSERT_NE(values[j], nullptr) << round << " x" << j;
        ASSERT_EQ(std::memcmp(values[j], s.x[j].data(), len), 0) << round << " x" << j;
      }
      EXPECT_EQ(stats.nb_pivots + stats.nb_inactive, cols) << round;
      if (stats.nb_inactive > most_inactive) most_inactive = stats.nb_inactive;
      ++solved;
    } else {
      ASSERT_EQ(st, OF_STATUS_FAILURE) << round;
      for (uint32_t j = 0; j < cols; ++j) ASSERT_EQ(values[j], nullptr) << round;
      for (uint32_t i = 0; i < rows; ++i) ASSERT_FALSE(s.rhs_read[i]) << round;
      ++refused;
    }
    for (void *p : values) of_free(p);
  }
  // Both outcomes were met often, and some systems set aside more unknowns
  // than a 512-bit block of a bit-packed row holds.
  EXPECT_GT(solved, 100);
  EXPECT_GT(refused, 50);
  EXPECT_GT(most_inactive, 256u);
}

// Every allocation of a solution refused in turn: the solver answers
// OF_STATUS_FATAL_ERROR with every value none (the sanitizer build sees
// anything left behind), or the right solution when it did not need it.
TEST(InactivationSolve, AnyAllocationFailureIsFatalAndLeavesNothing) {
  std::mt19937 rng(4);
  System s = random_system(rng, 48, 36, 12, 16);
  ASSERT_EQ(rank_of(s.a, s.cols), s.cols);
  const of_mod2rows rows_of = s.rows();
  {
    // Every stage is met: some unknowns are set aside.
    std::vector<void *> values(s.cols, nullptr);
    of_inactivation_stats stats{};
    ASSERT_EQ(of_inactivation_solve(&rows_of, s.cols, System::rhs, &s, s.len, nullptr,
                                    values.data(), &stats),
              OF_STATUS_OK);
    for (void *p : values) of_free(p);
    ASSERT_GT(stats.nb_inactive, 1u);
  }
  // Unknowns wanted back and unknowns solved only for their sake.
  std::vector<uint8_t> wanted(s.cols);
  for (uint32_t j = 0; j < s.cols; ++j) wanted[j] = static_cast<uint8_t>(j % 2);
  int failures = 0;
  for (long nth = 0;; ++nth) {
    std::vector<void *> values(s.cols, nullptr);
    of_fail_nth_allocation(nth);
    const of_status_t st = of_inactivation_solve(&rows_of, s.cols, System::rhs, &s, s.len,
                                                 wanted.data(), values.data(), nullptr);
    const long calls = of_fail_nth_allocation(-1);
    if (st == OF_STATUS_FATAL_ERROR) {
      ++failures;
      for (void *p : values) EXPECT_EQ(p, nullptr) << nth;
    } else {
      ASSERT_EQ(st, OF_STATUS_OK) << nth;
      for (uint32_t j = 0; j < s.cols; ++j) {
        if (wanted[j] == 0)
          EXPECT_EQ(values[j], nullptr) << nth;
        else
          EXPECT_EQ(std::memcmp(values[j], s.x[j].data(), s.len), 0) << nth;
      }
    }
    for (void *p : values) of_free(p);
    if (nth >= calls) break;
  }
  EXPECT_GT(failures, 20);
}

}  // namespace
