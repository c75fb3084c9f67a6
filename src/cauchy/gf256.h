// Arithmetic in GF(2^8) with the polynomial 0x14D and generator 2: one
// process-wide context of lookup tables, scalar operations that are single
// table lookups, and bulk operations over byte regions.
//
// Every bulk operation reads and writes exactly `bytes` bytes of each region
// (bytes >= 0; 0 does nothing), at any alignment. Regions must not overlap,
// except that gf256_mul_mem and gf256_div_mem may work in place (destination
// equal to source). The operations check nothing: callers guarantee pointers
// and lengths. Before gf256_init_ has built the tables every product and
// quotient is 0.
#pragma once

#include <cstdint>

#include "gf/gf_region.h"

constexpr int GF256_GEN_POLY_COUNT = 16;
// Degree-8 polynomials shifted right by one bit: polynomial = entry * 2 + 1.
extern const uint8_t GF256_GEN_POLY[GF256_GEN_POLY_COUNT];
constexpr int kDefaultPolynomialIndex = 3;  // 0xa6 -> 0x14D

struct gf256_ctx {
  // Nibble product tables kept for layout compatibility; never filled or read.
  struct {
    uint64_t TABLE_LO_Y[256];
    uint64_t TABLE_HI_Y[256];
  } MM128;
  uint8_t GF256_MUL_TABLE[256 * 256];  // [y * 256 + x] = x * y
  uint8_t GF256_DIV_TABLE[256 * 256];  // [y * 256 + x] = x / y; row 0 is all 0
  uint8_t GF256_INV_TABLE[256];        // 1 / x; [0] = 0
  uint8_t GF256_SQR_TABLE[256];        // x * x
  // Discrete logarithm to base 2; [0] = 512 lands every log-sum with a zero
  // operand in the zero area of the exp table, [1] = 255.
  uint16_t GF256_LOG_TABLE[256];
  uint8_t GF256_EXP_TABLE[512 * 2 + 1];
  uint32_t Polynomial;
};

extern gf256_ctx GF256Ctx;

// Multiplication by each y in the form the region arithmetic takes; built with
// the tables, all zero before.
extern gf_mul_const GF256MulConst[256];

// Builds the context once per process; concurrent callers wait for the one
// build. Returns -1 when version is not 2 (nothing else happens), otherwise 0,
// or on the first call only -2 when the machine is not little-endian (tables
// stay zero) or -3 when the built tables fail the self-test.
int gf256_init_(int version);

// True once gf256_init_ has built the tables (safe to ask from any thread).
bool gf256_tables_built();

inline uint8_t gf256_add(uint8_t x, uint8_t y) { return static_cast<uint8_t>(x ^ y); }
inline uint8_t gf256_mul(uint8_t x, uint8_t y) { return GF256Ctx.GF256_MUL_TABLE[(y << 8) + x]; }
// Division by zero yields 0.
inline uint8_t gf256_div(uint8_t x, uint8_t y) { return GF256Ctx.GF256_DIV_TABLE[(y << 8) + x]; }
inline uint8_t gf256_inv(uint8_t x) { return GF256Ctx.GF256_INV_TABLE[x]; }
inline uint8_t gf256_sqr(uint8_t x) { return GF256Ctx.GF256_SQR_TABLE[x]; }

// x[i] ^= y[i]
void gf256_add_mem(void *vx, const void *vy, int bytes);
// z[i] ^= x[i] ^ y[i]
void gf256_add2_mem(void *vz, const void *vx, const void *vy, int bytes);
// z[i] = x[i] ^ y[i]
void gf256_addset_mem(void *vz, const void *vx, const void *vy, int bytes);
// z[i] = x[i] * y; in place allowed.
void gf256_mul_mem(void *vz, const void *vx, uint8_t y, int bytes);
// z[i] ^= x[i] * y (the multiplier sits between the two regions).
void gf256_muladd_mem(void *vz, uint8_t y, const void *vx, int bytes);
// exchanges x[i] and y[i]
void gf256_memswap(void *vx, void *vy, int bytes);

// Rows of sums of products, up to eight rows per pass over the sources:
// out[r][i] = (accumulate ? out[r][i] : 0) ^ sum over j < count of
// src[j][i] * coeff[r * count + j], over `bytes` bytes of each output, where
// source j is readable for lengths[j] bytes and counts as zero beyond (with
// accumulate, output bytes that no source reaches stay as they are).
// count <= 256; no output may overlap a source or another output, except that
// with rows <= 8 an output may be one of the sources (the very same region,
// read before it is written). Needs the built tables: before the build every
// product is 0.
void gf256_dot_mem(uint8_t *const *out, int rows, const uint8_t *const *src, const int *lengths,
                   int count, const uint8_t *coeff, int bytes, bool accumulate);

// z[i] = x[i] / y; in place allowed. y = 0 gives zeros like the scalar form.
inline void gf256_div_mem(void *vz, const void *vx, uint8_t y, int bytes) {
  gf256_mul_mem(vz, vx, y == 1 ? uint8_t{1} : GF256Ctx.GF256_INV_TABLE[y], bytes);
}
