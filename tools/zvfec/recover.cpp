#include "recover.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <tuple>

#include <fmt/format.h>

#include "progress.h"
#include "rtp.h"

namespace zvtool {
namespace {

struct StreamKey {
  FlowKey flow;
  std::uint32_t ssrc;
  auto operator<=>(const StreamKey &) const = default;
};

struct OutPacket {
  std::int64_t ts_ns = 0;
  Bytes rtp;
  Frame frame;
  bool recovered = false;
};

struct FecRef {
  std::size_t frame;
  UdpView view;
  FecHeader hdr;
  std::int64_t base_ext;
};

struct Stream {
  std::map<std::int64_t, OutPacket> packets;  // by extended sequence number
  std::vector<FecRef> fec;
  bool seen = false;
  std::int64_t last_ext = 0;
  std::int64_t received = 0, recovered = 0;

  // The extended sequence number nearest the last media packet seen.
  std::int64_t nearest(std::uint16_t seq) const {
    if (!seen) return (std::int64_t{1} << 32) + seq;
    return last_ext + static_cast<std::int16_t>(static_cast<std::uint16_t>(seq - last_ext));
  }
  // Media packets move the reference; FEC headers, which may be forged, do not.
  std::int64_t extend(std::uint16_t seq) {
    last_ext = nearest(seq);
    seen = true;
    return last_ext;
  }
};

ByteView payload_of(const Frame &f, const UdpView &v) {
  return {f.data.data() + v.payload_off, v.payload_len};
}

}  // namespace

std::vector<Frame> recover_capture(const Capture &in, const RecoverOptions &opts,
                                   RecoverStats &stats, std::string *messages) {
  std::map<StreamKey, Stream> streams;
  Progress progress("recover", static_cast<std::int64_t>(in.frames.size()));
  for (std::size_t i = 0; i < in.frames.size(); ++i) {
    progress.update(static_cast<std::int64_t>(i));
    const Frame &f = in.frames[i];
    const auto v = dissect_udp(in.linktype, f);
    if (!v) {
      ++stats.non_udp;
      continue;
    }
    const ByteView payload = payload_of(f, *v);
    const auto rtp = parse_rtp(payload);
    if (!rtp) {
      ++stats.non_rtp;
      continue;
    }
    if (rtp->payload_type == opts.fec_pt && v->flow.dport >= opts.port_offset) {
      std::string why;
      const auto hdr = parse_fec_packet(payload, &why);
      if (!hdr) {
        ++stats.bad_fec;
        ++stats.bad_fec_reasons[why];
        continue;
      }
      ++stats.fec;
      StreamKey key{v->flow, fec_ssrc(rtp->ssrc)};
      key.flow.dport = static_cast<std::uint16_t>(key.flow.dport - opts.port_offset);
      Stream &st = streams[key];
      st.fec.push_back({i, *v, *hdr, st.nearest(hdr->base_seq)});
      continue;
    }
    Stream &st = streams[StreamKey{v->flow, rtp->ssrc}];
    const std::int64_t ext = st.extend(rtp->seq);
    if (st.packets.contains(ext)) {
      ++stats.duplicates;
      continue;
    }
    ++st.received;
    st.packets[ext] = OutPacket{f.ts_ns, Bytes(payload.begin(), payload.end()), f, false};
  }

  std::unique_ptr<FecCodec> codecs[3];
  for (auto &[key, st] : streams) {
    // One decode per distinct group description; FEC packets that disagree
    // with their group-mates about the group form a group of their own.
    std::map<std::tuple<std::int64_t, int, int, int, int>, std::vector<std::size_t>> groups;
    for (std::size_t j = 0; j < st.fec.size(); ++j) {
      const auto &h = st.fec[j].hdr;
      groups[{st.fec[j].base_ext, h.k, h.r, h.symbol_len, static_cast<int>(h.variant)}].push_back(
          j);
    }
    for (const auto &[gk, members] : groups) {
      const FecRef &first = st.fec[members.front()];
      const FecHeader &hdr = first.hdr;
      const std::int64_t base = std::get<0>(gk);
      bool gap = false;
      std::vector<ByteView> media, fec;
      for (std::int64_t e = base; e < base + hdr.k; ++e) {
        const auto it = st.packets.find(e);
        if (it == st.packets.end())
          gap = true;
        else
          media.emplace_back(it->second.rtp);
      }
      if (!gap) continue;
      for (auto j : members) fec.push_back(payload_of(in.frames[st.fec[j].frame], st.fec[j].view));
      auto &codec = codecs[static_cast<std::size_t>(hdr.variant)];
      if (!codec) codec = std::make_unique<FecCodec>(hdr.variant);
      const auto gaps = static_cast<std::size_t>(hdr.k) - media.size();
      auto d = codec->decode(hdr, media, fec, key.ssrc);
      stats.rejected += d.rejected;
      // One forged packet among the group's FEC packets spoils the whole
      // decode; when there are spares, try again without each one in turn.
      if (d.packets.size() < gaps && d.call.code != -100 && fec.size() > 1) {
        for (std::size_t skip = 0; skip < fec.size() && d.packets.size() < gaps; ++skip) {
          std::vector<ByteView> rest = fec;
          rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(skip));
          auto retry = codec->decode(hdr, media, rest, key.ssrc);
          if (retry.packets.size() > d.packets.size()) d = std::move(retry);
        }
      }
      if (d.call.code != 0 && d.call.code != -100) {
        ++stats.failed_groups;
        *messages += fmt::format(
            "ssrc {:#010x}: the group at sequence {} was not decoded "
            "(library code {})\n",
            key.ssrc, hdr.base_seq, d.call.code);
      }
      const Frame &tmpl = in.frames[first.frame];
      for (const auto &p : d.packets) {
        const auto seq = parse_rtp(p)->seq;
        const std::int64_t ext = base + static_cast<std::uint16_t>(seq - hdr.base_seq);
        OutPacket out{tmpl.ts_ns, p, {}, true};
        out.frame.data = build_udp_frame(tmpl, first.view, key.flow.sport, key.flow.dport, p);
        out.frame.orig_len = static_cast<std::uint32_t>(out.frame.data.size());
        if (out.frame.data.empty()) continue;
        st.packets[ext] = std::move(out);
        ++st.recovered;
      }
    }
  }

  // Per stream: sequence order, recovered packets timed like their predecessor.
  std::vector<std::vector<Frame>> ordered;
  for (auto &[key, st] : streams) {
    if (st.packets.empty() && st.fec.empty()) continue;
    StreamReport rep{key.flow, key.ssrc, st.received, st.recovered, 0};
    std::int64_t lo = INT64_MAX, hi = INT64_MIN;
    if (!st.packets.empty()) {
      lo = st.packets.begin()->first;
      hi = st.packets.rbegin()->first;
    }
    // A group counts towards the stream's span only when some packet of it is
    // here, so that a forged header cannot claim a range of losses.
    for (const auto &f : st.fec) {
      const auto it = st.packets.lower_bound(f.base_ext);
      if (it == st.packets.end() || it->first >= f.base_ext + f.hdr.k) continue;
      lo = std::min(lo, f.base_ext);
      hi = std::max(hi, f.base_ext + f.hdr.k - 1);
    }
    if (lo > hi) continue;
    rep.missing = hi - lo + 1 - static_cast<std::int64_t>(st.packets.size());
    stats.streams.push_back(rep);
    std::vector<Frame> frames;
    std::int64_t prev_ts = INT64_MIN;
    for (auto &[ext, p] : st.packets) {
      p.frame.ts_ns = p.recovered && prev_ts != INT64_MIN ? prev_ts : p.ts_ns;
      prev_ts = p.frame.ts_ns;
      frames.push_back(std::move(p.frame));
    }
    ordered.push_back(std::move(frames));
  }

  // Interleave the streams by time, each one kept in its own order.
  std::vector<Frame> out;
  std::vector<std::size_t> pos(ordered.size(), 0);
  for (;;) {
    std::size_t best = ordered.size();
    for (std::size_t s = 0; s < ordered.size(); ++s)
      if (pos[s] < ordered[s].size() &&
          (best == ordered.size() || ordered[s][pos[s]].ts_ns < ordered[best][pos[best]].ts_ns))
        best = s;
    if (best == ordered.size()) break;
    out.push_back(std::move(ordered[best][pos[best]++]));
  }
  return out;
}

int recover_command(const std::string &in, const std::string &out, const RecoverOptions &opts) {
  const auto cap = read_capture_for_command("recover", in);
  if (!cap) return 1;
  RecoverStats stats;
  std::string messages;
  const auto frames = recover_capture(*cap, opts, stats, &messages);
  if (!messages.empty()) fmt::print(stderr, "{}", messages);
  if (stats.bad_fec > 0) {
    std::string reasons;
    for (const auto &[why, n] : stats.bad_fec_reasons)
      reasons += fmt::format("{}{} ({})", reasons.empty() ? "" : ", ", why, n);
    fmt::print(stderr, "zvfec recover: ignored {} malformed FEC packet(s): {}\n", stats.bad_fec,
               reasons);
  }
  if (stats.rejected > 0)
    fmt::print(stderr,
               "zvfec recover: discarded {} decoded packet(s) that did not fit their group\n",
               stats.rejected);
  if (stats.streams.empty()) {
    fmt::print(stderr, "zvfec recover: no RTP packets over UDP in '{}'; nothing to recover\n", in);
    return 1;
  }
  if (auto why = write_capture(out, cap->linktype, frames); !why.empty()) {
    fmt::print(stderr, "zvfec recover: {}\n", why);
    return 1;
  }
  for (const auto &s : stats.streams)
    fmt::print("ssrc {:#010x} {}: received {}, recovered {}, still missing {}\n", s.ssrc,
               flow_name(s.flow), s.received, s.recovered, s.missing);
  if (stats.non_udp + stats.non_rtp + stats.duplicates > 0)
    fmt::print("left out: {} non-UDP, {} non-RTP, {} repeated packets\n", stats.non_udp,
               stats.non_rtp, stats.duplicates);
  if (stats.fec == 0) {
    fmt::print(stderr,
               "zvfec recover: no usable FEC packets (payload type {} on media port + {}); "
               "nothing was recovered\n",
               opts.fec_pt, opts.port_offset);
    return 1;
  }
  return 0;
}

}  // namespace zvtool
