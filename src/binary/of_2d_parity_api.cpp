#include "binary/of_2d_parity_api.h"

#include <cstddef>
#include <cstring>

#include "binary/of_create_pchk.h"
#include "binary/of_it_decoding.h"
#include "binary/of_ml_decoding.h"
#include "session/codec_adapter.h"

static_assert(offsetof(of_2d_parity_cb, lbc) == 0);

of_status_t of_2d_parity_create_codec_instance(of_2d_parity_cb_t **of_cb) {
  auto *grown = of_grow_control_block(*of_cb, OF_CODEC_2D_PARITY_MATRIX_STABLE);
  if (grown == nullptr) return OF_STATUS_FATAL_ERROR;
  grown->max_nb_source_symbols = 16;
  grown->max_nb_encoding_symbols = 24;
  *of_cb = grown;
  return OF_STATUS_OK;
}

of_status_t of_2d_parity_release_codec_instance(of_2d_parity_cb_t *ofcb) {
  of_linear_binary_code_release(&ofcb->lbc);
  return OF_STATUS_OK;
}

of_status_t of_2d_parity_set_fec_parameters(of_2d_parity_cb_t *ofcb,
                                            of_2d_parity_parameters_t *params) {
  of_linear_binary_code_cb *lbc = &ofcb->lbc;
  of_linear_binary_code_release(lbc);
  const uint32_t k = params->nb_source_symbols;
  lbc->nb_source_symbols = k;
  if (k > ofcb->max_nb_source_symbols) return OF_STATUS_FATAL_ERROR;
  // r alone may be anything: the sum is checked without overflow.
  const uint64_t n = uint64_t{k} + params->nb_repair_symbols;
  lbc->nb_repair_symbols = params->nb_repair_symbols;
  if (n > ofcb->max_nb_encoding_symbols) return OF_STATUS_FATAL_ERROR;
  lbc->nb_total_symbols = static_cast<uint32_t>(n);
  lbc->encoding_symbol_length = params->encoding_symbol_length;
  of_mod2sparse *m = of_create_pchk_matrix(lbc->nb_repair_symbols, lbc->nb_total_symbols, Evenboth,
                                           0, 0, false, Type2DMATRIX, 1);
  if (m == nullptr) return OF_STATUS_FATAL_ERROR;
  return of_linear_binary_code_set_up(lbc, m);
}

of_status_t of_2d_parity_set_callback_functions(
    of_2d_parity_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  ofcb->lbc.decoded_source_symbol_callback = decoded_source_symbol_callback;
  ofcb->lbc.decoded_repair_symbol_callback = decoded_repair_symbol_callback;
  ofcb->lbc.context_4_callback = context_4_callback;
  return OF_STATUS_OK;
}

of_status_t of_2d_parity_build_repair_symbol(of_2d_parity_cb_t *ofcb, void **encoding_symbols_tab,
                                             unsigned int esi_of_symbol_to_build) {
  return of_linear_binary_code_build_repair_symbol(&ofcb->lbc, encoding_symbols_tab,
                                                   esi_of_symbol_to_build);
}

of_status_t of_2d_parity_decode_with_new_symbol(of_2d_parity_cb_t *ofcb, void *new_symbol,
                                                unsigned int new_symbol_esi) {
  return of_linear_binary_code_decode_with_new_symbol(&ofcb->lbc, new_symbol, new_symbol_esi);
}

of_status_t of_2d_parity_set_available_symbols(of_2d_parity_cb_t *ofcb,
                                               const void **encoding_symbols_tab) {
  of_linear_binary_code_cb *lbc = &ofcb->lbc;
  void **tab = lbc->encoding_symbols_tab;
  if (tab == nullptr) return OF_STATUS_ERROR;
  const uint32_t k = lbc->nb_source_symbols;
  for (uint32_t esi = 0; esi < lbc->nb_total_symbols; ++esi) {
    const void *symbol = encoding_symbols_tab[esi];
    if (symbol == nullptr || tab[esi] != nullptr) continue;
    if (esi < k) {
      // Kept by reference like every received source symbol: the codec frees
      // only slots k .. n-1.
      tab[esi] = const_cast<void *>(symbol);
      ++lbc->nb_source_symbol_ready;
      continue;
    }
    void *copy = of_calloc(1, of_linear_binary_code_alloc_size(lbc));
    if (copy == nullptr) return OF_STATUS_FATAL_ERROR;
    std::memcpy(copy, symbol, lbc->encoding_symbol_length);
    tab[esi] = copy;
    ++lbc->nb_repair_symbol_ready;
  }
  return OF_STATUS_OK;
}

of_status_t of_2d_parity_finish_decoding(of_2d_parity_cb_t *ofcb) {
  if (of_2d_parity_is_decoding_complete(ofcb)) return OF_STATUS_OK;
  return of_linear_binary_code_finish_decoding_with_ml(&ofcb->lbc);
}

bool of_2d_parity_is_decoding_complete(of_2d_parity_cb_t *ofcb) {
  return of_linear_binary_code_is_complete(&ofcb->lbc);
}

of_status_t of_2d_parity_get_source_symbols_tab(of_2d_parity_cb_t *ofcb,
                                                void **source_symbols_tab) {
  return of_linear_binary_code_get_source_symbols_tab(&ofcb->lbc, source_symbols_tab);
}

of_status_t of_2d_parity_set_control_parameter(of_2d_parity_cb_t *, unsigned int, void *,
                                               unsigned int) {
  return OF_STATUS_ERROR;
}

of_status_t of_2d_parity_get_control_parameter(of_2d_parity_cb_t *ofcb, unsigned int type,
                                               void *value, unsigned int length) {
  return of_linear_binary_code_get_max(type, value, length, ofcb->max_nb_source_symbols,
                                       ofcb->max_nb_encoding_symbols);
}

namespace {

constexpr of_codec_functions<of_2d_parity_cb_t, of_2d_parity_parameters_t> kFunctions = {
    of_2d_parity_create_codec_instance, of_2d_parity_release_codec_instance,
    of_2d_parity_set_fec_parameters,    of_2d_parity_set_callback_functions,
    of_2d_parity_build_repair_symbol,   of_2d_parity_decode_with_new_symbol,
    of_2d_parity_set_available_symbols, of_2d_parity_finish_decoding,
    of_2d_parity_is_decoding_complete,  of_2d_parity_get_source_symbols_tab,
    of_2d_parity_set_control_parameter, of_2d_parity_get_control_parameter,
};

}  // namespace

const of_codec_ops of_2d_parity_codec_ops = of_make_codec_ops<kFunctions>();
