// Solving a sparse system over GF(2) whose right-hand sides are symbols, by
// inactivation: the elimination stage of the binary codecs' decoding.
//
// Pivots are chosen on the index structure alone. An equation left with one
// unsolved unknown becomes that unknown's pivot (peeling); when none is
// left, the unknown that appears most often in equations with two unsolved
// unknowns (then in most equations) is set aside as inactive, which lets
// peeling go on. Every solved unknown is then a known combination of the
// inactive ones, held as a bit-packed row of 64 inactive unknowns per word;
// the equations that were no pivot give the small dense system of the
// inactive unknowns, whose rank settles whether the whole system has a
// unique solution (the pivots' part is triangular). Only then are symbols
// touched: each pivot's value without the inactive part, the dense system's
// right-hand sides, the inactive unknowns through the inverse of that
// system, and each pivot's inactive part, each a multi-input XOR over the
// few symbols its equation names. No symbol XOR is spent on an equation the
// solution does not use.
#pragma once

#include <cstdint>

#include "binary/of_matrix_convert.h"
#include "binary/of_symbol.h"
#include "zvfec/codec_session.h"

// Adds to `sum` the symbols whose XOR is the right-hand side of equation
// `row` (none for a zero right-hand side).
typedef void (*of_rhs_fn)(void *context, uint32_t row, of_symbol_sum *sum);

// Counts of one solution, for whoever wants to see how it went.
struct of_inactivation_stats {
  uint32_t nb_pivots;    // unknowns solved by peeling, inactive ones set aside
  uint32_t nb_inactive;  // size of the dense system
};

// Solves the system of rows->n_rows equations over n_cols unknowns: equation
// i states that the unknowns rows->cols[rows->start[i]] .. (distinct, each
// below n_cols) sum to its right-hand side. On OF_STATUS_OK each values[c]
// (n_cols slots, none on entry) of a wanted unknown (wanted[c] non-zero, or
// every one when wanted is none) holds it in a buffer of ours (of_malloc,
// symbol_size bytes), which the caller then owns; the others stay none, and
// their values are computed only as far as the wanted ones need them.
// OF_STATUS_FAILURE when the equations do not determine every unknown (their
// rank is below n_cols): no right-hand side has been read.
// OF_STATUS_FATAL_ERROR when memory is short. On failure values stays all
// none and nothing of ours is left allocated. stats, when given, is filled
// on success and on OF_STATUS_FAILURE.
of_status_t of_inactivation_solve(const of_mod2rows *rows, uint32_t n_cols, of_rhs_fn rhs,
                                  void *context, uint32_t symbol_size, const uint8_t *wanted,
                                  void **values, of_inactivation_stats *stats);
