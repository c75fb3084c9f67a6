// The one point where tests make the library's allocations fail.
#pragma once

#include <cstddef>

// Asked by of_malloc, of_calloc and of_realloc before each call for nmemb
// items of size bytes (nmemb is 1 for of_malloc and of_realloc); true makes
// that call fail as if memory were exhausted. The library's own definition, in
// a unit of its own, always answers false. A test program that wants to reach
// the paths where memory runs out links its own definition instead
// (tests/session/alloc_fault.cpp), and the linker then leaves the library's
// unit out.
bool of_allocation_refused(size_t nmemb, size_t size);
