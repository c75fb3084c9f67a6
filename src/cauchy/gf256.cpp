// GF(256) tables, their one-time build with a self-test, and the bulk
// operations: a scalar reference and the dispatch to vector kernels.
#include "cauchy/gf256.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "cauchy/gf256_kernels.h"

const uint8_t GF256_GEN_POLY[GF256_GEN_POLY_COUNT] = {
    0x8e, 0x95, 0x96, 0xa6, 0xaf, 0xb1, 0xb2, 0xb4, 0xb8, 0xc3, 0xc6, 0xd4, 0xe1, 0xe7, 0xf3, 0xfa};

gf256_ctx GF256Ctx;

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

// Below this size the setup of a vector kernel costs more than it saves.
constexpr int kVectorMinBytes = 64;

template <typename W>
W load(const uint8_t *p) {
  W v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename W>
void store(uint8_t *p, W v) {
  std::memcpy(p, &v, sizeof v);
}

// Drives the XOR family through 64-bit words, then one 32-bit word, then the
// last bytes highest offset first. op(offset, W{}) handles one unit of type W.
template <typename Op>
void word_stepped(int bytes, Op op) {
  const unsigned count = static_cast<unsigned>(bytes) / 8;
  for (unsigned i = 0; i < count; ++i) op(static_cast<int>(i * 8), uint64_t{});
  const int base = static_cast<int>(count * 8);
  const int r = bytes - base;
  const int tail = base + (r & 4);
  if (r & 4) op(base, uint32_t{});
  switch (r & 3) {
    case 3:
      op(tail + 2, uint8_t{});
      [[fallthrough]];
    case 2:
      op(tail + 1, uint8_t{});
      [[fallthrough]];
    case 1:
      op(tail, uint8_t{});
      break;
    default:
      break;
  }
}

// The multiply family: 32-bit words assembled from four products (byte k of
// the word is the product of source byte k), then the last bytes highest
// first. All four source bytes are read before the word is stored.
template <bool kAdd>
void multiply_stepped(uint8_t *z, const uint8_t *x, const uint8_t *row, int bytes) {
  while (bytes >= 4) {
    uint32_t w = static_cast<uint32_t>(row[x[0]]) | static_cast<uint32_t>(row[x[1]]) << 8 |
                 static_cast<uint32_t>(row[x[2]]) << 16 | static_cast<uint32_t>(row[x[3]]) << 24;
    if constexpr (kAdd) w ^= load<uint32_t>(z);
    store(z, w);
    z += 4;
    x += 4;
    bytes -= 4;
  }
  for (int i = bytes - 1; i >= 0; --i) {
    if constexpr (kAdd) {
      z[i] ^= row[x[i]];
    } else {
      z[i] = row[x[i]];
    }
  }
}

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
  gf256_vector_tables_init();
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

void gf256_ref_add_mem(void *vx, const void *vy, int bytes) {
  uint8_t *x = bytes_of(vx);
  const uint8_t *y = bytes_of(vy);
  word_stepped(bytes, [&](int i, auto unit) {
    using W = decltype(unit);
    store<W>(x + i, static_cast<W>(load<W>(x + i) ^ load<W>(y + i)));
  });
}

void gf256_ref_add2_mem(void *vz, const void *vx, const void *vy, int bytes) {
  uint8_t *z = bytes_of(vz);
  const uint8_t *x = bytes_of(vx);
  const uint8_t *y = bytes_of(vy);
  word_stepped(bytes, [&](int i, auto unit) {
    using W = decltype(unit);
    store<W>(z + i, static_cast<W>(load<W>(z + i) ^ load<W>(x + i) ^ load<W>(y + i)));
  });
}

void gf256_ref_addset_mem(void *vz, const void *vx, const void *vy, int bytes) {
  uint8_t *z = bytes_of(vz);
  const uint8_t *x = bytes_of(vx);
  const uint8_t *y = bytes_of(vy);
  word_stepped(bytes, [&](int i, auto unit) {
    using W = decltype(unit);
    store<W>(z + i, static_cast<W>(load<W>(x + i) ^ load<W>(y + i)));
  });
}

void gf256_memswap(void *vx, void *vy, int bytes) {
  uint8_t *x = bytes_of(vx);
  uint8_t *y = bytes_of(vy);
  word_stepped(bytes, [&](int i, auto unit) {
    using W = decltype(unit);
    const W t = load<W>(x + i);
    store<W>(x + i, load<W>(y + i));
    store<W>(y + i, t);
  });
}

void gf256_ref_mul_mem(void *vz, const void *vx, uint8_t y, int bytes) {
  uint8_t *z = bytes_of(vz);
  const uint8_t *x = bytes_of(vx);
  if (bytes <= 0) return;
  if (y == 0) {
    std::memset(z, 0, static_cast<size_t>(bytes));
  } else if (y == 1) {
    if (z != x) std::memcpy(z, x, static_cast<size_t>(bytes));
  } else {
    multiply_stepped<false>(z, x, GF256Ctx.GF256_MUL_TABLE + (y << 8), bytes);
  }
}

void gf256_ref_muladd_mem(void *vz, uint8_t y, const void *vx, int bytes) {
  if (y == 0) return;
  if (y == 1) {
    gf256_ref_add_mem(vz, vx, bytes);
    return;
  }
  multiply_stepped<true>(bytes_of(vz), bytes_of(vx), GF256Ctx.GF256_MUL_TABLE + (y << 8), bytes);
}

// The dispatched forms: the active vector kernel takes a prefix, the
// reference finishes the tail from where the kernel stopped.

void gf256_add_mem(void *vx, const void *vy, int bytes) {
  int done = 0;
  const gf256_kernels *k = gf256_active_kernels();
  if (k != nullptr && bytes >= kVectorMinBytes)
    done = k->add_mem(bytes_of(vx), bytes_of(vy), bytes);
  gf256_ref_add_mem(bytes_of(vx) + done, bytes_of(vy) + done, bytes - done);
}

void gf256_add2_mem(void *vz, const void *vx, const void *vy, int bytes) {
  int done = 0;
  const gf256_kernels *k = gf256_active_kernels();
  if (k != nullptr && bytes >= kVectorMinBytes) {
    done = k->add2_mem(bytes_of(vz), bytes_of(vx), bytes_of(vy), bytes);
  }
  gf256_ref_add2_mem(bytes_of(vz) + done, bytes_of(vx) + done, bytes_of(vy) + done, bytes - done);
}

void gf256_addset_mem(void *vz, const void *vx, const void *vy, int bytes) {
  int done = 0;
  const gf256_kernels *k = gf256_active_kernels();
  if (k != nullptr && bytes >= kVectorMinBytes) {
    done = k->addset_mem(bytes_of(vz), bytes_of(vx), bytes_of(vy), bytes);
  }
  gf256_ref_addset_mem(bytes_of(vz) + done, bytes_of(vx) + done, bytes_of(vy) + done, bytes - done);
}

void gf256_mul_mem(void *vz, const void *vx, uint8_t y, int bytes) {
  int done = 0;
  const gf256_kernels *k = gf256_active_kernels();
  if (k != nullptr && y > 1 && bytes >= kVectorMinBytes) {
    done = k->mul_mem(bytes_of(vz), bytes_of(vx), y, bytes);
  }
  gf256_ref_mul_mem(bytes_of(vz) + done, bytes_of(vx) + done, y, bytes - done);
}

void gf256_muladd_mem(void *vz, uint8_t y, const void *vx, int bytes) {
  if (y == 0) return;
  if (y == 1) {
    gf256_add_mem(vz, vx, bytes);
    return;
  }
  int done = 0;
  const gf256_kernels *k = gf256_active_kernels();
  if (k != nullptr && bytes >= kVectorMinBytes) {
    done = k->muladd_mem(bytes_of(vz), bytes_of(vx), y, bytes);
  }
  gf256_ref_muladd_mem(bytes_of(vz) + done, y, bytes_of(vx) + done, bytes - done);
}

int gf256_dot_prefix(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                     const uint8_t *coeff, int bytes, bool accumulate) {
  const gf256_kernels *k = gf256_active_kernels();
  if (k == nullptr || k->dot_mem == nullptr || bytes < kVectorMinBytes || rows < 1 ||
      rows > kGf256DotRows || count < 1) {
    return 0;
  }
  return k->dot_mem(out, rows, src, count, coeff, bytes, accumulate);
}
