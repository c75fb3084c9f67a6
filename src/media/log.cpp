#include "media/log.h"

#include <cstdarg>
#include <cstdio>

zv_rsfec_log_callback m_log_callback = nullptr;
ZV_FEC_LOG_SERVERITY_E mLogLevel = ZV_FEC_LOG_NONE;

namespace {
constexpr int kLogBufferSize = 2048;
}

int zv_rsfec_log_print(int level, int line, const char *format, ...) {
  if (level < mLogLevel || mLogLevel == ZV_FEC_LOG_NONE) return -1;
  char text[kLogBufferSize];
  int used = std::snprintf(text, sizeof text, "%d:", line);
  if (used < 0) return -1;
  va_list args;
  va_start(args, format);
  std::vsnprintf(text + used, sizeof text - static_cast<size_t>(used), format, args);
  va_end(args);
  zv_rsfec_log_callback cb = m_log_callback;
  if (cb != nullptr) cb(text);
  return -1;
}
