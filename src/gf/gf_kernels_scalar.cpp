// The scalar set: the plain reference that every vector set must match byte
// for byte, and the set in use where no vector set runs or passes its check.
#include <bit>
#include <cstring>

#include "gf/gf_kernels.h"

namespace {

void xor_sum_scalar(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes,
                    bool accumulate) {
  size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t sum = 0, word = 0;
    if (accumulate) std::memcpy(&sum, dst + i, 8);
    for (int j = 0; j < count; ++j) {
      std::memcpy(&word, src[j] + i, 8);
      sum ^= word;
    }
    std::memcpy(dst + i, &sum, 8);
  }
  for (; i < bytes; ++i) {
    uint8_t sum = accumulate ? dst[i] : 0;
    for (int j = 0; j < count; ++j) sum ^= src[j][i];
    dst[i] = sum;
  }
}

void mul_scalar(uint8_t *dst, const uint8_t *src, const gf_mul_const *c, size_t bytes,
                bool accumulate) {
  // Long regions look products up in the full 256-entry row.
  uint8_t row[256];
  const bool full_row = bytes >= 256;
  if (full_row) {
    for (int x = 0; x < 256; ++x) row[x] = gf_mul_const_apply(*c, static_cast<uint8_t>(x));
  }
  for (size_t i = 0; i < bytes; ++i) {
    const uint8_t p = full_row ? row[src[i]] : gf_mul_const_apply(*c, src[i]);
    dst[i] = accumulate ? static_cast<uint8_t>(dst[i] ^ p) : p;
  }
}

// The scalar dot product's block of bytes (the symbols of a media stream fit
// one) and its group of sources per pass over a block.
constexpr size_t kScalarBlock = 1536;
constexpr int kScalarGroup = 4;

// The 256 products c * x.
void product_row(const gf_mul_const &c, uint8_t *row) {
  for (unsigned x = 0; x < 256; ++x) row[x] = gf_mul_const_apply(c, static_cast<uint8_t>(x));
}

// R rows of one block of n bytes into sum: the sources a group at a time, the
// group's product rows looked up byte by byte into sums held in registers,
// which then go into the block's sums once per group. A short last group reads
// zeros for the sources it lacks.
template <int R>
void dot_block(uint8_t (*sum)[kScalarBlock], const uint8_t *const *src, int count,
               const gf_mul_const *field, const uint8_t *coeff, size_t offset, size_t n) {
  static const uint8_t kZeros[kScalarBlock] = {};
  uint8_t table[kScalarGroup][R][256];
  for (int j0 = 0; j0 < count; j0 += kScalarGroup) {
    const uint8_t *in[kScalarGroup];
    for (int g = 0; g < kScalarGroup; ++g) {
      const int j = j0 + g;
      for (int r = 0; r < R; ++r) {
        if (j < count) {
          product_row(field[coeff[r * count + j]], table[g][r]);
        } else {
          std::memset(table[g][r], 0, 256);
        }
      }
      in[g] = j < count ? src[j] + offset : kZeros;
    }
    for (size_t b = 0; b < n; ++b) {
      uint8_t acc[R] = {};
      for (int g = 0; g < kScalarGroup; ++g) {
        const uint8_t x = in[g][b];
        for (int r = 0; r < R; ++r) acc[r] ^= table[g][r][x];
      }
      for (int r = 0; r < R; ++r) sum[r][b] ^= acc[r];
    }
  }
}

using DotBlockFn = void (*)(uint8_t (*)[kScalarBlock], const uint8_t *const *, int,
                            const gf_mul_const *, const uint8_t *, size_t, size_t);
constexpr DotBlockFn kDotBlock[kGfDotRows + 1] = {nullptr,      dot_block<1>, dot_block<2>,
                                                  dot_block<3>, dot_block<4>, dot_block<5>,
                                                  dot_block<6>, dot_block<7>, dot_block<8>};

void dot_scalar(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool accumulate) {
  if (rows < 1 || rows > kGfDotRows) return;
  // Sums are built a block at a time apart from the outputs, so that an output
  // may be one of the sources.
  uint8_t sum[kGfDotRows][kScalarBlock];
  for (size_t i = 0; i < bytes; i += kScalarBlock) {
    const size_t n = bytes - i < kScalarBlock ? bytes - i : kScalarBlock;
    for (int r = 0; r < rows; ++r) {
      if (accumulate) {
        std::memcpy(sum[r], out[r] + i, n);
      } else {
        std::memset(sum[r], 0, n);
      }
    }
    kDotBlock[rows](sum, src, count, field, coeff, i, n);
    for (int r = 0; r < rows; ++r) std::memcpy(out[r] + i, sum[r], n);
  }
}

constexpr gf_kernel_set kScalar{"scalar", xor_sum_scalar, mul_scalar, dot_scalar, nullptr, nullptr};

// The field arithmetic of the references, through the map and the definition
// of the product there.
uint8_t apply_affine(uint64_t matrix, uint8_t x) {
  unsigned out = 0;
  for (int i = 0; i < 8; ++i) {
    const auto row = static_cast<unsigned>(matrix >> ((7 - i) * 8)) & 0xFFu;
    out |= static_cast<unsigned>(std::popcount(row & x) & 1) << i;
  }
  return static_cast<uint8_t>(out);
}

struct MappedField {
  const gf_field_map &map;
  uint8_t mul(uint8_t a, uint8_t b) const {
    return apply_affine(map.from,
                        gf_slow_mul(apply_affine(map.to, a), apply_affine(map.to, b), 0x11B, 8));
  }
  uint8_t inv(uint8_t a) const {
    // a^254 = a^2 * a^4 * ... * a^128
    uint8_t r = 1;
    for (int i = 1; i < 8; ++i) {
      a = mul(a, a);
      r = mul(r, a);
    }
    return r;
  }
};

uint8_t nonzero(uint8_t v) { return v != 0 ? v : uint8_t{1}; }

}  // namespace

void gf_cauchy_weights_reference(uint8_t *w, uint8_t *num, uint8_t *den, const uint8_t *x,
                                 const uint8_t *scale, size_t n, const uint8_t *fy,
                                 const uint8_t *fx, int m, const gf_field_map *map) {
  const MappedField f{*map};
  for (size_t u = 0; u < n; ++u) {
    for (int j = 0; j < m; ++j) {
      num[u] = f.mul(num[u], nonzero(static_cast<uint8_t>(x[u] ^ fy[j])));
      den[u] = f.mul(den[u], nonzero(static_cast<uint8_t>(x[u] ^ fx[j])));
    }
    w[u] = f.mul(f.mul(num[u], scale[u]), f.inv(den[u]));
  }
}

void gf_cauchy_rows_reference(uint8_t *out, int rows, const uint8_t *w, const uint8_t *x, size_t n,
                              const uint8_t *y, const uint8_t *f, const gf_field_map *map) {
  const MappedField field{*map};
  for (int i = 0; i < rows; ++i) {
    for (size_t s = 0; s < n; ++s) {
      out[i * n + s] =
          field.mul(f[i], field.mul(w[s], field.inv(static_cast<uint8_t>(x[s] ^ y[i]))));
    }
  }
}

const gf_kernel_set &gf_kernels_scalar() { return kScalar; }
