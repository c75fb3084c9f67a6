// The engine under both Reed-Solomon codecs: repair symbols computed ahead by
// a session, decoding, and the process-wide cache of encoding matrices.
#include "reed_solomon/rs_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "session_harness.h"

namespace {

using rs_test::Symbol;
using rs_test::Symbols;

// Each repair symbol alone, from the code's matrix row by field arithmetic:
// what any session must hand out, whatever it computed ahead.
Symbol expected_repair(const rs_code *code, const Symbols &src, uint32_t esi) {
  Symbol out(src[0].size(), 0);
  for (uint32_t j = 0; j < code->k; ++j) {
    const gf c = code->matrix[size_t{esi} * code->k + j];
    for (size_t i = 0; i < out.size(); ++i) {
      const gf x = src[j][i];
      // Packed GF(2^4): both nibbles by the same coefficient.
      out[i] ^= code->m == 8
                    ? rs_field_mul(8, c, x)
                    : static_cast<gf>(rs_field_mul(4, c, x >> 4) << 4 | rs_field_mul(4, c, x & 15));
    }
  }
  return out;
}

// A session asked for repair symbols in any order, some twice, into NULL
// entries (codec buffers) and into the caller's own buffers, hands out
// exactly each symbol computed alone, and writes nothing but the one asked
// for.
TEST(RsEngine, RepairSymbolsComputedAheadEqualThoseComputedAlone) {
  struct Case {
    of_codec_id_t codec;
    uint32_t k, r, len;
    uint16_t m;
  };
  const Case cases[] = {
      {OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, 5, 3, 40, 8},
      {OF_CODEC_REED_SOLOMON_GF_2_8_STABLE, 20, 30, 33, 8},  // several batches of eight
      {OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 16, 12, 64, 8},
      {OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 6, 9, 17, 4},
      {OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 260, 8, 8},  // rows repeat past the field
  };
  std::mt19937 rng(12);
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "codec " << c.codec << " k=" << c.k << " r=" << c.r << " m=" << c.m);
    const rs_test::Group g{c.codec, c.k, c.r, c.len, c.m};
    Symbols src = rs_test::random_symbols(rng, c.k, c.len);
    const rs_code *code = rs_code_acquire(c.m, c.k, c.k + c.r);
    ASSERT_NE(code, nullptr);
    std::vector<uint32_t> order;
    for (uint32_t e = c.k; e < c.k + c.r; ++e) order.push_back(e);
    for (int pass = 0; pass < 3; ++pass) {
      if (pass > 0) std::shuffle(order.begin(), order.end(), rng);
      if (pass == 2) order.insert(order.end(), order.begin(), order.begin() + c.r / 2);
      of_session_t *ses = rs_test::open_session(g, OF_CODEC_TYPE_ENCODER);
      ASSERT_NE(ses, nullptr);
      std::vector<void *> tab(c.k + c.r, nullptr);
      for (uint32_t i = 0; i < c.k; ++i) tab[i] = src[i].data();
      // Every other repair entry is a buffer of the caller's, the rest NULL.
      Symbols own(c.k + c.r, Symbol(c.len, 0xEE));
      for (uint32_t e = c.k; e < c.k + c.r; e += 2) tab[e] = own[e].data();
      std::vector<bool> built(c.k + c.r, false);
      for (const uint32_t esi : order) {
        const std::vector<void *> before = tab;
        ASSERT_EQ(of_build_repair_symbol(ses, tab.data(), esi), OF_STATUS_OK) << esi;
        built[esi] = true;
        for (uint32_t other = c.k; other < c.k + c.r; ++other) {
          if (other == esi) continue;
          ASSERT_EQ(tab[other], before[other]) << "entry " << other;
          if (!built[other] && tab[other] != nullptr) {
            ASSERT_EQ(own[other], Symbol(c.len, 0xEE)) << "entry " << other << " written";
          }
        }
        const auto *bytes = static_cast<const unsigned char *>(tab[esi]);
        ASSERT_EQ(Symbol(bytes, bytes + c.len), expected_repair(code, src, esi)) << esi;
      }
      for (uint32_t e = c.k; e < c.k + c.r; ++e) {
        if (tab[e] != own[e].data()) of_free(tab[e]);
      }
      ASSERT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
    }
    rs_code_release(code);
  }
}

// Sessions of one shape share one matrix; the cache stays within its bound
// however many shapes pass through it, and a code held by a session outlives
// its eviction intact.
TEST(RsEngine, CodesAreSharedAndTheCacheIsBounded) {
  const rs_code *a = rs_code_acquire(8, 40, 60);
  const rs_code *b = rs_code_acquire(8, 40, 60);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  const std::vector<gf> held(a->matrix, a->matrix + size_t{a->n} * a->k);
  // Well over the bound in matrices of about 60 KiB each.
  for (uint32_t k = 150; k < 250; ++k) {
    const rs_code *c = rs_code_acquire(8, k, 255);
    ASSERT_NE(c, nullptr);
    rs_code_release(c);
    ASSERT_LE(rs_code_cache_bytes(), kRsCodeCacheBytes);
  }
  EXPECT_GT(rs_code_cache_bytes(), kRsCodeCacheBytes / 2);
  EXPECT_EQ(std::vector<gf>(a->matrix, a->matrix + size_t{a->n} * a->k), held);
  rs_code_release(a);
  rs_code_release(b);
  // Refused shapes.
  EXPECT_EQ(rs_code_acquire(5, 4, 6), nullptr);
  EXPECT_EQ(rs_code_acquire(8, 0, 6), nullptr);
  EXPECT_EQ(rs_code_acquire(8, 7, 6), nullptr);
  EXPECT_EQ(rs_code_acquire(8, 257, 300), nullptr);
  EXPECT_EQ(rs_code_acquire(4, 17, 20), nullptr) << "more sources than GF(2^4) has points";
}

// The decoding matrix of a received set (sources in their own places, repair
// symbols in the gaps) times the encoding rows of that set is the identity,
// in both fields; an ESI outside the code is refused.
// Any e missing sources come back from any e repair symbols, in both fields,
// with up to eight per pass and more (a work area), with repair ESIs past the
// field's distinct points (where a decoder cannot take the closed form), and
// with outputs left out, and in place from symbols in any order. A repair ESI
// given twice is refused before anything is written.
TEST(RsEngine, DecodeRebuildsAnyLossFromAnyRepairSymbols) {
  struct Case {
    uint16_t m;
    uint32_t k, n, lost;
  };
  const Case cases[] = {{8, 4, 6, 2},     {8, 10, 14, 4},     {8, 32, 48, 13}, {8, 200, 256, 56},
                        {8, 100, 400, 9}, {8, 128, 256, 128}, {4, 10, 15, 5},  {4, 8, 16, 8}};
  std::mt19937 rng(5);
  constexpr size_t kLen = 77;
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "m=" << c.m << " k=" << c.k << " n=" << c.n);
    const rs_code *code = rs_code_acquire(c.m, c.k, c.n);
    ASSERT_NE(code, nullptr);
    for (int trial = 0; trial < 6; ++trial) {
      const Symbols src = rs_test::random_symbols(rng, c.k, kLen);
      std::vector<uint32_t> order(c.k), esi(c.n - c.k);
      for (uint32_t i = 0; i < c.k; ++i) order[i] = i;
      for (uint32_t i = 0; i < c.n - c.k; ++i) esi[i] = c.k + i;
      std::shuffle(order.begin(), order.end(), rng);
      std::shuffle(esi.begin(), esi.end(), rng);
      if (c.m == 8 && c.n > 256) {
        // ESI 256 is at the point of source 1 again (its row is that source's
        // unit row): solvable with source 1 lost, the rest below 256.
        std::swap(*std::find(order.begin(), order.end(), 1u), order[0]);
        std::sort(esi.begin(), esi.end());
        std::shuffle(esi.begin(), esi.begin() + (256 - c.k), rng);
        std::swap(esi[256 - c.k], esi[0]);
      }
      std::vector<const gf *> in(c.k);
      for (uint32_t i = 0; i < c.k; ++i) in[i] = src[i].data();
      Symbols repair(c.lost, Symbol(kLen));
      std::vector<gf *> repair_out;
      for (Symbol &r : repair) repair_out.push_back(r.data());
      rs_code_encode(code, in.data(), esi.data(), repair_out.data(), static_cast<int>(c.lost),
                     kLen);
      for (uint32_t i = 0; i < c.lost; ++i) in[order[i]] = nullptr;
      std::vector<const gf *> repair_in(repair_out.begin(), repair_out.end());
      rs_decode_plan plan;
      ASSERT_EQ(plan.prepare(code, in.data(), esi.data(), repair_in.data(),
                             static_cast<int>(c.lost), kLen),
                rs_decode_plan::kOk);
      // Every other trial leaves the output of one missing source out.
      Symbols rebuilt(c.k, Symbol(kLen, 0xEE));
      std::vector<gf *> out(c.k, nullptr);
      for (uint32_t i = 0; i < c.lost; ++i) {
        if (trial % 2 == 0 || i != 1) out[order[i]] = rebuilt[order[i]].data();
      }
      plan.run(in.data(), out.data());
      for (uint32_t i = 0; i < c.lost; ++i) {
        const uint32_t s = order[i];
        EXPECT_EQ(rebuilt[s], out[s] != nullptr ? src[s] : Symbol(kLen, 0xEE)) << "source " << s;
      }
      // In place, from the received sources and the repair symbols in any
      // order: afterwards position i holds source i.
      Symbols held;
      std::vector<int> index;
      for (uint32_t i = 0; i < c.k; ++i) {
        if (in[i] != nullptr) held.push_back(src[i]), index.push_back(static_cast<int>(i));
      }
      for (uint32_t i = 0; i < c.lost; ++i)
        held.push_back(repair[i]), index.push_back(static_cast<int>(esi[i]));
      std::vector<size_t> slot(c.k);
      for (size_t i = 0; i < slot.size(); ++i) slot[i] = i;
      std::shuffle(slot.begin(), slot.end(), rng);
      std::vector<gf *> pkt(c.k);
      std::vector<int> pkt_index(c.k);
      for (size_t i = 0; i < slot.size(); ++i) {
        pkt[i] = held[slot[i]].data();
        pkt_index[i] = index[slot[i]];
      }
      ASSERT_EQ(rs_decode_in_place(code, pkt.data(), pkt_index.data(), kLen), 0);
      for (uint32_t i = 0; i < c.k; ++i)
        EXPECT_EQ(Symbol(pkt[i], pkt[i] + kLen), src[i]) << "in place, source " << i;
    }
    if (c.lost >= 2) {
      const Symbols src = rs_test::random_symbols(rng, c.k, kLen);
      std::vector<const gf *> in(c.k);
      for (uint32_t i = 0; i < c.k; ++i) in[i] = i < c.lost ? nullptr : src[i].data();
      std::vector<uint32_t> twice(c.lost, c.k);
      std::vector<const gf *> repair(c.lost, src[0].data());
      rs_decode_plan plan;
      EXPECT_EQ(plan.prepare(code, in.data(), twice.data(), repair.data(), static_cast<int>(c.lost),
                             kLen),
                rs_decode_plan::kSingular);
      // In place, the buffers as they were.
      Symbols held(src.begin(), src.end());
      for (uint32_t i = 0; i < c.lost; ++i) held[i] = src[0];
      const Symbols before = held;
      std::vector<gf *> pkt;
      std::vector<int> index;
      for (uint32_t i = 0; i < c.k; ++i) {
        pkt.push_back(held[i].data());
        index.push_back(static_cast<int>(i < c.lost ? c.k : i));
      }
      EXPECT_EQ(rs_decode_in_place(code, pkt.data(), index.data(), kLen),
                rs_decode_plan::kSingular);
      EXPECT_EQ(held, before);
    }
    rs_code_release(code);
  }
}

TEST(RsEngine, DecodingMatrixInvertsTheReceivedRows) {
  for (const uint16_t m : {uint16_t{4}, uint16_t{8}}) {
    SCOPED_TRACE(m);
    const rs_code *code = rs_code_acquire(m, 6, 10);
    ASSERT_NE(code, nullptr);
    const int index[6] = {0, 9, 2, 6, 4, 7};
    std::vector<gf> received(36), inverse(36), product(36);
    for (int i = 0; i < 6; ++i)
      std::memcpy(received.data() + i * 6, code->matrix + index[i] * 6, 6);
    ASSERT_TRUE(rs_code_decoding_matrix(code, index, inverse.data()));
    rs_matrix_multiply(m, inverse.data(), received.data(), product.data(), 6, 6, 6);
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) EXPECT_EQ(product[i * 6 + j], i == j ? 1 : 0) << i << "," << j;
    const int outside[6] = {0, 10, 2, 3, 4, 5};
    EXPECT_FALSE(rs_code_decoding_matrix(code, outside, inverse.data()));
    rs_code_release(code);
  }
}

}  // namespace
