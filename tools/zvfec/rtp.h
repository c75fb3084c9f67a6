// The RTP fixed header (RFC 3550) as far as the tool needs it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zvtool {

struct RtpHeader {
  bool marker = false;
  std::uint8_t payload_type = 0;
  std::uint16_t seq = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t ssrc = 0;
};

// Accepts version 2 with at least the fixed header plus its CSRC list, and
// refuses RTCP (second byte 192..223), which shares the version bits.
std::optional<RtpHeader> parse_rtp(std::span<const std::uint8_t> packet);

// Writes a 12-byte header without CSRCs, padding or extension at out[0..11].
void write_rtp(std::span<std::uint8_t> out, const RtpHeader &h);

inline std::uint16_t load_be16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t load_be32(const std::uint8_t *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
inline void store_be16(std::uint8_t *p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void store_be32(std::uint8_t *p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace zvtool
