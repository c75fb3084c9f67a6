// Vector kernels of the GF(256) bulk operations, chosen once at run time from
// what the processor offers. A kernel works on a prefix of the region, a whole
// number of its vector width, and returns how many bytes it did; the caller
// finishes the rest with the scalar reference. Kernels never touch a byte past
// the given count.
#ifndef ZV_CAUCHY_GF256_KERNELS_H
#define ZV_CAUCHY_GF256_KERNELS_H

#include <cstdint>

// Products of a fixed multiplier y: lo[i] = i * y, hi[i] = (i << 4) * y, so
// that x * y = lo[x & 15] ^ hi[x >> 4].
struct gf256_nibbles {
  uint8_t lo[16];
  uint8_t hi[16];
};

struct gf256_kernels {
  const char *name;
  int (*add_mem)(uint8_t *x, const uint8_t *y, int bytes);
  int (*add2_mem)(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes);
  int (*addset_mem)(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes);
  // z may equal x: each vector is loaded before its product is stored.
  int (*mul_mem)(uint8_t *z, const uint8_t *x, const gf256_nibbles &t, int bytes);
  int (*muladd_mem)(uint8_t *z, const uint8_t *x, const gf256_nibbles &t, int bytes);
};

// Kernel sets by instruction level; null when the processor (or the build
// target) lacks the instructions.
const gf256_kernels *gf256_kernels_ssse3();
const gf256_kernels *gf256_kernels_avx2();

// The fastest set this processor runs, chosen on first use; null means the
// scalar reference does all the work.
const gf256_kernels *gf256_active_kernels();

// Nibble tables of multiplier y, taken from the built product table.
gf256_nibbles gf256_nibbles_of(uint8_t y);

#endif  // ZV_CAUCHY_GF256_KERNELS_H
