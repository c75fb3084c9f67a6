// Recovering the media streams of a capture from the FEC packets in it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "capture.h"
#include "protect.h"

namespace zvtool {

struct RecoverOptions {
  int fec_pt = kDefaultFecPt;
  int port_offset = kDefaultPortOffset;
};

struct StreamReport {
  FlowKey flow;
  std::uint32_t ssrc = 0;
  std::int64_t received = 0, recovered = 0, missing = 0;
};

struct RecoverStats {
  std::vector<StreamReport> streams;
  std::int64_t non_udp = 0, non_rtp = 0, duplicates = 0;
  std::int64_t fec = 0, bad_fec = 0;
  std::int64_t failed_groups = 0;  // the library refused a group it had enough for
  std::int64_t rejected = 0;       // decoded packets that did not fit their group
  std::map<std::string, std::int64_t> bad_fec_reasons;
};

// FEC packets are the RTP packets of the FEC payload type sent to a media port
// + offset; their SSRC names the media SSRC (zvfec_stream_fec_ssrc). Returns
// the media streams, received and recovered packets, each stream in sequence
// order and the streams interleaved by capture time; recovered packets are
// addressed like their stream and stamped with the time of the packet before
// them. Everything else (non-UDP, non-RTP, FEC, repeated packets) is left out
// and counted. on_progress, when set, hears the fraction of the capture done
// now and then.
std::vector<Frame> recover_capture(const Capture &in, const RecoverOptions &opts,
                                   RecoverStats &stats, std::string *messages,
                                   const std::function<void(double)> &on_progress = {});

// `zvfec recover`: the command line fills it in as it is, there is nothing to
// check beyond what the options check themselves.
struct RecoverCommand {
  std::string in, out;  // capture files
  RecoverOptions opts;
};

// What a run did, up to its failure if it failed.
struct RecoverReport {
  std::string warning;   // about a damaged input capture
  std::string messages;  // problems of single flows, one per line
  std::string failure;   // why no capture was written; empty when one was
  RecoverStats stats;
};

// Reads the input capture, recovers it and writes the output capture.
RecoverReport run_recover(const RecoverCommand &cmd,
                          const std::function<void(double)> &on_progress = {});

// Problems go to standard error, the streams of a written capture to standard
// output. Returns the exit status: 1 when the run failed or found no usable
// FEC packet.
int print_recover(const RecoverCommand &cmd, const RecoverReport &report);

// run and print; returns the exit status.
int recover_command(const RecoverCommand &cmd);

}  // namespace zvtool
