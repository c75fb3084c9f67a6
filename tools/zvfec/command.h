// What the zvfec commands share. Each command goes through three steps: parse
// (its arguments into an options record), run (the options into a result
// record, printing nothing) and print (the result as text, JSON or a plot, and
// the exit status).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "progress.h"

namespace zvtool {

// Steps of a progress bar driven by a fraction: finer than its percentages.
inline constexpr std::int64_t kProgressSteps = 1000;

// Prints "zvfec <command>: <msg>" to standard error and returns exit status 1.
int command_error(std::string_view command, std::string_view msg);

// Prints "zvfec <command>: warning: <msg>" to standard error.
void command_warning(std::string_view command, std::string_view msg);

// Writes text to the file at path; false when it cannot.
bool write_text(const std::string &path, const std::string &text);

// Returns work(on_progress), where on_progress hears the fraction of the work
// done, shown meanwhile as a progress bar labelled `label` that is gone again
// before the result is printed.
template <class Work>
auto with_progress(std::string label, Work &&work) {
  Progress bar(std::move(label), kProgressSteps);
  return std::forward<Work>(work)(
      [&bar](double done) { bar.update(static_cast<std::int64_t>(done * kProgressSteps)); });
}

}  // namespace zvtool
