#include "stream/framing.h"

namespace zv::stream {

const FecLayout *layout_of(int variant) {
  if (variant < 0 || variant >= kVariantCount) return nullptr;
  return kLayouts[variant];
}

int check_shape(int variant, int k, int r) {
  const FecLayout *l = layout_of(variant);
  if (l == nullptr) return ZVFEC_STREAM_E_ARG;
  if (k < 1 || k > l->max_k) return ZVFEC_STREAM_E_K;
  if (r < 1 || r > l->max_r) return ZVFEC_STREAM_E_R;
  if (k + r > l->max_n) return ZVFEC_STREAM_E_N;
  return 0;
}

size_t fec_size(int variant, size_t symbol_len) {
  const FecLayout *l = layout_of(variant);
  return l ? static_cast<size_t>(l->symbol_offset()) + symbol_len : 0;
}

bool describes_group(const zvfec_stream_fec_header &hdr) {
  return check_shape(hdr.variant, hdr.k, hdr.r) == 0 && hdr.symbol_len >= kMinRtpSymbolLength &&
         symbol_length_valid(hdr.symbol_len);
}

int parse_fec(const uint8_t *p, size_t len, zvfec_stream_fec_header &out) {
  if (len < static_cast<size_t>(kRtpHeaderRoom + kShortHeaderSize)) return ZVFEC_STREAM_E_SHORT;
  const FecLayout *l = layout_of_tag(fec_tag(p));
  if (l == nullptr) return ZVFEC_STREAM_E_TAG;
  if (len < static_cast<size_t>(l->symbol_offset())) return ZVFEC_STREAM_E_SHORT;
  const RSRTPHEAD_VIDEO_V2 h = read_fec_header(p, *l);
  const zvfec_stream_fec_header f{
      static_cast<int>(l->variant), h.esi, h.seq, h.k, h.n_r, h.max_len, h.seqmask};
  if (const int bad = check_shape(f.variant, f.k, f.r); bad != 0) return bad;
  if (f.symbol_len < kMinRtpSymbolLength || !symbol_length_valid(f.symbol_len))
    return ZVFEC_STREAM_E_SYMBOL;
  if (f.esi < f.k || f.esi >= f.k + f.r) return ZVFEC_STREAM_E_ESI;
  if (f.seqmask != 0) return ZVFEC_STREAM_E_MASK;
  if (len != static_cast<size_t>(l->packet_length(f.symbol_len))) return ZVFEC_STREAM_E_LENGTH;
  out = f;
  return 0;
}

bool rebuilt_fits(const uint8_t *rtp, size_t len, uint32_t ssrc, uint16_t seq, int symbol_len) {
  if (len + kMediaPrefixSize > static_cast<size_t>(symbol_len)) return false;
  const auto h = read_rtp(rtp, len);
  return h && h->ssrc == ssrc && h->seq == seq;
}

}  // namespace zv::stream
