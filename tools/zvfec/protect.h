// Protecting the RTP streams of a capture: every SSRC's consecutive packets in
// groups of k, r FEC packets behind each group on the media port + offset.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <zvfec/stream.h>
#include "capture.h"

namespace zvtool {

inline constexpr int kDefaultFecPt = 127;
inline constexpr int kDefaultPortOffset = 2;

struct ProtectOptions {
  zvfec_stream_variant variant = ZVFEC_STREAM_VIDEO_V2;
  int k = 10, r = 4;
  int fec_pt = kDefaultFecPt;
  int port_offset = kDefaultPortOffset;
};

struct ProtectStats {
  std::int64_t streams = 0, media = 0, groups = 0, fec = 0;
  std::int64_t non_udp = 0, non_rtp = 0;  // passed through unprotected
  std::int64_t unprotected = 0;           // RTP packets left without FEC (errors reported)
};

// Returns the protected frames in capture order: every input frame unchanged,
// each group's FEC packets right after its last media packet, stamped with its
// time. A gap or repeat in a stream's sequence numbers ends a group early, so
// every group holds consecutive sequence numbers. Problems are appended to
// *messages, one per line. on_progress, when set, hears the fraction of the
// capture done now and then.
std::vector<Frame> protect_capture(const Capture &in, const ProtectOptions &opts,
                                   ProtectStats &stats, std::string *messages,
                                   const std::function<void(double)> &on_progress = {});

// `zvfec protect` as the command line gives it.
struct ProtectArgs {
  std::string in, out, variant;
  int k = 0, r = 0;
  int fec_pt = kDefaultFecPt;
  int port_offset = kDefaultPortOffset;
};

struct ProtectCommand {
  std::string in, out;  // capture files
  ProtectOptions opts;
};

// What a run did, up to its failure if it failed.
struct ProtectReport {
  std::string warning;   // about a damaged input capture
  std::string messages;  // problems of single streams and groups, one per line
  std::string failure;   // why no capture was written; empty when one was
  ProtectStats stats;
};

// The command, or nullopt with the reason in *why.
std::optional<ProtectCommand> parse_protect(const ProtectArgs &args, std::string *why);

// Reads the input capture, protects it and writes the output capture.
ProtectReport run_protect(const ProtectCommand &cmd,
                          const std::function<void(double)> &on_progress = {});

// Problems go to standard error, the summary of a written capture to standard
// output. Returns the exit status: 1 when the run failed.
int print_protect(const ProtectCommand &cmd, const ProtectReport &report);

// parse, run and print; returns the exit status.
int protect_command(const ProtectArgs &args);

}  // namespace zvtool
