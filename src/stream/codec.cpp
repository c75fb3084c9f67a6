#include "stream/codec.h"

#include <algorithm>
#include <bitset>
#include <cstring>

#include "stream/framing.h"

namespace zv::stream {

Codec::Codec(int variant) : layout_(*layout_of(variant)) { prepare_coding(); }

void Codec::stage(size_t i, const uint8_t *p, size_t len, int symbol_len) {
  if (staged_.size() <= i) staged_.resize(i + 1);
  Buffer &b = staged_[i];
  const size_t stated = len + kMediaPrefixSize;
  const size_t whole = layout_.cauchy ? stated : std::max(stated, static_cast<size_t>(symbol_len));
  b.reserve(whole);
  write_media_buffer(b.data(), p, len);
  std::memset(b.data() + stated, 0, whole - stated);
}

int Codec::encode(const uint8_t *const *media, const size_t *media_len, int k, int r,
                  uint8_t *const *fec, size_t fec_cap, size_t *fec_len) {
  if (check_shape(variant(), k, r) != 0) return ZVFEC_STREAM_E_ARG;
  size_t longest = 0;
  for (int i = 0; i < k; ++i) {
    if (media_len[i] < static_cast<size_t>(kRtpHeaderSize)) return ZVFEC_STREAM_E_NOT_RTP;
    longest = std::max(longest, media_len[i]);
  }
  const size_t s = symbol_len(longest);
  if (s > static_cast<size_t>(kMaxSymbolLength)) return ZVFEC_STREAM_E_TOO_LONG;
  const int symbol_len = static_cast<int>(s);
  const size_t packet_len = static_cast<size_t>(layout_.packet_length(symbol_len));
  if (packet_len > fec_cap) return ZVFEC_STREAM_E_ARG;

  sources_.resize(static_cast<size_t>(k));
  for (int i = 0; i < k; ++i) {
    const auto at = static_cast<size_t>(i);
    stage(at, media[i], media_len[i], symbol_len);
    sources_[at] = {staged_[at].data(), layout_.cauchy
                                            ? static_cast<int>(media_len[i]) + kMediaPrefixSize
                                            : symbol_len};
  }
  repair_.resize(static_cast<size_t>(r));
  for (int j = 0; j < r; ++j) repair_[static_cast<size_t>(j)] = fec[j] + layout_.symbol_offset();
  if (int rc = encode_group(layout_, symbol_len, sources_, repair_); rc != 0) return rc;
  const uint16_t base_seq = media_seq(staged_[0].data());
  for (int j = 0; j < r; ++j) {
    std::memset(fec[j], 0, kRtpHeaderRoom);
    write_fec_header(fec[j], layout_, group_fec_header(layout_, k, r, symbol_len, base_seq, k + j));
    fec_len[j] = packet_len;
  }
  return 0;
}

int Codec::decode(const zvfec_stream_fec_header &group, uint32_t ssrc, const uint8_t *const *media,
                  const size_t *media_len, size_t media_count, const uint8_t *const *fec,
                  const size_t *fec_len, size_t fec_count, uint8_t *const *out, size_t out_cap,
                  size_t *out_len, int *out_count, int *rejected) {
  if (group.variant != variant() || !describes_group(group)) return ZVFEC_STREAM_E_ARG;
  const auto k = static_cast<size_t>(group.k);
  const int s = group.symbol_len;

  // The group's media packets among those given: RTP packets of ssrc that fit
  // S - 2 bytes, the first one of each place.
  held_.assign(k, HeldMedia{nullptr, 0});
  size_t present = 0;
  for (size_t m = 0; m < media_count; ++m) {
    if (media[m] == nullptr) continue;
    const auto rtp = read_rtp(media[m], media_len[m]);
    if (!rtp || rtp->ssrc != ssrc || media_len[m] + kMediaPrefixSize > static_cast<size_t>(s))
      continue;
    const size_t at = seq_offset(rtp->seq, group.base_seq);
    if (at >= k || held_[at].data != nullptr) continue;
    stage(at, media[m], media_len[m], s);
    held_[at] = {staged_[at].data(), static_cast<int>(media_len[m]) + kMediaPrefixSize};
    ++present;
  }
  if (present == k) return 0;

  // FEC packets that can be of the group: its variant, length and indices.
  candidates_.clear();
  std::bitset<kHeaderIndices> seen;
  const auto want_len = static_cast<size_t>(layout_.packet_length(s));
  for (size_t j = 0; j < fec_count; ++j) {
    const uint8_t *f = fec[j];
    if (f == nullptr || fec_len[j] != want_len || fec_tag(f) != layout_.tag) continue;
    const int esi = fec_esi(f);
    if (esi < group.k || esi >= group.k + group.r) continue;
    seen[static_cast<size_t>(esi)] = true;
    candidates_.push_back({esi, f + layout_.symbol_offset(), false});
  }
  if (seen.none() || present + seen.count() < k) return ZVFEC_STREAM_E_TOO_FEW;

  if (rebuilt_.size() < k) rebuilt_.resize(k);
  out_.assign(k, nullptr);
  for (size_t i = 0; i < k; ++i) {
    if (held_[i].data != nullptr) continue;
    rebuilt_[i].reserve(static_cast<size_t>(s));
    out_[i] = rebuilt_[i].data();
  }
  const GroupView view{&layout_, group.k, group.r, s, group.base_seq, ssrc};
  const auto result = rebuilder_.rebuild(view, held_.data(), out_.data(), candidates_);
  *rejected = result.rejected;
  if (result.outcome == Outcome::kTooFew) return ZVFEC_STREAM_E_TOO_FEW;
  if (result.outcome == Outcome::kConflict) return ZVFEC_STREAM_E_CONFLICT;
  if (result.outcome == Outcome::kImplausible) return 0;
  // At most k packets come back, in sequence order; each fits S - 2 bytes.
  for (size_t i = 0; i < k; ++i)
    if (out_[i] != nullptr && media_prefix(out_[i]) > out_cap) return ZVFEC_STREAM_E_ARG;
  int n = 0;
  for (size_t i = 0; i < k; ++i) {
    if (out_[i] == nullptr) continue;
    if (out[n] == nullptr) return ZVFEC_STREAM_E_ARG;
    const size_t len = media_prefix(out_[i]);
    std::memcpy(out[n], out_[i] + kMediaPrefixSize, len);
    out_len[n] = len;
    *out_count = ++n;
  }
  return 0;
}

}  // namespace zv::stream
