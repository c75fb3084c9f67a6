// The pseudo-random generator of RFC 5170 (Park-Miller "minimal standard",
// multiplier 16807, modulus 2^31 - 1). Encoder and decoder draw the same
// parity-check matrix from it, so its sequence must never change.
#ifndef ZVFEC_BINARY_OF_RAND_H
#define ZVFEC_BINARY_OF_RAND_H

#include <cstdint>

// Generator state, process-wide and unguarded; 0 until the first valid seed.
extern uint64_t of_seed;

// Accepts 1 <= s < 0x7FFFFFFF as the new state; any other seed is reported on
// standard error and the state stays as it was.
void of_rfc5170_srand(uint64_t s);

// Advances the state and returns a value in 0 .. maxv - 1 (0 when maxv <= 1).
uint64_t of_rfc5170_rand(uint64_t maxv);

#endif  // ZVFEC_BINARY_OF_RAND_H
