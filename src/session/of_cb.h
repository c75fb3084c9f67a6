// The generic control block. Every codec's control block begins with
// codec_id, codec_type, nb_source_symbols and nb_repair_symbols, in this order
// and with these types, so the generic layer reads the role flags, k and r of
// any session through this record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zvfec/codec_session.h"

struct of_cb_t {
  of_codec_id_t codec_id;
  of_codec_type_t codec_type;
  uint32_t nb_source_symbols;
  uint32_t nb_repair_symbols;
  uint32_t encoding_symbol_length;
};

// Checks, at compile time, that a codec's control block starts with the
// common fields at the offsets the generic layer reads them from.
template <class Cb>
constexpr bool of_cb_begins_like_generic() {
  return offsetof(Cb, codec_id) == offsetof(of_cb_t, codec_id) &&
         offsetof(Cb, codec_type) == offsetof(of_cb_t, codec_type) &&
         offsetof(Cb, nb_source_symbols) == offsetof(of_cb_t, nb_source_symbols) &&
         offsetof(Cb, nb_repair_symbols) == offsetof(of_cb_t, nb_repair_symbols);
}
