// The region operations on the active kernel set.
#include "gf/gf_region.h"

#include <algorithm>
#include <cstring>

#include "gf/gf_kernels.h"

void gf_region_xor(uint8_t *dst, const uint8_t *src, size_t bytes) {
  gf_active_kernels().xor_sum(dst, &src, 1, bytes, true);
}

void gf_region_xor_sum(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes,
                       bool accumulate) {
  if (count <= 0) {
    if (!accumulate) std::memset(dst, 0, bytes);
    return;
  }
  gf_active_kernels().xor_sum(dst, src, count, bytes, accumulate);
}

void gf_region_mul(uint8_t *dst, const uint8_t *src, const gf_mul_const &c, size_t bytes) {
  gf_active_kernels().mul(dst, src, &c, bytes, false);
}

void gf_region_muladd(uint8_t *dst, const uint8_t *src, const gf_mul_const &c, size_t bytes) {
  gf_active_kernels().mul(dst, src, &c, bytes, true);
}

void gf_region_dot(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
                   const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool accumulate) {
  if (count <= 0) {
    for (int r = 0; r < rows && !accumulate; ++r) std::memset(out[r], 0, bytes);
    return;
  }
  const gf_kernel_set &k = gf_active_kernels();
  for (int r0 = 0; r0 < rows; r0 += kGfDotRows) {
    const int batch = rows - r0 < kGfDotRows ? rows - r0 : kGfDotRows;
    k.dot(out + r0, batch, src, count, field, coeff + static_cast<size_t>(r0) * count, bytes,
          accumulate);
  }
}

bool gf_region_dot_ragged(uint8_t *const *out, int rows, const uint8_t *const *src,
                          const size_t *lengths, int count, const gf_mul_const *field,
                          const uint8_t *coeff, size_t bytes, bool accumulate) {
  constexpr int kMaxSources = 256;
  if (rows < 0 || rows > kGfDotRows || count < 0 || count > kMaxSources) return false;
  if (std::all_of(lengths, lengths + count, [&](size_t n) { return n >= bytes; })) {
    gf_region_dot(out, rows, src, count, field, coeff, bytes, accumulate);
    return true;
  }
  // Sources by length, longest first: the bytes below a threshold t are the
  // sum over the sources at least t long, a prefix of this order.
  int order[kMaxSources];
  for (int j = 0; j < count; ++j) order[j] = j;
  auto length_of = [&](int j) { return std::min(lengths[j], bytes); };
  std::sort(order, order + count, [&](int a, int b) { return length_of(a) > length_of(b); });
  const uint8_t *seg_src[kMaxSources];
  uint8_t seg_coeff[kGfDotRows * kMaxSources];
  uint8_t *seg_out[kGfDotRows];
  // Segments [start, end) in ascending order: the first `covering` sources of
  // the order reach past start, and end is where the shortest of them stops.
  size_t start = 0;
  int covering = count;
  while (start < bytes) {
    while (covering > 0 && length_of(order[covering - 1]) <= start) --covering;
    const size_t end = covering > 0 ? length_of(order[covering - 1]) : bytes;
    for (int r = 0; r < rows; ++r) seg_out[r] = out[r] + start;
    for (int j = 0; j < covering; ++j) {
      seg_src[j] = src[order[j]] + start;
      for (int r = 0; r < rows; ++r) seg_coeff[r * covering + j] = coeff[r * count + order[j]];
    }
    if (covering > 0 || !accumulate)
      gf_region_dot(seg_out, rows, seg_src, covering, field, seg_coeff, end - start, accumulate);
    start = end;
  }
  return true;
}
