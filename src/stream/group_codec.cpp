#include "stream/group_codec.h"

#include <algorithm>
#include <array>

#include <zv_rsfec.h>

#include "media/byte_order.h"

namespace zv::stream {
namespace {

// Version-2 groups are bounded by the media API's working arrays (64 media and
// 64 FEC pointers); version 1 can only place symbol indices up to 127.
constexpr std::array<zvfec_stream_variant_info, 3> kVariants{{
    {"audio-v2", ZV_FEC_AUDIO, ZV_FEC_VERSION_2, 0x11, 8, 64, 64, 128},
    {"video-v2", ZV_FEC_VIDEO, ZV_FEC_VERSION_2, 0x01, 12, 64, 64, 128},
    {"video-v1", ZV_FEC_VIDEO, ZV_FEC_VERSION_1, 0x00, 8, 127, 127, 128},
}};

int variant_from_tag(std::uint8_t tag) {
  for (std::size_t i = 0; i < kVariants.size(); ++i)
    if (kVariants[i].tag == tag) return static_cast<int>(i);
  return -1;
}

// Whether hdr describes a group the variant allows, with a symbol length a
// group can have.
bool describes_group(int variant, const zvfec_stream_fec_header &hdr) {
  return hdr.variant == variant && check_shape(variant, hdr.k, hdr.r) == 0 &&
         hdr.symbol_len >= kMinSymbol && hdr.symbol_len % 4 == 0 &&
         static_cast<std::size_t>(hdr.symbol_len) <= kMaxSymbol;
}

// The media packets of the group hdr describes among `media`: RTP packets of
// ssrc that fit S - 2 bytes, with a sequence number inside the group, the
// first one of each number. Marks their offsets in `have` (k entries) and
// puts them in `kept`. hdr must describe a group.
void gather_media(const zvfec_stream_fec_header &hdr, std::span<const ByteView> media,
                  std::uint32_t ssrc, std::vector<bool> &have, std::vector<ByteView> &kept) {
  const auto k = static_cast<std::size_t>(hdr.k);
  const auto s = static_cast<std::size_t>(hdr.symbol_len);
  have.assign(k, false);
  kept.clear();
  for (const auto &m : media) {
    const auto rtp = parse_rtp(m);
    if (!rtp || rtp->ssrc != ssrc || m.size() + 2 > s) continue;
    const std::size_t off = static_cast<std::uint16_t>(rtp->seq - hdr.base_seq);
    if (off >= k || have[off]) continue;
    have[off] = true;
    kept.push_back(m);
  }
}

GroupCodec::Decoded failed(int code) {
  GroupCodec::Decoded d;
  d.code = code;
  return d;
}

}  // namespace

const zvfec_stream_variant_info *variant_info(int variant) {
  if (variant < 0 || variant >= static_cast<int>(kVariants.size())) return nullptr;
  return &kVariants[static_cast<std::size_t>(variant)];
}

std::optional<Rtp> parse_rtp(ByteView p) {
  if (p.size() < 12 || (p[0] >> 6) != 2) return std::nullopt;
  if (p[1] >= 192 && p[1] <= 223) return std::nullopt;
  const std::size_t csrc = p[0] & 0x0F;
  if (p.size() < 12 + 4 * csrc) return std::nullopt;
  return Rtp{static_cast<std::uint8_t>(p[1] & 0x7F), load_be16(&p[2]), load_be32(&p[4]),
             load_be32(&p[8])};
}

void write_rtp(std::uint8_t *out, std::uint8_t pt, std::uint16_t seq, std::uint32_t timestamp,
               std::uint32_t ssrc) {
  out[0] = 0x80;
  out[1] = static_cast<std::uint8_t>(pt & 0x7F);
  store_be16(out + 2, seq);
  store_be32(out + 4, timestamp);
  store_be32(out + 8, ssrc);
}

std::size_t fec_size(int variant, std::size_t s) {
  const auto *i = variant_info(variant);
  return i ? kRtpRoom + i->header_len + s : 0;
}

int check_shape(int variant, int k, int r) {
  const auto *i = variant_info(variant);
  if (!i) return ZVFEC_STREAM_E_ARG;
  if (k < 1 || k > i->max_k) return ZVFEC_STREAM_E_K;
  if (r < 1 || r > i->max_r) return ZVFEC_STREAM_E_R;
  if (k + r > i->max_n) return ZVFEC_STREAM_E_N;
  return 0;
}

int parse_fec(ByteView p, zvfec_stream_fec_header &out) {
  if (p.size() < kRtpRoom + 8) return ZVFEC_STREAM_E_SHORT;
  const std::uint8_t *h = p.data() + kRtpRoom;
  const int v = variant_from_tag(h[0]);
  if (v < 0) return ZVFEC_STREAM_E_TAG;
  const auto &info = kVariants[static_cast<std::size_t>(v)];
  if (p.size() < kRtpRoom + info.header_len) return ZVFEC_STREAM_E_SHORT;
  zvfec_stream_fec_header f{v, h[1], load_be16(h + 2), h[4], h[5], load_be16(h + 6), 0};
  if (info.header_len == 12) f.seqmask = load_be32(h + 8);
  if (const int bad = check_shape(v, f.k, f.r); bad != 0) return bad;
  if (f.symbol_len < kMinSymbol || f.symbol_len % 4 != 0) return ZVFEC_STREAM_E_SYMBOL;
  if (f.esi < f.k || f.esi >= f.k + f.r) return ZVFEC_STREAM_E_ESI;
  if (f.seqmask != 0) return ZVFEC_STREAM_E_MASK;
  if (p.size() != fec_size(v, static_cast<std::size_t>(f.symbol_len))) return ZVFEC_STREAM_E_LENGTH;
  out = f;
  return 0;
}

GroupCodec::GroupCodec(int variant) : variant_(variant) {
  const auto *i = variant_info(variant);
  void *h = nullptr;
  if (i && zv_rsfec_initilize(i->type, i->version, &h) == 1) handle_ = h;
}

GroupCodec::~GroupCodec() { zv_rsfec_destory(handle_); }

// A media buffer: little-endian length prefix and the RTP packet. No padding:
// the media API reads a buffer only within its stated length.
void GroupCodec::stage_media(std::span<const ByteView> media) {
  auto &sc = scratch_;
  std::size_t total = 0;
  for (const auto &m : media) total += m.size() + 2;
  sc.media.resize(total);
  sc.med_ptr.clear();
  sc.med_len.clear();
  unsigned char *at = sc.media.data();
  for (const auto &m : media) {
    store_le16(at, static_cast<std::uint16_t>(m.size()));
    std::copy(m.begin(), m.end(), at + 2);
    sc.med_ptr.push_back(at);
    sc.med_len.push_back(static_cast<int>(m.size() + 2));
    at += m.size() + 2;
  }
}

int GroupCodec::encode(std::span<const ByteView> media, int r, std::vector<Bytes> &fec_out) {
  fec_out.clear();
  const int k = static_cast<int>(media.size());
  if (!handle_) return -1;
  if (check_shape(variant_, k, r) != 0) return ZVFEC_STREAM_E_ARG;
  std::size_t longest = 0;
  for (const auto &m : media) {
    if (m.size() < 12) return ZVFEC_STREAM_E_NOT_RTP;
    longest = std::max(longest, m.size());
  }
  const std::size_t s = symbol_len(longest);
  if (s > kMaxSymbol) return ZVFEC_STREAM_E_TOO_LONG;

  auto &sc = scratch_;
  stage_media(media);
  const std::size_t cap = fec_size(variant_, s);
  fec_out.assign(static_cast<std::size_t>(r), Bytes(cap));
  sc.fec_ptr.clear();
  for (auto &f : fec_out) sc.fec_ptr.push_back(f.data());
  sc.fec_len.assign(static_cast<std::size_t>(r), static_cast<int>(cap));

  const int rc = zv_rsfec_encode(handle_, 0, sc.med_ptr.data(), sc.med_len.data(), k, r, 0,
                                 sc.fec_ptr.data(), sc.fec_len.data());
  if (rc != 0) {
    fec_out.clear();
    return rc;
  }
  for (std::size_t j = 0; j < fec_out.size(); ++j) {
    // The media API states the length it wrote; never trust it beyond our buffer.
    const auto len = static_cast<std::size_t>(std::clamp(sc.fec_len[j], 0, static_cast<int>(cap)));
    fec_out[j].resize(len);
  }
  return 0;
}

GroupCodec::Decoded GroupCodec::decode(const zvfec_stream_fec_header &hdr,
                                       std::span<const ByteView> media,
                                       std::span<const ByteView> fec, std::uint32_t ssrc) {
  if (!describes_group(variant_, hdr)) return failed(ZVFEC_STREAM_E_ARG);
  const auto k = static_cast<std::size_t>(hdr.k);
  const auto s = static_cast<std::size_t>(hdr.symbol_len);
  auto &sc = scratch_;
  gather_media(hdr, media, ssrc, sc.have, sc.kept);
  if (sc.kept.size() == k) return {};

  // Copies of the usable FEC packets, one of each symbol index: at most r.
  const std::uint8_t tag = variant_info(variant_)->tag;
  const std::size_t want_len = fec_size(variant_, s);
  std::array<bool, 256> seen_esi{};
  sc.fec.resize(std::min(fec.size(), static_cast<std::size_t>(hdr.r)) * want_len);
  sc.fec_ptr.clear();
  for (const auto &f : fec) {
    if (f.size() != want_len || f[kRtpRoom] != tag) continue;
    const std::uint8_t esi = f[kRtpRoom + 1];
    if (esi < hdr.k || esi >= hdr.k + hdr.r || seen_esi[esi]) continue;
    seen_esi[esi] = true;
    unsigned char *copy = sc.fec.data() + sc.fec_ptr.size() * want_len;
    std::copy(f.begin(), f.end(), copy);
    sc.fec_ptr.push_back(copy);
  }
  if (sc.fec_ptr.empty() || sc.kept.size() + sc.fec_ptr.size() < k)
    return failed(ZVFEC_STREAM_E_TOO_FEW);
  if (!handle_) return failed(-1);
  sc.fec_len.assign(sc.fec_ptr.size(), static_cast<int>(want_len));
  stage_media(sc.kept);

  // The media API does not take the capacity of the output buffers: give it
  // one of S bytes for every packet it could possibly return.
  const std::size_t n_out = std::max(k, sc.fec_ptr.size());
  sc.out.resize(n_out * s);
  sc.out_ptr.clear();
  for (std::size_t m = 0; m < n_out; ++m) sc.out_ptr.push_back(sc.out.data() + m * s);
  sc.out_len.assign(n_out, 0);
  int rec_num = 0;

  Decoded out;
  out.code = zv_rsfec_decode(handle_, sc.med_ptr.data(), sc.med_len.data(),
                             static_cast<int>(sc.med_ptr.size()), sc.fec_ptr.data(),
                             sc.fec_len.data(), static_cast<int>(sc.fec_ptr.size()), 0,
                             sc.out_ptr.data(), sc.out_len.data(), &rec_num);
  if (out.code != 0) return out;

  std::vector<std::pair<std::size_t, ByteView>> found;  // (offset in the group, packet)
  const auto returned = static_cast<std::size_t>(std::clamp(rec_num, 0, static_cast<int>(n_out)));
  for (std::size_t m = 0; m < returned; ++m) {
    const int len = sc.out_len[m];
    if (len < 12 || static_cast<std::size_t>(len) > s - 2) {
      ++out.rejected;
      continue;
    }
    const ByteView pkt(sc.out_ptr[m], static_cast<std::size_t>(len));
    const auto rtp = parse_rtp(pkt);
    const std::size_t off = rtp ? static_cast<std::uint16_t>(rtp->seq - hdr.base_seq) : k;
    if (!rtp || rtp->ssrc != ssrc || off >= k || sc.have[off]) {
      ++out.rejected;
      continue;
    }
    sc.have[off] = true;
    found.emplace_back(off, pkt);
  }
  std::sort(found.begin(), found.end(),
            [](const auto &a, const auto &b) { return a.first < b.first; });
  for (const auto &f : found) out.packets.emplace_back(f.second.begin(), f.second.end());
  return out;
}

GroupCodec::Decoded GroupCodec::decode_checked(const zvfec_stream_fec_header &hdr,
                                               std::span<const ByteView> media,
                                               std::span<const ByteView> fec, std::uint32_t ssrc) {
  if (!describes_group(variant_, hdr)) return failed(ZVFEC_STREAM_E_ARG);
  // The gaps: media packets of the group decode() does not count as present.
  gather_media(hdr, media, ssrc, scratch_.have, scratch_.kept);
  const std::size_t need = static_cast<std::size_t>(hdr.k) - scratch_.kept.size();
  if (need == 0 || fec.size() <= need) return decode(hdr, media, fec, ssrc);

  // Exactly `need` FEC packets per decode, one choice after another: any two
  // choices of genuine symbols rebuild the same packets, so a forged symbol
  // shows as a disagreement, and then nothing is handed out.
  constexpr int kMaxChoices = 24;
  std::vector<std::size_t> pick(need);
  for (std::size_t i = 0; i < need; ++i) pick[i] = i;
  std::optional<Decoded> agreed;
  int rejected = 0, last_code = ZVFEC_STREAM_E_TOO_FEW;
  std::vector<ByteView> chosen;
  for (int n = 0; n < kMaxChoices; ++n) {
    chosen.clear();
    for (auto i : pick) chosen.push_back(fec[i]);
    auto d = decode(hdr, media, chosen, ssrc);
    rejected += d.rejected;
    if (d.code != ZVFEC_STREAM_E_TOO_FEW) last_code = d.code;
    if (d.packets.size() == need) {
      if (!agreed) {
        agreed = std::move(d);
      } else if (agreed->packets != d.packets) {
        Decoded conflict;
        conflict.code = ZVFEC_STREAM_E_CONFLICT;
        conflict.rejected = rejected;
        return conflict;
      }
    }
    // The next choice of need indices out of fec.size(), in lexicographic order.
    std::size_t i = need;
    while (i > 0 && pick[i - 1] == fec.size() - need + i - 1) --i;
    if (i == 0) break;
    ++pick[i - 1];
    for (std::size_t j = i; j < need; ++j) pick[j] = pick[j - 1] + 1;
  }
  Decoded out = agreed ? std::move(*agreed) : Decoded{};
  if (!agreed) out.code = last_code;
  out.rejected = rejected;
  return out;
}

}  // namespace zv::stream
