#include "binary/of_rand.h"

#include <cstdio>

#include "session/diag.h"

namespace {

bool seed_in_range(uint64_t s) {
  if (s >= 1 && s < 0x7FFFFFFF) return true;
  of_diag(stderr, "ldpc_rand: ERROR, seed (%llu) out of range\n",
          static_cast<unsigned long long>(s));
  return false;
}

uint64_t next(uint64_t &state, uint64_t maxv) {
  // 16807 * state mod (2^31 - 1) by splitting into 16-bit halves, exactly as
  // RFC 5170 computes it.
  uint64_t lo = 16807 * (state & 0xFFFF);
  const uint64_t hi = 16807 * (state >> 16);
  lo += (hi & 0x7FFF) << 16;
  lo += hi >> 15;
  if (lo > 0x7FFFFFFF) lo -= 0x7FFFFFFF;
  state = lo;
  return static_cast<uint64_t>(static_cast<double>(state) * static_cast<double>(maxv) /
                               2147483647.0);
}

}  // namespace

bool of_rfc5170_seed(of_rfc5170_rng *rng, uint64_t s) {
  if (!seed_in_range(s)) return false;
  rng->state = s;
  return true;
}

uint64_t of_rfc5170_draw(of_rfc5170_rng *rng, uint64_t maxv) { return next(rng->state, maxv); }
