// The NEON kernel set: the template of gf_kernels_impl.h on the traits of
// gf_kernels_neon.h.
#include "gf/gf_kernels_neon.h"
#include "gf/gf_kernels_impl.h"

namespace {

constexpr gf_kernel_set kNeon = gf_impl::kernel_set<Neon>("neon");

}  // namespace

const gf_kernel_set *gf_kernels_neon_unchecked() { return &kNeon; }
