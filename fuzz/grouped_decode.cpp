// zvfec_decode_sei, the decoder of grouped recovery packets, on a group of
// originals of varying lengths that zvfec_encoder_sei turned into recovery
// packets. The fuzzer chooses shape, bytes and losses, and may tamper with the
// slots: lengths (the buffer is reallocated at the new length), indices,
// bytes, counts, NULL buffers.
//
// Oracle: the encoder writes the documented packet frame; on untampered input
// the decoder succeeds and each recovery slot then holds a missing original
// followed by zeros up to the block size, and names it; originals given are
// untouched. Always: only length[i] bytes of a slot are touched and a failure
// changes no slot.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "zvfec/cauchy.h"

namespace {

using zvfuzz::ExactBuf;
using zvfuzz::FuzzInput;

constexpr int kMaxCount = 64;    // the encoder's limit on k and m
constexpr int kMaxLength = 200;  // bounded below the encoder's 1500 to keep runs fast

int size_bytes(int maxlen) { return (maxlen + 2) / 255 + 1; }

// Checks the frame of recovery packet i and returns its block.
ExactBuf block_of_packet(const ExactBuf &packet, int maxlen, int k, int m, int i) {
  const int p = size_bytes(maxlen);
  const uint8_t *b = packet.data();
  ZV_FUZZ_CHECK(packet.size() == static_cast<size_t>(2 + p + maxlen + 3));
  ZV_FUZZ_CHECK(b[0] == 0x06 && b[1] == 0xAC);
  for (int j = 0; j < p - 1; ++j) ZV_FUZZ_CHECK(b[2 + j] == 0xFF);
  ZV_FUZZ_CHECK(b[1 + p] == (maxlen + 2) % 255);
  const uint8_t *trailer = b + 2 + p + maxlen;
  ZV_FUZZ_CHECK(trailer[0] == k && trailer[1] == m && trailer[2] == k + i);
  return ExactBuf(b + 2 + p, static_cast<size_t>(maxlen));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int init = cm256_init_(2);
  ZV_FUZZ_CHECK(init == 0);
  FuzzInput in(data, size);
  const int k = in.range(1, kMaxCount);
  const int m = in.range(1, kMaxCount);
  const int longest = in.range(1, kMaxLength);
  zvfuzz::Filler filler(in.u32());

  // Encoder side: every original readable for maxlen bytes, zeros beyond its
  // length, so that the decoder's view (zeros beyond the length) is the same.
  auto enc = std::make_unique<ZVFEC_BLOCK>();
  std::vector<ExactBuf> originals, packets;
  std::vector<int> length;
  int maxlen = 0;
  for (int i = 0; i < k; ++i) {
    length.push_back(in.range(1, longest));
    maxlen = std::max(maxlen, length.back());
  }
  for (int i = 0; i < k; ++i) {
    originals.emplace_back(static_cast<size_t>(maxlen));
    filler.fill(originals.back().data(), static_cast<size_t>(length[static_cast<size_t>(i)]));
    enc->pdata[i] = originals.back().data();
    enc->length[i] = static_cast<unsigned short>(length[static_cast<size_t>(i)]);
  }
  for (int j = 0; j < m; ++j) {
    packets.emplace_back(static_cast<size_t>(2 + size_bytes(maxlen) + maxlen + 3));
    enc->pdata[k + j] = packets.back().data();
  }
  enc->datanum = k;
  enc->checknum = m;
  ZV_FUZZ_CHECK(zvfec_encoder_sei(enc.get()) == 0);

  // Decoder side: k slots, originals at their own length, recovery blocks
  // for the lost ones.
  auto dec = std::make_unique<ZVFEC_BLOCK>();
  std::vector<ExactBuf> slot;
  size_t lost = 0;
  for (int i = 0; i < k; ++i) {
    if (in.flag()) {
      ++lost;
      continue;
    }
    dec->index[slot.size()] = i;
    slot.emplace_back(originals[static_cast<size_t>(i)].data(),
                      static_cast<size_t>(length[static_cast<size_t>(i)]));
  }
  for (int j = 0; j < m && slot.size() < static_cast<size_t>(k); ++j) {
    ExactBuf b = block_of_packet(packets[static_cast<size_t>(j)], maxlen, k, m, j);
    if (in.flag()) continue;
    dec->index[slot.size()] = k + j;
    slot.push_back(std::move(b));
  }
  const bool recoverable = slot.size() == static_cast<size_t>(k);
  dec->datanum = k;
  dec->checknum = m;
  // Slots beyond the group carry leftovers that the decoder must not look at.
  for (size_t i = slot.size(); i < 256; ++i) {
    dec->index[i] = static_cast<int>(in.u8());
    dec->length[i] = in.u16();
  }

  bool tampered = !recoverable;
  const uint8_t ops = in.u8();
  for (int op = 0; op < (ops < 192 ? 0 : ops % 4 + 1) && !slot.empty(); ++op) {
    const size_t i = in.u8() % slot.size();
    tampered = true;
    switch (in.u8() % 5) {
      case 0:
        slot[i].resize(in.u16() % (slot[i].size() + 64));
        break;
      case 1:
        dec->index[i] = in.flag() ? static_cast<int>(in.u8()) : -static_cast<int>(in.u8());
        break;
      case 2:
        if (slot[i].size() > 0) slot[i].data()[in.u16() % slot[i].size()] ^= 1;
        break;
      case 3: {
        static constexpr int kCounts[] = {INT_MIN, -1, 0, 1, 64, 255, 256, 257, INT_MAX};
        (in.flag() ? dec->datanum : dec->checknum) = in.pick(kCounts);
        break;
      }
      default:
        slot[i] = ExactBuf();  // NULL buffer
        break;
    }
  }
  for (size_t i = 0; i < slot.size(); ++i) {
    dec->pdata[i] = slot[i].data();
    dec->length[i] = static_cast<unsigned short>(slot[i].size());
  }
  std::vector<ExactBuf> before;
  std::vector<int> index_before;
  for (size_t i = 0; i < slot.size(); ++i) {
    before.push_back(slot[i].clone());
    index_before.push_back(dec->index[i]);
  }

  const int rc = zvfec_decode_sei(dec.get());
  if (rc != 0) {
    for (size_t i = 0; i < slot.size(); ++i)
      ZV_FUZZ_CHECK(slot[i].same_bytes(before[i].data(), before[i].size()));
  }
  if (tampered) return 0;
  ZV_FUZZ_CHECK(rc == 0);
  std::vector<bool> seen(static_cast<size_t>(k));
  size_t rebuilt = 0;
  for (size_t i = 0; i < slot.size(); ++i) {
    const int was = index_before[i];
    const int now = dec->index[i];
    ZV_FUZZ_CHECK(now >= 0 && now < k && !seen[static_cast<size_t>(now)]);
    seen[static_cast<size_t>(now)] = true;
    const ExactBuf &original = originals[static_cast<size_t>(now)];
    if (was < k) {
      ZV_FUZZ_CHECK(now == was);
      ZV_FUZZ_CHECK(slot[i].same_bytes(before[i].data(), before[i].size()));
      continue;
    }
    ++rebuilt;
    ZV_FUZZ_CHECK(slot[i].same_bytes(original.data(), original.size()));
  }
  ZV_FUZZ_CHECK(rebuilt == lost);
  return 0;
}
