// Access to the process-wide of_verbosity from inside the library. The object
// stays a plain unsigned int for C callers; the library touches it only
// through std::atomic_ref, so sessions on several threads never race on it.
#pragma once

#include <atomic>

#include "zvfec/codec_session.h"

static_assert(alignof(unsigned int) >= std::atomic_ref<unsigned int>::required_alignment);

// The current level, for diagnostics that print only while it is non-zero.
inline unsigned int of_verbosity_level() {
  return std::atomic_ref<unsigned int>(of_verbosity).load(std::memory_order_relaxed);
}

// Stores a new level, writing only when it differs, so that callers that pass
// the same level on every session (the media path always passes 0) do not
// write process-wide state each time.
inline void of_set_verbosity_level(unsigned int level) {
  std::atomic_ref<unsigned int> shared(of_verbosity);
  if (shared.load(std::memory_order_relaxed) != level)
    shared.store(level, std::memory_order_relaxed);
}
