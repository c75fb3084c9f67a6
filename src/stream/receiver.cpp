#include "stream/receiver.h"

#include <algorithm>
#include <climits>

namespace zv::stream {

std::int64_t Receiver::Stream::nearest(std::uint16_t seq) const {
  if (!anchored) return (std::int64_t{1} << 32) + seq;
  return last_ext + static_cast<std::int16_t>(static_cast<std::uint16_t>(seq - last_ext));
}

std::int64_t Receiver::Stream::extend(std::uint16_t seq) {
  last_ext = nearest(seq);
  anchored = true;
  return last_ext;
}

void Receiver::Stream::widen(std::int64_t first, std::int64_t last) {
  lo = std::min(lo, first);
  hi = std::max(hi, last);
}

Receiver::Receiver(const zvfec_stream_receiver_config &cfg)
    : hold_ns_(cfg.hold_ns), max_packets_(cfg.max_packets ? cfg.max_packets : kDefaultMaxPackets) {}

void Receiver::advance(std::int64_t now_ns) {
  now_ = std::max(now_, now_ns);
  const std::int64_t limit = now_ < INT64_MIN + hold_ns_ ? INT64_MIN : now_ - hold_ns_;
  while (!fifo_.empty() && fifo_.front().time < limit) release_front();
}

void Receiver::bound() {
  while (held_ > max_packets_ && !fifo_.empty()) {
    release_front();
    ++stats_.evicted;
  }
}

void Receiver::release_front() {
  const Entry e = fifo_.front();
  fifo_.pop_front();
  const auto sit = streams_.find(e.ssrc);
  if (sit == streams_.end()) return;
  Stream &st = sit->second;
  if (!e.fec) {
    const auto it = st.packets.find(e.ext);
    if (it != st.packets.end() && it->second.id == e.id) {
      st.packets.erase(it);
      --held_;
    }
  } else if (const auto git = st.groups.find(e.key); git != st.groups.end()) {
    auto &fec = git->second.fec;
    const auto it =
        std::find_if(fec.begin(), fec.end(), [&](const Held &h) { return h.id == e.id; });
    if (it != fec.end()) {
      fec.erase(it);
      --held_;
    }
    if (fec.empty()) {
      if (!git->second.done && git->second.touched) ++stats_.unrecoverable_groups;
      st.groups.erase(git);
    }
  }
  // An SSRC that holds nothing is forgotten, so that a flood of made-up SSRCs
  // cannot grow the receiver.
  if (st.packets.empty() && st.groups.empty()) streams_.erase(sit);
}

void Receiver::hold(std::uint32_t ssrc, std::int64_t ext, const GroupKey *key) {
  fifo_.push_back({now_, ssrc, next_id_++, ext, key ? *key : GroupKey{}, key != nullptr});
  ++held_;
}

std::uint32_t Receiver::media_ssrc_of(std::uint32_t fec_ssrc) const {
  const auto it = ssrc_map_.find(fec_ssrc);
  return it != ssrc_map_.end() ? it->second : zvfec_stream_fec_ssrc(fec_ssrc);
}

GroupCodec *Receiver::codec(int variant) {
  auto &c = codecs_[static_cast<std::size_t>(variant)];
  if (!c) c = std::make_unique<GroupCodec>(variant);
  return c.get();
}

void Receiver::touch(Stream &st, Group &g, const GroupKey &key) {
  if (g.touched) return;
  g.touched = true;
  st.widen(key.base, key.base + key.k - 1);
}

int Receiver::push_media(ByteView rtp, std::int64_t now_ns, std::int64_t *ext_seq) {
  advance(now_ns);
  const auto h = parse_rtp(rtp);
  if (!h) return ZVFEC_STREAM_E_NOT_RTP;
  Stream &st = streams_[h->ssrc];
  const std::int64_t ext = st.extend(h->seq);
  if (ext_seq) *ext_seq = ext;
  if (st.packets.contains(ext)) {
    ++stats_.media_duplicates;
    ++st.duplicates;
    return ZVFEC_STREAM_DUPLICATE;
  }
  st.packets.emplace(ext, Held{Bytes(rtp.begin(), rtp.end()), next_id_});
  hold(h->ssrc, ext, nullptr);
  ++stats_.media;
  ++st.received;
  st.widen(ext, ext);
  // Every group this packet may belong to: bases up to 127 numbers back.
  for (auto it = st.groups.lower_bound(GroupKey{ext - 127, 0, 0, 0, 0});
       it != st.groups.end() && it->first.base <= ext; ++it) {
    if (it->first.base + it->first.k <= ext) continue;
    touch(st, it->second, it->first);
    try_decode(h->ssrc, st, it->first, it->second);
  }
  bound();
  return 0;
}

int Receiver::push_fec(ByteView rtp, std::int64_t now_ns) {
  advance(now_ns);
  const auto h = parse_rtp(rtp);
  zvfec_stream_fec_header hdr{};
  const int code = h ? parse_fec(rtp, hdr) : ZVFEC_STREAM_E_NOT_RTP;
  if (code != 0) {
    ++stats_.fec_refused;
    return code;
  }
  const std::uint32_t ssrc = media_ssrc_of(h->ssrc);
  Stream &st = streams_[ssrc];
  // Before the SSRC's first media packet the first group anchors the numbers,
  // so that media packets number on from it, across a wrap too.
  if (!st.anchored) st.last_ext = st.nearest(hdr.base_seq), st.anchored = true;
  const GroupKey key{st.nearest(hdr.base_seq), hdr.k, hdr.r, hdr.symbol_len, hdr.variant};
  auto [git, fresh] = st.groups.try_emplace(key);
  Group &g = git->second;
  if (fresh) {
    g.hdr = hdr;
    const auto m = st.packets.lower_bound(key.base);
    if (m != st.packets.end() && m->first < key.base + key.k) touch(st, g, key);
  }
  for (const auto &f : g.fec)
    if (std::equal(f.data.begin(), f.data.end(), rtp.begin(), rtp.end())) {
      ++stats_.fec_duplicates;
      return ZVFEC_STREAM_DUPLICATE;
    }
  // Room for every real symbol and a few forgeries of the same group.
  if (g.fec.size() >= static_cast<std::size_t>(2 * key.r + 2)) {
    ++stats_.fec_refused;
    return ZVFEC_STREAM_E_FULL;
  }
  ++stats_.fec;
  g.fec.push_back({Bytes(rtp.begin(), rtp.end()), next_id_});
  hold(ssrc, 0, &key);
  try_decode(ssrc, st, key, g);
  bound();
  return 0;
}

void Receiver::try_decode(std::uint32_t ssrc, Stream &st, const GroupKey &key, Group &g) {
  if (g.done) return;
  std::vector<ByteView> media;
  for (auto it = st.packets.lower_bound(key.base);
       it != st.packets.end() && it->first < key.base + key.k; ++it)
    media.emplace_back(it->second.data);
  if (media.size() == static_cast<std::size_t>(key.k)) {
    g.done = true;
    return;
  }
  std::array<bool, 256> esi{};
  std::size_t symbols = media.size();
  for (const auto &f : g.fec)
    if (!esi[f.data[kRtpRoom + 1]]) esi[f.data[kRtpRoom + 1]] = true, ++symbols;
  if (symbols < static_cast<std::size_t>(key.k)) return;

  std::vector<ByteView> fec;
  for (const auto &f : g.fec) fec.emplace_back(f.data);
  auto d = codec(key.variant)->decode_checked(g.hdr, media, fec, ssrc);
  stats_.rejected += static_cast<std::uint64_t>(d.rejected);
  if (d.code != 0 && d.code != ZVFEC_STREAM_E_TOO_FEW) ++stats_.decode_failures;
  std::size_t present = media.size();
  for (auto &p : d.packets) {
    const std::uint16_t seq = parse_rtp(p)->seq;
    const std::int64_t ext = key.base + static_cast<std::uint16_t>(seq - g.hdr.base_seq);
    // A packet held already (one too long for this group's symbols, which the
    // decode could not use) is no gap: what was rebuilt for it is dropped.
    if (!st.packets.emplace(ext, Held{p, next_id_}).second) {
      ++stats_.rejected;
      continue;
    }
    hold(ssrc, ext, nullptr);
    out_.push({std::move(p), ssrc, ext});
    ++stats_.recovered;
    ++st.recovered;
    ++present;
  }
  if (present == static_cast<std::size_t>(key.k)) g.done = true;
}

void Receiver::poll(std::int64_t now_ns) { advance(now_ns); }

zvfec_stream_receiver_stats Receiver::stats() const {
  auto s = stats_;
  s.held = held_;
  return s;
}

bool Receiver::ssrc_stats(std::uint32_t ssrc, zvfec_stream_ssrc_stats &out) const {
  const auto it = streams_.find(ssrc);
  if (it == streams_.end()) return false;
  const Stream &st = it->second;
  const std::int64_t span = st.lo <= st.hi ? st.hi - st.lo + 1 : 0;
  out = {st.received, st.recovered, st.duplicates,
         std::max<std::int64_t>(0, span - static_cast<std::int64_t>(st.received + st.recovered))};
  return true;
}

}  // namespace zv::stream
