// The multiply-accumulate loop whose rate is a kernel set's ceiling, written
// once for the traits of every set (src/gf/gf_kernels_impl.h describes them).
// Each ceiling unit includes its set's traits header and this one, nothing
// else that has inline code, and is compiled with the same flags as the set's
// kernel unit.
//
// Eight accumulators and two inputs stay in registers. A round splits one
// input as the set's dot kernel splits a source vector and adds its product
// with each of eight constants into an accumulator of its own: the set's
// product and one XOR per accumulator, no load or store of data. Each input is
// fed from the last accumulator and read again two rounds later, so the
// compiler cannot hoist the products out of the loop, while the chain through
// the inputs stays short beside the work of two rounds. Per byte lane, a round
// with input x (x0 in even rounds, x1 in odd ones) is
//
//   acc[r] ^= c[r] * x  for r < 8, then x = acc[7].
#pragma once

#include <cstddef>
#include <cstdint>

#include "gf/gf_region.h"

namespace {

inline constexpr int kCeilingAccumulators = 8;

// Tells the compiler nothing about v's value, so that each round XORs its
// products into the accumulators as the dot kernel does per source: left
// alone, GCC sums the products of two rounds first (three-way XORs where it
// has them) and holds both rounds' partial sums, more registers than the sets
// have, so it spills.
template <class R>
__attribute__((always_inline)) inline void opaque(R &v) {
  if constexpr (sizeof(R) == 1) {
    __asm__("" : "+r"(v));
  } else {
#if defined(__aarch64__)
    __asm__("" : "+w"(v));  // a SIMD register
#else
    __asm__("" : "+v"(v));
#endif
  }
}

// state holds 10 registers of V::width bytes, the accumulators and then x0
// and x1; runs 2 * pairs rounds on it in place with the constants k.
template <class V>
__attribute__((always_inline)) inline void ceiling_rounds(const typename V::coef *k, uint8_t *state,
                                                          uint64_t pairs) {
  using reg = typename V::reg;
  reg acc[kCeilingAccumulators];
  _Pragma("GCC unroll 8") for (int r = 0; r < kCeilingAccumulators; ++r) {
    acc[r] = V::load(state + static_cast<size_t>(r) * V::width);
  }
  reg x0 = V::load(state + kCeilingAccumulators * V::width);
  reg x1 = V::load(state + (kCeilingAccumulators + 1) * V::width);
  const auto round = [&](reg & x) __attribute__((always_inline)) {
    const typename V::split s = V::split_of(x);
    _Pragma("GCC unroll 8") for (int r = 0; r < kCeilingAccumulators; ++r) {
      acc[r] = V::bxor(acc[r], V::product(s, k[r]));
      opaque(acc[r]);
    }
    x = acc[kCeilingAccumulators - 1];
  };
  for (uint64_t i = 0; i < pairs; ++i) {
    round(x0);
    round(x1);
  }
  _Pragma("GCC unroll 8") for (int r = 0; r < kCeilingAccumulators; ++r) {
    V::store(state + static_cast<size_t>(r) * V::width, acc[r]);
  }
  V::store(state + kCeilingAccumulators * V::width, x0);
  V::store(state + (kCeilingAccumulators + 1) * V::width, x1);
}

// The loop of a vector set: its constants as the set's dot kernel takes them.
template <class V>
void vector_ceiling_rounds(const gf_mul_const *c, uint8_t *state, uint64_t pairs) {
  typename V::coef k[kCeilingAccumulators];
  for (int r = 0; r < kCeilingAccumulators; ++r) k[r] = V::coef_of(&c[r]);
  ceiling_rounds<V>(k, state, pairs);
}

}  // namespace
