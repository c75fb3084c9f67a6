// SSSE3 and AVX2 kernels of the GF(256) bulk operations. A product is two
// 16-entry table lookups (pshufb) on the low and high nibble of each byte.
// Each function carries its own target attribute, so the rest of the library
// is built for the baseline processor and these run only where the processor
// reports the instructions.
#include "cauchy/gf256_kernels.h"

#include "cauchy/gf256.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZV_GF256_X86 1
#include <immintrin.h>
#endif

gf256_nibbles gf256_nibbles_of(uint8_t y) {
  gf256_nibbles t;
  for (int i = 0; i < 16; ++i) {
    t.lo[i] = gf256_mul(static_cast<uint8_t>(i), y);
    t.hi[i] = gf256_mul(static_cast<uint8_t>(i << 4), y);
  }
  return t;
}

#ifdef ZV_GF256_X86

namespace {

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

ZV_SSSE3 int mul_mem_ssse3(uint8_t *z, const uint8_t *x, const gf256_nibbles &t, int bytes) {
  const __m128i lo = load16(t.lo), hi = load16(t.hi), mask = _mm_set1_epi8(0x0f);
  const int n = bytes & ~15;
  for (int i = 0; i < n; i += 16) store16(z + i, product16(load16(x + i), lo, hi, mask));
  return n;
}

ZV_SSSE3 int muladd_mem_ssse3(uint8_t *z, const uint8_t *x, const gf256_nibbles &t, int bytes) {
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

ZV_AVX2 int mul_mem_avx2(uint8_t *z, const uint8_t *x, const gf256_nibbles &nib, int bytes) {
  const Tables256 t = tables256(nib);
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

ZV_AVX2 int muladd_mem_avx2(uint8_t *z, const uint8_t *x, const gf256_nibbles &nib, int bytes) {
  const Tables256 t = tables256(nib);
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

constexpr gf256_kernels kSsse3{"ssse3",          add_mem_ssse3, add2_mem_ssse3,
                               addset_mem_ssse3, mul_mem_ssse3, muladd_mem_ssse3};
constexpr gf256_kernels kAvx2{"avx2",          add_mem_avx2, add2_mem_avx2,
                              addset_mem_avx2, mul_mem_avx2, muladd_mem_avx2};

}  // namespace

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

#endif

const gf256_kernels *gf256_active_kernels() {
  static const gf256_kernels *const active = [] {
    const gf256_kernels *k = gf256_kernels_avx2();
    return k != nullptr ? k : gf256_kernels_ssse3();
  }();
  return active;
}
