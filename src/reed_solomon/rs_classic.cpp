#include "reed_solomon/rs_classic.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "reed_solomon/gf_kernels.h"
#include "reed_solomon/gf_simd.h"

gf of_rs_gf_exp[510];
int of_rs_gf_log[256];
gf of_rs_inverse[256];
gf of_gf_mul_table[256][256];
std::atomic<int> of_rs_initialized{0};

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

constexpr int kBits = 8;
constexpr int kFieldSize = 255;

struct classic_field {
  static constexpr unsigned mask = 0xFF;
  static const gf *row(gf c) { return of_gf_mul_table[c]; }
  static gf inv(gf x) { return of_rs_inverse[x]; }
  static void *alloc(size_t size) { return std::malloc(size); }
  static void release(void *p) { std::free(p); }
};

fec_parms *coder(void *code_vp) { return static_cast<fec_parms *>(code_vp); }

}  // namespace

gf of_modnn(int x) {
  while (x >= kFieldSize) {
    x -= kFieldSize;
    x = (x >> kBits) + (x & kFieldSize);
  }
  return static_cast<gf>(x);
}

void of_generate_gf(void) {
  const char *Pp = of_rs_allPp[kBits];
  gf mask = 1;
  of_rs_gf_exp[kBits] = 0;
  for (int i = 0; i < kBits; ++i, mask = static_cast<gf>(mask << 1)) {
    of_rs_gf_exp[i] = mask;
    of_rs_gf_log[of_rs_gf_exp[i]] = i;
    if (Pp[i] == '1') of_rs_gf_exp[kBits] ^= mask;
  }
  of_rs_gf_log[of_rs_gf_exp[kBits]] = kBits;
  mask = 0x80;
  for (int i = kBits + 1; i < kFieldSize; ++i) {
    if (of_rs_gf_exp[i - 1] >= mask)
      of_rs_gf_exp[i] = static_cast<gf>(of_rs_gf_exp[kBits] ^ ((of_rs_gf_exp[i - 1] ^ mask) << 1));
    else
      of_rs_gf_exp[i] = static_cast<gf>(of_rs_gf_exp[i - 1] << 1);
    of_rs_gf_log[of_rs_gf_exp[i]] = i;
  }
  of_rs_gf_log[0] = kFieldSize;
  for (int i = 0; i < kFieldSize; ++i) of_rs_gf_exp[i + kFieldSize] = of_rs_gf_exp[i];
  of_rs_inverse[0] = 0;
  of_rs_inverse[1] = 1;
  for (int i = 2; i <= kFieldSize; ++i)
    of_rs_inverse[i] = of_rs_gf_exp[kFieldSize - of_rs_gf_log[i]];
}

void of_rs_init_mul_table(void) {
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j)
      of_gf_mul_table[i][j] = of_rs_gf_exp[of_modnn(of_rs_gf_log[i] + of_rs_gf_log[j])];
  for (int j = 0; j < 256; ++j) of_gf_mul_table[0][j] = of_gf_mul_table[j][0] = 0;
}

void of_rs_init(void) {
  // A function-local static is initialised exactly once even when several
  // threads arrive together; the others wait until it is complete.
  static const bool generated = [] {
    of_generate_gf();
    of_rs_init_mul_table();
    of_rs_initialized.store(1, std::memory_order_release);
    return true;
  }();
  (void)generated;
}

void *of_my_malloc(int size, const char *label) {
  (void)label;  // names the allocation for a reader of the code; never printed
  return size > 0 ? std::malloc(static_cast<size_t>(size)) : std::malloc(1);
}

void of_addmul1(gf *dst1, gf *src1, gf c, int sz) {
  gf_addmul_linear_row(dst1, src1, of_gf_mul_table[c], sz);
}

void of_matmul(gf *a, gf *b, gf *c, int n, int k, int m) {
  gf_matmul<classic_field>(a, b, c, n, k, m);
}

int of_invert_mat(gf *src, int k) { return gf_invert_mat<classic_field>(src, k); }

int of_invert_vdm(gf *src, int k) { return gf_invert_vdm<classic_field>(src, k); }

int of_shuffle(gf **pkt, int *index, int k) { return gf_shuffle(pkt, index, k); }

void *of_rs_new(unsigned int k, unsigned int n) {
  if (of_rs_initialized.load(std::memory_order_acquire) == 0) of_rs_init();
  if (k > 256 || n > 256 || k > n || k == 0) return nullptr;
  const int kk = static_cast<int>(k), nn = static_cast<int>(n);
  auto *code = static_cast<fec_parms *>(of_my_malloc(sizeof(fec_parms), "new_code"));
  if (code == nullptr) return nullptr;
  code->k = kk;
  code->n = nn;
  code->enc_matrix = static_cast<gf *>(of_my_malloc(nn * kk, "enc_matrix"));
  gf *tmp = static_cast<gf *>(of_my_malloc(nn * kk, "tmp_m"));
  if (code->enc_matrix == nullptr || tmp == nullptr) {
    std::free(tmp);
    of_rs_free(code);
    return nullptr;
  }
  code->magic =
      0xFECC0DECu ^ k ^ n ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(code->enc_matrix));
  // Evaluation points 0, alpha^0, ..., alpha^(n-2) of 1, x, ..., x^(k-1).
  std::memset(tmp, 0, k);
  tmp[0] = 1;
  for (int row = 0; row + 1 < nn; ++row)
    for (int col = 0; col < kk; ++col)
      tmp[(row + 1) * kk + col] = of_rs_gf_exp[of_modnn(row * col)];
  if (of_invert_vdm(tmp, kk) != 0) {
    std::free(tmp);
    of_rs_free(code);
    return nullptr;
  }
  of_matmul(tmp + kk * kk, tmp, code->enc_matrix + kk * kk, nn - kk, kk, kk);
  std::memset(code->enc_matrix, 0, static_cast<size_t>(kk * kk));
  for (int i = 0; i < kk; ++i) code->enc_matrix[i * kk + i] = 1;
  std::free(tmp);
  return code;
}

void of_rs_free(void *p_vp) {
  if (p_vp == nullptr) return;
  std::free(coder(p_vp)->enc_matrix);
  std::free(p_vp);
}

of_status_t of_rs_encode(void *code_vp, void **src_vp, void *fec_vp, int index, int sz) {
  const fec_parms *code = coder(code_vp);
  if (index < 0 || index >= code->n) return OF_STATUS_ERROR;
  for (int i = 0; i < code->k; ++i)
    if (src_vp[i] == nullptr) return OF_STATUS_ERROR;
  gf *fec = static_cast<gf *>(fec_vp);
  if (sz > 0) std::memset(fec, 0, static_cast<size_t>(sz));
  const gf *row = code->enc_matrix + index * code->k;
  for (int i = 0; i < code->k; ++i)
    if (row[i] != 0) of_addmul1(fec, static_cast<gf *>(src_vp[i]), row[i], sz);
  return OF_STATUS_OK;
}

gf *of_build_decode_matrix(fec_parms *code, gf **pkt, int *index) {
  (void)pkt;
  const int k = code->k;
  auto *matrix = static_cast<gf *>(of_my_malloc(k * k, "dec matrix"));
  if (matrix == nullptr) return nullptr;
  for (int i = 0; i < k; ++i) {
    gf *row = matrix + i * k;
    if (index[i] >= 0 && index[i] < k) {
      std::memset(row, 0, static_cast<size_t>(k));
      row[i] = 1;
    } else if (index[i] >= 0 && index[i] < code->n) {
      std::memcpy(row, code->enc_matrix + index[i] * k, static_cast<size_t>(k));
    } else {
      std::free(matrix);
      return nullptr;
    }
  }
  if (of_invert_mat(matrix, k) != 0) {
    std::free(matrix);
    return nullptr;
  }
  return matrix;
}

of_status_t of_rs_decode(void *code_vp, void **pkt_vp, int *index, int sz) {
  fec_parms *code = coder(code_vp);
  const int k = code->k;
  gf **pkt = reinterpret_cast<gf **>(pkt_vp);
  const size_t len = sz > 0 ? static_cast<size_t>(sz) : 0;
  if (of_shuffle(pkt, index, k) != 0) return OF_STATUS_ERROR;
  gf *matrix = of_build_decode_matrix(code, pkt, index);
  if (matrix == nullptr) return OF_STATUS_ERROR;
  auto **rebuilt =
      static_cast<gf **>(of_my_malloc(k * static_cast<int>(sizeof(gf *)), "new pkt pointers"));
  of_status_t status = rebuilt != nullptr ? OF_STATUS_OK : OF_STATUS_ERROR;
  if (rebuilt != nullptr) std::memset(static_cast<void *>(rebuilt), 0, size_t(k) * sizeof(gf *));
  for (int row = 0; row < k && status == OF_STATUS_OK; ++row) {
    if (index[row] < k) continue;
    rebuilt[row] = static_cast<gf *>(of_my_malloc(sz, "new pkt buffer"));
    if (rebuilt[row] == nullptr) {
      status = OF_STATUS_ERROR;
      break;
    }
    if (len > 0) std::memset(rebuilt[row], 0, len);
    for (int col = 0; col < k; ++col) {
      const gf c = matrix[row * k + col];
      if (c != 0) of_addmul1(rebuilt[row], pkt[col], c, sz);
    }
  }
  // Every missing symbol reads all received buffers, so none is overwritten
  // before all are computed.
  if (rebuilt != nullptr) {
    for (int row = 0; row < k; ++row) {
      if (rebuilt[row] == nullptr) continue;
      if (status == OF_STATUS_OK && len > 0) std::memcpy(pkt[row], rebuilt[row], len);
      std::free(rebuilt[row]);
    }
  }
  std::free(rebuilt);
  std::free(matrix);
  return status;
}
