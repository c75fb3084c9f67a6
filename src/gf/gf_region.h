// Bulk arithmetic over byte regions in binary fields: the one place where the
// codecs multiply, add and XOR symbols. Every operation runs on the kernel set
// that the dispatcher chose once for this processor (see gf_kernels.h).
//
// Multiplying by a constant c is linear over GF(2), whatever the field's
// polynomial, so it is fixed by the products of the 16 low-nibble and 16
// high-nibble values (two byte shuffles) or by its 8 x 8 bit matrix (one GF(2)
// affine instruction). A gf_mul_const holds both forms; it is derived from
// any linear byte map: a row of GF(2^8) products for either polynomial, or the
// packed GF(2^4) map that multiplies both nibbles of a byte.
//
// Lengths are in bytes, at any alignment. No output overlaps a source or
// another output, except that gf_region_mul may work in place and that an
// output of a dot product may be one of its sources, as said there.
#pragma once

#include <cstddef>
#include <cstdint>

struct gf_mul_const {
  uint8_t lo[16];   // lo[i] = c * i
  uint8_t hi[16];   // hi[i] = c * (i << 4)
  uint64_t affine;  // byte 7 - i holds the input bits that make output bit i
};

// The constant of the map x -> row[x] (256 entries), which must be linear over
// GF(2): row[a ^ b] == row[a] ^ row[b].
constexpr gf_mul_const gf_mul_const_from_row(const uint8_t *row) {
  gf_mul_const c{};
  for (int i = 0; i < 16; ++i) {
    c.lo[i] = row[i];
    c.hi[i] = row[i << 4];
  }
  for (int j = 0; j < 8; ++j) {
    const uint8_t column = row[1 << j];
    for (int i = 0; i < 8; ++i) {
      if ((column >> i) & 1) c.affine |= uint64_t{1} << ((7 - i) * 8 + j);
    }
  }
  return c;
}

// The product of a and b in GF(2^bits) modulo poly, carry-less and without any
// table: the definition that the tables and kernels are built and checked
// against.
constexpr uint8_t gf_slow_mul(unsigned a, unsigned b, unsigned poly, unsigned bits) {
  unsigned product = 0;
  for (unsigned i = 0; i < bits; ++i) {
    if (b & (1u << i)) product ^= a;
    a <<= 1;
    if (a & (1u << bits)) a ^= poly;
  }
  return static_cast<uint8_t>(product);
}

// c * x in packed GF(2^4) (modulo 0x13): both nibbles of x times the same c.
constexpr uint8_t gf_slow_mul_packed4(unsigned c, unsigned x) {
  return static_cast<uint8_t>(gf_slow_mul(c, x >> 4, 0x13, 4) << 4 |
                              gf_slow_mul(c, x & 15, 0x13, 4));
}

// c * x for one byte, by the nibble tables.
constexpr uint8_t gf_mul_const_apply(const gf_mul_const &c, uint8_t x) {
  return static_cast<uint8_t>(c.lo[x & 15] ^ c.hi[x >> 4]);
}

// dst[i] ^= src[i]
void gf_region_xor(uint8_t *dst, const uint8_t *src, size_t bytes);

// dst[i] = (accumulate ? dst[i] : 0) ^ src[0][i] ^ ... ^ src[count - 1][i],
// in one pass over dst.
void gf_region_xor_sum(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes,
                       bool accumulate);

// dst[i] = c * src[i]; dst may equal src.
void gf_region_mul(uint8_t *dst, const uint8_t *src, const gf_mul_const &c, size_t bytes);

// dst[i] ^= c * src[i]
void gf_region_muladd(uint8_t *dst, const uint8_t *src, const gf_mul_const &c, size_t bytes);

// Any number of rows of sums of products, with the coefficients given as
// indices into a field's table of constants (field[c] multiplies by c):
//   out[r][i] = (accumulate ? out[r][i] : 0) ^ sum over j < count of
//               field[coeff[r * count + j]] * src[j][i].
// Up to eight rows share each pass over the sources, their sums held in
// registers. With rows <= 8 and count <= 256, an output may be one of the
// sources (the very same region): it then receives the sum of products of the
// source's old bytes.
void gf_region_dot(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                   const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool accumulate);

// gf_region_dot for sources of their own lengths: src[j] is readable for
// lengths[j] bytes (0 <= lengths[j]) and counts as zero beyond, so no source is
// read past its length; every output gets `bytes` bytes (with accumulate, bytes
// that no source reaches are left as they are). rows <= 8 and count <= 256;
// returns false, computing nothing, beyond those limits. An output may be one
// of the sources, as for gf_region_dot.
bool gf_region_dot_ragged(uint8_t *const *out, int rows, const uint8_t *const *src,
                          const size_t *lengths, int count, const gf_mul_const *field,
                          const uint8_t *coeff, size_t bytes, bool accumulate);
