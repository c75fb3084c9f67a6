#include "lossy.h"

#include <fmt/format.h>

#include "capture.h"

namespace zvtool {

int lossy_command(const std::string &in, const std::string &out, const LossModel &model,
                  std::uint64_t seed) {
  std::string error;
  auto cap = read_capture(in, &error);
  if (!cap) {
    fmt::print(stderr, "zvfec lossy: {}\n", error);
    return 1;
  }
  if (!cap->warning.empty()) fmt::print(stderr, "zvfec lossy: warning: {}\n", cap->warning);
  LossChannel channel(model, seed);
  std::vector<Frame> kept;
  for (auto &f : cap->frames)
    if (!channel.lose()) kept.push_back(std::move(f));
  if (auto why = write_capture(out, cap->linktype, kept); !why.empty()) {
    fmt::print(stderr, "zvfec lossy: {}\n", why);
    return 1;
  }
  const auto total = cap->frames.size();
  fmt::print("{} channel: kept {} of {} packets, dropped {}\n", model.describe(), kept.size(),
             total, total - kept.size());
  return 0;
}

}  // namespace zvtool
