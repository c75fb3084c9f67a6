#include "lossy.h"

#include <fmt/format.h>

#include "capture.h"
#include "command.h"

namespace zvtool {

std::optional<LossyCommand> parse_lossy(const LossyArgs &a, std::string *why) {
  const auto model = channel_from_options(a.loss, a.burst, why);
  if (!model) return std::nullopt;
  return LossyCommand{a.in, a.out, *model, a.seed};
}

LossyReport run_lossy(const LossyCommand &cmd) {
  LossyReport report;
  // Any link type will do: packets are dropped whole, never looked into.
  auto cap = read_capture(cmd.in, &report.failure);
  if (!cap) return report;
  report.warning = cap->warning;
  LossChannel channel(cmd.model, cmd.seed);
  std::vector<Frame> kept;
  for (auto &f : cap->frames)
    if (!channel.lose()) kept.push_back(std::move(f));
  report.total = cap->frames.size();
  report.kept = kept.size();
  report.failure = write_capture(cmd.out, cap->linktype, kept);
  return report;
}

int print_lossy(const LossyCommand &cmd, const LossyReport &report) {
  if (!report.warning.empty()) command_warning("lossy", report.warning);
  if (!report.failure.empty()) return command_error("lossy", report.failure);
  fmt::print("{} channel: kept {} of {} packets, dropped {}\n", cmd.model.describe(), report.kept,
             report.total, report.total - report.kept);
  return 0;
}

int lossy_command(const LossyArgs &args) {
  std::string why;
  const auto cmd = parse_lossy(args, &why);
  if (!cmd) return command_error("lossy", why);
  return print_lossy(*cmd, run_lossy(*cmd));
}

}  // namespace zvtool
