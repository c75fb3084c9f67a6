// The AVX-512BW + GFNI kernel set: the template of gf_kernels_impl.h on the traits of
// gf_kernels_avx512_gfni.h. Compiled with -mavx512f -mavx512bw -mgfni.
#include "gf/gf_kernels_avx512_gfni.h"
#include "gf/gf_kernels_impl.h"

namespace {

constexpr gf_kernel_set kAvx512Gfni = gf_impl::kernel_set<Avx512Gfni>("avx512-gfni");

}  // namespace

const gf_kernel_set *gf_kernels_avx512_gfni_unchecked() { return &kAvx512Gfni; }
