// The session bookkeeping that both Reed-Solomon codecs do the same way: the
// symbol table, the counting of received symbols, the hand-out of rebuilt
// source symbols and the operations record. Each step works on any control
// block that carries these fields under these names: nb_source_symbols,
// nb_repair_symbols, nb_encoding_symbols, encoding_symbol_length,
// max_nb_source_symbols, max_nb_encoding_symbols, available_symbols_tab,
// nb_available_symbols, nb_available_source_symbols, decoding_finished and the
// three callback fields. What differs (the coder behind a session, its limits,
// the field of GF(2^m)) stays in each codec's own file. Both codecs join the
// session layer through session/codec_adapter.h like every other.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gf/gf.h"
#include "reed_solomon/rs_engine.h"
#include "session/codec_ops.h"
#include "zvfec/codec_session.h"

namespace rs_session {

// The wrappers may answer a zero-byte request with NULL, which would read as
// "out of memory"; every buffer is therefore at least one byte.
inline size_t at_least_one(size_t size) { return size != 0 ? size : 1; }

// Takes k, r and the symbol length for a new code. The codec has checked its
// own parameters (and set its maxima) before. k above the maximum, or n or the
// symbol length beyond an int (ESIs, positions and lengths travel as int inside
// the coders): OF_STATUS_FATAL_ERROR. A decoder session gets its symbol table
// here: OF_STATUS_ERROR, the old code kept, when it cannot be allocated.
// Otherwise release_codec_instance drops the old coder and table, since they
// belong to the old code.
template <class Cb, class Params>
of_status_t set_fec_parameters(Cb *ofcb, const Params *params,
                               of_status_t (*release_codec_instance)(Cb *)) {
  const uint32_t k = params->nb_source_symbols;
  if (k > ofcb->max_nb_source_symbols) return OF_STATUS_FATAL_ERROR;
  const uint64_t n = uint64_t{k} + params->nb_repair_symbols;
  if (n > INT_MAX || params->encoding_symbol_length > INT_MAX) return OF_STATUS_FATAL_ERROR;
  // Only a decoder keeps a table of received symbols.
  void **tab = nullptr;
  if (ofcb->codec_type & OF_CODEC_TYPE_DECODER) {
    tab = static_cast<void **>(of_calloc(at_least_one(n), sizeof(void *)));
    if (tab == nullptr) return OF_STATUS_ERROR;
  }
  release_codec_instance(ofcb);
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

template <class Cb>
of_status_t set_callback_functions(
    Cb *ofcb, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback) {
  ofcb->decoded_source_symbol_callback = decoded_source_symbol_callback;
  ofcb->decoded_repair_symbol_callback = decoded_repair_symbol_callback;
  ofcb->context_4_callback = context_4_callback;
  return OF_STATUS_OK;
}

// Builds repair symbol esi (k <= esi < n) with `code`, or with the one that
// get_code() acquires on first need, through the repair symbols the session
// computed ahead. A NULL entry receives a buffer that then belongs to the
// caller. OF_STATUS_ERROR, the table as before, for an ESI outside k .. n-1, a
// missing source symbol, no code, or no memory for the buffer.
template <class Cb, class GetCode>
of_status_t build_repair_symbol(Cb *ofcb, void **encoding_symbols_tab, uint32_t esi,
                                GetCode get_code) {
  if (esi < ofcb->nb_source_symbols || esi >= ofcb->nb_encoding_symbols) return OF_STATUS_ERROR;
  for (uint32_t i = 0; i < ofcb->nb_source_symbols; ++i)
    if (encoding_symbols_tab[i] == nullptr) return OF_STATUS_ERROR;
  const rs_code *code = get_code();
  if (code == nullptr) return OF_STATUS_ERROR;
  void *&entry = encoding_symbols_tab[esi];
  // Not cleared: the code writes every byte of the symbol.
  if (entry == nullptr) entry = of_malloc(at_least_one(ofcb->encoding_symbol_length));
  if (entry == nullptr) return OF_STATUS_ERROR;
  rs_build_repair(code, &ofcb->repair_ahead,
                  reinterpret_cast<const gf *const *>(encoding_symbols_tab), esi,
                  static_cast<gf *>(entry), ofcb->encoding_symbol_length);
  return OF_STATUS_OK;
}

// Keeps the pointer (never writes through it) and runs finish_decoding when
// the k-th distinct symbol arrives. A repeated ESI or a symbol after
// completion is ignored; k source symbols complete decoding without a coder.
template <class Cb>
of_status_t decode_with_new_symbol(Cb *ofcb, void *new_symbol, unsigned int new_symbol_esi,
                                   of_status_t (*finish_decoding)(Cb *)) {
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
  return finish_decoding(ofcb) == OF_STATUS_OK ? OF_STATUS_OK : OF_STATUS_ERROR;
}

// Takes the caller's n-entry table of received symbols in place of what was
// received; does not decode. Once decoding has finished, the table holds the
// rebuilt source symbols, which the caller may not have taken yet: replacing
// them would lose them while completion is still reported, so the call is
// refused with OF_STATUS_ERROR and nothing changes.
template <class Cb>
of_status_t set_available_symbols(Cb *ofcb, const void **encoding_symbols_tab) {
  if (ofcb->decoding_finished) return OF_STATUS_ERROR;
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

// Decodes with what has arrived: OF_STATUS_FAILURE with fewer than k symbols,
// OF_STATUS_OK without a coder when all k source symbols are there, else
// whatever rebuild(ofcb), the codec's own decoding, answers.
template <class Cb>
of_status_t finish_decoding(Cb *ofcb, of_status_t (*rebuild)(Cb *)) {
  if (ofcb->decoding_finished) return OF_STATUS_OK;
  if (ofcb->nb_available_symbols < ofcb->nb_source_symbols) return OF_STATUS_FAILURE;
  if (ofcb->nb_available_source_symbols == ofcb->nb_source_symbols) {
    ofcb->decoding_finished = true;
    return OF_STATUS_OK;
  }
  return rebuild(ofcb);
}

// Rebuilds the missing source symbols of the session's table from k received
// ones with `code` and hands each to the caller: in the buffer that the
// decoded-source callback returns, or else in one from of_malloc. The entry
// then points at it and counts as available, and decoding is finished. The
// received buffers are only read. OF_STATUS_ERROR, with nothing handed out,
// when too few symbols arrived, the system is singular or memory is short;
// OF_STATUS_ERROR, with the entries from the first one that got no buffer on
// left empty, when a buffer cannot be had.
template <class Cb>
of_status_t rebuild_source_symbols(Cb *ofcb, const rs_code *code) {
  const uint32_t k = ofcb->nb_source_symbols;
  const size_t len = ofcb->encoding_symbol_length;
  void **tab = ofcb->available_symbols_tab;
  if (k > kRsMaxSourceSymbols) return OF_STATUS_ERROR;
  const gf *src[kRsMaxSourceSymbols];
  const gf *repair[kRsMaxSourceSymbols];
  uint32_t repair_esi[kRsMaxSourceSymbols];
  int missing = 0, offered = 0;
  for (uint32_t i = 0; i < k; ++i) {
    src[i] = static_cast<const gf *>(tab[i]);
    missing += src[i] == nullptr;
  }
  // The lowest received repair symbols, as many as sources are missing.
  for (uint32_t esi = k; esi < ofcb->nb_encoding_symbols && offered < missing; ++esi) {
    if (tab[esi] == nullptr) continue;
    repair[offered] = static_cast<const gf *>(tab[esi]);
    repair_esi[offered++] = esi;
  }
  rs_decode_plan plan;
  if (plan.prepare(code, src, repair_esi, repair, offered, len) != rs_decode_plan::kOk)
    return OF_STATUS_ERROR;
  gf *out[kRsMaxSourceSymbols] = {};
  of_status_t status = OF_STATUS_OK;
  for (uint32_t i = 0; i < k && status == OF_STATUS_OK; ++i) {
    if (src[i] != nullptr) continue;
    void *buffer = ofcb->decoded_source_symbol_callback != nullptr
                       ? ofcb->decoded_source_symbol_callback(ofcb->context_4_callback,
                                                              static_cast<uint32_t>(len), i)
                       : of_malloc(at_least_one(len));
    if (buffer == nullptr) status = OF_STATUS_ERROR;
    out[i] = static_cast<gf *>(buffer);
  }
  plan.run(src, out);
  ofcb->decoding_finished = true;
  for (uint32_t i = 0; i < k; ++i) {
    if (out[i] == nullptr) continue;
    tab[i] = out[i];
    ++ofcb->nb_available_symbols;
    ++ofcb->nb_available_source_symbols;
  }
  return status;
}

template <class Cb>
bool is_decoding_complete(Cb *ofcb) {
  return ofcb->decoding_finished;
}

// The k source symbols once decoding is finished, else OF_STATUS_ERROR.
template <class Cb>
of_status_t get_source_symbols_tab(Cb *ofcb, void **source_symbols_tab) {
  if (!ofcb->decoding_finished) return OF_STATUS_ERROR;
  for (uint32_t i = 0; i < ofcb->nb_source_symbols; ++i)
    source_symbols_tab[i] = ofcb->available_symbols_tab[i];
  return OF_STATUS_OK;
}

// Answers the largest k or n as a uint32_t of length 4. Any other identifier,
// a wrong length, or a maximum of 0 (not known until the codec knows its
// field) is OF_STATUS_ERROR.
template <class Cb>
of_status_t get_max_symbols(Cb *ofcb, unsigned int type, void *value, unsigned int length) {
  uint32_t answer;
  if (type == OF_CTRL_GET_MAX_SOURCE_SYMBOLS)
    answer = ofcb->max_nb_source_symbols;
  else if (type == OF_CTRL_GET_MAX_ENCODING_SYMBOLS)
    answer = ofcb->max_nb_encoding_symbols;
  else
    return OF_STATUS_ERROR;
  if (value == nullptr || length != sizeof(uint32_t) || answer == 0) return OF_STATUS_ERROR;
  std::memcpy(value, &answer, sizeof answer);
  return OF_STATUS_OK;
}

}  // namespace rs_session
