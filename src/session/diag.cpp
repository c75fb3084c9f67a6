#include "session/diag.h"

#include <cstdarg>

void of_diag(std::FILE *stream, const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::fflush(stream);
}
