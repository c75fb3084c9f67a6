// Checks shared by the harnesses of the zvfec tool's readers: what the tool
// makes of one captured frame.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include <zvfec/stream.h>

#include "capture.h"
#include "fuzz_support.h"
#include "rtp.h"

namespace zvfuzz {

// A UDP payload as the tool reads it: an RTP header, and an FEC packet read by
// the stream layer's parser, on which the tool relies. Accepted ones hold what
// the parsers promise.
inline void check_payload(zvtool::ByteView payload) {
  if (const auto rtp = zvtool::parse_rtp(payload)) {
    ZV_FUZZ_CHECK(payload.size() >= 12 + 4 * size_t{payload[0] & 0x0Fu});
  }
  zvfec_stream_fec_header fec{};
  if (zvfec_stream_parse_fec(payload.data(), payload.size(), &fec) == 0) {
    ZV_FUZZ_CHECK(fec.symbol_len >= 16 && fec.symbol_len % 4 == 0);
    ZV_FUZZ_CHECK(fec.esi >= fec.k && fec.esi < fec.k + fec.r);
    ZV_FUZZ_CHECK(zvfec_stream_check_shape(fec.variant, fec.k, fec.r) == 0);
    ZV_FUZZ_CHECK(payload.size() ==
                  zvfec_stream_fec_size(fec.variant, static_cast<size_t>(fec.symbol_len)));
  }
}

// Dissects a frame (its bytes copied into an allocation of exactly their
// size). A datagram found lies within the frame; rebuilt around its own
// payload with other ports it dissects again to the same payload and ports.
inline void check_frame(int linktype, const zvtool::Frame &frame) {
  const zvtool::Frame f{frame.ts_ns, zvtool::Bytes(frame.data.begin(), frame.data.end()),
                        frame.orig_len};
  const auto v = zvtool::dissect_udp(linktype, f);
  if (!v) return;
  ZV_FUZZ_CHECK(v->l3_off <= v->l4_off && v->l4_off + 8 == v->payload_off);
  ZV_FUZZ_CHECK(v->payload_off + v->payload_len <= f.data.size());
  const zvtool::ByteView payload(f.data.data() + v->payload_off, v->payload_len);
  check_payload(payload);

  const auto sport = static_cast<uint16_t>(v->flow.sport ^ 0x5A5A);
  const auto dport = static_cast<uint16_t>(v->flow.dport + 1);
  zvtool::Frame rebuilt{f.ts_ns, zvtool::build_udp_frame(f, *v, sport, dport, payload), 0};
  if (rebuilt.data.empty()) return;
  rebuilt.orig_len = static_cast<uint32_t>(rebuilt.data.size());
  const auto again = zvtool::dissect_udp(linktype, rebuilt);
  ZV_FUZZ_CHECK(again.has_value());
  ZV_FUZZ_CHECK(again->flow.sport == sport && again->flow.dport == dport);
  ZV_FUZZ_CHECK(again->payload_len == v->payload_len);
  ZV_FUZZ_CHECK(std::equal(payload.begin(), payload.end(),
                           rebuilt.data.begin() + static_cast<std::ptrdiff_t>(again->payload_off)));
}

}  // namespace zvfuzz
