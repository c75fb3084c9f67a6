// The sending half of the stream layer: consecutive media packets of each SSRC
// in groups, each group protected by r FEC packets framed as RTP.
//
// A group's packets are copied once, into buffers of the sender's that are
// kept for the next group, and encoded when the group closes. The code cannot
// fold packets into the repair symbols as they come: its coefficients depend
// on the group's k, which a gap, a timeout or the end of the stream may cut
// short. FEC packets are written into buffers kept the same way and handed
// out from there.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <zvfec/stream.h>

#include "media/coding.h"
#include "media/wire.h"
#include "stream/containers.h"

namespace zv::stream {

class Sender {
 public:
  // cfg must have passed check_config.
  explicit Sender(const zvfec_stream_sender_config &cfg);
  static int check_config(const zvfec_stream_sender_config &cfg);

  int push(const uint8_t *rtp, size_t len, int64_t now_ns);
  int64_t deadline() const;
  void poll(int64_t now_ns);
  void flush();
  // The next FEC packet, valid until the next call; false when none waits.
  bool pop(zvfec_stream_packet &out);
  const zvfec_stream_sender_stats &stats() const { return stats_; }

 private:
  // The open group of one SSRC.
  struct Open {
    uint32_t ssrc = 0;
    int count = 0;  // media packets in it
    uint16_t first_seq = 0, last_seq = 0;
    uint32_t first_timestamp = 0;
    int64_t deadline = 0;
    size_t longest = 0;         // its longest media buffer
    std::vector<Buffer> media;  // media buffers: length prefix, packet
    std::vector<uint32_t> media_len;
  };
  struct Fec {
    Buffer buf;
    uint32_t len = 0;
    uint32_t media_ssrc = 0;
    int64_t seq = 0;
  };

  Open &open_of(uint32_t ssrc);
  void protect(Open &group);
  void release_popped();

  zvfec_stream_sender_config cfg_;
  const FecLayout &layout_;
  std::vector<Open> open_;                // by SSRC
  std::map<uint32_t, uint16_t> fec_seq_;  // next sequence number per FEC SSRC
  Pool<Fec> fec_;
  Fifo<uint32_t> waiting_;
  uint32_t popped_ = kNone;
  std::vector<SourceSymbol> sources_;
  std::vector<uint8_t *> repair_;
  std::vector<uint32_t> made_;
  int64_t now_ = INT64_MIN;
  zvfec_stream_sender_stats stats_{};
};

}  // namespace zv::stream
