// Cauchy encoder: recovery block x_i is the sum over the originals O_j of
// a(x_i, j) * O_j. Pass by pass, each recovery block is built in k passes and
// the first pass writes it, so it is never cleared separately; where a vector
// kernel serves, one pass over the originals builds eight recovery blocks.
#include <algorithm>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/cauchy_encoder.h"
#include "cauchy/gf256.h"
#include "gf/gf_kernels.h"
#include "zvfec/cauchy.h"

namespace {

// Builds one recovery block over `bytes` bytes from k originals, original j
// readable for len[j] <= bytes bytes; its bytes beyond count as zero and are
// never read. Every byte of the recovery block is written.
void encode_one(int k, int bytes, const uint8_t *const *src, const int *len, int recoveryBlockIndex,
                uint8_t *out) {
  if (k == 1) {
    std::memcpy(out, src[0], static_cast<size_t>(len[0]));
    std::memset(out + len[0], 0, static_cast<size_t>(bytes - len[0]));
    return;
  }
  if (recoveryBlockIndex == k) {
    // The first recovery row is all ones: plain XOR parity, no products.
    const int common = std::min(len[0], len[1]);
    const int longer = len[0] > len[1] ? 0 : 1;
    gf256_addset_mem(out, src[0], src[1], common);
    std::memcpy(out + common, src[longer] + common, static_cast<size_t>(len[longer] - common));
    std::memset(out + len[longer], 0, static_cast<size_t>(bytes - len[longer]));
    for (int j = 2; j < k; ++j) gf256_add_mem(out, src[j], len[j]);
    return;
  }
  const auto x_0 = static_cast<uint8_t>(k);
  const auto x_i = static_cast<uint8_t>(recoveryBlockIndex);
  gf256_mul_mem(out, src[0], GetMatrixElement(x_i, x_0, 0), len[0]);
  std::memset(out + len[0], 0, static_cast<size_t>(bytes - len[0]));
  for (int j = 1; j < k; ++j) {
    gf256_muladd_mem(out, GetMatrixElement(x_i, x_0, static_cast<uint8_t>(j)), src[j], len[j]);
  }
}

// The m recovery blocks of indices first .. first + m - 1 from k originals of
// `bytes` bytes. Once the tables are built, up to eight recovery blocks come
// from each pass over the originals; before, every product is 0 and the blocks
// are built pass by pass, the first as plain XOR parity.
void encode_rows(int k, int first, int m, int bytes, const uint8_t *const *src, const int *len,
                 uint8_t *const *out) {
  if (k > 1 && gf256_tables_built()) {
    uint8_t coeff[kGfDotRows * 256];
    for (int r0 = 0; r0 < m; r0 += kGfDotRows) {
      const int rows = std::min(kGfDotRows, m - r0);
      for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < k; ++j) {
          coeff[r * k + j] = GetMatrixElement(static_cast<uint8_t>(first + r0 + r),
                                              static_cast<uint8_t>(k), static_cast<uint8_t>(j));
        }
      }
      gf256_dot_mem(out + r0, rows, src, len, k, coeff, bytes, false);
    }
    return;
  }
  for (int r = 0; r < m; ++r) encode_one(k, bytes, src, len, first + r, out[r]);
}

// All m recovery blocks.
void encode_all(const cm256_encoder_params &params, const uint8_t *const *src, const int *len,
                uint8_t *const *out) {
  encode_rows(params.OriginalCount, params.OriginalCount, params.RecoveryCount, params.BlockBytes,
              src, len, out);
}

// The checks shared by every encoding entry point, then the encoding of
// original(j) with lengths (null: BlockBytes each) into recovery(r).
template <typename Original, typename Recovery>
int encode_checked(const cm256_encoder_params &params, bool have_arrays, Original original,
                   const int *lengths, Recovery recovery) {
  const int check = cm256_check_params(params);
  if (check != 0) return check;
  if (!have_arrays) return -3;
  const uint8_t *src[256];
  int len[256];
  uint8_t *out[256];
  for (int j = 0; j < params.OriginalCount; ++j) {
    src[j] = original(j);
    len[j] = lengths != nullptr ? lengths[j] : params.BlockBytes;
  }
  for (int r = 0; r < params.RecoveryCount; ++r) out[r] = recovery(r);
  encode_all(params, src, len, out);
  return 0;
}

int encode_pointers(const cm256_encoder_params &params, void **originals, const int *lengths,
                    void **recoveryBlocks) {
  return encode_checked(
      params, originals != nullptr && recoveryBlocks != nullptr,
      [originals](int j) { return static_cast<const uint8_t *>(originals[j]); }, lengths,
      [recoveryBlocks](int r) { return static_cast<uint8_t *>(recoveryBlocks[r]); });
}

const uint8_t *as_bytes(const void *p) { return static_cast<const uint8_t *>(p); }

// One recovery block from full-length originals, pass by pass.
template <typename Original>
void encode_single(const cm256_encoder_params &params, Original original, int recoveryBlockIndex,
                   void *recoveryBlock) {
  const uint8_t *src[256];
  int len[256];
  for (int j = 0; j < params.OriginalCount; ++j) {
    src[j] = original(j);
    len[j] = params.BlockBytes;
  }
  encode_one(params.OriginalCount, params.BlockBytes, src, len, recoveryBlockIndex,
             static_cast<uint8_t *>(recoveryBlock));
}

}  // namespace

int cm256_check_params(const cm256_encoder_params &params) {
  if (params.OriginalCount <= 0 || params.RecoveryCount <= 0 || params.BlockBytes <= 0) return -1;
  // Compared without adding, so that no count can overflow the sum.
  if (params.OriginalCount > 256 - params.RecoveryCount) return -2;
  return 0;
}

void zvfec_encode_block(cm256_encoder_params params, void **originals, int recoveryBlockIndex,
                        void *recoveryBlock) {
  encode_single(
      params, [originals](int j) { return as_bytes(originals[j]); }, recoveryBlockIndex,
      recoveryBlock);
}

void cm256_encode_block(cm256_encoder_params params, cm256_block *originals, int recoveryBlockIndex,
                        void *recoveryBlock) {
  encode_single(
      params, [originals](int j) { return as_bytes(originals[j].Block); }, recoveryBlockIndex,
      recoveryBlock);
}

int zvfec_encode_rows_bounded(const cm256_encoder_params &params, const uint8_t *const *originals,
                              const int *lengths, int first, int count, uint8_t *const *out) {
  const int check = cm256_check_params(params);
  if (check != 0) return check;
  if (originals == nullptr || lengths == nullptr || out == nullptr) return -3;
  const int k = params.OriginalCount;
  if (first < k || count < 1 || first > k + params.RecoveryCount - count) return -1;
  for (int j = 0; j < k; ++j) {
    if (lengths[j] < 0 || lengths[j] > params.BlockBytes) return -1;
  }
  encode_rows(k, first, count, params.BlockBytes, originals, lengths, out);
  return 0;
}

int zvfec_encode_bounded(cm256_encoder_params params, void **originals, const int *lengths,
                         void **recoveryBlocks) {
  const int check = cm256_check_params(params);
  if (check != 0) return check;
  if (lengths == nullptr) return -3;
  if (originals != nullptr) {
    for (int j = 0; j < params.OriginalCount; ++j) {
      if (lengths[j] < 0 || lengths[j] > params.BlockBytes) return -1;
    }
  }
  return encode_pointers(params, originals, lengths, recoveryBlocks);
}

extern "C" {

int cm256_init_(int version) {
  if (version != 2) return -10;
  return gf256_init_(2);
}

int zvfec_encode(cm256_encoder_params params, void **originals, void **recoveryBlocks) {
  return encode_pointers(params, originals, nullptr, recoveryBlocks);
}

int cm256_encode(cm256_encoder_params params, cm256_block *originals, void *recoveryBlocks) {
  auto *area = static_cast<uint8_t *>(recoveryBlocks);
  return encode_checked(
      params, originals != nullptr && recoveryBlocks != nullptr,
      [originals](int j) { return as_bytes(originals[j].Block); }, nullptr,
      [area, &params](int r) {
        return area + static_cast<size_t>(r) * static_cast<size_t>(params.BlockBytes);
      });
}

}  // extern "C"
