// Lets tests exercise the paths where memory runs out: the allocation
// wrappers count their calls and refuse one chosen call. Only test programs
// built with zv_add_test(... ALLOC_FAULTS) carry it; the library itself never
// refuses an allocation.
#pragma once

#include <cstddef>

// Makes the n-th following call (0 = the next one) of of_malloc, of_calloc or
// of_realloc fail as if memory were exhausted; later calls succeed again. A
// negative n cancels a pending failure. Returns the number of wrapper calls
// made since the previous call of this function (calls are counted from the
// first call of this function on).
long of_fail_nth_allocation(long n);

// Bytes asked for (nmemb * size) by the latest counted wrapper call, refused
// or not; 0 before the first.
size_t of_last_allocation_bytes();
