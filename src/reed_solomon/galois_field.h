// Arithmetic of the two fields of the GF(2^m) Reed-Solomon codec. Matrices are
// row-major with one element per byte; element (row, col) of a matrix with w
// columns is at row * w + col. dst1 and src1 never overlap, nor does the
// product c overlap a or b. The control block argument of the inversions is
// not consulted: the tables are fixed per field.
#pragma once

#include "gf/gf.h"

struct of_rs_2_m_cb;
typedef struct of_rs_2_m_cb of_galois_field_code_cb_t;

// dst1[i] ^= c * src1[i] for i < sz, one element per byte (GF(2^4) elements
// below 16).
void of_galois_field_2_8_addmul1(gf *dst1, gf *src1, gf c, int sz);
void of_galois_field_2_4_addmul1(gf *dst1, gf *src1, gf c, int sz);
// GF(2^4) symbol data: both nibbles of every byte multiplied by c.
void of_galois_field_2_4_addmul1_compact(gf *dst1, gf *src1, gf c, int sz);

// c (n x m) = a (n x k) * b (k x m).
void of_galois_field_2_8_matmul(gf *a, gf *b, gf *c, int n, int k, int m);
void of_galois_field_2_4_matmul(gf *a, gf *b, gf *c, int n, int k, int m);

// Inverts the k x k matrix in place; 0 on success, 1 when it is singular or
// working memory is short.
int of_galois_field_2_8_invert_mat(of_galois_field_code_cb_t *ofcb, gf *src, int k);
int of_galois_field_2_4_invert_mat(of_galois_field_code_cb_t *ofcb, gf *src, int k);

// Inverts in place a k x k Vandermonde matrix (row i = 1, p_i, p_i^2, ...;
// distinct p_i). 0 on success, 1 when working memory is short.
int of_galois_field_2_8_invert_vdm(of_galois_field_code_cb_t *ofcb, gf *src, int k);
int of_galois_field_2_4_invert_vdm(of_galois_field_code_cb_t *ofcb, gf *src, int k);
