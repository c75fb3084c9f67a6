// Cauchy encoder: matrix elements, parameter checks and the bounded form.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/cauchy_encoder.h"
#include "cauchy/gf256.h"
#include "zvfec/cauchy.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Group {
  cm256_encoder_params params;
  std::vector<Bytes> originals, recovery;
  std::vector<void *> original_ptrs, recovery_ptrs;

  Group(int k, int m, int bytes, uint8_t fill = 0xEE)
      : params{k, m, bytes}, originals(k, Bytes(bytes)), recovery(m, Bytes(bytes, fill)) {
    for (auto &o : originals) original_ptrs.push_back(o.data());
    for (auto &r : recovery) recovery_ptrs.push_back(r.data());
  }
  void randomize(std::mt19937 &rng) {
    for (auto &o : originals) {
      for (auto &b : o) b = static_cast<uint8_t>(rng());
    }
  }
  int encode() { return zvfec_encode(params, original_ptrs.data(), recovery_ptrs.data()); }
};

// Recovery block `index` computed byte by byte with scalar products.
Bytes expected_recovery(const Group &g, int index) {
  const int k = g.params.OriginalCount;
  Bytes out(g.params.BlockBytes, 0);
  for (int j = 0; j < k; ++j) {
    const uint8_t a = GetMatrixElement(static_cast<uint8_t>(index), static_cast<uint8_t>(k),
                                       static_cast<uint8_t>(j));
    for (size_t i = 0; i < out.size(); ++i) out[i] ^= gf256_mul(g.originals[j][i], a);
  }
  return out;
}

class CauchyEncoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(cm256_init_(2), 0); }
};

// Unit originals (original j holds 1 at byte j) make byte j of each recovery
// block the matrix element of that row and column.
TEST_F(CauchyEncoder, ElementsOfSmallGroups) {
  struct Case {
    int k, m;
    std::vector<Bytes> rows;  // expected recovery rows k, k+1, ...
  };
  const Case cases[] = {
      {2, 2, {{0x01, 0x01}, {0xc5, 0xa7}}},
      {3, 3, {{0x01, 0x01, 0x01}, {0xf5, 0x43, 0x62}, {0xc4, 0xa6, 0x74}}},
  };
  for (const Case &c : cases) {
    Group g(c.k, c.m, c.k);
    for (int j = 0; j < c.k; ++j) g.originals[j][j] = 1;
    ASSERT_EQ(g.encode(), 0);
    for (int r = 0; r < c.m; ++r) EXPECT_EQ(g.recovery[r], c.rows[r]) << "k=" << c.k << " r=" << r;
  }
  Group g(2, 2, 1);
  g.originals[0][0] = 0x01;
  g.originals[1][0] = 0x02;
  ASSERT_EQ(g.encode(), 0);
  EXPECT_EQ(g.recovery[0][0], 0x03);
  EXPECT_EQ(g.recovery[1][0], 0xc6);
}

TEST_F(CauchyEncoder, OneOriginalIsCopied) {
  std::mt19937 rng(1);
  Group g(1, 3, 77);
  g.randomize(rng);
  ASSERT_EQ(g.encode(), 0);
  for (const Bytes &r : g.recovery) EXPECT_EQ(r, g.originals[0]);
}

TEST_F(CauchyEncoder, MatchesScalarSumsAndBothForms) {
  std::mt19937 rng(3);
  struct Shape {
    int k, m, bytes;
  };
  for (const Shape s : {Shape{2, 3, 1}, Shape{5, 4, 63}, Shape{16, 4, 1200}, Shape{200, 56, 97},
                        Shape{3, 253, 35}}) {
    SCOPED_TRACE(::testing::Message() << s.k << "+" << s.m << " x " << s.bytes);
    Group g(s.k, s.m, s.bytes);
    g.randomize(rng);
    ASSERT_EQ(g.encode(), 0);
    for (int r = 0; r < s.m; ++r) ASSERT_EQ(g.recovery[r], expected_recovery(g, s.k + r)) << r;

    std::vector<cm256_block> descriptors(s.k);
    for (int j = 0; j < s.k; ++j) descriptors[j] = {g.originals[j].data(), 0xFF, 0};
    Bytes area(static_cast<size_t>(s.m) * s.bytes, 0xEE);
    ASSERT_EQ(cm256_encode(g.params, descriptors.data(), area.data()), 0);
    for (int r = 0; r < s.m; ++r) {
      ASSERT_EQ(Bytes(area.begin() + r * s.bytes, area.begin() + (r + 1) * s.bytes), g.recovery[r]);
    }
    // The one-block steps, for the first and the last recovery block.
    for (const int r : {0, s.m - 1}) {
      Bytes one(s.bytes, 0xEE), other(s.bytes, 0xEE);
      zvfec_encode_block(g.params, g.original_ptrs.data(), s.k + r, one.data());
      cm256_encode_block(g.params, descriptors.data(), s.k + r, other.data());
      EXPECT_EQ(one, g.recovery[r]) << r;
      EXPECT_EQ(other, g.recovery[r]) << r;
    }
  }
}

TEST_F(CauchyEncoder, RefusedParametersWriteNothing) {
  struct Case {
    int k, m, bytes;
    bool null_originals, null_recovery;
    int code;
  };
  const Case cases[] = {
      {0, 2, 8, false, false, -1},
      {3, 0, 8, false, false, -1},
      {3, 2, 0, false, false, -1},
      {-1, 2, 8, false, false, -1},
      {3, -2, 8, false, false, -1},
      {3, 2, -8, false, false, -1},
      {200, 57, 8, false, false, -2},
      {3, 2, 8, true, false, -3},
      {3, 2, 8, false, true, -3},
      // Counts whose sum overflows an int must not pass as a small group.
      {2, INT_MAX, 8, false, false, -2},
      {INT_MAX, 1, 8, false, false, -2},
      {INT_MAX, INT_MAX, 8, false, false, -2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.k << "," << c.m << "," << c.bytes);
    Group g(200, 57, 8, 0xEE);
    const cm256_encoder_params p{c.k, c.m, c.bytes};
    void **originals = c.null_originals ? nullptr : g.original_ptrs.data();
    EXPECT_EQ(zvfec_encode(p, originals, c.null_recovery ? nullptr : g.recovery_ptrs.data()),
              c.code);
    std::vector<cm256_block> descriptors(200);
    for (int j = 0; j < 200; ++j) descriptors[j].Block = g.originals[j].data();
    Bytes area(57 * 8, 0xEE);
    EXPECT_EQ(cm256_encode(p, c.null_originals ? nullptr : descriptors.data(),
                           c.null_recovery ? nullptr : area.data()),
              c.code);
    std::vector<int> lengths(200, 8);
    EXPECT_EQ(zvfec_encode_bounded(p, originals, lengths.data(),
                                   c.null_recovery ? nullptr : g.recovery_ptrs.data()),
              c.code);
    for (const Bytes &r : g.recovery) ASSERT_EQ(r, Bytes(8, 0xEE));
    ASSERT_EQ(area, Bytes(57 * 8, 0xEE));
  }
}

TEST_F(CauchyEncoder, LargestGroupAccepted) {
  std::mt19937 rng(5);
  Group g(128, 128, 16);
  g.randomize(rng);
  ASSERT_EQ(g.encode(), 0);
  EXPECT_EQ(g.recovery[127], expected_recovery(g, 255));
}

// Bounded originals: buffers allocated at exactly their lengths, so a read
// past one is caught by the address sanitizer.
TEST_F(CauchyEncoder, BoundedOriginalsEncodeAsZeroPadded) {
  std::mt19937 rng(9);
  struct Shape {
    int k, m, bytes;
  };
  for (const Shape s : {Shape{1, 2, 40}, Shape{2, 3, 33}, Shape{7, 4, 130}, Shape{20, 6, 1200}}) {
    for (int trial = 0; trial < 4; ++trial) {
      SCOPED_TRACE(::testing::Message() << s.k << "+" << s.m << " trial " << trial);
      Group padded(s.k, s.m, s.bytes);
      std::vector<std::unique_ptr<uint8_t[]>> exact;
      std::vector<void *> exact_ptrs;
      std::vector<int> lengths;
      for (int j = 0; j < s.k; ++j) {
        // Cover empty, full and odd lengths.
        int len = static_cast<int>(rng() % (s.bytes + 1));
        if (j == 0 && trial == 1) len = 0;
        if (j == 1 && trial == 2) len = s.bytes;
        lengths.push_back(len);
        exact.push_back(std::make_unique<uint8_t[]>(static_cast<size_t>(len)));
        for (int i = 0; i < len; ++i)
          exact.back()[i] = padded.originals[j][i] = static_cast<uint8_t>(rng());
        exact_ptrs.push_back(exact.back().get());
      }
      ASSERT_EQ(padded.encode(), 0);
      std::vector<Bytes> out(s.m, Bytes(s.bytes, 0xEE));
      std::vector<void *> out_ptrs;
      for (auto &o : out) out_ptrs.push_back(o.data());
      ASSERT_EQ(
          zvfec_encode_bounded(padded.params, exact_ptrs.data(), lengths.data(), out_ptrs.data()),
          0);
      EXPECT_EQ(out, padded.recovery);
    }
  }
}

TEST_F(CauchyEncoder, BoundedRefusesBadLengths) {
  Group g(3, 2, 8);
  for (const std::vector<int> &lengths : {std::vector<int>{8, 9, 8}, std::vector<int>{8, -1, 8}}) {
    EXPECT_EQ(zvfec_encode_bounded(g.params, g.original_ptrs.data(), lengths.data(),
                                   g.recovery_ptrs.data()),
              -1);
  }
  EXPECT_EQ(zvfec_encode_bounded(g.params, g.original_ptrs.data(), nullptr, g.recovery_ptrs.data()),
            -3);
  for (const Bytes &r : g.recovery) EXPECT_EQ(r, Bytes(8, 0xEE));
}

}  // namespace
