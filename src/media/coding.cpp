#include "media/coding.h"

#include <algorithm>
#include <cstring>

#include "cauchy/cauchy_bounded.h"
#include "media/codes.h"

namespace zv {

namespace {

constexpr unsigned kFieldBits = 8;

// The pointer and length arrays of the block codec, from the core's symbols.
struct Sources {
  const uint8_t *data[kHeaderIndices];
  int readable[kHeaderIndices];

  explicit Sources(std::span<const SourceSymbol> sources) {
    for (size_t i = 0; i < sources.size(); ++i) {
      data[i] = sources[i].data;
      readable[i] = sources[i].readable;
    }
  }
};

// The block descriptors of the block codec's decoder, from the core's symbols.
struct Blocks {
  cm256_block blocks[kHeaderIndices];
  int lengths[kHeaderIndices];

  // k >= 1: every group has a source.
  Blocks(std::span<const GroupSymbol> symbols, int k) {
    for (int i = 0; i < std::max(k, 1); ++i) {
      blocks[i] = {symbols[i].data, static_cast<uint8_t>(symbols[i].index),
                   static_cast<uint8_t>(symbols[i].index >= k)};
      lengths[i] = symbols[i].readable;
    }
  }
};

}  // namespace

void prepare_coding() {
  // A function-local static is built once, whichever thread gets here first.
  static const int built = cm256_init_(2);
  (void)built;
}

int cauchy_encode(int symbol_len, std::span<const SourceSymbol> sources,
                  std::span<uint8_t *const> repair) {
  Sources src(sources);
  const auto k = static_cast<int>(sources.size());
  const auto r = static_cast<int>(repair.size());
  return zvfec_encode_rows_bounded({k, r, symbol_len}, src.data, src.readable, k, r, repair.data());
}

int cauchy_decode(int k, int r, int symbol_len, cm256_block *blocks, const int *lengths) {
  return zvfec_decode_bounded({k, r, symbol_len}, blocks, lengths, false);
}

RsSession::~RsSession() {
  if (session_ != nullptr) of_release_codec_instance(session_);
  of_free(table_);
}

int RsSession::open(of_codec_type_t role, int k, int r, int symbol_len) {
  k_ = k;
  const int n = k + r;
  table_ = static_cast<void **>(of_calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(void *)));
  if (table_ == nullptr) return code::kTooFewSymbols;
  if (of_create_codec_instance(&session_, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, role, 0) !=
      OF_STATUS_OK) {
    session_ = nullptr;
    return code::kCodecFailure;
  }
  of_rs_2_m_parameters_t params{};
  params.nb_source_symbols = static_cast<uint32_t>(k);
  params.nb_repair_symbols = static_cast<uint32_t>(r);
  params.encoding_symbol_length = static_cast<uint32_t>(symbol_len);
  params.m = kFieldBits;
  if (of_set_fec_parameters(session_, reinterpret_cast<of_parameters_t *>(&params)) != OF_STATUS_OK)
    return code::kSessionParametersRefused;
  return code::kOk;
}

void RsSession::set_sources(std::span<const SourceSymbol> sources) {
  for (int i = 0; i < k_; ++i)
    table_[i] = const_cast<uint8_t *>(sources[static_cast<size_t>(i)].data);
}

int RsSession::build(int esi, uint8_t *out) {
  table_[esi] = out;
  const bool ok =
      of_build_repair_symbol(session_, table_, static_cast<unsigned>(esi)) == OF_STATUS_OK;
  table_[esi] = nullptr;
  return ok ? code::kOk : code::kRepairNotBuilt;
}

int RsSession::feed(int index, const uint8_t *symbol) {
  if (of_decode_with_new_symbol(session_, symbol, static_cast<unsigned>(index)) == OF_STATUS_ERROR)
    return code::kSymbolRefused;
  fed_[static_cast<size_t>(index)] = true;
  return code::kOk;
}

bool RsSession::complete() const { return of_is_decoding_complete(session_); }

int RsSession::source_table() {
  return of_get_source_symbols_tab(session_, table_) == OF_STATUS_OK ? code::kOk
                                                                     : code::kSourcesUnavailable;
}

int encode_group(const FecLayout &layout, int symbol_len, std::span<const SourceSymbol> sources,
                 std::span<uint8_t *const> repair) {
  if (layout.cauchy)
    return cauchy_encode(symbol_len, sources, repair) == 0 ? code::kOk : code::kCodecFailure;
  const auto k = static_cast<int>(sources.size()), r = static_cast<int>(repair.size());
  RsSession rs;
  if (int rc = rs.open(OF_CODEC_TYPE_ENCODER, k, r, symbol_len); rc != 0) return rc;
  rs.set_sources(sources);
  for (int j = 0; j < r; ++j)
    if (int rc = rs.build(k + j, repair[static_cast<size_t>(j)]); rc != 0) return rc;
  return code::kOk;
}

int encode_row(const FecLayout &layout, int r, int symbol_len,
               std::span<const SourceSymbol> sources, int esi, uint8_t *out) {
  const auto k = static_cast<int>(sources.size());
  if (layout.cauchy) {
    Sources src(sources);
    return zvfec_encode_rows_bounded({k, r, symbol_len}, src.data, src.readable, esi, 1, &out) == 0
               ? code::kOk
               : code::kCodecFailure;
  }
  RsSession rs;
  if (int rc = rs.open(OF_CODEC_TYPE_ENCODER, k, r, symbol_len); rc != 0) return rc;
  rs.set_sources(sources);
  return rs.build(esi, out);
}

int decode_group(const FecLayout &layout, int r, int symbol_len, std::span<GroupSymbol> symbols) {
  const auto k = static_cast<int>(symbols.size());
  if (layout.cauchy) {
    Blocks b(symbols, k);
    if (cauchy_decode(k, r, symbol_len, b.blocks, b.lengths) != 0) return code::kCodecFailure;
    for (int i = 0; i < k; ++i) symbols[static_cast<size_t>(i)].index = b.blocks[i].Index;
    return code::kOk;
  }
  RsSession rs;
  if (int rc = rs.open(OF_CODEC_TYPE_DECODER, k, r, symbol_len); rc != 0) return rc;
  for (const GroupSymbol &g : symbols)
    if (int rc = rs.feed(g.index, g.data); rc != 0) return rc;
  if (!rs.complete()) return code::kDecodingIncomplete;
  // Decoding is done once the k-th symbol is in, so the repair entries the
  // session was fed are free to take the rebuilt sources, in the order the
  // Cauchy decoder gives them.
  size_t next = 0;
  return rs.take_rebuilt([&](int index, const uint8_t *symbol) {
    while (symbols[next].index < k) ++next;
    std::memcpy(symbols[next].data, symbol, static_cast<size_t>(symbol_len));
    symbols[next++].index = index;
  });
}

}  // namespace zv
