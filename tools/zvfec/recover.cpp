#include "recover.h"

#include <algorithm>
#include <climits>
#include <memory>

#include <fmt/format.h>
#include <zvfec/stream.h>

#include "command.h"
#include "rtp.h"

namespace zvtool {
namespace {

struct StreamKey {
  FlowKey flow;
  std::uint32_t ssrc;
  auto operator<=>(const StreamKey &) const = default;
};

struct OutPacket {
  Frame frame;
  bool recovered = false;
};

using ReceiverPtr = std::unique_ptr<zvfec_stream_receiver, decltype(&zvfec_stream_receiver_free)>;

// A stream's frames in sequence order, recovered ones timed like the frame
// before them.
std::vector<Frame> in_sequence(std::map<std::int64_t, OutPacket> &packets) {
  std::vector<Frame> frames;
  std::int64_t prev_ts = INT64_MIN;
  for (auto &[ext, p] : packets) {
    p.frame.ts_ns = p.recovered && prev_ts != INT64_MIN ? prev_ts : p.frame.ts_ns;
    prev_ts = p.frame.ts_ns;
    frames.push_back(std::move(p.frame));
  }
  return frames;
}

// The streams interleaved by time, each one kept in its own order.
std::vector<Frame> interleave(std::vector<std::vector<Frame>> &ordered) {
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

}  // namespace

std::vector<Frame> recover_capture(const Capture &in, const RecoverOptions &opts,
                                   RecoverStats &stats, std::string *messages,
                                   const std::function<void(double)> &on_progress) {
  // One receiver per media flow, holding the whole capture: every group gets
  // its chance, whatever the order and spacing of its packets.
  const zvfec_stream_receiver_config cfg{INT64_MAX, SIZE_MAX};
  std::map<FlowKey, ReceiverPtr> receivers;
  std::map<StreamKey, std::map<std::int64_t, OutPacket>> streams;  // by extended number
  auto receiver_of = [&](const FlowKey &flow) {
    auto it = receivers.find(flow);
    if (it == receivers.end())
      it = receivers
               .emplace(flow, ReceiverPtr(zvfec_stream_receiver_new(&cfg, nullptr),
                                          zvfec_stream_receiver_free))
               .first;
    return it->second.get();
  };
  // Recovered packets are addressed like their stream, in a frame shaped like
  // the one whose arrival completed their group.
  auto collect = [&](const FlowKey &flow, zvfec_stream_receiver *rx, const Frame &tmpl,
                     const UdpView &tv) {
    zvfec_stream_packet p;
    while (zvfec_stream_receiver_pop(rx, &p)) {
      OutPacket out{{tmpl.ts_ns, {}, 0}, true};
      out.frame.data = build_udp_frame(tmpl, tv, flow.sport, flow.dport, ByteView(p.data, p.len));
      out.frame.orig_len = static_cast<std::uint32_t>(out.frame.data.size());
      if (!out.frame.data.empty()) streams[{flow, p.media_ssrc}][p.seq] = std::move(out);
    }
  };

  for (std::size_t i = 0; i < in.frames.size(); ++i) {
    if (on_progress) on_progress(static_cast<double>(i) / static_cast<double>(in.frames.size()));
    const Frame &f = in.frames[i];
    const auto v = dissect_udp(in.linktype, f);
    if (!v) {
      ++stats.non_udp;
      continue;
    }
    const ByteView payload(f.data.data() + v->payload_off, v->payload_len);
    const auto rtp = parse_rtp(payload);
    if (!rtp) {
      ++stats.non_rtp;
      continue;
    }
    if (rtp->payload_type == opts.fec_pt && v->flow.dport >= opts.port_offset) {
      FlowKey flow = v->flow;
      flow.dport = static_cast<std::uint16_t>(flow.dport - opts.port_offset);
      auto *rx = receiver_of(flow);
      const int code = zvfec_stream_receiver_push_fec(rx, payload.data(), payload.size(), f.ts_ns);
      if (code < 0) {
        ++stats.bad_fec;
        ++stats.bad_fec_reasons[zvfec_stream_error_text(code)];
        continue;
      }
      ++stats.fec;
      collect(flow, rx, f, *v);
      continue;
    }
    auto *rx = receiver_of(v->flow);
    std::int64_t ext = 0;
    const int code =
        zvfec_stream_receiver_push_media(rx, payload.data(), payload.size(), f.ts_ns, &ext);
    if (code == ZVFEC_STREAM_DUPLICATE) {
      ++stats.duplicates;
      continue;
    }
    streams[{v->flow, rtp->ssrc}][ext] = OutPacket{f, false};
    collect(v->flow, rx, f, *v);
  }

  for (const auto &[flow, rx] : receivers) {
    zvfec_stream_receiver_stats rs{};
    zvfec_stream_receiver_get_stats(rx.get(), &rs);
    stats.rejected += static_cast<std::int64_t>(rs.rejected);
    stats.failed_groups += static_cast<std::int64_t>(rs.decode_failures);
    if (rs.decode_failures > 0)
      *messages += fmt::format("{}: the library refused {} decode(s) of groups it had enough for\n",
                               flow_name(flow), rs.decode_failures);
  }

  std::vector<std::vector<Frame>> ordered;
  for (auto &[key, packets] : streams) {
    zvfec_stream_ssrc_stats ss{};
    zvfec_stream_receiver_get_ssrc_stats(receivers.at(key.flow).get(), key.ssrc, &ss);
    stats.streams.push_back({key.flow, key.ssrc, static_cast<std::int64_t>(ss.received),
                             static_cast<std::int64_t>(ss.recovered), ss.missing});
    ordered.push_back(in_sequence(packets));
  }
  return interleave(ordered);
}

RecoverReport run_recover(const RecoverCommand &cmd,
                          const std::function<void(double)> &on_progress) {
  RecoverReport report;
  const auto cap = read_supported_capture(cmd.in, &report.warning, &report.failure);
  if (!cap) return report;
  const auto frames = recover_capture(*cap, cmd.opts, report.stats, &report.messages, on_progress);
  if (report.stats.streams.empty())
    report.failure = fmt::format("no RTP packets over UDP in '{}'; nothing to recover", cmd.in);
  else
    report.failure = write_capture(cmd.out, cap->linktype, frames);
  return report;
}

int print_recover(const RecoverCommand &cmd, const RecoverReport &report) {
  const auto &stats = report.stats;
  if (!report.warning.empty()) command_warning("recover", report.warning);
  if (!report.messages.empty()) fmt::print(stderr, "{}", report.messages);
  if (stats.bad_fec > 0) {
    std::string reasons;
    for (const auto &[why, n] : stats.bad_fec_reasons)
      reasons += fmt::format("{}{} ({})", reasons.empty() ? "" : ", ", why, n);
    command_error("recover",
                  fmt::format("ignored {} malformed FEC packet(s): {}", stats.bad_fec, reasons));
  }
  if (stats.rejected > 0)
    command_error(
        "recover",
        fmt::format("discarded {} decoded packet(s) that did not fit their group", stats.rejected));
  if (!report.failure.empty()) return command_error("recover", report.failure);
  for (const auto &s : stats.streams)
    fmt::print("ssrc {:#010x} {}: received {}, recovered {}, still missing {}\n", s.ssrc,
               flow_name(s.flow), s.received, s.recovered, s.missing);
  if (stats.non_udp + stats.non_rtp + stats.duplicates > 0)
    fmt::print("left out: {} non-UDP, {} non-RTP, {} repeated packets\n", stats.non_udp,
               stats.non_rtp, stats.duplicates);
  if (stats.fec == 0)
    return command_error("recover",
                         fmt::format("no usable FEC packets (payload type {} on media port + {}); "
                                     "nothing was recovered",
                                     cmd.opts.fec_pt, cmd.opts.port_offset));
  return 0;
}

int recover_command(const RecoverCommand &cmd) {
  const auto report =
      with_progress("recover", [&](const auto &progress) { return run_recover(cmd, progress); });
  return print_recover(cmd, report);
}

}  // namespace zvtool
