// The receiving half of the stream layer: media and FEC packets of any number
// of SSRCs in any order, groups assembled per SSRC and decoded as soon as
// enough of them has arrived, everything held for a bounded time.
//
// Every packet is held once, in one first-in first-out queue of arrival
// times; expiry and the bound on held packets both release from its front.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "stream/group_codec.h"
#include "stream/sender.h"

namespace zv::stream {

class Receiver {
 public:
  static constexpr std::size_t kDefaultMaxPackets = 8192;
  explicit Receiver(const zvfec_stream_receiver_config &cfg);

  void map_ssrc(std::uint32_t fec_ssrc, std::uint32_t media_ssrc) {
    ssrc_map_[fec_ssrc] = media_ssrc;
  }
  int push_media(ByteView rtp, std::int64_t now_ns, std::int64_t *ext_seq);
  int push_fec(ByteView rtp, std::int64_t now_ns);
  void poll(std::int64_t now_ns);
  const OutPacket *pop() { return out_.pop(); }
  zvfec_stream_receiver_stats stats() const;
  bool ssrc_stats(std::uint32_t ssrc, zvfec_stream_ssrc_stats &out) const;

 private:
  // A group as one FEC header describes it; forged headers that disagree with
  // the real one about the group form groups of their own.
  struct GroupKey {
    std::int64_t base;  // extended sequence number of the first media packet
    int k, r, symbol_len, variant;
    auto operator<=>(const GroupKey &) const = default;
  };
  struct Held {
    Bytes data;
    std::uint64_t id;
  };
  struct Group {
    zvfec_stream_fec_header hdr;
    std::vector<Held> fec;
    bool done = false;     // nothing missing any more
    bool touched = false;  // some media packet of it arrived
  };
  struct Stream {
    std::map<std::int64_t, Held> packets;  // received and recovered, by extended number
    std::map<GroupKey, Group> groups;
    bool anchored = false;  // last_ext is set
    std::int64_t last_ext = 0;
    std::int64_t lo = INT64_MAX, hi = INT64_MIN;
    std::uint64_t received = 0, recovered = 0, duplicates = 0;

    // The extended sequence number nearest the last media packet seen.
    std::int64_t nearest(std::uint16_t seq) const;
    // Media packets move the reference; FEC headers, which may be forged, do not.
    std::int64_t extend(std::uint16_t seq);
    void widen(std::int64_t first, std::int64_t last);
  };
  struct Entry {
    std::int64_t time;
    std::uint32_t ssrc;
    std::uint64_t id;
    std::int64_t ext;  // media: its number; FEC: unused
    GroupKey key;      // FEC: its group
    bool fec;
  };

  void advance(std::int64_t now_ns);
  void bound();
  void release_front();
  void hold(std::uint32_t ssrc, std::int64_t ext, const GroupKey *key);
  std::uint32_t media_ssrc_of(std::uint32_t fec_ssrc) const;
  void touch(Stream &st, Group &g, const GroupKey &key);
  void try_decode(std::uint32_t ssrc, Stream &st, const GroupKey &key, Group &g);
  GroupCodec *codec(int variant);

  std::int64_t hold_ns_;
  std::size_t max_packets_;
  std::int64_t now_ = INT64_MIN;
  std::uint64_t next_id_ = 0;
  std::size_t held_ = 0;
  std::map<std::uint32_t, Stream> streams_;
  std::map<std::uint32_t, std::uint32_t> ssrc_map_;
  std::deque<Entry> fifo_;
  OutQueue out_;
  std::array<std::unique_ptr<GroupCodec>, 3> codecs_;
  zvfec_stream_receiver_stats stats_{};
};

}  // namespace zv::stream
