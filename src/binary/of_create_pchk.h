// Parity-check matrices of the binary codecs. Every matrix has the repair
// symbols' columns first: column c < n_rows is the c-th repair symbol, column
// c >= n_rows is source symbol c - n_rows. Builders that draw seed a generator
// state of their own for the build (never the process-wide one), so a matrix
// depends only on its parameters, whatever other threads build meanwhile.
#pragma once

#include <cstdint>

#include "binary/of_matrix_sparse.h"
#include "binary/of_rand.h"

typedef enum make_method_enum {
  Evencol = 0,  // each column's entries drawn independently
  Evenboth = 1  // rows filled as evenly as possible too
} make_method;

typedef enum SessionType_enum {
  TypeLDGM = 0,
  TypeSTAIRS = 1,
  TypeTRIANGLE = 2,
  TypeLDPC_QC = 5,
  TypeREGULAR_LDPC = 6,
  Type2DMATRIX = 7
} of_session_type;

// TypeREGULAR_LDPC goes to the general builder and Type2DMATRIX to the 2D
// builder (which draws nothing and ignores seed); any other type gives none.
// The verbosity arguments are carried for callers and not consulted: messages
// follow of_verbosity.
of_mod2sparse *of_create_pchk_matrix(uint32_t nb_rows, uint32_t nb_cols, make_method method,
                                     uint32_t left_degree, uint32_t seed, bool no4cycle,
                                     of_session_type type, uint8_t verbosity);

// Regular LDPC or LDGM matrix of nb_rows x nb_cols with left_degree entries per
// filled column. TypeLDGM fills the source columns and adds the identity on the
// repair columns; TypeREGULAR_LDPC fills every column; TypeSTAIRS and
// TypeTRIANGLE give an empty matrix. Gives none for any other type or method,
// nb_rows < left_degree, no4cycle (four-cycle removal is not offered), a seed
// outside 1 .. 0x7FFFFFFE (reported on standard error), or memory shortage.
// The caller owns the matrix.
of_mod2sparse *of_create_pchk_matrix_general(uint32_t nb_rows, uint32_t nb_cols, make_method method,
                                             uint32_t left_degree, uint32_t seed, bool no4cycle,
                                             of_session_type type, uint8_t verbosity);

// Fills rows row_start .. row_end - 1 and columns col_start .. col_end - 1 of m
// with left_degree entries per column, then gives every row at least two
// entries, drawing from rng (seeded by the caller). Returns m, or none (m
// partly filled, still the caller's) for a row_start other than 0, ranges
// outside m, an unknown method, more entries per column than rows, or memory
// shortage.
of_mod2sparse *of_fill_regular_pchk_matrix(of_mod2sparse *m, uint32_t row_start, uint32_t row_end,
                                           uint32_t col_start, uint32_t col_end, make_method method,
                                           uint32_t left_degree, bool no4cycle, uint8_t verbosity,
                                           of_rfc5170_rng *rng);

// Parity matrix of a grid of a columns and b rows of source symbols, with
// k = nb_cols - nb_rows = a * b and nb_rows = a + b repair symbols (one per
// grid row, then one per grid column). a is the largest divisor of k not above
// the square root of nb_cols that fits. None when nb_rows >= nb_cols or no
// shape fits.
of_mod2sparse *of_create_2D_pchk_matrix(uint32_t nb_rows, uint32_t nb_cols, of_session_type type,
                                        uint8_t verbosity);

// Fills m for a grid of d rows of l source symbols: (i, i) for every repair
// column, grid row i in matrix row i, grid column c in matrix row d + c.
// Returns m, or none when m is too small or memory is short.
of_mod2sparse *of_fill_2D_pchk_matrix(of_mod2sparse *m, uint32_t d, uint32_t l, uint8_t verbosity);

// Steps shared by the regular and the RFC 5170 builders; both draw from rng,
// which the builder has seeded.

// Places left_degree entries in each column col_start .. col_end - 1 of rows
// 0 .. nb_row - 1, taking rows from a pool that holds every row equally often.
// Returns the number of entries that could not come from the pool, or -1 when
// memory is short. Needs left_degree <= nb_row.
int64_t of_place_evenboth(of_mod2sparse *m, uint32_t nb_row, uint32_t col_start, uint32_t col_end,
                          uint32_t left_degree, of_rfc5170_rng *rng);

// Gives each row 0 .. nb_row - 1 at least one entry, and a second one when
// nb_col > 1, drawn among columns col_start .. col_start + nb_col - 1. Returns
// the number of entries added, or -1 when memory is short.
int64_t of_complete_sparse_rows(of_mod2sparse *m, uint32_t nb_row, uint32_t col_start,
                                uint32_t nb_col, of_rfc5170_rng *rng);
