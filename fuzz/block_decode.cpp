// zvfec_decode, the Cauchy block decoder, on k descriptors built from a group
// that zvfec_encode made of fuzzer-chosen shape and bytes. The fuzzer chooses
// the lost originals, which recovery blocks replace them, the order, and
// tampering (indices rewritten, block bytes flipped); a few inputs carry
// counts or block sizes outside the limits instead.
//
// Oracle: on untampered input the call succeeds and every recovery descriptor
// then names one missing original and holds it byte for byte; originals given
// are untouched. Always: fecflag is never touched, a failure changes no block,
// and out-of-range parameters are refused.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "zvfec/cauchy.h"

namespace {

using zvfuzz::ExactArray;
using zvfuzz::ExactBuf;
using zvfuzz::FuzzInput;

// The descriptors as handed in, to compare after a failure.
struct Snapshot {
  std::vector<ExactBuf> bytes;
  std::vector<cm256_block> desc;
};

Snapshot snapshot(const ExactArray<cm256_block> &blocks, size_t block_bytes) {
  Snapshot s;
  for (size_t i = 0; i < blocks.size(); ++i) {
    s.bytes.emplace_back(static_cast<const uint8_t *>(blocks[i].Block), block_bytes);
    s.desc.push_back(blocks[i]);
  }
  return s;
}

// Parameters outside the documented limits: refused, whatever the descriptors.
void run_refusal(FuzzInput &in) {
  static constexpr int kCounts[] = {INT_MIN, -1, 0, 1, 128, 255, 256, 257, INT_MAX};
  static constexpr int kBytes[] = {INT_MIN, -1, 0, 1, 16};
  cm256_encoder_params params{in.pick(kCounts), in.pick(kCounts), in.pick(kBytes)};
  const bool out_of_range = params.OriginalCount <= 0 || params.RecoveryCount <= 0 ||
                            params.BlockBytes <= 0 ||
                            int64_t{params.OriginalCount} + params.RecoveryCount > 256;
  if (!out_of_range) return;
  // The decoder must refuse before it reads a descriptor: give it one block.
  ExactBuf block(16);
  ExactArray<cm256_block> blocks(1);
  blocks[0] = {block.data(), 0, 0};
  ZV_FUZZ_CHECK(zvfec_decode(params, in.flag() ? blocks.data() : nullptr) < 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int init = cm256_init_(2);
  ZV_FUZZ_CHECK(init == 0);
  FuzzInput in(data, size);
  if (in.u8() >= 240) {
    run_refusal(in);
    return 0;
  }
  const int k = in.range(1, 64);
  const int m = std::min(in.range(1, 64), 256 - k);
  const int bytes = in.range(1, 96);
  const auto len = static_cast<size_t>(bytes);
  zvfuzz::Filler filler(in.u32());
  std::vector<ExactBuf> originals, recovery;
  ExactArray<void *> orig_ptr(static_cast<size_t>(k)), rec_ptr(static_cast<size_t>(m));
  for (int i = 0; i < k; ++i) {
    originals.emplace_back(len);
    filler.fill(originals.back().data(), len);
    orig_ptr[static_cast<size_t>(i)] = originals.back().data();
  }
  for (int j = 0; j < m; ++j) {
    recovery.emplace_back(len);
    rec_ptr[static_cast<size_t>(j)] = recovery.back().data();
  }
  ZV_FUZZ_CHECK(zvfec_encode({k, m, bytes}, orig_ptr.data(), rec_ptr.data()) == 0);

  // k descriptors: originals that arrived, then recovery blocks in their
  // place; when too few recovery blocks are chosen an original repeats, which
  // the decoder must refuse.
  std::vector<ExactBuf> given;
  std::vector<unsigned char> index;
  std::vector<int> lost;
  for (int i = 0; i < k; ++i) {
    if (in.flag()) {
      lost.push_back(i);
    } else {
      given.push_back(originals[static_cast<size_t>(i)].clone());
      index.push_back(static_cast<unsigned char>(i));
    }
  }
  for (int j = 0; j < m && given.size() < static_cast<size_t>(k); ++j) {
    if (in.flag()) continue;
    given.push_back(recovery[static_cast<size_t>(j)].clone());
    index.push_back(static_cast<unsigned char>(k + j));
  }
  bool tampered = given.size() < static_cast<size_t>(k);
  while (given.size() < static_cast<size_t>(k)) {
    given.push_back(originals[0].clone());
    index.push_back(0);
  }
  ExactArray<cm256_block> blocks(static_cast<size_t>(k));
  for (size_t i = 0; i < given.size(); ++i)
    blocks[i] = {given[i].data(), index[i], static_cast<unsigned char>(in.u8())};
  for (size_t i = given.size(); i > 1; --i) std::swap(blocks[i - 1], blocks[in.u8() % i]);
  const uint8_t ops = in.u8();
  for (int i = 0; i < (ops < 192 ? 0 : ops % 4 + 1); ++i) {
    cm256_block &b = blocks[in.u8() % static_cast<size_t>(k)];
    if (in.flag())
      b.Index = in.u8();
    else
      static_cast<uint8_t *>(b.Block)[in.u8() % len] ^= static_cast<uint8_t>(in.u8() | 1);
    tampered = true;
  }

  const Snapshot before = snapshot(blocks, len);
  const int rc = zvfec_decode({k, m, bytes}, blocks.data());
  for (int i = 0; i < k; ++i) {
    const auto iu = static_cast<size_t>(i);
    ZV_FUZZ_CHECK(blocks[iu].fecflag == before.desc[iu].fecflag);
    ZV_FUZZ_CHECK(blocks[iu].Block == before.desc[iu].Block);
    if (rc != 0) {
      ZV_FUZZ_CHECK(blocks[iu].Index == before.desc[iu].Index);
      ZV_FUZZ_CHECK(before.bytes[iu].same_bytes(static_cast<uint8_t *>(blocks[iu].Block), len));
    }
  }
  if (tampered) return 0;
  ZV_FUZZ_CHECK(rc == 0);
  std::vector<bool> seen(static_cast<size_t>(k));
  for (int i = 0; i < k; ++i) {
    const cm256_block &b = blocks[static_cast<size_t>(i)];
    const int was = before.desc[static_cast<size_t>(i)].Index;
    ZV_FUZZ_CHECK(b.Index < k && !seen[b.Index]);
    seen[b.Index] = true;
    if (was < k) ZV_FUZZ_CHECK(b.Index == was);
    ZV_FUZZ_CHECK(originals[b.Index].same_bytes(static_cast<uint8_t *>(b.Block), len));
  }
  return 0;
}
