// The sending half of the stream layer: consecutive media packets of each SSRC
// in groups, each group protected by r FEC packets framed as RTP.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <utility>

#include "stream/group_codec.h"

namespace zv::stream {

struct OutPacket {
  Bytes data;
  std::uint32_t media_ssrc = 0;
  std::int64_t seq = 0;
};

// Packets waiting to be handed out, first in first out; the one handed out
// last stays valid until the next pop.
class OutQueue {
 public:
  void push(OutPacket p) { waiting_.push_back(std::move(p)); }
  // The next packet; nullptr when none waits.
  const OutPacket *pop() {
    if (waiting_.empty()) return nullptr;
    current_ = std::move(waiting_.front());
    waiting_.pop_front();
    return &current_;
  }

 private:
  std::deque<OutPacket> waiting_;
  OutPacket current_;
};

class Sender {
 public:
  // cfg must have passed check_config.
  explicit Sender(const zvfec_stream_sender_config &cfg);
  static int check_config(const zvfec_stream_sender_config &cfg);

  int push(ByteView rtp, std::int64_t now_ns);
  std::int64_t deadline() const;
  void poll(std::int64_t now_ns);
  void flush();
  // The next FEC packet, valid until the next call; nullptr when none waits.
  const OutPacket *pop() { return out_.pop(); }
  const zvfec_stream_sender_stats &stats() const { return stats_; }

 private:
  struct Open {
    std::vector<Bytes> packets;
    std::uint16_t last_seq = 0;
    std::int64_t deadline = 0;
  };
  void protect(std::uint32_t ssrc, Open &group);

  zvfec_stream_sender_config cfg_;
  GroupCodec codec_;
  std::map<std::uint32_t, Open> open_;              // by media SSRC
  std::map<std::uint32_t, std::uint16_t> fec_seq_;  // next sequence number per FEC SSRC
  OutQueue out_;
  std::int64_t now_ = INT64_MIN;
  zvfec_stream_sender_stats stats_{};
};

}  // namespace zv::stream
