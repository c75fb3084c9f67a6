#include "binary/of_hamming_weight.h"

uint32_t of_hweight8_table(uint8_t byte) { return of_hw8table[byte]; }

uint32_t of_hweight32_table(uint32_t word) {
  return of_hw8table[word & 0xFFu] + of_hw8table[(word >> 8) & 0xFFu] +
         of_hw8table[(word >> 16) & 0xFFu] + of_hw8table[word >> 24];
}

uint32_t of_hweight32(uint32_t w) {
  uint32_t res = (w & 0x55555555u) + ((w >> 1) & 0x55555555u);
  res = (res & 0x33333333u) + ((res >> 2) & 0x33333333u);
  res = (res & 0x0f0f0f0fu) + ((res >> 4) & 0x0f0f0f0fu);
  res = res + (res >> 8);
  res = res + (res >> 16);
  return res & 0xFFu;
}

uint32_t of_popcount_3(uint64_t x) {
  x -= (x >> 1) & of_m1;
  x = (x & of_m2) + ((x >> 2) & of_m2);
  x = (x + (x >> 4)) & of_m4;
  return static_cast<uint32_t>((x * of_h01) >> 56);
}

uint32_t of_hweight_array(const uint32_t *array, int32_t size) {
  if (size <= 0) return 0;
  const uint32_t words = (static_cast<uint32_t>(size) + 31) >> 5;
  uint32_t ones = 0;
  for (uint32_t k = 0; k < words; ++k) ones += of_hweight32_table(array[k]);
  return ones;
}
