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

// A media buffer: little-endian length prefix and the RTP packet. No padding:
// the media API reads a buffer only within its stated length.
Bytes media_buffer(ByteView rtp) {
  Bytes b(rtp.size() + 2);
  store_le16(b.data(), static_cast<std::uint16_t>(rtp.size()));
  std::copy(rtp.begin(), rtp.end(), b.begin() + 2);
  return b;
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

  std::vector<Bytes> bufs;
  std::vector<unsigned char *> med_ptr;
  std::vector<int> med_len;
  bufs.reserve(media.size());
  for (const auto &m : media) {
    bufs.push_back(media_buffer(m));
    med_ptr.push_back(bufs.back().data());
    med_len.push_back(static_cast<int>(m.size() + 2));
  }
  const std::size_t cap = fec_size(variant_, s);
  fec_out.assign(static_cast<std::size_t>(r), Bytes(cap));
  std::vector<unsigned char *> fec_ptr;
  std::vector<int> fec_len(static_cast<std::size_t>(r), static_cast<int>(cap));
  for (auto &f : fec_out) fec_ptr.push_back(f.data());

  const int rc = zv_rsfec_encode(handle_, 0, med_ptr.data(), med_len.data(), k, r, 0,
                                 fec_ptr.data(), fec_len.data());
  if (rc != 0) {
    fec_out.clear();
    return rc;
  }
  for (std::size_t j = 0; j < fec_out.size(); ++j) {
    // The media API states the length it wrote; never trust it beyond our buffer.
    const auto len = static_cast<std::size_t>(std::clamp(fec_len[j], 0, static_cast<int>(cap)));
    fec_out[j].resize(len);
  }
  return 0;
}

GroupCodec::Decoded GroupCodec::decode(const zvfec_stream_fec_header &hdr,
                                       std::span<const ByteView> media,
                                       std::span<const ByteView> fec, std::uint32_t ssrc) {
  Decoded out;
  const auto *info = variant_info(variant_);
  if (!info || hdr.variant != variant_ || check_shape(variant_, hdr.k, hdr.r) != 0 ||
      hdr.symbol_len < kMinSymbol || hdr.symbol_len % 4 != 0 ||
      static_cast<std::size_t>(hdr.symbol_len) > kMaxSymbol) {
    out.code = ZVFEC_STREAM_E_ARG;
    return out;
  }
  const auto k = static_cast<std::size_t>(hdr.k);
  const auto s = static_cast<std::size_t>(hdr.symbol_len);
  std::vector<bool> have(k, false);
  std::vector<Bytes> med_bufs;
  std::vector<int> med_len;
  for (const auto &m : media) {
    const auto rtp = parse_rtp(m);
    if (!rtp || rtp->ssrc != ssrc || m.size() + 2 > s) continue;
    const std::size_t off = static_cast<std::uint16_t>(rtp->seq - hdr.base_seq);
    if (off >= k || have[off]) continue;
    have[off] = true;
    med_bufs.push_back(media_buffer(m));
    med_len.push_back(static_cast<int>(m.size() + 2));
  }
  const auto missing = static_cast<std::size_t>(std::count(have.begin(), have.end(), false));
  if (missing == 0) return out;

  const std::size_t want_len = fec_size(variant_, s);
  std::array<bool, 256> seen_esi{};
  std::vector<Bytes> fec_bufs;
  for (const auto &f : fec) {
    if (f.size() != want_len || f[kRtpRoom] != info->tag) continue;
    const std::uint8_t esi = f[kRtpRoom + 1];
    if (esi < hdr.k || esi >= hdr.k + hdr.r || seen_esi[esi]) continue;
    seen_esi[esi] = true;
    fec_bufs.emplace_back(f.begin(), f.end());
  }
  if (fec_bufs.empty() || med_bufs.size() + fec_bufs.size() < k) {
    out.code = ZVFEC_STREAM_E_TOO_FEW;
    return out;
  }
  if (!handle_) {
    out.code = -1;
    return out;
  }

  std::vector<unsigned char *> med_ptr, fec_ptr, rec_ptr;
  for (auto &b : med_bufs) med_ptr.push_back(b.data());
  std::vector<int> fec_len;
  for (auto &b : fec_bufs) {
    fec_ptr.push_back(b.data());
    fec_len.push_back(static_cast<int>(b.size()));
  }
  // The media API does not take the capacity of the output buffers: give it
  // one of S bytes for every packet it could possibly return.
  const std::size_t n_out = std::max(k, fec_bufs.size());
  std::vector<Bytes> rec(n_out, Bytes(s));
  for (auto &b : rec) rec_ptr.push_back(b.data());
  std::vector<int> rec_len(n_out, 0);
  int rec_num = 0;

  out.code =
      zv_rsfec_decode(handle_, med_ptr.data(), med_len.data(), static_cast<int>(med_ptr.size()),
                      fec_ptr.data(), fec_len.data(), static_cast<int>(fec_ptr.size()), 0,
                      rec_ptr.data(), rec_len.data(), &rec_num);
  if (out.code != 0) return out;

  std::vector<std::pair<std::size_t, Bytes>> found;
  const int returned = std::clamp(rec_num, 0, static_cast<int>(n_out));
  for (int m = 0; m < returned; ++m) {
    const auto idx = static_cast<std::size_t>(m);
    const int len = rec_len[idx];
    if (len < 12 || static_cast<std::size_t>(len) > s - 2) {
      ++out.rejected;
      continue;
    }
    ByteView pkt(rec[idx].data(), static_cast<std::size_t>(len));
    const auto rtp = parse_rtp(pkt);
    const std::size_t off = rtp ? static_cast<std::uint16_t>(rtp->seq - hdr.base_seq) : k;
    if (!rtp || rtp->ssrc != ssrc || off >= k || have[off]) {
      ++out.rejected;
      continue;
    }
    have[off] = true;
    found.emplace_back(off, Bytes(pkt.begin(), pkt.end()));
  }
  std::sort(found.begin(), found.end(),
            [](const auto &a, const auto &b) { return a.first < b.first; });
  for (auto &f : found) out.packets.push_back(std::move(f.second));
  return out;
}

GroupCodec::Decoded GroupCodec::decode_checked(const zvfec_stream_fec_header &hdr,
                                               std::span<const ByteView> media,
                                               std::span<const ByteView> fec, std::uint32_t ssrc) {
  // The gaps: media packets of the group decode() would not count as present.
  std::vector<bool> have(static_cast<std::size_t>(std::max(hdr.k, 0)), false);
  for (const auto &m : media) {
    const auto rtp = parse_rtp(m);
    if (!rtp || rtp->ssrc != ssrc || m.size() + 2 > static_cast<std::size_t>(hdr.symbol_len))
      continue;
    const std::size_t off = static_cast<std::uint16_t>(rtp->seq - hdr.base_seq);
    if (off < have.size()) have[off] = true;
  }
  const auto need = static_cast<std::size_t>(std::count(have.begin(), have.end(), false));
  if (need == 0 || fec.size() <= need) return decode(hdr, media, fec, ssrc);

  // Exactly `need` FEC packets per decode, one choice after another: any two
  // choices of genuine symbols rebuild the same packets, so a forged symbol
  // shows as a disagreement, and then nothing is handed out.
  constexpr int kMaxChoices = 24;
  std::vector<std::size_t> pick(need);
  for (std::size_t i = 0; i < need; ++i) pick[i] = i;
  std::optional<Decoded> agreed;
  int rejected = 0, last_code = ZVFEC_STREAM_E_TOO_FEW;
  for (int n = 0; n < kMaxChoices; ++n) {
    std::vector<ByteView> chosen;
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
