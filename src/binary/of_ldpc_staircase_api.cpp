#include "binary/of_ldpc_staircase_api.h"

#include <cstddef>
#include <cstring>

#include "binary/of_it_decoding.h"
#include "binary/of_ldpc_staircase_pchk.h"
#include "binary/of_ml_decoding.h"
#include "session/codec_adapter.h"
#include "session/of_cb.h"

static_assert(of_cb_begins_like_generic<of_linear_binary_code_cb>());
static_assert(offsetof(of_ldpc_staircase_cb, lbc) == 0);

namespace {

constexpr uint32_t kMaxSymbols = 50000;

bool last_repair_always_zero(const of_ldpc_staircase_cb_t *ofcb) {
  return !ofcb->extra_entries_added_in_pchk && ofcb->N1 % 2 == 0;
}

}  // namespace

of_status_t of_ldpc_staircase_create_codec_instance(of_ldpc_staircase_cb_t **of_cb) {
  auto *grown = of_grow_control_block(*of_cb, OF_CODEC_LDPC_STAIRCASE_STABLE);
  if (grown == nullptr) return OF_STATUS_FATAL_ERROR;
  grown->max_nb_source_symbols = kMaxSymbols;
  grown->max_nb_encoding_symbols = kMaxSymbols;
  *of_cb = grown;
  return OF_STATUS_OK;
}

of_status_t of_ldpc_staircase_release_codec_instance(of_ldpc_staircase_cb_t *ofcb) {
  of_linear_binary_code_release(&ofcb->lbc);
  return OF_STATUS_OK;
}

of_status_t of_ldpc_staircase_set_fec_parameters(of_ldpc_staircase_cb_t *ofcb,
                                                 of_ldpc_parameters_t *params) {
  of_linear_binary_code_cb *lbc = &ofcb->lbc;
  // A new code: nothing of a previous one may leak or linger.
  of_linear_binary_code_release(lbc);
  if (params->N1 < 3) return OF_STATUS_FATAL_ERROR;
  const uint32_t k = params->nb_source_symbols;
  const uint32_t r = params->nb_repair_symbols;
  lbc->nb_source_symbols = k;
  if (k > ofcb->max_nb_source_symbols) return OF_STATUS_FATAL_ERROR;
  lbc->nb_repair_symbols = r;
  if (r > ofcb->max_nb_encoding_symbols) return OF_STATUS_FATAL_ERROR;
  lbc->nb_total_symbols = k + r;
  if (lbc->nb_total_symbols > ofcb->max_nb_encoding_symbols) return OF_STATUS_FATAL_ERROR;
  lbc->encoding_symbol_length = params->encoding_symbol_length;
  ofcb->prng_seed = static_cast<uint32_t>(params->prng_seed);
  ofcb->N1 = params->N1;
  of_mod2sparse *m =
      of_create_pchck_matrix_rfc5170_compliant(r, k + r, ofcb->N1, ofcb->prng_seed, ofcb);
  if (m == nullptr) return OF_STATUS_FATAL_ERROR;
  if (of_linear_binary_code_set_up(lbc, m) != OF_STATUS_OK) return OF_STATUS_FATAL_ERROR;
  if ((lbc->codec_type & OF_CODEC_TYPE_DECODER) == 0) return OF_STATUS_OK;
  bool always_zero = false;
  if (of_ldpc_staircase_get_control_parameter(ofcb, OF_LDPC_STAIRCASE_CTRL_LAST_REPAIR_ALWAYS_ZERO,
                                              &always_zero, 1) != OF_STATUS_OK)
    return OF_STATUS_FATAL_ERROR;
  if (!always_zero) return OF_STATUS_OK;
  // The sum of all equations leaves the last repair symbol alone, times N1:
  // the decoder knows it before anything arrives.
  void *zero = of_calloc(1, of_linear_binary_code_alloc_size(lbc));
  if (zero == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_status_t status = of_linear_binary_code_decode_with_new_symbol(lbc, zero, k + r - 1);
  of_free(zero);
  return status == OF_STATUS_OK ? OF_STATUS_OK : OF_STATUS_FATAL_ERROR;
}

of_status_t of_ldpc_staircase_set_callback_functions(
    of_ldpc_staircase_cb_t *ofcb,
    of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  ofcb->lbc.decoded_source_symbol_callback = decoded_source_symbol_callback;
  ofcb->lbc.decoded_repair_symbol_callback = decoded_repair_symbol_callback;
  ofcb->lbc.context_4_callback = context_4_callback;
  return OF_STATUS_OK;
}

of_status_t of_ldpc_staircase_build_repair_symbol(of_ldpc_staircase_cb_t *ofcb,
                                                  void **encoding_symbols_tab,
                                                  unsigned int esi_of_symbol_to_build) {
  return of_linear_binary_code_build_repair_symbol(&ofcb->lbc, encoding_symbols_tab,
                                                   esi_of_symbol_to_build);
}

of_status_t of_ldpc_staircase_decode_with_new_symbol(of_ldpc_staircase_cb_t *ofcb, void *new_symbol,
                                                     unsigned int new_symbol_esi) {
  return of_linear_binary_code_decode_with_new_symbol(&ofcb->lbc, new_symbol, new_symbol_esi);
}

of_status_t of_ldpc_staircase_set_available_symbols(of_ldpc_staircase_cb_t *ofcb,
                                                    const void **encoding_symbols_tab) {
  for (uint32_t esi = 0; esi < ofcb->lbc.nb_total_symbols; ++esi) {
    if (encoding_symbols_tab[esi] == nullptr) continue;
    const of_status_t status =
        of_linear_binary_code_decode_with_new_symbol(&ofcb->lbc, encoding_symbols_tab[esi], esi);
    if (status != OF_STATUS_OK) return status;
  }
  return OF_STATUS_OK;
}

of_status_t of_ldpc_staircase_finish_decoding(of_ldpc_staircase_cb_t *ofcb) {
  if (of_ldpc_staircase_is_decoding_complete(ofcb)) return OF_STATUS_OK;
  return of_linear_binary_code_finish_decoding_with_ml(&ofcb->lbc);
}

bool of_ldpc_staircase_is_decoding_complete(of_ldpc_staircase_cb_t *ofcb) {
  return of_linear_binary_code_is_complete(&ofcb->lbc);
}

of_status_t of_ldpc_staircase_get_source_symbols_tab(of_ldpc_staircase_cb_t *ofcb,
                                                     void **source_symbols_tab) {
  return of_linear_binary_code_get_source_symbols_tab(&ofcb->lbc, source_symbols_tab);
}

of_status_t of_ldpc_staircase_set_control_parameter(of_ldpc_staircase_cb_t *, unsigned int, void *,
                                                    unsigned int) {
  return OF_STATUS_ERROR;
}

of_status_t of_ldpc_staircase_get_control_parameter(of_ldpc_staircase_cb_t *ofcb, unsigned int type,
                                                    void *value, unsigned int length) {
  if (type == OF_LDPC_STAIRCASE_CTRL_LAST_REPAIR_ALWAYS_ZERO) {
    // One byte is written, so one byte must be there.
    if (value == nullptr || length < 1) return OF_STATUS_ERROR;
    const bool answer = last_repair_always_zero(ofcb);
    std::memcpy(value, &answer, 1);
    return OF_STATUS_OK;
  }
  return of_linear_binary_code_get_max(type, value, length, ofcb->max_nb_source_symbols,
                                       ofcb->max_nb_encoding_symbols);
}

namespace {

constexpr of_codec_functions<of_ldpc_staircase_cb_t, of_ldpc_parameters_t> kFunctions = {
    of_ldpc_staircase_create_codec_instance, of_ldpc_staircase_release_codec_instance,
    of_ldpc_staircase_set_fec_parameters,    of_ldpc_staircase_set_callback_functions,
    of_ldpc_staircase_build_repair_symbol,   of_ldpc_staircase_decode_with_new_symbol,
    of_ldpc_staircase_set_available_symbols, of_ldpc_staircase_finish_decoding,
    of_ldpc_staircase_is_decoding_complete,  of_ldpc_staircase_get_source_symbols_tab,
    of_ldpc_staircase_set_control_parameter, of_ldpc_staircase_get_control_parameter,
};

}  // namespace

const of_codec_ops of_ldpc_staircase_codec_ops = of_make_codec_ops<kFunctions>();
