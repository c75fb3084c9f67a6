// The media core's coding of one group: source symbols in, repair symbols out,
// and the missing source symbols rebuilt from any k of a group's symbols, for
// both codes the wire variants use. Callers have checked everything first
// (counts within the variant's limits, a valid symbol length, buffers as long
// as stated, distinct indices): nothing here checks again, and nothing here
// logs. The exported functions and the stream layer both code through here.
#pragma once

#include <bitset>
#include <cstdint>
#include <span>

#include "media/wire.h"
#include "zvfec/cauchy.h"
#include "zvfec/codec_session.h"

namespace zv {

// One symbol of S bytes: its first `readable` bytes at `data`; the rest count
// as zero and are never read.
struct SourceSymbol {
  const uint8_t *data;
  int readable;
};

// Builds the process-wide tables that the codes multiply with, once; safe from
// any thread. The exported functions build them when a version-2 handle is
// created; every other caller of this layer calls this first.
void prepare_coding();

// ---- The Cauchy code (version 2) ----

// Writes the repair symbols (indices k .. k+r-1) of the k sources over S bytes
// each at repair[j]. Returns 0, or the codec's non-zero code (nothing written).
int cauchy_encode(int symbol_len, std::span<const SourceSymbol> sources,
                  std::span<uint8_t *const> repair);

// Rebuilds the missing sources in place: blocks holds k entries of distinct
// indices, media symbols (Index < k, lengths[i] readable bytes) and repair
// symbols (Index >= k, S writable bytes). On 0 the i-th repair entry, in
// blocks order, holds the i-th missing source in ascending index order, and
// its Index names it. Returns 0 or the codec's non-zero code (nothing changed).
int cauchy_decode(int k, int r, int symbol_len, cm256_block *blocks, const int *lengths);

// ---- Reed-Solomon over GF(2^8) through a codec session (video version 1) ----

// One group's codec session and symbol table, released on every way out. The
// session reads whole symbols: every symbol given to it holds S bytes.
class RsSession {
 public:
  RsSession() = default;
  RsSession(const RsSession &) = delete;
  RsSession &operator=(const RsSession &) = delete;
  ~RsSession();

  // Allocates the table of k + r entries, creates an encoder or a decoder and
  // gives it (k, r, S). Returns 0, code::kTooFewSymbols (table not
  // allocated), code::kCodecFailure (session not created) or
  // code::kSessionParametersRefused.
  int open(of_codec_type_t role, int k, int r, int symbol_len);

  // Encoder: the k whole source symbols (readable = S).
  void set_sources(std::span<const SourceSymbol> sources);
  // Encoder: builds repair symbol `esi` straight into `out` (S bytes). Returns
  // 0 or code::kRepairNotBuilt.
  int build(int esi, uint8_t *out);

  // Decoder: one received whole symbol, kept by the session (not copied) until
  // it is released. Returns 0 or code::kSymbolRefused.
  int feed(int index, const uint8_t *symbol);
  bool complete() const;
  // Decoder, once complete: calls on_rebuilt(index, symbol) for every source
  // that was rebuilt rather than fed, in index order, and frees the rebuilt
  // symbol (from the session's heap) after the call. Returns 0 or
  // code::kSourcesUnavailable.
  template <class OnRebuilt>
  int take_rebuilt(OnRebuilt &&on_rebuilt);

 private:
  int source_table();  // of_get_source_symbols_tab into table_: 0 or a code

  of_session_t *session_ = nullptr;
  void **table_ = nullptr;
  int k_ = 0;
  std::bitset<kHeaderIndices> fed_;
};

template <class OnRebuilt>
int RsSession::take_rebuilt(OnRebuilt &&on_rebuilt) {
  if (int rc = source_table(); rc != 0) return rc;
  for (int e = 0; e < k_; ++e) {
    if (table_[e] == nullptr || fed_[static_cast<size_t>(e)]) continue;
    on_rebuilt(e, static_cast<const uint8_t *>(table_[e]));
    of_free(table_[e]);
    table_[e] = nullptr;
  }
  return 0;
}

// ---- Either code, for callers that hold whole groups ----

// Writes the repair symbols of a group of the layout's code: k sources, r
// repair symbols of S bytes. For the session code every source must be whole
// (readable = S). Returns 0 or a negative code of this layer.
int encode_group(const FecLayout &layout, int symbol_len, std::span<const SourceSymbol> sources,
                 std::span<uint8_t *const> repair);

// The one repair symbol of index esi (k .. k+r-1) of a complete group of k
// sources and r repair symbols, written over S bytes at out: what a genuine FEC
// packet of the group carries. Sources as for encode_group. Returns 0 or a
// negative code.
int encode_row(const FecLayout &layout, int r, int symbol_len,
               std::span<const SourceSymbol> sources, int esi, uint8_t *out);

// One of a group's k chosen symbols: a source (index < k; readable bytes, all
// S of them for the session code) or a repair symbol (index >= k; S writable
// bytes).
struct GroupSymbol {
  uint8_t *data;
  int readable;
  int index;
};

// Rebuilds the missing sources of a group of k sources and r repair symbols
// from k symbols of distinct indices, in place: on 0 the i-th repair entry, in
// array order, holds over S bytes the i-th missing source in ascending index
// order, and its index names it. Returns 0 or a negative code (entries then
// undefined).
int decode_group(const FecLayout &layout, int r, int symbol_len, std::span<GroupSymbol> symbols);

}  // namespace zv
