#include "binary/of_rand.h"

#include <cstdio>

uint64_t of_seed = 0;

void of_rfc5170_srand(uint64_t s) {
  if (s >= 1 && s < 0x7FFFFFFF) {
    of_seed = s;
    return;
  }
  std::fprintf(stderr, "ldpc_rand: ERROR, seed (%llu) out of range\n",
               static_cast<unsigned long long>(s));
}

uint64_t of_rfc5170_rand(uint64_t maxv) {
  // 16807 * seed mod (2^31 - 1) by Schrage-free splitting into 16-bit halves,
  // exactly as RFC 5170 computes it.
  uint64_t lo = 16807 * (of_seed & 0xFFFF);
  const uint64_t hi = 16807 * (of_seed >> 16);
  lo += (hi & 0x7FFF) << 16;
  lo += hi >> 15;
  if (lo > 0x7FFFFFFF) lo -= 0x7FFFFFFF;
  of_seed = lo;
  return static_cast<uint64_t>(static_cast<double>(of_seed) * static_cast<double>(maxv) /
                               2147483647.0);
}
