#include "reed_solomon/rs_classic.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gf/gf_tables.h"

const char *const of_rs_allPp[17] = {
    nullptr,
    nullptr,
    "111",
    "1101",
    "11001",
    "101001",
    "1100001",
    "10010001",
    "101110001",
    "1000100001",
    "10010000001",
    "101000000001",
    "1100101000001",
    "11011000000001",
    "110000100010001",
    "1100000000000001",
    "11010000000010001",
};

namespace {

constexpr uint16_t kBits = 8;
constexpr int kFieldSize = 255;
constexpr unsigned kMaxSymbols = 256;

fec_parms *coder(void *code_vp) { return static_cast<fec_parms *>(code_vp); }

}  // namespace

gf of_modnn(int x) {
  while (x >= kFieldSize) {
    x -= kFieldSize;
    x = (x >> kBits) + (x & kFieldSize);
  }
  return static_cast<gf>(x);
}

void of_rs_init(void) {}

void *of_my_malloc(int size, const char *label) {
  (void)label;  // names the allocation for a reader of the code; never printed
  return size > 0 ? std::malloc(static_cast<size_t>(size)) : std::malloc(1);
}

void of_addmul1(gf *dst1, gf *src1, gf c, int sz) {
  gf_region_muladd(dst1, src1, of_gf_2_8_mul_const[c], sz > 0 ? static_cast<size_t>(sz) : 0);
}

void of_matmul(gf *a, gf *b, gf *c, int n, int k, int m) {
  rs_matrix_multiply(kBits, a, b, c, n, k, m);
}

int of_invert_mat(gf *src, int k) { return rs_invert_matrix(kBits, src, k) ? 0 : 1; }

int of_invert_vdm(gf *src, int k) { return rs_invert_vandermonde(kBits, src, k) ? 0 : 1; }

int of_shuffle(gf **pkt, int *index, int k) { return rs_shuffle(pkt, index, k); }

void *of_rs_new(unsigned int k, unsigned int n) {
  if (k > kMaxSymbols || n > kMaxSymbols || k > n || k == 0) return nullptr;
  auto *code = static_cast<fec_parms *>(of_my_malloc(sizeof(fec_parms), "new_code"));
  if (code == nullptr) return nullptr;
  code->code = rs_code_acquire(kBits, k, n);
  if (code->code == nullptr) {
    std::free(code);
    return nullptr;
  }
  code->k = static_cast<int>(k);
  code->n = static_cast<int>(n);
  code->enc_matrix = code->code->matrix;
  code->magic =
      0xFECC0DECu ^ k ^ n ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code->enc_matrix));
  return code;
}

void of_rs_free(void *p_vp) {
  if (p_vp == nullptr) return;
  rs_code_release(coder(p_vp)->code);
  std::free(p_vp);
}

of_status_t of_rs_encode(void *code_vp, void **src_vp, void *fec_vp, int index, int sz) {
  const fec_parms *code = coder(code_vp);
  if (index < 0 || index >= code->n) return OF_STATUS_ERROR;
  for (int i = 0; i < code->k; ++i)
    if (src_vp[i] == nullptr) return OF_STATUS_ERROR;
  const auto esi = static_cast<uint32_t>(index);
  gf *out = static_cast<gf *>(fec_vp);
  rs_code_encode(code->code, reinterpret_cast<const gf *const *>(src_vp), &esi, &out, 1,
                 sz > 0 ? static_cast<size_t>(sz) : 0);
  return OF_STATUS_OK;
}

gf *of_build_decode_matrix(fec_parms *code, gf **pkt, int *index) {
  (void)pkt;
  const int k = code->k;
  auto *matrix = static_cast<gf *>(of_my_malloc(k * k, "dec matrix"));
  if (matrix == nullptr) return nullptr;
  if (!rs_code_decoding_matrix(code->code, index, matrix)) {
    std::free(matrix);
    return nullptr;
  }
  return matrix;
}

of_status_t of_rs_decode(void *code_vp, void **pkt_vp, int *index, int sz) {
  const fec_parms *code = coder(code_vp);
  const int rc = rs_decode_in_place(code->code, reinterpret_cast<gf **>(pkt_vp), index,
                                    sz > 0 ? static_cast<size_t>(sz) : 0);
  return rc == 0 ? OF_STATUS_OK : OF_STATUS_ERROR;
}
