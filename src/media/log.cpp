#include "media/log.h"

#include <cstdarg>
#include <cstdio>

std::atomic<zv_rsfec_log_callback> m_log_callback{nullptr};
std::atomic<ZV_FEC_LOG_SERVERITY_E> mLogLevel{ZV_FEC_LOG_NONE};

namespace {
constexpr int kLogBufferSize = 2048;
}

int zv_rsfec_log_print(int level, int line, const char *format, ...) {
  const ZV_FEC_LOG_SERVERITY_E threshold = mLogLevel.load(std::memory_order_relaxed);
  const zv_rsfec_log_callback cb = m_log_callback.load(std::memory_order_acquire);
  if (cb == nullptr || level < threshold || threshold == ZV_FEC_LOG_NONE) return -1;
  char text[kLogBufferSize];
  int used = std::snprintf(text, sizeof text, "%d:", line);
  if (used < 0) return -1;
  va_list args;
  va_start(args, format);
  std::vsnprintf(text + used, sizeof text - static_cast<size_t>(used), format, args);
  va_end(args);
  cb(text);
  return -1;
}
