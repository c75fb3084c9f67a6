#include "progress.h"

#include <cstdio>

#include <fmt/format.h>

#ifdef _WIN32
#include <io.h>
#define ZV_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define ZV_ISATTY(f) isatty(fileno(f))
#endif

namespace zvtool {

Progress::Progress(std::string label, std::int64_t total)
    : label_(std::move(label)), total_(total), active_(total > 0 && ZV_ISATTY(stderr)) {}

Progress::~Progress() {
  if (active_ && shown_ >= 0) fmt::print(stderr, "\r{:60}\r", "");
}

void Progress::update(std::int64_t done) {
  if (!active_) return;
  const int pct = static_cast<int>(done * 100 / total_);
  if (pct == shown_) return;
  shown_ = pct;
  const int bar = pct * 30 / 100;
  fmt::print(stderr, "\r{:<20.20} [{:=<{}}{:<{}}] {:3}%", label_, "", bar, "", 30 - bar, pct);
  std::fflush(stderr);
}

}  // namespace zvtool
