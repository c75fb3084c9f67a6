// The engine under both Reed-Solomon codecs: the systematic code over GF(2^m)
// (m = 4 or 8) built from a Vandermonde matrix, its encoding matrices shared
// process-wide, and encoding and decoding on the region arithmetic of src/gf.
//
// Symbol data: GF(2^8) one element per byte; GF(2^4) two elements per byte
// (both nibbles are multiplied by the same coefficient). Matrices hold one
// element per byte, row-major.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "gf/gf.h"
#include "gf/gf_region.h"

// One code: its n x k encoding matrix, rows 0 .. k-1 the identity, row e >= k
// the coefficients of repair symbol e over the k source symbols (rows repeat
// once n exceeds the field's 2^m points). Immutable and shared; held through
// rs_code_acquire / rs_code_release.
//
// The code's symbol with ESI e is the value at point P(e) (0 for e = 0, else
// alpha^(e - 1)) of the polynomial of degree below k through the sources, so
// that in GF(2^8), while the points are distinct (ESIs below 256), a repair
// symbol is a Cauchy row over the sources, scaled by point: repair symbol at
// q is A(q) * sum over the source points t of S_t / ((q + t) * A'(t)), with
// A(x) the product of (x + t) over the source points and A'(t) the same
// without the factor that vanishes at t. Such codes keep, for each ESI below
// 256, the logarithm of the scale that the closed-form solve takes: -log A'(t)
// for a source, -log A(q) for a repair symbol.
struct rs_code {
  uint16_t m;
  uint32_t k, n;
  gf *matrix;
  uint8_t *log_scale;  // min(n, 256) entries in GF(2^8), else null
  std::atomic<int> refs;
};

// Largest k: the encoding matrices of every caller fit 256 columns.
inline constexpr uint32_t kRsMaxSourceSymbols = 256;

// The code for (m, k, n), built once and kept in a process-wide cache that is
// bounded in memory (large codes and the least recently used ones are not
// kept, but stay valid while held). Safe from any thread. Null when m is not 4
// or 8, k is 0 or above 2^m (the field's points), n < k, or memory is short.
const rs_code *rs_code_acquire(uint16_t m, uint32_t k, uint32_t n);

// Drops one hold; null is ignored.
void rs_code_release(const rs_code *code);

// The bytes of matrix that the cache keeps, at most kRsCodeCacheBytes.
inline constexpr size_t kRsCodeCacheBytes = size_t{4} << 20;
size_t rs_code_cache_bytes();

// The region-arithmetic constants of the field, indexed by element.
const gf_mul_const *rs_field_constants(uint16_t m);

// Field element arithmetic for matrices (one element per byte, reduced to the
// field first).
gf rs_field_mul(uint16_t m, gf a, gf b);
gf rs_field_inv(uint16_t m, gf a);
gf rs_field_exp(uint16_t m, int i);

// Writes the symbols with ESIs esi[0 .. rows) (each below n) into out[...],
// len bytes each, from the k source symbols src[0 .. k): up to eight rows per
// pass over the sources.
void rs_code_encode(const rs_code *code, const gf *const *src, const uint32_t *esi, gf *const *out,
                    int rows, size_t len);

// Inverts the k x k matrix a in place, Gauss-Jordan with row pivoting on the
// region arithmetic. Returns false, the content then unspecified, when it is
// singular or memory is short.
bool rs_invert_matrix(uint16_t m, gf *a, int k);

// Writes into out (k x k) the inverse of the matrix whose row i encodes the
// symbol with ESI index[i], the symbols sitting as rs_shuffle leaves them: a
// source ESI is taken to be in its own place (row i of the identity), a
// repair ESI gives its encoding row. Returns false for an ESI outside
// 0 .. n-1, a singular matrix, or short memory.
bool rs_code_decoding_matrix(const rs_code *code, const int *index, gf *out);

// Inverts in place a k x k Vandermonde matrix whose row i is
// (1, p_i, p_i^2, ...) with distinct p_i; only column 1 is read. Returns
// false, the matrix unchanged, when memory is short.
bool rs_invert_vandermonde(uint16_t m, gf *a, int k);

// c (n x cols) = a (n x k) * b (k x cols): each row of c one dot product over
// the rows of b. c overlaps neither a nor b.
void rs_matrix_multiply(uint16_t m, const gf *a, const gf *b, gf *c, int n, int k, int cols);

// Rebuilding the missing source symbols, in two steps so that a caller can
// refuse before it hands out any buffer.
//
// prepare: src[0 .. k) holds the received source symbols (null where
// missing); the e missing ones are rebuilt from the first e of the `offered`
// repair symbols repair[i] with ESIs repair_esi[i]. It computes, for each
// missing source, the coefficients of one sum of products over the k symbols
// used, and takes its working memory: in closed form in GF(2^8) while the
// repair ESIs are below 256, else by inverting the e x e system and folding
// the received sources' share into the solution. run then writes each missing
// source symbol i into out[i] (k entries; null entries are skipped), eight per
// pass over the k symbols. Buffers may be shared with the inputs: every input
// is read before any output is written.
class rs_decode_plan {
 public:
  enum result { kOk = 0, kTooFew = -1, kSingular = -2, kNoMemory = -3 };
  rs_decode_plan() = default;
  rs_decode_plan(const rs_decode_plan &) = delete;
  rs_decode_plan &operator=(const rs_decode_plan &) = delete;
  ~rs_decode_plan();

  result prepare(const rs_code *code, const gf *const *src, const uint32_t *repair_esi,
                 const gf *const *repair, int offered, size_t len);
  void run(const gf *const *src, gf *const *out);

 private:
  static constexpr int kSmall = 32;  // systems up to this size need no heap
  static constexpr int kBatch = 8;   // outputs per pass; more need a work area
  const rs_code *code_ = nullptr;
  size_t len_ = 0;
  int e_ = 0;
  uint32_t missing_[kRsMaxSourceSymbols];  // e missing source ESIs, ascending
  const gf *repair_[kRsMaxSourceSymbols];  // e repair symbols used
  gf small_inverse_[kSmall * kSmall];
  gf *inverse_ = nullptr;  // e x e: small_inverse_ or from the heap
  // e x k: row b rebuilds missing source b, column a < e over repair symbol
  // a, column e + j over the j-th received source.
  gf small_coeff_[kBatch * kRsMaxSourceSymbols];
  gf small_scratch_[kBatch * kRsMaxSourceSymbols];
  gf *coeff_ = nullptr;  // small_coeff_, or from the heap with the scratch area
  gf *work_ = nullptr;   // e - 8 symbols of len bytes where e > 8
};

// Decodes in place: pkt[0 .. k) are writable buffers of len bytes holding the
// symbols with ESIs index[0 .. k). Received source symbols are first moved to
// their own positions (buffers and ESIs together); afterwards pkt[i] holds
// source symbol i. Returns 0, kRsDuplicate for a source ESI given twice,
// kRsBadIndex for an ESI outside 0 .. n-1, or rs_decode_plan's kSingular or
// kNoMemory. On failure no buffer is changed (only their order in pkt may be).
enum { kRsDuplicate = -4, kRsBadIndex = -5 };
int rs_decode_in_place(const rs_code *code, gf **pkt, int *index, size_t len);

// Moves every received source symbol c (index[i] = c < k) to position c, the
// buffers and ESIs together. Returns 1 when two entries claim one source ESI,
// else 0; negative ESIs stay where they are.
int rs_shuffle(gf **pkt, int *index, int k);

// Repair symbols computed ahead by a session: when one is asked for, the next
// ones in ESI order come from the same pass over the source symbols and wait
// here, in the session's own memory, until they are asked for.
struct rs_repair_ahead {
  gf *buffer;          // up to 7 symbols of the session's length
  size_t bytes;        // the buffer's size
  uint32_t first_esi;  // ESIs first_esi .. first_esi + count - 1 are held
  uint32_t count;
};

// Writes repair symbol esi (k <= esi < n) of code into out (len bytes), from
// what is held or by computing it together with up to seven that follow (kept
// in ahead; without memory for them, it alone). The source symbols must not
// change between the builds of one session.
void rs_build_repair(const rs_code *code, rs_repair_ahead *ahead, const gf *const *src,
                     uint32_t esi, gf *out, size_t len);

// Gives up what ahead holds and forgets it. The buffer is kept for the next
// session that this thread runs, so that a session per group does not go to
// the allocator for it each time.
void rs_repair_ahead_release(rs_repair_ahead *ahead);
