// The vector kernels written once for every instruction set. Each kernel
// translation unit is compiled for its own instructions and instantiates these
// templates with its set's traits type V, defined in a header of its own
// (gf_kernels_<set>.h) that the set's ceiling unit in bench/ includes too, so
// that the ceiling is measured on the very product the kernels use:
//
//   using reg;  static constexpr size_t width;            one vector
//   static constexpr int registers;                        (optional) how many
//   static reg load(const uint8_t *), zero(), bxor(reg, reg);
//   static void store(uint8_t *, reg);
//   static constexpr bool masked;                          byte-masked access
//   static reg load_masked(const uint8_t *, size_t n);     (masked only) the
//   static void store_masked(uint8_t *, size_t n, reg);    first n bytes
//   using coef;  static coef coef_of(const gf_mul_const *) a constant as the
//   using split; static split split_of(reg)                product needs them
//   static reg product(const split &, coef)
//
// A region is done in whole vectors, then in one partial step: by byte masks
// where the set has them, otherwise through zero-padded copies on the stack,
// so no byte outside a region is ever read or written.
//
// Kernel units include nothing but this header, their traits header, the
// intrinsics and the C string functions, and keep everything in an anonymous
// namespace: no inline function of another header is compiled here with
// instructions that the rest of the library may not assume. The traits
// headers hold to the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gf/gf_kernels.h"

#define ZV_GF_INLINE inline __attribute__((always_inline))
#define ZV_GF_LAMBDA_INLINE __attribute__((always_inline))
#define ZV_GF_UNROLL _Pragma("GCC unroll 8")

namespace {
namespace gf_impl {

// Sources per pass of a dot kernel: bounds the table of constants on the stack.
constexpr int kDotChunk = 256;

template <class V>
ZV_GF_INLINE typename V::reg load_n(const uint8_t *p, size_t n) {
  if (n == V::width) return V::load(p);
  if constexpr (V::masked) {
    return V::load_masked(p, n);
  } else {
    alignas(64) uint8_t buffer[V::width] = {};
    std::memcpy(buffer, p, n);
    return V::load(buffer);
  }
}

template <class V>
ZV_GF_INLINE void store_n(uint8_t *p, size_t n, typename V::reg v) {
  if (n == V::width) {
    V::store(p, v);
  } else if constexpr (V::masked) {
    V::store_masked(p, n, v);
  } else {
    alignas(64) uint8_t buffer[V::width];
    V::store(buffer, v);
    std::memcpy(p, buffer, n);
  }
}

// Runs step(offset, n) over the region from byte `from` on: whole vectors
// with n == width (a constant once inlined), then the partial rest.
template <class V, class Step>
ZV_GF_INLINE void over_region(size_t bytes, Step step, size_t from = 0) {
  size_t i = from;
  for (; i + V::width <= bytes; i += V::width) step(i, V::width);
  if (i < bytes) step(i, bytes - i);
}

// The vector registers of a set: as many as it names, else 32 of 64 bytes and
// 16 of narrower ones.
template <class V>
constexpr int vector_registers() {
  if constexpr (requires { V::registers; }) {
    return V::registers;
  } else {
    return V::width == 64 ? 32 : 16;
  }
}

// Vectors per step of a dot kernel with R rows: with few rows, each source's
// address and constants serve several vectors, as many as leave the sums and
// the split vectors in registers.
template <class V, int R>
constexpr int dot_vectors() {
  constexpr int registers = vector_registers<V>();
  constexpr int split_registers = sizeof(typename V::split) / sizeof(typename V::reg);
  auto fits = [&](int u) { return R * u + u * split_registers + 4 <= registers; };
  return fits(4) ? 4 : fits(2) ? 2 : 1;
}

template <class V>
void xor_sum(uint8_t *dst, const uint8_t *const *src, int count, size_t bytes, bool accumulate) {
  over_region<V>(bytes, [&](size_t i, size_t n) ZV_GF_LAMBDA_INLINE {
    typename V::reg sum = accumulate ? load_n<V>(dst + i, n) : V::zero();
    for (int j = 0; j < count; ++j) sum = V::bxor(sum, load_n<V>(src[j] + i, n));
    store_n<V>(dst + i, n, sum);
  });
}

template <class V>
void mul(uint8_t *dst, const uint8_t *src, const gf_mul_const *c, size_t bytes, bool accumulate) {
  const typename V::coef k = V::coef_of(c);
  over_region<V>(bytes, [&](size_t i, size_t n) ZV_GF_LAMBDA_INLINE {
    typename V::reg p = V::product(V::split_of(load_n<V>(src + i, n)), k);
    if (accumulate) p = V::bxor(p, load_n<V>(dst + i, n));
    store_n<V>(dst + i, n, p);
  });
}

// R rows over at most kDotChunk sources; coefficient (r, j) is
// field[coeff[r * stride + j]].
template <class V, int R>
void dot_rows(uint8_t *const *out, const uint8_t *const *src, int count, const gf_mul_const *field,
              const uint8_t *coeff, int stride, size_t bytes, bool accumulate) {
  // The constants in the order the loop reads them.
  typename V::coef table[kDotChunk * R];
  for (int j = 0; j < count; ++j) {
    ZV_GF_UNROLL for (int r = 0; r < R; ++r) {
      table[j * R + r] = V::coef_of(&field[coeff[r * stride + j]]);
    }
  }
  // One step of up to a vector at offset i.
  auto step = [&](size_t i, size_t n) ZV_GF_LAMBDA_INLINE {
    typename V::reg sum[R];
    ZV_GF_UNROLL for (int r = 0; r < R; ++r) {
      sum[r] = accumulate ? load_n<V>(out[r] + i, n) : V::zero();
    }
    for (int j = 0; j < count; ++j) {
      const typename V::split s = V::split_of(load_n<V>(src[j] + i, n));
      ZV_GF_UNROLL for (int r = 0; r < R; ++r) {
        sum[r] = V::bxor(sum[r], V::product(s, table[j * R + r]));
      }
    }
    ZV_GF_UNROLL for (int r = 0; r < R; ++r) store_n<V>(out[r] + i, n, sum[r]);
  };
  // Sources that share one misalignment are brought onto vector boundaries,
  // where a set has byte masks to take the bytes before the first boundary
  // in one partial step: a load across two cache lines costs both. That step
  // comes last, so that it never waits on the stores of the steps next to it
  // when an output is one of the sources.
  size_t head = 0;
  if constexpr (V::masked) {
    const uintptr_t offset = count > 0 ? reinterpret_cast<uintptr_t>(src[0]) & (V::width - 1) : 0;
    bool shared = offset != 0;
    for (int j = 1; shared && j < count; ++j)
      shared = (reinterpret_cast<uintptr_t>(src[j]) & (V::width - 1)) == offset;
    if (shared && V::width - offset < bytes) head = V::width - offset;
  }
  size_t from = head;
  constexpr int U = dot_vectors<V, R>();
  constexpr size_t kStep = U * V::width;
  if constexpr (U > 1) {
    for (; from + kStep <= bytes; from += kStep) {
      typename V::reg sum[R][U];
      ZV_GF_UNROLL for (int r = 0; r < R; ++r) {
        ZV_GF_UNROLL for (int u = 0; u < U; ++u) {
          sum[r][u] = accumulate ? V::load(out[r] + from + u * V::width) : V::zero();
        }
      }
      for (int j = 0; j < count; ++j) {
        const uint8_t *p = src[j] + from;
        typename V::split s[U];
        ZV_GF_UNROLL for (int u = 0; u < U; ++u) s[u] = V::split_of(V::load(p + u * V::width));
        ZV_GF_UNROLL for (int r = 0; r < R; ++r) {
          const typename V::coef c = table[j * R + r];
          ZV_GF_UNROLL for (int u = 0; u < U; ++u) {
            sum[r][u] = V::bxor(sum[r][u], V::product(s[u], c));
          }
        }
      }
      ZV_GF_UNROLL for (int r = 0; r < R; ++r) {
        ZV_GF_UNROLL for (int u = 0; u < U; ++u) V::store(out[r] + from + u * V::width, sum[r][u]);
      }
    }
  }
  over_region<V>(bytes, step, from);
  if (head != 0) step(0, head);
}

using DotRowsFn = void (*)(uint8_t *const *, const uint8_t *const *, int, const gf_mul_const *,
                           const uint8_t *, int, size_t, bool);

template <class V>
void dot(uint8_t *const *out, int rows, const uint8_t *const *src, int count,
         const gf_mul_const *field, const uint8_t *coeff, size_t bytes, bool accumulate) {
  static constexpr DotRowsFn kRows[kGfDotRows + 1] = {
      nullptr,        dot_rows<V, 1>, dot_rows<V, 2>, dot_rows<V, 3>, dot_rows<V, 4>,
      dot_rows<V, 5>, dot_rows<V, 6>, dot_rows<V, 7>, dot_rows<V, 8>};
  if (rows < 1 || rows > kGfDotRows) return;
  if (count <= kDotChunk) {
    kRows[rows](out, src, count, field, coeff, count, bytes, accumulate);
    return;
  }
  for (int j0 = 0; j0 < count; j0 += kDotChunk) {
    const int chunk = count - j0 < kDotChunk ? count - j0 : kDotChunk;
    kRows[rows](out, src + j0, chunk, field, coeff + j0, count, bytes, accumulate || j0 > 0);
  }
}

// Sets whose traits multiply and invert in the field of x^8 + x^4 + x^3 + x + 1:
//   static reg broadcast(uint8_t), affine(reg, uint64_t matrix),
//     affine_inverse(reg, uint64_t matrix)  (matrix times the inverse, 0 for 0),
//     field_mul(reg, reg), one_for_zero(reg);
template <class V>
concept FieldTraits = requires(typename V::reg r, uint64_t m) {
  V::field_mul(r, r);
  V::affine_inverse(r, m);
};

constexpr uint64_t kIdentityMatrix = 0x0102040810204080;

template <class V>
void cauchy_weights(uint8_t *w, uint8_t *num, uint8_t *den, const uint8_t *x, const uint8_t *scale,
                    size_t n, const uint8_t *fy, const uint8_t *fx, int m,
                    const gf_field_map *map) {
  // The factors' points, mapped once and broadcast.
  typename V::reg y_in[kGfDotRows], x_in[kGfDotRows];
  for (int j = 0; j < m; ++j) {
    y_in[j] = V::affine(V::broadcast(fy[j]), map->to);
    x_in[j] = V::affine(V::broadcast(fx[j]), map->to);
  }
  over_region<V>(n, [&](size_t i, size_t len) ZV_GF_LAMBDA_INLINE {
    const typename V::reg t = V::affine(load_n<V>(x + i, len), map->to);
    typename V::reg a = V::affine(load_n<V>(num + i, len), map->to);
    typename V::reg b = V::affine(load_n<V>(den + i, len), map->to);
    for (int j = 0; j < m; ++j) {
      a = V::field_mul(a, V::one_for_zero(V::bxor(t, y_in[j])));
      b = V::field_mul(b, V::one_for_zero(V::bxor(t, x_in[j])));
    }
    store_n<V>(num + i, len, V::affine(a, map->from));
    store_n<V>(den + i, len, V::affine(b, map->from));
    const typename V::reg scaled = V::field_mul(a, V::affine(load_n<V>(scale + i, len), map->to));
    const typename V::reg quotient = V::field_mul(scaled, V::affine_inverse(b, kIdentityMatrix));
    store_n<V>(w + i, len, V::affine(quotient, map->from));
  });
}

template <class V>
void cauchy_rows(uint8_t *out, int rows, const uint8_t *w, const uint8_t *x, size_t n,
                 const uint8_t *y, const uint8_t *f, const gf_field_map *map) {
  for (int r0 = 0; r0 < rows; r0 += kGfDotRows) {
    const int batch = rows - r0 < kGfDotRows ? rows - r0 : kGfDotRows;
    typename V::reg y_in[kGfDotRows], f_in[kGfDotRows];
    for (int r = 0; r < batch; ++r) {
      y_in[r] = V::affine(V::broadcast(y[r0 + r]), map->to);
      f_in[r] = V::affine(V::broadcast(f[r0 + r]), map->to);
    }
    over_region<V>(n, [&](size_t i, size_t len) ZV_GF_LAMBDA_INLINE {
      const typename V::reg t = V::affine(load_n<V>(x + i, len), map->to);
      const typename V::reg weight = V::affine(load_n<V>(w + i, len), map->to);
      for (int r = 0; r < batch; ++r) {
        const typename V::reg inverse = V::affine_inverse(V::bxor(t, y_in[r]), kIdentityMatrix);
        const typename V::reg c = V::field_mul(V::field_mul(weight, inverse), f_in[r]);
        store_n<V>(out + (r0 + r) * n + i, len, V::affine(c, map->from));
      }
    });
  }
}

template <class V>
constexpr gf_kernel_set kernel_set(const char *name) {
  if constexpr (FieldTraits<V>) {
    return {name, xor_sum<V>, mul<V>, dot<V>, cauchy_weights<V>, cauchy_rows<V>};
  } else {
    return {name, xor_sum<V>, mul<V>, dot<V>, nullptr, nullptr};
  }
}

}  // namespace gf_impl
}  // namespace
