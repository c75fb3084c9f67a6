// Process-wide logging of the media interface. Lines go to the callback that
// the host registers, filtered by the level that the host sets; nothing is
// logged until both are set.
#pragma once

#include "zv_rsfec.h"

extern zv_rsfec_log_callback m_log_callback;
extern ZV_FEC_LOG_SERVERITY_E mLogLevel;

// Formats "<line>:" followed by the message into one 2048-byte stack buffer
// (cut to fit, NUL included) and hands it to the callback when `level` passes
// the filter. Always returns -1.
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
#define ZV_LOG(level, ...)                                                             \
  do {                                                                                 \
    if (m_log_callback != nullptr) zv_rsfec_log_print((level), __LINE__, __VA_ARGS__); \
  } while (0)
