// Video version 1: Reed-Solomon over GF(2^8) with a Vandermonde-derived matrix,
// run through a codec session that each call opens and releases. Repair
// symbols are built in place in the FEC packets. Unlike the version-2 variants
// this one allocates per call: the symbol table, the session, decoded symbols
// until they are extracted, and a zero-padded copy of every media packet
// shorter than the group's symbol, since the session reads whole symbols and a
// media buffer is never read past its stated length.
#include <climits>
#include <cstdint>
#include <cstring>

#include "media/coding.h"
#include "media/group.h"
#include "media/handle.h"
#include "media/log.h"
#include "media/variants.h"

namespace zv {
namespace {

// Zero-padded copies of the media packets shorter than the group's symbol,
// freed on every way out.
struct Padding {
  uint8_t *area = nullptr;
  uint8_t *next = nullptr;

  Padding() = default;
  Padding(const Padding &) = delete;
  Padding &operator=(const Padding &) = delete;
  ~Padding() { of_free(area); }

  // Room for a copy of each of `count` packets; false when memory is short.
  bool allocate(int count, int symbol_len) {
    if (count == 0 || symbol_len == 0) return true;
    area = static_cast<uint8_t *>(
        of_calloc(static_cast<size_t>(count), static_cast<size_t>(symbol_len)));
    next = area;
    return area != nullptr;
  }

  // A symbol of `symbol_len` bytes for a buffer of stated length `len`: the
  // buffer itself when it holds the whole symbol, else the next padded copy.
  const uint8_t *whole(const uint8_t *buffer, int len, int symbol_len) {
    if (len >= symbol_len) return buffer;
    uint8_t *copy = next;
    if (len > 0) std::memcpy(copy, buffer, static_cast<size_t>(len));
    next += symbol_len;
    return copy;
  }
};

int no_memory(int n) {
  ZV_LOG(ZV_FEC_LOG_ERROR, "no memory (calloc failed for enc_symbols_tab, n=%u)\n",
         static_cast<unsigned>(n));
  return code::kTooFewSymbols;
}

// Opens the call's session in the given role; logs and returns the code of a
// failure.
int open_session(RsSession &rs, of_codec_type_t role, int k, int r, int symbol_len) {
  const int rc = rs.open(role, k, r, symbol_len);
  if (rc == code::kTooFewSymbols) return no_memory(k + r);
  if (rc == code::kCodecFailure) ZV_LOG(ZV_FEC_LOG_ERROR, "of_create_codec_instance() failed\n");
  if (rc == code::kSessionParametersRefused)
    ZV_LOG(ZV_FEC_LOG_ERROR, "of_set_fec_parameters() failed for codec_id %d\n",
           OF_CODEC_REED_SOLOMON_GF_2_M_STABLE);
  return rc;
}

int encode(void *handle, const EncodeArgs &args) {
  if (!handle_ready(handle)) return code::kNotInitialised;
  EncodeGroup g{};
  if (int rc = prepare_encode(args, kVideoV1Layout, {INT_MAX, INT_MAX, kHeaderIndices}, false, &g);
      rc != 0)
    return rc;
  ZV_LOG(ZV_FEC_LOG_INFO, "max_packet_length   %d\n", g.symbol_len);

  RsSession rs;
  if (int rc = open_session(rs, OF_CODEC_TYPE_ENCODER, g.k, g.r, g.symbol_len); rc != 0) return rc;
  int short_packets = 0;
  for (int i = 0; i < g.k; ++i) short_packets += args.med_packet_len[i] < g.symbol_len;
  Padding padding;
  if (!padding.allocate(short_packets, g.symbol_len)) return no_memory(g.k + g.r);
  {
    SourceSymbol sources[kHeaderIndices];
    for (int i = 0; i < g.k; ++i)
      sources[i] = {padding.whole(args.med_packet[i], args.med_packet_len[i], g.symbol_len),
                    g.symbol_len};
    rs.set_sources({sources, static_cast<size_t>(g.k)});
  }

  // Each repair symbol is built in place, right behind its FEC header.
  for (int j = 0; j < g.r; ++j) {
    const int esi = g.k + j;
    if (rs.build(esi, args.fec_packet[j] + kVideoV1Layout.symbol_offset()) != 0) {
      ZV_LOG(ZV_FEC_LOG_ERROR, "ERROR: of_build_repair_symbol() failed for esi=%u\n",
             static_cast<unsigned>(esi));
      // Packets 0 .. j-1 are complete; the others stay as the zero fill left them.
      for (int rest = j; rest < g.r; ++rest) {
        std::memset(args.fec_packet[rest] + kVideoV1Layout.symbol_offset(), 0,
                    static_cast<size_t>(g.symbol_len));
      }
      return code::kRepairNotBuilt;
    }
    write_group_header(args, kVideoV1Layout, g, j);
  }
  return code::kOk;
}

// Feeds every placed symbol to the session at once. There is no duplicate
// test: a repeated packet is fed again (the session ignores it) and counted.
struct Feeder {
  RsSession &rs;
  Padding &padding;
  const DecodeGroup &g;
  unsigned n_received = 0;
  bool complete = false;

  bool placed(int) const { return false; }
  bool done() const { return complete; }
  int take(int index, uint8_t *data, int len) {
    if (index > kVideoV1MaxIndex) return invalid_index(index);
    if (rs.feed(index, padding.whole(data, len, g.symbol_len)) != 0) {
      ZV_LOG(ZV_FEC_LOG_ERROR, "of_decode_with_new_symbol() failed\n");
      return code::kSymbolRefused;
    }
    ++n_received;
    complete = n_received >= static_cast<unsigned>(g.k) && rs.complete();
    return code::kOk;
  }
};

// Offsets k .. 127 are no media symbols of the group; from 128 on the call ends.
constexpr PlacementRule kPlacement{PlacementRule::kBeforePlacementUnsigned, kVideoV1MaxIndex};

int decode(void *handle, const DecodeArgs &args) {
  DecodeGroup g{};
  if (int rc = begin_decode(args, kVideoV1Layout, &g); rc != 0) return rc;
  if (!handle_ready(handle)) return code::kNotInitialised;

  RsSession rs;
  if (int rc = open_session(rs, OF_CODEC_TYPE_DECODER, g.k, g.r, g.symbol_len); rc != 0) return rc;
  if (int rc = check_enough_packets(args, g, false); rc != 0) return rc;

  int short_packets = 0;
  for (int i = 0; i < args.received_med_num; ++i)
    short_packets += args.received_med_pkt_len[i] < g.symbol_len;
  Padding padding;
  if (!padding.allocate(short_packets, g.symbol_len)) return no_memory(g.n);

  Feeder feeder{rs, padding, g};
  if (int rc = place_received(args, kVideoV1Layout, g, kPlacement, feeder); rc != 0) return rc;
  if (!feeder.complete) {
    ZV_LOG(ZV_FEC_LOG_ERROR,
           "\nFailed to recover all erased source symbols even after receiving %u packets\n",
           feeder.n_received);
    return code::kDecodingIncomplete;
  }
  const RecoveredOut out{args.recovered_pkt, args.recovered_pkt_len, args.recovered_pkt_num};
  if (rs.take_rebuilt([&](int, const uint8_t *symbol) {
        extract_recovered(symbol, g.symbol_len, g.base_seq, {true, ZV_FEC_LOG_ERROR}, out);
      }) != 0) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "of_get_source_symbols_tab() failed\n");
    return code::kSourcesUnavailable;
  }
  return code::kOk;
}

}  // namespace
}  // namespace zv

int zv_rsfec_encode_video_v1(ZV_ENCODE_ARGS) {
  (void)encode_header_only, (void)write_fec_offset;
  return zv::encode(
      handle, {med_packet, med_packet_len, packet_number, fec_number, fec_packet, fec_packet_len});
}

int zv_rsfec_decode_video_v1(ZV_DECODE_ARGS) {
  (void)use_fec_offset;
  return zv::decode(handle, {received_med_pkt, received_med_pkt_len, received_med_num,
                             received_fec_pkt, received_fec_pkt_len, received_fec_num,
                             recovered_pkt, recovered_pkt_len, recovered_pkt_num});
}
