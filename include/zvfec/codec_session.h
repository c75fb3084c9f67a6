/* Codec sessions: one interface to every erasure codec of the library. */
#ifndef ZVFEC_CODEC_SESSION_H
#define ZVFEC_CODEC_SESSION_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Memory of the codec layers. Buffers that a codec hands to its caller are
 * released with of_free (or the runtime's free). of_free(NULL) does nothing. */
void *of_malloc(size_t size);
void *of_calloc(size_t nmemb, size_t size);
void *of_realloc(void *ptr, size_t size);
void of_free(void *ptr);

/* Process-wide diagnostic level of the codec layers; every session creation
 * overwrites it. */
extern unsigned int of_verbosity;

#ifdef __cplusplus
}
#endif

#endif /* ZVFEC_CODEC_SESSION_H */
