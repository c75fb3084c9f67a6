// Cauchy decoder: works in place on the k descriptors it is given. The missing
// originals are sums of products of the received blocks, with the
// coefficients of the inverse Cauchy sub-matrix in closed form, so a decode
// costs the encoder's multiply-accumulates and stores no matrix. Each pass
// over the received blocks restores up to eight missing originals, each
// written over a recovery block that the pass itself reads; after it, the
// originals it restored count as received and the rest form a smaller system
// of the same kind.
//
// With recovery points X, missing points Y and received points Z (x_0 = k,
// c(t) = t + x_0, a(t) = prod over X of (t + x), b(t) = prod over Y of
// (t + y), a' and b' the same products without the factor that vanishes),
// missing original y_i is
//   F_i * (sum over x in X of W(x) / (x + y_i) * R_x
//          + sum over z in Z of W(z) / (z + y_i) * O_z)
// with F_i = a(y_i) / (b'(y_i) c(y_i)), W(x) = b(x) / a'(x) and
// W(z) = b(z) c(z) / a(z). Products are sums of logarithms.
#include "cauchy/cauchy_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/cauchy_encoder.h"
#include "cauchy/gf256.h"
#include "gf/gf_kernels.h"
#include "session/diag.h"
#include "zvfec/codec_session.h"

namespace {

uint8_t *block_bytes(const cm256_block *b) { return static_cast<uint8_t *>(b->Block); }

// At most this many missing originals: no more than k, no more than m.
constexpr int kMaxMissing = 128;
// Sums of at most kMaxMissing logarithms (each at most 255) stay below this
// multiple of 255, so that adding it keeps a difference of them positive.
constexpr unsigned kLogSumBound = kMaxMissing * 255;

}  // namespace

bool CM256Decoder::Initialize(const cm256_encoder_params &params, cm256_block *blocks,
                              const int *lengths) {
  Params = params;
  OriginalCount = 0;
  RecoveryCount = 0;
  const int k = params.OriginalCount;
  const int n = k + params.RecoveryCount;
  std::memset(ErasuresIndices, 0, static_cast<size_t>(k));
  uint64_t recoverySeen[4] = {};  // one bit per block index
  for (int i = 0; i < k; ++i) {
    const int index = blocks[i].Index;
    if (index < k) {
      if (ErasuresIndices[index] != 0) return false;
      ErasuresIndices[index] = 1;
      OriginalBytes[OriginalCount] = lengths != nullptr ? lengths[i] : params.BlockBytes;
      Original[OriginalCount++] = &blocks[i];
    } else {
      // A repeated recovery index makes the sub-matrix singular and one beyond
      // k + m was never produced by the encoder: either would decode to wrong
      // data reported as success.
      const uint64_t bit = uint64_t{1} << (index & 63);
      if (index >= n || (recoverySeen[index >> 6] & bit) != 0) return false;
      recoverySeen[index >> 6] |= bit;
      Recovery[RecoveryCount++] = &blocks[i];
    }
  }
  int written = 0;
  for (int index = 0; index < k && written < RecoveryCount; ++index) {
    if (ErasuresIndices[index] == 0) ErasuresIndices[written++] = static_cast<uint8_t>(index);
  }
  return true;
}

void CM256Decoder::DecodeM1() {
  uint8_t *out = block_bytes(Recovery[0]);
  int i = 0;
  for (; i + 1 < OriginalCount; i += 2) {
    const uint8_t *a = block_bytes(Original[i]);
    const uint8_t *b = block_bytes(Original[i + 1]);
    const int la = OriginalBytes[i], lb = OriginalBytes[i + 1];
    const int common = std::min(la, lb);
    gf256_add2_mem(out, a, b, common);
    if (la > lb) {
      gf256_add_mem(out + common, a + common, la - common);
    } else {
      gf256_add_mem(out + common, b + common, lb - common);
    }
  }
  if (i < OriginalCount) gf256_add_mem(out, block_bytes(Original[i]), OriginalBytes[i]);
  Recovery[0]->Index = ErasuresIndices[0];
}

void CM256Decoder::Decode() {
  const int N = RecoveryCount;
  const int bb = Params.BlockBytes;
  const unsigned x_0 = static_cast<unsigned>(Params.OriginalCount);
  // Logarithms of nonzero elements are 1 .. 255 (1 has 255), so that sums of
  // them are reduced once; the exp table serves any logarithm below 510.
  const uint16_t *log = GF256Ctx.GF256_LOG_TABLE;
  const uint8_t *exp = GF256Ctx.GF256_EXP_TABLE;
  // Every point of the group has a slot: recovery block j in slot j, missing
  // original i (restored into recovery block i) in slot N + i, received
  // original o in slot 2N + o; N + k <= 256 slots.
  const int slots = 2 * N + OriginalCount;
  uint8_t point[256];
  for (int j = 0; j < N; ++j) {
    point[j] = Recovery[j]->Index;
    point[N + j] = ErasuresIndices[j];
  }
  for (int o = 0; o < OriginalCount; ++o) point[2 * N + o] = Original[o]->Index;
  // Logarithms of a and b at each slot's point for each pass: over the
  // recovery points and missing points from the pass's first on and without
  // the slot's own factor (taken in as the logarithm of 0, then taken out),
  // built from the last pass back.
  const int passes = (N + kGfDotRows - 1) / kGfDotRows;
  uint16_t log_a[kMaxMissing / kGfDotRows][256];
  uint16_t log_b[kMaxMissing / kGfDotRows][256];
  for (int p = passes - 1; p >= 0; --p) {
    const int first = p * kGfDotRows;
    const int end = std::min(N, first + kGfDotRows);
    const bool last = p == passes - 1;
    // Both sums in one word: a in the low half, b in the high half (each
    // stays below 2^16).
    for (int s = 0; s < slots; ++s) {
      const unsigned t = point[s];
      uint32_t sums = last ? 0 : log_a[p + 1][s] | uint32_t{log_b[p + 1][s]} << 16;
      for (int j = first; j < end; ++j)
        sums += log[t ^ point[j]] | uint32_t{log[t ^ point[N + j]]} << 16;
      log_a[p][s] = static_cast<uint16_t>(sums);
      log_b[p][s] = static_cast<uint16_t>(sums >> 16);
    }
    for (int j = first; j < end; ++j) {
      log_a[p][j] = static_cast<uint16_t>(log_a[p][j] - log[0]);
      log_b[p][N + j] = static_cast<uint16_t>(log_b[p][N + j] - log[0]);
    }
  }

  const uint8_t *src[256];
  int lengths[256];
  uint8_t src_point[256];
  unsigned log_w[256];
  uint8_t coeff[kGfDotRows * 256];
  uint8_t *out[kGfDotRows];
  for (int p = 0; p < passes; ++p) {
    const int first = p * kGfDotRows;
    const int rows = std::min(kGfDotRows, N - first);
    const uint16_t *la = log_a[p];
    const uint16_t *lb = log_b[p];
    // The sources, k of them, each with the logarithm of its W: the recovery
    // blocks not yet overwritten, the originals restored so far, the
    // received originals.
    int count = 0;
    for (int s = first; s < N; ++s) {
      src[count] = block_bytes(Recovery[s]);
      lengths[count] = bb;
      src_point[count] = point[s];
      log_w[count++] = (lb[s] + kLogSumBound - la[s]) % 255;
    }
    auto add_original = [&](int s, const uint8_t *data, int length) {
      src[count] = data;
      lengths[count] = length;
      src_point[count] = point[s];
      log_w[count++] = (lb[s] + log[point[s] ^ x_0] + kLogSumBound - la[s]) % 255;
    };
    for (int i = 0; i < first; ++i) add_original(N + i, block_bytes(Recovery[i]), bb);
    for (int o = 0; o < OriginalCount; ++o)
      add_original(2 * N + o, block_bytes(Original[o]), OriginalBytes[o]);
    for (int r = 0; r < rows; ++r) {
      const int s = N + first + r;
      const unsigned y = point[s];
      const unsigned log_f = (la[s] + kLogSumBound + 255 - lb[s] - log[y ^ x_0]) % 255;
      uint8_t *row = coeff + r * count;
      for (int c = 0; c < count; ++c) {
        unsigned fw = log_f + log_w[c];
        if (fw >= 255) fw -= 255;
        row[c] = exp[fw + 255 - log[src_point[c] ^ y]];
      }
      out[r] = block_bytes(Recovery[first + r]);
    }
    // Each output is one of the sources: the kernels read a column of every
    // source before they write it.
    gf256_dot_mem(out, rows, src, lengths, count, coeff, bb, false);
    for (int r = 0; r < rows; ++r) Recovery[first + r]->Index = ErasuresIndices[first + r];
  }
}

namespace {

// `report`: print the block-codec API's messages for its direct callers; the
// media path passes false, since it never writes to the standard streams.
int decode(const cm256_encoder_params &params, cm256_block *blocks, const int *lengths,
           bool report) {
  const int k = params.OriginalCount;
  const int check = cm256_check_params(params);
  if (check == -1 && report) {
    of_diag(stdout, "para err %d,%d,%d\n", params.OriginalCount, params.RecoveryCount,
            params.BlockBytes);
  }
  if (check != 0) return check;
  if (blocks == nullptr) return -3;
  if (lengths != nullptr) {
    for (int i = 0; i < k; ++i) {
      if (blocks[i].Index < k && (lengths[i] < 0 || lengths[i] > params.BlockBytes)) return -1;
    }
  }
  CM256Decoder decoder;
  if (!decoder.Initialize(params, blocks, lengths)) {
    if (report)
      of_diag(stdout, "para err %d,%d,%d\n", params.OriginalCount, params.RecoveryCount,
              params.BlockBytes);
    return -5;
  }
  if (k == 1) {
    // Every block of a one-original group is a copy of that original.
    blocks[0].Index = 0;
    return 0;
  }
  if (decoder.RecoveryCount == 0) return 0;
  if (params.RecoveryCount == 1) {
    decoder.DecodeM1();
    return 0;
  }
  decoder.Decode();
  return 0;
}

}  // namespace

int zvfec_decode_bounded(const cm256_encoder_params &params, cm256_block *blocks,
                         const int *lengths, bool report) {
  if (lengths == nullptr) {
    const int check = cm256_check_params(params);
    return check != 0 ? check : -3;
  }
  return decode(params, blocks, lengths, report);
}

extern "C" int zvfec_decode(cm256_encoder_params params, cm256_block *blocks) {
  return decode(params, blocks, nullptr, true);
}
