// The codec layers take and release memory through these wrappers, so that a
// buffer handed to a caller can be released with either of_free or free.
#include <cstdlib>

#include "zvfec/codec_session.h"

extern "C" {
unsigned int of_verbosity = 0;

void *of_malloc(size_t size) { return std::malloc(size); }
void *of_calloc(size_t nmemb, size_t size) { return std::calloc(nmemb, size); }
void *of_realloc(void *ptr, size_t size) { return std::realloc(ptr, size); }
void of_free(void *ptr) { std::free(ptr); }
}
