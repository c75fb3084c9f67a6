// The pseudo-random generator of RFC 5170 (Park-Miller "minimal standard",
// multiplier 16807, modulus 2^31 - 1). Encoder and decoder draw the same
// parity-check matrix from it, so its sequence must never change.
#pragma once

#include <cstdint>

// One generator state. Every matrix builder seeds one of its own for the
// build, so builds on different threads, or one after another, never share
// draws: a matrix depends only on its parameters.
struct of_rfc5170_rng {
  uint64_t state;  // 0 until seeded
};

// Accepts 1 <= s < 0x7FFFFFFF as the new state of *rng and returns true. Any
// other seed is reported on standard error and refused (false, *rng as it
// was): from state 0 the generator would draw 0 for ever.
bool of_rfc5170_seed(of_rfc5170_rng *rng, uint64_t s);

// Advances *rng and returns a value in 0 .. maxv - 1 (0 when maxv <= 1).
uint64_t of_rfc5170_draw(of_rfc5170_rng *rng, uint64_t maxv);
