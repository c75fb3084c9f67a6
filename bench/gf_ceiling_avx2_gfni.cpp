// The ceiling loop on the traits of the avx2-gfni kernel set. Compiled with
// the set's flags, -mavx2 -mgfni.
#include "gf/gf_kernels_avx2_gfni.h"
#include "gf_ceiling_loop.h"

void gf_ceiling_rounds_avx2_gfni(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  vector_ceiling_rounds<Avx2Gfni>(c, state, pairs);
}
