// How a codec joins the session layer: its control block begins with the
// common leading record (of_cb_t: codec_id, codec_type, k, r, symbol length),
// it lists its session functions, typed on its own control block and
// parameter record, in one of_codec_functions, and of_make_codec_ops turns
// that into the generic layer's record. Every codec joins the same way.
#pragma once

#include <cstring>
#include <type_traits>

#include "session/codec_ops.h"
#include "session/of_cb.h"
#include "zvfec/codec_session.h"

// Grows the generic block into a zeroed Cb that keeps its codec_type and
// carries codec_id (the generic layer allocated it at the Cb's size, so the
// block stays where it is). Null, with the block untouched, when memory is
// short.
template <class Cb>
Cb *of_grow_control_block(Cb *block, of_codec_id_t codec_id) {
  auto *grown = static_cast<Cb *>(of_realloc(block, sizeof(Cb)));
  if (grown == nullptr) return nullptr;
  auto *head = reinterpret_cast<of_cb_t *>(grown);
  const of_codec_type_t codec_type = head->codec_type;
  // A value-initialised record copied over: a few vector stores, where a
  // memset of a small block costs more to start than to run.
  const Cb zeroed{};
  std::memcpy(static_cast<void *>(grown), &zeroed, sizeof(Cb));
  head->codec_type = codec_type;
  head->codec_id = codec_id;
  return grown;
}

// The codec's control block behind a session pointer.
template <class Cb>
Cb *of_control_block(of_session_t *ses) {
  return reinterpret_cast<Cb *>(ses);
}

// A codec's session functions, typed on its control block and its parameter
// record.
template <class Cb, class Params>
struct of_codec_functions {
  using cb_type = Cb;
  using params_type = Params;
  of_status_t (*create_codec_instance)(Cb **of_cb);
  of_status_t (*release_codec_instance)(Cb *ofcb);
  of_status_t (*set_fec_parameters)(Cb *ofcb, Params *params);
  of_status_t (*set_callback_functions)(Cb *ofcb, of_decoded_source_symbol_callback_t,
                                        of_decoded_repair_symbol_callback_t, void *context);
  of_status_t (*build_repair_symbol)(Cb *ofcb, void **encoding_symbols_tab, unsigned int esi);
  of_status_t (*decode_with_new_symbol)(Cb *ofcb, void *new_symbol, unsigned int esi);
  of_status_t (*set_available_symbols)(Cb *ofcb, const void **encoding_symbols_tab);
  of_status_t (*finish_decoding)(Cb *ofcb);
  bool (*is_decoding_complete)(Cb *ofcb);
  of_status_t (*get_source_symbols_tab)(Cb *ofcb, void **source_symbols_tab);
  of_status_t (*set_control_parameter)(Cb *ofcb, unsigned int type, void *value,
                                       unsigned int length);
  of_status_t (*get_control_parameter)(Cb *ofcb, unsigned int type, void *value,
                                       unsigned int length);
};

// The generic layer's record for a codec's functions f (an of_codec_functions
// with static storage). The session pointer that the layer holds is the
// codec's control block, and the parameter record it passes is the codec's
// own.
template <const auto &f>
constexpr of_codec_ops of_make_codec_ops() {
  using Cb = typename std::remove_cvref_t<decltype(f)>::cb_type;
  using Params = typename std::remove_cvref_t<decltype(f)>::params_type;
  static_assert(std::is_trivially_copyable_v<Cb>, "control blocks are plain records");
  return {
      sizeof(Cb),
      [](of_session_t **ses) {
        auto *block = reinterpret_cast<Cb *>(*ses);
        const of_status_t status = f.create_codec_instance(&block);
        *ses = reinterpret_cast<of_session_t *>(block);
        return status;
      },
      [](of_session_t *ses) { return f.release_codec_instance(of_control_block<Cb>(ses)); },
      [](of_session_t *ses, of_parameters_t *params) {
        return f.set_fec_parameters(of_control_block<Cb>(ses), reinterpret_cast<Params *>(params));
      },
      [](of_session_t *ses, of_decoded_source_symbol_callback_t source,
         of_decoded_repair_symbol_callback_t repair, void *context) {
        return f.set_callback_functions(of_control_block<Cb>(ses), source, repair, context);
      },
      [](of_session_t *ses, void **tab, unsigned int esi) {
        return f.build_repair_symbol(of_control_block<Cb>(ses), tab, esi);
      },
      [](of_session_t *ses, void *symbol, unsigned int esi) {
        return f.decode_with_new_symbol(of_control_block<Cb>(ses), symbol, esi);
      },
      [](of_session_t *ses, const void **tab) {
        return f.set_available_symbols(of_control_block<Cb>(ses), tab);
      },
      [](of_session_t *ses) { return f.finish_decoding(of_control_block<Cb>(ses)); },
      [](of_session_t *ses) { return f.is_decoding_complete(of_control_block<Cb>(ses)); },
      [](of_session_t *ses, void **tab) {
        return f.get_source_symbols_tab(of_control_block<Cb>(ses), tab);
      },
      [](of_session_t *ses, unsigned int type, void *value, unsigned int length) {
        return f.set_control_parameter(of_control_block<Cb>(ses), type, value, length);
      },
      [](of_session_t *ses, unsigned int type, void *value, unsigned int length) {
        return f.get_control_parameter(of_control_block<Cb>(ses), type, value, length);
      },
  };
}
