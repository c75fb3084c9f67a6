#include "reed_solomon/rs_engine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "gf/gf_cauchy_solve.h"
#include "gf/gf_tables.h"
#include "zvfec/codec_session.h"

namespace {

constexpr int kBatch = 8;  // rows per pass of the dot product

bool is_gf16(uint16_t m) { return m == 4; }
unsigned field_size(uint16_t m) { return is_gf16(m) ? 15u : 255u; }

// Frees with of_free when it goes out of scope, unless released; a count of 0
// takes nothing.
template <class T>
struct Owned {
  T *p = nullptr;
  explicit Owned(size_t count)
      : p(count != 0 ? static_cast<T *>(of_malloc(count * sizeof(T))) : nullptr) {}
  Owned(const Owned &) = delete;
  Owned &operator=(const Owned &) = delete;
  ~Owned() { of_free(p); }
  T *release() { return std::exchange(p, nullptr); }
};

// Builds the n x k encoding matrix: the Vandermonde rows of the points 0,
// alpha^0, alpha^1, ... times the inverse of its top k x k block, so that the
// top block becomes the identity.
gf *build_matrix(uint16_t m, uint32_t k, uint32_t n) {
  const size_t kk = k, nn = n;
  Owned<gf> matrix(nn * kk), vandermonde(nn * kk);
  if (matrix.p == nullptr || vandermonde.p == nullptr) return nullptr;
  gf *v = vandermonde.p;
  std::memset(v, 0, kk);
  v[0] = 1;
  const unsigned fs = field_size(m);
  for (size_t row = 1; row < nn; ++row) {
    // Reducing the point's exponent first keeps every product within range.
    const unsigned base = static_cast<unsigned>((row - 1) % fs);
    for (size_t col = 0; col < kk; ++col)
      v[row * kk + col] = rs_field_exp(m, static_cast<int>((base * col) % fs));
  }
  if (!rs_invert_vandermonde(m, v, static_cast<int>(k))) return nullptr;
  rs_matrix_multiply(m, v + kk * kk, v, matrix.p + kk * kk, static_cast<int>(n - k),
                     static_cast<int>(k), static_cast<int>(k));
  std::memset(matrix.p, 0, kk * kk);
  for (size_t i = 0; i < kk; ++i) matrix.p[i * kk + i] = 1;
  return matrix.release();
}

// The point of each ESI below 256 in GF(2^8).
constexpr std::array<uint8_t, 256> solve_points() {
  std::array<uint8_t, 256> t{};
  unsigned x = 1;  // alpha^(e - 1)
  for (uint32_t e = 1; e < 256; ++e, x = gf_slow_mul(x, 2, 0x11D, 8))
    t[e] = static_cast<uint8_t>(x);
  return t;
}
constexpr std::array<uint8_t, 256> kSolvePoint = solve_points();
uint8_t solve_point(uint32_t esi) { return kSolvePoint[esi]; }

// The logarithms of the scales 1 / A'(t) of the sources and 1 / A(q) of the
// repair symbols, for the ESIs below 256 of a GF(2^8) code.
uint8_t *build_log_scale(uint32_t k, uint32_t n) {
  const uint32_t count = std::min<uint32_t>(n, 256);
  auto *scale = static_cast<uint8_t *>(of_malloc(count));
  if (scale == nullptr) return nullptr;
  const uint8_t *log = gf_solve_field_11d().log;  // log[0] counts as 0
  for (uint32_t e = 0; e < count; ++e) {
    const unsigned u = solve_point(e);
    unsigned sum = 0;
    for (uint32_t t = 0; t < k; ++t) sum += log[u ^ solve_point(t)];
    scale[e] = static_cast<uint8_t>((255 - sum % 255) % 255);
  }
  return scale;
}

rs_code *new_code(uint16_t m, uint32_t k, uint32_t n) {
  Owned<gf> matrix(0);
  matrix.p = build_matrix(m, k, n);
  Owned<uint8_t> log_scale(0);
  if (!is_gf16(m)) log_scale.p = build_log_scale(k, n);
  auto *code = static_cast<rs_code *>(of_malloc(sizeof(rs_code)));
  if (matrix.p == nullptr || (!is_gf16(m) && log_scale.p == nullptr) || code == nullptr) {
    of_free(code);
    return nullptr;
  }
  code->m = m;
  code->k = k;
  code->n = n;
  code->matrix = matrix.release();
  code->log_scale = log_scale.release();
  new (&code->refs) std::atomic<int>(1);
  return code;
}

void free_code(const rs_code *code) {
  of_free(code->matrix);
  of_free(code->log_scale);
  of_free(const_cast<rs_code *>(code));
}

// The process-wide cache: most recently used first, at most kCacheBytes of
// matrices in at most kCacheEntries codes, none larger than kLargestCached. It
// holds one reference to each code it lists. It is never destroyed, so that
// codes released during the process's exit still find it.
constexpr size_t kCacheBytes = kRsCodeCacheBytes;
constexpr size_t kLargestCached = size_t{256} << 10;
constexpr size_t kCacheEntries = 256;

struct Cache {
  std::mutex mutex;
  rs_code *codes[kCacheEntries] = {};
  size_t count = 0;
  size_t bytes = 0;
};

Cache &cache() {
  alignas(Cache) static unsigned char storage[sizeof(Cache)];
  static Cache *const c = new (storage) Cache;
  return *c;
}

size_t matrix_bytes(const rs_code *code) { return size_t{code->n} * code->k; }

// The products c * x for every element x (a byte; in GF(2^4) either nibble).
const gf *product_row(uint16_t m, gf c) {
  return is_gf16(m) ? of_gf_2_4_opt_mul_table[c & 15].data() : of_gf_2_8_mul_table[c].data();
}

}  // namespace

const gf_mul_const *rs_field_constants(uint16_t m) {
  return is_gf16(m) ? of_gf_2_4_packed_mul_const.data() : of_gf_2_8_mul_const.data();
}

gf rs_field_mul(uint16_t m, gf a, gf b) {
  return is_gf16(m) ? of_gf_2_4_mul_table[a & 15][b & 15] : of_gf_2_8_mul_table[a][b];
}

gf rs_field_inv(uint16_t m, gf a) { return is_gf16(m) ? of_gf_2_4_inv[a & 15] : of_gf_2_8_inv[a]; }

gf rs_field_exp(uint16_t m, int i) {
  return is_gf16(m) ? of_gf_2_4_exp[static_cast<size_t>(i) & 15]
                    : of_gf_2_8_exp[static_cast<size_t>(i) & 255];
}

namespace {

const rs_code *acquire_from_cache(uint16_t m, uint32_t k, uint32_t n) {
  Cache &c = cache();
  {
    const std::lock_guard<std::mutex> lock(c.mutex);
    for (size_t i = 0; i < c.count; ++i) {
      rs_code *code = c.codes[i];
      if (code->m != m || code->k != k || code->n != n) continue;
      code->refs.fetch_add(1, std::memory_order_relaxed);
      // To the front: the least recently used stay at the back.
      std::memmove(c.codes + 1, c.codes, i * sizeof(rs_code *));
      c.codes[0] = code;
      return code;
    }
  }
  // Built outside the lock: another thread may build the same code meanwhile,
  // and then both are valid (one of them may stay cached twice until evicted).
  rs_code *code = new_code(m, k, n);
  if (code == nullptr || matrix_bytes(code) > kLargestCached) return code;
  const std::lock_guard<std::mutex> lock(c.mutex);
  while (c.count > 0 && (c.count == kCacheEntries || c.bytes + matrix_bytes(code) > kCacheBytes)) {
    rs_code *old = c.codes[--c.count];
    c.bytes -= matrix_bytes(old);
    rs_code_release(old);
  }
  code->refs.fetch_add(1, std::memory_order_relaxed);
  std::memmove(c.codes + 1, c.codes, c.count * sizeof(rs_code *));
  c.codes[0] = code;
  ++c.count;
  c.bytes += matrix_bytes(code);
  return code;
}

// The code this thread acquired last, held once more: a session per group
// asks for the same code group after group, and then takes it without the
// cache's lock. Only codes that the cache would keep are held.
struct LastCode {
  const rs_code *code = nullptr;
  LastCode() = default;
  LastCode(const LastCode &) = delete;
  LastCode &operator=(const LastCode &) = delete;
  ~LastCode() { rs_code_release(code); }
};
thread_local LastCode last_code;

}  // namespace

const rs_code *rs_code_acquire(uint16_t m, uint32_t k, uint32_t n) {
  // k distinct evaluation points are needed: the field has 2^m.
  if ((m != 4 && m != 8) || k == 0 || k > (1u << m) || n < k) return nullptr;
  const rs_code *last = last_code.code;
  if (last != nullptr && last->m == m && last->k == k && last->n == n) {
    const_cast<rs_code *>(last)->refs.fetch_add(1, std::memory_order_relaxed);
    return last;
  }
  const rs_code *code = acquire_from_cache(m, k, n);
  if (code != nullptr && matrix_bytes(code) <= kLargestCached) {
    const_cast<rs_code *>(code)->refs.fetch_add(1, std::memory_order_relaxed);
    rs_code_release(last);
    last_code.code = code;
  }
  return code;
}

size_t rs_code_cache_bytes() {
  Cache &c = cache();
  const std::lock_guard<std::mutex> lock(c.mutex);
  return c.bytes;
}

void rs_code_release(const rs_code *code) {
  if (code == nullptr) return;
  auto *mutable_code = const_cast<rs_code *>(code);
  if (mutable_code->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) free_code(code);
}

void rs_code_encode(const rs_code *code, const gf *const *src, const uint32_t *esi, gf *const *out,
                    int rows, size_t len) {
  const uint32_t k = code->k;
  uint8_t coeff[kBatch * kRsMaxSourceSymbols];
  for (int r0 = 0; r0 < rows; r0 += kBatch) {
    const int batch = std::min(kBatch, rows - r0);
    for (int r = 0; r < batch; ++r)
      std::memcpy(coeff + size_t{k} * r, code->matrix + size_t{esi[r0 + r]} * k, k);
    gf_region_dot(out + r0, batch, src, static_cast<int>(k), rs_field_constants(code->m), coeff,
                  len, false);
  }
}

bool rs_invert_matrix(uint16_t m, gf *a, int k) {
  if (k <= 0) return true;
  const size_t kk = static_cast<size_t>(k), width = 2 * kk;
  // Rows of [a | identity]; the row operations turn them into [identity | a^-1].
  // Small systems stay on the stack.
  constexpr size_t kStackBytes = 4096;
  gf stack_work[kStackBytes];
  Owned<gf> heap_work(kk * width <= kStackBytes ? 0 : kk * width);
  gf *w = kk * width <= kStackBytes ? stack_work : heap_work.p;
  if (w == nullptr) return false;
  const gf mask = is_gf16(m) ? 0x0F : 0xFF;
  for (size_t i = 0; i < kk; ++i) {
    // Elements are reduced to the field first, so that the row operations
    // never carry bits outside it.
    for (size_t x = 0; x < kk; ++x) w[i * width + x] = a[i * kk + x] & mask;
    std::memset(w + i * width + kk, 0, kk);
    w[i * width + kk + i] = 1;
  }
  const gf_mul_const *constants = rs_field_constants(m);
  // Rows this short are cheaper element by element than through a kernel.
  const bool by_element = width < 16;
  for (size_t col = 0; col < kk; ++col) {
    size_t pivot = col;
    while (pivot < kk && w[pivot * width + col] == 0) ++pivot;
    if (pivot == kk) return false;
    gf *row = w + col * width;
    if (pivot != col) {
      gf *other = w + pivot * width;
      for (size_t x = 0; x < width; ++x) std::swap(row[x], other[x]);
    }
    // Columns before col are zero in the pivot row by now: element by
    // element, the row operations start at col.
    const gf scale = rs_field_inv(m, row[col]);
    if (scale != 1) {
      if (by_element) {
        const gf *times = product_row(m, scale);
        for (size_t x = col; x < width; ++x) row[x] = times[row[x]];
      } else {
        gf_region_mul(row, row, constants[scale], width);
      }
    }
    if (by_element) {
      for (size_t i = 0; i < kk; ++i) {
        gf *target = w + i * width;
        const gf factor = target[col];
        if (i == col || factor == 0) continue;
        const gf *times = product_row(m, factor);
        for (size_t x = col; x < width; ++x) target[x] ^= times[row[x]];
      }
    } else {
      // Every other row less its multiple of the pivot row: rows with a
      // factor, eight of them per pass over the pivot row.
      const gf *pivot_row = row + col;
      for (size_t i = 0; i < kk;) {
        gf *targets[kBatch];
        uint8_t factors[kBatch];
        int count = 0;
        for (; i < kk && count < kBatch; ++i) {
          gf *target = w + i * width;
          if (i == col || target[col] == 0) continue;
          targets[count] = target + col;
          factors[count++] = target[col];
        }
        if (count > 0)
          gf_region_dot(targets, count, &pivot_row, 1, constants, factors, width - col, true);
      }
    }
  }
  for (size_t i = 0; i < kk; ++i) std::memcpy(a + i * kk, w + i * width + kk, kk);
  return true;
}

bool rs_code_decoding_matrix(const rs_code *code, const int *index, gf *out) {
  const size_t k = code->k;
  for (size_t i = 0; i < k; ++i) {
    gf *row = out + i * k;
    if (index[i] < 0 || static_cast<uint32_t>(index[i]) >= code->n) return false;
    const auto esi = static_cast<size_t>(index[i]);
    if (esi < k) {
      std::memset(row, 0, k);
      row[i] = 1;
    } else {
      std::memcpy(row, code->matrix + esi * k, k);
    }
  }
  return rs_invert_matrix(code->m, out, static_cast<int>(k));
}

bool rs_invert_vandermonde(uint16_t m, gf *a, int k) {
  if (k <= 1) return true;
  const size_t kk = static_cast<size_t>(k);
  Owned<gf> c(kk), b(kk), p(kk);
  if (c.p == nullptr || b.p == nullptr || p.p == nullptr) return false;
  for (size_t i = 0; i < kk; ++i) {
    c.p[i] = 0;
    p.p[i] = a[i * kk + 1];
  }
  // Coefficients of P(x) = prod (x + p_i), the highest power implicit.
  c.p[kk - 1] = p.p[0];
  for (size_t i = 1; i < kk; ++i) {
    for (size_t j = kk - i; j + 1 < kk; ++j) c.p[j] ^= rs_field_mul(m, p.p[i], c.p[j + 1]);
    c.p[kk - 1] ^= p.p[i];
  }
  for (size_t row = 0; row < kk; ++row) {
    const gf x = p.p[row];
    gf t = 1;
    b.p[kk - 1] = 1;
    for (size_t i = kk - 1; i-- > 0;) {
      b.p[i] = c.p[i + 1] ^ rs_field_mul(m, x, b.p[i + 1]);
      t = rs_field_mul(m, x, t) ^ b.p[i];
    }
    const gf scale = rs_field_inv(m, t);
    for (size_t col = 0; col < kk; ++col) a[col * kk + row] = rs_field_mul(m, scale, b.p[col]);
  }
  return true;
}

void rs_matrix_multiply(uint16_t m, const gf *a, const gf *b, gf *c, int n, int k, int cols) {
  if (n <= 0 || cols <= 0) return;
  constexpr int kRowsPerCall = 64;
  const gf *rows_of_b[kRsMaxSourceSymbols];
  uint8_t coeff[kRowsPerCall * kRsMaxSourceSymbols];
  gf *out[kRowsPerCall];
  const gf mask = is_gf16(m) ? 0x0F : 0xFF;
  // k is at most the largest number of source symbols wherever this is used;
  // longer products go through in slices of the inner dimension.
  for (int j0 = 0; j0 < k; j0 += static_cast<int>(kRsMaxSourceSymbols)) {
    const int inner = std::min(k - j0, static_cast<int>(kRsMaxSourceSymbols));
    for (int j = 0; j < inner; ++j) rows_of_b[j] = b + size_t(j0 + j) * size_t(cols);
    for (int r0 = 0; r0 < n; r0 += kRowsPerCall) {
      const int rows = std::min(kRowsPerCall, n - r0);
      for (int r = 0; r < rows; ++r) {
        out[r] = c + size_t(r0 + r) * size_t(cols);
        for (int j = 0; j < inner; ++j)
          coeff[r * inner + j] = a[size_t(r0 + r) * size_t(k) + size_t(j0 + j)] & mask;
      }
      gf_region_dot(out, rows, rows_of_b, inner, rs_field_constants(m), coeff,
                    static_cast<size_t>(cols), j0 > 0);
    }
  }
  if (k <= 0) {
    for (int r = 0; r < n; ++r) std::memset(c + size_t(r) * size_t(cols), 0, size_t(cols));
  }
  // Packed GF(2^4) products keep the two nibbles apart: dropping the high one
  // leaves exactly the products of the elements (bits outside the field in b
  // never reach the low nibble).
  if (is_gf16(m)) {
    for (size_t i = 0; i < size_t(n) * size_t(cols); ++i) c[i] &= 0x0F;
  }
}

namespace {

// Whether a decode can take the closed form: a GF(2^8) code, every repair ESI
// below 256 (where each has a point of its own).
bool closed_form_serves(const rs_code *code, uint32_t largest_repair_esi) {
  return code->log_scale != nullptr && largest_repair_esi < 256;
}

// The e x k coefficients in closed form that rebuild the missing sources (in
// ascending order) over the e repair symbols and then the received sources
// (src[i] != null) in ascending order; false when a repair ESI repeats.
bool closed_form(const rs_code *code, int e, const uint32_t *repair_esi, const gf *const *src,
                 gf *coeff) {
  const uint32_t k = code->k;
  // The repair points, the received source points, the missing ones.
  uint8_t point[256], offset[256];
  uint64_t seen[4] = {};
  for (int a = 0; a < e; ++a) {
    const uint32_t esi = repair_esi[a];
    const uint64_t bit = uint64_t{1} << (esi & 63);
    // A repair symbol given twice leaves the system short of an equation.
    if ((seen[esi >> 6] & bit) != 0) return false;
    seen[esi >> 6] |= bit;
    point[a] = solve_point(esi);
    offset[a] = code->log_scale[esi];
  }
  uint32_t received = static_cast<uint32_t>(e), missing = k;
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t at = src[i] != nullptr ? received++ : missing++;
    point[at] = solve_point(i);
    offset[at] = code->log_scale[i];
  }
  gf_cauchy_solve solve;
  solve.prepare(gf_solve_field_11d(), e, static_cast<int>(k) - e, point, offset);
  solve.coefficients(0, 0, e, coeff);
  return true;
}

}  // namespace

rs_decode_plan::~rs_decode_plan() {
  if (inverse_ != small_inverse_) of_free(inverse_);
  if (coeff_ != small_coeff_) of_free(coeff_);
  of_free(work_);
}

rs_decode_plan::result rs_decode_plan::prepare(const rs_code *code, const gf *const *src,
                                               const uint32_t *repair_esi, const gf *const *repair,
                                               int offered, size_t len) {
  code_ = code;
  len_ = len;
  const uint32_t k = code->k;
  int e = 0;
  for (uint32_t i = 0; i < k; ++i) {
    if (src[i] == nullptr) missing_[e++] = i;
  }
  e_ = e;
  if (e == 0) return kOk;
  if (offered < e) return kTooFew;
  const size_t ee = static_cast<size_t>(e);
  for (int a = 0; a < e; ++a) repair_[a] = repair[a];
  if (closed_form_serves(code, *std::max_element(repair_esi, repair_esi + e))) {
    coeff_ = e <= kBatch ? small_coeff_ : static_cast<gf *>(of_malloc(ee * k));
    if (e > kBatch) work_ = static_cast<gf *>(of_malloc(len != 0 ? (ee - kBatch) * len : 1));
    if (coeff_ == nullptr || (e > kBatch && work_ == nullptr)) return kNoMemory;
    return closed_form(code, e, repair_esi, src, coeff_) ? kOk : kSingular;
  }
  inverse_ = e <= kSmall ? small_inverse_ : static_cast<gf *>(of_malloc(ee * ee));
  // Large systems take the coefficients and the scratch area in one block.
  coeff_ = e <= kBatch ? small_coeff_ : static_cast<gf *>(of_malloc(2 * ee * k));
  if (e > kBatch) work_ = static_cast<gf *>(of_malloc(len != 0 ? (ee - kBatch) * len : 1));
  if (inverse_ == nullptr || coeff_ == nullptr || (e > kBatch && work_ == nullptr))
    return kNoMemory;
  const gf *repair_rows[kRsMaxSourceSymbols];
  for (size_t a = 0; a < ee; ++a) {
    // Row a of the system: the coefficients of the missing sources in repair
    // symbol a.
    repair_rows[a] = code->matrix + size_t{repair_esi[a]} * k;
    for (size_t b = 0; b < ee; ++b) inverse_[a * ee + b] = repair_rows[a][missing_[b]];
  }
  if (!rs_invert_matrix(code->m, inverse_, e)) return kSingular;
  // Missing source b is row b of the inverse over the repair symbols less the
  // received sources' share in them: over received source j, row b of the
  // inverse times the repair rows' column j, computed from the repair rows'
  // received columns gathered side by side and written behind the inverse's
  // row.
  const size_t received_count = k - ee;
  uint32_t received[kRsMaxSourceSymbols];
  for (uint32_t i = 0, at = 0; i < k; ++i)
    if (src[i] != nullptr) received[at++] = i;
  gf *scratch = e <= kBatch ? small_scratch_ : coeff_ + ee * k;
  const gf *columns[kRsMaxSourceSymbols];
  gf *folded[kRsMaxSourceSymbols];
  for (size_t a = 0; a < ee; ++a) {
    gf *c = scratch + a * received_count;
    for (size_t j = 0; j < received_count; ++j) c[j] = repair_rows[a][received[j]];
    columns[a] = c;
    folded[a] = coeff_ + a * k + ee;
  }
  gf_region_dot(folded, e, columns, e, rs_field_constants(code->m), inverse_, received_count,
                false);
  for (size_t b = 0; b < ee; ++b) std::memcpy(coeff_ + b * k, inverse_ + b * ee, ee);
  return kOk;
}

void rs_decode_plan::run(const gf *const *src, gf *const *out) {
  if (e_ == 0) return;
  const uint32_t k = code_->k;
  // The k symbols used, in the order of the coefficients' columns.
  const gf *sources[kRsMaxSourceSymbols];
  int count = 0;
  for (int a = 0; a < e_; ++a) sources[count++] = repair_[a];
  for (uint32_t i = 0; i < k; ++i) {
    if (src[i] != nullptr) sources[count++] = src[i];
  }
  // The missing sources asked for, as indices into missing_.
  uint32_t which[kRsMaxSourceSymbols];
  int targets = 0;
  for (int b = 0; b < e_; ++b) {
    if (out[missing_[b]] != nullptr) which[targets++] = static_cast<uint32_t>(b);
  }
  auto target = [&](int t) { return out[missing_[which[t]]]; };
  // An output may be one of the inputs: the last pass (of up to eight) writes
  // the outputs themselves, having read every input; the passes before it
  // write into the work area, copied out at the end.
  const int direct_from = std::max(0, targets - kBatch);
  uint8_t coeff[kBatch * kRsMaxSourceSymbols];
  gf *rows[kBatch];
  for (int t0 = 0; t0 < targets;) {
    const int end = t0 < direct_from ? std::min(direct_from, t0 + kBatch) : targets;
    // The plan's rows serve as they stand when no output between them is
    // skipped.
    const bool in_order = which[end - 1] - which[t0] == static_cast<uint32_t>(end - 1 - t0);
    for (int t = t0; t < end; ++t) {
      rows[t - t0] = t < direct_from ? work_ + size_t(t) * len_ : target(t);
      if (!in_order) std::memcpy(coeff + size_t(t - t0) * k, coeff_ + size_t{which[t]} * k, k);
    }
    gf_region_dot(rows, end - t0, sources, count, rs_field_constants(code_->m),
                  in_order ? coeff_ + size_t{which[t0]} * k : coeff, len_, false);
    t0 = end;
  }
  for (int t = 0; t < direct_from; ++t) {
    if (len_ != 0) std::memcpy(target(t), work_ + size_t(t) * len_, len_);
  }
}

int rs_shuffle(gf **pkt, int *index, int k) {
  for (int i = 0; i < k;) {
    const int c = index[i];
    if (c >= 0 && c < k && c != i) {
      if (index[c] == c) return 1;
      index[i] = index[c];
      index[c] = c;
      std::swap(pkt[i], pkt[c]);
    } else {
      ++i;
    }
  }
  return 0;
}

int rs_decode_in_place(const rs_code *code, gf **pkt, int *index, size_t len) {
  const int k = static_cast<int>(code->k);
  if (rs_shuffle(pkt, index, k) != 0) return kRsDuplicate;
  // After the shuffle, a position holds its own source symbol or a repair
  // symbol, whose buffer receives the missing source of that position. The
  // symbols at hand are listed repair symbols first, then received sources.
  const gf *src[kRsMaxSourceSymbols];
  gf *repair[kRsMaxSourceSymbols], *received[kRsMaxSourceSymbols];
  uint32_t repair_esi[kRsMaxSourceSymbols];
  int offered = 0, count = 0;
  uint32_t largest_esi = 0;
  for (int i = 0; i < k; ++i) {
    const int esi = index[i];
    if (esi < 0 || static_cast<uint32_t>(esi) >= code->n) return kRsBadIndex;
    if (esi == i) {
      src[i] = pkt[i];
      received[count++] = pkt[i];
    } else {
      src[i] = nullptr;
      repair[offered] = pkt[i];
      repair_esi[offered++] = static_cast<uint32_t>(esi);
      largest_esi = std::max(largest_esi, static_cast<uint32_t>(esi));
    }
  }
  if (offered == 0) return 0;
  // Up to a pass of losses in closed form: one pass over the symbols at hand,
  // which reads each column of them before it writes the missing sources over
  // the repair symbols.
  if (offered <= kGfDotRows && closed_form_serves(code, largest_esi)) {
    gf coeff[kGfDotRows * kRsMaxSourceSymbols];
    if (!closed_form(code, offered, repair_esi, src, coeff)) return rs_decode_plan::kSingular;
    std::memcpy(repair + offered, received, static_cast<size_t>(count) * sizeof(gf *));
    gf_region_dot(repair, offered, repair, k, rs_field_constants(code->m), coeff, len, false);
    return 0;
  }
  rs_decode_plan plan;
  const rs_decode_plan::result r = plan.prepare(code, src, repair_esi, repair, offered, len);
  if (r != rs_decode_plan::kOk) return r;
  // Each missing source lands in the buffer at its own position, which held
  // a repair symbol that the plan has read before writing anything.
  plan.run(src, pkt);
  return 0;
}

namespace {

// One spare buffer per thread for the repair symbols that sessions compute
// ahead: a buffer given up by a released session serves the next one. Only
// memory changes hands, never content.
struct SpareBuffer {
  gf *buffer = nullptr;
  size_t bytes = 0;
  SpareBuffer() = default;
  SpareBuffer(const SpareBuffer &) = delete;
  SpareBuffer &operator=(const SpareBuffer &) = delete;
  ~SpareBuffer() { of_free(buffer); }
};
thread_local SpareBuffer spare;

gf *take_buffer(size_t bytes) {
  if (spare.buffer != nullptr && spare.bytes >= bytes) {
    spare.bytes = 0;
    return std::exchange(spare.buffer, nullptr);
  }
  return static_cast<gf *>(of_malloc(bytes));
}

void give_back(gf *buffer, size_t bytes) {
  if (buffer == nullptr) return;
  if (bytes > spare.bytes) {
    of_free(spare.buffer);
    spare.buffer = buffer;
    spare.bytes = bytes;
  } else {
    of_free(buffer);
  }
}

}  // namespace

void rs_build_repair(const rs_code *code, rs_repair_ahead *ahead, const gf *const *src,
                     uint32_t esi, gf *out, size_t len) {
  if (esi >= ahead->first_esi && esi - ahead->first_esi < ahead->count) {
    if (len != 0) std::memcpy(out, ahead->buffer + size_t{esi - ahead->first_esi} * len, len);
    return;
  }
  const uint32_t more = std::min<uint32_t>(kBatch - 1, code->n - esi - 1);
  if (more > 0 && ahead->buffer == nullptr) {
    // Room for as many as can ever be held at once.
    const uint32_t room = std::min<uint32_t>(kBatch - 1, code->n - code->k - 1);
    const size_t bytes = len != 0 ? room * len : 1;
    ahead->buffer = take_buffer(bytes);
    ahead->bytes = ahead->buffer != nullptr ? bytes : 0;
  }
  // Without room to hold others, this symbol alone.
  const uint32_t held = ahead->buffer != nullptr ? more : 0;
  uint32_t esis[kBatch];
  gf *outs[kBatch];
  esis[0] = esi;
  outs[0] = out;
  for (uint32_t r = 1; r <= held; ++r) {
    esis[r] = esi + r;
    outs[r] = ahead->buffer + size_t{r - 1} * len;
  }
  rs_code_encode(code, src, esis, outs, static_cast<int>(held + 1), len);
  ahead->first_esi = esi + 1;
  ahead->count = held;
}

void rs_repair_ahead_release(rs_repair_ahead *ahead) {
  give_back(ahead->buffer, ahead->bytes);
  *ahead = {};
}
