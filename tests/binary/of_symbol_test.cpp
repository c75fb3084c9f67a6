#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "binary/of_symbol.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes random_bytes(std::mt19937 &rng, size_t n) {
  Bytes b(n);
  for (auto &x : b) x = static_cast<unsigned char>(rng());
  return b;
}

// Sizes around the word and block boundaries, at offsets that leave the
// symbols unaligned; bytes past the size must stay untouched.
TEST(SymbolXor, MatchesBytewiseXorAtEverySizeAndAlignment) {
  std::mt19937 rng(1);
  for (uint32_t size :
       {0u, 1u, 3u, 4u, 7u, 8u, 9u, 31u, 32u, 33u, 63u, 64u, 65u, 72u, 100u, 1027u}) {
    for (size_t offset : {0u, 1u, 3u}) {
      Bytes to = random_bytes(rng, size + offset + 8);
      std::vector<Bytes> from;
      for (int i = 0; i < 3; ++i) from.push_back(random_bytes(rng, size + offset + 8));
      Bytes want = to;
      for (const Bytes &f : from)
        for (uint32_t i = 0; i < size; ++i) want[offset + i] ^= f[offset + i];
      const void *sources[3] = {from[0].data() + offset, from[1].data() + offset,
                                from[2].data() + offset};
      Bytes single = to;
      of_add_to_symbol(single.data() + offset, sources[0], size);
      of_add_from_multiple_symbols(single.data() + offset, sources + 1, 2, size);
      EXPECT_EQ(single, want) << size << " at " << offset;

      // One source into several targets.
      std::vector<Bytes> targets = {to, from[1], from[2]};
      std::vector<Bytes> expected = targets;
      for (Bytes &t : expected)
        for (uint32_t i = 0; i < size; ++i) t[offset + i] ^= from[0][offset + i];
      void *dst[3] = {targets[0].data() + offset, targets[1].data() + offset,
                      targets[2].data() + offset};
      of_add_to_multiple_symbols(dst, sources[0], 3, size);
      EXPECT_EQ(targets, expected) << size << " at " << offset;
    }
  }
}

// A sum collects its inputs one at a time and XORs them in by batches: the
// counts around the batch size, with and without the output's own content,
// and no input at all, which leaves a non-accumulating output zero.
TEST(SymbolSum, EqualsTheBytewiseSumAcrossBatches) {
  std::mt19937 rng(2);
  const uint32_t size = 100;
  for (uint32_t count : {0u, 1u, 63u, 64u, 65u, 130u}) {
    std::vector<Bytes> from;
    for (uint32_t i = 0; i < count; ++i) from.push_back(random_bytes(rng, size + 1));
    for (bool accumulate : {false, true}) {
      Bytes to = random_bytes(rng, size + 9);
      Bytes want = to;
      for (uint32_t b = 0; b < size; ++b) {
        if (!accumulate) want[1 + b] = 0;
        for (const Bytes &f : from) want[1 + b] ^= f[1 + b];
      }
      of_symbol_sum sum(to.data() + 1, size, accumulate);
      for (const Bytes &f : from) sum.add(f.data() + 1);
      sum.finish();
      EXPECT_EQ(to, want) << count << (accumulate ? " accumulated" : "");
    }
  }
}

}  // namespace
