// Process-wide logging of the media interface. Lines go to the callback that
// the host registers, filtered by the level that the host sets; nothing is
// logged until both are set. Both settings are atomic: the host may change them
// from any thread while other threads encode and decode.
#pragma once

#include <atomic>

#include "zv_rsfec.h"

extern std::atomic<zv_rsfec_log_callback> m_log_callback;
extern std::atomic<ZV_FEC_LOG_SERVERITY_E> mLogLevel;

// Formats "<line>:" followed by the message into one 2048-byte stack buffer
// (cut to fit, NUL included) and hands it to the callback when `level` passes
// the filter. The callback and the level are each read once per call, so a line
// goes to one callback even while the host swaps it. Always returns -1.
int zv_rsfec_log_print(int level, int line, const char *format, ...)
#if defined(__MINGW32__)
    // mingw-w64's C++ runtime formats with its own C99 printf (%zu, %lld), not
    // the system DLL's: formats are checked against that one.
    __attribute__((format(gnu_printf, 3, 4)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Every call site names its own line and skips all formatting when no callback
// is registered.
#define ZV_LOG(level, ...)                                         \
  do {                                                             \
    if (m_log_callback.load(std::memory_order_relaxed) != nullptr) \
      zv_rsfec_log_print((level), __LINE__, __VA_ARGS__);          \
  } while (0)
