// Vector kernels of the GF(256) bulk operations, chosen once at run time from
// what the processor offers. A kernel works on a prefix of the region (a
// whole number of its vector width, or all of it where it can end on a partial
// vector without touching a byte beyond) and returns how many bytes it did;
// the caller finishes the rest with the scalar reference. Kernels never touch
// a byte past the given count.
#ifndef ZV_CAUCHY_GF256_KERNELS_H
#define ZV_CAUCHY_GF256_KERNELS_H

#include <cstdint>

// Products of a fixed multiplier y: lo[i] = i * y, hi[i] = (i << 4) * y, so
// that x * y = lo[x & 15] ^ hi[x >> 4].
struct gf256_nibbles {
  uint8_t lo[16];
  uint8_t hi[16];
};

// Per multiplier y, the constants that vector products need: nibble tables
// for byte shuffles, and the 8 x 8 bit matrix of x -> x * y (byte 7 - i holds
// the input bits that make output bit i) for GF(2) affine instructions.
// Built with the product table; all zero before, so products come out 0.
struct gf256_vector_tables {
  gf256_nibbles nibbles[256];
  uint64_t affine[256];
};
extern gf256_vector_tables GF256VectorTables;

// Fills GF256VectorTables from the built product table.
void gf256_vector_tables_init();

constexpr int kGf256DotRows = 8;

struct gf256_kernels {
  const char *name;
  int (*add_mem)(uint8_t *x, const uint8_t *y, int bytes);
  int (*add2_mem)(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes);
  int (*addset_mem)(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes);
  // z may equal x: each vector is loaded before its product is stored.
  int (*mul_mem)(uint8_t *z, const uint8_t *x, uint8_t y, int bytes);
  int (*muladd_mem)(uint8_t *z, const uint8_t *x, uint8_t y, int bytes);
  // Up to kGf256DotRows rows at once: out[r] = (accumulate ? out[r] : 0) ^
  // sum over j < count of src[j] * coeff[r * count + j], over all `bytes`.
  // Each source is read once for all rows and the sums stay in registers.
  // Null where the set has no such kernel.
  int (*dot_mem)(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                 const uint8_t *coeff, int bytes, bool accumulate);
};

// Kernel sets by instruction level; null when the processor (or the build
// target) lacks the instructions.
const gf256_kernels *gf256_kernels_ssse3();
const gf256_kernels *gf256_kernels_avx2();
const gf256_kernels *gf256_kernels_avx512_gfni();

// True when every operation of the set gives the scalar reference's bytes on a
// fixed pattern (misaligned regions, ragged tails, guard bytes around them,
// every row count of the dot kernel). Needs the built product tables.
bool gf256_kernels_agree_with_reference(const gf256_kernels &k);

// The first of `count` candidates (null entries are skipped) that agrees with
// the reference, or null. A miscompiled or faulty set is passed over, so it
// can never corrupt data.
const gf256_kernels *gf256_choose_kernels(const gf256_kernels *const *candidates, int count);

// The fastest set this processor runs that passes the self-check, chosen on
// the first use after the tables are built; null means the scalar reference
// does all the work (always so before the tables exist).
const gf256_kernels *gf256_active_kernels();

#endif  // ZV_CAUCHY_GF256_KERNELS_H
