// The SSSE3 kernel set: the template of gf_kernels_impl.h on the traits of
// gf_kernels_ssse3.h. Compiled with -mssse3.
#include "gf/gf_kernels_ssse3.h"
#include "gf/gf_kernels_impl.h"

namespace {

constexpr gf_kernel_set kSsse3 = gf_impl::kernel_set<Ssse3>("ssse3");

}  // namespace

const gf_kernel_set *gf_kernels_ssse3_unchecked() { return &kSsse3; }
