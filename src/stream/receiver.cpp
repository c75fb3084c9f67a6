#include "stream/receiver.h"

#include <algorithm>
#include <bitset>
#include <cstring>

#include "media/coding.h"
#include "stream/framing.h"

namespace zv::stream {

namespace {

// Slots of a stream's ring of media packets: at first, and at most. Packets
// farther apart than the most cannot belong to one group.
constexpr size_t kFirstRing = 16;
constexpr size_t kMaxRing = 65536;

// A media buffer stands this far into its record's bytes, so that the RTP
// packet behind its 2-byte prefix starts 4-byte aligned, as hosts that read
// its header words expect of a packet handed out.
constexpr size_t kMediaLead = 2;

// What identifies a repair symbol wherever it travels: its length and its
// first bytes, which hold combinations of the group's RTP headers. Four lanes
// of products, so that the hash does not wait on itself.
uint64_t fingerprint(const uint8_t *symbol, int len) {
  constexpr uint64_t kOdd[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                                0xD6E8FEB86659FD93ull};
  uint8_t head[64] = {};
  std::memcpy(head, symbol, static_cast<size_t>(std::min(len, 64)));
  uint64_t lane[4] = {static_cast<uint64_t>(len), 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    uint64_t w;
    std::memcpy(&w, head + 8 * i, 8);
    lane[i & 3] += w * kOdd[i & 3];
  }
  return mix64(lane[0] ^ mix64(lane[1] ^ mix64(lane[2] ^ mix64(lane[3]))));
}

}  // namespace

int64_t Receiver::Stream::nearest(uint16_t seq) const {
  if (!anchored) return (int64_t{1} << 32) + seq;
  return last_ext + static_cast<int16_t>(static_cast<uint16_t>(seq - last_ext));
}

int64_t Receiver::Stream::extend(uint16_t seq) {
  last_ext = nearest(seq);
  anchored = true;
  return last_ext;
}

void Receiver::Stream::widen(int64_t first, int64_t last) {
  lo = std::min(lo, first);
  hi = std::max(hi, last);
}

uint8_t *Receiver::media_of(Entry &e) { return e.buf.data() + kMediaLead; }

Receiver::Receiver(const zvfec_stream_receiver_config &cfg)
    : hold_ns_(cfg.hold_ns), max_packets_(cfg.max_packets ? cfg.max_packets : kDefaultMaxPackets) {
  prepare_coding();
}

// ---- records ----

uint32_t Receiver::stream_of(uint32_t ssrc) {
  if (const uint32_t si = by_ssrc_.find({ssrc, 0}); si != kNone) return si;
  const uint32_t si = streams_.take();
  Stream &st = streams_[si];
  std::vector<uint32_t> groups = std::move(st.groups);
  std::vector<Stream::Slot> ring = std::move(st.ring);
  groups.clear();
  // A stream forgotten with a large ring leaves it, so that a flood of new
  // SSRCs does not clear large rings over and over.
  if (ring.size() > kFirstRing) ring = {};
  std::fill(ring.begin(), ring.end(), Stream::Slot{0, kNone});
  st = Stream{};
  st.ssrc = ssrc;
  st.groups = std::move(groups);
  st.ring = std::move(ring);
  by_ssrc_.put({ssrc, 0}, si);
  return si;
}

uint32_t Receiver::find_media(uint32_t si, int64_t ext) const {
  const auto &ring = streams_[si].ring;
  if (ring.empty()) return kNone;
  const Stream::Slot &slot = ring[static_cast<size_t>(ext) & (ring.size() - 1)];
  return slot.entry != kNone && slot.ext == ext ? slot.entry : kNone;
}

void Receiver::index_media(uint32_t si, int64_t ext, uint32_t e) {
  auto &ring = streams_[si].ring;
  if (ring.empty()) ring.assign(kFirstRing, Stream::Slot{0, kNone});
  for (;;) {
    Stream::Slot &slot = ring[static_cast<size_t>(ext) & (ring.size() - 1)];
    // At the largest ring the older packet is no longer found: it is too far
    // from this one to share a group, and leaves with its time.
    if (slot.entry == kNone || slot.ext == ext || ring.size() >= kMaxRing) {
      slot = {ext, e};
      return;
    }
    // Packets apart by other than a multiple of the size stay apart at twice it.
    std::vector<Stream::Slot> wider(2 * ring.size(), Stream::Slot{0, kNone});
    for (const Stream::Slot &s : ring)
      if (s.entry != kNone) wider[static_cast<size_t>(s.ext) & (wider.size() - 1)] = s;
    ring = std::move(wider);
  }
}

void Receiver::unindex_media(uint32_t si, int64_t ext, uint32_t e) {
  auto &ring = streams_[si].ring;
  if (ring.empty()) return;
  Stream::Slot &slot = ring[static_cast<size_t>(ext) & (ring.size() - 1)];
  if (slot.entry == e) slot.entry = kNone;
}

bool Receiver::all_present(uint32_t gi) const {
  const Group &g = groups_[gi];
  for (int i = 0; i < g.k; ++i)
    if (find_media(g.stream, g.base + i) == kNone) return false;
  return true;
}

uint32_t Receiver::media_ssrc_of(uint32_t fec_ssrc) const {
  const auto it = ssrc_map_.find(fec_ssrc);
  return it != ssrc_map_.end() ? it->second : derived_fec_ssrc(fec_ssrc);
}

uint32_t Receiver::new_entry() {
  if (free_entries_.empty()) {
    entries_.emplace_back();
    flags_.push_back(0);
    return static_cast<uint32_t>(entries_.size() - 1);
  }
  const uint32_t e = free_entries_.back();
  free_entries_.pop_back();
  flags_[e] = 0;
  return e;
}

void Receiver::free_entry(uint32_t e) { free_entries_.push_back(e); }

void Receiver::hold(const Arrival &a) {
  if (a.entry != kNone) flags_[a.entry] |= kHeld;
  arrivals_.push(a);
  ++held_;
  ++streams_[a.stream].held;
}

void Receiver::unpin(uint32_t e) {
  flags_[e] &= static_cast<uint8_t>(~kPinned);
  if (!(flags_[e] & kHeld)) free_entry(e);
}

void Receiver::unpin_last() {
  if (last_popped_ == kNone) return;
  unpin(last_popped_);
  last_popped_ = kNone;
}

// ---- time and bounds ----

void Receiver::advance(int64_t now_ns) {
  now_ = std::max(now_, now_ns);
  const int64_t limit = now_ < INT64_MIN + hold_ns_ ? INT64_MIN : now_ - hold_ns_;
  while (!arrivals_.empty() && arrivals_.front().time < limit) release_front();
}

void Receiver::bound() {
  while (held_ > max_packets_ && !arrivals_.empty()) {
    release_front();
    ++stats_.evicted;
  }
  // Recovered packets a host never takes are dropped past the same bound.
  while (out_.size() > max_packets_) {
    unpin(out_.pop().entry);
    ++stats_.evicted;
  }
}

void Receiver::release_front() {
  const Arrival a = arrivals_.pop();
  const uint32_t si = a.stream;
  --held_;
  --streams_[si].held;
  if (a.group == kNone) {
    unindex_media(si, a.ext, a.entry);
    flags_[a.entry] &= static_cast<uint8_t>(~kHeld);
    if (!(flags_[a.entry] & kPinned)) free_entry(a.entry);
  } else {
    auto &fec = groups_[a.group].fec;
    const FecRef ref = fec.front();
    fec.erase(fec.begin());
    fingerprints_.erase({si, ref.fingerprint}, a.group);
    if (ref.entry != kNone) free_entry(ref.entry);
    if (fec.empty()) release_group(a.group);
  }
  forget_if_empty(si);
}

void Receiver::release_group(uint32_t gi) {
  Group &g = groups_[gi];
  const uint32_t si = g.stream;
  if (!g.done && g.touched) ++stats_.unrecoverable_groups;
  auto &list = streams_[si].groups;
  list.erase(std::find(list.begin(), list.end(), gi));
  // Groups it overlapped may rebuild now that it no longer contradicts them.
  retry_.clear();
  for_overlapping(si, g.base, g.k, gi, [&](uint32_t other) { retry_.push_back(other); });
  g.fec.clear();
  groups_.give_back(gi);
  for (uint32_t other : retry_) try_decode(other);
}

void Receiver::forget_if_empty(uint32_t si) {
  // An SSRC that holds nothing is forgotten, so that a flood of made-up SSRCs
  // cannot grow the receiver.
  Stream &st = streams_[si];
  if (st.held != 0 || !st.groups.empty()) return;
  by_ssrc_.erase({st.ssrc, 0}, si);
  streams_.give_back(si);
}

// ---- groups ----

uint32_t Receiver::find_group(uint32_t si, int64_t base, const zvfec_stream_fec_header &h) const {
  const auto &list = streams_[si].groups;
  auto it = std::lower_bound(list.begin(), list.end(), base,
                             [&](uint32_t gi, int64_t b) { return groups_[gi].base < b; });
  for (; it != list.end() && groups_[*it].base == base; ++it)
    if (groups_[*it].described_as(base, h)) return *it;
  return kNone;
}

uint32_t Receiver::add_group(uint32_t si, int64_t base, const zvfec_stream_fec_header &h) {
  const uint32_t gi = groups_.take();
  Group &g = groups_[gi];
  g.base = base;
  g.k = h.k;
  g.r = h.r;
  g.symbol_len = h.symbol_len;
  g.variant = h.variant;
  g.base_seq = h.base_seq;
  g.stream = si;
  g.fec.clear();
  g.backing = 0;
  g.done = g.rebuilt = g.touched = false;
  auto &list = streams_[si].groups;
  const auto at = std::upper_bound(list.begin(), list.end(), base, [&](int64_t b, uint32_t other) {
    return b < groups_[other].base;
  });
  list.insert(at, gi);
  for (int i = 0; i < g.k; ++i)
    if (find_media(si, base + i) != kNone) {
      touch(gi);
      break;
    }
  return gi;
}

template <class F>
void Receiver::for_overlapping(uint32_t si, int64_t base, int n, uint32_t gi, F &&f) {
  const auto &list = streams_[si].groups;
  auto it = std::lower_bound(list.begin(), list.end(), base - kLongestGroup,
                             [&](uint32_t g, int64_t b) { return groups_[g].base < b; });
  for (; it != list.end() && groups_[*it].base < base + n; ++it)
    if (*it != gi && groups_[*it].overlaps(base, n)) f(*it);
}

void Receiver::recount_backing(uint32_t gi) {
  std::bitset<kHeaderIndices> seen;
  for (const FecRef &f : groups_[gi].fec)
    if (!f.suspect) seen[f.esi] = true;
  groups_[gi].backing = static_cast<int>(seen.count());
}

bool Receiver::blocked(uint32_t gi) {
  const Group &g = groups_[gi];
  bool contradicted = false;
  for_overlapping(g.stream, g.base, g.k, gi, [&](uint32_t other) {
    const Group &o = groups_[other];
    if (o.rebuilt || o.backing >= g.backing) contradicted = true;
  });
  return contradicted;
}

void Receiver::touch(uint32_t gi) {
  Group &g = groups_[gi];
  if (g.touched) return;
  g.touched = true;
  streams_[g.stream].widen(g.base, g.base + g.k - 1);
}

// An FEC packet carrying the repair symbol of an FEC packet of another group
// is a copy under a forged header, real for at most one of the two: both are
// marked, and serve only rebuilds that another FEC packet confirms.
bool Receiver::mark_copies(uint32_t gi) {
  FecRef &mine = groups_[gi].fec.back();
  const uint32_t si = groups_[gi].stream;
  const uint32_t other = fingerprints_.find({si, mine.fingerprint});
  if (other == kNone) {
    fingerprints_.put({si, mine.fingerprint}, gi);
    return false;
  }
  if (other == gi) return false;
  mine.suspect = true;
  for (FecRef &f : groups_[other].fec)
    if (f.fingerprint == mine.fingerprint) f.suspect = true;
  recount_backing(other);
  return true;
}

void Receiver::try_decode(uint32_t gi) {
  if (groups_[gi].done) return;
  const Group &g0 = groups_[gi];
  const uint32_t si = g0.stream;
  const int k = g0.k, s = g0.symbol_len;
  const FecLayout &layout = *layout_of(g0.variant);

  held_media_.assign(static_cast<size_t>(k), HeldMedia{nullptr, 0});
  held_entries_.assign(static_cast<size_t>(k), kNone);
  int present = 0, usable = 0;
  for (int i = 0; i < k; ++i) {
    const uint32_t e = find_media(si, g0.base + i);
    if (e == kNone) continue;
    held_entries_[static_cast<size_t>(i)] = e;
    ++present;
    Entry &en = entries_[e];
    held_media_[static_cast<size_t>(i)] = {media_of(en), static_cast<int>(en.len)};
    usable += static_cast<int>(en.len) <= s;
  }
  if (present == k) {
    groups_[gi].done = true;
    return;
  }
  if (blocked(gi)) return;

  // Candidates, in arrival order within each rank: FEC packets whose index no
  // other held packet claims, then those that share one, then those whose
  // symbol another group's packet also carries.
  candidates_.clear();
  std::bitset<kHeaderIndices> seen, twice;
  for (const FecRef &f : g0.fec) {
    if (f.entry == kNone) continue;
    (seen[f.esi] ? twice : seen)[f.esi] = true;
  }
  if (usable + static_cast<int>(seen.count()) < k) return;
  for (int rank = 0; rank < 3; ++rank)
    for (const FecRef &f : g0.fec) {
      if (f.entry == kNone || (f.suspect ? 2 : twice[f.esi] ? 1 : 0) != rank) continue;
      candidates_.push_back(
          {f.esi, entries_[f.entry].buf.data() + layout.symbol_offset(), f.suspect});
    }

  // The session code reads whole symbols: held packets get their zeros.
  if (!layout.cauchy)
    for (int i = 0; i < k; ++i) {
      const uint32_t e = held_entries_[static_cast<size_t>(i)];
      if (e == kNone || entries_[e].len > static_cast<uint32_t>(s)) continue;
      Entry &en = entries_[e];
      en.buf.zero_pad(kMediaLead + en.len, kMediaLead + static_cast<size_t>(s));
      held_media_[static_cast<size_t>(i)].data = media_of(en);
    }

  // Each missing packet is rebuilt into a record of its own.
  rebuild_out_.assign(static_cast<size_t>(k), nullptr);
  rebuilt_entries_.assign(static_cast<size_t>(k), kNone);
  for (int i = 0; i < k; ++i) {
    if (held_media_[static_cast<size_t>(i)].data != nullptr) continue;
    const uint32_t e = new_entry();
    entries_[e].buf.reserve(kMediaLead + static_cast<size_t>(s));
    rebuilt_entries_[static_cast<size_t>(i)] = e;
    rebuild_out_[static_cast<size_t>(i)] = media_of(entries_[e]);
  }

  const Group &g = groups_[gi];
  const GroupView view{&layout, k, g.r, s, g.base_seq, streams_[si].ssrc};
  const auto result =
      rebuilder_.rebuild(view, held_media_.data(), rebuild_out_.data(), candidates_);
  stats_.rejected += static_cast<uint64_t>(result.rejected);
  if (result.outcome != Outcome::kRebuilt) {
    for (uint32_t e : rebuilt_entries_)
      if (e != kNone) free_entry(e);
    if (result.outcome == Outcome::kConflict) ++stats_.decode_failures;
    return;
  }
  for (int i = 0; i < k; ++i) {
    const uint32_t e = rebuilt_entries_[static_cast<size_t>(i)];
    if (e == kNone) {
      // A held packet too long for this group's symbols is no gap: what was
      // rebuilt for it is dropped.
      if (held_media_[static_cast<size_t>(i)].len > s) ++stats_.rejected;
      continue;
    }
    Entry &en = entries_[e];
    const int64_t ext = groups_[gi].base + i;
    en.len = static_cast<uint32_t>(kMediaPrefixSize + media_prefix(media_of(en)));
    index_media(si, ext, e);
    hold({now_, ext, e, si, kNone});
    flags_[e] |= kPinned;
    out_.push({ext, e, streams_[si].ssrc});
    ++stats_.recovered;
    ++streams_[si].recovered;
  }
  groups_[gi].done = groups_[gi].rebuilt = true;
}

// ---- packets ----

int Receiver::push_media(const uint8_t *rtp, size_t len, int64_t now_ns, int64_t *ext_seq) {
  unpin_last();
  advance(now_ns);
  const auto h = read_rtp(rtp, len);
  if (!h) return ZVFEC_STREAM_E_NOT_RTP;
  const uint32_t si = stream_of(h->ssrc);
  const int64_t ext = streams_[si].extend(h->seq);
  if (ext_seq) *ext_seq = ext;
  if (find_media(si, ext) != kNone) {
    ++stats_.media_duplicates;
    ++streams_[si].duplicates;
    return ZVFEC_STREAM_DUPLICATE;
  }
  const uint32_t e = new_entry();
  Entry &en = entries_[e];
  en.buf.reserve(kMediaLead + kMediaPrefixSize + len);
  // A packet too long for any symbol is longer than every group's S.
  en.len = static_cast<uint32_t>(write_media_buffer(media_of(en), rtp, len));
  index_media(si, ext, e);
  hold({now_, ext, e, si, kNone});
  ++stats_.media;
  Stream &st = streams_[si];
  ++st.received;
  st.widen(ext, ext);
  // Every group this packet may belong to.
  affected_.clear();
  for_overlapping(si, ext, 1, kNone, [&](uint32_t gi) { affected_.push_back(gi); });
  for (uint32_t gi : affected_) {
    touch(gi);
    try_decode(gi);
  }
  bound();
  return 0;
}

int Receiver::push_fec(const uint8_t *rtp, size_t len, int64_t now_ns) {
  unpin_last();
  advance(now_ns);
  const auto h = read_rtp(rtp, len);
  zvfec_stream_fec_header hdr{};
  const int code = h ? parse_fec(rtp, len, hdr) : ZVFEC_STREAM_E_NOT_RTP;
  if (code != 0) {
    ++stats_.fec_refused;
    return code;
  }
  const uint32_t si = stream_of(media_ssrc_of(h->ssrc));
  // Before the SSRC's first media packet the first group anchors the numbers,
  // so that media packets number on from it, across a wrap too.
  if (!streams_[si].anchored) streams_[si].extend(hdr.base_seq);
  const int64_t base = streams_[si].nearest(hdr.base_seq);
  uint32_t gi = find_group(si, base, hdr);
  if (gi == kNone) {
    gi = add_group(si, base, hdr);
    // Media often arrive whole before their group's FEC packets, which are
    // then not needed at all.
    groups_[gi].done = all_present(gi);
  }

  const FecLayout &layout = *layout_of(hdr.variant);
  const uint8_t *symbol = rtp + layout.symbol_offset();
  const uint64_t fp = fingerprint(symbol, hdr.symbol_len);
  for (const FecRef &f : groups_[gi].fec) {
    if (f.esi == hdr.esi && f.fingerprint == fp &&
        (f.entry == kNone || std::memcmp(entries_[f.entry].buf.data(), rtp, len) == 0)) {
      ++stats_.fec_duplicates;
      return ZVFEC_STREAM_DUPLICATE;
    }
  }
  // Room for every real symbol and a few forgeries of the same group.
  if (groups_[gi].fec.size() >= static_cast<size_t>(2 * hdr.r + 2)) {
    ++stats_.fec_refused;
    return ZVFEC_STREAM_E_FULL;
  }
  ++stats_.fec;
  // A group with nothing missing needs no more symbols; what identifies the
  // packet is kept for repeats and contradictions.
  uint32_t e = kNone;
  if (!groups_[gi].done) {
    e = new_entry();
    Entry &en = entries_[e];
    en.buf.reserve(len);
    std::memcpy(en.buf.data(), rtp, len);
    en.len = static_cast<uint32_t>(len);
  }
  groups_[gi].fec.push_back({fp, e, hdr.esi, false});
  hold({now_, 0, e, si, gi});
  const bool copy = mark_copies(gi);
  recount_backing(gi);
  affected_.clear();
  for_overlapping(si, base, hdr.k, gi, [&](uint32_t other) { affected_.push_back(other); });
  if (copy || !affected_.empty()) ++stats_.fec_conflicts;
  try_decode(gi);
  // What this packet backs may settle a contradiction the other way.
  for (uint32_t other : affected_) try_decode(other);
  bound();
  return 0;
}

void Receiver::poll(int64_t now_ns) {
  unpin_last();
  advance(now_ns);
}

bool Receiver::pop(zvfec_stream_packet &out) {
  unpin_last();
  if (out_.empty()) return false;
  const Waiting w = out_.pop();
  last_popped_ = w.entry;
  Entry &en = entries_[w.entry];
  out = {media_of(en) + kMediaPrefixSize, en.len - kMediaPrefixSize, w.ssrc, w.ext};
  return true;
}

zvfec_stream_receiver_stats Receiver::stats() const {
  auto s = stats_;
  s.held = held_;
  return s;
}

bool Receiver::ssrc_stats(uint32_t ssrc, zvfec_stream_ssrc_stats &out) const {
  const uint32_t si = by_ssrc_.find({ssrc, 0});
  if (si == kNone) return false;
  const Stream &st = streams_[si];
  const int64_t span = st.lo <= st.hi ? st.hi - st.lo + 1 : 0;
  out = {st.received, st.recovered, st.duplicates,
         std::max<int64_t>(0, span - static_cast<int64_t>(st.received + st.recovered))};
  return true;
}

}  // namespace zv::stream
