#include "reed_solomon/galois_field.h"

#include <cstddef>

#include "gf/gf_tables.h"
#include "reed_solomon/gf_kernels.h"
#include "reed_solomon/gf_simd.h"
#include "zvfec/codec_session.h"

namespace {

struct field_2_8 {
  static constexpr unsigned mask = 0xFF;
  static const gf *row(gf c) { return of_gf_2_8_mul_table[c].data(); }
  static gf inv(gf x) { return of_gf_2_8_inv[x]; }
  static void *alloc(size_t size) { return of_malloc(size); }
  static void release(void *p) { of_free(p); }
};

struct field_2_4 {
  static constexpr unsigned mask = 0x0F;
  static const gf *row(gf c) { return of_gf_2_4_mul_table[c & mask].data(); }
  static gf inv(gf x) { return of_gf_2_4_inv[x & mask]; }
  static void *alloc(size_t size) { return of_malloc(size); }
  static void release(void *p) { of_free(p); }
};

}  // namespace

void of_galois_field_2_8_addmul1(gf *dst1, gf *src1, gf c, int sz) {
  gf_addmul_linear_row(dst1, src1, of_gf_2_8_mul_table[c].data(), sz);
}

void of_galois_field_2_4_addmul1(gf *dst1, gf *src1, gf c, int sz) {
  gf_addmul_row<0x0F>(dst1, src1, field_2_4::row(c), sz);
}

void of_galois_field_2_4_addmul1_compact(gf *dst1, gf *src1, gf c, int sz) {
  const gf *packed = of_gf_2_4_opt_mul_table[c & 0x0F].data();
  const int whole = sz > 0 ? sz - sz % 16 : 0;
  gf_addmul_linear_row(dst1, src1, packed, whole);
  // The tail multiplies the two nibbles of each byte separately.
  const gf *row = field_2_4::row(c);
  for (int i = whole; i < sz; ++i)
    dst1[i] ^= static_cast<gf>(row[src1[i] >> 4] << 4 | row[src1[i] & 0x0F]);
}

void of_galois_field_2_8_matmul(gf *a, gf *b, gf *c, int n, int k, int m) {
  gf_matmul<field_2_8>(a, b, c, n, k, m);
}

void of_galois_field_2_4_matmul(gf *a, gf *b, gf *c, int n, int k, int m) {
  gf_matmul<field_2_4>(a, b, c, n, k, m);
}

int of_galois_field_2_8_invert_mat(of_galois_field_code_cb_t *, gf *src, int k) {
  return gf_invert_mat<field_2_8>(src, k);
}

int of_galois_field_2_4_invert_mat(of_galois_field_code_cb_t *, gf *src, int k) {
  return gf_invert_mat<field_2_4>(src, k);
}

int of_galois_field_2_8_invert_vdm(of_galois_field_code_cb_t *, gf *src, int k) {
  return gf_invert_vdm<field_2_8>(src, k);
}

int of_galois_field_2_4_invert_vdm(of_galois_field_code_cb_t *, gf *src, int k) {
  return gf_invert_vdm<field_2_4>(src, k);
}
