// The Cauchy code matrix and the one-block encoding steps shared by the
// encoder entry points and the decoder.
#pragma once

#include <cstdint>

#include "cauchy/gf256.h"
#include "zvfec/cauchy.h"

// Element a(x_i, y_j) = (y_j + x_0) / (x_i + y_j) of recovery row x_i (a block
// index >= k) and original y_j, with x_0 = k. A Cauchy matrix with column j
// scaled so that the first recovery row (x_i = x_0) is all ones.
inline uint8_t GetMatrixElement(uint8_t x_i, uint8_t x_0, uint8_t y_j) {
  return gf256_div(gf256_add(y_j, x_0), gf256_add(x_i, y_j));
}

// Checks of every codec entry point: 0, -1 when a count or BlockBytes <= 0,
// -2 when k + m > 256.
int cm256_check_params(const cm256_encoder_params &params);

// Computes the recovery block with index recoveryBlockIndex (>= k) into
// recoveryBlock (BlockBytes bytes). No checks.
void zvfec_encode_block(cm256_encoder_params params, void **originals, int recoveryBlockIndex,
                        void *recoveryBlock);
void cm256_encode_block(cm256_encoder_params params, cm256_block *originals, int recoveryBlockIndex,
                        void *recoveryBlock);
