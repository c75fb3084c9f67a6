#include "command.h"

#include <cstdio>
#include <fstream>

#include <fmt/format.h>

namespace zvtool {

int command_error(std::string_view command, std::string_view msg) {
  fmt::print(stderr, "zvfec {}: {}\n", command, msg);
  return 1;
}

void command_warning(std::string_view command, std::string_view msg) {
  fmt::print(stderr, "zvfec {}: warning: {}\n", command, msg);
}

bool write_text(const std::string &path, const std::string &text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f.flush());
}

}  // namespace zvtool
