#include "binary/of_create_pchk.h"

#include <cstdio>

#include "binary/of_rand.h"
#include "session/diag.h"
#include "session/verbosity.h"
#include "zvfec/codec_session.h"

namespace {

void release(of_mod2sparse *m) {
  of_mod2sparse_free(m);
  of_free(m);
}

bool present(of_mod2sparse *m, uint64_t row, uint64_t col) {
  return of_mod2sparse_find(m, static_cast<uint32_t>(row), static_cast<uint32_t>(col)) != nullptr;
}

bool put(of_mod2sparse *m, uint64_t row, uint64_t col) {
  return of_mod2sparse_insert(m, static_cast<uint32_t>(row), static_cast<uint32_t>(col)) != nullptr;
}

}  // namespace

int64_t of_place_evenboth(of_mod2sparse *m, uint32_t nb_row, uint32_t col_start, uint32_t col_end,
                          uint32_t left_degree, of_rfc5170_rng *rng) {
  const uint64_t t = uint64_t{left_degree} * (col_end - col_start);
  if (t == 0) return 0;
  if (t > SIZE_MAX / sizeof(uint32_t)) return -1;
  auto *u = static_cast<uint32_t *>(of_malloc(t * sizeof(uint32_t)));
  if (u == nullptr) return -1;
  for (uint64_t h = t; h-- > 0;) u[h] = static_cast<uint32_t>(h % nb_row);
  // The rows placed in the current column so far: while that column had no
  // entry before, they are all it holds, and looking them up here spares a
  // walk through the matrix for every draw.
  auto *placed_rows = static_cast<uint32_t *>(of_malloc(sizeof(uint32_t) * left_degree));
  if (placed_rows == nullptr) {
    of_free(u);
    return -1;
  }
  uint64_t used = 0;
  int64_t uneven = 0;
  bool ok = true;
  for (uint32_t j = col_start; j < col_end && ok; ++j) {
    const bool was_empty = of_mod2sparse_empty_col(m, j);
    auto in_column = [&](uint64_t row, uint32_t placed) {
      if (!was_empty) return present(m, row, j);
      for (uint32_t p = 0; p < placed; ++p)
        if (placed_rows[p] == row) return true;
      return false;
    };
    for (uint32_t placed = 0; placed < left_degree && ok; ++placed) {
      uint64_t i = used;
      while (i < t && in_column(u[i], placed)) ++i;
      if (i < t) {
        do {
          i = used + of_rfc5170_draw(rng, t - used);
        } while (in_column(u[i], placed));
        placed_rows[placed] = u[i];
        ok = put(m, u[i], j);
        u[i] = u[used];
        ++used;
      } else {
        // The pool has no row left that this column lacks.
        ++uneven;
        do {
          i = of_rfc5170_draw(rng, nb_row);
        } while (in_column(i, placed));
        placed_rows[placed] = static_cast<uint32_t>(i);
        ok = put(m, i, j);
      }
    }
  }
  of_free(placed_rows);
  of_free(u);
  return ok ? uneven : -1;
}

int64_t of_complete_sparse_rows(of_mod2sparse *m, uint32_t nb_row, uint32_t col_start,
                                uint32_t nb_col, of_rfc5170_rng *rng) {
  if (nb_col == 0) return 0;
  int64_t added = 0;
  for (uint32_t i = 0; i < nb_row; ++i) {
    if (of_mod2sparse_empty_row(m, i)) {
      if (!put(m, i, col_start + of_rfc5170_draw(rng, nb_col))) return -1;
      ++added;
    }
    // One entry: the first is also the last.
    const of_mod2entry *first = of_mod2sparse_first_in_row(m, i);
    if (first == of_mod2sparse_last_in_row(m, i) && nb_col >= 2) {
      const auto taken = static_cast<uint64_t>(first->col);
      uint64_t j;
      do {
        j = col_start + of_rfc5170_draw(rng, nb_col);
      } while (j == taken);
      if (!put(m, i, j)) return -1;
      ++added;
    }
  }
  return added;
}

of_mod2sparse *of_fill_regular_pchk_matrix(of_mod2sparse *m, uint32_t row_start, uint32_t row_end,
                                           uint32_t col_start, uint32_t col_end, make_method method,
                                           uint32_t left_degree, bool /*no4cycle*/,
                                           uint8_t /*verbosity*/, of_rfc5170_rng *rng) {
  if (m == nullptr || rng == nullptr || row_start != 0 ||
      row_end > static_cast<uint32_t>(m->n_rows) || col_start > col_end ||
      col_end > static_cast<uint32_t>(m->n_cols)) {
    return nullptr;
  }
  const uint32_t nb_row = row_end - row_start;
  const uint32_t nb_col = col_end - col_start;
  if (method != Evencol && method != Evenboth) return nullptr;
  if (nb_col == 0) return m;
  // Each column needs left_degree distinct rows, or the draws never end.
  if (left_degree > nb_row) return nullptr;
  if (method == Evencol) {
    for (uint32_t j = col_start; j < col_end; ++j) {
      for (uint32_t k = 0; k < left_degree; ++k) {
        uint64_t i;
        do {
          i = of_rfc5170_draw(rng, nb_row);
        } while (present(m, i, j));
        if (!put(m, i, j)) return nullptr;
      }
    }
  } else if (of_place_evenboth(m, nb_row, col_start, col_end, left_degree, rng) < 0) {
    return nullptr;
  }
  const int64_t added = of_complete_sparse_rows(m, nb_row, col_start, nb_col, rng);
  if (added < 0) return nullptr;
  // An even number of entries in every column makes the rows sum to zero;
  // a couple of extra entries break that.
  if (left_degree % 2 == 0 && left_degree < nb_row && nb_col > 1 && added < 2) {
    int a = 0;
    for (; a + added < 2; ++a) {
      uint64_t i, j;
      do {
        i = of_rfc5170_draw(rng, nb_row);
        j = col_start + of_rfc5170_draw(rng, nb_col);
      } while (present(m, i, j));
      if (!put(m, i, j)) return nullptr;
    }
    if (of_verbosity_level() != 0) {
      of_diag(stdout,
              "Added %d extra bit-checks to try to avoid problems from even column counts\n", a);
    }
  }
  return m;
}

of_mod2sparse *of_create_pchk_matrix_general(uint32_t nb_rows, uint32_t nb_cols, make_method method,
                                             uint32_t left_degree, uint32_t seed, bool no4cycle,
                                             of_session_type type, uint8_t verbosity) {
  if (type != TypeLDGM && type != TypeSTAIRS && type != TypeTRIANGLE && type != TypeREGULAR_LDPC) {
    return nullptr;
  }
  if (nb_rows < left_degree || no4cycle) return nullptr;
  if (method != Evencol && method != Evenboth) return nullptr;
  // No matrix from a refused seed: the draws would never find a free row.
  of_rfc5170_rng rng{};
  if (!of_rfc5170_seed(&rng, seed)) return nullptr;
  of_mod2sparse *m = of_mod2sparse_allocate(nb_rows, nb_cols);
  if (m == nullptr) return nullptr;
  uint32_t col_start = 0, col_end = 0;
  if (type == TypeLDGM) {
    col_start = nb_rows < nb_cols ? nb_rows : nb_cols;
    col_end = nb_cols;
  } else if (type == TypeREGULAR_LDPC) {
    col_end = nb_cols;
  }
  if (of_fill_regular_pchk_matrix(m, 0, nb_rows, col_start, col_end, method, left_degree, no4cycle,
                                  verbosity, &rng) == nullptr) {
    release(m);
    return nullptr;
  }
  if (type == TypeLDGM) {
    for (uint32_t i = 0; i < nb_rows && i < nb_cols; ++i) {
      if (!put(m, i, i)) {
        release(m);
        return nullptr;
      }
    }
  }
  return m;
}

of_mod2sparse *of_fill_2D_pchk_matrix(of_mod2sparse *m, uint32_t d, uint32_t l,
                                      uint8_t /*verbosity*/) {
  const uint64_t rows = uint64_t{d} + l;
  const uint64_t cols = rows + uint64_t{d} * l;
  if (m == nullptr || rows > static_cast<uint64_t>(m->n_rows) ||
      cols > static_cast<uint64_t>(m->n_cols)) {
    return nullptr;
  }
  for (uint64_t i = 0; i < rows; ++i) {
    if (!put(m, i, i)) return nullptr;
  }
  for (uint64_t i = 0; i < d; ++i) {
    for (uint64_t j = 0; j < l; ++j) {
      if (!put(m, i, rows + i * l + j)) return nullptr;
    }
  }
  for (uint64_t c = 0; c < l; ++c) {
    for (uint64_t j = 0; j < d; ++j) {
      if (!put(m, d + c, rows + j * l + c)) return nullptr;
    }
  }
  return m;
}

of_mod2sparse *of_create_2D_pchk_matrix(uint32_t nb_rows, uint32_t nb_cols,
                                        of_session_type /*type*/, uint8_t verbosity) {
  if (nb_rows >= nb_cols) return nullptr;
  const uint64_t k = nb_cols - nb_rows;
  uint64_t a = 1;
  while ((a + 1) * (a + 1) <= nb_cols) ++a;
  for (; a >= 1; --a) {
    if (k % a == 0 && a + k / a == nb_rows) break;
  }
  if (a == 0) return nullptr;
  const uint64_t b = k / a;
  of_mod2sparse *m = of_mod2sparse_allocate(nb_rows, nb_cols);
  if (m == nullptr) return nullptr;
  if (of_fill_2D_pchk_matrix(m, static_cast<uint32_t>(b), static_cast<uint32_t>(a), verbosity) ==
      nullptr) {
    release(m);
    return nullptr;
  }
  return m;
}

of_mod2sparse *of_create_pchk_matrix(uint32_t nb_rows, uint32_t nb_cols, make_method method,
                                     uint32_t left_degree, uint32_t seed, bool no4cycle,
                                     of_session_type type, uint8_t verbosity) {
  switch (type) {
    case TypeREGULAR_LDPC:
      return of_create_pchk_matrix_general(nb_rows, nb_cols, method, left_degree, seed, no4cycle,
                                           type, verbosity);
    case Type2DMATRIX:
      return of_create_2D_pchk_matrix(nb_rows, nb_cols, type, verbosity);
    default:
      return nullptr;
  }
}
