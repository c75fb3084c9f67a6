#include "rtp.h"

namespace zvtool {

std::optional<RtpHeader> parse_rtp(std::span<const std::uint8_t> p) {
  if (p.size() < 12 || (p[0] >> 6) != 2) return std::nullopt;
  if (p[1] >= 192 && p[1] <= 223) return std::nullopt;
  const std::size_t csrc = p[0] & 0x0F;
  if (p.size() < 12 + 4 * csrc) return std::nullopt;
  RtpHeader h;
  h.marker = (p[1] & 0x80) != 0;
  h.payload_type = p[1] & 0x7F;
  h.seq = load_be16(&p[2]);
  h.timestamp = load_be32(&p[4]);
  h.ssrc = load_be32(&p[8]);
  return h;
}

void write_rtp(std::span<std::uint8_t> out, const RtpHeader &h) {
  out[0] = 0x80;
  out[1] = static_cast<std::uint8_t>((h.marker ? 0x80 : 0) | (h.payload_type & 0x7F));
  store_be16(&out[2], h.seq);
  store_be32(&out[4], h.timestamp);
  store_be32(&out[8], h.ssrc);
}

}  // namespace zvtool
