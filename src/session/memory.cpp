// The codec layers take and release memory through these wrappers, so that a
// buffer handed to a caller can be released with either of_free or free.
#include <cstdlib>

#include "session/alloc_hook.h"
#include "zvfec/codec_session.h"

extern "C" {
// Touched inside the library only through session/verbosity.h.
unsigned int of_verbosity = 0;

void *of_malloc(size_t size) {
  return of_allocation_refused(1, size) ? nullptr : std::malloc(size);
}
void *of_calloc(size_t nmemb, size_t size) {
  return of_allocation_refused(nmemb, size) ? nullptr : std::calloc(nmemb, size);
}
void *of_realloc(void *ptr, size_t size) {
  return of_allocation_refused(1, size) ? nullptr : std::realloc(ptr, size);
}
void of_free(void *ptr) { std::free(ptr); }
}
