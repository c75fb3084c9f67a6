// The ceiling loop on the traits of the avx512 kernel set. Compiled with
// the set's flags, -mavx512f -mavx512bw.
#include "gf/gf_kernels_avx512.h"
#include "gf_ceiling_loop.h"

void gf_ceiling_rounds_avx512(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  vector_ceiling_rounds<Avx512>(c, state, pairs);
}
