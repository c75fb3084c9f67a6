#include "reed_solomon/galois_field.h"

#include "gf/gf_tables.h"
#include "reed_solomon/rs_engine.h"

namespace {

constexpr uint16_t kGf256 = 8;
constexpr uint16_t kGf16 = 4;

size_t bytes(int sz) { return sz > 0 ? static_cast<size_t>(sz) : 0; }

}  // namespace

void of_galois_field_2_8_addmul1(gf *dst1, gf *src1, gf c, int sz) {
  gf_region_muladd(dst1, src1, of_gf_2_8_mul_const[c], bytes(sz));
}

void of_galois_field_2_4_addmul1(gf *dst1, gf *src1, gf c, int sz) {
  // One element per byte (below 16): the packed product of such a byte is
  // the element's product.
  gf_region_muladd(dst1, src1, of_gf_2_4_packed_mul_const[c & 0x0F], bytes(sz));
}

void of_galois_field_2_4_addmul1_compact(gf *dst1, gf *src1, gf c, int sz) {
  gf_region_muladd(dst1, src1, of_gf_2_4_packed_mul_const[c & 0x0F], bytes(sz));
}

void of_galois_field_2_8_matmul(gf *a, gf *b, gf *c, int n, int k, int m) {
  rs_matrix_multiply(kGf256, a, b, c, n, k, m);
}

void of_galois_field_2_4_matmul(gf *a, gf *b, gf *c, int n, int k, int m) {
  rs_matrix_multiply(kGf16, a, b, c, n, k, m);
}

int of_galois_field_2_8_invert_mat(of_galois_field_code_cb_t *, gf *src, int k) {
  return rs_invert_matrix(kGf256, src, k) ? 0 : 1;
}

int of_galois_field_2_4_invert_mat(of_galois_field_code_cb_t *, gf *src, int k) {
  return rs_invert_matrix(kGf16, src, k) ? 0 : 1;
}

int of_galois_field_2_8_invert_vdm(of_galois_field_code_cb_t *, gf *src, int k) {
  return rs_invert_vandermonde(kGf256, src, k) ? 0 : 1;
}

int of_galois_field_2_4_invert_vdm(of_galois_field_code_cb_t *, gf *src, int k) {
  return rs_invert_vandermonde(kGf16, src, k) ? 0 : 1;
}
