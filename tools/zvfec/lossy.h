// The `lossy` command: a capture through a loss channel, every packet alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "loss_channel.h"

namespace zvtool {

// `zvfec lossy` as the command line gives it.
struct LossyArgs {
  std::string in, out;
  std::string loss, burst;  // one of them, the other empty
  std::uint64_t seed = 1;
};

struct LossyCommand {
  std::string in, out;  // capture files
  LossModel model;
  std::uint64_t seed = 1;
};

// What a run did, up to its failure if it failed.
struct LossyReport {
  std::string warning;  // about a damaged input capture
  std::string failure;  // why no capture was written; empty when one was
  std::size_t total = 0, kept = 0;
};

// The command, or nullopt with the reason in *why.
std::optional<LossyCommand> parse_lossy(const LossyArgs &args, std::string *why);

// Reads the input capture, drops packets and writes what is left.
LossyReport run_lossy(const LossyCommand &cmd);

// Returns the exit status: 1 when the run failed.
int print_lossy(const LossyCommand &cmd, const LossyReport &report);

// parse, run and print; returns the exit status.
int lossy_command(const LossyArgs &args);

}  // namespace zvtool
