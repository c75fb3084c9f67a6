// The one path by which the codec layers (Cauchy, binary, Reed-Solomon) write
// their diagnostic messages to the standard streams. The media layer never
// writes to them; it logs through its host's callback instead.
#pragma once

#include <cstdio>

// Writes the message, formatted as by printf, to stream (stdout or stderr, as
// the message is documented) exactly as given, adding nothing, then flushes
// the stream so that a message on stdout is out before the caller goes on,
// in order with those on stderr. Callers check the verbosity level, where a
// message depends on it, before calling.
void of_diag(std::FILE *stream, const char *format, ...)
#if defined(__MINGW32__)
    // mingw-w64's C++ runtime formats with its own C99 printf (%zu, %llu), not
    // the system DLL's: formats are checked against that one.
    __attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
