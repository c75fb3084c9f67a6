// The network simulation: synthetic streams protected group by group through
// the library, sent over a loss channel, recovered through the library and
// checked byte for byte against what was sent; and the `simulate` command,
// which runs it for each variant on one or more channels or over a sweep of
// loss rates.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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

// A sweep: one row of results (one per case) for each channel loss rate.
struct SweepPoint {
  double loss = 0;
  std::vector<SimResult> results;
};

// `zvfec simulate` as the command line gives it.
struct SimulateArgs {
  std::string variant = "all";
  std::optional<int> k, r;
  std::string loss, burst, sweep, csv, plot;
  double duration = 30;
  std::uint64_t seed = 1;
  bool json = false;
};

// What to simulate and how to show it.
struct SimulateCommand {
  // One case per variant, in the order shown; run() sets its channel.
  std::vector<SimCase> cases;
  // Without a sweep, every case runs on each of these in turn.
  std::vector<LossModel> channels;
  SimOptions sim;
  // A sweep varies the loss rate of one channel kind: the burst channel (with
  // its mean burst length) when --burst is given, random loss otherwise. Rates
  // that cannot have that burst length are left out.
  struct Sweep {
    double from = 0, to = 0.3, step = 0.02;
    bool burst = false;
    double mean_burst = 1;
  };
  std::optional<Sweep> sweep;  // set by --sweep or --plot
  bool json = false;
  std::string csv, plot;  // files to write; empty: none
};

struct SimulateReport {
  std::vector<SimResult> results;  // without a sweep: channel by channel, case by case
  std::vector<SweepPoint> sweep;   // with one: rate by rate
};

// The command, or nullopt with the reason in *why.
std::optional<SimulateCommand> parse_simulate(const SimulateArgs &args, std::string *why);

// Runs every case; on_progress, when set, hears the fraction done now and then.
SimulateReport run_simulate(const SimulateCommand &cmd,
                            const std::function<void(double)> &on_progress = {});

// Prints the report as a table or JSON, writes the CSV and the plot asked for,
// and reports on standard error every case in which the library misbehaved.
// Returns the exit status: 1 when a file could not be written or the library
// misbehaved.
int print_simulate(const SimulateCommand &cmd, const SimulateReport &report);

// parse, run and print; returns the exit status.
int simulate_command(const SimulateArgs &args);

}  // namespace zvtool
