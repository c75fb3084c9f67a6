#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "binary/of_linear_binary_code.h"
#include "binary/of_matrix_dense.h"
#include "binary/of_ml_tool.h"

namespace {

using Bits = std::vector<std::vector<uint8_t>>;

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

// Random systems A x = b with symbol-valued x, some of too low a rank: the
// solver gives back x exactly when A has full column rank and fails
// otherwise, and frees nothing it does not own.
TEST(DenseSystem, SolvesExactlyTheFullRankSystems) {
  std::mt19937 rng(9);
  const uint32_t len = 11;
  int solved = 0, refused = 0;
  for (int round = 0; round < 300; ++round) {
    const uint32_t cols = 1 + rng() % 40;
    const uint32_t rows = cols + rng() % 4;
    const bool sparse = round % 3 == 0;  // often rank-deficient
    Bits a(rows, std::vector<uint8_t>(cols));
    of_mod2dense *m = of_mod2dense_allocate(rows, cols);
    ASSERT_NE(m, nullptr);
    for (uint32_t i = 0; i < rows; ++i)
      for (uint32_t j = 0; j < cols; ++j) {
        a[i][j] = static_cast<uint8_t>(sparse ? rng() % 5 == 0 : rng() % 2);
        of_mod2dense_set(m, i, j, a[i][j]);
      }
    std::vector<std::vector<unsigned char>> x(cols, std::vector<unsigned char>(len));
    for (auto &s : x)
      for (auto &b : s) b = static_cast<unsigned char>(rng());
    std::vector<void *> constants(rows, nullptr), variables(cols, nullptr);
    for (uint32_t i = 0; i < rows; ++i) {
      std::vector<unsigned char> sum(len, 0);
      bool any = false;
      for (uint32_t j = 0; j < cols; ++j)
        if (a[i][j]) {
          any = true;
          for (uint32_t b = 0; b < len; ++b) sum[b] ^= x[j][b];
        }
      // A row without a constant stands for zero, as in the decoder.
      if (!any && rng() % 2) continue;
      constants[i] = of_malloc(len);
      std::memcpy(constants[i], sum.data(), len);
    }
    std::vector<void *> scratch(rows + cols, nullptr);
    of_linear_binary_code_cb cb{};
    cb.encoding_symbol_length = len;
    cb.tmp_tab_symbols = scratch.data();
    const of_status_t st =
        of_linear_binary_code_solve_dense_system(&cb, m, constants.data(), variables.data());
    if (rank_of(a, cols) == cols) {
      ASSERT_EQ(st, OF_STATUS_OK) << round;
      for (uint32_t j = 0; j < cols; ++j)
        ASSERT_EQ(std::memcmp(variables[j], x[j].data(), len), 0) << round << " x" << j;
      ++solved;
    } else {
      ASSERT_EQ(st, OF_STATUS_FAILURE) << round;
      ++refused;
    }
    for (void *p : constants) of_free(p);
    for (void *p : variables) of_free(p);
    of_mod2dense_free(m);
  }
  EXPECT_GT(solved, 50);
  EXPECT_GT(refused, 20);
}

}  // namespace
