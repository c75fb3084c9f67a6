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
#include "session/codec_ops.h"
#include "zvfec/codec_session.h"

namespace rs_session {

// The wrappers may answer a zero-byte request with NULL, which would read as
// "out of memory"; every buffer is therefore at least one byte.
inline size_t at_least_one(size_t size) { return size != 0 ? size : 1; }

// Takes k, r and the symbol length for a new code. The codec has checked its
// own parameters (and set its maxima) before. k above the maximum, or n or the
// symbol length beyond an int (ESIs, positions and lengths travel as int inside
// the coders): OF_STATUS_FATAL_ERROR. OF_STATUS_ERROR, the old code kept, when
// the symbol table cannot be allocated. Otherwise release_codec_instance drops
// the old coder and table, since they belong to the old code.
template <class Cb, class Params>
of_status_t set_fec_parameters(Cb *ofcb, const Params *params,
                               of_status_t (*release_codec_instance)(Cb *)) {
  const uint32_t k = params->nb_source_symbols;
  if (k > ofcb->max_nb_source_symbols) return OF_STATUS_FATAL_ERROR;
  const uint64_t n = uint64_t{k} + params->nb_repair_symbols;
  if (n > INT_MAX || params->encoding_symbol_length > INT_MAX) return OF_STATUS_FATAL_ERROR;
  auto **tab = static_cast<void **>(of_calloc(at_least_one(n), sizeof(void *)));
  if (tab == nullptr) return OF_STATUS_ERROR;
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

// Builds repair symbol esi (k <= esi < n) with encode(void *out), which writes
// the symbol into out and answers a status. A NULL entry first receives a
// zero-filled buffer that then belongs to the caller; when anything fails the
// buffer is freed again and the entry is NULL as before, since nobody would
// own it. Every failure is OF_STATUS_ERROR.
template <class Cb, class Encode>
of_status_t build_repair_symbol(Cb *ofcb, void **encoding_symbols_tab, uint32_t esi,
                                Encode encode) {
  if (esi < ofcb->nb_source_symbols || esi >= ofcb->nb_encoding_symbols) return OF_STATUS_ERROR;
  void *&entry = encoding_symbols_tab[esi];
  void *allocated = nullptr;
  if (entry == nullptr) {
    allocated = of_calloc(1, at_least_one(ofcb->encoding_symbol_length));
    if (allocated == nullptr) return OF_STATUS_ERROR;
    entry = allocated;
  }
  if (encode(entry) == OF_STATUS_OK) return OF_STATUS_OK;
  if (allocated != nullptr) {
    of_free(allocated);
    entry = nullptr;
  }
  return OF_STATUS_ERROR;
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

// Copies k received symbols of the session's table into the k slots of block
// (len bytes each) for a coder that decodes in place: slot i holds source
// symbol i when it arrived, else the next lowest available repair symbol, and
// pkt[i], index[i] name the slot and its ESI. The caller's buffers are only
// read. OF_STATUS_ERROR when the repair symbols run out.
template <class Cb, class Slot>
of_status_t gather_received_symbols(const Cb *ofcb, gf *block, Slot **pkt, int *index) {
  const uint32_t k = ofcb->nb_source_symbols;
  const uint32_t n = ofcb->nb_encoding_symbols;
  const size_t len = ofcb->encoding_symbol_length;
  void *const *tab = ofcb->available_symbols_tab;
  uint32_t cursor = k;
  for (uint32_t i = 0; i < k; ++i) {
    uint32_t esi = i;
    if (tab[i] == nullptr) {
      while (cursor < n && tab[cursor] == nullptr) ++cursor;
      if (cursor >= n) return OF_STATUS_ERROR;
      esi = cursor++;
    }
    pkt[i] = block + size_t{i} * len;
    index[i] = static_cast<int>(esi);
    if (len > 0) std::memcpy(pkt[i], tab[esi], len);
  }
  return OF_STATUS_OK;
}

// Marks decoding finished and hands each rebuilt source symbol (pkt[i] for
// every empty entry i < k) to the caller: a copy in the buffer that the
// decoded-source callback returns, or else in one from of_malloc. The entry
// then points at it and counts as available. OF_STATUS_ERROR, with the
// remaining entries left empty, when a buffer cannot be had.
template <class Cb, class Slot>
of_status_t hand_out_source_symbols(Cb *ofcb, Slot *const *pkt) {
  const size_t len = ofcb->encoding_symbol_length;
  void **tab = ofcb->available_symbols_tab;
  ofcb->decoding_finished = true;
  for (uint32_t i = 0; i < ofcb->nb_source_symbols; ++i) {
    if (tab[i] != nullptr) continue;
    void *out = ofcb->decoded_source_symbol_callback != nullptr
                    ? ofcb->decoded_source_symbol_callback(ofcb->context_4_callback,
                                                           static_cast<uint32_t>(len), i)
                    : of_malloc(at_least_one(len));
    if (out == nullptr) return OF_STATUS_ERROR;
    if (len > 0) std::memcpy(out, pkt[i], len);
    tab[i] = out;
    ++ofcb->nb_available_symbols;
    ++ofcb->nb_available_source_symbols;
  }
  return OF_STATUS_OK;
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
