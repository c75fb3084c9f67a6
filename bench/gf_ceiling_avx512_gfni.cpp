// The ceiling loop on the traits of the avx512-gfni kernel set. Compiled with
// the set's flags, -mavx512f -mavx512bw -mgfni.
#include "gf/gf_kernels_avx512_gfni.h"
#include "gf_ceiling_loop.h"

void gf_ceiling_rounds_avx512_gfni(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  vector_ceiling_rounds<Avx512Gfni>(c, state, pairs);
}
