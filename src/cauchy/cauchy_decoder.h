// The decoder record of one zvfec_decode call.
#pragma once

#include <cstdint>

#include "zvfec/cauchy.h"

// Up to this many bytes (45 x 45 fits, 46 x 46 does not) the N x N working
// matrix lives in the decoding call's own frame; above it comes from
// of_malloc, like the rest of the library's working memory.
constexpr int StackAllocSize = 2048;

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
