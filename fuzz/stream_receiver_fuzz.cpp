// libFuzzer harness of the stream receiver: untrusted media and FEC packets
// in any order, at any times.
//
// The input first shapes a real group (variant, k, r, media payloads, which
// packets are lost, and bytes XORed into its FEC packets), so that the
// decoder is reached as well as the header checks; the rest of the input is
// raw packets: [kind][length, 2 bytes][bytes], kind bit 0 = FEC, bit 1 = time
// jumps by a second. Checked beyond the sanitizers: what comes back is an RTP
// packet of the SSRC it is handed out for, when the group's FEC packets were
// left intact it is exactly the lost media, and the receiver holds no more
// packets than its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include <zvfec/stream.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Input {
  const std::uint8_t *p;
  std::size_t n;
  std::uint8_t byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::uint32_t kSsrc = 0x5EED5EED;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Input in{data, size};
  const int variant = in.byte() % 3;
  const int k = 1 + in.byte() % 16, r = 1 + in.byte() % 8;
  const std::uint32_t lost_mask = in.byte() | in.byte() << 8;
  const bool tamper = in.byte() & 1;
  const std::uint16_t first = static_cast<std::uint16_t>(in.byte() << 8 | in.byte());

  const zvfec_stream_sender_config sc{variant, k, r, 127, 0, 0};
  zvfec_stream_sender *s = zvfec_stream_sender_new(&sc, nullptr);
  const zvfec_stream_receiver_config rc{1'000'000'000, 256};
  zvfec_stream_receiver *rx = zvfec_stream_receiver_new(&rc, nullptr);
  check(s && rx);

  std::set<Bytes> lost;
  std::int64_t now = 0;
  for (int i = 0; i < k; ++i) {
    Bytes m(12 + in.byte() % 64);
    m[0] = 0x80, m[1] = 96;
    m[2] = static_cast<std::uint8_t>((first + i) >> 8), m[3] = static_cast<std::uint8_t>(first + i);
    for (int b = 0; b < 4; ++b) m[8 + b] = static_cast<std::uint8_t>(kSsrc >> (24 - 8 * b));
    for (std::size_t b = 12; b < m.size(); ++b) m[b] = in.byte();
    zvfec_stream_sender_push(s, m.data(), m.size(), now);
    if (i < 16 && (lost_mask >> i & 1))
      lost.insert(m);
    else
      zvfec_stream_receiver_push_media(rx, m.data(), m.size(), now, nullptr);
  }
  zvfec_stream_sender_flush(s);
  zvfec_stream_packet p;
  std::vector<Bytes> fec;
  while (zvfec_stream_sender_pop(s, &p)) fec.emplace_back(p.data, p.data + p.len);
  for (auto &f : fec) {
    if (tamper)
      for (auto &b : f) b ^= in.byte();
    zvfec_stream_receiver_push_fec(rx, f.data(), f.size(), now);
  }

  std::set<Bytes> back;
  auto collect = [&] {
    while (zvfec_stream_receiver_pop(rx, &p)) {
      // An RTP packet of the stream it is handed out for.
      check(p.len >= 12 && (p.data[0] >> 6) == 2);
      check(p.media_ssrc == (std::uint32_t{p.data[8]} << 24 | std::uint32_t{p.data[9]} << 16 |
                             std::uint32_t{p.data[10]} << 8 | p.data[11]));
      back.emplace(p.data, p.data + p.len);
    }
  };
  collect();
  // Without tampering, what comes back is the lost media, all of it when
  // enough symbols arrived.
  if (!tamper) {
    for (const auto &b : back) check(lost.contains(b));
    if (lost.size() <= static_cast<std::size_t>(r)) check(back.size() == lost.size());
  }

  while (in.n >= 3) {
    const std::uint8_t kind = in.byte();
    const std::size_t len = static_cast<std::size_t>(in.byte() << 8 | in.byte()) % 2048;
    const std::size_t take = len < in.n ? len : in.n;
    if (kind & 2) now += 1'000'000'000;
    if (kind & 1)
      zvfec_stream_receiver_push_fec(rx, in.p, take, now);
    else
      zvfec_stream_receiver_push_media(rx, in.p, take, now, nullptr);
    in.p += take;
    in.n -= take;
    collect();
  }
  zvfec_stream_receiver_stats st{};
  zvfec_stream_receiver_get_stats(rx, &st);
  check(st.held <= 256);
  zvfec_stream_sender_free(s);
  zvfec_stream_receiver_free(rx);
  return 0;
}
