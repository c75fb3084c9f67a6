// Protects one group of RTP packets per wire variant, loses some packets on the
// way and recovers them, all through the library's exported functions.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "zv_rsfec.h"

namespace {

constexpr int kMediaCount = 8;  // k
constexpr int kFecCount = 3;    // r
constexpr int kMaxPacket = 1200;

using Buffer = std::vector<unsigned char>;

// A media buffer: little-endian length prefix, then an RTP packet with the
// given sequence number and a random payload, then zero padding to `capacity`.
Buffer make_media(uint16_t seq, int rtp_len, int capacity, std::mt19937 &rng) {
  Buffer b(static_cast<size_t>(capacity), 0);
  b[0] = static_cast<unsigned char>(rtp_len & 0xFF);
  b[1] = static_cast<unsigned char>(rtp_len >> 8);
  b[2] = 0x80;  // RTP version 2
  b[3] = 96;    // payload type
  b[4] = static_cast<unsigned char>(seq >> 8);
  b[5] = static_cast<unsigned char>(seq & 0xFF);
  for (int i = 6; i < 2 + rtp_len; ++i)
    b[static_cast<size_t>(i)] = static_cast<unsigned char>(rng());
  return b;
}

struct Variant {
  const char *name;
  int type;
  int version;
};

bool run(const Variant &v, std::mt19937 &rng) {
  void *handle = nullptr;
  if (zv_rsfec_initilize(v.type, v.version, &handle) != 1) {
    std::printf("%-10s could not create a handle\n", v.name);
    return false;
  }

  // Sender: k media packets of random sizes; the buffers are zero-padded to the
  // largest size so that every buffer holds a whole symbol.
  std::uniform_int_distribution<int> size(40, kMaxPacket);
  std::vector<int> rtp_len(kMediaCount);
  int longest = 0;
  for (int &len : rtp_len) {
    len = size(rng);
    if (len + 2 > longest) longest = len + 2;
  }
  const int capacity = (longest + 3) & ~3;
  const uint16_t base_seq = 65531;  // the group wraps past 65535
  std::vector<Buffer> media;
  std::vector<unsigned char *> media_ptr;
  std::vector<int> media_len;
  for (int i = 0; i < kMediaCount; ++i) {
    media.push_back(make_media(static_cast<uint16_t>(base_seq + i), rtp_len[static_cast<size_t>(i)],
                               capacity, rng));
    media_len.push_back(rtp_len[static_cast<size_t>(i)] + 2);
  }
  for (Buffer &b : media) media_ptr.push_back(b.data());

  std::vector<Buffer> fec(kFecCount, Buffer(static_cast<size_t>(capacity + 24)));
  std::vector<unsigned char *> fec_ptr;
  std::vector<int> fec_len(kFecCount, capacity + 24);
  for (Buffer &b : fec) fec_ptr.push_back(b.data());

  int rc = zv_rsfec_encode(handle, 0, media_ptr.data(), media_len.data(), kMediaCount, kFecCount, 0,
                           fec_ptr.data(), fec_len.data());
  if (rc != 0) {
    std::printf("%-10s encode failed: %d\n", v.name, rc);
    zv_rsfec_destory(handle);
    return false;
  }

  // The network loses r media packets chosen at random.
  std::vector<int> order(kMediaCount);
  for (int i = 0; i < kMediaCount; ++i) order[static_cast<size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<bool> lost(kMediaCount, false);
  for (int i = 0; i < kFecCount; ++i)
    lost[static_cast<size_t>(order[static_cast<size_t>(i)])] = true;

  std::vector<unsigned char *> got_ptr;
  std::vector<int> got_len;
  for (int i = 0; i < kMediaCount; ++i) {
    if (lost[static_cast<size_t>(i)]) continue;
    got_ptr.push_back(media_ptr[static_cast<size_t>(i)]);
    got_len.push_back(media_len[static_cast<size_t>(i)]);
  }

  // Receiver.
  std::vector<Buffer> out(kFecCount, Buffer(static_cast<size_t>(capacity)));
  std::vector<unsigned char *> out_ptr;
  for (Buffer &b : out) out_ptr.push_back(b.data());
  std::vector<int> out_len(kFecCount, 0);
  int recovered = 0;
  rc = zv_rsfec_decode(handle, got_ptr.data(), got_len.data(), static_cast<int>(got_ptr.size()),
                       fec_ptr.data(), fec_len.data(), kFecCount, 0, out_ptr.data(), out_len.data(),
                       &recovered);
  zv_rsfec_destory(handle);
  if (rc != 0) {
    std::printf("%-10s decode failed: %d\n", v.name, rc);
    return false;
  }

  // Recovered packets come back in sequence order; compare each with the
  // packet that was lost.
  int next = 0;
  bool intact = recovered == kFecCount;
  for (int i = 0; i < kMediaCount && intact; ++i) {
    if (!lost[static_cast<size_t>(i)]) continue;
    const int len = rtp_len[static_cast<size_t>(i)];
    intact = out_len[static_cast<size_t>(next)] == len &&
             std::memcmp(out_ptr[static_cast<size_t>(next)], media_ptr[static_cast<size_t>(i)] + 2,
                         static_cast<size_t>(len)) == 0;
    ++next;
  }
  std::printf("%-10s k=%d r=%d lost media packets", v.name, kMediaCount, kFecCount);
  for (int i = 0; i < kMediaCount; ++i)
    if (lost[static_cast<size_t>(i)]) std::printf(" %d", (base_seq + i) & 0xFFFF);
  std::printf(" -> recovered %d, %s\n", recovered, intact ? "byte-identical" : "MISMATCH");
  return intact;
}

}  // namespace

int main() {
  std::printf("%s\n", zv_rsfec_version());
  std::mt19937 rng(2026);
  const Variant variants[] = {{"audio-v2", ZV_FEC_AUDIO, ZV_FEC_VERSION_2},
                              {"video-v2", ZV_FEC_VIDEO, ZV_FEC_VERSION_2},
                              {"video-v1", ZV_FEC_VIDEO, ZV_FEC_VERSION_1}};
  bool all = true;
  for (const Variant &v : variants) all = run(v, rng) && all;
  return all ? 0 : 1;
}
