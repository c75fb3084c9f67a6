// The `lossy` command: a capture through a loss channel, every packet alike.
#pragma once

#include <cstdint>
#include <string>

#include "loss_channel.h"

namespace zvtool {

// Returns the process exit status.
int lossy_command(const std::string &in, const std::string &out, const LossModel &model,
                  std::uint64_t seed);

}  // namespace zvtool
