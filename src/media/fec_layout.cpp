#include "media/fec_layout.h"

#include <cstring>

#include "media/byte_order.h"
#include "media/log.h"

namespace zv {

int64_t symbol_length(const int *med_packet_len, int k) {
  int64_t s = 0;
  for (int i = 0; i < k; ++i) {
    if (med_packet_len[i] > s) s = med_packet_len[i];
  }
  return (s + 3) & ~int64_t{3};
}

uint16_t media_seq(const uint8_t *media) { return load_be16(media + kMediaSeqOffset); }

uint16_t media_prefix(const uint8_t *media) { return load_le16(media); }

bool media_prefix_fits(const uint8_t *media, int len) {
  return len >= kMediaPrefixSize && kMediaPrefixSize + media_prefix(media) <= len;
}

void zero_fec_buffers(unsigned char **fec_packet, const int *fec_packet_len, int count,
                      int skip_from, int skip_len) {
  for (int j = 0; j < count; ++j) {
    const int capacity = fec_packet_len[j];
    if (capacity <= 0) continue;
    const int head = capacity < skip_from ? capacity : skip_from;
    std::memset(fec_packet[j], 0, static_cast<size_t>(head));
    const int tail = skip_from + skip_len;
    if (capacity > tail) std::memset(fec_packet[j] + tail, 0, static_cast<size_t>(capacity - tail));
  }
}

void write_fec_header(uint8_t *fec_packet, const FecLayout &layout, const RSRTPHEAD_VIDEO_V2 &h) {
  uint8_t *p = fec_packet + kRtpHeaderRoom;
  p[0] = h.ver;
  p[1] = h.esi;
  store_be16(p + 2, h.seq);
  p[4] = h.k;
  p[5] = h.n_r;
  store_be16(p + 6, h.max_len);
  if (layout.has_mask) store_be32(p + 8, h.seqmask);
}

RSRTPHEAD_VIDEO_V2 read_fec_header(const uint8_t *fec_packet, const FecLayout &layout) {
  const uint8_t *p = fec_packet + kRtpHeaderRoom;
  RSRTPHEAD_VIDEO_V2 h{};
  h.ver = p[0];
  h.esi = p[1];
  h.seq = load_be16(p + 2);
  h.k = p[4];
  h.n_r = p[5];
  h.max_len = load_be16(p + 6);
  h.seqmask = layout.has_mask ? load_be32(p + 8) : 0;
  return h;
}

bool extract_recovered(const uint8_t *symbol, int symbol_len, uint16_t base_seq,
                       const ExtractRule &rule, const RecoveredOut &out) {
  const uint16_t raw = symbol_len >= kMediaPrefixSize ? load_le16(symbol) : 0;
  const int len = rule.signed_prefix ? static_cast<int16_t>(raw) : raw;
  if (len < 0 || len + kMediaPrefixSize > symbol_len) {
    ZV_LOG(rule.log_level, "len error =%d seq base=%d max_len=%d\n", len, base_seq, symbol_len);
    return false;
  }
  const int m = *out.num;
  std::memcpy(out.pkt[m], symbol + kMediaPrefixSize, static_cast<size_t>(len));
  out.len[m] = len;
  *out.num = m + 1;
  return true;
}

}  // namespace zv
