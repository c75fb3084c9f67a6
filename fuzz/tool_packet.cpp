// The zvfec tool's packet readers on bytes straight from the fuzzer: the UDP
// dissector on a frame of a chosen link type, the RTP and FEC packet parsers
// on a payload, and the stream layer's group decoder, as the tool's simulator
// calls it, on FEC packets the parser accepted, with media packets of the
// fuzzer's making.
//
// Oracle: besides the checks of tool_support.h, every packet the group
// decoder returns is an RTP packet of the expected SSRC that fills a gap of
// the group, none twice, and no more come back than FEC packets went in.
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include <pcap/pcap.h>

#include <zvfec/stream.h>

#include "fuzz_support.h"
#include "rtp.h"
#include "tool_support.h"

namespace {

using zvfuzz::FuzzInput;

zvtool::Bytes take(FuzzInput &in, size_t max) {
  zvtool::Bytes b(in.u16() % (max + 1));
  in.fill(b.data(), b.size());
  return b;
}

using CodecPtr = std::unique_ptr<zvfec_stream_codec, decltype(&zvfec_stream_codec_free)>;

bool same_group(const zvfec_stream_fec_header &a, const zvfec_stream_fec_header &b) {
  return a.variant == b.variant && a.base_seq == b.base_seq && a.k == b.k && a.r == b.r &&
         a.symbol_len == b.symbol_len && a.seqmask == b.seqmask;
}

void decode_group(FuzzInput &in) {
  std::vector<zvtool::Bytes> fec;
  std::vector<zvfec_stream_fec_header> hdr;
  const int n_fec = in.range(1, 3);
  for (int j = 0; j < n_fec; ++j) {
    zvtool::Bytes b = take(in, 1200);
    zvfec_stream_fec_header h{};
    if (zvfec_stream_parse_fec(b.data(), b.size(), &h) == 0 &&
        (hdr.empty() || same_group(h, hdr[0]))) {
      fec.push_back(std::move(b));
      hdr.push_back(h);
    }
  }
  if (fec.empty()) return;
  std::vector<zvtool::Bytes> media;
  const int n_media = in.range(0, 8);
  for (int i = 0; i < n_media; ++i) media.push_back(take(in, 1200));
  const uint32_t ssrc = in.u32();

  const CodecPtr codec(zvfec_stream_codec_new(hdr[0].variant), zvfec_stream_codec_free);
  ZV_FUZZ_CHECK(codec != nullptr);
  std::vector<const uint8_t *> mp, fp;
  std::vector<size_t> ml, fl;
  for (const auto &m : media) mp.push_back(m.data()), ml.push_back(m.size());
  for (const auto &f : fec) fp.push_back(f.data()), fl.push_back(f.size());
  const auto k = static_cast<size_t>(hdr[0].k), cap = static_cast<size_t>(hdr[0].symbol_len);
  std::vector<zvtool::Bytes> out(k, zvtool::Bytes(cap));
  std::vector<uint8_t *> op;
  for (auto &o : out) op.push_back(o.data());
  std::vector<size_t> ol(k, 0);
  int count = 0;
  zvfec_stream_codec_decode(codec.get(), &hdr[0], ssrc, mp.data(), ml.data(), mp.size(), fp.data(),
                            fl.data(), fp.size(), op.data(), cap, ol.data(), &count, nullptr);
  ZV_FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= k);
  std::vector<zvtool::Bytes> decoded;
  for (int m = 0; m < count; ++m) {
    const auto i = static_cast<size_t>(m);
    ZV_FUZZ_CHECK(ol[i] <= cap);
    decoded.emplace_back(out[i].begin(), out[i].begin() + static_cast<std::ptrdiff_t>(ol[i]));
  }

  std::set<uint16_t> filled;
  for (const zvtool::ByteView m : media) {
    const auto rtp = zvtool::parse_rtp(m);
    if (rtp && rtp->ssrc == ssrc && m.size() + 2 <= static_cast<size_t>(hdr[0].symbol_len))
      filled.insert(static_cast<uint16_t>(rtp->seq - hdr[0].base_seq));
  }
  ZV_FUZZ_CHECK(decoded.size() <= fec.size());
  for (const zvtool::Bytes &p : decoded) {
    const auto rtp = zvtool::parse_rtp(p);
    ZV_FUZZ_CHECK(rtp && rtp->ssrc == ssrc);
    const auto off = static_cast<uint16_t>(rtp->seq - hdr[0].base_seq);
    ZV_FUZZ_CHECK(off < hdr[0].k);
    ZV_FUZZ_CHECK(filled.insert(off).second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  static constexpr int kLinkTypes[] = {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2,
                                       DLT_NULL,   DLT_LOOP,      DLT_RAW,
                                       DLT_IPV4,   DLT_IPV6,      147};
  switch (in.u8() % 3) {
    case 0: {
      const int linktype = in.pick(kLinkTypes);
      const uint8_t cut = in.u8();
      const auto rest = in.rest();
      zvtool::Frame frame{0, zvtool::Bytes(rest.first, rest.first + rest.second),
                          static_cast<uint32_t>(rest.second + (cut >= 240 ? cut - 239 : 0))};
      zvfuzz::check_frame(linktype, frame);
      break;
    }
    case 1: {
      const auto rest = in.rest();
      const zvtool::Bytes payload(rest.first, rest.first + rest.second);
      zvfuzz::check_payload(payload);
      break;
    }
    default:
      decode_group(in);
      break;
  }
  return 0;
}
