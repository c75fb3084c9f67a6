// The AVX-512BW kernel set: the template of gf_kernels_impl.h on the traits of
// gf_kernels_avx512.h. Compiled with -mavx512f -mavx512bw.
#include "gf/gf_kernels_avx512.h"
#include "gf/gf_kernels_impl.h"

namespace {

constexpr gf_kernel_set kAvx512 = gf_impl::kernel_set<Avx512>("avx512");

}  // namespace

const gf_kernel_set *gf_kernels_avx512_unchecked() { return &kAvx512; }
