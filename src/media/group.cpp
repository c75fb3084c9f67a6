#include "media/group.h"

#include <bit>
#include <cstring>

#include "media/log.h"
#include "zv_rsfec.h"

namespace zv {

int64_t symbol_length(const int *med_packet_len, int k) {
  int64_t s = 0;
  for (int i = 0; i < k; ++i) {
    if (med_packet_len[i] > s) s = med_packet_len[i];
  }
  return symbol_length_for(s);
}

void zero_fec_buffers(unsigned char **fec_packet, const int *fec_packet_len, int count,
                      int skip_from, int skip_len) {
  for (int j = 0; j < count; ++j) {
    const int capacity = fec_packet_len[j];
    if (capacity <= 0) continue;
    const int head = capacity < skip_from ? capacity : skip_from;
    std::memset(fec_packet[j], 0, static_cast<size_t>(head));
    const int tail = skip_from + skip_len;
    if (capacity > tail) std::memset(fec_packet[j] + tail, 0, static_cast<size_t>(capacity - tail));
  }
}

namespace {

// Why an encode call is refused before anything is read beyond the argument
// arrays' first entries, or null. Counts are checked before any array is walked.
const char *argument_refusal(const EncodeArgs &a, const EncodeLimits &lim) {
  if (a.med_packet == nullptr || a.med_packet_len == nullptr) return "no media packet array";
  if (a.fec_number < 0) return "negative fec_number";
  if (a.packet_number > lim.max_k) return "packet_number above the variant's limit";
  if (a.fec_number > lim.max_r) return "fec_number above the variant's limit";
  if (a.fec_number > 0 && a.packet_number > lim.max_n - a.fec_number)
    return "more symbols than the header's index can tell apart";
  if (a.fec_number > 0 && (a.fec_packet == nullptr || a.fec_packet_len == nullptr))
    return "no FEC packet array";
  for (int i = 0; i < a.packet_number; ++i) {
    if (a.med_packet[i] == nullptr) return "null media packet";
    if (!media_prefix_fits(a.med_packet[i], a.med_packet_len[i]))
      return "media packet shorter than its length prefix says";
  }
  return nullptr;
}

// Why the group's symbols do not fit the header or the FEC buffers, or null.
const char *size_refusal(const EncodeArgs &a, const FecLayout &layout, int64_t symbol_len) {
  if (symbol_len > kMaxSymbolLength) return "symbol length beyond 65532";
  const int needed = layout.packet_length(static_cast<int>(symbol_len));
  for (int j = 0; j < a.fec_number; ++j) {
    if (a.fec_packet[j] == nullptr) return "null FEC packet buffer";
    if (a.fec_packet_len[j] < needed) return "FEC packet buffer shorter than header and symbol";
  }
  return nullptr;
}

// The sequence number at bytes 4-5 of a media buffer of the given stated
// length; bytes beyond the length count as zero.
uint16_t bounded_media_seq(const uint8_t *media, int len) {
  if (len >= kMediaSeqOffset + 2) return media_seq(media);
  const uint8_t hi = len > kMediaSeqOffset ? media[kMediaSeqOffset] : 0;
  return static_cast<uint16_t>(hi << 8);
}

}  // namespace

int prepare_encode(const EncodeArgs &a, const FecLayout &layout, const EncodeLimits &limits,
                   bool codec_writes_symbols, EncodeGroup *group) {
  if (a.packet_number <= 0) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "argument packet_number is illegal");
    return code::kBadArguments;
  }
  const char *why = argument_refusal(a, limits);
  const int64_t symbol_len = why == nullptr ? symbol_length(a.med_packet_len, a.packet_number) : 0;
  if (why == nullptr) why = size_refusal(a, layout, symbol_len);
  if (why != nullptr) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "encode refused: %s (k=%d r=%d max_len=%lld)\n", why, a.packet_number,
           a.fec_number, static_cast<long long>(symbol_len));
    return code::kBadArguments;
  }
  const uint16_t base_seq = bounded_media_seq(a.med_packet[0], a.med_packet_len[0]);
  ZV_LOG(ZV_FEC_LOG_INFO, "base_seq  %d\n", base_seq);
  zero_fec_buffers(a.fec_packet, a.fec_packet_len, a.fec_number, layout.symbol_offset(),
                   codec_writes_symbols ? static_cast<int>(symbol_len) : 0);

  *group = {a.packet_number, a.fec_number, static_cast<int>(symbol_len), base_seq};
  return code::kOk;
}

void write_group_header(const EncodeArgs &a, const FecLayout &layout, const EncodeGroup &group,
                        int j) {
  write_fec_header(
      a.fec_packet[j], layout,
      group_fec_header(layout, group.k, group.r, group.symbol_len, group.base_seq, group.k + j));
  a.fec_packet_len[j] = layout.packet_length(group.symbol_len);
}

int begin_decode(const DecodeArgs &a, const FecLayout &layout, DecodeGroup *group) {
  if (a.recovered_pkt_num == nullptr) return code::kBadArguments;
  *a.recovered_pkt_num = 0;
  if (a.received_fec_num <= 0) return code::kBadArguments;
  if (a.received_fec_pkt == nullptr || a.received_fec_pkt_len == nullptr ||
      a.recovered_pkt == nullptr || a.recovered_pkt_len == nullptr ||
      (a.received_med_num > 0 &&
       (a.received_med_pkt == nullptr || a.received_med_pkt_len == nullptr)))
    return code::kBadArguments;
  if (a.received_fec_pkt[0] == nullptr || a.received_fec_pkt_len[0] < layout.symbol_offset())
    return code::kBadArguments;
  const RSRTPHEAD_VIDEO_V2 h = read_fec_header(a.received_fec_pkt[0], layout);
  group->k = h.k;
  group->r = h.n_r;
  group->n = h.k + h.n_r;
  group->symbol_len = h.max_len;
  group->base_seq = h.seq;
  group->seqmask = h.seqmask;
  ZV_LOG(ZV_FEC_LOG_INFO, "zv_rsfec_decode base_seq %d\n", group->base_seq);
  ZV_LOG(ZV_FEC_LOG_INFO, "n %d k %d base_seq %d max_len %d rs_header->max_len %d\n", group->n,
         group->k, group->base_seq, group->symbol_len, group->symbol_len);
  if (group->k == 0 || group->r == 0 || !symbol_length_valid(group->symbol_len)) {
    ZV_LOG(ZV_FEC_LOG_ERROR, "FEC header refused: k=%d n_r=%d max_len=%d\n", group->k, group->r,
           group->symbol_len);
    return code::kBadArguments;
  }
  return code::kOk;
}

int check_enough_packets(const DecodeArgs &a, const DecodeGroup &group, bool with_k) {
  const int sum = a.received_med_num + a.received_fec_num;
  if (sum >= group.k) return code::kOk;
  if (with_k)
    ZV_LOG(ZV_FEC_LOG_ERROR, "data is not enough %d %d", sum, group.k);
  else
    ZV_LOG(ZV_FEC_LOG_ERROR, "data is not enough %d", sum);
  return code::kNotEnoughPackets;
}

bool fec_packet_usable(const DecodeArgs &a, int j, const FecLayout &layout,
                       const DecodeGroup &group) {
  return a.received_fec_pkt[j] != nullptr &&
         a.received_fec_pkt_len[j] >= layout.packet_length(group.symbol_len);
}

int media_packet_too_long(int i, int len, const DecodeGroup &group) {
  ZV_LOG(ZV_FEC_LOG_ERROR, "i %d received_med_pkt_len[i] %d params->encoding_symbol_length %d\n", i,
         len, group.symbol_len);
  return code::kMediaTooLong;
}

int invalid_index(int index) {
  ZV_LOG(ZV_FEC_LOG_ERROR, "esi=%d invalid\n", index);
  return code::kIndexTooLarge;
}

int media_symbol_index(int offset, uint32_t seqmask) {
  if (seqmask == 0) return offset;
  if (offset > 31 || ((seqmask >> offset) & 1u) == 0) return -1;
  return std::popcount(seqmask & ((1u << offset) - 1u));
}

bool media_packet_placeable(const DecodeArgs &a, int i) {
  const uint8_t *media = a.received_med_pkt[i];
  const int len = a.received_med_pkt_len[i];
  if (media == nullptr || len < kMediaSeqOffset + 2) return false;
  if (!media_prefix_fits(media, len)) {
    ZV_LOG(ZV_FEC_LOG_ERROR,
           "media packet %d skipped: 2 + length prefix %d exceeds its stated length %d\n", i,
           media_prefix(media), len);
    return false;
  }
  return true;
}

bool extract_recovered(const uint8_t *symbol, int symbol_len, uint16_t base_seq,
                       const ExtractRule &rule, const RecoveredOut &out) {
  const uint16_t raw = symbol_len >= kMediaPrefixSize ? media_prefix(symbol) : 0;
  const int len = rule.signed_prefix ? static_cast<int16_t>(raw) : raw;
  if (len < 0 || len + kMediaPrefixSize > symbol_len) {
    ZV_LOG(rule.log_level, "len error =%d seq base=%d max_len=%d\n", len, base_seq, symbol_len);
    return false;
  }
  const int m = *out.num;
  std::memcpy(out.pkt[m], symbol + kMediaPrefixSize, static_cast<size_t>(len));
  out.len[m] = len;
  *out.num = m + 1;
  return true;
}

}  // namespace zv
