// The C entry points of the stream layer: argument checks, and no exception
// (a failed allocation) ever leaves through them.
#include <zvfec/stream.h>

#include <climits>
#include <new>

#include "stream/codec.h"
#include "stream/framing.h"
#include "stream/receiver.h"
#include "stream/sender.h"

struct zvfec_stream_codec {
  zv::stream::Codec impl;
};
struct zvfec_stream_sender {
  zv::stream::Sender impl;
};
struct zvfec_stream_receiver {
  zv::stream::Receiver impl;
};

namespace {

// Runs f, turning a failed allocation into ZVFEC_STREAM_E_NOMEM.
template <class F>
int guarded(F &&f) {
  try {
    return f();
  } catch (const std::bad_alloc &) {
    return ZVFEC_STREAM_E_NOMEM;
  }
}

void set(int *err, int code) {
  if (err) *err = code;
}

// A new Handle around Impl(config), or nullptr with *err set: `bad` when the
// configuration was refused, ZVFEC_STREAM_E_NOMEM when memory is short.
template <class Handle, class Impl, class Config>
Handle *make(const Config &config, int bad, int *err) {
  Handle *h = nullptr;
  if (bad == 0) bad = guarded([&] { return h = new Handle{Impl(config)}, 0; });
  set(err, bad);
  return h;
}

}  // namespace

extern "C" {

const char *zvfec_stream_error_text(int code) {
  switch (code) {
    case ZVFEC_STREAM_OK:
      return "success";
    case ZVFEC_STREAM_DUPLICATE:
      return "duplicate packet";
    case ZVFEC_STREAM_E_ARG:
      return "bad argument";
    case ZVFEC_STREAM_E_NOMEM:
      return "out of memory";
    case ZVFEC_STREAM_E_NOT_RTP:
      return "not an RTP packet";
    case ZVFEC_STREAM_E_SHORT:
      return "shorter than an FEC header";
    case ZVFEC_STREAM_E_TAG:
      return "unknown variant tag";
    case ZVFEC_STREAM_E_K:
    case ZVFEC_STREAM_E_R:
    case ZVFEC_STREAM_E_N:
      return "group size out of range";
    case ZVFEC_STREAM_E_SYMBOL:
      return "bad symbol length";
    case ZVFEC_STREAM_E_ESI:
      return "symbol index outside the group";
    case ZVFEC_STREAM_E_MASK:
      return "sequence masks are not supported";
    case ZVFEC_STREAM_E_LENGTH:
      return "length does not match the symbol length";
    case ZVFEC_STREAM_E_FULL:
      return "too many FEC packets for one group";
    case ZVFEC_STREAM_E_TOO_LONG:
      return "media packet too long to protect";
    case ZVFEC_STREAM_E_CONFLICT:
      return "FEC packets of one group rebuild different packets";
    case ZVFEC_STREAM_E_TOO_FEW:
      return "fewer symbols than k";
    default:
      return "library code";
  }
}

int zvfec_stream_variant_describe(int variant, zvfec_stream_variant_info *out) {
  const zv::FecLayout *l = zv::stream::layout_of(variant);
  if (!l || !out) return ZVFEC_STREAM_E_ARG;
  *out = {l->name,
          l->media_type,
          l->version,
          l->tag,
          static_cast<size_t>(l->header_size()),
          l->max_k,
          l->max_r,
          l->max_n,
          static_cast<size_t>(zv::kRtpHeaderSize),
          static_cast<size_t>(zv::kMaxSymbolLength - zv::kMediaPrefixSize)};
  return 0;
}

int zvfec_stream_check_shape(int variant, int k, int r) {
  return zv::stream::check_shape(variant, k, r);
}

uint32_t zvfec_stream_fec_ssrc(uint32_t media_ssrc) {
  return zv::stream::derived_fec_ssrc(media_ssrc);
}

int zvfec_stream_parse_fec(const uint8_t *packet, size_t len, zvfec_stream_fec_header *out) {
  if (!packet || !out) return ZVFEC_STREAM_E_ARG;
  return zv::stream::parse_fec(packet, len, *out);
}

zvfec_stream_codec *zvfec_stream_codec_new(int variant) {
  if (!zv::stream::layout_of(variant)) return nullptr;
  return new (std::nothrow) zvfec_stream_codec{zv::stream::Codec(variant)};
}

void zvfec_stream_codec_free(zvfec_stream_codec *codec) { delete codec; }

size_t zvfec_stream_symbol_len(size_t longest_media) {
  return zv::stream::symbol_len(longest_media);
}

size_t zvfec_stream_fec_size(int variant, size_t symbol_len) {
  return zv::stream::fec_size(variant, symbol_len);
}

int zvfec_stream_codec_encode(zvfec_stream_codec *codec, const uint8_t *const *media,
                              const size_t *media_len, int k, int r, uint8_t *const *fec,
                              size_t fec_cap, size_t *fec_len) {
  if (!codec || !media || !media_len || !fec || !fec_len || k < 1 || r < 1)
    return ZVFEC_STREAM_E_ARG;
  for (int i = 0; i < k; ++i)
    if (!media[i]) return ZVFEC_STREAM_E_ARG;
  for (int j = 0; j < r; ++j)
    if (!fec[j]) return ZVFEC_STREAM_E_ARG;
  return guarded([&] { return codec->impl.encode(media, media_len, k, r, fec, fec_cap, fec_len); });
}

int zvfec_stream_codec_decode(zvfec_stream_codec *codec, const zvfec_stream_fec_header *group,
                              uint32_t ssrc, const uint8_t *const *media, const size_t *media_len,
                              size_t media_count, const uint8_t *const *fec, const size_t *fec_len,
                              size_t fec_count, uint8_t *const *out, size_t out_cap,
                              size_t *out_len, int *out_count, int *rejected) {
  if (out_count) *out_count = 0;
  if (rejected) *rejected = 0;
  if (!codec || !group || !out || !out_len || !out_count || (media_count && !media_len) ||
      (media_count && !media) || (fec_count && (!fec || !fec_len)))
    return ZVFEC_STREAM_E_ARG;
  int ignored = 0;
  return guarded([&] {
    return codec->impl.decode(*group, ssrc, media, media_len, media_count, fec, fec_len, fec_count,
                              out, out_cap, out_len, out_count, rejected ? rejected : &ignored);
  });
}

zvfec_stream_sender *zvfec_stream_sender_new(const zvfec_stream_sender_config *config, int *err) {
  const zvfec_stream_sender_config none{};
  return make<zvfec_stream_sender, zv::stream::Sender>(
      config ? *config : none,
      config ? zv::stream::Sender::check_config(*config) : ZVFEC_STREAM_E_ARG, err);
}

void zvfec_stream_sender_free(zvfec_stream_sender *sender) { delete sender; }

int zvfec_stream_sender_push(zvfec_stream_sender *sender, const uint8_t *rtp, size_t len,
                             int64_t now_ns) {
  if (!sender || !rtp) return ZVFEC_STREAM_E_ARG;
  return guarded([&] { return sender->impl.push(rtp, len, now_ns); });
}

int64_t zvfec_stream_sender_deadline(const zvfec_stream_sender *sender) {
  return sender ? sender->impl.deadline() : INT64_MAX;
}

void zvfec_stream_sender_poll(zvfec_stream_sender *sender, int64_t now_ns) {
  if (sender) guarded([&] { return sender->impl.poll(now_ns), 0; });
}

void zvfec_stream_sender_flush(zvfec_stream_sender *sender) {
  if (sender) guarded([&] { return sender->impl.flush(), 0; });
}

int zvfec_stream_sender_pop(zvfec_stream_sender *sender, zvfec_stream_packet *out) {
  return sender && out && sender->impl.pop(*out) ? 1 : 0;
}

void zvfec_stream_sender_get_stats(const zvfec_stream_sender *sender,
                                   zvfec_stream_sender_stats *out) {
  if (sender && out) *out = sender->impl.stats();
}

zvfec_stream_receiver *zvfec_stream_receiver_new(const zvfec_stream_receiver_config *config,
                                                 int *err) {
  const zvfec_stream_receiver_config none{};
  return make<zvfec_stream_receiver, zv::stream::Receiver>(
      config ? *config : none, !config || config->hold_ns <= 0 ? ZVFEC_STREAM_E_ARG : 0, err);
}

void zvfec_stream_receiver_free(zvfec_stream_receiver *receiver) { delete receiver; }

int zvfec_stream_receiver_map_ssrc(zvfec_stream_receiver *receiver, uint32_t fec_ssrc,
                                   uint32_t media_ssrc) {
  if (!receiver) return ZVFEC_STREAM_E_ARG;
  return guarded([&] { return receiver->impl.map_ssrc(fec_ssrc, media_ssrc), 0; });
}

int zvfec_stream_receiver_push_media(zvfec_stream_receiver *receiver, const uint8_t *rtp,
                                     size_t len, int64_t now_ns, int64_t *ext_seq) {
  if (!receiver || !rtp) return ZVFEC_STREAM_E_ARG;
  return guarded([&] { return receiver->impl.push_media(rtp, len, now_ns, ext_seq); });
}

int zvfec_stream_receiver_push_fec(zvfec_stream_receiver *receiver, const uint8_t *rtp, size_t len,
                                   int64_t now_ns) {
  if (!receiver || !rtp) return ZVFEC_STREAM_E_ARG;
  return guarded([&] { return receiver->impl.push_fec(rtp, len, now_ns); });
}

void zvfec_stream_receiver_poll(zvfec_stream_receiver *receiver, int64_t now_ns) {
  if (receiver) guarded([&] { return receiver->impl.poll(now_ns), 0; });
}

int zvfec_stream_receiver_pop(zvfec_stream_receiver *receiver, zvfec_stream_packet *out) {
  return receiver && out && receiver->impl.pop(*out) ? 1 : 0;
}

void zvfec_stream_receiver_get_stats(const zvfec_stream_receiver *receiver,
                                     zvfec_stream_receiver_stats *out) {
  if (receiver && out) *out = receiver->impl.stats();
}

int zvfec_stream_receiver_get_ssrc_stats(const zvfec_stream_receiver *receiver, uint32_t ssrc,
                                         zvfec_stream_ssrc_stats *out) {
  if (!receiver || !out) return ZVFEC_STREAM_E_ARG;
  return receiver->impl.ssrc_stats(ssrc, *out) ? 0 : ZVFEC_STREAM_E_ARG;
}

}  // extern "C"
