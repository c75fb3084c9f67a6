// Cauchy decoder: any k of the k + m blocks, in any order, restore every
// original; refusals leave every block as it came.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/test_pattern.h"
#include "session/alloc_fault.h"
#include "zvfec/cauchy.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A group encoded from the test pattern, with every block kept apart so that
// any selection of k of them can be handed to the decoder.
struct Coded {
  cm256_encoder_params params;
  std::vector<Bytes> blocks;  // index order: originals, then recovery blocks

  Coded(int k, int m, int bytes) : params{k, m, bytes}, blocks(k + m, Bytes(bytes)) {
    std::vector<cm256_block> originals(k);
    for (int j = 0; j < k; ++j) originals[j] = {blocks[j].data(), 0, 0};
    initializeBlocks(originals.data(), k, bytes);
    std::vector<void *> o, r;
    for (int j = 0; j < k; ++j) o.push_back(blocks[j].data());
    for (int j = 0; j < m; ++j) r.push_back(blocks[k + j].data());
    EXPECT_EQ(zvfec_encode(params, o.data(), r.data()), 0);
  }

  // Copies of the chosen blocks and descriptors over them, in the given
  // order; fecflag marks recovery blocks as the media layer does.
  struct Selection {
    std::vector<Bytes> data;
    std::vector<cm256_block> descriptors;
  };
  Selection select(const std::vector<int> &indices) const {
    Selection s;
    s.data.reserve(indices.size());
    for (int index : indices) s.data.push_back(blocks[index]);
    for (size_t i = 0; i < indices.size(); ++i) {
      const auto index = static_cast<uint8_t>(indices[i]);
      s.descriptors.push_back(
          {s.data[i].data(), index, static_cast<uint8_t>(index >= params.OriginalCount)});
    }
    return s;
  }
};

// Decodes the selection and checks every original, the untouched inputs and
// the fecflag markers.
void expect_restored(const Coded &g, const std::vector<int> &indices) {
  SCOPED_TRACE(::testing::Message()
               << "k=" << g.params.OriginalCount << " m=" << g.params.RecoveryCount << " selection "
               << ::testing::PrintToString(indices));
  auto s = g.select(indices);
  ASSERT_EQ(zvfec_decode(g.params, s.descriptors.data()), 0);
  const int k = g.params.OriginalCount;
  ASSERT_TRUE(validateSolution(s.descriptors.data(), k, g.params.BlockBytes));
  for (size_t i = 0; i < indices.size(); ++i) {
    EXPECT_EQ(s.descriptors[i].fecflag, indices[i] >= k ? 1 : 0);
    if (indices[i] < k) {
      EXPECT_EQ(s.descriptors[i].Index, indices[i]);
    }
  }
}

class CauchyDecoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(cm256_init_(2), 0); }
};

TEST_F(CauchyDecoder, TestPatternHelpersDetectFaults) {
  Coded g(4, 2, 20);
  auto s = g.select({0, 1, 2, 3});
  EXPECT_TRUE(validateSolution(s.descriptors.data(), 4, 20));
  s.data[2][19] ^= 1;
  EXPECT_FALSE(validateSolution(s.descriptors.data(), 4, 20));
  s.data[2][19] ^= 1;
  s.descriptors[3].Index = 2;
  EXPECT_FALSE(validateSolution(s.descriptors.data(), 4, 20));
  s.descriptors[3].Index = 4;
  EXPECT_FALSE(validateSolution(s.descriptors.data(), 4, 20));
}

// Every choice of k blocks for every small shape, each in a shuffled order;
// m = 1 covers both odd and even numbers of received originals.
TEST_F(CauchyDecoder, EveryErasurePatternOfSmallGroups) {
  std::mt19937 rng(17);
  for (int k = 1; k <= 6; ++k) {
    for (int m = 1; m <= 4; ++m) {
      const Coded g(k, m, 67);
      const int n = k + m;
      for (unsigned mask = 0; mask < (1u << n); ++mask) {
        if (std::popcount(mask) != k) continue;
        std::vector<int> indices;
        for (int i = 0; i < n; ++i) {
          if (mask & (1u << i)) indices.push_back(i);
        }
        std::shuffle(indices.begin(), indices.end(), rng);
        expect_restored(g, indices);
        if (HasFatalFailure() || HasFailure()) return;
      }
    }
  }
}

TEST_F(CauchyDecoder, SmallSampleInPlace) {
  Coded g(2, 2, 1);
  g.blocks[0][0] = 0x01;
  g.blocks[1][0] = 0x02;
  std::vector<void *> o{g.blocks[0].data(), g.blocks[1].data()};
  std::vector<void *> r{g.blocks[2].data(), g.blocks[3].data()};
  ASSERT_EQ(zvfec_encode(g.params, o.data(), r.data()), 0);
  auto s = g.select({2, 3});
  EXPECT_EQ(s.data[0][0], 0x03);
  EXPECT_EQ(s.data[1][0], 0xc6);
  ASSERT_EQ(zvfec_decode(g.params, s.descriptors.data()), 0);
  EXPECT_EQ(s.descriptors[0].Index, 0);
  EXPECT_EQ(s.data[0][0], 0x01);
  EXPECT_EQ(s.descriptors[1].Index, 1);
  EXPECT_EQ(s.data[1][0], 0x02);
}

TEST_F(CauchyDecoder, NothingMissingChangesNothing) {
  for (const std::vector<int> &indices : {std::vector<int>{0}, std::vector<int>{3, 1, 0, 2}}) {
    Coded g(static_cast<int>(indices.size()), 3, 30);
    auto s = g.select(indices);
    const auto before = s.data;
    ASSERT_EQ(zvfec_decode(g.params, s.descriptors.data()), 0);
    EXPECT_EQ(s.data, before);
    for (size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(s.descriptors[i].Index, indices[i]);
  }
}

// Random choices from large groups, where recovery indices run above 127 and
// up to 255, with up to min(k, m) missing originals.
TEST_F(CauchyDecoder, RandomSelectionsFromLargeGroups) {
  std::mt19937 rng(99);
  struct Shape {
    int k, m;
  };
  for (const Shape s : {Shape{128, 128}, Shape{200, 56}, Shape{30, 226}, Shape{250, 6}}) {
    const Coded g(s.k, s.m, 41);
    for (int trial = 0; trial < 6; ++trial) {
      std::vector<int> all(s.k + s.m);
      std::iota(all.begin(), all.end(), 0);
      std::shuffle(all.begin(), all.end(), rng);
      all.resize(s.k);
      if (trial == 0) {  // the highest recovery indices, all of them above 127
        all.clear();
        const int lost = std::min(s.k, s.m);
        for (int i = 0; i < s.k - lost; ++i) all.push_back(i + lost);
        for (int i = 0; i < lost; ++i) all.push_back(s.k + s.m - 1 - i);
      }
      expect_restored(g, all);
      if (HasFailure()) return;
    }
  }
}

// Large losses, restored over several passes, need no working memory: an
// allocation that would fail is never asked for.
TEST_F(CauchyDecoder, LargeLossesAllocateNothing) {
  const Coded g(60, 50, 33);
  for (const int lost : {9, 17, 50}) {
    std::vector<int> indices;
    for (int i = 0; i < lost; ++i) indices.push_back(60 + 49 - i);
    for (int i = lost; i < 60; ++i) indices.push_back(i);
    of_fail_nth_allocation(0);
    expect_restored(g, indices);
    EXPECT_EQ(of_fail_nth_allocation(-1), 0) << lost;
  }
}

TEST_F(CauchyDecoder, RefusalsChangeNothing) {
  struct Case {
    const char *what;
    cm256_encoder_params params;
    std::vector<int> indices;  // empty: blocks is null
    int code;
    const char *message;
  };
  const Case cases[] = {
      {"original twice", {3, 2, 10}, {0, 4, 0}, -5, "para err 3,2,10\n"},
      {"recovery twice", {3, 2, 10}, {3, 1, 3}, -5, "para err 3,2,10\n"},
      {"recovery beyond k+m", {3, 2, 10}, {0, 5, 1}, -5, "para err 3,2,10\n"},
      {"one original, index beyond k+m", {1, 2, 10}, {3}, -5, "para err 1,2,10\n"},
      {"no originals", {0, 2, 10}, {0, 1}, -1, "para err 0,2,10\n"},
      {"no recovery", {3, 0, 10}, {0, 1, 2}, -1, "para err 3,0,10\n"},
      {"no bytes", {3, 2, 0}, {0, 1, 2}, -1, "para err 3,2,0\n"},
      {"negative bytes", {3, 2, -4}, {0, 1, 2}, -1, "para err 3,2,-4\n"},
      {"group too large", {200, 57, 10}, {0, 1}, -2, ""},
      {"k whose sum with m overflows", {INT_MAX, 1, 10}, {0, 1}, -2, ""},
      {"m whose sum with k overflows", {2, INT_MAX, 10}, {0, 1}, -2, ""},
      {"null blocks", {3, 2, 10}, {}, -3, ""},
  };
  const Coded g(3, 3, 10);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto s = g.select(c.indices);
    const auto before = s.data;
    ::testing::internal::CaptureStdout();
    const int code = zvfec_decode(c.params, c.indices.empty() ? nullptr : s.descriptors.data());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(s.data, before);
    for (size_t i = 0; i < c.indices.size(); ++i) EXPECT_EQ(s.descriptors[i].Index, c.indices[i]);
  }
}

TEST_F(CauchyDecoder, OneOriginalGroupTakesIndexZero) {
  const Coded g(1, 3, 25);
  auto s = g.select({2});
  ASSERT_EQ(zvfec_decode(g.params, s.descriptors.data()), 0);
  EXPECT_EQ(s.descriptors[0].Index, 0);
  EXPECT_EQ(s.data[0], g.blocks[0]);
}

// Originals held at exactly their readable lengths (a read past one is caught
// by the address sanitizer) decode like zero-padded full blocks.
TEST_F(CauchyDecoder, BoundedOriginalsDecodeAsZeroPadded) {
  std::mt19937 rng(23);
  struct Shape {
    int k, m, bytes;
  };
  for (const Shape shape :
       {Shape{1, 2, 30}, Shape{4, 1, 70}, Shape{5, 1, 33}, Shape{6, 3, 130}, Shape{40, 10, 300}}) {
    for (int trial = 0; trial < 5; ++trial) {
      SCOPED_TRACE(::testing::Message() << shape.k << "+" << shape.m << " trial " << trial);
      const int k = shape.k, bb = shape.bytes;
      const cm256_encoder_params params{k, shape.m, bb};
      // Zero-padded originals of random lengths and their recovery blocks.
      std::vector<int> length(k);
      std::vector<Bytes> padded(k + shape.m, Bytes(bb, 0));
      for (int j = 0; j < k; ++j) {
        length[j] = trial == 0 ? bb : static_cast<int>(rng() % (bb + 1));
        for (int i = 0; i < length[j]; ++i) padded[j][i] = static_cast<uint8_t>(rng());
      }
      std::vector<void *> o, r;
      for (int j = 0; j < k; ++j) o.push_back(padded[j].data());
      for (int j = 0; j < shape.m; ++j) r.push_back(padded[k + j].data());
      ASSERT_EQ(zvfec_encode(params, o.data(), r.data()), 0);

      std::vector<int> chosen(k + shape.m);
      std::iota(chosen.begin(), chosen.end(), 0);
      std::shuffle(chosen.begin(), chosen.end(), rng);
      chosen.resize(k);

      std::vector<std::unique_ptr<uint8_t[]>> exact;
      std::vector<cm256_block> bounded, plain;
      std::vector<Bytes> plain_data;
      std::vector<int> lengths;
      plain_data.reserve(k);
      for (int index : chosen) {
        const int len = index < k ? length[index] : bb;
        exact.push_back(std::make_unique<uint8_t[]>(static_cast<size_t>(len)));
        std::memcpy(exact.back().get(), padded[index].data(), static_cast<size_t>(len));
        bounded.push_back({exact.back().get(), static_cast<uint8_t>(index), 0});
        lengths.push_back(len);
        plain_data.push_back(padded[index]);
        plain.push_back({plain_data.back().data(), static_cast<uint8_t>(index), 0});
      }
      ASSERT_EQ(zvfec_decode(params, plain.data()), 0);
      ASSERT_EQ(zvfec_decode_bounded(params, bounded.data(), lengths.data(), false), 0);
      for (int i = 0; i < k; ++i) {
        ASSERT_EQ(bounded[i].Index, plain[i].Index);
        const int idx = plain[i].Index;
        const Bytes got(exact[i].get(), exact[i].get() + lengths[i]);
        EXPECT_EQ(got, Bytes(padded[idx].begin(), padded[idx].begin() + lengths[i]));
        EXPECT_EQ(plain_data[i], padded[idx]);
      }
    }
  }
}

TEST_F(CauchyDecoder, BoundedRefusesBadLengths) {
  const Coded g(3, 2, 10);
  for (const std::vector<int> &lengths :
       {std::vector<int>{11, 10, 10}, std::vector<int>{-1, 10, 10}}) {
    auto s = g.select({0, 3, 4});
    const auto before = s.data;
    EXPECT_EQ(zvfec_decode_bounded(g.params, s.descriptors.data(), lengths.data(), false), -1);
    EXPECT_EQ(s.data, before);
  }
  auto s = g.select({0, 3, 4});
  EXPECT_EQ(zvfec_decode_bounded(g.params, s.descriptors.data(), nullptr, false), -3);
  // A recovery block's length entry is not used: it is always BlockBytes long.
  const std::vector<int> lengths{10, -7, 99};
  ASSERT_EQ(zvfec_decode_bounded(g.params, s.descriptors.data(), lengths.data(), false), 0);
  EXPECT_TRUE(validateSolution(s.descriptors.data(), 3, 10));
}

}  // namespace
