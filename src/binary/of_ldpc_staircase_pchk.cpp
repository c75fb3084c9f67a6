#include "binary/of_ldpc_staircase_pchk.h"

#include <cstdio>

#include "binary/of_create_pchk.h"
#include "binary/of_rand.h"
#include "session/diag.h"
#include "session/verbosity.h"
#include "zvfec/codec_session.h"

of_mod2sparse *of_create_pchck_matrix_rfc5170_compliant(uint32_t nb_rows, uint32_t nb_cols,
                                                        uint32_t left_degree, uint32_t seed,
                                                        bool *extra_entries_added_in_pchk) {
  if (left_degree > nb_rows || nb_cols <= nb_rows) return nullptr;
  const uint32_t skip_cols = nb_rows;
  const uint32_t nb_data_cols = nb_cols - nb_rows;
  // No matrix from a refused seed: the draws would never find a free row.
  of_rfc5170_rng rng{};
  if (!of_rfc5170_seed(&rng, seed)) return nullptr;
  of_mod2sparse *m = of_mod2sparse_allocate(nb_rows, nb_cols);
  if (m == nullptr) return nullptr;
  auto fail = [m]() -> of_mod2sparse * {
    of_mod2sparse_free(m);
    of_free(m);
    return nullptr;
  };
  const int64_t uneven = of_place_evenboth(m, nb_rows, skip_cols, nb_cols, left_degree, &rng);
  if (uneven < 0) return fail();
  if (uneven > 0 && of_verbosity_level() != 0) {
    of_diag(stdout, "%s: Had to place %d checks in rows unevenly\n",
            "of_create_pchck_matrix_rfc5170_compliant", static_cast<int>(uneven));
  }
  const int64_t added = of_complete_sparse_rows(m, nb_rows, skip_cols, nb_data_cols, &rng);
  if (added < 0) return fail();
  if (extra_entries_added_in_pchk != nullptr) *extra_entries_added_in_pchk = added != 0;
  // The staircase: repair symbol i closes row i and opens row i + 1.
  if (of_mod2sparse_insert(m, 0, 0) == nullptr) return fail();
  for (uint32_t i = 1; i < nb_rows; ++i) {
    if (of_mod2sparse_insert(m, i, i) == nullptr || of_mod2sparse_insert(m, i, i - 1) == nullptr) {
      return fail();
    }
  }
  return m;
}
