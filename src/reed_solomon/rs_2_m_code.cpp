#include "reed_solomon/rs_2_m_code.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "gf/gf_tables.h"
#include "session/diag.h"

namespace {

bool is_gf16(const of_galois_field_code_cb_t *ofcb) { return ofcb->m == 4; }

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
  const rs_code *code =
      rs_code_acquire(ofcb->m, ofcb->nb_source_symbols, ofcb->nb_encoding_symbols);
  if (code == nullptr) return OF_STATUS_FATAL_ERROR;
  rs_code_release(ofcb->code);
  ofcb->code = code;
  ofcb->enc_matrix = code->matrix;
  ofcb->magic = 0xFECC0DECu ^ code->k ^ code->n ^
                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ofcb->enc_matrix));
  return OF_STATUS_OK;
}

of_status_t of_rs_2m_encode(of_galois_field_code_cb_t *ofcb, gf **_src, gf *_fec, int index,
                            int sz) {
  const size_t k = ofcb->nb_source_symbols;
  if (index < 0 || static_cast<uint32_t>(index) >= ofcb->nb_encoding_symbols ||
      ofcb->code == nullptr)
    return OF_STATUS_ERROR;
  for (size_t i = 0; i < k; ++i)
    if (_src[i] == nullptr) return OF_STATUS_ERROR;
  const auto esi = static_cast<uint32_t>(index);
  rs_code_encode(ofcb->code, _src, &esi, &_fec, 1, sz > 0 ? static_cast<size_t>(sz) : 0);
  return OF_STATUS_OK;
}

int of_rs_2m_shuffle(gf **pkt, int *index, int k) { return rs_shuffle(pkt, index, k); }

of_status_t of_rs_2m_build_decoding_matrix(of_galois_field_code_cb_t *ofcb, int *index) {
  if (ofcb->code == nullptr) return OF_STATUS_FATAL_ERROR;
  const size_t k = ofcb->nb_source_symbols;
  ofcb->dec_matrix = static_cast<gf *>(of_malloc(at_least_one(k * k)));
  if (ofcb->dec_matrix == nullptr) return OF_STATUS_FATAL_ERROR;
  if (!rs_code_decoding_matrix(ofcb->code, index, ofcb->dec_matrix)) {
    of_free(ofcb->dec_matrix);
    ofcb->dec_matrix = nullptr;
    return OF_STATUS_FATAL_ERROR;
  }
  return OF_STATUS_OK;
}

of_status_t of_rs_2m_decode(of_galois_field_code_cb_t *ofcb, gf **_pkt, int *index, int sz) {
  const int k = static_cast<int>(ofcb->nb_source_symbols);
  if (of_rs_2m_shuffle(_pkt, index, k) != 0) return OF_STATUS_ERROR;
  bool repair_needed = false;
  for (int i = 0; i < k; ++i) {
    if (index[i] < 0 || static_cast<uint32_t>(index[i]) >= ofcb->nb_encoding_symbols)
      return OF_STATUS_FATAL_ERROR;
    repair_needed = repair_needed || index[i] != i;
  }
  // Only source symbols, now in their places: nothing to compute.
  if (!repair_needed) return OF_STATUS_OK;
  if (ofcb->code == nullptr) return OF_STATUS_FATAL_ERROR;
  switch (rs_decode_in_place(ofcb->code, _pkt, index, sz > 0 ? static_cast<size_t>(sz) : 0)) {
    case 0:
      return OF_STATUS_OK;
    case rs_decode_plan::kNoMemory:
      return OF_STATUS_ERROR;
    default:
      return OF_STATUS_FATAL_ERROR;
  }
}

void of_rs_2m_release(of_galois_field_code_cb_t *ofcb) {
  rs_code_release(ofcb->code);
  ofcb->code = nullptr;
  ofcb->enc_matrix = nullptr;
  of_free(ofcb->dec_matrix);
  ofcb->dec_matrix = nullptr;
  rs_repair_ahead_release(&ofcb->repair_ahead);
}

void of_rs_2m_display_gf(of_galois_field_code_cb_t *ofcb) {
  for (int i = 0; i <= ofcb->field_size; ++i) {
    const int log_i = is_gf16(ofcb) ? of_gf_2_4_log[static_cast<size_t>(i) & 15]
                                    : of_gf_2_8_log[static_cast<size_t>(i) & 255];
    of_diag(stdout, "i=%i,log(i)=%i,exp(i)=%i,exp(log(i))=%i\n", i, log_i, rs_field_exp(ofcb->m, i),
            rs_field_exp(ofcb->m, log_i));
  }
}
