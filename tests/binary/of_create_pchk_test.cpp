#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "binary/of_create_pchk.h"
#include "binary/of_ldpc_staircase_pchk.h"
#include "binary/of_rand.h"
#include "run_together.h"
#include "zvfec/codec_session.h"

namespace {

struct SparseDeleter {
  void operator()(of_mod2sparse *m) const {
    of_mod2sparse_free(m);
    of_free(m);
  }
};
using SparsePtr = std::unique_ptr<of_mod2sparse, SparseDeleter>;
using Cells = std::set<std::pair<int, int>>;

Cells cells_of(of_mod2sparse *m) {
  Cells out;
  for (int i = 0; i < m->n_rows; ++i) {
    for (of_mod2entry *e = m->rows[i].right; e->row >= 0; e = e->right) out.emplace(i, e->col);
  }
  return out;
}

std::vector<int> col_weights(of_mod2sparse *m) {
  std::vector<int> w(static_cast<size_t>(m->n_cols), 0);
  for (const auto &[r, c] : cells_of(m)) ++w[static_cast<size_t>(c)];
  return w;
}

std::set<int> rows_of_col(of_mod2sparse *m, int col) {
  std::set<int> out;
  for (of_mod2entry *e = m->cols[col].down; e->col >= 0; e = e->down) out.insert(e->row);
  return out;
}

struct StaircaseCase {
  uint32_t k, r, n1, seed;
};

class Rfc5170Matrix : public testing::TestWithParam<StaircaseCase> {};

TEST_P(Rfc5170Matrix, HasTheStatedShape) {
  const StaircaseCase c = GetParam();
  bool extra = true;
  SparsePtr m(of_create_pchck_matrix_rfc5170_compliant(c.r, c.k + c.r, c.n1, c.seed, &extra));
  ASSERT_NE(m, nullptr);
  const int r = static_cast<int>(c.r);
  // Repair columns hold exactly the staircase.
  for (int i = 0; i < r; ++i) {
    std::set<int> expect = {i};
    if (i + 1 < r) expect.insert(i + 1);
    EXPECT_EQ(rows_of_col(m.get(), i), expect) << "repair column " << i;
  }
  // Every row has at least two source entries (one when there is only one
  // source column).
  for (int i = 0; i < r; ++i) {
    int source = 0;
    for (of_mod2entry *e = m->rows[i].right; e->row >= 0; e = e->right) source += e->col >= r;
    EXPECT_GE(source, c.k >= 2 ? 2 : 1) << "row " << i;
  }
  // Source columns carry N1 entries each, plus whatever topping up added,
  // which is exactly what the flag reports.
  const std::vector<int> w = col_weights(m.get());
  uint64_t total = 0;
  for (size_t j = c.r; j < w.size(); ++j) {
    EXPECT_GE(w[j], static_cast<int>(c.n1));
    total += static_cast<uint64_t>(w[j]);
  }
  EXPECT_EQ(extra, total != uint64_t{c.n1} * c.k);

  // The same parameters give the same matrix, entry for entry.
  bool again_extra = !extra;
  SparsePtr again(
      of_create_pchck_matrix_rfc5170_compliant(c.r, c.k + c.r, c.n1, c.seed, &again_extra));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(cells_of(again.get()), cells_of(m.get()));
  EXPECT_EQ(again_extra, extra);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Rfc5170Matrix,
    testing::Values(StaircaseCase{100, 20, 3, 1}, StaircaseCase{100, 20, 4, 2011},
                    StaircaseCase{2, 10, 3, 7},  // rows must be topped up
                    StaircaseCase{1, 5, 3, 7},   // one source column only
                    StaircaseCase{10, 10, 10, 99}, StaircaseCase{20000, 5000, 3, 0x7FFFFFFE}),
    [](const testing::TestParamInfo<StaircaseCase> &tpi) {
      const StaircaseCase &c = tpi.param;
      return "k" + std::to_string(c.k) + "_r" + std::to_string(c.r) + "_N" + std::to_string(c.n1);
    });

// Known answers, worked out with a separate model of the construction whose
// generator computes 16807 * state mod (2^31 - 1) directly.
TEST(Rfc5170Matrix, KnownAnswers) {
  struct Case {
    uint32_t k, r, n1, seed;
    bool extra;
    Cells cells;
  };
  const Case cases[] = {
      {6, 4, 3, 1, false, {{0, 0}, {0, 4}, {0, 5}, {0, 6}, {0, 7}, {0, 9}, {1, 0}, {1, 1}, {1, 5},
                           {1, 7}, {1, 8}, {1, 9}, {2, 1}, {2, 2}, {2, 4}, {2, 6}, {2, 7}, {2, 8},
                           {3, 2}, {3, 3}, {3, 4}, {3, 5}, {3, 6}, {3, 8}, {3, 9}}},
      {3, 5, 3, 42, true, {{0, 0}, {0, 5}, {0, 6}, {0, 7}, {1, 0}, {1, 1}, {1, 5},
                           {1, 7}, {2, 1}, {2, 2}, {2, 6}, {2, 7}, {3, 2}, {3, 3},
                           {3, 5}, {3, 6}, {4, 3}, {4, 4}, {4, 5}, {4, 6}}},
  };
  for (const Case &c : cases) {
    bool extra = !c.extra;
    SparsePtr m(of_create_pchck_matrix_rfc5170_compliant(c.r, c.k + c.r, c.n1, c.seed, &extra));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(cells_of(m.get()), c.cells) << "seed " << c.seed;
    EXPECT_EQ(extra, c.extra);
  }
}

TEST(Rfc5170Matrix, FlagTakesBothValues) {
  bool extra = true;
  SparsePtr dense(of_create_pchck_matrix_rfc5170_compliant(20, 120, 3, 1, &extra));
  EXPECT_FALSE(extra);
  SparsePtr thin(of_create_pchck_matrix_rfc5170_compliant(10, 12, 3, 7, &extra));
  EXPECT_TRUE(extra);
}

TEST(Rfc5170Matrix, SeedDecidesTheMatrix) {
  SparsePtr a(of_create_pchck_matrix_rfc5170_compliant(20, 120, 3, 1, nullptr));
  SparsePtr b(of_create_pchck_matrix_rfc5170_compliant(20, 120, 3, 2, nullptr));
  EXPECT_NE(cells_of(a.get()), cells_of(b.get()));
}

// Every builder that draws refuses a seed outside 1 .. 0x7FFFFFFE with the
// generator's message and no matrix. Were the seed ignored, the generator
// would sit at 0 and draw 0 for ever, and the search for a free row (here the
// second entry of rows that hold one) would never end.
TEST(SeedRefusal, EveryDrawingBuilderGivesNone) {
  using Build = of_mod2sparse *(*)(uint32_t seed);
  const struct {
    const char *what;
    Build build;
  } builders[] = {
      {"RFC 5170",
       [](uint32_t seed) {
         return of_create_pchck_matrix_rfc5170_compliant(10, 12, 3, seed, nullptr);
       }},
      {"regular LDPC, Evencol",
       [](uint32_t seed) {
         return of_create_pchk_matrix(15, 45, Evencol, 3, seed, false, TypeREGULAR_LDPC, 0);
       }},
      {"LDGM, Evenboth",
       [](uint32_t seed) {
         return of_create_pchk_matrix_general(12, 52, Evenboth, 3, seed, false, TypeLDGM, 0);
       }},
  };
  for (const auto &b : builders) {
    for (uint32_t seed : {0u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
      testing::internal::CaptureStderr();
      SparsePtr m(b.build(seed));
      EXPECT_EQ(testing::internal::GetCapturedStderr(),
                "ldpc_rand: ERROR, seed (" + std::to_string(seed) + ") out of range\n");
      EXPECT_EQ(m, nullptr) << b.what << ", seed " << seed;
    }
  }
}

// Builders on several threads at once each draw from a state of their own:
// every matrix equals the one that a lone build gives for its parameters, so
// an encoder and a decoder always agree on the code.
TEST(ConcurrentBuilds, MatchLoneBuilds) {
  using Build = of_mod2sparse *(*)();
  const Build builds[] = {
      [] { return of_create_pchck_matrix_rfc5170_compliant(1000, 3000, 3, 1, nullptr); },
      [] { return of_create_pchck_matrix_rfc5170_compliant(700, 2200, 4, 0x7FFFFFFE, nullptr); },
      [] { return of_create_pchck_matrix_rfc5170_compliant(1200, 2400, 7, 4242, nullptr); },
      [] { return of_create_pchk_matrix(800, 2400, Evencol, 3, 99, false, TypeREGULAR_LDPC, 0); },
  };
  constexpr size_t kThreads = std::size(builds);
  // Entries row by row, in order: cheap to take, so that the threads spend
  // their time building.
  auto entries_of = [](of_mod2sparse *m) {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < m->n_rows; ++i) {
      for (of_mod2entry *e = m->rows[i].right; e->row >= 0; e = e->right)
        out.emplace_back(i, e->col);
    }
    return out;
  };
  std::vector<std::vector<std::pair<int, int>>> lone;
  for (Build build : builds) {
    SparsePtr m(build());
    ASSERT_NE(m, nullptr);
    lone.push_back(entries_of(m.get()));
  }
  std::vector<int> differing(kThreads, 0);
  binary_test::run_together(kThreads, 16, [&](size_t t, int) {
    SparsePtr m(builds[t]());
    if (m == nullptr || entries_of(m.get()) != lone[t]) ++differing[t];
  });
  for (size_t t = 0; t < kThreads; ++t) EXPECT_EQ(differing[t], 0) << "build " << t;
}

TEST(Rfc5170Matrix, RecordsTheFlagInAControlBlock) {
  struct FakeControlBlock {
    int other = 0;
    bool extra_entries_added_in_pchk = false;
  } cb;
  SparsePtr m(of_create_pchck_matrix_rfc5170_compliant(10, 12, 3, 7, &cb));
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(cb.extra_entries_added_in_pchk);
}

TEST(Rfc5170Matrix, RefusesImpossibleShapes) {
  EXPECT_EQ(of_create_pchck_matrix_rfc5170_compliant(3, 10, 4, 1, nullptr), nullptr);  // N1 > r
  EXPECT_EQ(of_create_pchck_matrix_rfc5170_compliant(5, 5, 3, 1, nullptr), nullptr);   // k = 0
  EXPECT_EQ(of_create_pchck_matrix_rfc5170_compliant(0, 5, 0, 1, nullptr), nullptr);   // r = 0
}

TEST(GeneralMatrix, LdgmHasTheIdentityOnRepairColumns) {
  SparsePtr m(of_create_pchk_matrix_general(12, 52, Evencol, 3, 5, false, TypeLDGM, 0));
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(rows_of_col(m.get(), i), std::set<int>{i});
  const std::vector<int> w = col_weights(m.get());
  for (size_t j = 12; j < w.size(); ++j) EXPECT_GE(w[j], 3);
  for (int i = 0; i < 12; ++i) EXPECT_GE(of_mod2sparse_weight_row(m.get(), i), 3u);
}

TEST(GeneralMatrix, RegularLdpcFillsEveryColumn) {
  for (make_method method : {Evencol, Evenboth}) {
    SparsePtr m(of_create_pchk_matrix(15, 45, method, 3, 11, false, TypeREGULAR_LDPC, 0));
    ASSERT_NE(m, nullptr);
    const std::vector<int> w = col_weights(m.get());
    for (int x : w) EXPECT_GE(x, 3);
    for (int i = 0; i < 15; ++i) EXPECT_GE(of_mod2sparse_weight_row(m.get(), i), 2u);
    SparsePtr direct(
        of_create_pchk_matrix_general(15, 45, method, 3, 11, false, TypeREGULAR_LDPC, 0));
    EXPECT_EQ(cells_of(direct.get()), cells_of(m.get()));
  }
}

TEST(GeneralMatrix, EvenColumnCountsGetTwoExtraChecks) {
  // 4 entries in each of 40 columns fill 10 rows evenly (16 each), so no row
  // needs topping up and two extra checks break the even counts.
  of_verbosity = 1;
  testing::internal::CaptureStdout();
  SparsePtr m(of_create_pchk_matrix(10, 40, Evenboth, 4, 3, false, TypeREGULAR_LDPC, 0));
  const std::string out = testing::internal::GetCapturedStdout();
  of_verbosity = 0;
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(cells_of(m.get()).size(), 4u * 40 + 2);
  EXPECT_EQ(out, "Added 2 extra bit-checks to try to avoid problems from even column counts\n");
}

TEST(GeneralMatrix, StaircaseAndTriangleStayEmpty) {
  for (of_session_type type : {TypeSTAIRS, TypeTRIANGLE}) {
    SparsePtr m(of_create_pchk_matrix_general(5, 20, Evenboth, 3, 1, false, type, 0));
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(cells_of(m.get()).empty());
  }
}

TEST(GeneralMatrix, Refusals) {
  struct Case {
    uint32_t rows, cols;
    int method;
    uint32_t left_degree;
    bool no4cycle;
    of_session_type type;
    bool via_dispatcher;
  };
  for (const Case c : {
           Case{5, 20, Evenboth, 3, false, TypeLDPC_QC, false},
           Case{5, 20, Evenboth, 3, false, Type2DMATRIX, false},
           Case{5, 20, Evenboth, 3, false, TypeLDGM, true},  // dispatcher knows two types
           Case{2, 20, Evenboth, 3, false, TypeREGULAR_LDPC, false},
           Case{5, 20, Evenboth, 3, true, TypeREGULAR_LDPC, false},
           Case{5, 20, 9, 3, false, TypeREGULAR_LDPC, false},
       }) {
    const auto method = static_cast<make_method>(c.method);
    of_mod2sparse *m =
        c.via_dispatcher
            ? of_create_pchk_matrix(c.rows, c.cols, method, c.left_degree, 1, c.no4cycle, c.type, 0)
            : of_create_pchk_matrix_general(c.rows, c.cols, method, c.left_degree, 1, c.no4cycle,
                                            c.type, 0);
    EXPECT_EQ(m, nullptr) << c.rows << " " << c.type << " " << c.method;
    of_mod2sparse_free(m);
    of_free(m);
  }
  SparsePtr m(of_mod2sparse_allocate(4, 10));
  of_rfc5170_rng rng{};
  ASSERT_TRUE(of_rfc5170_seed(&rng, 1));
  EXPECT_EQ(of_fill_regular_pchk_matrix(m.get(), 0, 4, 0, 10, Evencol, 5, false, 0, &rng), nullptr);
  EXPECT_EQ(of_fill_regular_pchk_matrix(m.get(), 0, 5, 0, 10, Evencol, 3, false, 0, &rng), nullptr);
  EXPECT_EQ(of_fill_regular_pchk_matrix(m.get(), 0, 4, 0, 11, Evencol, 3, false, 0, &rng), nullptr);
  EXPECT_EQ(of_fill_regular_pchk_matrix(m.get(), 0, 4, 0, 10, Evencol, 3, false, 0, nullptr),
            nullptr);
}

struct GridCase {
  uint32_t k, r;
  bool exists;
  uint32_t d, l;  // grid rows and columns
};

class TwoDMatrix : public testing::TestWithParam<GridCase> {};

TEST_P(TwoDMatrix, LaysSymbolsOutAsAGrid) {
  const GridCase c = GetParam();
  SparsePtr m(of_create_pchk_matrix(c.r, c.k + c.r, Evenboth, 0, 0, false, Type2DMATRIX, 1));
  if (!c.exists) {
    EXPECT_EQ(m, nullptr);
    return;
  }
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->n_rows, static_cast<int>(c.r));
  ASSERT_EQ(m->n_cols, static_cast<int>(c.k + c.r));
  Cells expect;
  for (uint32_t i = 0; i < c.r; ++i) expect.emplace(i, i);
  for (uint32_t s = 0; s < c.k; ++s) {
    const auto col = static_cast<int>(c.r + s);
    expect.emplace(s / c.l, col);        // its grid row
    expect.emplace(c.d + s % c.l, col);  // its grid column
  }
  EXPECT_EQ(cells_of(m.get()), expect);
  for (uint32_t i = 0; i < c.d; ++i) EXPECT_EQ(of_mod2sparse_weight_row(m.get(), i), c.l + 1);
  for (uint32_t i = c.d; i < c.r; ++i) EXPECT_EQ(of_mod2sparse_weight_row(m.get(), i), c.d + 1);
}

INSTANTIATE_TEST_SUITE_P(Table, TwoDMatrix,
                         testing::Values(GridCase{16, 8, true, 4, 4}, GridCase{9, 6, true, 3, 3},
                                         GridCase{10, 6, false, 0, 0},
                                         GridCase{12, 7, true, 3, 4},  // 3 rows of 4 columns
                                         GridCase{8, 6, true, 4, 2}, GridCase{5, 6, true, 5, 1},
                                         GridCase{0, 6, false, 0, 0}),
                         [](const testing::TestParamInfo<GridCase> &tpi) {
                           return "k" + std::to_string(tpi.param.k) + "_r" +
                                  std::to_string(tpi.param.r);
                         });

}  // namespace
