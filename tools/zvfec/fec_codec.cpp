#include "fec_codec.h"

#include <algorithm>
#include <array>
#include <chrono>

#include <zv_rsfec.h>

#include "rtp.h"

namespace zvtool {
namespace {

// Version-2 groups are bounded by the library's working arrays (64 media and 64
// FEC pointers); version 1 can only place symbol indices up to 127.
constexpr std::array<VariantInfo, 3> kVariants{{
    {Variant::audio_v2, "audio-v2", ZV_FEC_AUDIO, ZV_FEC_VERSION_2, 0x11, 8, 64, 64, 128, 5, 2},
    {Variant::video_v2, "video-v2", ZV_FEC_VIDEO, ZV_FEC_VERSION_2, 0x01, 12, 64, 64, 128, 10, 4},
    {Variant::video_v1, "video-v1", ZV_FEC_VIDEO, ZV_FEC_VERSION_1, 0x00, 8, 127, 127, 128, 10, 4},
}};

// S travels in a 16-bit field and is a multiple of 4.
constexpr int kMaxSymbol = 65532;
// Length prefix plus the smallest RTP packet, rounded up to 4.
constexpr int kMinSymbol = 16;

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A media buffer: little-endian length prefix, the RTP packet, zeros up to cap.
Bytes media_buffer(ByteView rtp, std::size_t cap) {
  Bytes b(std::max(cap, rtp.size() + 2), 0);
  b[0] = static_cast<std::uint8_t>(rtp.size() & 0xFF);
  b[1] = static_cast<std::uint8_t>(rtp.size() >> 8);
  std::copy(rtp.begin(), rtp.end(), b.begin() + 2);
  return b;
}

}  // namespace

const VariantInfo &variant_info(Variant v) { return kVariants[static_cast<std::size_t>(v)]; }

std::span<const VariantInfo> all_variants() { return kVariants; }

std::optional<Variant> variant_from_name(std::string_view name) {
  for (const auto &i : kVariants)
    if (i.name == name) return i.variant;
  return std::nullopt;
}

std::optional<Variant> variant_from_tag(std::uint8_t tag) {
  for (const auto &i : kVariants)
    if (i.tag == tag) return i.variant;
  return std::nullopt;
}

std::string check_group_shape(Variant v, int k, int r) {
  const auto &i = variant_info(v);
  if (k < 1 || k > i.max_k) return "k must be 1.." + std::to_string(i.max_k);
  if (r < 1 || r > i.max_r) return "r must be 1.." + std::to_string(i.max_r);
  if (k + r > i.max_n) return "k + r must be at most " + std::to_string(i.max_n);
  return {};
}

std::size_t fec_packet_len(Variant v, std::size_t s) {
  return kRtpRoom + variant_info(v).header_len + s;
}

std::optional<FecHeader> parse_fec_packet(ByteView p, std::string *why) {
  auto refuse = [why](const char *reason) -> std::optional<FecHeader> {
    if (why) *why = reason;
    return std::nullopt;
  };
  if (p.size() < kRtpRoom + 8) return refuse("shorter than an FEC header");
  const std::uint8_t *h = p.data() + kRtpRoom;
  const auto v = variant_from_tag(h[0]);
  if (!v) return refuse("unknown variant tag");
  const auto &info = variant_info(*v);
  if (p.size() < kRtpRoom + info.header_len) return refuse("shorter than an FEC header");
  FecHeader f{*v, h[1], load_be16(h + 2), h[4], h[5], load_be16(h + 6), 0};
  if (info.header_len == 12) f.seqmask = load_be32(h + 8);
  if (!check_group_shape(*v, f.k, f.r).empty()) return refuse("group size out of range");
  if (f.symbol_len < kMinSymbol || f.symbol_len % 4 != 0) return refuse("bad symbol length");
  if (f.esi < f.k || f.esi >= f.k + f.r) return refuse("symbol index outside the group");
  if (f.seqmask != 0) return refuse("sequence masks are not supported");
  if (p.size() != fec_packet_len(*v, static_cast<std::size_t>(f.symbol_len)))
    return refuse("length does not match the symbol length");
  return f;
}

FecCodec::FecCodec(Variant v) : variant_(v) {
  const auto &i = variant_info(v);
  void *h = nullptr;
  if (zv_rsfec_initilize(i.type, i.version, &h) == 1) handle_ = h;
}

FecCodec::~FecCodec() { zv_rsfec_destory(handle_); }

Timed FecCodec::encode(std::span<const ByteView> media, int r, std::vector<Bytes> &fec_out) {
  fec_out.clear();
  const int k = static_cast<int>(media.size());
  if (!handle_) return {-1, 0};
  if (!check_group_shape(variant_, k, r).empty()) return {-2, 0};
  std::size_t longest = 0;
  for (const auto &m : media) {
    if (m.size() < 12) return {-2, 0};
    longest = std::max(longest, m.size());
  }
  const std::size_t s = symbol_len_for(longest);
  if (s > static_cast<std::size_t>(kMaxSymbol)) return {-2, 0};

  std::vector<Bytes> bufs;
  std::vector<unsigned char *> med_ptr;
  std::vector<int> med_len;
  bufs.reserve(media.size());
  for (const auto &m : media) {
    bufs.push_back(media_buffer(m, s));
    med_ptr.push_back(bufs.back().data());
    med_len.push_back(static_cast<int>(m.size() + 2));
  }
  const std::size_t cap = fec_packet_len(variant_, s);
  fec_out.assign(static_cast<std::size_t>(r), Bytes(cap));
  std::vector<unsigned char *> fec_ptr;
  std::vector<int> fec_len(static_cast<std::size_t>(r), static_cast<int>(cap));
  for (auto &f : fec_out) fec_ptr.push_back(f.data());

  const std::int64_t t0 = now_ns();
  const int rc = zv_rsfec_encode(handle_, 0, med_ptr.data(), med_len.data(), k, r, 0,
                                 fec_ptr.data(), fec_len.data());
  const std::int64_t t1 = now_ns();
  if (rc != 0) {
    fec_out.clear();
    return {rc, t1 - t0};
  }
  for (std::size_t j = 0; j < fec_out.size(); ++j) {
    // The library states the length it wrote; never trust it beyond our buffer.
    const auto len = static_cast<std::size_t>(std::clamp(fec_len[j], 0, static_cast<int>(cap)));
    fec_out[j].resize(len);
  }
  return {0, t1 - t0};
}

FecCodec::Decoded FecCodec::decode(const FecHeader &hdr, std::span<const ByteView> media,
                                   std::span<const ByteView> fec, std::uint32_t ssrc) {
  Decoded out;
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
    med_bufs.push_back(media_buffer(m, s));
    med_len.push_back(static_cast<int>(m.size() + 2));
  }
  const auto missing = static_cast<std::size_t>(std::count(have.begin(), have.end(), false));
  if (missing == 0) return out;

  const std::size_t want_len = fec_packet_len(variant_, s);
  std::vector<bool> seen_esi(256, false);
  std::vector<Bytes> fec_bufs;
  for (const auto &f : fec) {
    if (f.size() != want_len || f[kRtpRoom] != variant_info(variant_).tag) continue;
    const std::uint8_t esi = f[kRtpRoom + 1];
    if (esi < hdr.k || esi >= hdr.k + hdr.r || seen_esi[esi]) continue;
    seen_esi[esi] = true;
    fec_bufs.emplace_back(f.begin(), f.end());
  }
  if (fec_bufs.empty() || med_bufs.size() + fec_bufs.size() < k) {
    out.call.code = -100;
    return out;
  }
  if (!handle_) {
    out.call.code = -1;
    return out;
  }

  std::vector<unsigned char *> med_ptr, fec_ptr, rec_ptr;
  for (auto &b : med_bufs) med_ptr.push_back(b.data());
  std::vector<int> fec_len;
  for (auto &b : fec_bufs) {
    fec_ptr.push_back(b.data());
    fec_len.push_back(static_cast<int>(b.size()));
  }
  // The library does not take the capacity of the output buffers: give it one
  // of S bytes for every packet it could possibly return.
  const std::size_t n_out = std::max(k, fec_bufs.size());
  std::vector<Bytes> rec(n_out, Bytes(s));
  for (auto &b : rec) rec_ptr.push_back(b.data());
  std::vector<int> rec_len(n_out, 0);
  int rec_num = 0;

  const std::int64_t t0 = now_ns();
  const int rc =
      zv_rsfec_decode(handle_, med_ptr.data(), med_len.data(), static_cast<int>(med_ptr.size()),
                      fec_ptr.data(), fec_len.data(), static_cast<int>(fec_ptr.size()), 0,
                      rec_ptr.data(), rec_len.data(), &rec_num);
  out.call = {rc, now_ns() - t0};
  if (rc != 0) return out;

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

}  // namespace zvtool
