// Constant tables of GF(2^8) (x^8 + x^4 + x^3 + x^2 + 1) and GF(2^4)
// (x^4 + x + 1), both with generator alpha = 2. They are computed at compile
// time from the polynomials, so no initialisation step exists and any number of
// threads may read them.
#pragma once

#include <array>

#include "gf/gf.h"
#include "gf/gf_region.h"

// exp[i] = alpha^i for i = 0 .. 255 (exp[255] = 1); log[0] holds 255.
extern const std::array<gf, 256> of_gf_2_8_exp;
extern const std::array<int, 256> of_gf_2_8_log;
extern const std::array<gf, 256> of_gf_2_8_inv;  // inv[0] = 0
extern const std::array<std::array<gf, 256>, 256> of_gf_2_8_mul_table;

// exp[i] = alpha^i for i = 0 .. 15 (exp[15] = 1); log[0] holds 15.
extern const std::array<gf, 16> of_gf_2_4_exp;
extern const std::array<int, 16> of_gf_2_4_log;
extern const std::array<gf, 16> of_gf_2_4_inv;  // inv[0] = 0
extern const std::array<std::array<gf, 16>, 16> of_gf_2_4_mul_table;
// For a factor c and a byte b holding two elements: c times each nibble.
extern const std::array<std::array<gf, 256>, 16> of_gf_2_4_opt_mul_table;

// The region-arithmetic constants: of_gf_2_8_mul_const[c] multiplies bytes by
// c in GF(2^8); of_gf_2_4_packed_mul_const[c] multiplies both packed GF(2^4)
// elements of a byte by c.
extern const std::array<gf_mul_const, 256> of_gf_2_8_mul_const;
extern const std::array<gf_mul_const, 16> of_gf_2_4_packed_mul_const;
