// The decoder record of one zvfec_decode call.
#pragma once

#include <cstdint>

#include "zvfec/cauchy.h"

struct CM256Decoder {
  cm256_encoder_params Params;
  cm256_block *Recovery[256];  // received recovery blocks, input order
  int RecoveryCount;           // N, also the number of missing originals
  cm256_block *Original[256];  // received originals, input order
  int OriginalCount;
  // The missing original indices in ascending order (N of them).
  uint8_t ErasuresIndices[256];
  int OriginalBytes[256];  // readable bytes of Original[i]; the rest count as zero

  // Sorts the k descriptors into originals and recovery blocks and lists the
  // missing indices. lengths, when given, holds the readable bytes of each
  // descriptor that is an original. False when an index occurs twice or a
  // recovery index is not below k + m; nothing is changed then.
  bool Initialize(const cm256_encoder_params &params, cm256_block *blocks,
                  const int *lengths = nullptr);
  // m = 1: the only recovery block is the XOR of all originals.
  void DecodeM1();
  // N >= 1 missing originals from N recovery blocks, without allocating.
  void Decode();
};
