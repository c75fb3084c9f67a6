// The AVX2 + GFNI kernel set: the template of gf_kernels_impl.h on the traits of
// gf_kernels_avx2_gfni.h. Compiled with -mavx2 -mgfni.
#include "gf/gf_kernels_avx2_gfni.h"
#include "gf/gf_kernels_impl.h"

namespace {

constexpr gf_kernel_set kAvx2Gfni = gf_impl::kernel_set<Avx2Gfni>("avx2-gfni");

}  // namespace

const gf_kernel_set *gf_kernels_avx2_gfni_unchecked() { return &kAvx2Gfni; }
