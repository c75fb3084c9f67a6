// What zv_rsfec_encode and zv_rsfec_decode do the same way for every wire
// variant: checking the caller's arguments once, preparing the FEC buffers and
// their headers, reading the group back from the first FEC packet, placing the
// received packets as the group's symbols, and copying rebuilt packets out.
// Each variant joins these steps to the media core's coding (media/coding.h).
#pragma once

#include <cstdint>

#include "media/codes.h"
#include "media/wire.h"

namespace zv {

// ---- Encoding ----

// One group as the encoder sees it after its arguments passed the checks.
struct EncodeGroup {
  int k;
  int r;
  int symbol_len;
  uint16_t base_seq;
};

// The sender's arguments, unchanged.
struct EncodeArgs {
  unsigned char **med_packet;
  int *med_packet_len;
  int packet_number;
  int fec_number;
  unsigned char **fec_packet;
  int *fec_packet_len;
};

// Limits of one variant's encoder: its working arrays hold at most max_k media
// and max_r FEC packets, and a group with FEC packets has at most max_n symbol
// indices (k + r), the most that the header's index field can tell apart.
struct EncodeLimits {
  int max_k;
  int max_r;
  int max_n;
};

// The group's symbol length S: the largest of the k stated media lengths,
// rounded up to a multiple of 4, computed wide enough that no stated length can
// wrap it. Lengths are compared as signed values.
int64_t symbol_length(const int *med_packet_len, int k);

// Zero-fills the `count` FEC buffers over the capacities the caller states,
// except `skip_len` bytes from `skip_from` of each: a region that the caller
// writes in full right afterwards (or zeroes itself should that fail).
void zero_fec_buffers(unsigned char **fec_packet, const int *fec_packet_len, int count,
                      int skip_from = 0, int skip_len = 0);

// Checks the sender's arguments and, when they are sound, takes base_seq from
// the first media packet and zero-fills the FEC buffers over their stated
// capacities (but for the repair symbols when `codec_writes_symbols`: the
// codec then writes them in full, and the variant zeroes them should it
// fail). Returns 0 and fills `group`, or code::kBadArguments before anything
// is written:
//   "argument packet_number is illegal" when packet_number <= 0;
//   a message of its own for a null array or buffer, counts beyond the
//   limits, a negative fec_number, a media buffer whose stated length does
//   not hold its length prefix and the packet it announces, a symbol length
//   beyond the 16-bit field, or an FEC buffer too small for header and
//   symbol.
// fec_number = 0 passes: each variant answers it as its codec does.
int prepare_encode(const EncodeArgs &args, const FecLayout &layout, const EncodeLimits &limits,
                   bool codec_writes_symbols, EncodeGroup *group);

// Writes the header of FEC packet j (esi k + j) and sets its packet length.
void write_group_header(const EncodeArgs &args, const FecLayout &layout, const EncodeGroup &group,
                        int j);

// Readable length of media buffer i for the codec: its stated length, clamped to
// [0, symbol_len]. Bytes beyond it count as zero and are never read.
inline int readable_media_length(const int *med_packet_len, int i, int symbol_len) {
  const int len = med_packet_len[i];
  return len < 0 ? 0 : (len > symbol_len ? symbol_len : len);
}

// ---- Decoding ----

// The receiver's arguments, unchanged.
struct DecodeArgs {
  unsigned char **received_med_pkt;
  int *received_med_pkt_len;
  int received_med_num;
  unsigned char **received_fec_pkt;
  int *received_fec_pkt_len;
  int received_fec_num;
  unsigned char **recovered_pkt;
  int *recovered_pkt_len;
  int *recovered_pkt_num;
};

// One group as the decoder reads it from the first FEC packet.
struct DecodeGroup {
  int k;
  int r;
  int n;
  int symbol_len;
  uint16_t base_seq;
  uint32_t seqmask;
};

// Clears *recovered_pkt_num, then reads the group from the first FEC packet and
// logs it. Returns 0, or code::kBadArguments when no FEC packet is given, an
// array is missing, the first FEC packet is too short to hold its header, or
// its header names a group that no encoder writes (no media or no FEC
// packets, or a symbol length that could not hold the media length prefix or
// is no multiple of 4).
int begin_decode(const DecodeArgs &args, const FecLayout &layout, DecodeGroup *group);

// Logs that the received packets are fewer than k ("data is not enough", with
// the sum and, when `with_k`, k) and returns code::kNotEnoughPackets; 0 when
// there are enough.
int check_enough_packets(const DecodeArgs &args, const DecodeGroup &group, bool with_k);

// How a variant places received packets. Media packets are looked at first,
// then FEC packets, each in array order, until the sink has what it needs.
struct PlacementRule {
  enum TooLong {
    kBeforePlacement,          // -101 for any media packet longer than S
    kBeforePlacementUnsigned,  // the same, lengths compared as unsigned
    kOncePlaced,               // -101 only for a media packet of the group
  } too_long;
  // Media packets at a sequence offset beyond this end the call with -102
  // ("esi=%d invalid"); -1: they are merely no members of the group.
  int max_media_offset;
};

// What a variant does with each placed symbol: `placed(index)` tells that an
// index is taken already (such packets are skipped), take() is handed the
// symbol's index, bytes and readable length and returns 0 or the call's
// negative result, and `done()` ends the visit.
template <class Sink>
int place_received(const DecodeArgs &args, const FecLayout &layout, const DecodeGroup &group,
                   const PlacementRule &rule, Sink &sink);

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

// ---- What place_received is made of ----

// True when FEC packet j holds the whole header and symbol of the group; a
// shorter one is not used.
bool fec_packet_usable(const DecodeArgs &args, int j, const FecLayout &layout,
                       const DecodeGroup &group);

// True when received media packet i is long enough to carry its RTP sequence
// number and holds the whole packet that its length prefix announces. A shorter
// one cannot be placed in the group; one whose prefix claims more than its
// stated length is malformed and logged. Neither is used.
bool media_packet_placeable(const DecodeArgs &args, int i);

// Logs that received media packet i (of stated length `len`) is longer than the
// group's symbol and returns code::kMediaTooLong, the decoders' answer to it.
int media_packet_too_long(int i, int len, const DecodeGroup &group);

// Logs a symbol index that the variant cannot use and returns
// code::kIndexTooLarge.
int invalid_index(int index);

// Symbol index of a media packet at sequence offset `offset`, or -1 when the
// packet is not a member of the group. A zero mask means consecutive sequence
// numbers; otherwise bit b (from the least significant end) marks offset b as a
// member, and a member's index is the number of members before it.
int media_symbol_index(int offset, uint32_t seqmask);

// True when `esi` names one of the group's repair symbols (k .. n-1).
inline bool repair_index_in_group(int esi, const DecodeGroup &group) {
  return esi >= group.k && esi < group.n;
}

template <class Sink>
int place_received(const DecodeArgs &a, const FecLayout &layout, const DecodeGroup &g,
                   const PlacementRule &rule, Sink &sink) {
  for (int i = 0; i < a.received_med_num && !sink.done(); ++i) {
    const int len = a.received_med_pkt_len[i];
    const bool too_long = rule.too_long == PlacementRule::kBeforePlacementUnsigned
                              ? static_cast<unsigned>(len) > static_cast<unsigned>(g.symbol_len)
                              : len > g.symbol_len;
    if (too_long && rule.too_long != PlacementRule::kOncePlaced)
      return media_packet_too_long(i, len, g);
    if (!media_packet_placeable(a, i)) continue;
    const int offset = seq_offset(media_seq(a.received_med_pkt[i]), g.base_seq);
    if (rule.max_media_offset >= 0 && offset > rule.max_media_offset) return invalid_index(offset);
    const int index = media_symbol_index(offset, g.seqmask);
    // Only the group's own media symbols 0 .. k-1 are used.
    if (index < 0 || index >= g.k || sink.placed(index)) continue;
    if (too_long) return media_packet_too_long(i, len, g);
    if (int rc = sink.take(index, a.received_med_pkt[i], len); rc != 0) return rc;
  }
  for (int j = 0; j < a.received_fec_num && !sink.done(); ++j) {
    if (!fec_packet_usable(a, j, layout, g)) continue;
    uint8_t *pkt = a.received_fec_pkt[j];
    const int esi = fec_esi(pkt);
    if (!repair_index_in_group(esi, g) || sink.placed(esi)) continue;
    if (int rc = sink.take(esi, pkt + layout.symbol_offset(), g.symbol_len); rc != 0) return rc;
  }
  return code::kOk;
}

}  // namespace zv
