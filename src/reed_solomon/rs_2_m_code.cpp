#include "reed_solomon/rs_2_m_code.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "gf/gf_tables.h"
#include "reed_solomon/gf_kernels.h"

namespace {

bool is_gf16(const of_galois_field_code_cb_t *ofcb) { return ofcb->m == 4; }

gf field_exp(const of_galois_field_code_cb_t *ofcb, int i) {
  return is_gf16(ofcb) ? of_gf_2_4_exp[static_cast<size_t>(i) & 15]
                       : of_gf_2_8_exp[static_cast<size_t>(i) & 255];
}

// Multiply-and-add on symbol data: one element per byte for GF(2^8), two
// packed elements per byte for GF(2^4).
void symbol_addmul(const of_galois_field_code_cb_t *ofcb, gf *dst, gf *src, gf c, int sz) {
  if (is_gf16(ofcb))
    of_galois_field_2_4_addmul1_compact(dst, src, c, sz);
  else
    of_galois_field_2_8_addmul1(dst, src, c, sz);
}

size_t at_least_one(size_t size) { return size != 0 ? size : 1; }

}  // namespace

gf of_modnn(of_galois_field_code_cb_t *ofcb, int x) {
  const int field_size = ofcb->field_size;
  if (field_size == 0) return 0;
  while (x >= field_size) {
    x -= field_size;
    x = (x >> ofcb->m) + (x & field_size);
  }
  return static_cast<gf>(x);
}

of_status_t of_rs_2m_build_encoding_matrix(of_galois_field_code_cb_t *ofcb) {
  const size_t k = ofcb->nb_source_symbols;
  const size_t n = ofcb->nb_encoding_symbols;
  ofcb->enc_matrix = static_cast<gf *>(of_malloc(at_least_one(n * k)));
  if (ofcb->enc_matrix == nullptr) return OF_STATUS_FATAL_ERROR;
  ofcb->magic = 0xFECC0DECu ^ static_cast<uint32_t>(k) ^ static_cast<uint32_t>(n) ^
                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ofcb->enc_matrix));
  auto *tmp = static_cast<gf *>(of_malloc(at_least_one(n * k)));
  if (tmp == nullptr) {
    of_free(ofcb->enc_matrix);
    ofcb->enc_matrix = nullptr;
    return OF_STATUS_FATAL_ERROR;
  }
  // Evaluation points 0, alpha^0, alpha^1, ..., alpha^(n-2) of 1, x, ..., x^(k-1).
  if (n > 0 && k > 0) {
    std::memset(tmp, 0, k);
    tmp[0] = 1;
  }
  for (size_t j = 1; j < n; ++j) {
    // Reducing j - 1 first keeps the product within an int for any n.
    const int base = static_cast<int>((j - 1) % (ofcb->field_size ? ofcb->field_size : 1));
    for (size_t col = 0; col < k; ++col)
      tmp[j * k + col] = field_exp(ofcb, of_modnn(ofcb, base * static_cast<int>(col)));
  }
  const int kk = static_cast<int>(k);
  const int r = static_cast<int>(n - k);
  const int vdm = is_gf16(ofcb) ? of_galois_field_2_4_invert_vdm(ofcb, tmp, kk)
                                : of_galois_field_2_8_invert_vdm(ofcb, tmp, kk);
  if (vdm != 0) {
    of_free(tmp);
    of_free(ofcb->enc_matrix);
    ofcb->enc_matrix = nullptr;
    return OF_STATUS_FATAL_ERROR;
  }
  if (is_gf16(ofcb))
    of_galois_field_2_4_matmul(tmp + k * k, tmp, ofcb->enc_matrix + k * k, r, kk, kk);
  else
    of_galois_field_2_8_matmul(tmp + k * k, tmp, ofcb->enc_matrix + k * k, r, kk, kk);
  std::memset(ofcb->enc_matrix, 0, k * k);
  for (size_t i = 0; i < k; ++i) ofcb->enc_matrix[i * k + i] = 1;
  of_free(tmp);
  return OF_STATUS_OK;
}

of_status_t of_rs_2m_encode(of_galois_field_code_cb_t *ofcb, gf **_src, gf *_fec, int index,
                            int sz) {
  const size_t k = ofcb->nb_source_symbols;
  if (index < 0 || static_cast<uint32_t>(index) >= ofcb->nb_encoding_symbols ||
      ofcb->enc_matrix == nullptr)
    return OF_STATUS_ERROR;
  for (size_t i = 0; i < k; ++i)
    if (_src[i] == nullptr) return OF_STATUS_ERROR;
  if (sz > 0) std::memset(_fec, 0, static_cast<size_t>(sz));
  const gf *row = ofcb->enc_matrix + static_cast<size_t>(index) * k;
  for (size_t i = 0; i < k; ++i)
    if (row[i] != 0) symbol_addmul(ofcb, _fec, _src[i], row[i], sz);
  return OF_STATUS_OK;
}

int of_rs_2m_shuffle(gf **pkt, int *index, int k) { return gf_shuffle(pkt, index, k); }

of_status_t of_rs_2m_build_decoding_matrix(of_galois_field_code_cb_t *ofcb, int *index) {
  const size_t k = ofcb->nb_source_symbols;
  const size_t n = ofcb->nb_encoding_symbols;
  ofcb->dec_matrix = static_cast<gf *>(of_malloc(at_least_one(k * k)));
  if (ofcb->dec_matrix == nullptr) return OF_STATUS_FATAL_ERROR;
  bool usable = true;
  for (size_t i = 0; i < k && usable; ++i) {
    gf *row = ofcb->dec_matrix + i * k;
    const int esi = index[i];
    if (esi >= 0 && static_cast<size_t>(esi) < k) {
      std::memset(row, 0, k);
      row[i] = 1;
    } else if (esi >= 0 && static_cast<size_t>(esi) < n && ofcb->enc_matrix != nullptr) {
      std::memcpy(row, ofcb->enc_matrix + static_cast<size_t>(esi) * k, k);
    } else {
      usable = false;
    }
  }
  if (usable) {
    const int kk = static_cast<int>(k);
    usable = (is_gf16(ofcb) ? of_galois_field_2_4_invert_mat(ofcb, ofcb->dec_matrix, kk)
                            : of_galois_field_2_8_invert_mat(ofcb, ofcb->dec_matrix, kk)) == 0;
  }
  if (!usable) {
    of_free(ofcb->dec_matrix);
    ofcb->dec_matrix = nullptr;
    return OF_STATUS_FATAL_ERROR;
  }
  return OF_STATUS_OK;
}

of_status_t of_rs_2m_decode(of_galois_field_code_cb_t *ofcb, gf **_pkt, int *index, int sz) {
  const size_t k = ofcb->nb_source_symbols;
  const size_t len = sz > 0 ? static_cast<size_t>(sz) : 0;
  if (of_rs_2m_shuffle(_pkt, index, static_cast<int>(k)) != 0) return OF_STATUS_ERROR;
  if (of_rs_2m_build_decoding_matrix(ofcb, index) != OF_STATUS_OK) return OF_STATUS_FATAL_ERROR;
  auto **rebuilt = static_cast<gf **>(of_calloc(at_least_one(k), sizeof(gf *)));
  of_status_t status = rebuilt != nullptr ? OF_STATUS_OK : OF_STATUS_ERROR;
  for (size_t row = 0; row < k && status == OF_STATUS_OK; ++row) {
    if (static_cast<size_t>(index[row]) < k) continue;
    rebuilt[row] = static_cast<gf *>(of_calloc(1, at_least_one(len)));
    if (rebuilt[row] == nullptr) {
      status = OF_STATUS_ERROR;
      break;
    }
    const gf *coefs = ofcb->dec_matrix + row * k;
    for (size_t col = 0; col < k; ++col)
      if (coefs[col] != 0) symbol_addmul(ofcb, rebuilt[row], _pkt[col], coefs[col], sz);
  }
  // The received buffers are overwritten only once every missing symbol is
  // computed, because each computation reads all of them.
  if (rebuilt != nullptr) {
    for (size_t row = 0; row < k; ++row) {
      if (rebuilt[row] == nullptr) continue;
      if (status == OF_STATUS_OK && len > 0) std::memcpy(_pkt[row], rebuilt[row], len);
      of_free(rebuilt[row]);
    }
  }
  of_free(rebuilt);
  of_free(ofcb->dec_matrix);
  ofcb->dec_matrix = nullptr;
  return status;
}

void of_rs_2m_release(of_galois_field_code_cb_t *ofcb) {
  of_free(ofcb->enc_matrix);
  ofcb->enc_matrix = nullptr;
  of_free(ofcb->dec_matrix);
  ofcb->dec_matrix = nullptr;
}

void of_rs_2m_display_gf(of_galois_field_code_cb_t *ofcb) {
  for (int i = 0; i <= ofcb->field_size; ++i) {
    const int log_i = is_gf16(ofcb) ? of_gf_2_4_log[static_cast<size_t>(i) & 15]
                                    : of_gf_2_8_log[static_cast<size_t>(i) & 255];
    std::printf("i=%i,log(i)=%i,exp(i)=%i,exp(log(i))=%i\n", i, log_i, field_exp(ofcb, i),
                field_exp(ofcb, log_i));
  }
}
