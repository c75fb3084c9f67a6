// The steps of encoding and decoding one group that the three wire variants
// share: checking the sender's arguments, preparing the FEC buffers and their
// headers, reading the group back from the first FEC packet, and deciding
// whether a received packet may be used at all. Every variant calls these
// instead of doing the same work its own way.
#pragma once

#include <cstdint>

#include "media/fec_layout.h"

namespace zv {

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

// Checks the sender's arguments and, when they are sound, takes base_seq from
// the first media packet and zero-fills the FEC buffers over their stated
// capacities (but for the repair symbols when `codec_writes_symbols`: the
// codec then writes them in full, and the variant zeroes them should it
// fail). Returns 0 and fills `group`, or a negative code before anything is
// written:
//   -2 "argument packet_number is illegal" when packet_number <= 0;
//   -2 with a message of its own for a null array or buffer, counts beyond the
//      limits, a negative fec_number, a media buffer whose stated length does
//      not hold its length prefix and the packet it announces, a symbol length
//      beyond the 16-bit field, or an FEC buffer too small for header and
//      symbol.
// fec_number = 0 passes: each variant answers it as its codec does.
int prepare_encode(const EncodeArgs &args, const FecLayout &layout, const EncodeLimits &limits,
                   bool codec_writes_symbols, EncodeGroup *group);

// Writes the header of FEC packet j (esi k + j) and sets its packet length.
void write_group_header(const EncodeArgs &args, const FecLayout &layout, const EncodeGroup &group,
                        int j);

// Readable length of media buffer i for the codec: its stated length, clamped to
// [0, symbol_len]. Bytes beyond it count as zero and are never read.
int readable_media_length(const int *med_packet_len, int i, int symbol_len);

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
// logs it. Returns 0, or -2 when no FEC packet is given, an array is missing,
// the first FEC packet is too short to hold its header, or its header names a
// group that no encoder writes (no media or no FEC packets, or a symbol length
// that could not hold the media length prefix or is no multiple of 4).
int begin_decode(const DecodeArgs &args, const FecLayout &layout, DecodeGroup *group);

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
// group's symbol and returns -101, the decoders' answer to it.
int media_packet_too_long(int i, int len, const DecodeGroup &group);

// True when `esi` names one of the group's repair symbols (k .. n-1).
inline bool repair_index_in_group(int esi, const DecodeGroup &group) {
  return esi >= group.k && esi < group.n;
}

}  // namespace zv
