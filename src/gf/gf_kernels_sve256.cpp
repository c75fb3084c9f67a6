// The SVE kernel set for 256-bit vectors: the template of gf_kernels_impl.h on
// the traits of gf_kernels_sve.h. Compiled with SVE and -msve-vector-bits=256.
#include "gf/gf_kernels_impl.h"
#include "gf/gf_kernels_sve.h"

static_assert(__ARM_FEATURE_SVE_BITS == 256);

namespace {

constexpr gf_kernel_set kSve = gf_impl::kernel_set<Sve>("sve256");

}  // namespace

const gf_kernel_set *gf_kernels_sve256_unchecked() { return &kSve; }
