// Audio version 2 and video version 2: the Cauchy code over GF(256), run in
// place on the caller's buffers with no heap allocation. Media buffers serve as
// the original blocks, repair symbols are computed straight into the FEC
// packets, and decoding rebuilds the lost media symbols inside the received
// FEC packets, from where the RTP packets are copied out.
//
// The two variants differ only in their header (video carries a sequence mask),
// a few messages and the order of one check; `CauchyVariant` names those
// differences and one encoder and one decoder serve both.
#include <cstdint>
#include <cstring>

#include "media/coding.h"
#include "media/group.h"
#include "media/handle.h"
#include "media/log.h"
#include "media/variants.h"

namespace zv {
namespace {

struct CauchyVariant {
  FecLayout layout;
  bool log_symbol_length;  // "max_packet_length" after S is known
  bool log_codec_code;     // the encoder logs the codec's code, else -4
  PlacementRule placement;
  int length_error_level;
  const char *too_few_format;  // with k and the number of usable symbols
};

constexpr CauchyVariant kAudio{
    .layout = kAudioV2Layout,
    .log_symbol_length = false,
    .log_codec_code = true,
    .placement = {PlacementRule::kBeforePlacement, -1},
    .length_error_level = ZV_FEC_LOG_ERROR,
    .too_few_format = "zvfec dec  packet num:%d (real:%d ) invalid, so can not run fec!\n",
};

constexpr CauchyVariant kVideo{
    .layout = kVideoV2Layout,
    .log_symbol_length = true,
    .log_codec_code = false,
    .placement = {PlacementRule::kOncePlaced, -1},
    .length_error_level = ZV_FEC_LOG_INFO,
    .too_few_format = "zvfec dec k=%d  realcnt=%d invalid,so can not run fec!",
};

int encode(const CauchyVariant &v, void *handle, const EncodeArgs &args) {
  if (!handle_ready(handle)) return code::kNotInitialised;
  EncodeGroup g{};
  if (int rc = prepare_encode(args, v.layout, {v.layout.max_k, v.layout.max_r, v.layout.max_n},
                              true, &g);
      rc != 0)
    return rc;
  if (v.log_symbol_length) ZV_LOG(ZV_FEC_LOG_INFO, "max_packet_length   %d\n", g.symbol_len);

  // Left uninitialised: entries 0 .. k-1 and 0 .. r-1 are set below, and
  // clearing the whole arrays costs more than encoding a small group.
  SourceSymbol sources[kCauchyMaxPackets];
  uint8_t *repair[kCauchyMaxPackets];
  for (int i = 0; i < g.k; ++i)
    sources[i] = {args.med_packet[i], readable_media_length(args.med_packet_len, i, g.symbol_len)};
  for (int j = 0; j < g.r; ++j) {
    write_group_header(args, v.layout, g, j);
    repair[j] = args.fec_packet[j] + v.layout.symbol_offset();
  }
  if (int rc = cauchy_encode(g.symbol_len, {sources, static_cast<size_t>(g.k)},
                             {repair, static_cast<size_t>(g.r)});
      rc != 0) {
    for (int j = 0; j < g.r; ++j) std::memset(repair[j], 0, static_cast<size_t>(g.symbol_len));
    ZV_LOG(ZV_FEC_LOG_ERROR, "err %d\n", v.log_codec_code ? rc : code::kCodecFailure);
    return code::kCodecFailure;
  }
  return code::kOk;
}

// The decoder's working storage: the first k usable symbols, each index once.
// Only `is_placed` and `count` start cleared; blocks and lengths are written
// before they are read.
struct Gathered {
  int k;
  cm256_block blocks[kHeaderIndices];
  int lengths[kHeaderIndices];
  bool is_placed[kHeaderIndices] = {};
  int count = 0;

  explicit Gathered(int group_k) : k(group_k) {}
  bool placed(int index) const { return is_placed[index]; }
  bool done() const { return count >= k; }
  int take(int index, uint8_t *block, int length) {
    is_placed[index] = true;
    blocks[count] = {block, static_cast<uint8_t>(index), static_cast<uint8_t>(index >= k)};
    lengths[count] = length;
    ++count;
    return code::kOk;
  }
};

int decode(const CauchyVariant &v, void *handle, const DecodeArgs &args) {
  DecodeGroup g{};
  if (int rc = begin_decode(args, v.layout, &g); rc != 0) return rc;
  if (!handle_ready(handle)) return code::kNotInitialised;
  if (int rc = check_enough_packets(args, g, true); rc != 0) return rc;

  Gathered got(g.k);
  if (int rc = place_received(args, v.layout, g, v.placement, got); rc != 0) return rc;
  if (got.count < g.k) {
    ZV_LOG(ZV_FEC_LOG_ERROR, v.too_few_format, g.k, got.count);
    return code::kTooFewSymbols;
  }
  if (int rc = cauchy_decode(g.k, g.n - g.k, g.symbol_len, got.blocks, got.lengths); rc != 0) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "zvfec dec err %d", rc);
    return code::kCodecFailure;
  }
  const RecoveredOut out{args.recovered_pkt, args.recovered_pkt_len, args.recovered_pkt_num};
  for (int b = 0; b < got.count; ++b) {
    if (got.blocks[b].fecflag == 0) continue;
    extract_recovered(static_cast<const uint8_t *>(got.blocks[b].Block), g.symbol_len, g.base_seq,
                      {false, v.length_error_level}, out);
  }
  return code::kOk;
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
