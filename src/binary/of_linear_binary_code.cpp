#include "binary/of_linear_binary_code.h"

#include <cstring>

#include "binary/of_symbol.h"

namespace {

void release_matrix(of_mod2sparse *&m) {
  if (m == nullptr) return;
  of_mod2sparse_free(m);
  of_free(m);
  m = nullptr;
}

template <class T>
void release_array(T *&p) {
  of_free(p);
  p = nullptr;
}

}  // namespace

bool of_linear_binary_code_is_complete(of_linear_binary_code_cb *ofcb) {
  const uint32_t k = ofcb->nb_source_symbols;
  void **tab = ofcb->encoding_symbols_tab;
  // Without a code there is nothing decoded.
  if (tab == nullptr) return false;
  while (ofcb->first_non_decoded < k && tab[ofcb->first_non_decoded] != nullptr)
    ++ofcb->first_non_decoded;
  return ofcb->first_non_decoded >= k;
}

void of_linear_binary_code_announce_repair_symbol(of_linear_binary_code_cb *ofcb, const void *value,
                                                  uint32_t esi) {
  if (ofcb->decoded_repair_symbol_callback == nullptr) return;
  const uint32_t len = ofcb->encoding_symbol_length;
  void *out = ofcb->decoded_repair_symbol_callback(ofcb->context_4_callback, len, esi);
  if (out != nullptr) std::memcpy(out, value, len);
}

of_status_t of_linear_binary_code_set_up(of_linear_binary_code_cb *ofcb,
                                         of_mod2sparse *pchk_matrix) {
  ofcb->pchk_matrix = pchk_matrix;
  const uint32_t r = ofcb->nb_repair_symbols;
  const uint32_t n = ofcb->nb_total_symbols;
  ofcb->encoding_symbols_tab = static_cast<void **>(of_calloc(n, sizeof(void *)));
  if (ofcb->encoding_symbols_tab == nullptr) return OF_STATUS_FATAL_ERROR;
  if (!of_mod2sparse_to_rows(pchk_matrix, &ofcb->pchk_rows)) return OF_STATUS_FATAL_ERROR;
  if (ofcb->codec_type & OF_CODEC_TYPE_DECODER) {
    ofcb->tab_nb_unknown_symbols = static_cast<uint16_t *>(of_calloc(r, sizeof(uint16_t)));
    ofcb->tab_const_term_of_equ = static_cast<void **>(of_calloc(r, sizeof(void *)));
    ofcb->tab_nb_equ_for_repair = static_cast<uint16_t *>(of_calloc(r, sizeof(uint16_t)));
    ofcb->tab_nb_enc_symbols_per_equ = static_cast<uint16_t *>(of_calloc(r, sizeof(uint16_t)));
    if (ofcb->tab_nb_unknown_symbols == nullptr || ofcb->tab_const_term_of_equ == nullptr ||
        ofcb->tab_nb_equ_for_repair == nullptr || ofcb->tab_nb_enc_symbols_per_equ == nullptr)
      return OF_STATUS_FATAL_ERROR;
    const of_mod2rows &rows = ofcb->pchk_rows;
    for (uint32_t i = 0; i < r; ++i) {
      // Weights fit: a row holds at most n <= 50000 entries.
      const auto weight = static_cast<uint16_t>(rows.row_weight(i));
      ofcb->tab_nb_enc_symbols_per_equ[i] = weight;
      ofcb->tab_nb_unknown_symbols[i] = weight;
      for (const uint32_t c : rows.row(i))
        if (c < r) ++ofcb->tab_nb_equ_for_repair[c];
    }
  }
  ofcb->nb_source_symbol_ready = 0;
  ofcb->nb_repair_symbol_ready = 0;
  ofcb->remain_cols = 0;
  ofcb->remain_rows = 0;
  ofcb->dec_step = 0;
  ofcb->threshold_simplification = 0;
  ofcb->nb_tmp_symbols = 0;
  return OF_STATUS_OK;
}

void of_linear_binary_code_release(of_linear_binary_code_cb *ofcb) {
  release_matrix(ofcb->pchk_matrix);
  of_mod2rows_free(&ofcb->pchk_rows);
  if (ofcb->encoding_symbols_tab != nullptr) {
    for (uint32_t esi = ofcb->nb_source_symbols; esi < ofcb->nb_total_symbols; ++esi)
      of_free(ofcb->encoding_symbols_tab[esi]);
    release_array(ofcb->encoding_symbols_tab);
  }
  release_array(ofcb->tmp_tab_symbols);
  release_array(ofcb->tab_nb_enc_symbols_per_equ);
  release_array(ofcb->tab_nb_equ_for_repair);
  release_array(ofcb->tab_nb_unknown_symbols);
  if (ofcb->tab_const_term_of_equ != nullptr) {
    for (uint32_t i = 0; i < ofcb->nb_repair_symbols; ++i) of_free(ofcb->tab_const_term_of_equ[i]);
    release_array(ofcb->tab_const_term_of_equ);
  }
  release_array(ofcb->index_rows);
  release_array(ofcb->index_cols);
  release_matrix(ofcb->pchk_matrix_simplified);
  release_matrix(ofcb->original_pchkMatrix);
  release_matrix(ofcb->pchk_matrix_gauss);
  ofcb->first_non_decoded = 0;
}

void of_linear_binary_code_release_matrix(of_linear_binary_code_cb *ofcb) {
  release_matrix(ofcb->pchk_matrix);
}

of_status_t of_linear_binary_code_build_repair_symbol(of_linear_binary_code_cb *ofcb,
                                                      void **encoding_symbols_tab, uint32_t esi) {
  const uint32_t k = ofcb->nb_source_symbols;
  const of_mod2rows &rows = ofcb->pchk_rows;
  if (esi < k || esi >= ofcb->nb_total_symbols || rows.start == nullptr) return OF_STATUS_ERROR;
  const uint32_t row = esi - k;
  // Every input is looked for first, so that a refusal leaves the table as
  // it was.
  for (const uint32_t c : rows.row(row))
    if (c != row && encoding_symbols_tab[of_linear_binary_code_esi_of_col(ofcb, c)] == nullptr)
      return OF_STATUS_ERROR;
  void *&entry = encoding_symbols_tab[esi];
  if (entry == nullptr) {
    entry = of_malloc(of_linear_binary_code_alloc_size(ofcb));
    if (entry == nullptr) return OF_STATUS_FATAL_ERROR;
  }
  of_symbol_sum sum(entry, ofcb->encoding_symbol_length, false);
  for (const uint32_t c : rows.row(row))
    if (c != row) sum.add(encoding_symbols_tab[of_linear_binary_code_esi_of_col(ofcb, c)]);
  sum.finish();
  return OF_STATUS_OK;
}

of_status_t of_linear_binary_code_get_source_symbols_tab(of_linear_binary_code_cb *ofcb,
                                                         void **source_symbols_tab) {
  if (ofcb->encoding_symbols_tab == nullptr) return OF_STATUS_ERROR;
  for (uint32_t i = 0; i < ofcb->nb_source_symbols; ++i)
    source_symbols_tab[i] = ofcb->encoding_symbols_tab[i];
  return OF_STATUS_OK;
}

of_status_t of_linear_binary_code_get_max(unsigned int type, void *value, unsigned int length,
                                          uint32_t max_nb_source_symbols,
                                          uint32_t max_nb_encoding_symbols) {
  uint32_t answer;
  if (type == OF_CTRL_GET_MAX_SOURCE_SYMBOLS)
    answer = max_nb_source_symbols;
  else if (type == OF_CTRL_GET_MAX_ENCODING_SYMBOLS)
    answer = max_nb_encoding_symbols;
  else
    return OF_STATUS_ERROR;
  if (value == nullptr || length != sizeof(uint32_t)) return OF_STATUS_ERROR;
  std::memcpy(value, &answer, sizeof answer);
  return OF_STATUS_OK;
}
