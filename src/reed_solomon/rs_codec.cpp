#include "reed_solomon/rs_codec.h"

#include <cstddef>

#include "gf/gf.h"
#include "reed_solomon/rs_classic.h"
#include "reed_solomon/rs_session_steps.h"
#include "session/codec_adapter.h"
#include "session/of_cb.h"

static_assert(of_cb_begins_like_generic<of_rs_cb_t>());

namespace {

constexpr uint32_t kMaxSymbols = 255;

// The code of the session's classic coder, made on first need; null when
// the coder refuses the session's k and n (n above 256).
const rs_code *session_code(of_rs_cb_t *ofcb) {
  if (ofcb->rs_cb == nullptr)
    ofcb->rs_cb = of_rs_new(ofcb->nb_source_symbols, ofcb->nb_encoding_symbols);
  return ofcb->rs_cb != nullptr ? static_cast<fec_parms *>(ofcb->rs_cb)->code : nullptr;
}

// The coder serves this decoding alone and is freed after it.
of_status_t rebuild_source_symbols(of_rs_cb_t *ofcb) {
  const rs_code *code = session_code(ofcb);
  const of_status_t status =
      code != nullptr ? rs_session::rebuild_source_symbols(ofcb, code) : OF_STATUS_ERROR;
  of_rs_free(ofcb->rs_cb);
  ofcb->rs_cb = nullptr;
  return status;
}

}  // namespace

of_status_t of_rs_create_codec_instance(of_rs_cb_t **of_cb) {
  of_rs_cb_t *grown = of_grow_control_block(*of_cb, OF_CODEC_REED_SOLOMON_GF_2_8_STABLE);
  if (grown == nullptr) return OF_STATUS_FATAL_ERROR;
  grown->max_nb_source_symbols = kMaxSymbols;
  grown->max_nb_encoding_symbols = kMaxSymbols;
  *of_cb = grown;
  return OF_STATUS_OK;
}

of_status_t of_rs_release_codec_instance(of_rs_cb_t *ofcb) {
  of_rs_free(ofcb->rs_cb);
  ofcb->rs_cb = nullptr;
  rs_repair_ahead_release(&ofcb->repair_ahead);
  of_free(ofcb->available_symbols_tab);
  ofcb->available_symbols_tab = nullptr;
  return OF_STATUS_OK;
}

of_status_t of_rs_set_fec_parameters(of_rs_cb_t *ofcb, of_rs_parameters_t *params) {
  return rs_session::set_fec_parameters(ofcb, params, of_rs_release_codec_instance);
}

of_status_t of_rs_set_callback_functions(
    of_rs_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  return rs_session::set_callback_functions(ofcb, decoded_source_symbol_callback,
                                            decoded_repair_symbol_callback, context_4_callback);
}

of_status_t of_rs_build_repair_symbol(of_rs_cb_t *ofcb, void **encoding_symbols_tab,
                                      unsigned int esi_of_symbol_to_build) {
  return rs_session::build_repair_symbol(ofcb, encoding_symbols_tab, esi_of_symbol_to_build,
                                         [ofcb] { return session_code(ofcb); });
}

of_status_t of_rs_decode_with_new_symbol(of_rs_cb_t *ofcb, void *new_symbol,
                                         unsigned int new_symbol_esi) {
  return rs_session::decode_with_new_symbol(ofcb, new_symbol, new_symbol_esi,
                                            of_rs_finish_decoding);
}

of_status_t of_rs_set_available_symbols(of_rs_cb_t *ofcb, const void **encoding_symbols_tab) {
  return rs_session::set_available_symbols(ofcb, encoding_symbols_tab);
}

of_status_t of_rs_finish_decoding(of_rs_cb_t *ofcb) {
  return rs_session::finish_decoding(ofcb, rebuild_source_symbols);
}

bool of_rs_is_decoding_complete(of_rs_cb_t *ofcb) { return rs_session::is_decoding_complete(ofcb); }

of_status_t of_rs_get_source_symbols_tab(of_rs_cb_t *ofcb, void **source_symbols_tab) {
  return rs_session::get_source_symbols_tab(ofcb, source_symbols_tab);
}

of_status_t of_rs_set_control_parameter(of_rs_cb_t *, unsigned int, void *, unsigned int) {
  return OF_STATUS_ERROR;
}

of_status_t of_rs_get_control_parameter(of_rs_cb_t *ofcb, unsigned int type, void *value,
                                        unsigned int length) {
  return rs_session::get_max_symbols(ofcb, type, value, length);
}

bool of_rs_is_source_symbol(of_rs_cb_t *ofcb, unsigned int new_symbol_esi) {
  return new_symbol_esi < ofcb->nb_source_symbols;
}

bool of_rs_is_repair_symbol(of_rs_cb_t *ofcb, unsigned int new_symbol_esi) {
  return new_symbol_esi >= ofcb->nb_source_symbols;
}

namespace {

constexpr of_codec_functions<of_rs_cb_t, of_rs_parameters_t> kFunctions = {
    of_rs_create_codec_instance,  of_rs_release_codec_instance, of_rs_set_fec_parameters,
    of_rs_set_callback_functions, of_rs_build_repair_symbol,    of_rs_decode_with_new_symbol,
    of_rs_set_available_symbols,  of_rs_finish_decoding,        of_rs_is_decoding_complete,
    of_rs_get_source_symbols_tab, of_rs_set_control_parameter,  of_rs_get_control_parameter,
};

}  // namespace

const of_codec_ops of_rs_codec_ops = of_make_codec_ops<kFunctions>();
