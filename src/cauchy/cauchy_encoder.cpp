// Cauchy encoder: recovery block x_i is the sum over the originals O_j of
// a(x_i, j) * O_j. Each recovery block is built in k passes; the first pass
// writes it, so it is never cleared separately.
#include <algorithm>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "cauchy/cauchy_encoder.h"
#include "cauchy/gf256.h"
#include "zvfec/cauchy.h"

namespace {

// Original j as bytes and its readable length.
struct Source {
  const uint8_t *bytes;
  int length;
};

// Builds one recovery block from the originals that src(j) yields. Bytes of an
// original past its length count as zero and are never read; every byte of
// the recovery block is written.
template <typename Sources>
void encode_one(const cm256_encoder_params &params, Sources src, int recoveryBlockIndex,
                uint8_t *out) {
  const int k = params.OriginalCount;
  const int bb = params.BlockBytes;
  if (k == 1) {
    const Source o = src(0);
    std::memcpy(out, o.bytes, static_cast<size_t>(o.length));
    std::memset(out + o.length, 0, static_cast<size_t>(bb - o.length));
    return;
  }
  if (recoveryBlockIndex == k) {
    // The first recovery row is all ones: plain XOR parity, no products.
    const Source a = src(0), b = src(1);
    const int common = std::min(a.length, b.length);
    const Source &longer = a.length > b.length ? a : b;
    gf256_addset_mem(out, a.bytes, b.bytes, common);
    std::memcpy(out + common, longer.bytes + common, static_cast<size_t>(longer.length - common));
    std::memset(out + longer.length, 0, static_cast<size_t>(bb - longer.length));
    for (int j = 2; j < k; ++j) {
      const Source o = src(j);
      gf256_add_mem(out, o.bytes, o.length);
    }
    return;
  }
  const auto x_0 = static_cast<uint8_t>(k);
  const auto x_i = static_cast<uint8_t>(recoveryBlockIndex);
  const Source first = src(0);
  gf256_mul_mem(out, first.bytes, GetMatrixElement(x_i, x_0, 0), first.length);
  std::memset(out + first.length, 0, static_cast<size_t>(bb - first.length));
  for (int j = 1; j < k; ++j) {
    const Source o = src(j);
    gf256_muladd_mem(out, GetMatrixElement(x_i, x_0, static_cast<uint8_t>(j)), o.bytes, o.length);
  }
}

// Sources over an array of original pointers, with per-original lengths or,
// when lengths is null, BlockBytes each.
auto pointer_sources(void *const *originals, const int *lengths, int blockBytes) {
  return [=](int j) {
    return Source{static_cast<const uint8_t *>(originals[j]),
                  lengths != nullptr ? lengths[j] : blockBytes};
  };
}

auto descriptor_sources(const cm256_block *originals, int blockBytes) {
  return [=](int j) {
    return Source{static_cast<const uint8_t *>(originals[j].Block), blockBytes};
  };
}

int encode_pointers(const cm256_encoder_params &params, void **originals, const int *lengths,
                    void **recoveryBlocks) {
  const int check = cm256_check_params(params);
  if (check != 0) return check;
  if (originals == nullptr || recoveryBlocks == nullptr) return -3;
  const auto src = pointer_sources(originals, lengths, params.BlockBytes);
  for (int r = 0; r < params.RecoveryCount; ++r) {
    encode_one(params, src, params.OriginalCount + r, static_cast<uint8_t *>(recoveryBlocks[r]));
  }
  return 0;
}

}  // namespace

int cm256_check_params(const cm256_encoder_params &params) {
  if (params.OriginalCount <= 0 || params.RecoveryCount <= 0 || params.BlockBytes <= 0) return -1;
  if (params.OriginalCount + params.RecoveryCount > 256) return -2;
  return 0;
}

void zvfec_encode_block(cm256_encoder_params params, void **originals, int recoveryBlockIndex,
                        void *recoveryBlock) {
  encode_one(params, pointer_sources(originals, nullptr, params.BlockBytes), recoveryBlockIndex,
             static_cast<uint8_t *>(recoveryBlock));
}

void cm256_encode_block(cm256_encoder_params params, cm256_block *originals, int recoveryBlockIndex,
                        void *recoveryBlock) {
  encode_one(params, descriptor_sources(originals, params.BlockBytes), recoveryBlockIndex,
             static_cast<uint8_t *>(recoveryBlock));
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
  const int check = cm256_check_params(params);
  if (check != 0) return check;
  if (originals == nullptr || recoveryBlocks == nullptr) return -3;
  auto *out = static_cast<uint8_t *>(recoveryBlocks);
  const auto src = descriptor_sources(originals, params.BlockBytes);
  for (int r = 0; r < params.RecoveryCount; ++r) {
    encode_one(params, src, params.OriginalCount + r,
               out + static_cast<size_t>(r) * static_cast<size_t>(params.BlockBytes));
  }
  return 0;
}

}  // extern "C"
