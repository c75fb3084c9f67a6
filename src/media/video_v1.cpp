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

#include "media/group.h"
#include "media/handle.h"
#include "media/log.h"
#include "media/variants.h"
#include "zvfec/codec_session.h"

namespace zv {
namespace {

constexpr int kMaxUsableIndex = 127;  // symbols beyond this index are never used
// Symbol indices 0 .. 255 fit the header's 8-bit esi; a group with more would
// wrap repair indices into the media range.
constexpr int kMaxHeaderIndices = 256;
constexpr unsigned kFieldBits = 8;

// What a call holds, released on every way out.
struct CallResources {
  void **table = nullptr;
  of_session_t *session = nullptr;
  uint8_t *padded = nullptr;  // zero-padded copies of short media packets

  CallResources() = default;
  CallResources(const CallResources &) = delete;
  CallResources &operator=(const CallResources &) = delete;
  ~CallResources() {
    if (session != nullptr) of_release_codec_instance(session);
    of_free(table);
    of_free(padded);
  }
};

int no_memory(int n) {
  ZV_LOG(ZV_FEC_LOG_ERROR, "no memory (calloc failed for enc_symbols_tab, n=%u)\n",
         static_cast<unsigned>(n));
  return -3;
}

// Allocates the n-entry symbol table; logs and returns -3 when memory is short.
int allocate_table(CallResources &res, int n) {
  res.table = static_cast<void **>(of_calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(void *)));
  return res.table != nullptr ? 0 : no_memory(n);
}

int invalid_index(int index) {
  ZV_LOG(ZV_FEC_LOG_ERROR, "esi=%d invalid\n", index);
  return -102;
}

// Opens the session in the given role and sets the group's parameters.
int open_session(CallResources &res, of_codec_type_t role, int k, int r, int symbol_len) {
  if (of_create_codec_instance(&res.session, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, role, 0) !=
      OF_STATUS_OK) {
    res.session = nullptr;
    ZV_LOG(ZV_FEC_LOG_ERROR, "of_create_codec_instance() failed\n");
    return -4;
  }
  of_rs_2_m_parameters_t params{};
  params.nb_source_symbols = static_cast<uint32_t>(k);
  params.nb_repair_symbols = static_cast<uint32_t>(r);
  params.encoding_symbol_length = static_cast<uint32_t>(symbol_len);
  params.m = kFieldBits;
  if (of_set_fec_parameters(res.session, reinterpret_cast<of_parameters_t *>(&params)) !=
      OF_STATUS_OK) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "of_set_fec_parameters() failed for codec_id %d\n",
           OF_CODEC_REED_SOLOMON_GF_2_M_STABLE);
    return -5;
  }
  return 0;
}

// A symbol of `symbol_len` bytes for a media buffer of stated length `len`: the
// buffer itself when it holds the whole symbol, else the next zero-padded copy
// from `pool`.
const uint8_t *whole_symbol(const uint8_t *media, int len, int symbol_len, uint8_t **pool) {
  if (len >= symbol_len) return media;
  uint8_t *copy = *pool;
  if (len > 0) std::memcpy(copy, media, static_cast<size_t>(len));
  *pool += symbol_len;
  return copy;
}

// Allocates room for a zero-padded copy of each of `count` media packets.
bool allocate_padding(CallResources &res, int count, int symbol_len) {
  if (count == 0 || symbol_len == 0) return true;
  res.padded = static_cast<uint8_t *>(
      of_calloc(static_cast<size_t>(count), static_cast<size_t>(symbol_len)));
  return res.padded != nullptr;
}

int encode(void *handle, const EncodeArgs &args) {
  if (!handle_ready(handle)) return -1;
  EncodeGroup g{};
  if (int rc =
          prepare_encode(args, kVideoV1Layout, {INT_MAX, INT_MAX, kMaxHeaderIndices}, false, &g);
      rc != 0)
    return rc;
  ZV_LOG(ZV_FEC_LOG_INFO, "max_packet_length   %d\n", g.symbol_len);

  const int n = g.k + g.r;
  CallResources res;
  if (int rc = allocate_table(res, n); rc != 0) return rc;
  if (int rc = open_session(res, OF_CODEC_TYPE_ENCODER, g.k, g.r, g.symbol_len); rc != 0) return rc;

  int short_packets = 0;
  for (int i = 0; i < g.k; ++i) short_packets += args.med_packet_len[i] < g.symbol_len;
  if (!allocate_padding(res, short_packets, g.symbol_len)) return no_memory(n);
  uint8_t *pool = res.padded;
  for (int i = 0; i < g.k; ++i)
    res.table[i] = const_cast<uint8_t *>(
        whole_symbol(args.med_packet[i], args.med_packet_len[i], g.symbol_len, &pool));

  // Each repair symbol is built in place, right behind its FEC header.
  for (int e = g.k; e < n; ++e) {
    const int j = e - g.k;
    res.table[e] = args.fec_packet[j] + kVideoV1Layout.symbol_offset();
    if (of_build_repair_symbol(res.session, res.table, static_cast<unsigned>(e)) != OF_STATUS_OK) {
      ZV_LOG(ZV_FEC_LOG_ERROR, "ERROR: of_build_repair_symbol() failed for esi=%u\n",
             static_cast<unsigned>(e));
      // Packets 0 .. j-1 are complete; the others stay as the zero fill left them.
      for (int rest = j; rest < g.r; ++rest) {
        std::memset(args.fec_packet[rest] + kVideoV1Layout.symbol_offset(), 0,
                    static_cast<size_t>(g.symbol_len));
      }
      return -6;
    }
    write_group_header(args, kVideoV1Layout, g, j);
  }
  return 0;
}

int decode(void *handle, const DecodeArgs &args) {
  DecodeGroup g{};
  if (int rc = begin_decode(args, kVideoV1Layout, &g); rc != 0) return rc;
  if (!handle_ready(handle)) return -1;

  CallResources res;
  if (int rc = allocate_table(res, g.n); rc != 0) return rc;
  if (int rc = open_session(res, OF_CODEC_TYPE_DECODER, g.k, g.r, g.symbol_len); rc != 0) return rc;
  if (args.received_med_num + args.received_fec_num < g.k) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "data is not enough %d",
           args.received_med_num + args.received_fec_num);
    return -100;
  }

  int short_packets = 0;
  for (int i = 0; i < args.received_med_num; ++i)
    short_packets += args.received_med_pkt_len[i] < g.symbol_len;
  if (!allocate_padding(res, short_packets, g.symbol_len)) return no_memory(g.n);
  uint8_t *pool = res.padded;

  bool received[kMaxUsableIndex + 1] = {};
  unsigned n_received = 0;
  bool done = false;
  // Feeds one symbol; returns 0 to go on, or the call's negative result.
  auto feed = [&](int index, const uint8_t *symbol) {
    if (index > kMaxUsableIndex) return invalid_index(index);
    if (of_decode_with_new_symbol(res.session, symbol, static_cast<unsigned>(index)) ==
        OF_STATUS_ERROR) {
      ZV_LOG(ZV_FEC_LOG_ERROR, "of_decode_with_new_symbol() failed\n");
      return -103;
    }
    received[index] = true;
    ++n_received;
    done = n_received >= static_cast<unsigned>(g.k) && of_is_decoding_complete(res.session);
    return 0;
  };

  for (int i = 0; i < args.received_med_num && !done; ++i) {
    const int len = args.received_med_pkt_len[i];
    if (static_cast<unsigned>(len) > static_cast<unsigned>(g.symbol_len))
      return media_packet_too_long(i, len, g);
    if (!media_packet_placeable(args, i)) continue;
    const int offset = seq_offset(media_seq(args.received_med_pkt[i]), g.base_seq);
    // Offsets k .. 127 are no media symbols of the group; from 128 on the call ends.
    if (offset > kMaxUsableIndex) return invalid_index(offset);
    if (offset >= g.k) continue;
    if (int rc = feed(offset, whole_symbol(args.received_med_pkt[i], len, g.symbol_len, &pool));
        rc != 0)
      return rc;
  }
  for (int j = 0; j < args.received_fec_num && !done; ++j) {
    if (!fec_packet_usable(args, j, kVideoV1Layout, g)) continue;
    const uint8_t *pkt = args.received_fec_pkt[j];
    const int esi = pkt[kRtpHeaderRoom + 1];
    if (!repair_index_in_group(esi, g)) continue;
    if (int rc = feed(esi, pkt + kVideoV1Layout.symbol_offset()); rc != 0) return rc;
  }
  if (!done) {
    ZV_LOG(ZV_FEC_LOG_ERROR,
           "\nFailed to recover all erased source symbols even after receiving %u packets\n",
           n_received);
    return -106;
  }
  if (of_get_source_symbols_tab(res.session, res.table) != OF_STATUS_OK) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "of_get_source_symbols_tab() failed\n");
    return -105;
  }
  const RecoveredOut out{args.recovered_pkt, args.recovered_pkt_len, args.recovered_pkt_num};
  for (int e = 0; e < g.k; ++e) {
    if (res.table[e] == nullptr || (e <= kMaxUsableIndex && received[e])) continue;
    extract_recovered(static_cast<const uint8_t *>(res.table[e]), g.symbol_len, g.base_seq,
                      {true, ZV_FEC_LOG_ERROR}, out);
    of_free(res.table[e]);
    res.table[e] = nullptr;
  }
  return 0;
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
