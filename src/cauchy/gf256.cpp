// GF(256) tables, their one-time build with a self-test, and the bulk
// operations: a scalar reference and the dispatch to vector kernels.
#include "cauchy/gf256.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "gf/gf_kernels.h"
#include "gf/gf_region.h"

const uint8_t GF256_GEN_POLY[GF256_GEN_POLY_COUNT] = {
    0x8e, 0x95, 0x96, 0xa6, 0xaf, 0xb1, 0xb2, 0xb4, 0xb8, 0xc3, 0xc6, 0xd4, 0xe1, 0xe7, 0xf3, 0xfa};

gf256_ctx GF256Ctx;
gf_mul_const GF256MulConst[256];

namespace {

bool Initialized = false;
std::atomic<bool> TablesBuilt{false};

constexpr int kTestBufferBytes = 63;  // 7 words of 8, one word of 4, 3 single bytes
constexpr int kTestBufferAllocated = 64;
constexpr uint8_t kGuard = 0x5A;

struct SelfTestBuffers {
  uint8_t A[kTestBufferAllocated];
  uint8_t B[kTestBufferAllocated];
  uint8_t C[kTestBufferAllocated];
};
SelfTestBuffers m_SelfTestBuffers;

constexpr uint8_t kLittleEndianTestData[4] = {0x04, 0x03, 0x02, 0x01};

uint8_t *bytes_of(void *p) { return static_cast<uint8_t *>(p); }
const uint8_t *bytes_of(const void *p) { return static_cast<const uint8_t *>(p); }

void poly_init(int polynomialIndex) {
  if (polynomialIndex < 0 || polynomialIndex >= GF256_GEN_POLY_COUNT) {
    polynomialIndex = kDefaultPolynomialIndex;
  }
  GF256Ctx.Polynomial = (static_cast<uint32_t>(GF256_GEN_POLY[polynomialIndex]) << 1) | 1;
}

void explog_init() {
  uint16_t *log = GF256Ctx.GF256_LOG_TABLE;
  uint8_t *exp = GF256Ctx.GF256_EXP_TABLE;
  log[0] = 512;
  exp[0] = 1;
  for (unsigned j = 1; j < 255; ++j) {
    unsigned next = static_cast<unsigned>(exp[j - 1]) * 2;
    if (next >= 256) next ^= GF256Ctx.Polynomial;
    exp[j] = static_cast<uint8_t>(next);
    log[exp[j]] = static_cast<uint16_t>(j);
  }
  exp[255] = exp[0];
  log[exp[255]] = 255;
  for (unsigned j = 256; j < 510; ++j) exp[j] = exp[j % 255];
  exp[510] = 1;
  for (unsigned j = 511; j < 1020; ++j) exp[j] = 0;
}

void muldiv_init() {
  const uint16_t *log = GF256Ctx.GF256_LOG_TABLE;
  const uint8_t *exp = GF256Ctx.GF256_EXP_TABLE;
  std::memset(GF256Ctx.GF256_MUL_TABLE, 0, 256);
  std::memset(GF256Ctx.GF256_DIV_TABLE, 0, 256);
  for (unsigned y = 1; y < 256; ++y) {
    const unsigned log_y = static_cast<uint8_t>(log[y]);
    const unsigned log_yn = 255 - log_y;
    uint8_t *mul = GF256Ctx.GF256_MUL_TABLE + y * 256;
    uint8_t *div = GF256Ctx.GF256_DIV_TABLE + y * 256;
    mul[0] = 0;
    div[0] = 0;
    for (unsigned x = 1; x < 256; ++x) {
      mul[x] = exp[log[x] + log_y];
      div[x] = exp[log[x] + log_yn];
    }
  }
}

void inv_init() {
  for (unsigned x = 0; x < 256; ++x) {
    GF256Ctx.GF256_INV_TABLE[x] = gf256_div(1, static_cast<uint8_t>(x));
  }
}

void sqr_init() {
  for (unsigned x = 0; x < 256; ++x) {
    const auto b = static_cast<uint8_t>(x);
    GF256Ctx.GF256_SQR_TABLE[x] = gf256_mul(b, b);
  }
}

bool all_bytes(const uint8_t *p, int n, uint8_t v) {
  for (int i = 0; i < n; ++i) {
    if (p[i] != v) return false;
  }
  return true;
}

bool gf256_self_test() {
  for (unsigned x = 0; x < 256; ++x) {
    for (unsigned y = 0; y < 256; ++y) {
      const auto bx = static_cast<uint8_t>(x);
      const auto by = static_cast<uint8_t>(y);
      const uint8_t p = gf256_mul(bx, by);
      if (x != 0 && y != 0) {
        if (gf256_div(p, bx) != by || gf256_div(p, by) != bx) return false;
      } else if (p != 0) {
        return false;
      }
      if (y == 1 && p != bx) return false;
    }
  }
  auto &[A, B, C] = m_SelfTestBuffers;
  constexpr int n = kTestBufferBytes;
  A[n] = B[n] = C[n] = kGuard;

  std::memset(A, 0x1F, n);
  std::memset(B, 0xF7, n);
  gf256_add_mem(A, B, n);
  if (!all_bytes(A, n, 0xE8)) return false;

  std::memset(A, 0x1F, n);
  std::memset(B, 0xF7, n);
  std::memset(C, 0x71, n);
  gf256_add2_mem(A, B, C, n);
  if (!all_bytes(A, n, 0x99)) return false;

  std::memset(A, 0x55, n);
  std::memset(B, 0xAA, n);
  std::memset(C, 0x6C, n);
  gf256_addset_mem(A, B, C, n);
  if (!all_bytes(A, n, 0xC6)) return false;

  std::memset(A, 0xFF, n);
  std::memset(B, 0xAA, n);
  gf256_muladd_mem(A, 0x6C, B, n);
  if (!all_bytes(A, n, static_cast<uint8_t>(~gf256_mul(0xAA, 0x6C)))) return false;

  std::memset(A, 0xFF, n);
  std::memset(B, 0x55, n);
  gf256_mul_mem(A, B, 0xA2, n);
  if (!all_bytes(A, n, gf256_mul(0xA2, 0x55))) return false;

  return A[n] == kGuard && B[n] == kGuard && C[n] == kGuard;
}

// One build of the tables; returns the first call's result.
int build_context() {
  Initialized = true;
  uint32_t word;
  std::memcpy(&word, kLittleEndianTestData, sizeof word);
  if (word != 0x01020304u) return -2;  // products are assembled little-endian
  poly_init(kDefaultPolynomialIndex);
  explog_init();
  muldiv_init();
  inv_init();
  sqr_init();
  for (int y = 0; y < 256; ++y) {
    GF256MulConst[y] = gf_mul_const_from_row(GF256Ctx.GF256_MUL_TABLE + y * 256);
  }
  TablesBuilt.store(true, std::memory_order_release);
  return gf256_self_test() ? 0 : -3;
}

}  // namespace

bool gf256_tables_built() { return TablesBuilt.load(std::memory_order_acquire); }

int gf256_init_(int version) {
  if (version != 2) return -1;
  static std::once_flag once;
  int result = 0;
  std::call_once(once, [&result] { result = build_context(); });
  return result;
}

void gf256_memswap(void *vx, void *vy, int bytes) {
  uint8_t *x = bytes_of(vx);
  uint8_t *y = bytes_of(vy);
  for (int i = 0; i < bytes; ++i) std::swap(x[i], y[i]);
}

// The bulk operations run on the region arithmetic with this field's
// constants. Multipliers 0 and 1 need no table: before the build every other
// product is 0, since the constants are still all zero.

void gf256_add_mem(void *vx, const void *vy, int bytes) {
  if (bytes > 0) gf_region_xor(bytes_of(vx), bytes_of(vy), static_cast<size_t>(bytes));
}

void gf256_add2_mem(void *vz, const void *vx, const void *vy, int bytes) {
  const uint8_t *src[2] = {bytes_of(vx), bytes_of(vy)};
  if (bytes > 0) gf_region_xor_sum(bytes_of(vz), src, 2, static_cast<size_t>(bytes), true);
}

void gf256_addset_mem(void *vz, const void *vx, const void *vy, int bytes) {
  const uint8_t *src[2] = {bytes_of(vx), bytes_of(vy)};
  if (bytes > 0) gf_region_xor_sum(bytes_of(vz), src, 2, static_cast<size_t>(bytes), false);
}

void gf256_mul_mem(void *vz, const void *vx, uint8_t y, int bytes) {
  if (bytes <= 0) return;
  const auto n = static_cast<size_t>(bytes);
  if (y == 0) {
    std::memset(vz, 0, n);
  } else if (y == 1) {
    if (vz != vx) std::memcpy(vz, vx, n);
  } else {
    gf_region_mul(bytes_of(vz), bytes_of(vx), GF256MulConst[y], n);
  }
}

void gf256_muladd_mem(void *vz, uint8_t y, const void *vx, int bytes) {
  if (y == 0 || bytes <= 0) return;
  if (y == 1) {
    gf256_add_mem(vz, vx, bytes);
    return;
  }
  gf_region_muladd(bytes_of(vz), bytes_of(vx), GF256MulConst[y], static_cast<size_t>(bytes));
}

void gf256_dot_mem(uint8_t *const *out, int rows, const uint8_t *const *src, const int *lengths,
                   int count, const uint8_t *coeff, int bytes, bool accumulate) {
  if (bytes <= 0 || rows <= 0) return;
  size_t len[256];
  for (int j = 0; j < count; ++j) len[j] = lengths[j] > 0 ? static_cast<size_t>(lengths[j]) : 0;
  for (int r0 = 0; r0 < rows; r0 += kGfDotRows) {
    const int batch = std::min(kGfDotRows, rows - r0);
    gf_region_dot_ragged(out + r0, batch, src, len, count, GF256MulConst, coeff + r0 * count,
                         static_cast<size_t>(bytes), accumulate);
  }
}
