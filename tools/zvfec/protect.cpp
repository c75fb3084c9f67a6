#include "protect.h"

#include <map>
#include <memory>

#include <fmt/format.h>
#include <zvfec/stream.h>

#include "command.h"
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

// What one pass over a capture has protected so far, and where the FEC
// packets go: behind the last media frame of the group each protects,
// addressed like that frame.
struct Placement {
  Placement(const Capture &capture, const ProtectOptions &options, ProtectStats &counts,
            std::string *notes)
      : in(capture),
        opts(options),
        stats(counts),
        messages(notes),
        after(capture.frames.size()),
        views(capture.frames.size()) {}

  const Capture &in;
  const ProtectOptions &opts;
  ProtectStats &stats;
  std::string *messages;
  std::map<StreamKey, Stream> streams;
  std::vector<std::vector<Frame>> after;  // FEC frames to go right behind each input frame
  std::vector<UdpView> views;             // of the input frames that are UDP

  void note(const std::string &s) { *messages += s + "\n"; }

  // Places the FEC packets the sender of `flow` has made; frame i is the one
  // just pushed, with sequence number seq_i (i is in.frames.size() after a
  // flush).
  void place(const FlowKey &flow, zvfec_stream_sender *sender, std::size_t i, std::uint16_t seq_i) {
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
  }

  // Counts what the sender did since its statistics were `before`: the groups
  // it protected and the packets it could not (ssrc names them).
  void count(zvfec_stream_sender *sender, std::uint32_t ssrc,
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
  }

  // The input frames, each followed by the FEC frames placed behind it.
  std::vector<Frame> merged() {
    std::vector<Frame> out;
    out.reserve(in.frames.size() + static_cast<std::size_t>(stats.fec));
    for (std::size_t i = 0; i < in.frames.size(); ++i) {
      out.push_back(in.frames[i]);
      for (auto &f : after[i]) out.push_back(std::move(f));
    }
    return out;
  }
};

}  // namespace

std::vector<Frame> protect_capture(const Capture &in, const ProtectOptions &opts,
                                   ProtectStats &stats, std::string *messages,
                                   const std::function<void(double)> &on_progress) {
  // One sender per flow: it groups each SSRC's packets and numbers each FEC
  // stream on its own.
  std::map<FlowKey, SenderPtr> senders;
  Placement at(in, opts, stats, messages);

  const zvfec_stream_sender_config cfg{opts.variant, opts.k, opts.r, opts.fec_pt, 0, 0};
  for (std::size_t i = 0; i < in.frames.size(); ++i) {
    if (on_progress) on_progress(static_cast<double>(i) / static_cast<double>(in.frames.size()));
    const auto v = dissect_udp(in.linktype, in.frames[i]);
    if (!v) {
      ++stats.non_udp;
      continue;
    }
    at.views[i] = *v;
    const ByteView payload(in.frames[i].data.data() + v->payload_off, v->payload_len);
    const auto rtp = parse_rtp(payload);
    if (!rtp) {
      ++stats.non_rtp;
      continue;
    }
    ++stats.media;
    const StreamKey key{v->flow, rtp->ssrc};
    auto [it, fresh] = at.streams.try_emplace(key);
    Stream &st = it->second;
    if (fresh) {
      ++stats.streams;
      if (key.flow.dport + opts.port_offset > 0xFFFF) {
        at.note(fmt::format("ssrc {:#010x} on {}: port {} + {} is not a port; left unprotected",
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
    at.count(sender, key.ssrc, before);
    at.place(v->flow, sender, i, rtp->seq);
    st.last_frame = i;
  }
  for (auto &[flow, sender] : senders) {
    zvfec_stream_sender_stats before{};
    zvfec_stream_sender_get_stats(sender.get(), &before);
    zvfec_stream_sender_flush(sender.get());
    at.count(sender.get(), 0, before);
    at.place(flow, sender.get(), in.frames.size(), 0);
  }
  return at.merged();
}

std::optional<ProtectCommand> parse_protect(const ProtectArgs &a, std::string *why) {
  const auto variant = variant_from_name(a.variant);
  if (!variant) {
    *why = fmt::format("unknown variant '{}' ({})", a.variant, variant_list());
    return std::nullopt;
  }
  if (auto bad = shape_error(*variant, a.k, a.r); !bad.empty()) {
    *why = fmt::format("{}: {}", a.variant, bad);
    return std::nullopt;
  }
  return ProtectCommand{a.in, a.out, {*variant, a.k, a.r, a.fec_pt, a.port_offset}};
}

ProtectReport run_protect(const ProtectCommand &cmd,
                          const std::function<void(double)> &on_progress) {
  ProtectReport report;
  const auto cap = read_supported_capture(cmd.in, &report.warning, &report.failure);
  if (!cap) return report;
  const auto frames = protect_capture(*cap, cmd.opts, report.stats, &report.messages, on_progress);
  if (report.stats.media == 0)
    report.failure = fmt::format("no RTP packets over UDP in '{}'; nothing to protect", cmd.in);
  else
    report.failure = write_capture(cmd.out, cap->linktype, frames);
  return report;
}

int print_protect(const ProtectCommand &cmd, const ProtectReport &report) {
  if (!report.warning.empty()) command_warning("protect", report.warning);
  if (!report.messages.empty()) fmt::print(stderr, "{}", report.messages);
  if (!report.failure.empty()) return command_error("protect", report.failure);
  const auto &stats = report.stats;
  const auto &opts = cmd.opts;
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

int protect_command(const ProtectArgs &args) {
  std::string why;
  const auto cmd = parse_protect(args, &why);
  if (!cmd) return command_error("protect", why);
  const auto report =
      with_progress("protect", [&](const auto &progress) { return run_protect(*cmd, progress); });
  return print_protect(*cmd, report);
}

}  // namespace zvtool
