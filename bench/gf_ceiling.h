// The multiply-accumulate ceiling of each kernel set: the rate of the set's
// own product plus XOR into eight accumulators held in registers, on data
// already in registers (gf_ceiling_loop.h), in bytes of one register times
// products per second. Encoding k sources into m repair symbols takes m
// products per vector of source data, so it runs at most at ceiling / m of
// source data; so does rebuilding m lost sources from k survivors.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

struct gf_ceiling_loop {
  const char *set;  // the kernel set's name (gf_kernel_set::name)
  size_t width;     // bytes of one register
  // 2 * pairs rounds on 10 registers' worth of state (accumulators, inputs)
  void (*rounds)(const gf_mul_const *c, uint8_t *state, uint64_t pairs);
};

// Pairs of rounds per benchmark iteration.
inline constexpr uint64_t kGfCeilingPairs = 4096;

// The loop of the kernel set of that name; null where this build has none.
const gf_ceiling_loop *gf_ceiling_loop_of(const char *set);

// True when the loop, run from a pseudo-random state, leaves every byte as a
// plain per-byte model of the rounds computes it: the loop does the products
// it is timed for.
bool gf_ceiling_loop_agrees(const gf_ceiling_loop &loop);

// Bytes multiply-accumulated in one benchmark iteration.
constexpr uint64_t gf_ceiling_bytes_per_iteration(const gf_ceiling_loop &loop) {
  return 2 * kGfCeilingPairs * 8 * loop.width;
}

// The body of a Google Benchmark of the loop (bytes processed: products times
// register bytes).
void gf_ceiling_benchmark(benchmark::State &state, const gf_ceiling_loop &loop);
