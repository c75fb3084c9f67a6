// Protecting the RTP streams of a capture: every SSRC's consecutive packets in
// groups of k, r FEC packets behind each group on the media port + offset.
#pragma once

#include <cstdint>
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
// *messages, one per line.
std::vector<Frame> protect_capture(const Capture &in, const ProtectOptions &opts,
                                   ProtectStats &stats, std::string *messages);

// The `protect` command: returns the process exit status.
int protect_command(const std::string &in, const std::string &out, const ProtectOptions &opts);

}  // namespace zvtool
