#include "stream/sender.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "media/coding.h"
#include "stream/framing.h"

namespace zv::stream {

int Sender::check_config(const zvfec_stream_sender_config &cfg) {
  if (cfg.fec_pt < 0 || cfg.fec_pt > 127) return ZVFEC_STREAM_E_ARG;
  return check_shape(cfg.variant, cfg.k, cfg.r);
}

Sender::Sender(const zvfec_stream_sender_config &cfg)
    : cfg_(cfg), layout_(*layout_of(cfg.variant)) {
  prepare_coding();
}

Sender::Open &Sender::open_of(uint32_t ssrc) {
  auto it = std::lower_bound(open_.begin(), open_.end(), ssrc,
                             [](const Open &o, uint32_t s) { return o.ssrc < s; });
  if (it == open_.end() || it->ssrc != ssrc) {
    it = open_.insert(it, Open{});
    it->ssrc = ssrc;
    it->media.resize(static_cast<size_t>(cfg_.k));
    it->media_len.resize(static_cast<size_t>(cfg_.k));
  }
  return *it;
}

void Sender::release_popped() {
  if (popped_ == kNone) return;
  fec_.give_back(popped_);
  popped_ = kNone;
}

int Sender::push(const uint8_t *rtp, size_t len, int64_t now_ns) {
  release_popped();
  now_ = std::max(now_, now_ns);
  const auto h = read_rtp(rtp, len);
  if (!h) {
    ++stats_.not_rtp;
    return ZVFEC_STREAM_E_NOT_RTP;
  }
  ++stats_.media;
  Open &g = open_of(h->ssrc);
  if (g.count > 0 && h->seq != static_cast<uint16_t>(g.last_seq + 1)) protect(g);
  if (g.count == 0) {
    g.deadline = cfg_.group_timeout_ns > 0 && now_ <= INT64_MAX - cfg_.group_timeout_ns
                     ? now_ + cfg_.group_timeout_ns
                     : INT64_MAX;
    g.first_seq = h->seq;
    g.first_timestamp = h->timestamp;
    g.longest = 0;
  }
  Buffer &b = g.media[static_cast<size_t>(g.count)];
  b.reserve(len + kMediaPrefixSize);
  // A packet too long for any symbol makes its group refused when it closes.
  const size_t stated = write_media_buffer(b.data(), rtp, len);
  g.media_len[static_cast<size_t>(g.count)] = static_cast<uint32_t>(stated);
  g.longest = std::max(g.longest, stated);
  g.last_seq = h->seq;
  if (++g.count == cfg_.k) protect(g);
  return 0;
}

int64_t Sender::deadline() const {
  int64_t d = INT64_MAX;
  for (const Open &g : open_)
    if (g.count > 0) d = std::min(d, g.deadline);
  return d;
}

void Sender::poll(int64_t now_ns) {
  release_popped();
  now_ = std::max(now_, now_ns);
  for (Open &g : open_)
    if (g.count > 0 && g.deadline <= now_) protect(g);
}

void Sender::flush() {
  release_popped();
  for (Open &g : open_) protect(g);
}

void Sender::protect(Open &g) {
  if (g.count == 0) return;
  const int k = g.count;
  const int r = cfg_.r;
  const int64_t s = symbol_length_for(static_cast<int64_t>(g.longest));
  if (s > kMaxSymbolLength) {
    stats_.unprotected += static_cast<uint64_t>(k);
    stats_.last_error = ZVFEC_STREAM_E_TOO_LONG;
    g.count = 0;
    return;
  }
  const int symbol_len = static_cast<int>(s);
  sources_.resize(static_cast<size_t>(k));
  for (int i = 0; i < k; ++i) {
    Buffer &b = g.media[static_cast<size_t>(i)];
    const uint32_t len = g.media_len[static_cast<size_t>(i)];
    // The session code reads whole symbols.
    if (!layout_.cauchy) {
      b.zero_pad(len, static_cast<size_t>(symbol_len));
    }
    sources_[static_cast<size_t>(i)] = {b.data(),
                                        layout_.cauchy ? static_cast<int>(len) : symbol_len};
  }
  const size_t packet_len = static_cast<size_t>(layout_.packet_length(symbol_len));
  made_.resize(static_cast<size_t>(r));
  repair_.resize(static_cast<size_t>(r));
  for (int j = 0; j < r; ++j) {
    const uint32_t f = fec_.take();
    fec_[f].buf.reserve(packet_len);
    made_[static_cast<size_t>(j)] = f;
    repair_[static_cast<size_t>(j)] = fec_[f].buf.data() + layout_.symbol_offset();
  }
  const int rc = encode_group(layout_, symbol_len, sources_, repair_);
  if (rc != 0) {
    for (uint32_t f : made_) fec_.give_back(f);
    stats_.unprotected += static_cast<uint64_t>(k);
    stats_.last_error = rc;
    g.count = 0;
    return;
  }
  const uint32_t fec_ssrc = cfg_.fec_ssrc != 0 ? cfg_.fec_ssrc : derived_fec_ssrc(g.ssrc);
  uint16_t &seq = fec_seq_[fec_ssrc];
  for (int j = 0; j < r; ++j) {
    Fec &f = fec_[made_[static_cast<size_t>(j)]];
    write_fec_header(f.buf.data(), layout_,
                     group_fec_header(layout_, k, r, symbol_len, g.first_seq, k + j));
    write_rtp(f.buf.data(), static_cast<uint8_t>(cfg_.fec_pt), seq++, g.first_timestamp, fec_ssrc);
    f.len = static_cast<uint32_t>(packet_len);
    f.media_ssrc = g.ssrc;
    f.seq = g.last_seq;
    waiting_.push(made_[static_cast<size_t>(j)]);
    ++stats_.fec;
  }
  ++stats_.groups;
  g.count = 0;
}

bool Sender::pop(zvfec_stream_packet &out) {
  release_popped();
  if (waiting_.empty()) return false;
  popped_ = waiting_.pop();
  const Fec &f = fec_[popped_];
  out = {f.buf.data(), f.len, f.media_ssrc, f.seq};
  return true;
}

}  // namespace zv::stream
