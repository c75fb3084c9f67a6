// The AVX2 kernel set: the template of gf_kernels_impl.h on the traits of
// gf_kernels_avx2.h. Compiled with -mavx2.
#include "gf/gf_kernels_avx2.h"
#include "gf/gf_kernels_impl.h"

namespace {

constexpr gf_kernel_set kAvx2 = gf_impl::kernel_set<Avx2>("avx2");

}  // namespace

const gf_kernel_set *gf_kernels_avx2_unchecked() { return &kAvx2; }
