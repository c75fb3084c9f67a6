// Cauchy decoder: works in place on the k descriptors it is given. Received
// originals are removed from the recovery blocks; the remaining square Cauchy
// sub-matrix is factorised as L * D * U from closed-form recurrences and
// solved by forward substitution, division by the diagonal and back
// substitution. Each recovery block used is overwritten with one missing
// original.
#include "cauchy/cauchy_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/cauchy_encoder.h"
#include "cauchy/gf256.h"
#include "gf/gf_kernels.h"
#include "session/diag.h"
#include "zvfec/codec_session.h"

namespace {

uint8_t *block_bytes(const cm256_block *b) { return static_cast<uint8_t *>(b->Block); }

struct FreeDeleter {
  void operator()(uint8_t *p) const { of_free(p); }
};

}  // namespace

bool CM256Decoder::Initialize(cm256_encoder_params params, cm256_block *blocks,
                              const int *lengths) {
  Params = params;
  OriginalCount = 0;
  RecoveryCount = 0;
  const int k = params.OriginalCount;
  const int n = k + params.RecoveryCount;
  std::memset(ErasuresIndices, 0, static_cast<size_t>(k));
  bool recoverySeen[256] = {};
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
      if (index >= n || recoverySeen[index]) return false;
      recoverySeen[index] = true;
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

bool CM256Decoder::Decode() {
  const int N = RecoveryCount;
  const int bb = Params.BlockBytes;
  const auto x_0 = static_cast<uint8_t>(Params.OriginalCount);
  const size_t matrixBytes = static_cast<size_t>(N) * static_cast<size_t>(N);

  // Taken before any block is touched, so that a failed allocation leaves the
  // blocks as they came.
  uint8_t stackMatrix[StackAllocSize];
  std::unique_ptr<uint8_t, FreeDeleter> dynamicMatrix;
  uint8_t *matrix = stackMatrix;
  if (matrixBytes > static_cast<size_t>(StackAllocSize)) {
    dynamicMatrix.reset(static_cast<uint8_t *>(of_malloc(matrixBytes)));
    if (!dynamicMatrix) return false;
    matrix = dynamicMatrix.get();
  }

  // Remove the received originals from the recovery blocks: up to eight
  // recovery blocks per pass over the originals once the tables are built,
  // one product at a time before (when every product is 0).
  const uint8_t *src[256];
  for (int o = 0; o < OriginalCount; ++o) src[o] = block_bytes(Original[o]);
  if (OriginalCount > 0 && gf256_tables_built()) {
    uint8_t coeff[kGfDotRows * 256];
    uint8_t *rows_out[kGfDotRows];
    for (int r0 = 0; r0 < N; r0 += kGfDotRows) {
      const int rows = std::min(kGfDotRows, N - r0);
      for (int r = 0; r < rows; ++r) {
        rows_out[r] = block_bytes(Recovery[r0 + r]);
        for (int o = 0; o < OriginalCount; ++o) {
          coeff[r * OriginalCount + o] =
              GetMatrixElement(Recovery[r0 + r]->Index, x_0, Original[o]->Index);
        }
      }
      gf256_dot_mem(rows_out, rows, src, OriginalBytes, OriginalCount, coeff, bb, true);
    }
  } else {
    for (int o = 0; o < OriginalCount; ++o) {
      const uint8_t y = Original[o]->Index;
      for (int i = 0; i < N; ++i) {
        gf256_muladd_mem(block_bytes(Recovery[i]), GetMatrixElement(Recovery[i]->Index, x_0, y),
                         src[o], OriginalBytes[o]);
      }
    }
  }

  const size_t triangle = static_cast<size_t>(N) * static_cast<size_t>(N - 1) / 2;
  uint8_t *matrix_U = matrix;
  uint8_t *diag_D = matrix_U + triangle;
  uint8_t *matrix_L = diag_D + N;
  GenerateLDUDecomposition(matrix_L, diag_D, matrix_U);

  const uint8_t *l = matrix_L;
  for (int j = 0; j < N - 1; ++j) {
    for (int i = j + 1; i < N; ++i) {
      gf256_muladd_mem(block_bytes(Recovery[i]), *l++, block_bytes(Recovery[j]), bb);
    }
  }
  for (int i = 0; i < N; ++i) {
    Recovery[i]->Index = ErasuresIndices[i];
    gf256_div_mem(block_bytes(Recovery[i]), block_bytes(Recovery[i]), diag_D[i], bb);
  }
  const uint8_t *u = matrix_U;
  for (int j = N - 1; j >= 1; --j) {
    for (int i = j - 1; i >= 0; --i) {
      gf256_muladd_mem(block_bytes(Recovery[i]), *u++, block_bytes(Recovery[j]), bb);
    }
  }
  return true;
}

void CM256Decoder::GenerateLDUDecomposition(uint8_t *matrix_L, uint8_t *diag_D, uint8_t *matrix_U) {
  const int N = RecoveryCount;
  const auto x_0 = static_cast<uint8_t>(Params.OriginalCount);
  uint8_t g[256], b[256];
  std::fill(g, g + N, uint8_t{1});
  std::fill(b, b + N, uint8_t{1});
  uint8_t rotated_row_U[256];
  // U is stored column by column from the last column back, each column from
  // its lowest row up; row k is produced whole, so it is scattered into place
  // walking back from the last byte of the area.
  const ptrdiff_t last_U = static_cast<ptrdiff_t>(N) * (N - 1) / 2 - 1;
  ptrdiff_t firstOffset_U = 0;

  for (int k = 0; k < N - 1; ++k) {
    const uint8_t x_k = Recovery[k]->Index;
    const uint8_t y_k = ErasuresIndices[k];
    const uint8_t D_kk = gf256_add(x_k, y_k);
    const uint8_t L_kk = gf256_div(g[k], D_kk);
    const uint8_t U_kk = gf256_mul(gf256_div(b[k], D_kk), gf256_add(y_k, x_0));
    diag_D[k] = gf256_mul(D_kk, gf256_mul(L_kk, U_kk));

    uint8_t *column_L = matrix_L;
    uint8_t *row_U = rotated_row_U;
    for (int j = k + 1; j < N; ++j) {
      const uint8_t x_j = Recovery[j]->Index;
      const uint8_t y_j = ErasuresIndices[j];
      *matrix_L++ = gf256_div(g[j], gf256_add(x_j, y_k));
      *row_U++ = gf256_div(b[j], gf256_add(x_k, y_j));
      g[j] = gf256_mul(g[j], gf256_div(gf256_add(x_j, x_k), gf256_add(x_j, y_k)));
      b[j] = gf256_mul(b[j], gf256_div(gf256_add(y_j, y_k), gf256_add(y_j, x_k)));
    }
    const int count = N - k - 1;
    gf256_div_mem(column_L, column_L, L_kk, count);
    gf256_div_mem(rotated_row_U, rotated_row_U, U_kk, count);

    ptrdiff_t p = last_U + firstOffset_U;
    for (int j = k + 1; j < N; ++j) {
      matrix_U[p] = rotated_row_U[j - k - 1];
      p -= j;
    }
    firstOffset_U -= k + 2;
  }

  uint8_t *column = matrix_U;
  for (int i = N - 1; i >= 1; --i) {
    gf256_mul_mem(column, column, gf256_add(x_0, ErasuresIndices[i]), i);
    column += i;
  }

  const int n = N - 1;
  const uint8_t L_nn = g[n];
  const uint8_t U_nn = gf256_mul(b[n], gf256_add(x_0, ErasuresIndices[n]));
  diag_D[n] = gf256_div(gf256_mul(L_nn, U_nn), gf256_add(Recovery[n]->Index, ErasuresIndices[n]));
}

namespace {

// `report`: print the block-codec API's messages for its direct callers; the
// media path passes false, since it never writes to the standard streams.
int decode(cm256_encoder_params params, cm256_block *blocks, const int *lengths, bool report) {
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
  return decoder.Decode() ? 0 : -4;
}

}  // namespace

int zvfec_decode_bounded(cm256_encoder_params params, cm256_block *blocks, const int *lengths,
                         bool report) {
  if (lengths == nullptr) {
    const int check = cm256_check_params(params);
    return check != 0 ? check : -3;
  }
  return decode(params, blocks, lengths, report);
}

extern "C" int zvfec_decode(cm256_encoder_params params, cm256_block *blocks) {
  return decode(params, blocks, nullptr, true);
}
