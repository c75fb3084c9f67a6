#include "stream/sender.h"

#include <algorithm>
#include <climits>

namespace zv::stream {

int Sender::check_config(const zvfec_stream_sender_config &cfg) {
  if (cfg.fec_pt < 0 || cfg.fec_pt > 127) return ZVFEC_STREAM_E_ARG;
  return check_shape(cfg.variant, cfg.k, cfg.r);
}

Sender::Sender(const zvfec_stream_sender_config &cfg) : cfg_(cfg), codec_(cfg.variant) {}

int Sender::push(ByteView rtp, std::int64_t now_ns) {
  now_ = std::max(now_, now_ns);
  const auto h = parse_rtp(rtp);
  if (!h) {
    ++stats_.not_rtp;
    return ZVFEC_STREAM_E_NOT_RTP;
  }
  ++stats_.media;
  Open &g = open_[h->ssrc];
  if (!g.packets.empty() && h->seq != static_cast<std::uint16_t>(g.last_seq + 1))
    protect(h->ssrc, g);
  if (g.packets.empty())
    g.deadline = cfg_.group_timeout_ns > 0 && now_ <= INT64_MAX - cfg_.group_timeout_ns
                     ? now_ + cfg_.group_timeout_ns
                     : INT64_MAX;
  g.packets.emplace_back(rtp.begin(), rtp.end());
  g.last_seq = h->seq;
  if (static_cast<int>(g.packets.size()) == cfg_.k) protect(h->ssrc, g);
  return 0;
}

std::int64_t Sender::deadline() const {
  std::int64_t d = INT64_MAX;
  for (const auto &[ssrc, g] : open_)
    if (!g.packets.empty()) d = std::min(d, g.deadline);
  return d;
}

void Sender::poll(std::int64_t now_ns) {
  now_ = std::max(now_, now_ns);
  for (auto &[ssrc, g] : open_)
    if (!g.packets.empty() && g.deadline <= now_) protect(ssrc, g);
}

void Sender::flush() {
  for (auto &[ssrc, g] : open_) protect(ssrc, g);
}

void Sender::protect(std::uint32_t ssrc, Open &g) {
  if (g.packets.empty()) return;
  const std::vector<ByteView> media(g.packets.begin(), g.packets.end());
  std::vector<Bytes> fec;
  const int rc = codec_.encode(media, cfg_.r, fec);
  if (rc != 0) {
    stats_.unprotected += g.packets.size();
    stats_.last_error = rc;
    g.packets.clear();
    return;
  }
  const auto first = parse_rtp(g.packets.front());
  const std::uint32_t fec_ssrc = cfg_.fec_ssrc != 0 ? cfg_.fec_ssrc : zvfec_stream_fec_ssrc(ssrc);
  std::uint16_t &seq = fec_seq_[fec_ssrc];
  for (auto &f : fec) {
    write_rtp(f.data(), static_cast<std::uint8_t>(cfg_.fec_pt), seq++, first->timestamp, fec_ssrc);
    out_.push({std::move(f), ssrc, g.last_seq});
    ++stats_.fec;
  }
  ++stats_.groups;
  g.packets.clear();
}

}  // namespace zv::stream
