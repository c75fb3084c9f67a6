// The network simulation: synthetic streams protected group by group through
// the library, sent over a loss channel, recovered through the library and
// checked byte for byte against what was sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <zvfec/stream.h>

#include "bytes.h"
#include "loss_channel.h"

namespace zvtool {

struct SimCase {
  zvfec_stream_variant variant;
  int k, r;
  LossModel channel;
};

struct SimOptions {
  double duration_s = 30;
  std::uint64_t seed = 1;
};

struct SimResult {
  SimCase c;
  std::int64_t groups = 0;
  std::int64_t media = 0, media_bytes = 0, fec_bytes = 0;
  std::int64_t lost = 0, recovered = 0;
  // Groups that had k or more packets but did not get every loss back (a
  // library fault), and recovered packets that differ from what was sent.
  std::int64_t failed_groups = 0, corrupt = 0;
  double residual = 0;    // (lost - recovered) / media
  double mds = 0;         // exact residual of an ideal code, same channel and (k, r)
  double mds_stderr = 0;  // standard error of `residual` under that ideal code
  double overhead = 0;    // fec_bytes / media_bytes
  double encode_mbps = 0, decode_mbps = 0;  // median over calls of media MB/s inside the library
  double latency_p50_us = 0, latency_p99_us = 0;  // encode + decode time per group
  std::string error;                              // set when the case could not run at all
};

// The media stream a variant protects: video for the video variants, audio for
// audio, of opts.duration_s seconds, generated from opts.seed.
std::vector<Bytes> stream_for(zvfec_stream_variant v, const SimOptions &opts);

// Runs one case over `stream` (whole groups only; a trailing partial group is
// left out). The channel seed derives from opts.seed and the case, so equal
// inputs give equal results.
// on_progress, when set, hears the fraction of the stream done now and then.
SimResult simulate_case(const SimCase &c, const std::vector<Bytes> &stream, const SimOptions &opts,
                        const std::function<void(double)> &on_progress = {});

}  // namespace zvtool
