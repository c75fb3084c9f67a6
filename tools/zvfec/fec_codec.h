// One FEC group at a time through the stream layer (zvfec/stream.h), which
// checks everything a receiver gets from the network before the library sees
// it; here it is wrapped in the tool's C++ types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <zvfec/stream.h>

namespace zvtool {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The stream layer's variants (zvfec_stream_variant), in its order.
enum class Variant { audio_v2, video_v2, video_v1 };

struct VariantInfo {
  Variant variant;
  std::string_view name;   // as on the command line: "audio-v2", ...
  int type;                // ZV_FEC_AUDIO / ZV_FEC_VIDEO
  int version;             // ZV_FEC_VERSION_1 / ZV_FEC_VERSION_2
  std::uint8_t tag;        // the FEC header's first byte
  std::size_t header_len;  // FEC header bytes after the 12-byte RTP header
  int max_k, max_r, max_n;
  int default_k, default_r;
};

const VariantInfo &variant_info(Variant v);
std::span<const VariantInfo> all_variants();
std::optional<Variant> variant_from_name(std::string_view name);

// Empty when (k, r) fits the variant, else the reason.
std::string check_group_shape(Variant v, int k, int r);

// Bytes in front of every FEC packet for the caller's RTP header.
inline constexpr std::size_t kRtpRoom = 12;

// The repair symbol length S of a group whose longest RTP packet has
// `longest_rtp` bytes: that packet's media buffer (a 2-byte length, then the
// packet) rounded up to a multiple of 4.
inline std::size_t symbol_len_for(std::size_t longest_rtp) {
  return zvfec_stream_symbol_len(longest_rtp);
}

// Bytes of one FEC packet of variant v carrying a symbol of s bytes: the RTP
// room, the variant's FEC header and the symbol.
inline std::size_t fec_packet_len(Variant v, std::size_t s) {
  return zvfec_stream_fec_size(static_cast<int>(v), s);
}

// The group description carried by an FEC packet.
struct FecHeader {
  Variant variant;
  std::uint8_t esi;
  std::uint16_t base_seq;
  int k, r;
  int symbol_len;         // S
  std::uint32_t seqmask;  // video version 2 only
};

// Reads and validates the FEC header of a whole FEC packet (RTP room included).
// Refuses an unknown tag, a shape beyond the variant's limits, an S that is not
// a positive multiple of 4 large enough for an RTP header, an esi outside
// k .. k+r-1, a non-zero sequence mask, and a packet whose length is not exactly
// room + header + S. On refusal returns nullopt and, if why is given, the reason.
std::optional<FecHeader> parse_fec_packet(ByteView packet, std::string *why = nullptr);

// Wall time spent inside the stream layer's call, in nanoseconds.
struct Timed {
  int code = 0;
  std::int64_t ns = 0;
};

// A stream-layer codec for one variant, released on destruction.
class FecCodec {
 public:
  explicit FecCodec(Variant v);
  ~FecCodec();
  FecCodec(const FecCodec &) = delete;
  FecCodec &operator=(const FecCodec &) = delete;

  bool ok() const { return codec_ != nullptr; }
  Variant variant() const { return variant_; }

  // Protects k = media.size() RTP packets with consecutive sequence numbers by
  // r FEC packets, each with kRtpRoom zero bytes in front (the caller writes the
  // RTP header there). Returns 0, or the stream layer's or library's code.
  Timed encode(std::span<const ByteView> media, int r, std::vector<Bytes> &fec_out);

  struct Decoded {
    Timed call;                  // code 0 also when the library was not needed
    std::vector<Bytes> packets;  // recovered RTP packets, validated, in sequence order
    int rejected = 0;            // decoded packets that did not fit the group's gaps
  };

  // Recovers the group described by hdr from what arrived. media holds received
  // RTP packets of the flow (any sequence numbers; those outside the group, too
  // long for S, or repeated are left out); fec holds whole FEC packets that
  // parse_fec_packet accepted with this same group description (repeats are
  // left out). A recovered packet is kept only if it is an RTP packet of the
  // expected SSRC whose sequence number fills a gap of the group. When fewer
  // than k distinct symbols are usable the library is not called and call.code
  // is -100.
  Decoded decode(const FecHeader &hdr, std::span<const ByteView> media,
                 std::span<const ByteView> fec, std::uint32_t ssrc);

 private:
  Variant variant_;
  zvfec_stream_codec *codec_ = nullptr;
};

}  // namespace zvtool
