// Multiply-and-add over a "linear" product row: a 256-entry table with
// row[a ^ b] == row[a] ^ row[b], which holds for a GF(2^8) product row and for
// a packed GF(2^4) row. Such a row is fixed by its 16 low-nibble and 16
// high-nibble entries, so a vector shuffle computes 16 or 32 products per
// instruction. The plain table kernel (gf_addmul_row<0xFF>) is the reference;
// each vector variant is chosen once at run time by CPU support and is tested
// bit for bit against it.
#pragma once

#include "gf/gf.h"

// dst[i] ^= row[src[i]] for i < sz, by the fastest kernel this CPU supports.
void gf_addmul_linear_row(gf *dst, const gf *src, const gf *row, int sz);

// The variants, for tests and measurements. A variant whose instructions the
// CPU lacks is reported unavailable and must not be called.
typedef void (*gf_addmul_kernel)(gf *dst, const gf *src, const gf *row, int sz);
struct gf_addmul_variant {
  const char *name;
  gf_addmul_kernel kernel;
  bool available;
};
// Fills out[0 .. max-1] with the variants (plain first); returns how many.
int gf_addmul_variants(gf_addmul_variant *out, int max);
