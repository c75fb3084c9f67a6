// The stream layer's receiver on untrusted media and FEC packets, in any
// order, at any times.
//
// The input first shapes a real group (variant, k, r, the payloads, which
// packets are lost, and bytes XORed into its FEC packets or not), so that the
// decoder is reached as well as the header checks; the rest is raw packets:
// [kind][length, 2 bytes][bytes], kind bit 0 = FEC, bit 1 = a second passes.
// Every packet is handed over in a buffer of exactly its length.
//
// Oracle: what comes back is an RTP packet of the SSRC it is handed out for;
// when the group's FEC packets were left intact it is exactly the lost media,
// all of it when no more than r were lost; the receiver never holds more
// packets than its bound.
#include <cstdint>
#include <set>
#include <vector>

#include <zvfec/stream.h>

#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zvfuzz::ExactBuf;
using zvfuzz::FuzzInput;

constexpr uint32_t kSsrc = 0x5EED5EED;
constexpr size_t kBound = 256;

uint32_t be32(const uint8_t *p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const int variant = in.range(0, 2);
  const int k = in.range(1, 16), r = in.range(1, 8);
  const uint16_t lost_mask = in.u16();
  const bool tamper = in.flag();
  const uint16_t first = in.u16();

  const zvfec_stream_sender_config sc{variant, k, r, 127, 0, 0};
  zvfec_stream_sender *s = zvfec_stream_sender_new(&sc, nullptr);
  const zvfec_stream_receiver_config rc{1'000'000'000, kBound};
  zvfec_stream_receiver *rx = zvfec_stream_receiver_new(&rc, nullptr);
  ZV_FUZZ_CHECK(s && rx);

  std::set<Bytes> lost;
  int64_t now = 0;
  for (int i = 0; i < k; ++i) {
    ExactBuf m(12 + in.range(0, 63));
    const uint16_t seq = static_cast<uint16_t>(first + i);
    m.data()[0] = 0x80, m.data()[1] = 96, m.data()[2] = seq >> 8, m.data()[3] = seq & 0xFF;
    for (int b = 0; b < 4; ++b) m.data()[8 + b] = static_cast<uint8_t>(kSsrc >> (24 - 8 * b));
    in.fill(m.data() + 12, m.size() - 12);
    zvfec_stream_sender_push(s, m.data(), m.size(), now);
    if (lost_mask >> i & 1)
      lost.emplace(m.data(), m.data() + m.size());
    else
      zvfec_stream_receiver_push_media(rx, m.data(), m.size(), now, nullptr);
  }
  zvfec_stream_sender_flush(s);
  zvfec_stream_packet p;
  while (zvfec_stream_sender_pop(s, &p)) {
    ExactBuf f(p.data, p.len);
    if (tamper)
      for (size_t b = 0; b < f.size(); ++b) f.data()[b] ^= in.u8();
    zvfec_stream_receiver_push_fec(rx, f.data(), f.size(), now);
  }

  std::set<Bytes> back;
  auto collect = [&] {
    while (zvfec_stream_receiver_pop(rx, &p)) {
      ZV_FUZZ_CHECK(p.len >= 12 && (p.data[0] >> 6) == 2);
      ZV_FUZZ_CHECK(p.media_ssrc == be32(p.data + 8));
      back.emplace(p.data, p.data + p.len);
    }
  };
  collect();
  if (!tamper) {
    for (const auto &b : back) ZV_FUZZ_CHECK(lost.contains(b));
    if (lost.size() <= static_cast<size_t>(r)) ZV_FUZZ_CHECK(back.size() == lost.size());
  }

  while (in.remaining() >= 3) {
    const uint8_t kind = in.u8();
    ExactBuf raw(in.u16() % 2048);
    in.fill(raw.data(), raw.size());
    if (kind & 2) now += 1'000'000'000;
    if (kind & 1)
      zvfec_stream_receiver_push_fec(rx, raw.data(), raw.size(), now);
    else
      zvfec_stream_receiver_push_media(rx, raw.data(), raw.size(), now, nullptr);
    collect();
  }
  zvfec_stream_receiver_stats st{};
  zvfec_stream_receiver_get_stats(rx, &st);
  ZV_FUZZ_CHECK(st.held <= kBound);
  zvfec_stream_sender_free(s);
  zvfec_stream_receiver_free(rx);
  return 0;
}
