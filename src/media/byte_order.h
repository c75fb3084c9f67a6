// Byte-order helpers for wire fields; the same on every host, no socket library.
#pragma once

#include <cstdint>

namespace zv {

inline uint16_t load_be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline uint32_t load_be32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

inline uint16_t load_le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline void store_be16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline void store_be32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline void store_le16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace zv
