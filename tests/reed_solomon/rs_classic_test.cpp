#include "reed_solomon/rs_classic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gf/gf_tables.h"

namespace {

std::vector<int> matrix_row(void *code, int esi) {
  const auto *p = static_cast<fec_parms *>(code);
  return std::vector<int>(p->enc_matrix + esi * p->k, p->enc_matrix + (esi + 1) * p->k);
}

// Kept first in the file: in a process of its own it is the first use of the
// coder, so the threads race to build and cache the shared matrix.
TEST(RsClassic, FirstCodersMadeConcurrentlyAreCorrect) {
  std::vector<std::thread> threads;
  std::vector<int> rows_ok(8, 0);
  for (size_t t = 0; t < rows_ok.size(); ++t) {
    threads.emplace_back([&rows_ok, t] {
      void *code = of_rs_new(3, 6);
      if (code == nullptr) return;
      rows_ok[t] = matrix_row(code, 3) == std::vector<int>{15, 8, 6} &&
                   matrix_row(code, 5) == std::vector<int>{153, 224, 120};
      of_rs_free(code);
    });
  }
  for (auto &th : threads) th.join();
  EXPECT_EQ(std::accumulate(rows_ok.begin(), rows_ok.end(), 0), 8);
}

// Each listed polynomial has the stated degree and generates all 2^m - 1
// non-zero elements.
TEST(RsClassic, ListedPolynomialsArePrimitive) {
  EXPECT_EQ(of_rs_allPp[0], nullptr);
  EXPECT_EQ(of_rs_allPp[1], nullptr);
  EXPECT_STREQ(of_rs_allPp[3], "1101");
  EXPECT_STREQ(of_rs_allPp[8], "101110001");
  EXPECT_STREQ(of_rs_allPp[16], "11010000000010001");
  for (unsigned m = 2; m <= 16; ++m) {
    const std::string pp = of_rs_allPp[m];
    ASSERT_EQ(pp.size(), m + 1);
    ASSERT_EQ(pp[m], '1');
    uint32_t poly = 0;
    for (unsigned i = 0; i <= m; ++i) poly |= uint32_t{pp[i] == '1'} << i;
    uint32_t x = 1, period = 0;
    do {
      x <<= 1;
      if (x >> m) x ^= poly;
      ++period;
    } while (x != 1 && period <= (1u << m));
    EXPECT_EQ(period, (1u << m) - 1) << "degree " << m;
  }
}

TEST(RsClassic, NewLimitsAndMatrices) {
  void *full = of_rs_new(256, 256);
  ASSERT_NE(full, nullptr);
  for (int i = 0; i < 256; ++i) {
    std::vector<int> unit(256, 0);
    unit[size_t(i)] = 1;
    ASSERT_EQ(matrix_row(full, i), unit);
  }
  of_rs_free(full);
  for (auto [k, n] : {std::pair{257u, 257u}, {5u, 4u}, {0u, 4u}, {3u, 257u}})
    EXPECT_EQ(of_rs_new(k, n), nullptr) << k << "," << n;
  void *c24 = of_rs_new(2, 4);
  ASSERT_NE(c24, nullptr);
  EXPECT_EQ(matrix_row(c24, 2), (std::vector<int>{3, 2}));
  EXPECT_EQ(matrix_row(c24, 3), (std::vector<int>{5, 4}));
  of_rs_free(c24);
  void *c36 = of_rs_new(3, 6);
  ASSERT_NE(c36, nullptr);
  EXPECT_EQ(matrix_row(c36, 3), (std::vector<int>{15, 8, 6}));
  EXPECT_EQ(matrix_row(c36, 4), (std::vector<int>{45, 48, 28}));
  EXPECT_EQ(matrix_row(c36, 5), (std::vector<int>{153, 224, 120}));
  of_rs_free(c36);
  of_rs_free(nullptr);
}

TEST(RsClassic, EncodeRefusesIndexBeyondN) {
  void *code = of_rs_new(2, 4);
  ASSERT_NE(code, nullptr);
  gf a[3] = {1, 2, 3}, b[3] = {4, 5, 6}, out[3] = {9, 9, 9};
  void *src[] = {a, b};
  EXPECT_EQ(of_rs_encode(code, src, out, 4, 3), OF_STATUS_ERROR);
  EXPECT_EQ(of_rs_encode(code, src, out, -1, 3), OF_STATUS_ERROR);
  EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{9, 9, 9}));
  ASSERT_EQ(of_rs_encode(code, src, out, 2, 3), OF_STATUS_OK);
  // Row (3, 2): out = 3a + 2b.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(out[i], of_gf_2_8_mul_table[3][a[i]] ^ of_gf_2_8_mul_table[2][b[i]]);
  of_rs_free(code);
}

TEST(RsClassic, DecodesFromRepairSymbolsOnly) {
  std::mt19937 rng(31);
  for (int k : {1, 2, 7, 64, 128}) {
    const int n = 2 * k, len = 33;
    void *code = of_rs_new(unsigned(k), unsigned(n));
    ASSERT_NE(code, nullptr);
    std::vector<std::vector<gf>> src(static_cast<size_t>(k),
                                     std::vector<gf>(static_cast<size_t>(len)));
    std::vector<std::vector<gf>> repair = src;
    std::vector<void *> sp;
    for (auto &s : src) {
      for (auto &b : s) b = static_cast<gf>(rng());
      sp.push_back(s.data());
    }
    std::vector<void *> pkt;
    std::vector<int> index;
    for (int j = 0; j < k; ++j) {
      ASSERT_EQ(of_rs_encode(code, sp.data(), repair[size_t(j)].data(), k + j, len), OF_STATUS_OK);
      pkt.push_back(repair[size_t(j)].data());
      index.push_back(k + j);
    }
    ASSERT_EQ(of_rs_decode(code, pkt.data(), index.data(), len), OF_STATUS_OK);
    for (int i = 0; i < k; ++i)
      ASSERT_EQ(std::memcmp(pkt[size_t(i)], src[size_t(i)].data(), len), 0)
          << "k " << k << " i " << i;
    of_rs_free(code);
  }
}

TEST(RsClassic, DecodeRefusesBadIndexSets) {
  void *code = of_rs_new(2, 4);
  ASSERT_NE(code, nullptr);
  gf a[2] = {1, 2}, b[2] = {3, 4};
  for (auto idx : {std::pair{0, 0}, {3, 3}, {0, 4}, {-2, 1}}) {
    void *pkt[] = {a, b};
    int index[] = {idx.first, idx.second};
    EXPECT_EQ(of_rs_decode(code, pkt, index, 2), OF_STATUS_ERROR) << idx.first << "," << idx.second;
  }
  EXPECT_EQ(std::vector<int>(a, a + 2), (std::vector<int>{1, 2}));
  EXPECT_EQ(std::vector<int>(b, b + 2), (std::vector<int>{3, 4}));
  of_rs_free(code);
}

}  // namespace
