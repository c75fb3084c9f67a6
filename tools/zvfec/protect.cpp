#include "protect.h"

#include <map>
#include <memory>

#include <fmt/format.h>
#include <zvfec/stream.h>

#include "progress.h"
#include "rtp.h"
#include "variant.h"

namespace zvtool {
namespace {

struct StreamKey {
  FlowKey flow;
  std::uint32_t ssrc;
  auto operator<=>(const StreamKey &) const = default;
};

struct Stream {
  std::size_t last_frame = 0;  // index of the stream's latest media frame
  bool disabled = false;
};

using SenderPtr = std::unique_ptr<zvfec_stream_sender, decltype(&zvfec_stream_sender_free)>;

}  // namespace

std::vector<Frame> protect_capture(const Capture &in, const ProtectOptions &opts,
                                   ProtectStats &stats, std::string *messages) {
  // One sender per flow: it groups each SSRC's packets and numbers each FEC
  // stream on its own.
  std::map<FlowKey, SenderPtr> senders;
  std::map<StreamKey, Stream> streams;
  std::vector<std::vector<Frame>> after(in.frames.size());
  std::vector<UdpView> views(in.frames.size());
  auto note = [messages](const std::string &s) { *messages += s + "\n"; };

  // Places the FEC packets the sender of `flow` has made behind the last media
  // frame of the group each protects; frame i is the one just pushed.
  auto place = [&](const FlowKey &flow, zvfec_stream_sender *sender, std::size_t i,
                   std::uint16_t seq_i) {
    zvfec_stream_packet p;
    while (zvfec_stream_sender_pop(sender, &p)) {
      const Stream &st = streams[{flow, p.media_ssrc}];
      const std::size_t last = i < in.frames.size() && p.seq == seq_i ? i : st.last_frame;
      const auto dport = static_cast<std::uint16_t>(flow.dport + opts.port_offset);
      Frame out;
      out.ts_ns = in.frames[last].ts_ns;
      out.data =
          build_udp_frame(in.frames[last], views[last], flow.sport, dport, ByteView(p.data, p.len));
      out.orig_len = static_cast<std::uint32_t>(out.data.size());
      if (out.data.empty()) {
        note(fmt::format("ssrc {:#010x}: an FEC packet of {} bytes does not fit a UDP datagram",
                         p.media_ssrc, p.len));
        continue;
      }
      after[last].push_back(std::move(out));
      ++stats.fec;
    }
  };
  auto count = [&](zvfec_stream_sender *sender, std::uint32_t ssrc,
                   const zvfec_stream_sender_stats &before) {
    zvfec_stream_sender_stats now{};
    zvfec_stream_sender_get_stats(sender, &now);
    stats.groups += static_cast<std::int64_t>(now.groups - before.groups);
    if (now.unprotected > before.unprotected) {
      const auto n = now.unprotected - before.unprotected;
      note(fmt::format(
          "ssrc {:#010x}: a group of {} packets could not be protected (library code {})", ssrc, n,
          now.last_error));
      stats.unprotected += static_cast<std::int64_t>(n);
    }
  };

  const zvfec_stream_sender_config cfg{opts.variant, opts.k, opts.r, opts.fec_pt, 0, 0};
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
    auto sit = senders.find(v->flow);
    if (sit == senders.end())
      sit = senders
                .emplace(v->flow, SenderPtr(zvfec_stream_sender_new(&cfg, nullptr),
                                            zvfec_stream_sender_free))
                .first;
    zvfec_stream_sender *sender = sit->second.get();
    zvfec_stream_sender_stats before{};
    zvfec_stream_sender_get_stats(sender, &before);
    zvfec_stream_sender_push(sender, payload.data(), payload.size(), in.frames[i].ts_ns);
    count(sender, key.ssrc, before);
    place(v->flow, sender, i, rtp->seq);
    st.last_frame = i;
  }
  for (auto &[flow, sender] : senders) {
    zvfec_stream_sender_stats before{};
    zvfec_stream_sender_get_stats(sender.get(), &before);
    zvfec_stream_sender_flush(sender.get());
    count(sender.get(), 0, before);
    place(flow, sender.get(), in.frames.size(), 0);
  }

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
      stats.media, stats.streams, stats.groups, stats.fec, variant_name(opts.variant), opts.k,
      opts.r, opts.fec_pt, opts.port_offset);
  if (stats.non_udp + stats.non_rtp > 0)
    fmt::print("passed through unchanged: {} non-UDP and {} non-RTP packets\n", stats.non_udp,
               stats.non_rtp);
  return 0;
}

}  // namespace zvtool
