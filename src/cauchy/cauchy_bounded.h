// Codec entry points for originals that may be shorter than the block size.
// A received media packet is untrusted and may end before BlockBytes; these
// forms read such an original only up to its stated length and treat the
// rest as zeros, without allocating. With every length equal to BlockBytes
// they give exactly the results of zvfec_encode and zvfec_decode (which are
// built on the same code).
#pragma once

#include <cstdint>

#include "zvfec/cauchy.h"

// Like zvfec_encode, but original j is readable only for lengths[j] bytes
// (0 <= lengths[j] <= BlockBytes); its bytes beyond that count as zero and are
// never read. Recovery blocks are written over their full BlockBytes.
// Codes of zvfec_encode, plus -3 when lengths is null and -1 when a length is
// outside 0 .. BlockBytes; on failure nothing is written.
int zvfec_encode_bounded(cm256_encoder_params params, void **originals, const int *lengths,
                         void **recoveryBlocks);

// The recovery blocks of indices first .. first + count - 1 (k <= first,
// count >= 1, first + count <= k + m) into out[0 .. count), from originals
// read as zvfec_encode_bounded reads them, each written over its full
// BlockBytes: the same bytes as those blocks of zvfec_encode_bounded. Codes of
// zvfec_encode_bounded, and -1 for rows outside the recovery blocks.
int zvfec_encode_rows_bounded(const cm256_encoder_params &params, const uint8_t *const *originals,
                              const int *lengths, int first, int count, uint8_t *const *out);

// Like zvfec_decode, but a block blocks[i] that holds an original (Index < k)
// is readable only for lengths[i] bytes (bytes beyond count as zero, never
// read); recovery blocks are BlockBytes long and receive the full BlockBytes
// of the original they are turned into. Codes of zvfec_decode, plus -3 when
// lengths is null and -1 when an original's length is outside 0 .. BlockBytes;
// on failure no block is changed. `report` prints the block-codec API's
// "para err" messages for its direct callers; the media path passes false.
int zvfec_decode_bounded(const cm256_encoder_params &params, cm256_block *blocks,
                         const int *lengths, bool report);
