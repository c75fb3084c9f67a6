// Packet layouts shared by the three wire variants, and the steps that all of
// them perform the same way.
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
// FEC packet: 12 bytes left zero for the caller's RTP header, the FEC header
// at byte 12, the repair symbol (S bytes) right behind it.
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

#include <cstdint>

namespace zv {

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

inline constexpr int kRtpHeaderRoom = 12;
inline constexpr int kShortHeaderSize = 8;     // RSRtpHead
inline constexpr int kVideoV2HeaderSize = 12;  // RSRTPHEAD_VIDEO_V2
inline constexpr int kMediaPrefixSize = 2;
inline constexpr int kMediaSeqOffset = 4;  // sequence number inside a media buffer

inline constexpr uint8_t kTagVideoV1 = 0x00;
inline constexpr uint8_t kTagVideoV2 = 0x01;
inline constexpr uint8_t kTagAudioV2 = 0x11;

// The wire shape of one variant: its tag and whether its header carries a mask.
struct FecLayout {
  uint8_t tag;
  bool has_mask;

  constexpr int header_size() const { return has_mask ? kVideoV2HeaderSize : kShortHeaderSize; }
  // Byte offset of the repair symbol inside an FEC packet.
  constexpr int symbol_offset() const { return kRtpHeaderRoom + header_size(); }
  constexpr int packet_length(int symbol_len) const { return symbol_offset() + symbol_len; }
};

inline constexpr FecLayout kAudioV2Layout{kTagAudioV2, false};
inline constexpr FecLayout kVideoV2Layout{kTagVideoV2, true};
inline constexpr FecLayout kVideoV1Layout{kTagVideoV1, false};

// The group's symbol length S: the largest of the k stated media lengths,
// rounded up to a multiple of 4, computed wide enough that no stated length can
// wrap it. Lengths are compared as signed values.
int64_t symbol_length(const int *med_packet_len, int k);

// Symbol lengths that an encoder can write into the 16-bit max_len field: every
// media buffer holds its 2-byte length prefix, and S is a multiple of 4.
inline constexpr int kMinSymbolLength = 4;
inline constexpr int kMaxSymbolLength = 0xFFFC;

// True when an FEC header's max_len is a symbol length that an encoder can
// produce. Anything else is a forged or damaged header: it could not even hold
// the length prefix of the packets it claims to restore.
inline constexpr bool symbol_length_valid(int symbol_len) {
  return symbol_len >= kMinSymbolLength && symbol_len <= kMaxSymbolLength && symbol_len % 4 == 0;
}

// The length L in the 2-byte little-endian prefix of a media buffer.
uint16_t media_prefix(const uint8_t *media);

// True when a media buffer of stated length `len` holds its length prefix and
// the whole RTP packet that the prefix announces (2 + L <= len). A buffer that
// claims more than it holds is malformed.
bool media_prefix_fits(const uint8_t *media, int len);

// The RTP sequence number inside a media buffer (its bytes 4-5); the buffer
// must hold at least 6 bytes.
uint16_t media_seq(const uint8_t *media);

// Sequence offset of `seq` from `base_seq` across the 16-bit wrap: 0..65535.
inline uint16_t seq_offset(uint16_t seq, uint16_t base_seq) {
  return static_cast<uint16_t>(seq - base_seq);
}

// Zero-fills the `count` FEC buffers over the capacities the caller states,
// except `skip_len` bytes from `skip_from` of each: a region that the caller
// writes in full right afterwards (or zeroes itself should that fail).
void zero_fec_buffers(unsigned char **fec_packet, const int *fec_packet_len, int count,
                      int skip_from = 0, int skip_len = 0);

// Writes the header at byte 12 of an FEC packet (the mask only when the layout
// has one).
void write_fec_header(uint8_t *fec_packet, const FecLayout &layout, const RSRTPHEAD_VIDEO_V2 &h);

// Reads the header at byte 12 of an FEC packet; seqmask is 0 when the layout has
// no mask. The packet must hold the whole header.
RSRTPHEAD_VIDEO_V2 read_fec_header(const uint8_t *fec_packet, const FecLayout &layout);

// Where recovered packets go: the caller's output arrays and the running count.
struct RecoveredOut {
  unsigned char **pkt;
  int *len;
  int *num;
};

// How a variant reads the length prefix of a decoded symbol and at which
// severity it reports one that does not fit.
struct ExtractRule {
  bool signed_prefix;  // a prefix with its top bit set is a length error
  int log_level;
};

// Copies the RTP packet behind the length prefix of a decoded symbol of S bytes
// into the next output buffer and counts it. A prefix L with L + 2 > S (or
// negative under a signed rule), or a symbol too short to hold a prefix at all,
// is logged as a length error and yields nothing. Returns true when a packet
// was written.
bool extract_recovered(const uint8_t *symbol, int symbol_len, uint16_t base_seq,
                       const ExtractRule &rule, const RecoveredOut &out);

}  // namespace zv
