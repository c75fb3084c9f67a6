#include "protect.h"

#include <map>

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

struct Stream {
  std::vector<std::size_t> group;  // frame indices of the open group
  std::uint16_t last_seq = 0;
  std::uint16_t fec_seq = 0;
  bool disabled = false;
};

}  // namespace

std::vector<Frame> protect_capture(const Capture &in, const ProtectOptions &opts,
                                   ProtectStats &stats, std::string *messages) {
  FecCodec codec(opts.variant);
  std::map<StreamKey, Stream> streams;
  std::vector<std::vector<Frame>> after(in.frames.size());
  std::vector<UdpView> views(in.frames.size());
  auto note = [messages](const std::string &s) { *messages += s + "\n"; };

  auto flush = [&](const StreamKey &key, Stream &st) {
    if (st.group.empty()) return;
    std::vector<ByteView> media;
    for (auto i : st.group) {
      const auto &v = views[i];
      media.emplace_back(in.frames[i].data.data() + v.payload_off, v.payload_len);
    }
    std::vector<Bytes> fec;
    const Timed t = codec.encode(media, opts.r, fec);
    const std::size_t last = st.group.back();
    if (t.code != 0) {
      note(fmt::format(
          "ssrc {:#010x}: a group of {} packets could not be protected (library code {})", key.ssrc,
          media.size(), t.code));
      stats.unprotected += static_cast<std::int64_t>(media.size());
      st.group.clear();
      return;
    }
    const auto first = parse_rtp(media.front());
    const auto dport = static_cast<std::uint16_t>(key.flow.dport + opts.port_offset);
    for (auto &f : fec) {
      RtpHeader h;
      h.payload_type = static_cast<std::uint8_t>(opts.fec_pt);
      h.seq = st.fec_seq++;
      h.timestamp = first->timestamp;
      h.ssrc = fec_ssrc(key.ssrc);
      write_rtp(f, h);
      Frame out;
      out.ts_ns = in.frames[last].ts_ns;
      out.data = build_udp_frame(in.frames[last], views[last], key.flow.sport, dport, f);
      out.orig_len = static_cast<std::uint32_t>(out.data.size());
      if (out.data.empty()) {
        note(fmt::format("ssrc {:#010x}: an FEC packet of {} bytes does not fit a UDP datagram",
                         key.ssrc, f.size()));
        continue;
      }
      after[last].push_back(std::move(out));
      ++stats.fec;
    }
    ++stats.groups;
    st.group.clear();
  };

  Progress progress("protect", static_cast<std::int64_t>(in.frames.size()));
  for (std::size_t i = 0; i < in.frames.size(); ++i) {
    progress.update(static_cast<std::int64_t>(i));
    const auto v = dissect_udp(in.linktype, in.frames[i]);
    if (!v) {
      ++stats.non_udp;
      continue;
    }
    views[i] = *v;
    const ByteView payload(in.frames[i].data.data() + v->payload_off, v->payload_len);
    const auto rtp = parse_rtp(payload);
    if (!rtp) {
      ++stats.non_rtp;
      continue;
    }
    ++stats.media;
    const StreamKey key{v->flow, rtp->ssrc};
    auto [it, fresh] = streams.try_emplace(key);
    Stream &st = it->second;
    if (fresh) {
      ++stats.streams;
      if (key.flow.dport + opts.port_offset > 0xFFFF) {
        note(fmt::format("ssrc {:#010x} on {}: port {} + {} is not a port; left unprotected",
                         key.ssrc, flow_name(key.flow), key.flow.dport, opts.port_offset));
        st.disabled = true;
      }
    }
    if (st.disabled) {
      ++stats.unprotected;
      continue;
    }
    if (!st.group.empty() && rtp->seq != static_cast<std::uint16_t>(st.last_seq + 1))
      flush(key, st);
    st.group.push_back(i);
    st.last_seq = rtp->seq;
    if (static_cast<int>(st.group.size()) == opts.k) flush(key, st);
  }
  for (auto &[key, st] : streams) flush(key, st);

  std::vector<Frame> out;
  out.reserve(in.frames.size() + static_cast<std::size_t>(stats.fec));
  for (std::size_t i = 0; i < in.frames.size(); ++i) {
    out.push_back(in.frames[i]);
    for (auto &f : after[i]) out.push_back(std::move(f));
  }
  return out;
}

int protect_command(const std::string &in, const std::string &out, const ProtectOptions &opts) {
  const auto cap = read_capture_for_command("protect", in);
  if (!cap) return 1;
  ProtectStats stats;
  std::string messages;
  const auto frames = protect_capture(*cap, opts, stats, &messages);
  if (!messages.empty()) fmt::print(stderr, "{}", messages);
  if (stats.media == 0) {
    fmt::print(stderr, "zvfec protect: no RTP packets over UDP in '{}'; nothing to protect\n", in);
    return 1;
  }
  if (auto why = write_capture(out, cap->linktype, frames); !why.empty()) {
    fmt::print(stderr, "zvfec protect: {}\n", why);
    return 1;
  }
  fmt::print(
      "{} RTP packets in {} stream(s): {} groups, {} FEC packets ({} k={} r={}, payload type "
      "{}, port +{})\n",
      stats.media, stats.streams, stats.groups, stats.fec, variant_info(opts.variant).name, opts.k,
      opts.r, opts.fec_pt, opts.port_offset);
  if (stats.non_udp + stats.non_rtp > 0)
    fmt::print("passed through unchanged: {} non-UDP and {} non-RTP packets\n", stats.non_udp,
               stats.non_rtp);
  return 0;
}

}  // namespace zvtool
