// The LDPC-staircase parity-check matrix of RFC 5170.
#pragma once

#include <cstdint>

#include "binary/of_matrix_sparse.h"

// nb_rows = r repair symbols, nb_cols = n = k + r, left_degree = N1 entries per
// source column. Row i states that its source symbols, repair symbol i and (for
// i >= 1) repair symbol i - 1 sum to zero. *extra_entries_added_in_pchk (when
// given) tells whether rows had to be topped up to two source entries. The
// draws come from a generator seeded with seed for this build alone. None
// when left_degree > nb_rows, there is no source column, the seed is outside
// 1 .. 0x7FFFFFFE (reported on standard error), or memory is short; the
// caller owns the matrix.
of_mod2sparse *of_create_pchck_matrix_rfc5170_compliant(uint32_t nb_rows, uint32_t nb_cols,
                                                        uint32_t left_degree, uint32_t seed,
                                                        bool *extra_entries_added_in_pchk);

// Same, recording the flag in the codec's control block.
template <typename ControlBlock>
of_mod2sparse *of_create_pchck_matrix_rfc5170_compliant(uint32_t nb_rows, uint32_t nb_cols,
                                                        uint32_t left_degree, uint32_t seed,
                                                        ControlBlock *ofcb) {
  return of_create_pchck_matrix_rfc5170_compliant(nb_rows, nb_cols, left_degree, seed,
                                                  &ofcb->extra_entries_added_in_pchk);
}
