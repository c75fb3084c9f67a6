// Replaces the library's of_allocation_refused in the test programs that link
// this unit.
#include "session/alloc_fault.h"

#include <atomic>

#include "session/alloc_hook.h"

namespace {

// Calls left before the refused one; negative when none is to be refused.
std::atomic<long> calls_before_failure{-1};
std::atomic<long> calls_made{0};
std::atomic<size_t> last_bytes{0};
// Set by the first of_fail_nth_allocation: until a test asks, allocations are
// not counted, so that threads allocating at once share no counter.
std::atomic<bool> counting{false};

}  // namespace

bool of_allocation_refused(size_t nmemb, size_t size) {
  if (!counting.load(std::memory_order_relaxed)) return false;
  calls_made.fetch_add(1, std::memory_order_relaxed);
  last_bytes.store(nmemb * size, std::memory_order_relaxed);
  if (calls_before_failure.load(std::memory_order_relaxed) < 0) return false;
  return calls_before_failure.fetch_sub(1, std::memory_order_relaxed) == 0;
}

long of_fail_nth_allocation(long n) {
  counting.store(true, std::memory_order_relaxed);
  calls_before_failure.store(n < 0 ? -1 : n, std::memory_order_relaxed);
  return calls_made.exchange(0, std::memory_order_relaxed);
}

size_t of_last_allocation_bytes() { return last_bytes.load(std::memory_order_relaxed); }
