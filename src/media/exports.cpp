// The eight exported entry points: handle, version text, logging controls and
// the dispatch of encode and decode to the variant of the handle's media type
// and format version.
#include <cstdlib>

#include "media/codes.h"
#include "media/handle.h"
#include "media/log.h"
#include "media/variants.h"
#include "zv_rsfec.h"
#include "zvfec/cauchy.h"

namespace {

using EncodeFn = int (*)(ZV_ENCODE_ARGS);
using DecodeFn = int (*)(ZV_DECODE_ARGS);

struct Variant {
  EncodeFn encode;
  DecodeFn decode;
};

// The variant for (type, ver), or null when the pair has none.
const Variant *find_variant(const zv_rsfec_obj *obj) {
  static constexpr Variant kAudioV2{zv_rsfec_encode_audio_v2, zv_rsfec_decode_audio_v2};
  static constexpr Variant kVideoV2{zv_rsfec_encode_video_v2, zv_rsfec_decode_video_v2};
  static constexpr Variant kVideoV1{zv_rsfec_encode_video_v1, zv_rsfec_decode_video_v1};
  if (obj->type == ZV_FEC_VIDEO && obj->ver == ZV_FEC_VERSION_1) return &kVideoV1;
  if (obj->type == ZV_FEC_VIDEO && obj->ver == ZV_FEC_VERSION_2) return &kVideoV2;
  if (obj->type == ZV_FEC_AUDIO && obj->ver == ZV_FEC_VERSION_2) return &kAudioV2;
  return nullptr;
}

}  // namespace

extern "C" {

ZV_RSFEC_API int zv_rsfec_initilize(int type, int version, void **obj) {
  if (type != ZV_FEC_AUDIO && version != ZV_FEC_VERSION_1 && version != ZV_FEC_VERSION_2) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "zv_rsfec_initilize param error. type = %d version=%d \n", type,
           version);
    return 0;
  }
  if (type == ZV_FEC_AUDIO && version == ZV_FEC_VERSION_1) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "zv_rsfec_initilize param error. error.type = %d version=%d \n", type,
           version);
    return 0;
  }
  auto *handle = static_cast<zv_rsfec_obj *>(std::calloc(1, sizeof(zv_rsfec_obj)));
  if (handle == nullptr) return 0;
  if (version == ZV_FEC_VERSION_2) cm256_init_(2);
  handle->initlized = 1;
  handle->type = type;
  handle->ver = version;
  ZV_LOG(ZV_FEC_LOG_INFO, "zv_rsfec_initilize type=%d  version=%d \n", type, version);
  *obj = handle;
  return 1;
}

ZV_RSFEC_API int zv_rsfec_is_initilized(void *handle) { return zv::handle_ready(handle) ? 1 : 0; }

ZV_RSFEC_API int zv_rsfec_encode(ZV_ENCODE_ARGS) {
  if (!zv::handle_ready(handle)) return zv::code::kNotInitialised;
  const Variant *v = find_variant(static_cast<const zv_rsfec_obj *>(handle));
  if (v == nullptr) return zv::code::kNoVariant;
  return v->encode(handle, encode_header_only, med_packet, med_packet_len, packet_number,
                   fec_number, write_fec_offset, fec_packet, fec_packet_len);
}

ZV_RSFEC_API int zv_rsfec_decode(ZV_DECODE_ARGS) {
  if (recovered_pkt_num != nullptr) *recovered_pkt_num = 0;
  if (!zv::handle_ready(handle)) return zv::code::kNotInitialised;
  const Variant *v = find_variant(static_cast<const zv_rsfec_obj *>(handle));
  if (v == nullptr) return zv::code::kNoVariant;
  return v->decode(handle, received_med_pkt, received_med_pkt_len, received_med_num,
                   received_fec_pkt, received_fec_pkt_len, received_fec_num, use_fec_offset,
                   recovered_pkt, recovered_pkt_len, recovered_pkt_num);
}

ZV_RSFEC_API void zv_rsfec_destory(void *handle) { std::free(handle); }

ZV_RSFEC_API const char *zv_rsfec_version(void) {
  return "Release 1.0.0.0 Build Aug 18 2022 14:02:55";
}

ZV_RSFEC_API void zv_rsfec_register_log_callback(zv_rsfec_log_callback cb) {
  m_log_callback.store(cb, std::memory_order_release);
}

ZV_RSFEC_API void zv_rsfec_set_log_level(ZV_FEC_LOG_SERVERITY_E level) {
  mLogLevel.store(level, std::memory_order_relaxed);
}

}  // extern "C"
