// Alone in its unit so that a test program's own definition replaces it
// without clashing with the rest of the allocation wrappers.
#include "session/alloc_hook.h"

bool of_allocation_refused(size_t /*nmemb*/, size_t /*size*/) { return false; }
