// The generic session operations: argument checks, then dispatch to the
// session's codec. The layer prints nothing and passes codec results through
// unchanged.
#include <cstdint>

#include "session/codec_ops.h"
#include "session/of_cb.h"
#include "session/verbosity.h"
#include "zvfec/codec_session.h"

namespace {

const of_codec_ops *ops_of(const of_session_t *ses) { return of_codec_ops_for(ses->codec_id); }

const of_cb_t *common_of(const of_session_t *ses) { return reinterpret_cast<const of_cb_t *>(ses); }

char version_text[] = "zv_rsfec codec sessions 1.0.0\n";
char about_text[] =
    "Erasure codecs for media groups behind one session interface:\n"
    "  1 Reed-Solomon over GF(2^8) (classic coder)\n"
    "  2 Reed-Solomon over GF(2^m), m = 4 or 8\n"
    "  3 LDPC-staircase (RFC 5170)\n"
    "  5 2D parity\n"
    "Any k of the n encoding symbols of a Reed-Solomon group restore its k source symbols;\n"
    "the binary codes recover by peeling, then by elimination.\n";

}  // namespace

extern "C" {

of_status_t of_create_codec_instance(of_session_t **ses, of_codec_id_t codec_id,
                                     of_codec_type_t codec_type, unsigned int verbosity) {
  of_set_verbosity_level(verbosity);
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  *ses = nullptr;
  const of_codec_ops *ops = of_codec_ops_for(codec_id);
  if (ops == nullptr) return OF_STATUS_FATAL_ERROR;
  auto *cb = static_cast<of_cb_t *>(of_calloc(
      1, ops->control_block_size > sizeof(of_cb_t) ? ops->control_block_size : sizeof(of_cb_t)));
  if (cb == nullptr) return OF_STATUS_FATAL_ERROR;
  cb->codec_type = codec_type;
  cb->codec_id = codec_id;
  of_session_t *grown = reinterpret_cast<of_session_t *>(cb);
  if (ops->create_codec_instance(&grown) != OF_STATUS_OK) {
    // A codec that could not grow the block leaves the original in place.
    of_free(grown);
    return OF_STATUS_FATAL_ERROR;
  }
  *ses = grown;
  return OF_STATUS_OK;
}

of_status_t of_set_fec_parameters(of_session_t *ses, of_parameters_t *params) {
  if (ses == nullptr || params == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->set_fec_parameters(ses, params) : OF_STATUS_FATAL_ERROR;
}

of_status_t of_set_callback_functions(
    of_session_t *ses, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  if (decoded_source_symbol_callback == nullptr && decoded_repair_symbol_callback == nullptr)
    return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->set_callback_functions(ses, decoded_source_symbol_callback,
                                           decoded_repair_symbol_callback, context_4_callback)
             : OF_STATUS_FATAL_ERROR;
}

of_status_t of_build_repair_symbol(of_session_t *ses, void **encoding_symbols_tab,
                                   unsigned int esi_of_symbol_to_build) {
  // Without a table there is nowhere to read the source symbols from.
  if (ses == nullptr || encoding_symbols_tab == nullptr) return OF_STATUS_FATAL_ERROR;
  if ((ses->codec_type & OF_CODEC_TYPE_ENCODER) == 0) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->build_repair_symbol(ses, encoding_symbols_tab, esi_of_symbol_to_build)
             : OF_STATUS_FATAL_ERROR;
}

of_status_t of_decode_with_new_symbol(of_session_t *ses, const void *new_symbol_buf,
                                      unsigned int new_symbol_esi) {
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_cb_t *common = common_of(ses);
  const uint64_t n = uint64_t{common->nb_source_symbols} + common->nb_repair_symbols;
  if (new_symbol_esi >= n) return OF_STATUS_FATAL_ERROR;
  if (new_symbol_buf == nullptr) return OF_STATUS_FATAL_ERROR;
  if ((ses->codec_type & OF_CODEC_TYPE_DECODER) == 0) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  // Codecs keep the pointer without ever writing through it.
  return ops ? ops->decode_with_new_symbol(ses, const_cast<void *>(new_symbol_buf), new_symbol_esi)
             : OF_STATUS_FATAL_ERROR;
}

of_status_t of_set_available_symbols(of_session_t *ses, const void **encoding_symbols_tab) {
  if (ses == nullptr || encoding_symbols_tab == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->set_available_symbols(ses, encoding_symbols_tab) : OF_STATUS_FATAL_ERROR;
}

of_status_t of_finish_decoding(of_session_t *ses) {
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->finish_decoding(ses) : OF_STATUS_FATAL_ERROR;
}

bool of_is_decoding_complete(of_session_t *ses) {
  if (ses == nullptr) return false;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->is_decoding_complete(ses) : false;
}

of_status_t of_get_source_symbols_tab(of_session_t *ses, void **source_symbols_tab) {
  // The codec copies k pointers into the table, so it must exist.
  if (ses == nullptr || source_symbols_tab == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->get_source_symbols_tab(ses, source_symbols_tab) : OF_STATUS_FATAL_ERROR;
}

of_status_t of_set_control_parameter(of_session_t *ses, unsigned int type, void *value,
                                     unsigned int length) {
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->set_control_parameter(ses, type, value, length) : OF_STATUS_FATAL_ERROR;
}

of_status_t of_get_control_parameter(of_session_t *ses, unsigned int type, void *value,
                                     unsigned int length) {
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  return ops ? ops->get_control_parameter(ses, type, value, length) : OF_STATUS_FATAL_ERROR;
}

of_status_t of_release_codec_instance(of_session_t *ses) {
  if (ses == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_ops *ops = ops_of(ses);
  if (ops == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_status_t status = ops->release_codec_instance(ses);
  of_free(ses);
  return status;
}

of_status_t of_more_about(of_session_t *ses, char **version_str, char **about_str) {
  (void)ses;
  if (version_str != nullptr) *version_str = version_text;
  if (about_str != nullptr) *about_str = about_text;
  return OF_STATUS_OK;
}

}  // extern "C"
