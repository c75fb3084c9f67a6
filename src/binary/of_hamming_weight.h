// Number of one bits in words and word arrays.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace of_detail {
constexpr std::array<uint8_t, 256> make_hw8table() {
  std::array<uint8_t, 256> t{};
  for (std::size_t v = 0; v < t.size(); ++v) {
    int ones = 0;
    for (std::size_t b = v; b != 0; b >>= 1) ones += static_cast<int>(b & 1);
    t[v] = static_cast<uint8_t>(ones);
  }
  return t;
}
}  // namespace of_detail

// Ones of each byte value.
inline constexpr std::array<uint8_t, 256> of_hw8table = of_detail::make_hw8table();

inline constexpr uint64_t of_m1 = 0x5555555555555555ULL;
inline constexpr uint64_t of_m2 = 0x3333333333333333ULL;
inline constexpr uint64_t of_m4 = 0x0f0f0f0f0f0f0f0fULL;
inline constexpr uint64_t of_h01 = 0x0101010101010101ULL;

// Ones in the first ceil(size / 32) words of array: a partial last word counts
// whole, which is safe because bits beyond a row's width are kept 0. size <= 0
// counts nothing.
uint32_t of_hweight_array(const uint32_t *array, int32_t size);

uint32_t of_hweight32_table(uint32_t word);
uint32_t of_hweight32(uint32_t word);
uint32_t of_hweight8_table(uint8_t byte);
uint32_t of_popcount_3(uint64_t word);
