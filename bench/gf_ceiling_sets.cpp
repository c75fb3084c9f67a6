// The ceiling loops of all kernel sets, their check against a plain model and
// the benchmark body. Compiled for the baseline processor: the loops run only
// for sets the processor has.
#include "gf_ceiling.h"

#include <cstring>
#include <vector>

#include "gf/gf_tables.h"

// Defined by the ceiling units, each compiled for its set's instructions.
void gf_ceiling_rounds_scalar(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
#if defined(ZVFEC_GF_X86_KERNELS)
void gf_ceiling_rounds_ssse3(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
void gf_ceiling_rounds_avx2(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
void gf_ceiling_rounds_avx512(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
void gf_ceiling_rounds_avx2_gfni(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
void gf_ceiling_rounds_avx512_gfni(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
#elif defined(ZVFEC_GF_ARM_KERNELS)
void gf_ceiling_rounds_neon(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
void gf_ceiling_rounds_sve256(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
void gf_ceiling_rounds_sve512(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
#endif

namespace {

constexpr int kRegisters = 10;  // 8 accumulators, 2 inputs

constexpr gf_ceiling_loop kLoops[] = {
    {"scalar", 1, gf_ceiling_rounds_scalar},
#if defined(ZVFEC_GF_X86_KERNELS)
    {"ssse3", 16, gf_ceiling_rounds_ssse3},
    {"avx2", 32, gf_ceiling_rounds_avx2},
    {"avx512", 64, gf_ceiling_rounds_avx512},
    {"avx2-gfni", 32, gf_ceiling_rounds_avx2_gfni},
    {"avx512-gfni", 64, gf_ceiling_rounds_avx512_gfni},
#elif defined(ZVFEC_GF_ARM_KERNELS)
    {"neon", 16, gf_ceiling_rounds_neon},
    {"sve256", 32, gf_ceiling_rounds_sve256},
    {"sve512", 64, gf_ceiling_rounds_sve512},
#endif
};

// Eight constants of GF(2^8) as a Cauchy matrix's row could hold them.
const gf_mul_const *constants() {
  static const gf_mul_const c[8] = {of_gf_2_8_mul_const[0x8E], of_gf_2_8_mul_const[0x53],
                                    of_gf_2_8_mul_const[0xB7], of_gf_2_8_mul_const[0x1D],
                                    of_gf_2_8_mul_const[0x02], of_gf_2_8_mul_const[0xFF],
                                    of_gf_2_8_mul_const[0x35], of_gf_2_8_mul_const[0xC4]};
  return c;
}

std::vector<uint8_t> initial_state(size_t width) {
  std::vector<uint8_t> s(kRegisters * width);
  uint32_t seed = 12345;
  for (uint8_t &b : s) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return s;
}

}  // namespace

const gf_ceiling_loop *gf_ceiling_loop_of(const char *set) {
  for (const gf_ceiling_loop &loop : kLoops) {
    if (std::strcmp(loop.set, set) == 0) return &loop;
  }
  return nullptr;
}

bool gf_ceiling_loop_agrees(const gf_ceiling_loop &loop) {
  constexpr uint64_t kPairs = 300;
  const gf_mul_const *c = constants();
  std::vector<uint8_t> got = initial_state(loop.width), want = got;
  loop.rounds(c, got.data(), kPairs);
  for (size_t lane = 0; lane < loop.width; ++lane) {
    uint8_t reg[kRegisters];
    for (int i = 0; i < kRegisters; ++i) reg[i] = want[i * loop.width + lane];
    for (uint64_t round = 0; round < 2 * kPairs; ++round) {
      uint8_t &x = reg[8 + round % 2];
      for (int r = 0; r < 8; ++r) reg[r] ^= gf_mul_const_apply(c[r], x);
      x = reg[7];
    }
    for (int i = 0; i < kRegisters; ++i) want[i * loop.width + lane] = reg[i];
  }
  return got == want;
}

void gf_ceiling_benchmark(benchmark::State &state, const gf_ceiling_loop &loop) {
  const gf_mul_const *c = constants();
  std::vector<uint8_t> s = initial_state(loop.width);
  for (auto _ : state) {
    loop.rounds(c, s.data(), kGfCeilingPairs);
    benchmark::DoNotOptimize(s.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * gf_ceiling_bytes_per_iteration(loop)));
}
