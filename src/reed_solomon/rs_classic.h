// The classic systematic Reed-Solomon erasure coder over GF(2^8): a coder
// object per (k, n) with encoding and in-place decoding. It is the GF(2^m)
// code with m = 8 (same field, evaluation points and systematic matrix) and
// runs on the same engine, so both produce identical repair symbols.
#pragma once

#include <cstdint>

#include "gf/gf.h"
#include "reed_solomon/rs_engine.h"
#include "zvfec/codec_session.h"

// A coder object for one (k, n); callers hold it as an untyped pointer.
struct fec_parms {
  uint32_t magic;  // 0xFECC0DEC ^ k ^ n ^ low 32 bits of the enc_matrix address
  int k;
  int n;
  gf *enc_matrix;       // n x k, rows 0 .. k-1 the identity; shared, read only
  const rs_code *code;  // the shared code behind enc_matrix, held by the coder
};

// Primitive polynomials by degree 2 .. 16, coefficients of x^0 .. x^m.
extern const char *const of_rs_allPp[17];

// The field tables are constant: nothing is left to prepare. Kept for callers
// that prepare the coder before first use.
void of_rs_init(void);

// A coder for k source and n encoding symbols, or NULL when k is 0, k > 256,
// n > 256, k > n or memory is short. Coders for one (k, n) share their matrix.
void *of_rs_new(unsigned int k, unsigned int n);

// Frees the coder; NULL is ignored.
void of_rs_free(void *p_vp);

// Writes symbol `index` (sz bytes) into fec_vp from the k source symbols.
// OF_STATUS_ERROR, output untouched, when index is not in 0 .. n-1 or a source
// symbol is missing.
of_status_t of_rs_encode(void *code_vp, void **src_vp, void *fec_vp, int index, int sz);

// Rebuilds in place, from k distinct symbols in writable buffers of sz bytes,
// the missing source symbols: afterwards pkt_vp[i] holds source symbol i.
// OF_STATUS_ERROR for a duplicate source ESI, an ESI outside 0 .. n-1, a
// singular matrix or short memory; the buffers are then unchanged (only their
// order in pkt_vp may differ).
of_status_t of_rs_decode(void *code_vp, void **pkt_vp, int *index, int sz);

// Operations of the coder on the field, over the shared engine.
gf of_modnn(int x);
void *of_my_malloc(int size, const char *label);
void of_addmul1(gf *dst1, gf *src1, gf c, int sz);
void of_matmul(gf *a, gf *b, gf *c, int n, int k, int m);
int of_invert_mat(gf *src, int k);
int of_invert_vdm(gf *src, int k);
int of_shuffle(gf **pkt, int *index, int k);
gf *of_build_decode_matrix(fec_parms *code, gf **pkt, int *index);
