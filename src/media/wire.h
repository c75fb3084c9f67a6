// The wire: every byte layout the library reads or writes, its field offsets,
// tags and limits, and the one reader and writer of each. The exported
// functions, the stream layer and the tool all take these facts from here.
//
// RTP fixed header, as media packets and FEC packets carry it (no CSRCs shown):
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P|X|  CC   |M|     PT      |       sequence number         |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                           timestamp                           |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                             SSRC                              |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |            CC CSRC identifiers, 4 bytes each ...              |
//
// Media buffer (caller-built, read in place, never written):
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |   length L (little-endian)    |V=2|P|X|  CC   |M|     PT      |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |   RTP sequence number (BE)    |  rest of the RTP packet ...   |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  ... L bytes of RTP in all, then zeros up to the symbol length S
//
// A group's first S bytes of each media buffer are its source symbols; S is
// the largest buffer of the group rounded up to a multiple of 4.
//
// FEC packet: 12 bytes of room for the caller's RTP header, the FEC header at
// byte 12, the repair symbol (S bytes) right behind it.
//
// RSRtpHead, 8 bytes (video version 1: ver 0; audio version 2: ver 0x11):
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |      ver      |      esi      |       base seq (BE)           |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |       k       |      n_r      |    max_len = S (BE)           |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// RSRTPHEAD_VIDEO_V2, 12 bytes (video version 2, ver 1): the same eight bytes,
// then
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                      seqmask (BE)                             |
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// esi is the index of the repair symbol carried (k + j for the j-th FEC packet),
// k and n_r the group's media and FEC packet counts, all cut to 8 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "media/byte_order.h"
#include "zv_rsfec.h"

namespace zv {

// ---- RTP ----

inline constexpr int kRtpHeaderSize = 12;  // the fixed header, without CSRCs
inline constexpr int kRtpVersion = 2;

// The RTP fields this library reads.
struct RtpHeader {
  uint8_t payload_type;
  uint16_t seq;
  uint32_t timestamp;
  uint32_t ssrc;
};

// The fixed header of an RTP packet of `len` bytes: version 2, with its whole
// CSRC list inside the packet. RTCP (second byte 192..223), which shares the
// version bits, is refused.
std::optional<RtpHeader> read_rtp(const uint8_t *packet, size_t len);

// Writes a 12-byte header without CSRCs, padding, extension or marker.
void write_rtp(uint8_t *out, uint8_t payload_type, uint16_t seq, uint32_t timestamp, uint32_t ssrc);

// ---- Media buffers and symbols ----

inline constexpr int kMediaPrefixSize = 2;
inline constexpr int kMediaSeqOffset = kMediaPrefixSize + 2;  // the RTP sequence number

// The length L in the 2-byte little-endian prefix of a media buffer.
inline uint16_t media_prefix(const uint8_t *media) { return load_le16(media); }

// Writes the prefix of a media buffer holding an RTP packet of `len` bytes.
void write_media_prefix(uint8_t *media, uint16_t len);

// Writes the media buffer of an RTP packet of `len` bytes at out (prefix, then
// the packet) and returns its length, 2 + len. A packet too long for the
// 16-bit prefix, and so for any symbol, gets a prefix of no meaning.
size_t write_media_buffer(uint8_t *out, const uint8_t *rtp, size_t len);

// True when a media buffer of stated length `len` holds its length prefix and
// the whole RTP packet that the prefix announces (2 + L <= len). A buffer that
// claims more than it holds is malformed.
inline bool media_prefix_fits(const uint8_t *media, int len) {
  return len >= kMediaPrefixSize && kMediaPrefixSize + media_prefix(media) <= len;
}

// The RTP sequence number inside a media buffer (its bytes 4-5); the buffer
// must hold at least 6 bytes.
uint16_t media_seq(const uint8_t *media);

// Sequence offset of `seq` from `base_seq` across the 16-bit wrap: 0..65535.
inline uint16_t seq_offset(uint16_t seq, uint16_t base_seq) {
  return static_cast<uint16_t>(seq - base_seq);
}

// Symbol lengths that an encoder can write into the 16-bit max_len field: every
// media buffer holds its 2-byte length prefix, and S is a multiple of 4.
inline constexpr int kMinSymbolLength = 4;
inline constexpr int kMaxSymbolLength = 0xFFFC;

// S for a group whose longest media buffer (prefix included) has `longest`
// bytes: that length rounded up to a multiple of 4.
inline constexpr int64_t symbol_length_for(int64_t longest) { return (longest + 3) & ~int64_t{3}; }

// True when an FEC header's max_len is a symbol length that an encoder can
// produce. Anything else is a forged or damaged header: it could not even hold
// the length prefix of the packets it claims to restore.
inline constexpr bool symbol_length_valid(int symbol_len) {
  return symbol_len >= kMinSymbolLength && symbol_len <= kMaxSymbolLength && symbol_len % 4 == 0;
}

// The smallest symbol of a group of RTP packets: a prefix and a fixed header.
inline constexpr int kMinRtpSymbolLength =
    static_cast<int>(symbol_length_for(kMediaPrefixSize + kRtpHeaderSize));

// ---- FEC packets ----

inline constexpr int kRtpHeaderRoom = kRtpHeaderSize;
inline constexpr int kShortHeaderSize = 8;     // RSRtpHead
inline constexpr int kVideoV2HeaderSize = 12;  // RSRTPHEAD_VIDEO_V2

inline constexpr uint8_t kTagVideoV1 = 0x00;
inline constexpr uint8_t kTagVideoV2 = 0x01;
inline constexpr uint8_t kTagAudioV2 = 0x11;

// The header's esi field is one byte: a group names at most 256 symbols.
inline constexpr int kHeaderIndices = 256;
// The version-2 encoders hold at most this many media and FEC packets.
inline constexpr int kCauchyMaxPackets = 64;
// Receivers of video version 1 use symbol indices up to this one only.
inline constexpr int kVideoV1MaxIndex = 127;

struct RSRtpHead {
  uint8_t ver;
  uint8_t esi;
  uint16_t seq;
  uint8_t k;
  uint8_t n_r;
  uint16_t max_len;
};

struct RSRTPHEAD_VIDEO_V2 {
  uint8_t ver;
  uint8_t esi;
  uint16_t seq;
  uint8_t k;
  uint8_t n_r;
  uint16_t max_len;
  uint32_t seqmask;
};

// The wire variants, in the order of the stream layer's zvfec_stream_variant.
enum class Variant : uint8_t { audio_v2 = 0, video_v2 = 1, video_v1 = 2 };
inline constexpr int kVariantCount = 3;

// The wire shape of one variant and the groups that this library both encodes
// and rebuilds with it (k media and r FEC packets, k + r symbol indices).
struct FecLayout {
  Variant variant;
  const char *name;
  uint8_t tag;
  bool has_mask;
  bool cauchy;              // the Cauchy code; else Reed-Solomon through a codec session
  int media_type, version;  // the zv_rsfec_initilize pair
  int max_k, max_r, max_n;

  constexpr int header_size() const { return has_mask ? kVideoV2HeaderSize : kShortHeaderSize; }
  // Byte offset of the repair symbol inside an FEC packet.
  constexpr int symbol_offset() const { return kRtpHeaderRoom + header_size(); }
  constexpr int packet_length(int symbol_len) const { return symbol_offset() + symbol_len; }
};

inline constexpr FecLayout kAudioV2Layout{Variant::audio_v2,
                                          "audio-v2",
                                          kTagAudioV2,
                                          false,
                                          true,
                                          ZV_FEC_AUDIO,
                                          ZV_FEC_VERSION_2,
                                          kCauchyMaxPackets,
                                          kCauchyMaxPackets,
                                          2 * kCauchyMaxPackets};
inline constexpr FecLayout kVideoV2Layout{Variant::video_v2,
                                          "video-v2",
                                          kTagVideoV2,
                                          true,
                                          true,
                                          ZV_FEC_VIDEO,
                                          ZV_FEC_VERSION_2,
                                          kCauchyMaxPackets,
                                          kCauchyMaxPackets,
                                          2 * kCauchyMaxPackets};
inline constexpr FecLayout kVideoV1Layout{Variant::video_v1,
                                          "video-v1",
                                          kTagVideoV1,
                                          false,
                                          false,
                                          ZV_FEC_VIDEO,
                                          ZV_FEC_VERSION_1,
                                          kVideoV1MaxIndex,
                                          kVideoV1MaxIndex,
                                          kVideoV1MaxIndex + 1};

inline constexpr const FecLayout *kLayouts[kVariantCount] = {&kAudioV2Layout, &kVideoV2Layout,
                                                             &kVideoV1Layout};

inline constexpr const FecLayout &layout_of(Variant v) { return *kLayouts[static_cast<int>(v)]; }

// The most media packets, and so sequence numbers, that any group spans.
inline constexpr int kLongestGroup = [] {
  int longest = 0;
  for (const FecLayout *l : kLayouts) longest = l->max_k > longest ? l->max_k : longest;
  return longest;
}();

// The layout whose tag is `tag`, or null.
const FecLayout *layout_of_tag(uint8_t tag);

// The variant tag and the symbol index of an FEC packet that holds at least
// the first two bytes of its header.
uint8_t fec_tag(const uint8_t *fec_packet);
uint8_t fec_esi(const uint8_t *fec_packet);

// The header of repair symbol `esi` of a group of k media and r FEC packets
// from base_seq with symbols of S bytes, as an encoder writes it (mask 0).
// Inline, so that the record is built where it is written: returned from a
// call, its fields are stored one by one and read back as one word, which
// the processor cannot forward.
inline RSRTPHEAD_VIDEO_V2 group_fec_header(const FecLayout &layout, int k, int r, int symbol_len,
                                           uint16_t base_seq, int esi) {
  RSRTPHEAD_VIDEO_V2 h{};
  h.ver = layout.tag;
  h.esi = static_cast<uint8_t>(esi);
  h.seq = base_seq;
  h.k = static_cast<uint8_t>(k);
  h.n_r = static_cast<uint8_t>(r);
  h.max_len = static_cast<uint16_t>(symbol_len);
  return h;
}

// Writes the header at byte 12 of an FEC packet (the mask only when the layout
// has one).
void write_fec_header(uint8_t *fec_packet, const FecLayout &layout, const RSRTPHEAD_VIDEO_V2 &h);

// Reads the header at byte 12 of an FEC packet; seqmask is 0 when the layout has
// no mask. The packet must hold the whole header.
RSRTPHEAD_VIDEO_V2 read_fec_header(const uint8_t *fec_packet, const FecLayout &layout);

}  // namespace zv
