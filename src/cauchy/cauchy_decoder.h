// The decoder record of one zvfec_decode call and the block test pattern.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zvfec/cauchy.h"

// Up to this many bytes (45 x 45 fits, 46 x 46 does not) the N x N working
// matrix lives in the decoding call's own frame; above it is allocated.
constexpr int StackAllocSize = 2048;

// Allocation of a working matrix larger than StackAllocSize; std::malloc
// unless a test replaces it to exercise the failure path.
using cm256_matrix_alloc_fn = void *(*)(size_t bytes);
extern cm256_matrix_alloc_fn cm256_matrix_allocator;

struct CM256Decoder {
  cm256_encoder_params Params;
  cm256_block *Recovery[256];  // received recovery blocks, input order
  int RecoveryCount;           // N, also the number of missing originals
  cm256_block *Original[256];  // received originals, input order
  int OriginalCount;
  // First a received-mark per original index, then, compacted, the missing
  // original indices in ascending order.
  uint8_t ErasuresIndices[256];
  int OriginalBytes[256];  // readable bytes of Original[i]; the rest count as zero

  // Sorts the k descriptors into originals and recovery blocks and lists the
  // missing indices. lengths, when given, holds the readable bytes of each
  // descriptor that is an original. False when an index occurs twice or a
  // recovery index is not below k + m; nothing is changed then.
  bool Initialize(cm256_encoder_params params, cm256_block *blocks, const int *lengths = nullptr);
  // m = 1: the only recovery block is the XOR of all originals.
  void DecodeM1();
  // N >= 1 missing originals from N recovery blocks. False, with no block
  // changed, when the working matrix cannot be allocated.
  bool Decode();
  // Factorises the N x N matrix a(x_i, y_j) as L * D * U into the three
  // areas, each in the order in which Decode's substitutions consume it.
  void GenerateLDUDecomposition(uint8_t *matrix_L, uint8_t *diag_D, uint8_t *matrix_U);
};

// Test pattern: byte j of original i is (i + 13 j) mod 256.
void initializeBlocks(cm256_block *originals, int blockCount, int blockBytes);
// True when every Index is below blockCount, none occurs twice and every block
// holds the pattern of its Index.
bool validateSolution(const cm256_block *blocks, int blockCount, int blockBytes);
