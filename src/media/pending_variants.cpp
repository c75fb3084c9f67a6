// Stand-ins for the wire variants that are not built yet: they answer every
// call with "codec failure" so that no caller mistakes them for success.
#include "media/handle.h"
#include "media/variants.h"

namespace {
constexpr int kNotBuilt = -4;
}

#define ZV_PENDING_ENCODE(name)                                                            \
  int name(ZV_ENCODE_ARGS) {                                                               \
    (void)encode_header_only, (void)med_packet, (void)med_packet_len, (void)packet_number, \
        (void)fec_number, (void)write_fec_offset, (void)fec_packet, (void)fec_packet_len;  \
    return zv::handle_ready(handle) ? kNotBuilt : -1;                                      \
  }
#define ZV_PENDING_DECODE(name)                                                     \
  int name(ZV_DECODE_ARGS) {                                                        \
    (void)received_med_pkt, (void)received_med_pkt_len, (void)received_med_num,     \
        (void)received_fec_pkt, (void)received_fec_pkt_len, (void)received_fec_num, \
        (void)use_fec_offset, (void)recovered_pkt, (void)recovered_pkt_len;         \
    *recovered_pkt_num = 0;                                                         \
    return zv::handle_ready(handle) ? kNotBuilt : -1;                               \
  }

ZV_PENDING_ENCODE(zv_rsfec_encode_audio_v2)
ZV_PENDING_DECODE(zv_rsfec_decode_audio_v2)
ZV_PENDING_ENCODE(zv_rsfec_encode_video_v2)
ZV_PENDING_DECODE(zv_rsfec_decode_video_v2)
ZV_PENDING_ENCODE(zv_rsfec_encode_video_v1)
ZV_PENDING_DECODE(zv_rsfec_decode_video_v1)
