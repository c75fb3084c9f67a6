#include "reed_solomon/rs_codec.h"

#include <array>
#include <climits>
#include <cstddef>
#include <cstring>

#include "reed_solomon/gf.h"
#include "reed_solomon/rs_classic.h"
#include "session/codec_ops.h"
#include "session/of_cb.h"

static_assert(of_cb_begins_like_generic<of_rs_cb_t>());

namespace {

constexpr uint32_t kMaxSymbols = 255;

size_t at_least_one(size_t size) { return size != 0 ? size : 1; }

of_rs_cb_t *cb(of_session_t *ses) { return reinterpret_cast<of_rs_cb_t *>(ses); }

}  // namespace

of_status_t of_rs_create_codec_instance(of_rs_cb_t **of_cb) {
  auto *grown = static_cast<of_rs_cb_t *>(of_realloc(*of_cb, sizeof(of_rs_cb_t)));
  if (grown == nullptr) return OF_STATUS_FATAL_ERROR;
  const of_codec_type_t codec_type = grown->codec_type;
  std::memset(static_cast<void *>(grown), 0, sizeof(*grown));
  grown->codec_type = codec_type;
  grown->codec_id = OF_CODEC_REED_SOLOMON_GF_2_8_STABLE;
  grown->max_nb_source_symbols = kMaxSymbols;
  grown->max_nb_encoding_symbols = kMaxSymbols;
  *of_cb = grown;
  return OF_STATUS_OK;
}

of_status_t of_rs_release_codec_instance(of_rs_cb_t *ofcb) {
  of_rs_free(ofcb->rs_cb);
  ofcb->rs_cb = nullptr;
  of_free(ofcb->available_symbols_tab);
  ofcb->available_symbols_tab = nullptr;
  return OF_STATUS_OK;
}

of_status_t of_rs_set_fec_parameters(of_rs_cb_t *ofcb, of_rs_parameters_t *params) {
  const uint32_t k = params->nb_source_symbols;
  if (k > ofcb->max_nb_source_symbols) return OF_STATUS_FATAL_ERROR;
  // ESIs, positions and lengths travel as int inside the coder.
  const uint64_t n = uint64_t{k} + params->nb_repair_symbols;
  if (n > INT_MAX || params->encoding_symbol_length > INT_MAX) return OF_STATUS_FATAL_ERROR;
  auto **tab = static_cast<void **>(of_calloc(at_least_one(n), sizeof(void *)));
  if (tab == nullptr) return OF_STATUS_ERROR;
  // A new code: the old coder object and decoding state no longer apply.
  of_rs_release_codec_instance(ofcb);
  ofcb->nb_source_symbols = k;
  ofcb->nb_repair_symbols = params->nb_repair_symbols;
  ofcb->nb_encoding_symbols = static_cast<uint32_t>(n);
  ofcb->encoding_symbol_length = params->encoding_symbol_length;
  ofcb->available_symbols_tab = tab;
  ofcb->nb_available_symbols = 0;
  ofcb->nb_available_source_symbols = 0;
  ofcb->decoding_finished = false;
  return OF_STATUS_OK;
}

of_status_t of_rs_set_callback_functions(
    of_rs_cb_t *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  ofcb->decoded_source_symbol_callback = decoded_source_symbol_callback;
  ofcb->decoded_repair_symbol_callback = decoded_repair_symbol_callback;
  ofcb->context_4_callback = context_4_callback;
  return OF_STATUS_OK;
}

of_status_t of_rs_build_repair_symbol(of_rs_cb_t *ofcb, void **encoding_symbols_tab,
                                      unsigned int esi_of_symbol_to_build) {
  const uint32_t esi = esi_of_symbol_to_build;
  if (esi < ofcb->nb_source_symbols || esi >= ofcb->nb_encoding_symbols) return OF_STATUS_ERROR;
  void *&entry = encoding_symbols_tab[esi];
  void *allocated = nullptr;
  if (entry == nullptr) {
    allocated = of_calloc(1, at_least_one(ofcb->encoding_symbol_length));
    if (allocated == nullptr) return OF_STATUS_ERROR;
    entry = allocated;
  }
  if (ofcb->rs_cb == nullptr)
    ofcb->rs_cb = of_rs_new(ofcb->nb_source_symbols, ofcb->nb_encoding_symbols);
  if (ofcb->rs_cb == nullptr ||
      of_rs_encode(ofcb->rs_cb, encoding_symbols_tab, entry, static_cast<int>(esi),
                   static_cast<int>(ofcb->encoding_symbol_length)) != OF_STATUS_OK) {
    // Leave the caller's table as it was: nobody would own the buffer.
    if (allocated != nullptr) {
      of_free(allocated);
      entry = nullptr;
    }
    return OF_STATUS_ERROR;
  }
  return OF_STATUS_OK;
}

of_status_t of_rs_decode_with_new_symbol(of_rs_cb_t *ofcb, void *new_symbol,
                                         unsigned int new_symbol_esi) {
  if (ofcb->decoding_finished) return OF_STATUS_OK;
  if (ofcb->available_symbols_tab == nullptr || new_symbol_esi >= ofcb->nb_encoding_symbols)
    return OF_STATUS_ERROR;
  void *&entry = ofcb->available_symbols_tab[new_symbol_esi];
  if (entry != nullptr) return OF_STATUS_OK;
  entry = new_symbol;
  ++ofcb->nb_available_symbols;
  if (new_symbol_esi < ofcb->nb_source_symbols) ++ofcb->nb_available_source_symbols;
  if (ofcb->nb_available_source_symbols == ofcb->nb_source_symbols) {
    ofcb->decoding_finished = true;
    return OF_STATUS_OK;
  }
  if (ofcb->nb_available_symbols < ofcb->nb_source_symbols) return OF_STATUS_OK;
  return of_rs_finish_decoding(ofcb) == OF_STATUS_OK ? OF_STATUS_OK : OF_STATUS_ERROR;
}

of_status_t of_rs_set_available_symbols(of_rs_cb_t *ofcb, const void **encoding_symbols_tab) {
  ofcb->nb_available_symbols = 0;
  ofcb->nb_available_source_symbols = 0;
  if (ofcb->available_symbols_tab == nullptr) return OF_STATUS_OK;
  for (uint32_t esi = 0; esi < ofcb->nb_encoding_symbols; ++esi) {
    ofcb->available_symbols_tab[esi] = const_cast<void *>(encoding_symbols_tab[esi]);
    if (encoding_symbols_tab[esi] == nullptr) continue;
    ++ofcb->nb_available_symbols;
    if (esi < ofcb->nb_source_symbols) ++ofcb->nb_available_source_symbols;
  }
  return OF_STATUS_OK;
}

of_status_t of_rs_finish_decoding(of_rs_cb_t *ofcb) {
  if (ofcb->decoding_finished) return OF_STATUS_OK;
  const uint32_t k = ofcb->nb_source_symbols;
  const uint32_t n = ofcb->nb_encoding_symbols;
  const size_t len = ofcb->encoding_symbol_length;
  if (ofcb->nb_available_symbols < k) return OF_STATUS_FAILURE;
  if (ofcb->nb_available_source_symbols == k) {
    ofcb->decoding_finished = true;
    return OF_STATUS_OK;
  }
  void **tab = ofcb->available_symbols_tab;
  auto *block = static_cast<gf *>(of_malloc(at_least_one(size_t{k} * len)));
  if (block == nullptr) return OF_STATUS_ERROR;
  std::array<void *, kMaxSymbols> pkt{};
  std::array<int, kMaxSymbols> index{};
  of_status_t status = OF_STATUS_OK;
  // Missing source symbols are paired, in ascending order, with the lowest
  // available repair symbols; the caller's buffers are only read.
  uint32_t cursor = k;
  for (uint32_t i = 0; i < k; ++i) {
    uint32_t esi = i;
    if (tab[i] == nullptr) {
      while (cursor < n && tab[cursor] == nullptr) ++cursor;
      if (cursor >= n) {
        status = OF_STATUS_ERROR;
        break;
      }
      esi = cursor++;
    }
    pkt[i] = block + size_t{i} * len;
    index[i] = static_cast<int>(esi);
    if (len > 0) std::memcpy(pkt[i], tab[esi], len);
  }
  if (status == OF_STATUS_OK) {
    of_rs_free(ofcb->rs_cb);
    ofcb->rs_cb = of_rs_new(k, n);
    if (ofcb->rs_cb == nullptr ||
        of_rs_decode(ofcb->rs_cb, pkt.data(), index.data(), static_cast<int>(len)) != OF_STATUS_OK)
      status = OF_STATUS_ERROR;
  }
  if (status == OF_STATUS_OK) {
    of_rs_free(ofcb->rs_cb);
    ofcb->rs_cb = nullptr;
    ofcb->decoding_finished = true;
    for (uint32_t i = 0; i < k; ++i) {
      if (tab[i] != nullptr) continue;
      void *out = ofcb->decoded_source_symbol_callback != nullptr
                      ? ofcb->decoded_source_symbol_callback(ofcb->context_4_callback,
                                                             static_cast<uint32_t>(len), i)
                      : of_malloc(at_least_one(len));
      if (out == nullptr) {
        status = OF_STATUS_ERROR;
        break;
      }
      if (len > 0) std::memcpy(out, pkt[i], len);
      tab[i] = out;
      ++ofcb->nb_available_symbols;
      ++ofcb->nb_available_source_symbols;
    }
  }
  of_free(block);
  return status;
}

bool of_rs_is_decoding_complete(of_rs_cb_t *ofcb) { return ofcb->decoding_finished; }

of_status_t of_rs_get_source_symbols_tab(of_rs_cb_t *ofcb, void **source_symbols_tab) {
  if (!ofcb->decoding_finished) return OF_STATUS_ERROR;
  for (uint32_t i = 0; i < ofcb->nb_source_symbols; ++i)
    source_symbols_tab[i] = ofcb->available_symbols_tab[i];
  return OF_STATUS_OK;
}

of_status_t of_rs_set_control_parameter(of_rs_cb_t *, unsigned int, void *, unsigned int) {
  return OF_STATUS_ERROR;
}

of_status_t of_rs_get_control_parameter(of_rs_cb_t *ofcb, unsigned int type, void *value,
                                        unsigned int length) {
  uint32_t answer;
  if (type == OF_CTRL_GET_MAX_SOURCE_SYMBOLS)
    answer = ofcb->max_nb_source_symbols;
  else if (type == OF_CTRL_GET_MAX_ENCODING_SYMBOLS)
    answer = ofcb->max_nb_encoding_symbols;
  else
    return OF_STATUS_ERROR;
  if (value == nullptr || length != sizeof(uint32_t)) return OF_STATUS_ERROR;
  std::memcpy(value, &answer, sizeof answer);
  return OF_STATUS_OK;
}

bool of_rs_is_source_symbol(of_rs_cb_t *ofcb, unsigned int new_symbol_esi) {
  return new_symbol_esi < ofcb->nb_source_symbols;
}

bool of_rs_is_repair_symbol(of_rs_cb_t *ofcb, unsigned int new_symbol_esi) {
  return new_symbol_esi >= ofcb->nb_source_symbols;
}

const of_codec_ops of_rs_codec_ops = {
    [](of_session_t **ses) {
      auto *block = reinterpret_cast<of_rs_cb_t *>(*ses);
      const of_status_t status = of_rs_create_codec_instance(&block);
      *ses = reinterpret_cast<of_session_t *>(block);
      return status;
    },
    [](of_session_t *ses) { return of_rs_release_codec_instance(cb(ses)); },
    [](of_session_t *ses, of_parameters_t *params) {
      return of_rs_set_fec_parameters(cb(ses), reinterpret_cast<of_rs_parameters_t *>(params));
    },
    [](of_session_t *ses, of_decoded_source_symbol_callback_t source,
       of_decoded_repair_symbol_callback_t repair,
       void *context) { return of_rs_set_callback_functions(cb(ses), source, repair, context); },
    [](of_session_t *ses, void **tab, unsigned int esi) {
      return of_rs_build_repair_symbol(cb(ses), tab, esi);
    },
    [](of_session_t *ses, void *symbol, unsigned int esi) {
      return of_rs_decode_with_new_symbol(cb(ses), symbol, esi);
    },
    [](of_session_t *ses, const void **tab) { return of_rs_set_available_symbols(cb(ses), tab); },
    [](of_session_t *ses) { return of_rs_finish_decoding(cb(ses)); },
    [](of_session_t *ses) { return of_rs_is_decoding_complete(cb(ses)); },
    [](of_session_t *ses, void **tab) { return of_rs_get_source_symbols_tab(cb(ses), tab); },
    [](of_session_t *ses, unsigned int type, void *value, unsigned int length) {
      return of_rs_set_control_parameter(cb(ses), type, value, length);
    },
    [](of_session_t *ses, unsigned int type, void *value, unsigned int length) {
      return of_rs_get_control_parameter(cb(ses), type, value, length);
    },
};
