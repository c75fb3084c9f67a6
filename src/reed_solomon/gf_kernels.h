// Field arithmetic written once for every table set: GF(2^8) and GF(2^4) of
// the GF(2^m) codec and the run-time tables of the classic coder. A field
// type F supplies
//   static constexpr unsigned mask;      // mask of a valid element
//   static const gf *row(gf c);          // products c * x, indexed by x & mask
//   static gf inv(gf x);                 // inverse, inv(0) = 0
//   static void *alloc(size_t), release(void *);   // working memory
// Elements outside the field are reduced by mask before any lookup, so even a
// malformed matrix never reads outside the tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gf/gf.h"

namespace gf_detail {

inline uint32_t load_le32(const gf *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void store_le32(gf *p, uint32_t v) {
  p[0] = static_cast<gf>(v);
  p[1] = static_cast<gf>(v >> 8);
  p[2] = static_cast<gf>(v >> 16);
  p[3] = static_cast<gf>(v >> 24);
}

inline uint32_t mapped_word(const gf *row, const gf *s, unsigned mask) {
  return uint32_t{row[s[0] & mask]} | uint32_t{row[s[1] & mask]} << 8 |
         uint32_t{row[s[2] & mask]} << 16 | uint32_t{row[s[3] & mask]} << 24;
}

}  // namespace gf_detail

// dst[i] ^= row[src[i] & Mask] for i < sz: 16 bytes per step as four 32-bit
// words, then the remaining bytes one by one. row holds Mask + 1 entries.
template <unsigned Mask>
inline void gf_addmul_row(gf *dst, const gf *src, const gf *row, int sz) {
  using namespace gf_detail;
  const size_t n = sz > 0 ? static_cast<size_t>(sz) : 0;
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    for (size_t w = i; w < i + 16; w += 4)
      store_le32(dst + w, load_le32(dst + w) ^ mapped_word(row, src + w, Mask));
  }
  for (; i < n; ++i) dst[i] ^= row[src[i] & Mask];
}

template <class F>
inline gf gf_mul(gf a, gf b) {
  return F::row(a)[b & F::mask];
}

// c (n x m) = a (n x k) * b (k x m), all row-major.
template <class F>
void gf_matmul(const gf *a, const gf *b, gf *c, int n, int k, int m) {
  for (int row = 0; row < n; ++row) {
    for (int col = 0; col < m; ++col) {
      gf acc = 0;
      for (int i = 0; i < k; ++i)
        acc ^= gf_mul<F>(a[size_t(row) * size_t(k) + size_t(i)],
                         b[size_t(i) * size_t(m) + size_t(col)]);
      c[size_t(row) * size_t(m) + size_t(col)] = acc;
    }
  }
}

// Inverts the k x k matrix in place by Gauss-Jordan elimination with full
// pivoting. Returns 0, or 1 when the matrix is singular or the working memory
// cannot be obtained (the content is then unspecified).
template <class F>
int gf_invert_mat(gf *src, int k) {
  if (k <= 0) return 0;
  const size_t kk = static_cast<size_t>(k);
  auto *indxc = static_cast<int *>(F::alloc(kk * sizeof(int)));
  auto *indxr = static_cast<int *>(F::alloc(kk * sizeof(int)));
  auto *ipiv = static_cast<int *>(F::alloc(kk * sizeof(int)));
  auto *id_row = static_cast<gf *>(F::alloc(kk));
  int result = 1;
  if (indxc != nullptr && indxr != nullptr && ipiv != nullptr && id_row != nullptr) {
    std::memset(ipiv, 0, kk * sizeof(int));
    std::memset(id_row, 0, kk);
    result = 0;
    for (size_t col = 0; col < kk && result == 0; ++col) {
      size_t irow = kk, icol = kk;
      if (ipiv[col] != 1 && src[col * kk + col] != 0) {
        irow = col;
        icol = col;
      } else {
        for (size_t row = 0; row < kk && irow == kk && result == 0; ++row) {
          if (ipiv[row] == 1) continue;
          for (size_t ix = 0; ix < kk; ++ix) {
            if (ipiv[ix] == 0) {
              if (src[row * kk + ix] != 0) {
                irow = row;
                icol = ix;
                break;
              }
            } else if (ipiv[ix] > 1) {
              result = 1;
              break;
            }
          }
        }
        if (irow == kk) result = 1;
      }
      if (result != 0) break;
      ++ipiv[icol];
      if (irow != icol) {
        for (size_t ix = 0; ix < kk; ++ix) {
          const gf t = src[irow * kk + ix];
          src[irow * kk + ix] = src[icol * kk + ix];
          src[icol * kk + ix] = t;
        }
      }
      indxr[col] = static_cast<int>(irow);
      indxc[col] = static_cast<int>(icol);
      gf *pivot_row = src + icol * kk;
      gf c = pivot_row[icol] & F::mask;
      if (c == 0) {
        result = 1;
        break;
      }
      if (c != 1) {
        // Storing 1 before scaling leaves the pivot position holding inv(c),
        // which is what the in-place inverse needs there.
        c = F::inv(c);
        pivot_row[icol] = 1;
        const gf *scale = F::row(c);
        for (size_t ix = 0; ix < kk; ++ix) pivot_row[ix] = scale[pivot_row[ix] & F::mask];
      }
      id_row[icol] = 1;
      if (std::memcmp(pivot_row, id_row, kk) != 0) {
        for (size_t ix = 0; ix < kk; ++ix) {
          if (ix == icol) continue;
          gf *p = src + ix * kk;
          const gf d = p[icol] & F::mask;
          p[icol] = 0;
          if (d != 0) gf_addmul_row<F::mask>(p, pivot_row, F::row(d), k);
        }
      }
      id_row[icol] = 0;
    }
    if (result == 0) {
      for (size_t col = kk; col-- > 0;) {
        const auto r = static_cast<size_t>(indxr[col]), c = static_cast<size_t>(indxc[col]);
        if (r == c) continue;
        for (size_t row = 0; row < kk; ++row) {
          const gf t = src[row * kk + r];
          src[row * kk + r] = src[row * kk + c];
          src[row * kk + c] = t;
        }
      }
    }
  }
  F::release(indxc);
  F::release(indxr);
  F::release(ipiv);
  F::release(id_row);
  return result;
}

// Inverts in place a k x k Vandermonde matrix whose row i is
// (1, p_i, p_i^2, ...) with distinct p_i; only column 1 is read. Returns 0, or
// 1 when the working memory cannot be obtained (matrix unchanged).
template <class F>
int gf_invert_vdm(gf *src, int k) {
  if (k <= 1) return 0;
  const size_t kk = static_cast<size_t>(k);
  auto *c = static_cast<gf *>(F::alloc(kk));
  auto *b = static_cast<gf *>(F::alloc(kk));
  auto *p = static_cast<gf *>(F::alloc(kk));
  int result = 1;
  if (c != nullptr && b != nullptr && p != nullptr) {
    for (size_t i = 0; i < kk; ++i) {
      c[i] = 0;
      p[i] = src[i * kk + 1] & F::mask;
    }
    // Coefficients of P(x) = prod (x + p_i), highest power implicit.
    c[kk - 1] = p[0];
    for (size_t i = 1; i < kk; ++i) {
      const gf *pi = F::row(p[i]);
      for (size_t j = kk - i; j + 1 < kk; ++j) c[j] ^= pi[c[j + 1] & F::mask];
      c[kk - 1] ^= p[i];
    }
    for (size_t row = 0; row < kk; ++row) {
      const gf *x = F::row(p[row]);
      gf t = 1;
      b[kk - 1] = 1;
      for (size_t i = kk - 1; i-- > 0;) {
        b[i] = c[i + 1] ^ x[b[i + 1] & F::mask];
        t = x[t & F::mask] ^ b[i];
      }
      const gf *scale = F::row(F::inv(t));
      for (size_t col = 0; col < kk; ++col) src[col * kk + row] = scale[b[col] & F::mask];
    }
    result = 0;
  }
  F::release(c);
  F::release(b);
  F::release(p);
  return result;
}

// Places received source symbols at their own positions: afterwards every
// entry with ESI c < k sits at position c. Returns 1 when two entries claim
// the same source ESI, else 0. Negative ESIs are left where they are.
inline int gf_shuffle(gf **pkt, int *index, int k) {
  for (int i = 0; i < k;) {
    const int c = index[i];
    if (c >= 0 && c < k && c != i) {
      if (index[c] == c) return 1;
      index[i] = index[c];
      index[c] = c;
      gf *t = pkt[i];
      pkt[i] = pkt[c];
      pkt[c] = t;
    } else {
      ++i;
    }
  }
  return 0;
}
