#include "reed_solomon/rs_2_m_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

// A control block holding only what the code construction reads.
struct Code {
  of_rs_2_m_cb_t cb{};
  Code(int m, uint32_t k, uint32_t n) {
    cb.codec_id = OF_CODEC_REED_SOLOMON_GF_2_M_STABLE;
    cb.m = static_cast<uint16_t>(m);
    cb.field_size = static_cast<uint16_t>((1u << m) - 1);
    cb.nb_source_symbols = k;
    cb.nb_repair_symbols = n - k;
    cb.nb_encoding_symbols = n;
  }
  ~Code() { of_rs_2m_release(&cb); }
  std::vector<int> row(uint32_t esi) const {
    const size_t k = cb.nb_source_symbols;
    return std::vector<int>(cb.enc_matrix + esi * k, cb.enc_matrix + (esi + 1) * k);
  }
};

using Symbols = std::vector<std::vector<gf>>;

Symbols random_symbols(std::mt19937 &rng, size_t count, size_t len) {
  Symbols s(count, std::vector<gf>(len));
  for (auto &sym : s)
    for (auto &b : sym) b = static_cast<gf>(rng());
  return s;
}

Symbols encode_all(Code &code, Symbols &src, size_t len) {
  std::vector<gf *> ptrs;
  for (auto &s : src) ptrs.push_back(s.data());
  Symbols repair(code.cb.nb_repair_symbols, std::vector<gf>(len));
  for (uint32_t j = 0; j < code.cb.nb_repair_symbols; ++j)
    EXPECT_EQ(
        of_rs_2m_encode(&code.cb, ptrs.data(), repair[j].data(),
                        static_cast<int>(code.cb.nb_source_symbols + j), static_cast<int>(len)),
        OF_STATUS_OK);
  return repair;
}

struct WorkedRows {
  int m;
  uint32_t k, n;
  std::vector<std::vector<int>> repair_rows;
};

TEST(RsCode, EncodingMatrixRows) {
  const WorkedRows cases[] = {
      {8, 2, 4, {{3, 2}, {5, 4}}},
      {8, 3, 6, {{15, 8, 6}, {45, 48, 28}, {153, 224, 120}}},
      {4, 3, 6, {{15, 8, 6}, {11, 5, 15}, {1, 1, 1}}},
      {8, 1, 4, {{1}, {1}, {1}}},
      {4, 1, 3, {{1}, {1}}},
      {8, 4, 4, {}},
  };
  for (const auto &c : cases) {
    Code code(c.m, c.k, c.n);
    ASSERT_EQ(of_rs_2m_build_encoding_matrix(&code.cb), OF_STATUS_OK);
    for (uint32_t i = 0; i < c.k; ++i) {
      std::vector<int> unit(c.k, 0);
      unit[i] = 1;
      EXPECT_EQ(code.row(i), unit) << "m " << c.m << " k " << c.k;
    }
    for (uint32_t j = 0; j < c.n - c.k; ++j)
      EXPECT_EQ(code.row(c.k + j), c.repair_rows[j]) << "m " << c.m << " k " << c.k << " j " << j;
  }
}

TEST(RsCode, EncodesUnitSourceIntoTheMatrixColumn) {
  Code code(8, 3, 6);
  ASSERT_EQ(of_rs_2m_build_encoding_matrix(&code.cb), OF_STATUS_OK);
  gf s0 = 1, s1 = 0, s2 = 0;
  gf *src[] = {&s0, &s1, &s2};
  std::vector<int> repair;
  for (int esi = 3; esi < 6; ++esi) {
    gf out = 0xAA;
    ASSERT_EQ(of_rs_2m_encode(&code.cb, src, &out, esi, 1), OF_STATUS_OK);
    repair.push_back(out);
  }
  EXPECT_EQ(repair, (std::vector<int>{15, 45, 153}));
  gf untouched = 0xAA;
  EXPECT_EQ(of_rs_2m_encode(&code.cb, src, &untouched, 6, 1), OF_STATUS_ERROR);
  EXPECT_EQ(untouched, 0xAA);
  gf *missing[] = {&s0, nullptr, &s2};
  EXPECT_EQ(of_rs_2m_encode(&code.cb, missing, &untouched, 4, 1), OF_STATUS_ERROR);
  EXPECT_EQ(untouched, 0xAA);
}

TEST(RsCode, ShuffleMovesSourceSymbolsHome) {
  gf a = 'a', b = 'b', c = 'c';
  gf *pkt[] = {&a, &b, &c};
  int index[] = {2, 0, 1};
  EXPECT_EQ(of_rs_2m_shuffle(pkt, index, 3), 0);
  EXPECT_EQ(std::vector<int>(index, index + 3), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(pkt[0], &b);
  EXPECT_EQ(pkt[1], &c);
  EXPECT_EQ(pkt[2], &a);
  int dup[] = {1, 1, 0};
  EXPECT_EQ(of_rs_2m_shuffle(pkt, dup, 3), 1);
  // Repair ESIs stay where no source symbol claims the position.
  int mixed[] = {5, 0, 4};
  gf *p2[] = {&a, &b, &c};
  EXPECT_EQ(of_rs_2m_shuffle(p2, mixed, 3), 0);
  EXPECT_EQ(std::vector<int>(mixed, mixed + 3), (std::vector<int>{0, 5, 4}));
  EXPECT_EQ(p2[0], &b);
}

// Decodes source positions `lost` of a block from the repair symbols with ESIs
// `used`, checking the rebuilt data against the originals.
void check_recovery(int m, uint32_t k, uint32_t n, std::mt19937 &rng, size_t len,
                    const std::vector<uint32_t> &lost, const std::vector<uint32_t> &used) {
  Code code(m, k, n);
  ASSERT_EQ(of_rs_2m_build_encoding_matrix(&code.cb), OF_STATUS_OK);
  Symbols src = random_symbols(rng, k, len);
  Symbols repair = encode_all(code, src, len);
  Symbols work;
  std::vector<int> index;
  size_t next_repair = 0;
  for (uint32_t i = 0; i < k; ++i) {
    if (std::find(lost.begin(), lost.end(), i) == lost.end()) {
      work.push_back(src[i]);
      index.push_back(static_cast<int>(i));
    } else {
      work.push_back(repair[used[next_repair] - k]);
      index.push_back(static_cast<int>(used[next_repair++]));
    }
  }
  // Present the symbols in a scrambled order.
  std::vector<size_t> order(k);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<gf *> pkt;
  std::vector<int> idx;
  for (size_t o : order) {
    pkt.push_back(work[o].data());
    idx.push_back(index[o]);
  }
  ASSERT_EQ(of_rs_2m_decode(&code.cb, pkt.data(), idx.data(), static_cast<int>(len)), OF_STATUS_OK);
  EXPECT_EQ(code.cb.dec_matrix, nullptr);
  for (uint32_t i = 0; i < k; ++i)
    ASSERT_EQ(std::vector<gf>(pkt[i], pkt[i] + len), src[i])
        << "m " << m << " k " << k << " i " << i;
}

TEST(RsCode, DecodesFromRepairSymbolsOnly) {
  std::mt19937 rng(5);
  for (int m : {4, 8}) {
    const uint32_t max_n = m == 4 ? 16 : 256;
    for (uint32_t k = 1; 2 * k <= max_n; k += (m == 4 ? 1 : 9)) {
      const uint32_t n = std::min(max_n, 2 * k + 1);
      std::vector<uint32_t> lost(k), used(k);
      std::iota(lost.begin(), lost.end(), 0u);
      // The last repair symbols, not the first ones, to reach the far rows.
      std::iota(used.begin(), used.end(), n - k);
      check_recovery(m, k, n, rng, 37, lost, used);
    }
  }
}

TEST(RsCode, AnyKOfNRecover) {
  std::mt19937 rng(9);
  for (int trial = 0; trial < 40; ++trial) {
    const int m = trial % 2 ? 4 : 8;
    const uint32_t k = 1 + rng() % (m == 4 ? 10 : 60);
    const uint32_t r = 1 + rng() % ((m == 4 ? 16 : 256) - k);
    std::vector<uint32_t> sources(k), repairs(r);
    std::iota(sources.begin(), sources.end(), 0u);
    std::iota(repairs.begin(), repairs.end(), k);
    std::shuffle(sources.begin(), sources.end(), rng);
    std::shuffle(repairs.begin(), repairs.end(), rng);
    const uint32_t nlost = std::min(r, static_cast<uint32_t>(rng() % (k + 1)));
    check_recovery(m, k, k + r, rng, 1 + rng() % 70, {sources.begin(), sources.begin() + nlost},
                   {repairs.begin(), repairs.begin() + nlost});
  }
}

TEST(RsCode, SourceSymbolsOnlyAreMerelyReordered) {
  Code code(8, 4, 6);
  std::mt19937 rng(1);
  Symbols src = random_symbols(rng, 4, 20);
  const Symbols original = src;
  gf *pkt[] = {src[2].data(), src[0].data(), src[3].data(), src[1].data()};
  int index[] = {2, 0, 3, 1};
  ASSERT_EQ(of_rs_2m_decode(&code.cb, pkt, index, 20), OF_STATUS_OK);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(pkt[i], src[i].data());
  EXPECT_EQ(src, original);
  EXPECT_EQ(code.cb.enc_matrix, nullptr);  // nothing needed a repair row
}

TEST(RsCode, RowsRepeatBeyondTheFieldSize) {
  Code code(8, 2, 257);
  ASSERT_EQ(of_rs_2m_build_encoding_matrix(&code.cb), OF_STATUS_OK);
  EXPECT_EQ(code.row(256), code.row(1));
  std::mt19937 rng(2);
  Code twins(8, 2, 257);
  ASSERT_EQ(of_rs_2m_build_encoding_matrix(&twins.cb), OF_STATUS_OK);
  Symbols src = random_symbols(rng, 2, 8);
  Symbols r = {std::vector<gf>(8), std::vector<gf>(8)};
  gf *sp[] = {src[0].data(), src[1].data()};
  ASSERT_EQ(of_rs_2m_encode(&twins.cb, sp, r[0].data(), 256, 8), OF_STATUS_OK);
  ASSERT_EQ(of_rs_2m_encode(&twins.cb, sp, r[1].data(), 3, 8), OF_STATUS_OK);
  const Symbols before = r;
  // ESI 256 repeats the evaluation point of ESI 1, the second source symbol.
  gf *pkt[] = {r[0].data(), src[1].data()};
  int index[] = {256, 1};
  EXPECT_EQ(of_rs_2m_decode(&twins.cb, pkt, index, 8), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(twins.cb.dec_matrix, nullptr);
  EXPECT_EQ(r, before);
  // Two distinct points still decode.
  gf *ok[] = {r[0].data(), r[1].data()};
  int ok_index[] = {256, 3};
  ASSERT_EQ(of_rs_2m_decode(&twins.cb, ok, ok_index, 8), OF_STATUS_OK);
  EXPECT_EQ(r[0], src[0]);
  EXPECT_EQ(r[1], src[1]);
}

TEST(RsCode, DecodeRefusesBadIndexSets) {
  Code code(8, 2, 4);
  ASSERT_EQ(of_rs_2m_build_encoding_matrix(&code.cb), OF_STATUS_OK);
  gf a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
  struct Case {
    int index[2];
    of_status_t want;
  } cases[] = {
      {{0, 0}, OF_STATUS_ERROR},         // one source ESI twice
      {{3, 3}, OF_STATUS_FATAL_ERROR},   // one repair ESI twice: singular
      {{0, 4}, OF_STATUS_FATAL_ERROR},   // ESI beyond n
      {{-1, 2}, OF_STATUS_FATAL_ERROR},  // negative ESI
  };
  for (auto &c : cases) {
    gf *pkt[] = {a, b};
    EXPECT_EQ(of_rs_2m_decode(&code.cb, pkt, c.index, 4), c.want)
        << c.index[0] << "," << c.index[1];
    EXPECT_EQ(code.cb.dec_matrix, nullptr);
  }
  EXPECT_EQ(std::vector<gf>(a, a + 4), (std::vector<gf>{1, 2, 3, 4}));
  EXPECT_EQ(std::vector<gf>(b, b + 4), (std::vector<gf>{5, 6, 7, 8}));
}

}  // namespace

namespace {

TEST(RsCode, DisplayListsTheField) {
  for (int m : {4, 8}) {
    Code code(m, 1, 1);
    testing::internal::CaptureStdout();
    of_rs_2m_display_gf(&code.cb);
    const std::string out = testing::internal::GetCapturedStdout();
    const int size = (1 << m) - 1;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), size + 1);
    const std::string first = "i=0,log(i)=" + std::to_string(size) + ",exp(i)=1,exp(log(i))=1\n";
    EXPECT_EQ(out.substr(0, first.size()), first);
    if (m == 8) {
      EXPECT_NE(out.find("i=3,log(i)=25,exp(i)=8,exp(log(i))=3\n"), std::string::npos);
    }
  }
}

}  // namespace
