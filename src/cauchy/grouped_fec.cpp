// Grouped recovery packets: a front end to the Cauchy codec for groups of
// packets of varying length.
#include "cauchy/grouped_fec.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "session/diag.h"
#include "zvfec/cauchy.h"

namespace {

int encoder_refused() {
  of_diag(stdout, "fec enc err\n");
  return -1;
}

// Writes everything of packet i but the block, which the codec has already
// put at its offset.
void write_packet_frame(uint8_t *packet, int maxlen, int k, int m, int i) {
  const int size = maxlen + 2;
  const int size_bytes = grouped_size_bytes(maxlen);
  packet[0] = kGroupedNalHeader;
  packet[1] = kGroupedPayloadType;
  std::memset(packet + 2, 0xFF, static_cast<size_t>(size_bytes - 1));
  packet[1 + size_bytes] = static_cast<uint8_t>(size % 255);
  uint8_t *trailer = packet + grouped_block_offset(maxlen) + maxlen;
  trailer[0] = static_cast<uint8_t>(k);
  trailer[1] = static_cast<uint8_t>(m);
  trailer[2] = static_cast<uint8_t>(k + i);
}

int decoder_refused(int code, const cm256_encoder_params &params) {
  of_diag(stdout, "para err %d,%d,%d\n", params.OriginalCount, params.RecoveryCount,
          params.BlockBytes);
  return code;
}

}  // namespace

extern "C" int zvfec_encoder_sei(ZVFEC_BLOCK *block) {
  if (block == nullptr) return encoder_refused();
  const int k = block->datanum;
  const int m = block->checknum;
  if (k <= 0 || m <= 0 || k > kGroupedMaxCount || m > kGroupedMaxCount) return encoder_refused();
  int maxlen = 0;
  for (int i = 0; i < k; ++i) maxlen = std::max(maxlen, static_cast<int>(block->length[i]));
  if (maxlen <= 0 || maxlen > kGroupedMaxLength) return encoder_refused();
  for (int i = 0; i < k + m; ++i) {
    if (block->pdata[i] == nullptr) return encoder_refused();
  }

  // The codec writes each recovery block straight into its packet, at the
  // offset behind the size bytes; no scratch copy is needed.
  void *originals[kGroupedMaxCount];
  void *recovery[kGroupedMaxCount];
  for (int i = 0; i < k; ++i) originals[i] = block->pdata[i];
  for (int i = 0; i < m; ++i) recovery[i] = block->pdata[k + i] + grouped_block_offset(maxlen);
  if (zvfec_encode({k, m, maxlen}, originals, recovery) != 0) return encoder_refused();
  for (int i = 0; i < m; ++i) write_packet_frame(block->pdata[k + i], maxlen, k, m, i);
  return 0;
}

extern "C" int zvfec_decode_sei(ZVFEC_BLOCK *block) {
  if (block == nullptr) return -3;
  const int k = block->datanum;
  const int m = block->checknum;

  // The block size is the length of the last recovery slot. Without one,
  // nothing is missing and no block byte is touched, so slot 0's length
  // serves. Only the record's 256 slots are looked at, whatever k claims.
  const int slots = std::clamp(k, 0, 256);
  int block_bytes = slots > 0 ? block->length[0] : 0;
  for (int i = 0; i < slots; ++i) {
    if (block->index[i] >= k) block_bytes = block->length[i];
  }
  const cm256_encoder_params params{k, m, block_bytes};
  if (k <= 0 || m <= 0 || block_bytes <= 0) return decoder_refused(-1, params);
  // Compared one by one so that huge counts cannot overflow the sum.
  if (k > 256 || m > 256 || k + m > 256) return -2;

  cm256_block descriptors[256];
  int lengths[256];
  for (int i = 0; i < k; ++i) {
    const int index = block->index[i];
    const int length = block->length[i];
    if (block->pdata[i] == nullptr) return -3;
    if (index < 0 || index >= k + m) return decoder_refused(-5, params);
    // A recovery slot receives block_bytes bytes of a rebuilt original; an
    // original is read only within its length and counts as zeros beyond.
    if (index >= k && length < block_bytes) return decoder_refused(-1, params);
    descriptors[i] = {block->pdata[i], static_cast<unsigned char>(index), 0};
    lengths[i] = std::min(length, block_bytes);
  }
  const int result = zvfec_decode_bounded(params, descriptors, lengths, true);
  for (int i = 0; i < k; ++i) block->index[i] = descriptors[i].Index;
  return result;
}
