// zv_rsfec_decode of one wire variant (ZV_FUZZ_TYPE, ZV_FUZZ_VERSION), on a
// group that the library encoded from fuzzer-chosen shape and bytes. The
// fuzzer then chooses which packets are lost, their order, and tampering:
// flipped bytes, forged header fields, packets cut or grown, duplicates,
// forged packets and NULL buffers.
//
// Oracle: when nothing was tampered with (losses, reordering and duplicates
// only), the call succeeds exactly when at least k distinct symbols arrived
// and then returns exactly the lost packets, in sequence order, byte for byte.
// Always: no access outside the buffers, and counts and lengths within them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "media_support.h"

namespace {

using zvfuzz::ExactBuf;
using zvfuzz::FuzzInput;
using zvfuzz::Packet;

// A packet of media (flag clear) or FEC list, or none when that list is empty.
Packet *pick_packet(FuzzInput &in, std::vector<Packet> &media, std::vector<Packet> &fec) {
  std::vector<Packet> &list = in.flag() ? fec : media;
  if (list.empty()) return nullptr;
  return &list[in.u8() % list.size()];
}

void shuffle(FuzzInput &in, std::vector<Packet> &list) {
  for (size_t i = list.size(); i > 1; --i) std::swap(list[i - 1], list[in.u8() % i]);
}

// Applies one fuzzer-chosen change to what reaches the decoder. Returns true
// when it changed bytes, lengths or pointers, i.e. when the recovered data may
// legitimately differ from the originals.
bool mutate(FuzzInput &in, const zvfuzz::MediaVariant &v, std::vector<Packet> &media,
            std::vector<Packet> &fec) {
  switch (in.u8() % 6) {
    case 0: {  // flip a byte
      Packet *p = pick_packet(in, media, fec);
      if (p == nullptr || p->buf.size() == 0) return false;
      p->buf.data()[in.u16() % p->buf.size()] ^= static_cast<uint8_t>(in.u8() | 1);
      return true;
    }
    case 1: {  // overwrite an FEC header byte (esi, k, n_r, max_len, ...)
      if (fec.empty()) return false;
      Packet &p = fec[in.u8() % fec.size()];
      const size_t off = zvfuzz::kRtpRoom + in.u8() % static_cast<unsigned>(v.header);
      if (off >= p.buf.size()) return false;
      p.buf.data()[off] = in.u8();
      return true;
    }
    case 2: {  // cut or grow a packet; the buffer is reallocated at its new length
      Packet *p = pick_packet(in, media, fec);
      if (p == nullptr) return false;
      const size_t old_size = p->buf.size();
      const size_t new_size = in.u16() % (old_size + 65);
      p->buf.resize(new_size);
      if (new_size > old_size) in.fill(p->buf.data() + old_size, new_size - old_size);
      return true;
    }
    case 3: {  // pass a packet twice
      const bool to_fec = in.flag();
      std::vector<Packet> &list = to_fec ? fec : media;
      if (list.empty()) return false;
      const Packet &p = list[in.u8() % list.size()];
      list.push_back({p.buf.clone(), p.null});
      return false;
    }
    case 4: {  // a forged packet
      std::vector<Packet> &list = in.flag() ? fec : media;
      ExactBuf b(static_cast<size_t>(in.range(0, 300)));
      in.fill(b.data(), b.size());
      list.insert(list.begin() + static_cast<std::ptrdiff_t>(in.u8() % (list.size() + 1)),
                  {std::move(b), false});
      return true;
    }
    default: {  // a NULL buffer
      Packet *p = pick_packet(in, media, fec);
      if (p == nullptr) return false;
      p->null = true;
      return true;
    }
  }
}

// The output buffer size a receiver derives from the first FEC packet's
// max_len (S - 2), or from the group when that packet cannot be read.
size_t output_size(const std::vector<Packet> &fec, int s) {
  int max_len = s;
  const size_t max_len_at = zvfuzz::kRtpRoom + 6;
  if (!fec.empty() && !fec[0].null && fec[0].buf.size() >= max_len_at + 2)
    max_len = fec[0].buf.data()[max_len_at] << 8 | fec[0].buf.data()[max_len_at + 1];
  return static_cast<size_t>(std::max(max_len - 2, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const zvfuzz::MediaVariant &v = zvfuzz::media_variant(ZV_FUZZ_TYPE, ZV_FUZZ_VERSION);
  const zvfuzz::Handle handle = zvfuzz::open_handle(v.type, v.version);
  ZV_FUZZ_CHECK(handle.get() != nullptr);

  const int k = in.range(1, v.max_k);
  const int r = std::min(in.range(1, v.max_r), v.max_n - k);
  const uint16_t base_seq = in.u16();
  const int max_payload = in.u8();
  zvfuzz::Filler filler(in.u32());
  std::vector<ExactBuf> media;
  for (int i = 0; i < k; ++i) {
    const int rtp_len = zvfuzz::kRtpHeader + in.range(0, max_payload);
    media.push_back(zvfuzz::make_media(static_cast<uint16_t>(base_seq + i), rtp_len, filler));
  }
  std::vector<Packet> fec = zvfuzz::encode_group(handle.get(), v, media, r);
  const int s = zvfuzz::symbol_length(media);

  std::vector<bool> lost(static_cast<size_t>(k));
  std::vector<Packet> rx_media, rx_fec;
  for (int i = 0; i < k; ++i) {
    lost[static_cast<size_t>(i)] = in.flag();
    if (!lost[static_cast<size_t>(i)]) rx_media.push_back({media[static_cast<size_t>(i)].clone()});
  }
  for (Packet &f : fec)
    if (!in.flag()) rx_fec.push_back(std::move(f));
  const size_t n_lost = static_cast<size_t>(std::count(lost.begin(), lost.end(), true));
  const bool recoverable = !rx_fec.empty() && rx_fec.size() >= n_lost;

  if (in.flag()) {
    shuffle(in, rx_media);
    shuffle(in, rx_fec);
  }
  const uint8_t ops = in.u8();
  bool tampered = false;
  for (int i = 0; i < (ops < 128 ? 0 : ops % 8 + 1); ++i)
    tampered |= mutate(in, v, rx_media, rx_fec);

  const zvfuzz::DecodeCall call =
      zvfuzz::decode_packets(handle.get(), rx_media, rx_fec, output_size(rx_fec, s));
  if (!tampered) zvfuzz::check_recovery(call, media, lost, recoverable);
  return 0;
}
