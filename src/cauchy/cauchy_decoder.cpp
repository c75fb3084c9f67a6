// Cauchy decoder: works in place on the k descriptors it is given. The missing
// originals are sums of products of the received blocks, with the
// coefficients of the inverse Cauchy sub-matrix in closed form, so a decode
// costs the encoder's multiply-accumulates and stores no matrix. Each pass
// over the received blocks restores up to eight missing originals, each
// written over a recovery block that the pass itself reads; after it, the
// originals it restored count as received.
#include "cauchy/cauchy_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/cauchy_encoder.h"
#include "cauchy/gf256.h"
#include "gf/gf_cauchy_solve.h"
#include "gf/gf_kernels.h"
#include "session/diag.h"
#include "zvfec/codec_session.h"

namespace {

uint8_t *block_bytes(const cm256_block *b) { return static_cast<uint8_t *>(b->Block); }

}  // namespace

namespace {

// Sorts the k descriptors into the decoder with one bit per block index seen,
// in Words words (1 while k + m <= 64, so that the bits stay in a register).
// A repeated index (an original twice, or a recovery block twice, which makes
// the sub-matrix singular) and a recovery index beyond k + m (never produced
// by the encoder) would decode to wrong data reported as success.
template <int Words>
bool sort_blocks(CM256Decoder &d, cm256_block *blocks, const int *lengths) {
  const int k = d.Params.OriginalCount;
  const int n = k + d.Params.RecoveryCount;
  uint64_t seen[Words] = {};
  int originals = 0, recoveries = 0;
  for (int i = 0; i < k; ++i) {
    const int index = blocks[i].Index;
    if (index >= n) return false;
    const int word = Words == 1 ? 0 : index >> 6;
    const uint64_t bit = uint64_t{1} << (index & 63);
    if ((seen[word] & bit) != 0) return false;
    seen[word] |= bit;
    if (index < k) {
      d.OriginalBytes[originals] = lengths != nullptr ? lengths[i] : d.Params.BlockBytes;
      d.Original[originals++] = &blocks[i];
    } else {
      d.Recovery[recoveries++] = &blocks[i];
    }
  }
  d.OriginalCount = originals;
  d.RecoveryCount = recoveries;
  int written = 0;
  for (int index = 0; index < k && written < recoveries; ++index) {
    if ((seen[Words == 1 ? 0 : index >> 6] >> (index & 63) & 1) == 0)
      d.ErasuresIndices[written++] = static_cast<uint8_t>(index);
  }
  return true;
}

}  // namespace

bool CM256Decoder::Initialize(const cm256_encoder_params &params, cm256_block *blocks,
                              const int *lengths) {
  Params = params;
  OriginalCount = 0;
  RecoveryCount = 0;
  return params.OriginalCount + params.RecoveryCount <= 64 ? sort_blocks<1>(*this, blocks, lengths)
                                                           : sort_blocks<4>(*this, blocks, lengths);
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
  // Recovery block x is the sum over the originals t of (t + x_0) / (x + t)
  // times O_t: a Cauchy code with sigma(t) = t + x_0 and rho = 1. Missing
  // original i is restored into recovery block i.
  const gf_solve_field &field = gf_solve_field_14d();
  const uint8_t *log = field.log;
  uint8_t point[256], offset[256];
  for (int j = 0; j < N; ++j) {
    point[j] = Recovery[j]->Index;
    offset[j] = 0;
  }
  uint8_t *const missing = point + N + OriginalCount;
  uint8_t *const missing_offset = offset + N + OriginalCount;
  for (int o = 0; o < OriginalCount; ++o) {
    point[N + o] = Original[o]->Index;
    offset[N + o] = log[point[N + o] ^ x_0];
  }
  for (int j = 0; j < N; ++j) {
    missing[j] = ErasuresIndices[j];
    missing_offset[j] = log[missing[j] ^ x_0];
  }
  gf_cauchy_solve solve;
  solve.prepare(field, N, OriginalCount, point, offset);

  // Pass p's sources in the solve's order: the recovery blocks not yet
  // overwritten, the received originals, the originals restored so far.
  const uint8_t *src[256];
  int lengths[256];
  uint8_t coeff[gf_cauchy_solve::kRowsPerPass * 256];
  uint8_t *out[gf_cauchy_solve::kRowsPerPass];
  for (int p = 0; p < solve.passes(); ++p) {
    const int first = p * gf_cauchy_solve::kRowsPerPass;
    const int rows = std::min(gf_cauchy_solve::kRowsPerPass, N - first);
    int count = 0;
    auto add = [&](const cm256_block *b, int length) {
      src[count] = block_bytes(b);
      lengths[count++] = length;
    };
    for (int j = first; j < N; ++j) add(Recovery[j], bb);
    for (int o = 0; o < OriginalCount; ++o) add(Original[o], OriginalBytes[o]);
    for (int i = 0; i < first; ++i) add(Recovery[i], bb);
    solve.coefficients(p, first, first + rows, coeff);
    for (int r = 0; r < rows; ++r) out[r] = block_bytes(Recovery[first + r]);
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
