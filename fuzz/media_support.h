// Media groups for the harnesses of zv_rsfec_encode and zv_rsfec_decode: media
// buffers built from fuzzer choices, a group encoded by the library itself,
// the decode call with exactly sized buffers, and the checks of what it
// returns against the originals.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "zv_rsfec.h"

namespace zvfuzz {

// What a harness needs to know of a wire variant. max_n is the number of
// symbol indices that every receiver of this library uses (video version 1
// reads indices up to 127 only).
struct MediaVariant {
  int type;
  int version;
  int header;  // FEC header bytes after the 12 bytes of RTP room
  uint8_t tag;
  int max_k, max_r, max_n;
};

inline constexpr MediaVariant kMediaVariants[] = {
    {ZV_FEC_AUDIO, ZV_FEC_VERSION_2, 8, 0x11, 64, 64, 128},
    {ZV_FEC_VIDEO, ZV_FEC_VERSION_2, 12, 0x01, 64, 64, 128},
    {ZV_FEC_VIDEO, ZV_FEC_VERSION_1, 8, 0x00, 127, 127, 128},
};

inline const MediaVariant &media_variant(int type, int version) {
  for (const MediaVariant &v : kMediaVariants)
    if (v.type == type && v.version == version) return v;
  std::abort();
}

inline constexpr int kRtpRoom = 12;
inline constexpr int kRtpHeader = 12;

// A handle of one (type, version), released at the end of the scope; null
// when the library refused the pair.
using Handle = std::unique_ptr<void, decltype(&zv_rsfec_destory)>;

inline Handle open_handle(int type, int version) {
  void *h = nullptr;
  if (zv_rsfec_initilize(type, version, &h) != 1) h = nullptr;
  return Handle(h, zv_rsfec_destory);
}

// A media buffer: 2-byte little-endian length, then an RTP packet of rtp_len
// bytes (version 2, payload type 96, sequence number seq, filler after that).
inline ExactBuf make_media(uint16_t seq, int rtp_len, Filler &filler) {
  ExactBuf b(static_cast<size_t>(2 + rtp_len));
  uint8_t *p = b.data();
  p[0] = static_cast<uint8_t>(rtp_len);
  p[1] = static_cast<uint8_t>(rtp_len >> 8);
  filler.fill(p + 2, static_cast<size_t>(rtp_len));
  p[2] = 0x80;
  p[3] = 96;
  p[4] = static_cast<uint8_t>(seq >> 8);
  p[5] = static_cast<uint8_t>(seq);
  return b;
}

// The symbol length S of well-formed media buffers.
inline int symbol_length(const std::vector<ExactBuf> &media) {
  size_t longest = 0;
  for (const ExactBuf &m : media) longest = std::max(longest, m.size());
  return static_cast<int>((longest + 3) & ~size_t{3});
}

// A packet handed to the decoder; `null` passes a NULL pointer instead.
struct Packet {
  ExactBuf buf;
  bool null = false;
};

// Pointer and length arrays over packets, each array of exactly their count.
struct PacketArrays {
  ExactArray<unsigned char *> ptr;
  ExactArray<int> len;

  explicit PacketArrays(const std::vector<Packet> &packets)
      : ptr(packets.size()), len(packets.size()) {
    for (size_t i = 0; i < packets.size(); ++i) {
      ptr[i] = packets[i].null ? nullptr : packets[i].buf.data();
      len[i] = static_cast<int>(packets[i].buf.size());
    }
  }
  int count() const { return static_cast<int>(ptr.size()); }
};

// Encodes well-formed media buffers into r FEC packets of exactly the size the
// header documents (12 + header + S). The library must accept such a group.
inline std::vector<Packet> encode_group(void *handle, const MediaVariant &v,
                                        const std::vector<ExactBuf> &media, int r) {
  const int s = symbol_length(media);
  const int fec_size = kRtpRoom + v.header + s;
  std::vector<Packet> fec(static_cast<size_t>(r));
  for (Packet &f : fec) f.buf = ExactBuf(static_cast<size_t>(fec_size));
  ExactArray<unsigned char *> med_ptr(media.size());
  ExactArray<int> med_len(media.size());
  for (size_t i = 0; i < media.size(); ++i) {
    med_ptr[i] = media[i].data();
    med_len[i] = static_cast<int>(media[i].size());
  }
  PacketArrays f(fec);
  const int rc = zv_rsfec_encode(handle, 0, med_ptr.data(), med_len.data(),
                                 static_cast<int>(media.size()), r, 0, f.ptr.data(), f.len.data());
  ZV_FUZZ_CHECK(rc == 0);
  for (int j = 0; j < r; ++j) ZV_FUZZ_CHECK(f.len[static_cast<size_t>(j)] == fec_size);
  return fec;
}

// One zv_rsfec_decode call: one output buffer of out_size bytes for every FEC
// packet passed, as the interface asks.
struct DecodeCall {
  int rc = 0;
  int num = 0;
  std::vector<ExactBuf> out;
  std::vector<int> out_len;
};

inline DecodeCall decode_packets(void *handle, const std::vector<Packet> &media,
                                 const std::vector<Packet> &fec, size_t out_size) {
  PacketArrays m(media), f(fec);
  DecodeCall call;
  for (size_t j = 0; j < fec.size(); ++j) call.out.emplace_back(out_size);
  ExactArray<unsigned char *> out_ptr(fec.size());
  ExactArray<int> out_len(fec.size());
  for (size_t j = 0; j < fec.size(); ++j) out_ptr[j] = call.out[j].data();
  call.num = -1;
  call.rc = zv_rsfec_decode(handle, m.ptr.data(), m.len.data(), m.count(), f.ptr.data(),
                            f.len.data(), f.count(), 0, out_ptr.data(), out_len.data(), &call.num);
  // Whatever the input: a count within the buffers, none after a failure, and
  // every length within its buffer.
  ZV_FUZZ_CHECK(call.num >= 0 && static_cast<size_t>(call.num) <= fec.size());
  ZV_FUZZ_CHECK(call.rc == 0 || call.num == 0);
  for (int i = 0; i < call.num; ++i) {
    const int len = out_len[static_cast<size_t>(i)];
    ZV_FUZZ_CHECK(len >= 0 && static_cast<size_t>(len) <= out_size);
    call.out_len.push_back(len);
  }
  return call;
}

// For a call on untampered packets: when `recoverable`, success with exactly
// the lost originals (bare RTP packets) in sequence order; otherwise a failure.
// Either way no packet that was not lost comes back.
inline void check_recovery(const DecodeCall &call, const std::vector<ExactBuf> &originals,
                           const std::vector<bool> &lost, bool recoverable) {
  if (!recoverable) {
    ZV_FUZZ_CHECK(call.rc != 0);
    return;
  }
  ZV_FUZZ_CHECK(call.rc == 0);
  size_t m = 0;
  for (size_t i = 0; i < originals.size(); ++i) {
    if (!lost[i]) continue;
    ZV_FUZZ_CHECK(m < static_cast<size_t>(call.num));
    ZV_FUZZ_CHECK(call.out[m].size() >= originals[i].size() - 2);
    ZV_FUZZ_CHECK(static_cast<size_t>(call.out_len[m]) == originals[i].size() - 2);
    ZV_FUZZ_CHECK(
        std::memcmp(call.out[m].data(), originals[i].data() + 2, originals[i].size() - 2) == 0);
    ++m;
  }
  ZV_FUZZ_CHECK(m == static_cast<size_t>(call.num));
}

}  // namespace zvfuzz
