// A one-line progress bar on stderr, drawn only when stderr is a terminal so
// that logs and pipes stay clean.
#pragma once

#include <cstdint>
#include <string>

namespace zvtool {

class Progress {
 public:
  Progress(std::string label, std::int64_t total);
  ~Progress();  // clears the line
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  void update(std::int64_t done);

 private:
  std::string label_;
  std::int64_t total_;
  int shown_ = -1;  // last percentage drawn
  bool active_;
};

}  // namespace zvtool
