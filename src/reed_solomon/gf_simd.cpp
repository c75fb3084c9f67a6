#include "reed_solomon/gf_simd.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gf/gf_tables.h"
#include "reed_solomon/gf_kernels.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZV_GF_X86 1
#include <immintrin.h>
#endif

namespace {

void plain_kernel(gf *dst, const gf *src, const gf *row, int sz) {
  gf_addmul_row<0xFF>(dst, src, row, sz);
}

#ifdef ZV_GF_X86

// Splits the row into the products of the 16 low nibbles and of the 16 high
// nibbles.
struct nibble_tables {
  alignas(16) gf lo[16];
  alignas(16) gf hi[16];
  explicit nibble_tables(const gf *row) {
    for (int x = 0; x < 16; ++x) {
      lo[x] = row[x];
      hi[x] = row[x << 4];
    }
  }
};

__attribute__((target("ssse3"))) void ssse3_kernel(gf *dst, const gf *src, const gf *row, int sz) {
  const size_t n = sz > 0 ? static_cast<size_t>(sz) : 0;
  const nibble_tables t(row);
  const __m128i lo = _mm_load_si128(reinterpret_cast<const __m128i *>(t.lo));
  const __m128i hi = _mm_load_si128(reinterpret_cast<const __m128i *>(t.hi));
  const __m128i low_bits = _mm_set1_epi8(0x0F);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
    const __m128i pl = _mm_shuffle_epi8(lo, _mm_and_si128(s, low_bits));
    const __m128i ph = _mm_shuffle_epi8(hi, _mm_and_si128(_mm_srli_epi64(s, 4), low_bits));
    __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst + i));
    d = _mm_xor_si128(d, _mm_xor_si128(pl, ph));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + i), d);
  }
  for (; i < n; ++i) dst[i] ^= row[src[i]];
}

__attribute__((target("avx2"))) void avx2_kernel(gf *dst, const gf *src, const gf *row, int sz) {
  const size_t n = sz > 0 ? static_cast<size_t>(sz) : 0;
  const nibble_tables t(row);
  const __m256i lo =
      _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(t.lo)));
  const __m256i hi =
      _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(t.hi)));
  const __m256i low_bits = _mm256_set1_epi8(0x0F);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src + i));
    const __m256i pl = _mm256_shuffle_epi8(lo, _mm256_and_si256(s, low_bits));
    const __m256i ph = _mm256_shuffle_epi8(hi, _mm256_and_si256(_mm256_srli_epi64(s, 4), low_bits));
    __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dst + i));
    d = _mm256_xor_si256(d, _mm256_xor_si256(pl, ph));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + i), d);
  }
  for (; i < n; ++i) dst[i] ^= row[src[i]];
}

bool has_ssse3() { return __builtin_cpu_supports("ssse3"); }
bool has_avx2() { return __builtin_cpu_supports("avx2"); }

#endif

// True when the kernel gives the plain kernel's bytes on a fixed pattern: a
// GF(2^8) row and a packed GF(2^4) row, misaligned, with a ragged tail and
// guard bytes behind it.
bool kernel_agrees(gf_addmul_kernel kernel) {
  constexpr int kBytes = 333, kRoom = kBytes + 64, kOffset = 3;
  gf src[kRoom], want[kRoom], got[kRoom];
  uint32_t seed = 0x2545F491u;
  for (int i = 0; i < kRoom; ++i) {
    seed = seed * 1664525u + 1013904223u;
    src[i] = static_cast<gf>(seed >> 24);
    want[i] = got[i] = static_cast<gf>(seed >> 16);
  }
  for (const gf *row : {of_gf_2_8_mul_table[0x53].data(), of_gf_2_4_opt_mul_table[0xB].data()}) {
    plain_kernel(want + kOffset, src + kOffset, row, kBytes);
    kernel(got + kOffset, src + kOffset, row, kBytes);
  }
  return std::memcmp(want, got, sizeof want) == 0;
}

gf_addmul_kernel choose_kernel() {
  // Each vector kernel checks itself against the plain one before it is
  // chosen, so a miscompiled kernel falls back instead of corrupting data.
  gf_addmul_variant variants[8];
  const int count = gf_addmul_variants(variants, 8);
  for (int v = count - 1; v > 0; --v) {
    if (variants[v].available && kernel_agrees(variants[v].kernel)) return variants[v].kernel;
  }
  return plain_kernel;
}

}  // namespace

void gf_addmul_linear_row(gf *dst, const gf *src, const gf *row, int sz) {
  // Short symbols are not worth building the nibble tables for.
  if (sz < 32) return plain_kernel(dst, src, row, sz);
  static const gf_addmul_kernel kernel = choose_kernel();
  kernel(dst, src, row, sz);
}

int gf_addmul_variants(gf_addmul_variant *out, int max) {
  gf_addmul_variant all[] = {
      {"plain", plain_kernel, true},
#ifdef ZV_GF_X86
      {"ssse3", ssse3_kernel, (__builtin_cpu_init(), has_ssse3())},
      {"avx2", avx2_kernel, has_avx2()},
#endif
  };
  int count = 0;
  for (const auto &v : all)
    if (count < max) out[count++] = v;
  return count;
}
