// zv_rsfec_encode's arguments: the handle (each variant, a refused pair, a
// pair without a variant), counts, stated media lengths (negative, short,
// malformed prefixes, beyond the 16-bit symbol field), NULL buffers and arrays,
// and FEC buffer capacities around the size the group needs. Every buffer is
// allocated at exactly its stated length or capacity.
//
// Oracle: a group of well-formed arguments is accepted, its FEC packets carry
// the documented header and length, and decoding them restores lost media
// byte for byte. Arguments that break the interface's rules are refused
// without writing to any FEC buffer.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "media_support.h"

namespace {

using zvfuzz::ExactArray;
using zvfuzz::ExactBuf;
using zvfuzz::FuzzInput;

// The largest count for which the harness allocates arrays: any larger count
// is one of the edge values below, which the encoder refuses before walking
// an array (or, for negative counts, has nothing to walk).
constexpr int kMaxArray = 300;

int choose_count(FuzzInput &in, bool edge, int lo, int hi) {
  static constexpr int kEdges[] = {INT_MIN, -1,  0,   1,   63,  64,  65,
                                   127,     128, 129, 255, 256, 257, 300};
  return edge ? in.pick(kEdges) : in.range(lo, hi);
}

// One media buffer and what the harness knows of it.
struct Media {
  ExactBuf buf;
  int stated = 0;
  bool null = false;
  bool well_formed = true;  // 2 + prefix fits the stated length
  bool rtp = true;          // made by make_media with the group's next sequence number
};

Media make_media(FuzzInput &in, bool edge, uint16_t seq, int max_payload, zvfuzz::Filler &filler) {
  Media m;
  const int shape = edge ? in.u8() % 6 : 5;
  switch (shape) {
    case 0:  // NULL buffer with some stated length
      m.stated = in.range(-2, 40);
      m.null = true;
      m.well_formed = m.rtp = false;
      return m;
    case 1:  // negative stated length over an empty buffer
      m.stated = -in.range(1, 0x7FFF);
      m.buf = ExactBuf(0);
      m.well_formed = m.rtp = false;
      return m;
    case 2:  // short buffer, fuzzer bytes, prefix as it comes
    case 3: {
      m.stated = in.range(0, shape == 2 ? 5 : 40);
      m.buf = ExactBuf(static_cast<size_t>(m.stated));
      in.fill(m.buf.data(), m.buf.size());
      const int prefix = m.stated >= 2 ? m.buf.data()[0] | m.buf.data()[1] << 8 : 0;
      m.well_formed = m.stated >= 2 && 2 + prefix <= m.stated;
      m.rtp = false;
      return m;
    }
    case 4: {  // long enough to push S past the 16-bit header field, or close to it
      m.stated = in.range(0xFFF0, 0x10008);
      m.buf = ExactBuf(static_cast<size_t>(m.stated));
      const int prefix = std::min(m.stated - 2, 0xFFFF) - in.range(0, 4);
      m.buf.data()[0] = static_cast<uint8_t>(prefix);
      m.buf.data()[1] = static_cast<uint8_t>(prefix >> 8);
      m.rtp = false;
      return m;
    }
    default:
      m.buf = zvfuzz::make_media(seq, zvfuzz::kRtpHeader + in.range(0, max_payload), filler);
      m.stated = static_cast<int>(m.buf.size());
      return m;
  }
}

// A media packet lost on the way: the round trip drops the first r.
void check_round_trip(void *handle, const std::vector<Media> &media, std::vector<ExactBuf> &fec,
                      int r) {
  std::vector<ExactBuf> originals;
  std::vector<bool> lost;
  std::vector<zvfuzz::Packet> rx_media, rx_fec;
  int longest = 0;
  for (size_t i = 0; i < media.size(); ++i) {
    originals.push_back(media[i].buf.clone());
    lost.push_back(static_cast<int>(i) < r);
    if (!lost.back()) rx_media.push_back({media[i].buf.clone()});
    longest = std::max(longest, media[i].stated);
  }
  for (ExactBuf &f : fec) rx_fec.push_back({std::move(f)});
  const size_t s = static_cast<size_t>((longest + 3) & ~3);
  zvfuzz::check_recovery(zvfuzz::decode_packets(handle, rx_media, rx_fec, s - 2), originals, lost,
                         true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const int pair = in.u8() % 8;
  const zvfuzz::MediaVariant &v = zvfuzz::kMediaVariants[pair % 3];
  // 6: audio version 1, refused (NULL handle); 7: a type without a variant.
  const int type = pair == 6 ? ZV_FEC_AUDIO : pair == 7 ? 5 : v.type;
  const int version = pair == 6 ? ZV_FEC_VERSION_1 : v.version;
  const zvfuzz::Handle handle = zvfuzz::open_handle(type, version);
  const bool real_variant = pair < 6;

  // Most inputs stay within the rules, so that the round trip gets exercised;
  // the others break one or more of them.
  const uint8_t edges = in.u8();
  const bool edge_k = edges & 0x10, edge_r = edges & 0x20, edge_media = edges & 0x40,
             edge_fec = edges & 0x80, null_arrays = (edges & 0x0F) == 0x0F;
  const int k = choose_count(in, edge_k, 1, v.max_k);
  const int r = choose_count(in, edge_r, 1, std::min(v.max_r, v.max_n - std::clamp(k, 1, v.max_k)));
  if (k > kMaxArray || r > kMaxArray) return 0;

  const uint16_t base_seq = in.u16();
  const int max_payload = in.u8();
  zvfuzz::Filler filler(in.u32());
  std::vector<Media> media;
  int64_t longest = 0;
  bool media_ok = true, all_rtp = true;
  for (int i = 0; i < std::max(k, 0); ++i) {
    media.push_back(make_media(in, edge_media && in.flag(), static_cast<uint16_t>(base_seq + i),
                               max_payload, filler));
    longest = std::max<int64_t>(longest, media.back().stated);
    media_ok &= media.back().well_formed;
    all_rtp &= media.back().rtp;
  }
  const int64_t s = (longest + 3) & ~int64_t{3};
  const int64_t needed = zvfuzz::kRtpRoom + v.header + s;

  // FEC buffers, pre-filled so that any write shows.
  std::vector<ExactBuf> fec, fec_before;
  std::vector<bool> fec_null;
  ExactArray<int> fec_len(static_cast<size_t>(std::max(r, 0)));
  bool fec_ok = true;
  for (int j = 0; j < std::max(r, 0); ++j) {
    const int shape = edge_fec && in.flag() ? in.u8() % 3 : 3;
    int64_t cap = needed + in.range(0, 8);
    if (shape == 1) cap = std::max<int64_t>(needed - in.range(1, 8), 0);
    if (shape == 2) cap = -in.range(1, 100);
    if (cap > 0x10100) cap = 0x10100;
    fec.emplace_back(static_cast<size_t>(std::max<int64_t>(cap, 0)));
    std::memset(fec.back().data(), 0xA5, fec.back().size());
    fec_before.push_back(fec.back().clone());
    fec_null.push_back(shape == 0);
    fec_len[static_cast<size_t>(j)] = static_cast<int>(cap);
    fec_ok &= shape != 0 && cap >= needed;
  }

  ExactArray<unsigned char *> med_ptr(media.size()), fec_ptr(fec.size());
  ExactArray<int> med_len(media.size());
  for (size_t i = 0; i < media.size(); ++i) {
    med_ptr[i] = media[i].null ? nullptr : media[i].buf.data();
    med_len[i] = media[i].stated;
  }
  for (size_t j = 0; j < fec.size(); ++j) fec_ptr[j] = fec_null[j] ? nullptr : fec[j].data();
  const int rc = zv_rsfec_encode(handle.get(), 0, null_arrays ? nullptr : med_ptr.data(),
                                 med_len.data(), k, r, 0, fec_ptr.data(), fec_len.data());

  const bool within_rules = real_variant && !null_arrays && k >= 1 && k <= v.max_k && r >= 1 &&
                            r <= v.max_r && k + r <= v.max_n && media_ok && s <= 0xFFFC && fec_ok;
  const bool breaks_rules = !real_variant || null_arrays || k <= 0 || r < 0 || !media_ok ||
                            s > 0xFFFC || (r > 0 && !fec_ok);
  if (within_rules) ZV_FUZZ_CHECK(rc == 0);
  if (breaks_rules) ZV_FUZZ_CHECK(rc != 0);
  if (rc == -1 || rc == -2 || rc == -4096) {
    for (size_t j = 0; j < fec.size(); ++j) {
      ZV_FUZZ_CHECK(fec_len[j] == static_cast<int>(fec_before[j].size()) || fec_len[j] < 0);
      ZV_FUZZ_CHECK(fec[j].same_bytes(fec_before[j].data(), fec_before[j].size()));
    }
  }
  if (rc != 0 || r <= 0) return 0;

  for (int j = 0; j < r; ++j) {
    const auto ju = static_cast<size_t>(j);
    ZV_FUZZ_CHECK(fec_len[ju] == needed);
    const uint8_t *p = fec[ju].data();
    for (int b = 0; b < zvfuzz::kRtpRoom; ++b) ZV_FUZZ_CHECK(p[b] == 0);
    const uint8_t *h = p + zvfuzz::kRtpRoom;
    ZV_FUZZ_CHECK(h[0] == v.tag && h[1] == static_cast<uint8_t>(k + j));
    ZV_FUZZ_CHECK(h[4] == static_cast<uint8_t>(k) && h[5] == static_cast<uint8_t>(r));
    ZV_FUZZ_CHECK((h[6] << 8 | h[7]) == s);
    if (all_rtp) ZV_FUZZ_CHECK((h[2] << 8 | h[3]) == base_seq);
    fec[ju].resize(static_cast<size_t>(needed));
  }
  if (all_rtp && within_rules) check_round_trip(handle.get(), media, fec, std::min(r, k));
  return 0;
}
