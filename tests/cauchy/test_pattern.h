// The block test pattern of the Cauchy tests: byte j of original i is
// (i + 13 j) mod 256, so that a block restored with the wrong contents or
// under the wrong Index shows.
#pragma once

#include <cstdint>

#include "zvfec/cauchy.h"

// Fills the first blockCount descriptors' blocks, blockBytes bytes each, with
// the pattern of their position i.
inline void initializeBlocks(cm256_block *originals, int blockCount, int blockBytes) {
  for (int i = 0; i < blockCount; ++i) {
    auto *p = static_cast<uint8_t *>(originals[i].Block);
    for (int j = 0; j < blockBytes; ++j) p[j] = static_cast<uint8_t>(i + 13 * j);
  }
}

// True when every Index is below blockCount, none occurs twice and every block
// holds the pattern of its Index.
inline bool validateSolution(const cm256_block *blocks, int blockCount, int blockBytes) {
  bool seen[256] = {};
  for (int i = 0; i < blockCount; ++i) {
    const int index = blocks[i].Index;
    if (index >= blockCount || seen[index]) return false;
    seen[index] = true;
    const auto *p = static_cast<const uint8_t *>(blocks[i].Block);
    for (int j = 0; j < blockBytes; ++j) {
      if (p[j] != static_cast<uint8_t>(index + 13 * j)) return false;
    }
  }
  return true;
}
