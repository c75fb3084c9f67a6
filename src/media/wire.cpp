#include "media/wire.h"

#include <cstring>

#include "media/byte_order.h"

namespace zv {

namespace {

// Field offsets inside the RTP fixed header and the FEC header.
constexpr int kRtpSeqField = 2, kRtpTimestampField = 4, kRtpSsrcField = 8;
constexpr int kFecTagField = 0, kFecEsiField = 1, kFecSeqField = 2, kFecKField = 4, kFecNrField = 5,
              kFecMaxLenField = 6, kFecMaskField = 8;

}  // namespace

std::optional<RtpHeader> read_rtp(const uint8_t *p, size_t len) {
  if (len < kRtpHeaderSize || (p[0] >> 6) != kRtpVersion) return std::nullopt;
  if (p[1] >= 192 && p[1] <= 223) return std::nullopt;
  const size_t csrc = p[0] & 0x0F;
  if (len < kRtpHeaderSize + 4 * csrc) return std::nullopt;
  return RtpHeader{static_cast<uint8_t>(p[1] & 0x7F), load_be16(p + kRtpSeqField),
                   load_be32(p + kRtpTimestampField), load_be32(p + kRtpSsrcField)};
}

void write_rtp(uint8_t *out, uint8_t payload_type, uint16_t seq, uint32_t timestamp,
               uint32_t ssrc) {
  out[0] = kRtpVersion << 6;
  out[1] = static_cast<uint8_t>(payload_type & 0x7F);
  store_be16(out + kRtpSeqField, seq);
  store_be32(out + kRtpTimestampField, timestamp);
  store_be32(out + kRtpSsrcField, ssrc);
}

void write_media_prefix(uint8_t *media, uint16_t len) { store_le16(media, len); }

size_t write_media_buffer(uint8_t *out, const uint8_t *rtp, size_t len) {
  write_media_prefix(out, static_cast<uint16_t>(len < UINT16_MAX ? len : UINT16_MAX));
  std::memcpy(out + kMediaPrefixSize, rtp, len);
  return kMediaPrefixSize + len;
}

uint16_t media_seq(const uint8_t *media) { return load_be16(media + kMediaSeqOffset); }

const FecLayout *layout_of_tag(uint8_t tag) {
  for (const FecLayout *l : kLayouts)
    if (l->tag == tag) return l;
  return nullptr;
}

uint8_t fec_tag(const uint8_t *fec_packet) { return fec_packet[kRtpHeaderRoom + kFecTagField]; }

uint8_t fec_esi(const uint8_t *fec_packet) { return fec_packet[kRtpHeaderRoom + kFecEsiField]; }

void write_fec_header(uint8_t *fec_packet, const FecLayout &layout, const RSRTPHEAD_VIDEO_V2 &h) {
  uint8_t *p = fec_packet + kRtpHeaderRoom;
  p[kFecTagField] = h.ver;
  p[kFecEsiField] = h.esi;
  store_be16(p + kFecSeqField, h.seq);
  p[kFecKField] = h.k;
  p[kFecNrField] = h.n_r;
  store_be16(p + kFecMaxLenField, h.max_len);
  if (layout.has_mask) store_be32(p + kFecMaskField, h.seqmask);
}

RSRTPHEAD_VIDEO_V2 read_fec_header(const uint8_t *fec_packet, const FecLayout &layout) {
  const uint8_t *p = fec_packet + kRtpHeaderRoom;
  RSRTPHEAD_VIDEO_V2 h{};
  h.ver = p[kFecTagField];
  h.esi = p[kFecEsiField];
  h.seq = load_be16(p + kFecSeqField);
  h.k = p[kFecKField];
  h.n_r = p[kFecNrField];
  h.max_len = load_be16(p + kFecMaxLenField);
  h.seqmask = layout.has_mask ? load_be32(p + kFecMaskField) : 0;
  return h;
}

}  // namespace zv
