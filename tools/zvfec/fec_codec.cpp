#include "fec_codec.h"

#include <array>
#include <chrono>

#include <zvfec/stream.h>

namespace zvtool {
namespace {

// The stream layer describes each variant; the tool adds its command-line
// defaults.
std::array<VariantInfo, 3> make_variants() {
  constexpr std::array<std::pair<int, int>, 3> defaults{{{5, 2}, {10, 4}, {10, 4}}};
  std::array<VariantInfo, 3> out{};
  for (std::size_t v = 0; v < out.size(); ++v) {
    zvfec_stream_variant_info i{};
    zvfec_stream_variant_describe(static_cast<int>(v), &i);
    out[v] = {static_cast<Variant>(v),
              i.name,
              i.type,
              i.version,
              i.tag,
              i.header_len,
              i.max_k,
              i.max_r,
              i.max_n,
              defaults[v].first,
              defaults[v].second};
  }
  return out;
}

const std::array<VariantInfo, 3> &variants() {
  static const auto table = make_variants();
  return table;
}

std::int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

const VariantInfo &variant_info(Variant v) { return variants()[static_cast<std::size_t>(v)]; }

std::span<const VariantInfo> all_variants() { return variants(); }

std::optional<Variant> variant_from_name(std::string_view name) {
  for (const auto &i : variants())
    if (i.name == name) return i.variant;
  return std::nullopt;
}

std::string check_group_shape(Variant v, int k, int r) {
  const auto &i = variant_info(v);
  switch (zvfec_stream_check_shape(static_cast<int>(v), k, r)) {
    case 0:
      return {};
    case ZVFEC_STREAM_E_K:
      return "k must be 1.." + std::to_string(i.max_k);
    case ZVFEC_STREAM_E_R:
      return "r must be 1.." + std::to_string(i.max_r);
    default:
      return "k + r must be at most " + std::to_string(i.max_n);
  }
}

std::optional<FecHeader> parse_fec_packet(ByteView p, std::string *why) {
  zvfec_stream_fec_header h{};
  if (const int code = zvfec_stream_parse_fec(p.data(), p.size(), &h); code != 0) {
    if (why) *why = zvfec_stream_error_text(code);
    return std::nullopt;
  }
  return FecHeader{
      static_cast<Variant>(h.variant), h.esi, h.base_seq, h.k, h.r, h.symbol_len, h.seqmask};
}

FecCodec::FecCodec(Variant v) : variant_(v), codec_(zvfec_stream_codec_new(static_cast<int>(v))) {}

FecCodec::~FecCodec() { zvfec_stream_codec_free(codec_); }

Timed FecCodec::encode(std::span<const ByteView> media, int r, std::vector<Bytes> &fec_out) {
  fec_out.clear();
  if (!codec_) return {-1, 0};
  if (!check_group_shape(variant_, static_cast<int>(media.size()), r).empty()) return {-2, 0};
  std::vector<const std::uint8_t *> ptr;
  std::vector<std::size_t> len;
  std::size_t longest = 0;
  for (const auto &m : media) {
    ptr.push_back(m.data());
    len.push_back(m.size());
    longest = std::max(longest, m.size());
  }
  // A group too long for a symbol is refused by the stream layer.
  const std::size_t cap = fec_packet_len(variant_, symbol_len_for(longest));
  fec_out.assign(static_cast<std::size_t>(r), Bytes(cap));
  std::vector<std::uint8_t *> out;
  for (auto &f : fec_out) out.push_back(f.data());
  std::vector<std::size_t> out_len(fec_out.size(), 0);
  const std::int64_t t0 = now_ns();
  const int rc =
      zvfec_stream_codec_encode(codec_, ptr.data(), len.data(), static_cast<int>(media.size()), r,
                                out.data(), cap, out_len.data());
  const std::int64_t t1 = now_ns();
  if (rc != 0) {
    fec_out.clear();
    return {rc, t1 - t0};
  }
  for (std::size_t j = 0; j < fec_out.size(); ++j) fec_out[j].resize(out_len[j]);
  return {0, t1 - t0};
}

FecCodec::Decoded FecCodec::decode(const FecHeader &hdr, std::span<const ByteView> media,
                                   std::span<const ByteView> fec, std::uint32_t ssrc) {
  Decoded out;
  if (!codec_) {
    out.call.code = -1;
    return out;
  }
  const zvfec_stream_fec_header h{static_cast<int>(hdr.variant),
                                  hdr.esi,
                                  hdr.base_seq,
                                  hdr.k,
                                  hdr.r,
                                  hdr.symbol_len,
                                  hdr.seqmask};
  std::vector<const std::uint8_t *> mp, fp;
  std::vector<std::size_t> ml, fl;
  for (const auto &m : media) mp.push_back(m.data()), ml.push_back(m.size());
  for (const auto &f : fec) fp.push_back(f.data()), fl.push_back(f.size());
  const auto k = static_cast<std::size_t>(std::max(hdr.k, 0));
  const auto cap = static_cast<std::size_t>(std::max(hdr.symbol_len, 0));
  std::vector<Bytes> rec(k, Bytes(cap));
  std::vector<std::uint8_t *> rp;
  for (auto &b : rec) rp.push_back(b.data());
  std::vector<std::size_t> rl(k, 0);
  int count = 0;
  const std::int64_t t0 = now_ns();
  out.call.code = zvfec_stream_codec_decode(codec_, &h, ssrc, mp.data(), ml.data(), mp.size(),
                                            fp.data(), fl.data(), fp.size(), rp.data(), cap,
                                            rl.data(), &count, &out.rejected);
  out.call.ns = now_ns() - t0;
  for (int m = 0; m < count; ++m) {
    const auto i = static_cast<std::size_t>(m);
    rec[i].resize(rl[i]);
    out.packets.push_back(std::move(rec[i]));
  }
  return out;
}

}  // namespace zvtool
