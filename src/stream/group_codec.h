// One FEC group through the media API: RTP packets in, FEC packets out, and
// back. Everything a receiver gets from the network is checked here before the
// media API sees it, because the media API trusts the FEC header it is handed
// (it reads S bytes behind it and up to S bytes of every media buffer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <zvfec/stream.h>

namespace zv::stream {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Bytes in front of every FEC packet for the RTP header.
inline constexpr std::size_t kRtpRoom = 12;
// S travels in a 16-bit field and is a multiple of 4.
inline constexpr std::size_t kMaxSymbol = 65532;
// Length prefix plus the smallest RTP packet, rounded up to 4.
inline constexpr int kMinSymbol = 16;

// nullptr for an unknown variant.
const zvfec_stream_variant_info *variant_info(int variant);

// The RTP fixed header fields this layer reads.
struct Rtp {
  std::uint8_t payload_type;
  std::uint16_t seq;
  std::uint32_t timestamp;
  std::uint32_t ssrc;
};

// Accepts version 2 with at least the fixed header plus its CSRC list, and
// refuses RTCP (second byte 192..223), which shares the version bits.
std::optional<Rtp> parse_rtp(ByteView p);

// Writes a 12-byte header without CSRCs, padding or extension at out[0..11].
void write_rtp(std::uint8_t *out, std::uint8_t pt, std::uint16_t seq, std::uint32_t timestamp,
               std::uint32_t ssrc);

int check_shape(int variant, int k, int r);
int parse_fec(ByteView packet, zvfec_stream_fec_header &out);

// S for a group whose longest media packet has `longest` bytes.
inline std::size_t symbol_len(std::size_t longest) { return (longest + 2 + 3) & ~std::size_t{3}; }

// Bytes of an FEC packet of the variant with an S-byte symbol; 0 for an
// unknown variant.
std::size_t fec_size(int variant, std::size_t s);

class GroupCodec {
 public:
  explicit GroupCodec(int variant);
  ~GroupCodec();
  GroupCodec(const GroupCodec &) = delete;
  GroupCodec &operator=(const GroupCodec &) = delete;

  bool ok() const { return handle_ != nullptr; }
  int variant() const { return variant_; }

  // k = media.size() RTP packets with consecutive sequence numbers become r FEC
  // packets with kRtpRoom zero bytes in front. Returns 0 or a negative code.
  int encode(std::span<const ByteView> media, int r, std::vector<Bytes> &fec_out);

  struct Decoded {
    int code = 0;                // 0 also when nothing was missing
    std::vector<Bytes> packets;  // recovered RTP packets, validated, in sequence order
    int rejected = 0;            // decoded packets that did not fit the group's gaps
  };

  // See zvfec_stream_codec_decode.
  Decoded decode(const zvfec_stream_fec_header &hdr, std::span<const ByteView> media,
                 std::span<const ByteView> fec, std::uint32_t ssrc);

  // decode, checked against the spare FEC packets when there are more than
  // gaps: the group is decoded from several choices of FEC packets (at most
  // 24), and what they rebuild is handed out only when every choice that
  // rebuilds all gaps agrees (else code ZVFEC_STREAM_E_CONFLICT). One forged
  // symbol thus neither spoils a group that has spares nor passes as media.
  // With no spare there is nothing to check against: a forgery that keeps the
  // FEC header and changes only bytes of the repair symbol cannot be told from
  // a real packet (the wire format carries no authentication).
  Decoded decode_checked(const zvfec_stream_fec_header &hdr, std::span<const ByteView> media,
                         std::span<const ByteView> fec, std::uint32_t ssrc);

 private:
  // Lays the media buffers of `media` out one after another in the scratch
  // arena and points the media pointer and length arrays at them.
  void stage_media(std::span<const ByteView> media);

  int variant_;
  void *handle_ = nullptr;

  // Working memory of every call, kept between calls, so that a group costs
  // no allocation once the codec has handled one as large: the media buffers
  // (a length prefix in front of each packet), copies of the FEC packets (the
  // version-2 decoder overwrites the symbols it is given, and callers keep
  // theirs), the media API's output buffers, and the arrays over them.
  struct Scratch {
    Bytes media, fec, out;
    std::vector<unsigned char *> med_ptr, fec_ptr, out_ptr;
    std::vector<int> med_len, fec_len, out_len;
    std::vector<ByteView> kept;  // the group's media packets among those given
    std::vector<bool> have;      // by offset in the group: present or recovered
  } scratch_;
};

}  // namespace zv::stream
