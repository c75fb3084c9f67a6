// The receiving half of the stream layer: media and FEC packets of any number
// of SSRCs in any order, groups assembled per SSRC and rebuilt as soon as
// enough of them has arrived, everything held for a bounded time.
//
// Every packet is copied once, into a record of the receiver's pool whose
// buffer is kept for the next packet, and held in one first-in first-out
// queue of arrival; expiry and the bound on held packets both release from
// its front. Media packets are found per SSRC in a ring by extended sequence
// number, groups per SSRC by their first sequence number. Lost packets are
// rebuilt straight into records of the pool and handed out from there.
//
// Groups that contradict each other rebuild nothing. A sender's groups never
// overlap within one SSRC, so an FEC packet whose group overlaps another group
// of the SSRC with another description (first sequence number, k, r, S or
// variant), or whose repair symbol another group's FEC packet also carries,
// is forged or damaged. Of two overlapping groups only one backed by more
// distinct FEC packets than the other may rebuild, and none may rebuild over a
// group that has rebuilt packets; a repair symbol found under two
// descriptions serves only a rebuild that another FEC packet confirms.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <zvfec/stream.h>

#include "stream/containers.h"
#include "stream/rebuild.h"

namespace zv::stream {

class Receiver {
 public:
  static constexpr size_t kDefaultMaxPackets = 8192;
  explicit Receiver(const zvfec_stream_receiver_config &cfg);

  void map_ssrc(uint32_t fec_ssrc, uint32_t media_ssrc) { ssrc_map_[fec_ssrc] = media_ssrc; }
  int push_media(const uint8_t *rtp, size_t len, int64_t now_ns, int64_t *ext_seq);
  int push_fec(const uint8_t *rtp, size_t len, int64_t now_ns);
  void poll(int64_t now_ns);
  // The next recovered packet, valid until the next call; false when none waits.
  bool pop(zvfec_stream_packet &out);
  zvfec_stream_receiver_stats stats() const;
  bool ssrc_stats(uint32_t ssrc, zvfec_stream_ssrc_stats &out) const;

 private:
  // The bytes of one held packet: a media buffer (length prefix, then the RTP
  // packet) or a whole FEC packet. What a packet is and where it belongs is
  // kept where it is looked up (the arrival queue, the stream's ring, its
  // group), so that releasing old packets touches none of their records.
  struct Entry {
    Buffer buf;
    uint32_t len = 0;
  };
  enum : uint8_t { kHeld = 1, kPinned = 2 };  // flags_ of an entry
  // Where a media packet's media buffer stands in its entry.
  static uint8_t *media_of(Entry &e);

  // An FEC packet of a group.
  struct FecRef {
    uint64_t fingerprint;  // of its repair symbol
    uint32_t entry;        // its bytes; kNone when its group needed nothing more
    uint8_t esi;
    bool suspect;  // its repair symbol is also another group's
  };

  // A group as its FEC packets describe it.
  struct Group {
    int64_t base = 0;  // extended number of its first media packet
    int k = 0, r = 0, symbol_len = 0, variant = 0;
    uint16_t base_seq = 0;
    uint32_t stream = kNone;
    std::vector<FecRef> fec;  // held FEC packets, in arrival order
    int backing = 0;          // distinct indices of packets not suspect, as they arrived
    bool done = false;        // nothing missing any more
    bool rebuilt = false;     // done by rebuilding what was missing
    bool touched = false;     // some media packet of it arrived

    bool described_as(int64_t b, const zvfec_stream_fec_header &h) const {
      return base == b && k == h.k && r == h.r && symbol_len == h.symbol_len &&
             variant == h.variant;
    }
    bool overlaps(int64_t b, int n) const { return base < b + n && b < base + k; }
  };

  struct Stream {
    uint32_t ssrc = 0;
    bool anchored = false;  // last_ext is set
    int64_t last_ext = 0;
    int64_t lo = INT64_MAX, hi = INT64_MIN;
    uint64_t received = 0, recovered = 0, duplicates = 0;
    size_t held = 0;               // packets held
    std::vector<uint32_t> groups;  // held groups, by first sequence number
    // Held media packets by extended sequence number, modulo the ring's size;
    // the ring doubles rather than let two held packets share a slot.
    struct Slot {
      int64_t ext;
      uint32_t entry;
    };
    std::vector<Slot> ring;

    // The extended sequence number nearest the last media packet seen.
    int64_t nearest(uint16_t seq) const;
    // Media packets move the reference; FEC headers, which may be forged, do not.
    int64_t extend(uint16_t seq);
    void widen(int64_t first, int64_t last);
  };

  // A held packet in the arrival queue. An FEC packet leaves first of its
  // group's, since both keep the order of arrival.
  struct Arrival {
    int64_t time;
    int64_t ext;     // media: extended sequence number
    uint32_t entry;  // media: its record
    uint32_t stream;
    uint32_t group;  // FEC: its group; kNone for media
  };
  // A recovered packet waiting to be handed out.
  struct Waiting {
    int64_t ext;
    uint32_t entry;
    uint32_t ssrc;
  };

  uint32_t stream_of(uint32_t ssrc);  // found or made
  uint32_t find_media(uint32_t si, int64_t ext) const;
  void index_media(uint32_t si, int64_t ext, uint32_t e);
  void unindex_media(uint32_t si, int64_t ext, uint32_t e);
  bool all_present(uint32_t gi) const;
  uint32_t media_ssrc_of(uint32_t fec_ssrc) const;
  uint32_t new_entry();
  void free_entry(uint32_t e);
  void hold(const Arrival &a);
  void advance(int64_t now_ns);
  void bound();
  void release_front();
  void release_group(uint32_t gi);
  void forget_if_empty(uint32_t si);
  // Ends what pins e; a record no longer held is then free.
  void unpin(uint32_t e);
  void unpin_last();
  uint32_t find_group(uint32_t si, int64_t base, const zvfec_stream_fec_header &h) const;
  uint32_t add_group(uint32_t si, int64_t base, const zvfec_stream_fec_header &h);
  // The held groups of the stream that overlap [base, base + n), other than gi.
  template <class F>
  void for_overlapping(uint32_t si, int64_t base, int n, uint32_t gi, F &&f);
  void recount_backing(uint32_t gi);
  bool blocked(uint32_t gi);
  void touch(uint32_t gi);
  void try_decode(uint32_t gi);
  // Marks the newest FEC packet of group gi and the packet of another group
  // that carries its symbol; true when there is one.
  bool mark_copies(uint32_t gi);

  int64_t hold_ns_;
  size_t max_packets_;
  int64_t now_ = INT64_MIN;
  size_t held_ = 0;
  std::vector<Entry> entries_;
  std::vector<uint8_t> flags_;  // by entry
  std::vector<uint32_t> free_entries_;
  Pool<Group> groups_;
  Pool<Stream> streams_;
  // Held packets in arrival order, with what releasing them needs: expiry
  // looks at the oldest time, and releases, without touching a record.
  Fifo<Arrival> arrivals_;
  Fifo<Waiting> out_;  // recovered packets waiting to be handed out
  uint32_t last_popped_ = kNone;
  IndexMap by_ssrc_;       // {ssrc, 0} -> stream
  IndexMap fingerprints_;  // {stream, fingerprint} -> group
  std::map<uint32_t, uint32_t> ssrc_map_;
  Rebuilder rebuilder_;
  std::vector<HeldMedia> held_media_;
  std::vector<uint32_t> held_entries_;  // the entries behind held_media_
  std::vector<uint8_t *> rebuild_out_;
  std::vector<uint32_t> rebuilt_entries_;
  std::vector<Candidate> candidates_;
  std::vector<uint32_t> affected_;  // groups a packet arriving concerns
  std::vector<uint32_t> retry_;     // groups a released group overlapped
  zvfec_stream_receiver_stats stats_{};
};

}  // namespace zv::stream
