// The ceiling loop on the traits of the sve256 kernel set, compiled with the
// set's flags.
#include "gf/gf_kernels_sve.h"
#include "gf_ceiling_loop.h"

void gf_ceiling_rounds_sve256(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  vector_ceiling_rounds<Sve>(c, state, pairs);
}
