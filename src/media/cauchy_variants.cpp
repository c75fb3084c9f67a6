// Audio version 2 and video version 2: the Cauchy code over GF(256), run in
// place on the caller's buffers with no heap allocation. Media buffers serve as
// the original blocks, repair symbols are computed straight into the FEC
// packets, and decoding rebuilds the lost media symbols inside the received
// FEC packets, from where the RTP packets are copied out.
//
// The two variants differ only in their header (video carries a sequence mask),
// a few messages and the order of one check; `CauchyVariant` names those
// differences and one encoder and one decoder serve both.
#include <bit>
#include <cstdint>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "media/group.h"
#include "media/handle.h"
#include "media/log.h"
#include "media/variants.h"
#include "zvfec/cauchy.h"

namespace zv {
namespace {

constexpr int kMaxGroup = 64;     // encoder working arrays: media and FEC packets
constexpr int kMaxSymbols = 256;  // decoder working storage: symbol indices

struct CauchyVariant {
  FecLayout layout;
  bool log_symbol_length;              // "max_packet_length" after S is known
  bool log_codec_code;                 // the encoder logs the codec's code, else -4
  bool length_check_before_placement;  // -101 for any too-long media packet
  int length_error_level;
  const char *too_few_format;  // with k and the number of usable symbols
};

constexpr CauchyVariant kAudio{
    .layout = kAudioV2Layout,
    .log_symbol_length = false,
    .log_codec_code = true,
    .length_check_before_placement = true,
    .length_error_level = ZV_FEC_LOG_ERROR,
    .too_few_format = "zvfec dec  packet num:%d (real:%d ) invalid, so can not run fec!\n",
};

constexpr CauchyVariant kVideo{
    .layout = kVideoV2Layout,
    .log_symbol_length = true,
    .log_codec_code = false,
    .length_check_before_placement = false,
    .length_error_level = ZV_FEC_LOG_INFO,
    .too_few_format = "zvfec dec k=%d  realcnt=%d invalid,so can not run fec!",
};

int encode(const CauchyVariant &v, void *handle, const EncodeArgs &args) {
  if (!handle_ready(handle)) return -1;
  EncodeGroup g{};
  if (int rc = prepare_encode(args, v.layout, {kMaxGroup, kMaxGroup, 2 * kMaxGroup}, true, &g);
      rc != 0)
    return rc;
  if (v.log_symbol_length) ZV_LOG(ZV_FEC_LOG_INFO, "max_packet_length   %d\n", g.symbol_len);

  // Left uninitialised: entries 0 .. k-1 and 0 .. r-1 are set below, and
  // clearing the whole arrays costs more than encoding a small group.
  void *pdata[kMaxGroup];
  int lengths[kMaxGroup];
  void *reco[kMaxGroup];
  for (int i = 0; i < g.k; ++i) {
    pdata[i] = args.med_packet[i];
    lengths[i] = readable_media_length(args.med_packet_len, i, g.symbol_len);
  }
  for (int j = 0; j < g.r; ++j) {
    write_group_header(args, v.layout, g, j);
    reco[j] = args.fec_packet[j] + v.layout.symbol_offset();
  }

  const cm256_encoder_params params{g.k, g.r, g.symbol_len};
  if (int rc = zvfec_encode_bounded(params, pdata, lengths, reco); rc != 0) {
    for (int j = 0; j < g.r; ++j) std::memset(reco[j], 0, static_cast<size_t>(g.symbol_len));
    ZV_LOG(ZV_FEC_LOG_ERROR, "err %d\n", v.log_codec_code ? rc : -4);
    return -4;
  }
  return 0;
}

// Symbol index of a media packet at sequence offset `offset`, or -1 when the
// packet is not a member of the group. A zero mask means consecutive sequence
// numbers; otherwise bit b (from the least significant end) marks offset b as a
// member, and a member's index is the number of members before it.
int media_symbol_index(int offset, uint32_t seqmask) {
  if (seqmask == 0) return offset;
  if (offset > 31 || ((seqmask >> offset) & 1u) == 0) return -1;
  return std::popcount(seqmask & ((1u << offset) - 1u));
}

// The decoder's working storage: the first k usable symbols, each index once.
// Only `placed` and `count` start cleared; blocks and lengths are written
// before they are read.
struct Gathered {
  cm256_block blocks[kMaxSymbols];
  int lengths[kMaxSymbols];
  bool placed[kMaxSymbols] = {};
  int count = 0;

  bool take(int index, uint8_t *block, int length, bool from_fec) {
    if (placed[index]) return false;
    placed[index] = true;
    blocks[count] = {block, static_cast<uint8_t>(index), static_cast<uint8_t>(from_fec)};
    lengths[count] = length;
    ++count;
    return true;
  }
};

int decode(const CauchyVariant &v, void *handle, const DecodeArgs &args) {
  DecodeGroup g{};
  if (int rc = begin_decode(args, v.layout, &g); rc != 0) return rc;
  if (!handle_ready(handle)) return -1;
  if (args.received_med_num + args.received_fec_num < g.k) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "data is not enough %d %d",
           args.received_med_num + args.received_fec_num, g.k);
    return -100;
  }

  Gathered got;
  for (int i = 0; i < args.received_med_num && got.count < g.k; ++i) {
    const int len = args.received_med_pkt_len[i];
    if (len > g.symbol_len && v.length_check_before_placement)
      return media_packet_too_long(i, len, g);
    if (!media_packet_placeable(args, i)) continue;
    const int offset = seq_offset(media_seq(args.received_med_pkt[i]), g.base_seq);
    const int index = media_symbol_index(offset, g.seqmask);
    // Only the group's own media symbols 0 .. k-1 are used.
    if (index < 0 || index >= g.k || got.placed[index]) continue;
    if (len > g.symbol_len) return media_packet_too_long(i, len, g);
    got.take(index, args.received_med_pkt[i], len, false);
  }
  for (int j = 0; j < args.received_fec_num && got.count < g.k; ++j) {
    if (!fec_packet_usable(args, j, v.layout, g)) continue;
    uint8_t *pkt = args.received_fec_pkt[j];
    const int esi = pkt[kRtpHeaderRoom + 1];
    if (!repair_index_in_group(esi, g)) continue;
    got.take(esi, pkt + v.layout.symbol_offset(), g.symbol_len, true);
  }
  if (got.count < g.k) {
    ZV_LOG(ZV_FEC_LOG_ERROR, v.too_few_format, g.k, got.count);
    return -3;
  }

  const cm256_encoder_params params{g.k, g.n - g.k, g.symbol_len};
  if (int rc = zvfec_decode_bounded(params, got.blocks, got.lengths, false); rc != 0) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "zvfec dec err %d", rc);
    return -4;
  }
  const RecoveredOut out{args.recovered_pkt, args.recovered_pkt_len, args.recovered_pkt_num};
  for (int b = 0; b < got.count; ++b) {
    if (got.blocks[b].fecflag == 0) continue;
    extract_recovered(static_cast<const uint8_t *>(got.blocks[b].Block), g.symbol_len, g.base_seq,
                      {false, v.length_error_level}, out);
  }
  return 0;
}

}  // namespace
}  // namespace zv

namespace {

zv::EncodeArgs encode_args(unsigned char **med_packet, int *med_packet_len, int packet_number,
                           int fec_number, unsigned char **fec_packet, int *fec_packet_len) {
  return {med_packet, med_packet_len, packet_number, fec_number, fec_packet, fec_packet_len};
}

}  // namespace

#define ZV_CAUCHY_VARIANT(media, variant)                                                          \
  int zv_rsfec_encode_##media##_v2(ZV_ENCODE_ARGS) {                                               \
    (void)encode_header_only, (void)write_fec_offset;                                              \
    return zv::encode(variant, handle,                                                             \
                      encode_args(med_packet, med_packet_len, packet_number, fec_number,           \
                                  fec_packet, fec_packet_len));                                    \
  }                                                                                                \
  int zv_rsfec_decode_##media##_v2(ZV_DECODE_ARGS) {                                               \
    (void)use_fec_offset;                                                                          \
    return zv::decode(variant, handle,                                                             \
                      {received_med_pkt, received_med_pkt_len, received_med_num, received_fec_pkt, \
                       received_fec_pkt_len, received_fec_num, recovered_pkt, recovered_pkt_len,   \
                       recovered_pkt_num});                                                        \
  }

ZV_CAUCHY_VARIANT(audio, zv::kAudio)
ZV_CAUCHY_VARIANT(video, zv::kVideo)
