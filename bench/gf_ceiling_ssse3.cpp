// The ceiling loop on the traits of the ssse3 kernel set. Compiled with
// the set's flags, -mssse3.
#include "gf/gf_kernels_ssse3.h"
#include "gf_ceiling_loop.h"

void gf_ceiling_rounds_ssse3(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  vector_ceiling_rounds<Ssse3>(c, state, pairs);
}
