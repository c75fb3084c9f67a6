// The one dispatcher: which kernel sets this processor runs, the self-check
// that a set must pass before it is used, and the choice of the set in use.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "gf/gf_cauchy_solve.h"
#include "gf/gf_kernels.h"

#if defined(ZVFEC_GF_ARM_KERNELS)
#include <sys/auxv.h>
#include <sys/prctl.h>
#endif

#if defined(ZVFEC_GF_X86_KERNELS)
// Defined by the kernel units, each compiled for its own instructions.
const gf_kernel_set *gf_kernels_ssse3_unchecked();
const gf_kernel_set *gf_kernels_avx2_unchecked();
const gf_kernel_set *gf_kernels_avx2_gfni_unchecked();
const gf_kernel_set *gf_kernels_avx512_unchecked();
const gf_kernel_set *gf_kernels_avx512_gfni_unchecked();

namespace {
bool cpu_has(bool ssse3, bool avx2, bool gfni, bool avx512) {
  __builtin_cpu_init();
  return (!ssse3 || __builtin_cpu_supports("ssse3")) && (!avx2 || __builtin_cpu_supports("avx2")) &&
         (!gfni || __builtin_cpu_supports("gfni")) &&
         (!avx512 || (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")));
}
}  // namespace

const gf_kernel_set *gf_kernels_avx512_gfni() {
  return cpu_has(false, false, true, true) ? gf_kernels_avx512_gfni_unchecked() : nullptr;
}
const gf_kernel_set *gf_kernels_avx2_gfni() {
  return cpu_has(false, true, true, false) ? gf_kernels_avx2_gfni_unchecked() : nullptr;
}
const gf_kernel_set *gf_kernels_avx512() {
  return cpu_has(false, false, false, true) ? gf_kernels_avx512_unchecked() : nullptr;
}
const gf_kernel_set *gf_kernels_avx2() {
  return cpu_has(false, true, false, false) ? gf_kernels_avx2_unchecked() : nullptr;
}
const gf_kernel_set *gf_kernels_ssse3() {
  return cpu_has(true, false, false, false) ? gf_kernels_ssse3_unchecked() : nullptr;
}
#elif defined(ZVFEC_GF_ARM_KERNELS)
// Defined by the kernel units; the SVE ones compiled for one vector length.
const gf_kernel_set *gf_kernels_neon_unchecked();
const gf_kernel_set *gf_kernels_sve256_unchecked();
const gf_kernel_set *gf_kernels_sve512_unchecked();

namespace {
// The processor's SVE vector length in bytes, 0 without SVE; asked of the
// kernel, so that no SVE instruction runs where there is none.
int sve_bytes() {
  if ((getauxval(AT_HWCAP) & HWCAP_SVE) == 0) return 0;
  const int vl = prctl(PR_SVE_GET_VL);
  return vl < 0 ? 0 : vl & PR_SVE_VL_LEN_MASK;
}
}  // namespace

// NEON is part of every aarch64 processor.
const gf_kernel_set *gf_kernels_neon() { return gf_kernels_neon_unchecked(); }
const gf_kernel_set *gf_kernels_sve256() {
  return sve_bytes() == 32 ? gf_kernels_sve256_unchecked() : nullptr;
}
const gf_kernel_set *gf_kernels_sve512() {
  return sve_bytes() == 64 ? gf_kernels_sve512_unchecked() : nullptr;
}
#endif
#if !defined(ZVFEC_GF_X86_KERNELS)
const gf_kernel_set *gf_kernels_avx512_gfni() { return nullptr; }
const gf_kernel_set *gf_kernels_avx2_gfni() { return nullptr; }
const gf_kernel_set *gf_kernels_avx512() { return nullptr; }
const gf_kernel_set *gf_kernels_avx2() { return nullptr; }
const gf_kernel_set *gf_kernels_ssse3() { return nullptr; }
#endif
#if !defined(ZVFEC_GF_ARM_KERNELS)
const gf_kernel_set *gf_kernels_neon() { return nullptr; }
const gf_kernel_set *gf_kernels_sve256() { return nullptr; }
const gf_kernel_set *gf_kernels_sve512() { return nullptr; }
#endif

namespace {

// Vector sets of this architecture by name, best first. Where a processor
// has both AVX-512BW and GFNI, one affine instruction per product beats two
// shuffles at any width; without GFNI, the 64-byte shuffles beat the 32-byte
// ones.
struct NamedSet {
  const char *name;
  const gf_kernel_set *(*get)();
};
#if defined(ZVFEC_GF_ARM_KERNELS)
// SVE only where its vectors are wider than NEON's; a processor has one
// length, so at most one SVE set is there.
constexpr NamedSet kVectorSets[] = {
    {"sve512", gf_kernels_sve512}, {"sve256", gf_kernels_sve256}, {"neon", gf_kernels_neon}};
#else
constexpr NamedSet kVectorSets[] = {{"avx512-gfni", gf_kernels_avx512_gfni},
                                    {"avx2-gfni", gf_kernels_avx2_gfni},
                                    {"avx512", gf_kernels_avx512},
                                    {"avx2", gf_kernels_avx2},
                                    {"ssse3", gf_kernels_ssse3}};
#endif
constexpr int kVectorSetCount = sizeof kVectorSets / sizeof kVectorSets[0];

// ---- the self-check ----

// Constants of GF(2^8) under both polynomials in use, and of packed GF(2^4).
struct CheckConstants {
  gf_mul_const c[8 * 3];
  CheckConstants() {
    const uint8_t picks[8] = {0, 1, 2, 0x53, 0x8E, 0xB7, 0xFF, 0x1D};
    for (int i = 0; i < 8; ++i) {
      uint8_t a[256], b[256], p[256];
      for (unsigned x = 0; x < 256; ++x) {
        a[x] = gf_slow_mul(picks[i], x, 0x11D, 8);
        b[x] = gf_slow_mul(picks[i], x, 0x14D, 8);
        p[x] = gf_slow_mul_packed4(picks[i] & 15u, x);
      }
      c[i] = gf_mul_const_from_row(a);
      c[8 + i] = gf_mul_const_from_row(b);
      c[16 + i] = gf_mul_const_from_row(p);
    }
  }
};

constexpr size_t kCheckBytes = 333;  // whole vectors of every width and a ragged tail
constexpr size_t kCheckRoom = kCheckBytes + 2 * 64;
constexpr size_t kCheckOffset = 3;  // misaligned, with guard bytes on both sides
constexpr int kCheckSources = 5;

void fill_pattern(uint8_t *p, size_t n, uint32_t seed) {
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    p[i] = static_cast<uint8_t>(seed >> 24);
  }
}

// Buffers for one comparison: sources, and the outputs of the reference and of
// the set under check, all filled with the same pattern.
struct CheckBuffers {
  uint8_t src[kCheckSources][kCheckRoom];
  uint8_t want[kGfDotRows][kCheckRoom];
  uint8_t got[kGfDotRows][kCheckRoom];
  const uint8_t *sources[kCheckSources];
  uint8_t *want_rows[kGfDotRows];
  uint8_t *got_rows[kGfDotRows];

  explicit CheckBuffers(uint32_t seed) {
    for (int j = 0; j < kCheckSources; ++j) {
      fill_pattern(src[j], kCheckRoom, seed + 77u * static_cast<uint32_t>(j));
      sources[j] = src[j] + kCheckOffset;
    }
    fill_pattern(&want[0][0], sizeof want, seed ^ 0xABCDu);
    std::memcpy(got, want, sizeof want);
    for (int r = 0; r < kGfDotRows; ++r) {
      want_rows[r] = want[r] + kCheckOffset;
      got_rows[r] = got[r] + kCheckOffset;
    }
  }
  bool same() const { return std::memcmp(want, got, sizeof want) == 0; }
};

bool xor_agrees(const gf_kernel_set &k) {
  const gf_kernel_set &ref = gf_kernels_scalar();
  for (const int count : {1, 2, kCheckSources}) {
    for (const bool accumulate : {false, true}) {
      CheckBuffers b(static_cast<uint32_t>(count * 2 + accumulate));
      ref.xor_sum(b.want_rows[0], b.sources, count, kCheckBytes, accumulate);
      k.xor_sum(b.got_rows[0], b.sources, count, kCheckBytes, accumulate);
      if (!b.same()) return false;
    }
  }
  return true;
}

bool mul_agrees(const gf_kernel_set &k, const CheckConstants &cs) {
  const gf_kernel_set &ref = gf_kernels_scalar();
  for (const gf_mul_const &c : cs.c) {
    for (const bool accumulate : {false, true}) {
      CheckBuffers b(static_cast<uint32_t>(c.affine) + accumulate);
      ref.mul(b.want_rows[0], b.sources[0], &c, kCheckBytes, accumulate);
      k.mul(b.got_rows[0], b.sources[0], &c, kCheckBytes, accumulate);
      // In place: the output is its own source.
      ref.mul(b.want_rows[1], b.want_rows[1], &c, kCheckBytes, accumulate);
      k.mul(b.got_rows[1], b.got_rows[1], &c, kCheckBytes, accumulate);
      if (!b.same()) return false;
    }
  }
  return true;
}

bool dot_agrees(const gf_kernel_set &k, const CheckConstants &cs) {
  const gf_kernel_set &ref = gf_kernels_scalar();
  uint8_t coeff[kGfDotRows * kCheckSources];
  for (int rows = 1; rows <= kGfDotRows; ++rows) {
    for (int i = 0; i < rows * kCheckSources; ++i)
      coeff[i] = static_cast<uint8_t>((i * 7 + rows) % 24);
    for (const bool accumulate : {false, true}) {
      for (const bool in_place : {false, true}) {
        CheckBuffers b(static_cast<uint32_t>(rows * 4 + accumulate * 2 + in_place));
        // In place, the first and the last output are sources too.
        const uint8_t *want_src[kCheckSources], *got_src[kCheckSources];
        std::memcpy(want_src, b.sources, sizeof want_src);
        std::memcpy(got_src, b.sources, sizeof got_src);
        if (in_place) {
          want_src[1] = b.want_rows[0];
          got_src[1] = b.got_rows[0];
          want_src[3] = b.want_rows[rows - 1];
          got_src[3] = b.got_rows[rows - 1];
        }
        ref.dot(b.want_rows, rows, want_src, kCheckSources, cs.c, coeff, kCheckBytes, accumulate);
        k.dot(b.got_rows, rows, got_src, kCheckSources, cs.c, coeff, kCheckBytes, accumulate);
        if (!b.same()) return false;
      }
    }
  }
  return true;
}

// The field operations of the closed-form solve, in both fields that use it:
// a ragged count of elements, up to eight factors, more rows than one batch.
bool cauchy_agrees(const gf_kernel_set &k) {
  if (k.cauchy_weights == nullptr || k.cauchy_rows == nullptr)
    return k.cauchy_weights == nullptr && k.cauchy_rows == nullptr;
  constexpr size_t kElements = 70;
  constexpr int kRows = 9;
  constexpr size_t kRoom = kRows * kElements + 64;  // guard bytes behind
  const gf_field_map maps[] = {gf_solve_field_11d().map, gf_solve_field_14d().map};
  for (const gf_field_map &map : maps) {
    uint8_t x[kElements], scale[kElements], f[16], y[16];
    fill_pattern(x, kElements, 11);
    fill_pattern(scale, kElements, 12);
    fill_pattern(f, sizeof f, 13);
    // Row points apart from every element point.
    for (int i = 0; i < kRows; ++i) y[i] = static_cast<uint8_t>(i);
    for (uint8_t &point : x) point = static_cast<uint8_t>(point | 0x10);
    for (const int m : {1, 5, 8}) {
      uint8_t want[3][kRoom], got[3][kRoom];
      fill_pattern(&want[0][0], sizeof want, 14 + static_cast<uint32_t>(m));
      std::memcpy(got, want, sizeof want);
      // fy and fx are points of x, so that some factors are 0.
      gf_cauchy_weights_reference(want[0], want[1], want[2], x, scale, kElements, x + 1, x + 20, m,
                                  &map);
      k.cauchy_weights(got[0], got[1], got[2], x, scale, kElements, x + 1, x + 20, m, &map);
      if (std::memcmp(want, got, sizeof want) != 0) return false;
    }
    uint8_t want[kRoom], got[kRoom];
    fill_pattern(want, kRoom, 15);
    std::memcpy(got, want, kRoom);
    gf_cauchy_rows_reference(want, kRows, scale, x + 16, kElements - 16, y, f, &map);
    k.cauchy_rows(got, kRows, scale, x + 16, kElements - 16, y, f, &map);
    if (std::memcmp(want, got, kRoom) != 0) return false;
  }
  return true;
}

// ---- the set in use ----

// The cap named by ZVFEC_GF_KERNELS: the index of the best vector set allowed,
// kVectorSetCount for scalar only, 0 (no cap) when unset or unknown.
int kernel_cap() {
  const char *name = std::getenv("ZVFEC_GF_KERNELS");
  if (name == nullptr) return 0;
  if (std::strcmp(name, "scalar") == 0) return kVectorSetCount;
  for (int i = 0; i < kVectorSetCount; ++i) {
    if (std::strcmp(name, kVectorSets[i].name) == 0) return i;
  }
  return 0;
}

const gf_kernel_set &first_choice() {
  const gf_kernel_set *candidates[kVectorSetCount] = {};
  for (int i = kernel_cap(); i < kVectorSetCount; ++i) candidates[i] = kVectorSets[i].get();
  return gf_choose_kernels(candidates, kVectorSetCount);
}

// The set in use: null until the first use chooses it.
std::atomic<const gf_kernel_set *> g_active{nullptr};

}  // namespace

int gf_available_kernel_sets(const gf_kernel_set **out, int max) {
  int count = 0;
  if (count < max) out[count++] = &gf_kernels_scalar();
  for (int i = kVectorSetCount - 1; i >= 0; --i) {
    const gf_kernel_set *k = kVectorSets[i].get();
    if (k != nullptr && count < max) out[count++] = k;
  }
  return count;
}

bool gf_kernels_agree_with_reference(const gf_kernel_set &k) {
  static const CheckConstants constants;
  return xor_agrees(k) && mul_agrees(k, constants) && dot_agrees(k, constants) && cauchy_agrees(k);
}

const gf_kernel_set &gf_choose_kernels(const gf_kernel_set *const *candidates, int count) {
  for (int i = 0; i < count; ++i) {
    if (candidates[i] != nullptr && gf_kernels_agree_with_reference(*candidates[i]))
      return *candidates[i];
  }
  return gf_kernels_scalar();
}

const gf_kernel_set &gf_active_kernels() {
  if (const gf_kernel_set *k = g_active.load(std::memory_order_acquire)) return *k;
  // Threads arriving together all check and choose the same set; the first
  // store wins and the others agree with it.
  const gf_kernel_set *chosen = &first_choice();
  const gf_kernel_set *expected = nullptr;
  g_active.compare_exchange_strong(expected, chosen, std::memory_order_acq_rel);
  return *g_active.load(std::memory_order_acquire);
}

void gf_use_kernels(const gf_kernel_set &k) { g_active.store(&k, std::memory_order_release); }
