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

ZV_GFNI inline __m512i product64(__m512i v, __m512i matrix) {
  return _mm512_gf2p8affine_epi64_epi8(v, matrix, 0);
}

// The bit matrix of a multiplier, broadcast into a register. The empty asm
// statement keeps the compiler from folding the broadcast into the affine
// instruction as a {1to8} memory operand: one assembler in use encodes that
// form's displacement at the wrong scale, which yields wrong products.
ZV_GFNI inline __m512i matrix_register(long long matrix) {
  __m512i m = _mm512_set1_epi64(matrix);
  __asm__("" : "+v"(m));
  return m;
}

ZV_GFNI inline __m512i matrix_of(uint8_t y) {
  return matrix_register(static_cast<long long>(GF256VectorTables.affine[y]));
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
        sum[r] = _mm512_xor_si512(sum[r], product64(v, matrix_register(matrices[j * R + r])));
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

namespace {

// A fixed, well-mixed byte pattern for the self-check.
void fill_pattern(uint8_t *p, int n, uint32_t seed) {
  for (int i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    p[i] = static_cast<uint8_t>(seed >> 24);
  }
}

constexpr int kCheckBytes = 333;  // whole vectors of every width and a ragged tail
constexpr int kCheckRoom = kCheckBytes + 2 * 64;
constexpr int kCheckOffset = 3;  // misaligned, with guard bytes on both sides

// The dispatched form of a kernel: the kernel takes a prefix, the reference
// finishes the rest.
template <typename Kernel, typename Reference>
void run_split(Kernel kernel, Reference reference, int bytes) {
  const int done = kernel(bytes);
  reference(done, bytes - done);
}

// One operation on copies of the same inputs, once by kernel and reference
// together and once by the reference alone; true when every byte agrees,
// including the guard bytes around the region.
template <typename Op>
bool agrees(Op op) {
  uint8_t want[3][kCheckRoom], got[3][kCheckRoom];
  for (int b = 0; b < 3; ++b) fill_pattern(want[b], kCheckRoom, 0x9E3779B9u * (b + 1));
  std::memcpy(got, want, sizeof want);
  op(want, got);
  return std::memcmp(want, got, sizeof want) == 0;
}

bool dot_agrees(const gf256_kernels &k, int rows, bool accumulate) {
  constexpr int kCount = 5;
  uint8_t coeff[kGf256DotRows * kCount];
  fill_pattern(coeff, rows * kCount, 0x51u + static_cast<uint32_t>(rows));
  uint8_t src_bytes[kCount][kCheckRoom];
  for (int j = 0; j < kCount; ++j) fill_pattern(src_bytes[j], kCheckRoom, 0x77u * (j + 1));
  uint8_t want[kGf256DotRows][kCheckRoom], got[kGf256DotRows][kCheckRoom];
  fill_pattern(&want[0][0], static_cast<int>(sizeof want), 0xABCDu);
  std::memcpy(got, want, sizeof want);
  const uint8_t *src[kCount];
  uint8_t *out[kGf256DotRows];
  for (int j = 0; j < kCount; ++j) src[j] = src_bytes[j] + kCheckOffset;
  for (int r = 0; r < rows; ++r) {
    uint8_t *w = want[r] + kCheckOffset;
    if (!accumulate) std::memset(w, 0, kCheckBytes);
    for (int j = 0; j < kCount; ++j)
      gf256_ref_muladd_mem(w, coeff[r * kCount + j], src[j], kCheckBytes);
    out[r] = got[r] + kCheckOffset;
  }
  const int done = k.dot_mem(out, rows, src, kCount, coeff, kCheckBytes, accumulate);
  if (done != kCheckBytes) {
    // A kernel that leaves a tail must leave it untouched.
    for (int r = 0; r < rows; ++r) {
      if (!accumulate) std::memset(out[r] + done, 0, static_cast<size_t>(kCheckBytes - done));
      for (int j = 0; j < kCount; ++j)
        gf256_ref_muladd_mem(out[r] + done, coeff[r * kCount + j], src[j] + done,
                             kCheckBytes - done);
    }
  }
  return std::memcmp(want, got, sizeof want) == 0;
}

}  // namespace

bool gf256_kernels_agree_with_reference(const gf256_kernels &k) {
  constexpr int n = kCheckBytes;
  constexpr int o = kCheckOffset;
  using Buffers = uint8_t[3][kCheckRoom];
  bool ok = agrees([&](Buffers &w, Buffers &g) {
    gf256_ref_add_mem(w[0] + o, w[1] + o, n);
    run_split([&](int b) { return k.add_mem(g[0] + o, g[1] + o, b); },
              [&](int d, int b) { gf256_ref_add_mem(g[0] + o + d, g[1] + o + d, b); }, n);
  });
  ok = ok && agrees([&](Buffers &w, Buffers &g) {
         gf256_ref_add2_mem(w[0] + o, w[1] + o, w[2] + o, n);
         run_split(
             [&](int b) { return k.add2_mem(g[0] + o, g[1] + o, g[2] + o, b); },
             [&](int d, int b) { gf256_ref_add2_mem(g[0] + o + d, g[1] + o + d, g[2] + o + d, b); },
             n);
       });
  ok = ok && agrees([&](Buffers &w, Buffers &g) {
         gf256_ref_addset_mem(w[0] + o, w[1] + o, w[2] + o, n);
         run_split([&](int b) { return k.addset_mem(g[0] + o, g[1] + o, g[2] + o, b); },
                   [&](int d, int b) {
                     gf256_ref_addset_mem(g[0] + o + d, g[1] + o + d, g[2] + o + d, b);
                   },
                   n);
       });
  for (const uint8_t y : {uint8_t{2}, uint8_t{0x53}, uint8_t{0x8E}, uint8_t{0xFF}}) {
    ok = ok && agrees([&](Buffers &w, Buffers &g) {
           gf256_ref_mul_mem(w[0] + o, w[1] + o, y, n);
           run_split([&](int b) { return k.mul_mem(g[0] + o, g[1] + o, y, b); },
                     [&](int d, int b) { gf256_ref_mul_mem(g[0] + o + d, g[1] + o + d, y, b); }, n);
         });
    ok = ok && agrees([&](Buffers &w, Buffers &g) {
           gf256_ref_muladd_mem(w[0] + o, y, w[1] + o, n);
           run_split([&](int b) { return k.muladd_mem(g[0] + o, g[1] + o, y, b); },
                     [&](int d, int b) { gf256_ref_muladd_mem(g[0] + o + d, y, g[1] + o + d, b); },
                     n);
         });
  }
  if (k.dot_mem != nullptr) {
    for (int rows = 1; rows <= kGf256DotRows && ok; ++rows)
      ok = dot_agrees(k, rows, false) && dot_agrees(k, rows, true);
  }
  return ok;
}

const gf256_kernels *gf256_choose_kernels(const gf256_kernels *const *candidates, int count) {
  for (int i = 0; i < count; ++i) {
    if (candidates[i] != nullptr && gf256_kernels_agree_with_reference(*candidates[i]))
      return candidates[i];
  }
  return nullptr;
}

const gf256_kernels *gf256_active_kernels() {
  // The self-check needs the product tables; until they are built every
  // product is zero and the reference alone does the work.
  if (!gf256_tables_built()) return nullptr;
  static const gf256_kernels *const active = [] {
    const gf256_kernels *const candidates[] = {gf256_kernels_avx512_gfni(), gf256_kernels_avx2(),
                                               gf256_kernels_ssse3()};
    return gf256_choose_kernels(candidates, 3);
  }();
  return active;
}
