// The codec layers take and release memory through these wrappers, so that a
// buffer handed to a caller can be released with either of_free or free.
#include <atomic>
#include <cstdlib>

#include "session/alloc_fault.h"
#include "zvfec/codec_session.h"

namespace {

// Calls left before the refused one; negative when none is to be refused.
std::atomic<long> calls_before_failure{-1};
std::atomic<long> calls_made{0};
// Set by the first of_fail_nth_allocation: until a test asks, allocations are
// not counted, so that threads allocating at once share no counter.
std::atomic<bool> counting{false};

bool refuse_this_call() {
  if (!counting.load(std::memory_order_relaxed)) return false;
  calls_made.fetch_add(1, std::memory_order_relaxed);
  if (calls_before_failure.load(std::memory_order_relaxed) < 0) return false;
  return calls_before_failure.fetch_sub(1, std::memory_order_relaxed) == 0;
}

}  // namespace

long of_fail_nth_allocation(long n) {
  counting.store(true, std::memory_order_relaxed);
  calls_before_failure.store(n < 0 ? -1 : n, std::memory_order_relaxed);
  return calls_made.exchange(0, std::memory_order_relaxed);
}

extern "C" {
// Touched inside the library only through session/verbosity.h.
unsigned int of_verbosity = 0;

void *of_malloc(size_t size) { return refuse_this_call() ? nullptr : std::malloc(size); }
void *of_calloc(size_t nmemb, size_t size) {
  return refuse_this_call() ? nullptr : std::calloc(nmemb, size);
}
void *of_realloc(void *ptr, size_t size) {
  return refuse_this_call() ? nullptr : std::realloc(ptr, size);
}
void of_free(void *ptr) { std::free(ptr); }
}
