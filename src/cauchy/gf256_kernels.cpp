// Vector kernels of the GF(256) bulk operations. With SSSE3 and AVX2 a
// product is two 16-entry table lookups (pshufb) on the low and high nibble of
// each byte; with GFNI it is one GF(2) affine transform per 64 bytes, since
// multiplying by a constant is linear over GF(2) whatever the polynomial.
// Each function carries its own target attribute, so the rest of the library
// is built for the baseline processor and these run only where the processor
// reports the instructions.
#include "cauchy/gf256_kernels.h"

#include <cstring>
#include <initializer_list>

#include "cauchy/gf256.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZV_GF256_X86 1
#include <immintrin.h>
#endif

gf256_vector_tables GF256VectorTables;

void gf256_vector_tables_init() {
  for (int y = 0; y < 256; ++y) {
    const auto by = static_cast<uint8_t>(y);
    gf256_nibbles &t = GF256VectorTables.nibbles[y];
    for (int i = 0; i < 16; ++i) {
      t.lo[i] = gf256_mul(static_cast<uint8_t>(i), by);
      t.hi[i] = gf256_mul(static_cast<uint8_t>(i << 4), by);
    }
    uint64_t matrix = 0;
    for (int j = 0; j < 8; ++j) {
      const uint8_t column = gf256_mul(static_cast<uint8_t>(1 << j), by);
      for (int i = 0; i < 8; ++i) {
        if ((column >> i) & 1) matrix |= uint64_t{1} << ((7 - i) * 8 + j);
      }
    }
    GF256VectorTables.affine[y] = matrix;
  }
}

#ifdef ZV_GF256_X86

namespace {

// The row loops of the dot kernels are unrolled so that the R sums live in
// registers instead of memory.
#define ZV_UNROLL _Pragma("GCC unroll 8")

// A dot kernel for a fixed number of rows.
using DotRowsFn = void (*)(uint8_t *const *, const uint8_t *const *, int, const uint8_t *, int,
                           bool);

// ---- SSSE3, 16 bytes per step ----

#define ZV_SSSE3 __attribute__((target("ssse3")))

ZV_SSSE3 inline __m128i load16(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
ZV_SSSE3 inline void store16(uint8_t *p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

ZV_SSSE3 int add_mem_ssse3(uint8_t *x, const uint8_t *y, int bytes) {
  const int n = bytes & ~15;
  for (int i = 0; i < n; i += 16) store16(x + i, _mm_xor_si128(load16(x + i), load16(y + i)));
  return n;
}

ZV_SSSE3 int add2_mem_ssse3(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  const int n = bytes & ~15;
  for (int i = 0; i < n; i += 16) {
    store16(z + i, _mm_xor_si128(load16(z + i), _mm_xor_si128(load16(x + i), load16(y + i))));
  }
  return n;
}

ZV_SSSE3 int addset_mem_ssse3(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  const int n = bytes & ~15;
  for (int i = 0; i < n; i += 16) store16(z + i, _mm_xor_si128(load16(x + i), load16(y + i)));
  return n;
}

ZV_SSSE3 inline __m128i product16(__m128i v, __m128i lo, __m128i hi, __m128i mask) {
  const __m128i l = _mm_and_si128(v, mask);
  const __m128i h = _mm_and_si128(_mm_srli_epi64(v, 4), mask);
  return _mm_xor_si128(_mm_shuffle_epi8(lo, l), _mm_shuffle_epi8(hi, h));
}

ZV_SSSE3 int mul_mem_ssse3(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  const gf256_nibbles &t = GF256VectorTables.nibbles[y];
  const __m128i lo = load16(t.lo), hi = load16(t.hi), mask = _mm_set1_epi8(0x0f);
  const int n = bytes & ~15;
  for (int i = 0; i < n; i += 16) store16(z + i, product16(load16(x + i), lo, hi, mask));
  return n;
}

ZV_SSSE3 int muladd_mem_ssse3(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  const gf256_nibbles &t = GF256VectorTables.nibbles[y];
  const __m128i lo = load16(t.lo), hi = load16(t.hi), mask = _mm_set1_epi8(0x0f);
  const int n = bytes & ~15;
  for (int i = 0; i < n; i += 16) {
    store16(z + i, _mm_xor_si128(load16(z + i), product16(load16(x + i), lo, hi, mask)));
  }
  return n;
}

// ---- AVX2, 32 bytes per step, two steps per iteration where it pays ----

#define ZV_AVX2 __attribute__((target("avx2")))

ZV_AVX2 inline __m256i load32(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
ZV_AVX2 inline void store32(uint8_t *p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

ZV_AVX2 int add_mem_avx2(uint8_t *x, const uint8_t *y, int bytes) {
  const int n = bytes & ~31;
  for (int i = 0; i < n; i += 32) store32(x + i, _mm256_xor_si256(load32(x + i), load32(y + i)));
  return n;
}

ZV_AVX2 int add2_mem_avx2(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  const int n = bytes & ~31;
  for (int i = 0; i < n; i += 32) {
    store32(z + i, _mm256_xor_si256(load32(z + i), _mm256_xor_si256(load32(x + i), load32(y + i))));
  }
  return n;
}

ZV_AVX2 int addset_mem_avx2(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  const int n = bytes & ~31;
  for (int i = 0; i < n; i += 32) store32(z + i, _mm256_xor_si256(load32(x + i), load32(y + i)));
  return n;
}

struct Tables256 {
  __m256i lo, hi, mask;
};

ZV_AVX2 inline Tables256 tables256(const gf256_nibbles &t) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.lo));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t.hi));
  return {_mm256_broadcastsi128_si256(lo), _mm256_broadcastsi128_si256(hi), _mm256_set1_epi8(0x0f)};
}

ZV_AVX2 inline __m256i product32(__m256i v, const Tables256 &t) {
  const __m256i l = _mm256_and_si256(v, t.mask);
  const __m256i h = _mm256_and_si256(_mm256_srli_epi64(v, 4), t.mask);
  return _mm256_xor_si256(_mm256_shuffle_epi8(t.lo, l), _mm256_shuffle_epi8(t.hi, h));
}

ZV_AVX2 int mul_mem_avx2(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  const Tables256 t = tables256(GF256VectorTables.nibbles[y]);
  const int n = bytes & ~31;
  int i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i a = load32(x + i), b = load32(x + i + 32);
    store32(z + i, product32(a, t));
    store32(z + i + 32, product32(b, t));
  }
  for (; i < n; i += 32) store32(z + i, product32(load32(x + i), t));
  return n;
}

ZV_AVX2 int muladd_mem_avx2(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  const Tables256 t = tables256(GF256VectorTables.nibbles[y]);
  const int n = bytes & ~31;
  int i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m256i a = product32(load32(x + i), t), b = product32(load32(x + i + 32), t);
    store32(z + i, _mm256_xor_si256(load32(z + i), a));
    store32(z + i + 32, _mm256_xor_si256(load32(z + i + 32), b));
  }
  for (; i < n; i += 32)
    store32(z + i, _mm256_xor_si256(load32(z + i), product32(load32(x + i), t)));
  return n;
}

// Adds v * coeff[r * stride] into sum[r] for r < R.
template <int R>
ZV_AVX2 inline void add_products_avx2(__m256i v, const uint8_t *coeff, int stride, __m256i *sum) {
  const __m256i mask = _mm256_set1_epi8(0x0f);
  const __m256i l = _mm256_and_si256(v, mask);
  const __m256i h = _mm256_and_si256(_mm256_srli_epi64(v, 4), mask);
  ZV_UNROLL for (int r = 0; r < R; ++r) {
    const gf256_nibbles &t = GF256VectorTables.nibbles[coeff[r * stride]];
    const __m256i lo =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t.lo)));
    const __m256i hi =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t.hi)));
    sum[r] = _mm256_xor_si256(
        sum[r], _mm256_xor_si256(_mm256_shuffle_epi8(lo, l), _mm256_shuffle_epi8(hi, h)));
  }
}

template <int R>
ZV_AVX2 void dot_rows_avx2(uint8_t *const *out, const uint8_t *const *src, int count,
                           const uint8_t *coeff, int bytes, bool accumulate) {
  int i = 0;
  for (; i + 32 <= bytes; i += 32) {
    __m256i sum[R];
    ZV_UNROLL for (int r = 0; r < R; ++r) sum[r] =
        accumulate ? load32(out[r] + i) : _mm256_setzero_si256();
    for (int j = 0; j < count; ++j) add_products_avx2<R>(load32(src[j] + i), coeff + j, count, sum);
    ZV_UNROLL for (int r = 0; r < R; ++r) store32(out[r] + i, sum[r]);
  }
  const int tail = bytes - i;
  if (tail == 0) return;
  // The last partial step goes through zero-padded copies, so that no byte
  // past the regions is read or written.
  alignas(32) uint8_t buffer[32];
  __m256i sum[R];
  ZV_UNROLL for (int r = 0; r < R; ++r) {
    std::memset(buffer, 0, sizeof buffer);
    if (accumulate) std::memcpy(buffer, out[r] + i, static_cast<size_t>(tail));
    sum[r] = load32(buffer);
  }
  for (int j = 0; j < count; ++j) {
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer, src[j] + i, static_cast<size_t>(tail));
    add_products_avx2<R>(load32(buffer), coeff + j, count, sum);
  }
  ZV_UNROLL for (int r = 0; r < R; ++r) {
    store32(buffer, sum[r]);
    std::memcpy(out[r] + i, buffer, static_cast<size_t>(tail));
  }
}

ZV_AVX2 int dot_mem_avx2(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                         const uint8_t *coeff, int bytes, bool accumulate) {
  static constexpr DotRowsFn kRows[kGf256DotRows + 1] = {
      nullptr,          dot_rows_avx2<1>, dot_rows_avx2<2>, dot_rows_avx2<3>, dot_rows_avx2<4>,
      dot_rows_avx2<5>, dot_rows_avx2<6>, dot_rows_avx2<7>, dot_rows_avx2<8>};
  if (rows < 1 || rows > kGf256DotRows) return 0;
  kRows[rows](out, src, count, coeff, bytes, accumulate);
  return bytes;
}

// ---- AVX-512 with GFNI, 64 bytes per step, one affine transform per product ----

#define ZV_GFNI __attribute__((target("avx512f,avx512bw,gfni")))

ZV_GFNI inline __m512i load64(const uint8_t *p) { return _mm512_loadu_si512(p); }
ZV_GFNI inline void store64(uint8_t *p, __m512i v) { _mm512_storeu_si512(p, v); }

ZV_GFNI inline __m512i product64(__m512i v, __m512i matrix) {
  return _mm512_gf2p8affine_epi64_epi8(v, matrix, 0);
}

ZV_GFNI inline __m512i matrix_of(uint8_t y) {
  return _mm512_set1_epi64(static_cast<long long>(GF256VectorTables.affine[y]));
}

// Every GFNI kernel covers the whole region: the last partial step uses
// byte-masked loads and stores, which touch no byte outside the mask.
ZV_GFNI inline __mmask64 tail_mask(int tail) { return ~uint64_t{0} >> (64 - tail); }

// Runs step(offset, mask) over the region in 64-byte steps.
template <typename Step>
ZV_GFNI inline int over_region(int bytes, Step step) {
  int i = 0;
  for (; i + 64 <= bytes; i += 64) step(i, ~__mmask64{0});
  if (i < bytes) step(i, tail_mask(bytes - i));
  return bytes;
}

// Whole steps pass a constant full mask, which folds to plain accesses.
ZV_GFNI inline __m512i load_masked(const uint8_t *p, __mmask64 m) {
  if (m == ~__mmask64{0}) return _mm512_loadu_si512(p);
  return _mm512_maskz_loadu_epi8(m, p);
}
ZV_GFNI inline void store_masked(uint8_t *p, __mmask64 m, __m512i v) {
  if (m == ~__mmask64{0}) {
    _mm512_storeu_si512(p, v);
    return;
  }
  _mm512_mask_storeu_epi8(p, m, v);
}

ZV_GFNI int add_mem_gfni(uint8_t *x, const uint8_t *y, int bytes) {
  return over_region(bytes, [=](int i, __mmask64 m) ZV_GFNI {
    store_masked(x + i, m, _mm512_xor_si512(load_masked(x + i, m), load_masked(y + i, m)));
  });
}

ZV_GFNI int add2_mem_gfni(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  return over_region(bytes, [=](int i, __mmask64 m) ZV_GFNI {
    store_masked(z + i, m,
                 _mm512_xor_si512(load_masked(z + i, m),
                                  _mm512_xor_si512(load_masked(x + i, m), load_masked(y + i, m))));
  });
}

ZV_GFNI int addset_mem_gfni(uint8_t *z, const uint8_t *x, const uint8_t *y, int bytes) {
  return over_region(bytes, [=](int i, __mmask64 m) ZV_GFNI {
    store_masked(z + i, m, _mm512_xor_si512(load_masked(x + i, m), load_masked(y + i, m)));
  });
}

ZV_GFNI int mul_mem_gfni(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  const __m512i a = matrix_of(y);
  return over_region(bytes, [=](int i, __mmask64 m) ZV_GFNI {
    store_masked(z + i, m, product64(load_masked(x + i, m), a));
  });
}

ZV_GFNI int muladd_mem_gfni(uint8_t *z, const uint8_t *x, uint8_t y, int bytes) {
  const __m512i a = matrix_of(y);
  return over_region(bytes, [=](int i, __mmask64 m) ZV_GFNI {
    store_masked(z + i, m,
                 _mm512_xor_si512(load_masked(z + i, m), product64(load_masked(x + i, m), a)));
  });
}

template <int R>
ZV_GFNI void dot_rows_gfni(uint8_t *const *out, const uint8_t *const *src, int count,
                           const uint8_t *coeff, int bytes, bool accumulate) {
  // The bit matrices of this call in the order the loop reads them.
  long long matrices[256 * R];
  for (int j = 0; j < count; ++j) {
    ZV_UNROLL for (int r = 0; r < R; ++r) {
      matrices[j * R + r] = static_cast<long long>(GF256VectorTables.affine[coeff[r * count + j]]);
    }
  }
  over_region(bytes, [&](int i, __mmask64 m) ZV_GFNI {
    __m512i sum[R];
    ZV_UNROLL for (int r = 0; r < R; ++r) {
      sum[r] = accumulate ? load_masked(out[r] + i, m) : _mm512_setzero_si512();
    }
    for (int j = 0; j < count; ++j) {
      const __m512i v = load_masked(src[j] + i, m);
      ZV_UNROLL for (int r = 0; r < R; ++r) {
        sum[r] = _mm512_xor_si512(sum[r], product64(v, _mm512_set1_epi64(matrices[j * R + r])));
      }
    }
    ZV_UNROLL for (int r = 0; r < R; ++r) store_masked(out[r] + i, m, sum[r]);
  });
}

ZV_GFNI int dot_mem_gfni(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                         const uint8_t *coeff, int bytes, bool accumulate) {
  static constexpr DotRowsFn kRows[kGf256DotRows + 1] = {
      nullptr,          dot_rows_gfni<1>, dot_rows_gfni<2>, dot_rows_gfni<3>, dot_rows_gfni<4>,
      dot_rows_gfni<5>, dot_rows_gfni<6>, dot_rows_gfni<7>, dot_rows_gfni<8>};
  if (rows < 1 || rows > kGf256DotRows) return 0;
  kRows[rows](out, src, count, coeff, bytes, accumulate);
  return bytes;
}

constexpr gf256_kernels kSsse3{"ssse3",       add_mem_ssse3,    add2_mem_ssse3, addset_mem_ssse3,
                               mul_mem_ssse3, muladd_mem_ssse3, nullptr};
constexpr gf256_kernels kAvx2{"avx2",       add_mem_avx2,    add2_mem_avx2, addset_mem_avx2,
                              mul_mem_avx2, muladd_mem_avx2, dot_mem_avx2};

constexpr gf256_kernels kAvx512Gfni{"avx512-gfni", add_mem_gfni,    add2_mem_gfni, addset_mem_gfni,
                                    mul_mem_gfni,  muladd_mem_gfni, dot_mem_gfni};

}  // namespace

const gf256_kernels *gf256_kernels_avx512_gfni() {
  __builtin_cpu_init();
  const bool ok = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                  __builtin_cpu_supports("gfni");
  return ok ? &kAvx512Gfni : nullptr;
}

const gf256_kernels *gf256_kernels_ssse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") ? &kSsse3 : nullptr;
}

const gf256_kernels *gf256_kernels_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &kAvx2 : nullptr;
}

#else  // no vector kernels for this target

const gf256_kernels *gf256_kernels_ssse3() { return nullptr; }
const gf256_kernels *gf256_kernels_avx2() { return nullptr; }
const gf256_kernels *gf256_kernels_avx512_gfni() { return nullptr; }

#endif

const gf256_kernels *gf256_active_kernels() {
  static const gf256_kernels *const active = [] {
    for (const gf256_kernels *k :
         {gf256_kernels_avx512_gfni(), gf256_kernels_avx2(), gf256_kernels_ssse3()}) {
      if (k != nullptr) return k;
    }
    return static_cast<const gf256_kernels *>(nullptr);
  }();
  return active;
}
