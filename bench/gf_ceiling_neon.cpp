// The ceiling loop on the traits of the neon kernel set (no flags of its own
// on aarch64).
#include "gf/gf_kernels_neon.h"
#include "gf_ceiling_loop.h"

void gf_ceiling_rounds_neon(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  vector_ceiling_rounds<Neon>(c, state, pairs);
}
