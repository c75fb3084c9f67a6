// Kernel sets of the region arithmetic and the one dispatcher that chooses
// among them. The scalar set is the plain reference of every operation; each
// vector set (on x86-64 SSSE3, AVX2, AVX-512BW, AVX2 + GFNI, AVX-512BW + GFNI;
// on aarch64 NEON, and SVE for 256- and 512-bit vectors) must give its bytes
// exactly. A set is chosen once per
// process: the fastest that the processor runs and that agrees with the
// reference on a fixed check, so a miscompiled or faulty kernel falls back
// instead of corrupting data.
//
// The environment variable ZVFEC_GF_KERNELS (scalar, ssse3, avx2, avx512,
// avx2-gfni, avx512-gfni, neon, sve256 or sve512) caps the choice at the named set: that set
// or one after it in the order of preference below, so that tests and
// benchmarks can run every set on one machine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

inline constexpr int kGfDotRows = 8;  // rows per pass of a dot kernel

// A GF(2^8) field by its isomorphism onto the field of x^8 + x^4 + x^3 + x + 1,
// where the GFNI instructions multiply and invert: the GF(2) affine matrices
// (in the form of gf_mul_const::affine) of the map there and of the map back.
struct gf_field_map {
  uint64_t to, from;
};

// One implementation of every operation. Each covers the whole region and
// touches no byte outside it.
struct gf_kernel_set {
  const char *name;
  // dst = (accumulate ? dst : 0) ^ src[0] ^ ... ^ src[count - 1]
  void (*xor_sum)(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes,
                  bool accumulate);
  // dst = (accumulate ? dst : 0) ^ c * src; in place allowed
  void (*mul)(uint8_t *dst, const uint8_t *src, const gf_mul_const *c, size_t bytes,
              bool accumulate);
  // 1 <= rows <= kGfDotRows, count >= 1: gf_region_dot for one pass. With
  // count <= 256 an output may be one of the sources (the very same region):
  // every source's bytes are read before the output's same bytes are written.
  void (*dot)(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
              const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool accumulate);
  // Element-wise arithmetic in the field that `map` describes, for the
  // closed-form solve of Cauchy codes; null where the set has no field
  // instructions (the solve then works from tables). Over u < n, with a
  // factor of 0 taken as 1 and m <= 8:
  //   num[u] *= prod over j < m of (x[u] + fy[j]),
  //   den[u] *= prod over j < m of (x[u] + fx[j]),
  //   w[u] = num[u] * scale[u] / den[u].
  void (*cauchy_weights)(uint8_t *w, uint8_t *num, uint8_t *den, const uint8_t *x,
                         const uint8_t *scale, size_t n, const uint8_t *fy, const uint8_t *fx,
                         int m, const gf_field_map *map);
  // out[i * n + s] = f[i] * w[s] / (x[s] + y[i]) for i < rows and s < n, where
  // no x[s] equals a y[i].
  void (*cauchy_rows)(uint8_t *out, int rows, const uint8_t *w, const uint8_t *x, size_t n,
                      const uint8_t *y, const uint8_t *f, const gf_field_map *map);
};

// The definitions of the two field operations above, element by element.
void gf_cauchy_weights_reference(uint8_t *w, uint8_t *num, uint8_t *den, const uint8_t *x,
                                 const uint8_t *scale, size_t n, const uint8_t *fy,
                                 const uint8_t *fx, int m, const gf_field_map *map);
void gf_cauchy_rows_reference(uint8_t *out, int rows, const uint8_t *w, const uint8_t *x, size_t n,
                              const uint8_t *y, const uint8_t *f, const gf_field_map *map);

// The plain reference.
const gf_kernel_set &gf_kernels_scalar();

// Vector sets by name, in order of preference (best first) within each
// architecture, null where this build or this processor lacks the
// instructions.
const gf_kernel_set *gf_kernels_avx512_gfni();
const gf_kernel_set *gf_kernels_avx2_gfni();
const gf_kernel_set *gf_kernels_avx512();
const gf_kernel_set *gf_kernels_avx2();
const gf_kernel_set *gf_kernels_ssse3();
const gf_kernel_set *gf_kernels_sve512();
const gf_kernel_set *gf_kernels_sve256();
const gf_kernel_set *gf_kernels_neon();

// Every set this processor runs, scalar first; returns how many were written
// (at most max).
int gf_available_kernel_sets(const gf_kernel_set **out, int max);

// True when every operation of the set gives the reference's bytes on a fixed
// pattern: misaligned regions, ragged tails, guard bytes around them, every
// row count of the dot kernel, in place and apart, constants of both GF(2^8)
// fields and of packed GF(2^4).
bool gf_kernels_agree_with_reference(const gf_kernel_set &k);

// The first of `count` candidates (null entries skipped) that agrees with the
// reference; the scalar set when none does.
const gf_kernel_set &gf_choose_kernels(const gf_kernel_set *const *candidates, int count);

// The set in use, chosen on first use (honouring ZVFEC_GF_KERNELS).
const gf_kernel_set &gf_active_kernels();

// Replaces the set in use, for tests and benchmarks that compare sets in one
// process; not to be called while other threads compute.
void gf_use_kernels(const gf_kernel_set &k);
