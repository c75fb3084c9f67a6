#include "reed_solomon/rs_2_m_codec.h"

#include <cstddef>
#include <cstring>

#include "reed_solomon/rs_session_steps.h"
#include "session/codec_adapter.h"
#include "session/of_cb.h"

static_assert(of_cb_begins_like_generic<of_rs_2_m_cb_t>());

namespace {

// Selects the field. The encoding matrix belongs to the field it was built
// in, so changing m drops it.
void set_field(of_rs_2_m_cb_t *ofcb, uint16_t m) {
  if (ofcb->m != m) of_rs_2m_release(ofcb);
  ofcb->m = m;
  ofcb->field_size = static_cast<uint16_t>((1u << m) - 1);
  ofcb->max_nb_source_symbols = ofcb->field_size;
  ofcb->max_nb_encoding_symbols = ofcb->field_size;
}

// The session's code, acquired on first need.
const rs_code *session_code(of_rs_2_m_cb_t *ofcb) {
  if (ofcb->code == nullptr && of_rs_2m_build_encoding_matrix(ofcb) != OF_STATUS_OK) return nullptr;
  return ofcb->code;
}

of_status_t rebuild_source_symbols(of_rs_2_m_cb_t *ofcb) {
  const rs_code *code = session_code(ofcb);
  if (code == nullptr) return OF_STATUS_ERROR;
  return rs_session::rebuild_source_symbols(ofcb, code);
}

}  // namespace

of_status_t of_rs_2_m_create_codec_instance(of_rs_2_m_cb_t **of_cb) {
  of_rs_2_m_cb_t *grown = of_grow_control_block(*of_cb, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE);
  if (grown == nullptr) return OF_STATUS_FATAL_ERROR;
  grown->max_m = 8;
  *of_cb = grown;
  return OF_STATUS_OK;
}

of_status_t of_rs_2_m_release_codec_instance(of_rs_2_m_cb_t *ofcb) {
  of_rs_2m_release(ofcb);
  of_free(ofcb->available_symbols_tab);
  ofcb->available_symbols_tab = nullptr;
  return OF_STATUS_OK;
}

of_status_t of_rs_2_m_set_fec_parameters(of_rs_2_m_cb_t *ofcb, of_rs_2_m_parameters_t *params) {
  if (params->m != 4 && params->m != 8) return OF_STATUS_FATAL_ERROR;
  set_field(ofcb, params->m);
  return rs_session::set_fec_parameters(ofcb, params, of_rs_2_m_release_codec_instance);
}

of_status_t of_rs_2_m_set_callback_functions(
    of_rs_2_m_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  return rs_session::set_callback_functions(ofcb, decoded_source_symbol_callback,
                                            decoded_repair_symbol_callback, context_4_callback);
}

of_status_t of_rs_2_m_build_repair_symbol(of_rs_2_m_cb_t *ofcb, void **encoding_symbols_tab,
                                          unsigned int esi_of_symbol_to_build) {
  if (ofcb->nb_source_symbols == 0) return OF_STATUS_ERROR;
  return rs_session::build_repair_symbol(ofcb, encoding_symbols_tab, esi_of_symbol_to_build,
                                         [ofcb] { return session_code(ofcb); });
}

of_status_t of_rs_2_m_decode_with_new_symbol(of_rs_2_m_cb_t *ofcb, void *new_symbol,
                                             unsigned int new_symbol_esi) {
  return rs_session::decode_with_new_symbol(ofcb, new_symbol, new_symbol_esi,
                                            of_rs_2_m_finish_decoding);
}

of_status_t of_rs_2_m_set_available_symbols(of_rs_2_m_cb_t *ofcb,
                                            const void **encoding_symbols_tab) {
  return rs_session::set_available_symbols(ofcb, encoding_symbols_tab);
}

of_status_t of_rs_2_m_finish_decoding(of_rs_2_m_cb_t *ofcb) {
  return rs_session::finish_decoding(ofcb, rebuild_source_symbols);
}

bool of_rs_2_m_is_decoding_complete(of_rs_2_m_cb_t *ofcb) {
  return rs_session::is_decoding_complete(ofcb);
}

of_status_t of_rs_2_m_get_source_symbols_tab(of_rs_2_m_cb_t *ofcb, void **source_symbols_tab) {
  return rs_session::get_source_symbols_tab(ofcb, source_symbols_tab);
}

of_status_t of_rs_2_m_set_control_parameter(of_rs_2_m_cb_t *ofcb, unsigned int type, void *value,
                                            unsigned int length) {
  if (type != OF_RS_2_M_CTRL_SET_M) return OF_STATUS_OK;
  if (value == nullptr || length != sizeof(uint16_t)) return OF_STATUS_ERROR;
  uint16_t m;
  std::memcpy(&m, value, sizeof m);
  if (m != 4 && m != 8) return OF_STATUS_ERROR;
  // With the parameters set, the new field must still hold the code: k at
  // most 2^m - 1 and n at most 2^m, or encoding would run on a field too small
  // and no decoding could ever complete.
  const uint32_t points = 1u << m;
  if (ofcb->nb_source_symbols > points - 1 || ofcb->nb_encoding_symbols > points)
    return OF_STATUS_ERROR;
  set_field(ofcb, m);
  return OF_STATUS_OK;
}

of_status_t of_rs_2_m_get_control_parameter(of_rs_2_m_cb_t *ofcb, unsigned int type, void *value,
                                            unsigned int length) {
  return rs_session::get_max_symbols(ofcb, type, value, length);
}

namespace {

constexpr of_codec_functions<of_rs_2_m_cb_t, of_rs_2_m_parameters_t> kFunctions = {
    of_rs_2_m_create_codec_instance, of_rs_2_m_release_codec_instance,
    of_rs_2_m_set_fec_parameters,    of_rs_2_m_set_callback_functions,
    of_rs_2_m_build_repair_symbol,   of_rs_2_m_decode_with_new_symbol,
    of_rs_2_m_set_available_symbols, of_rs_2_m_finish_decoding,
    of_rs_2_m_is_decoding_complete,  of_rs_2_m_get_source_symbols_tab,
    of_rs_2_m_set_control_parameter, of_rs_2_m_get_control_parameter,
};

}  // namespace

const of_codec_ops of_rs_2_m_codec_ops = of_make_codec_ops<kFunctions>();
