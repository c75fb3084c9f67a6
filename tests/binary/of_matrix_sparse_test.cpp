#include "binary/of_matrix_sparse.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "binary/test_files.h"
#include "zvfec/codec_session.h"

namespace {

using Cells = std::set<std::pair<int, int>>;

struct SparseDeleter {
  void operator()(of_mod2sparse *m) const {
    of_mod2sparse_free(m);
    of_free(m);
  }
};
using SparsePtr = std::unique_ptr<of_mod2sparse, SparseDeleter>;

SparsePtr make(uint32_t rows, uint32_t cols, const Cells &cells = {}) {
  SparsePtr m(of_mod2sparse_allocate(rows, cols));
  for (const auto &[r, c] : cells) {
    EXPECT_NE(of_mod2sparse_insert(m.get(), static_cast<uint32_t>(r), static_cast<uint32_t>(c)),
              nullptr);
  }
  return m;
}

// Walks every row and every column, checks the circular links, the strict
// order and that rows and columns agree, and returns the entries.
Cells entries(of_mod2sparse *m) {
  Cells by_row, by_col;
  for (int i = 0; i < m->n_rows; ++i) {
    of_mod2entry *h = &m->rows[i];
    EXPECT_EQ(h->row, -1);
    int prev = -1;
    of_mod2entry *prev_entry = nullptr;
    for (of_mod2entry *e = h->right; e != h; e = e->right) {
      prev_entry = e;
      EXPECT_EQ(e->row, i);
      EXPECT_GT(e->col, prev);
      EXPECT_EQ(e->right->left, e);
      EXPECT_EQ(e->down->up, e);
      prev = e->col;
      by_row.emplace(e->row, e->col);
    }
    // The header's left link names the row's last entry, or itself when empty.
    EXPECT_EQ(h->left, h->right == h ? h : prev_entry);
  }
  for (int j = 0; j < m->n_cols; ++j) {
    of_mod2entry *h = &m->cols[j];
    int prev = -1;
    for (of_mod2entry *e = h->down; e != h; e = e->down) {
      EXPECT_EQ(e->col, j);
      EXPECT_GT(e->row, prev);
      prev = e->row;
      by_col.emplace(e->row, e->col);
    }
    if (h->down != h) {
      EXPECT_EQ(h->up->row, prev);
    }
  }
  EXPECT_EQ(by_row, by_col);
  return by_row;
}

std::vector<int> row_cols(of_mod2sparse *m, int row) {
  std::vector<int> out;
  for (of_mod2entry *e = m->rows[row].right; e->row >= 0; e = e->right) out.push_back(e->col);
  return out;
}

int block_count(const of_mod2sparse *m) {
  int n = 0;
  for (of_mod2block *b = m->blocks; b != nullptr; b = b->next) ++n;
  return n;
}

TEST(SparseMatrix, AllocateRefusesEmptyShapes) {
  EXPECT_EQ(of_mod2sparse_allocate(0, 5), nullptr);
  EXPECT_EQ(of_mod2sparse_allocate(5, 0), nullptr);
  SparsePtr m = make(3, 4);
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(entries(m.get()).empty());
  EXPECT_EQ(m->blocks, nullptr);
}

TEST(SparseMatrix, InsertKeepsRowsAndColumnsSorted) {
  SparsePtr m = make(4, 10);
  of_mod2sparse *p = m.get();
  // Append at the end, put in front of the first entry, then in the middle.
  of_mod2entry *last = of_mod2sparse_insert(p, 1, 7);
  of_mod2entry *first = of_mod2sparse_insert(p, 1, 2);
  of_mod2sparse_insert(p, 1, 5);
  of_mod2sparse_insert(p, 3, 5);
  of_mod2sparse_insert(p, 0, 5);
  of_mod2sparse_insert(p, 2, 5);
  EXPECT_EQ(of_mod2sparse_first_in_row(p, 1), first);
  EXPECT_EQ(of_mod2sparse_last_in_row(p, 1), last);
  EXPECT_EQ(row_cols(p, 1), (std::vector<int>{2, 5, 7}));
  EXPECT_EQ(entries(p), (Cells{{1, 2}, {1, 5}, {1, 7}, {0, 5}, {2, 5}, {3, 5}}));

  // An existing position gives back its entry and adds nothing, whether it is
  // the last of its row or in the middle.
  EXPECT_EQ(of_mod2sparse_insert(p, 1, 7), last);
  EXPECT_EQ(of_mod2sparse_insert(p, 1, 2), first);
  EXPECT_EQ(of_mod2sparse_weight_row(p, 1), 3u);
  EXPECT_EQ(of_mod2sparse_find(p, 1, 2), first);
  EXPECT_EQ(of_mod2sparse_find(p, 1, 6), nullptr);
  EXPECT_EQ(of_mod2sparse_find(p, 2, 4), nullptr);
}

TEST(SparseMatrix, IndicesAtTheEdgeAreOutOfBounds) {
  SparsePtr m = make(3, 4, {{0, 0}});
  struct Case {
    uint32_t row, col;
  };
  for (const Case c : {Case{3, 0}, Case{0, 4}, Case{3, 4}, Case{0xFFFFFFFFu, 0}}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(of_mod2sparse_find(m.get(), c.row, c.col), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "mod2sparse_find: row or column index out of bounds\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(of_mod2sparse_insert(m.get(), c.row, c.col), nullptr);
    EXPECT_EQ(of_mod2sparse_insert_opt(m.get(), c.row, c.col, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "mod2sparse_insert: row or column index out of bounds\n"
              "mod2sparse_insert: row or column index out of bounds\n");
  }
  EXPECT_EQ(entries(m.get()), (Cells{{0, 0}}));
}

TEST(SparseMatrix, RandomInsertsDeletesAndFindsMatchASet) {
  std::mt19937 rng(7);
  SparsePtr m = make(37, 53);
  Cells ref;
  std::vector<of_mod2entry *> hints(53, nullptr);
  for (int step = 0; step < 6000; ++step) {
    const int r = static_cast<int>(rng() % 37), c = static_cast<int>(rng() % 53);
    const int op = static_cast<int>(rng() % 3);
    if (op == 0) {
      of_mod2entry *e = of_mod2sparse_insert(m.get(), r, c);
      ASSERT_NE(e, nullptr);
      EXPECT_EQ(e->row, r);
      EXPECT_EQ(e->col, c);
      ref.emplace(r, c);
    } else if (op == 1) {
      // Hints may be stale or point below the target; placement stays right.
      of_mod2entry *e = of_mod2sparse_insert_opt(m.get(), r, c, hints.data());
      ASSERT_NE(e, nullptr);
      hints[c] = e;
      ref.emplace(r, c);
    } else if (of_mod2entry *e = of_mod2sparse_find(m.get(), r, c)) {
      of_mod2sparse_delete(m.get(), e);
      ref.erase({r, c});
    }
  }
  EXPECT_EQ(entries(m.get()), ref);
  for (int r = 0; r < 37; ++r) {
    for (int c = 0; c < 53; ++c) {
      EXPECT_EQ(of_mod2sparse_find(m.get(), r, c) != nullptr, ref.count({r, c}) == 1);
    }
  }
}

TEST(SparseMatrix, EntriesComeFromBlocksAndTheFreeList) {
  SparsePtr m = make(40, 40);
  of_mod2sparse *p = m.get();
  // The first entry handed out is the last of a fresh block.
  of_mod2entry *e = of_mod2sparse_insert(p, 0, 0);
  ASSERT_EQ(block_count(p), 1);
  EXPECT_EQ(e, &p->blocks->entry[OF_MOD2SPARSE_BLOCK - 1]);

  // A deleted entry is reused by the next insertion.
  of_mod2sparse_delete(p, e);
  EXPECT_EQ(of_mod2sparse_find(p, 0, 0), nullptr);
  EXPECT_EQ(of_mod2sparse_insert(p, 5, 6), e);

  // Entry 1025 takes a second block.
  int inserted = 1;
  for (uint32_t i = 0; i < 40 && inserted < OF_MOD2SPARSE_BLOCK; ++i) {
    for (uint32_t j = 0; j < 40 && inserted < OF_MOD2SPARSE_BLOCK; ++j) {
      if (of_mod2sparse_find(p, i, j) == nullptr) {
        ASSERT_NE(of_mod2sparse_insert(p, i, j), nullptr);
        ++inserted;
      }
    }
  }
  EXPECT_EQ(block_count(p), 1);
  EXPECT_EQ(p->next_free, nullptr);
  ASSERT_NE(of_mod2sparse_insert(p, 39, 39), nullptr);
  EXPECT_EQ(block_count(p), 2);
  EXPECT_EQ(entries(p).size(), 1025u);

  // Clear empties everything and the next insertions take a fresh block.
  of_mod2sparse_clear(p);
  EXPECT_EQ(p->blocks, nullptr);
  EXPECT_EQ(p->next_free, nullptr);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(p->rows[i].right, &p->rows[i]);
    EXPECT_EQ(p->rows[i].left, &p->rows[i]);
    EXPECT_EQ(p->cols[i].up, &p->cols[i]);
    EXPECT_EQ(p->cols[i].down, &p->cols[i]);
  }
  ASSERT_NE(of_mod2sparse_insert(p, 2, 3), nullptr);
  EXPECT_EQ(block_count(p), 1);
  EXPECT_EQ(entries(p), (Cells{{2, 3}}));
}

TEST(SparseMatrix, DeleteRefusesNullAndHeaders) {
  SparsePtr m = make(2, 2, {{0, 1}});
  testing::internal::CaptureStderr();
  of_mod2sparse_delete(m.get(), nullptr);
  of_mod2sparse_delete(m.get(), &m->rows[1]);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "mod2sparse_delete: Trying to delete a null entry\n"
            "mod2sparse_delete: Trying to delete a header entry (row=-1, col=-1)\n");
  // Deleting the same entry twice must not corrupt the free list.
  of_mod2entry *e = of_mod2sparse_find(m.get(), 0, 1);
  of_mod2sparse_delete(m.get(), e);
  testing::internal::CaptureStderr();
  of_mod2sparse_delete(m.get(), e);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(entries(m.get()).empty());
  EXPECT_EQ(of_mod2sparse_insert(m.get(), 1, 1), e);
  EXPECT_NE(of_mod2sparse_insert(m.get(), 0, 0), e);
}

TEST(SparseMatrix, QueriesOnRowsAndColumns) {
  SparsePtr m = make(3, 3, {{0, 1}, {0, 2}});
  EXPECT_FALSE(of_mod2sparse_empty_row(m.get(), 0));
  EXPECT_TRUE(of_mod2sparse_empty_row(m.get(), 1));
  EXPECT_TRUE(of_mod2sparse_empty_col(m.get(), 0));
  EXPECT_FALSE(of_mod2sparse_empty_col(m.get(), 2));
  EXPECT_EQ(of_mod2sparse_weight_row(m.get(), 0), 2u);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(of_mod2sparse_empty_col(nullptr, 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "mod2sparse_empty_col: Matrix m does not exist.");
}

const Cells kSource = {{0, 0}, {0, 3}, {1, 1}, {1, 4}, {2, 0}, {2, 2}, {2, 4}};

TEST(SparseMatrix, CopiesFollowTheirIndexLists) {
  SparsePtr src = make(3, 5, kSource);
  {
    SparsePtr dst = make(4, 6, {{3, 5}});
    ASSERT_TRUE(of_mod2sparse_copy(src.get(), dst.get()));
    EXPECT_EQ(entries(dst.get()), kSource);
    // A smaller destination is left alone.
    SparsePtr small = make(2, 5, {{1, 1}});
    ASSERT_TRUE(of_mod2sparse_copy(src.get(), small.get()));
    EXPECT_EQ(entries(small.get()), (Cells{{1, 1}}));
  }
  {
    const uint32_t rows[] = {2, 0, 7, 1};
    SparsePtr dst = make(4, 5, {{3, 3}});
    ASSERT_TRUE(of_mod2sparse_copyrows(src.get(), dst.get(), rows));
    // Stops at index 7: rows after it are not copied, and dst was cleared.
    EXPECT_EQ(entries(dst.get()), (Cells{{0, 0}, {0, 2}, {0, 4}, {1, 0}, {1, 3}}));

    SparsePtr keep = make(4, 5, {{3, 3}, {1, 1}});
    ASSERT_TRUE(of_mod2sparse_copyrows_opt(src.get(), keep.get(), rows, nullptr));
    EXPECT_EQ(entries(keep.get()), (Cells{{0, 0}, {0, 2}, {0, 4}, {1, 0}, {1, 1}, {1, 3}, {3, 3}}));
  }
  {
    const uint32_t cols[] = {4, 0, 9};
    SparsePtr dst = make(3, 3, {{0, 2}});
    of_verbosity = 1;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(of_mod2sparse_copycols(src.get(), dst.get(), cols));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " mod2sparse_copycols: Column index out of range cols[j] = 9\n");
    of_verbosity = 0;
    EXPECT_EQ(entries(dst.get()), (Cells{{1, 0}, {2, 0}, {0, 1}, {2, 1}}));

    SparsePtr keep = make(3, 3, {{0, 2}, {1, 1}});
    ASSERT_TRUE(of_mod2sparse_copycols_opt(src.get(), keep.get(), cols));
    EXPECT_EQ(entries(keep.get()), (Cells{{1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}}));
  }
  {
    const uint32_t index_rows[] = {2, 0, 1};
    const uint32_t index_cols[] = {4, 3, 2, 1, 0};
    SparsePtr dst = make(3, 5);
    ASSERT_TRUE(of_mod2sparse_copy_filled_matrix(src.get(), dst.get(), index_rows, index_cols));
    Cells expect;
    for (const auto &[r, c] : kSource) {
      expect.emplace(static_cast<int>(index_rows[r]), static_cast<int>(index_cols[c]));
    }
    EXPECT_EQ(entries(dst.get()), expect);
  }
}

Cells xor_reference(const Cells &m, int row0, int row1) {
  Cells out = m;
  for (const auto &[r, c] : m) {
    if (r != row0) continue;
    if (!out.erase({row1, c})) out.emplace(row1, c);
  }
  return out;
}

TEST(SparseMatrix, XorRowsMatchesGf2Addition) {
  SparsePtr m = make(3, 5, kSource);
  // With itself the row empties; an empty row0 leaves row1 and its weight.
  EXPECT_EQ(of_mod2sparse_xor_rows(m.get(), 2, 2, nullptr, nullptr), 0u);
  EXPECT_TRUE(of_mod2sparse_empty_row(m.get(), 2));
  EXPECT_EQ(of_mod2sparse_xor_rows(m.get(), 2, 0, nullptr, nullptr), 2u);
  EXPECT_EQ(row_cols(m.get(), 0), (std::vector<int>{0, 3}));

  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    Cells cells;
    for (int k = 0; k < 60; ++k) cells.emplace(rng() % 6, rng() % 12);
    SparsePtr p = make(6, 12, cells);
    const int row0 = static_cast<int>(rng() % 6),
              row1 = static_cast<int>((row0 + 1 + rng() % 5) % 6);
    std::vector<of_mod2entry *> links(12, nullptr);
    const bool use_links = round % 2 == 0;
    const uint32_t w =
        of_mod2sparse_xor_rows(p.get(), row0, row1, use_links ? links.data() : nullptr, nullptr);
    const Cells expect = xor_reference(cells, row0, row1);
    ASSERT_EQ(entries(p.get()), expect);
    EXPECT_EQ(w, of_mod2sparse_weight_row(p.get(), row1));
    if (use_links) {
      for (int c : row_cols(p.get(), row1))
        EXPECT_EQ(links[c], of_mod2sparse_find(p.get(), row1, c));
    }
  }
}

TEST(SparseMatrix, SwapRowsExchangesContents) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    Cells cells;
    for (int k = 0; k < 50; ++k) cells.emplace(rng() % 7, rng() % 9);
    SparsePtr p = make(7, 9, cells);
    const int row0 = static_cast<int>(rng() % 7), row1 = static_cast<int>(rng() % 7);
    std::vector<of_mod2entry *> links(9, nullptr), parsing(9, nullptr);
    const bool use_links = round % 2 == 0;
    const uint32_t w =
        of_mod2sparse_swap_rows(p.get(), row0, row1, nullptr, use_links ? links.data() : nullptr,
                                use_links ? parsing.data() : nullptr);
    Cells expect;
    for (auto [r, c] : cells) expect.emplace(r == row0 ? row1 : r == row1 ? row0 : r, c);
    ASSERT_EQ(entries(p.get()), expect);
    const uint32_t expect_w =
        row0 == row1 && !use_links ? 0u : of_mod2sparse_weight_row(p.get(), row0);
    EXPECT_EQ(w, expect_w);
    if (use_links) {
      for (int c : row_cols(p.get(), row0))
        EXPECT_EQ(links[c], of_mod2sparse_find(p.get(), row0, c));
      for (int c = row0; c < 9; ++c) EXPECT_EQ(parsing[c], links[c]);
    }
  }
}

// A 3 x 7 parity-check matrix: 3 repair columns first, then 4 source columns.
const Cells kPchk = {{0, 0}, {0, 3}, {0, 5}, {1, 0}, {1, 1}, {1, 4}, {2, 1}, {2, 2}, {2, 6}};
const std::string kPchkText =
    " 3\n 7\n 4\n 3"
    "\n     0        0         2         4 "
    "\n     1        1         4         5 "
    "\n     2        3         5         6 ";

TEST(SparseMatrixFile, WriteThenReadMapsColumns) {
  TempFile file("pchk.txt");
  SparsePtr m = make(3, 7, kPchk);
  FILE *f = file.open("wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(of_mod2sparse_write_human_readable(f, m.get(), 4, 3), 1u);
  std::fclose(f);
  EXPECT_EQ(file.read(), kPchkText);

  f = file.open("rb");
  uint32_t nb_source = 0, nb_parity = 0;
  SparsePtr back(of_mod2sparse_read_human_readable(f, &nb_source, &nb_parity));
  std::fclose(f);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(nb_source, 4u);
  EXPECT_EQ(nb_parity, 3u);
  EXPECT_EQ(entries(back.get()), kPchk);
}

TEST(SparseMatrixFile, WriterReportsStreamErrors) {
  TempFile file("readonly.txt");
  file.write("x");
  FILE *f = file.open("rb");  // writing to a read-only stream sets its error flag
  ASSERT_NE(f, nullptr);
  SparsePtr m = make(3, 7, kPchk);
  EXPECT_EQ(of_mod2sparse_write_human_readable(f, m.get(), 4, 3), 0u);
  std::fclose(f);
}

TEST(SparseMatrixFile, EmptyRowIsRefusedByTheReader) {
  TempFile file("empty_row.txt");
  SparsePtr m = make(3, 7, {{0, 0}, {0, 3}, {2, 1}, {2, 6}});
  FILE *f = file.open("wb");
  ASSERT_EQ(of_mod2sparse_write_human_readable(f, m.get(), 4, 3), 1u);
  std::fclose(f);
  f = file.open("rb");
  uint32_t s = 0, p = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(of_mod2sparse_read_human_readable(f, &s, &p), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error reading file: reading line 2 should be 1\n");
  std::fclose(f);
}

struct FileCase {
  const char *name;
  std::string text;
};

class SparseReaderRefuses : public testing::TestWithParam<FileCase> {};

TEST_P(SparseReaderRefuses, Malformed) {
  TempFile file("bad.txt");
  file.write(GetParam().text);
  FILE *f = file.open("rb");
  ASSERT_NE(f, nullptr);
  uint32_t s = 0, p = 0;
  testing::internal::CaptureStderr();
  of_mod2sparse *m = of_mod2sparse_read_human_readable(f, &s, &p);
  testing::internal::GetCapturedStderr();
  std::fclose(f);
  EXPECT_EQ(m, nullptr);
  of_mod2sparse_free(m);
  of_free(m);
}

const std::string kHead = "3\n7\n4\n3\n";
const std::string kRows = "0 0 2 4\n1 1 4 5\n";

INSTANTIATE_TEST_SUITE_P(
    Table, SparseReaderRefuses,
    testing::Values(FileCase{"EmptyFile", ""}, FileCase{"HeaderCut", "3\n7\n4\n"},
                    FileCase{"HeaderBlankLine", "3\n\n4\n3\n" + kRows + "2 3 5 6"},
                    FileCase{"HeaderNotANumber", "3\n7\nfour\n3\n" + kRows + "2 3 5 6"},
                    FileCase{"HeaderTrailingLetters", "3\n7x\n4\n3\n" + kRows + "2 3 5 6"},
                    FileCase{"NegativeRows", "-3\n7\n4\n3\n" + kRows + "2 3 5 6"},
                    FileCase{"NegativeSource", "3\n7\n-4\n30\n" + kRows + "2 3 5 6"},
                    FileCase{"HugeColumns", "3\n2000000000\n1999999997\n3\n" + kRows + "2 3 5 6"},
                    FileCase{"OverflowingNumber",
                             "3\n99999999999999999999\n4\n3\n" + kRows + "2 3 5 6"},
                    FileCase{"TooFewParity", "3\n7\n5\n2\n" + kRows + "2 3 5 6"},
                    FileCase{"TooFewSymbols", "3\n7\n3\n3\n" + kRows + "2 3 5 5"},
                    FileCase{"ZeroRows", "0\n7\n4\n3\n"},
                    FileCase{"RowOutOfSequence", kHead + "0 0 2 4\n2 3 5 6\n"},
                    FileCase{"RowBeyondMatrix", kHead + kRows + "2 3 5 6\n3 1 2\n"},
                    FileCase{"RowNumberNotANumber", kHead + kRows + "two 3 5 6"},
                    FileCase{"ColumnNotANumber", kHead + kRows + "2 3 five 6"},
                    FileCase{"ColumnNegative", kHead + kRows + "2 3 -1 6"},
                    FileCase{"ColumnPastSymbols", kHead + kRows + "2 3 7 6"},
                    FileCase{"ColumnMapsOutsideMatrix", "3\n7\n5\n3\n" + kRows + "2 4 5 6"},
                    FileCase{"RowWithoutColumns", kHead + "0 0 2 4\n1\n2 3 5 6"},
                    FileCase{"TruncatedAfterRows", kHead + kRows},
                    FileCase{"TruncatedMidRow", kHead + kRows + "2"},
                    FileCase{"LineTooLong", kHead + kRows + "2" + std::string(1100, ' ') + "3 5 6"},
                    FileCase{"NulByte", kHead + kRows + std::string("2 3\0 5 6", 8)}),
    [](const testing::TestParamInfo<FileCase> &tpi) { return tpi.param.name; });

TEST(SparseMatrixFile, ReaderToleratesCommentsBlankLinesAndCrLf) {
  const Cells expect = {{0, 3}, {0, 5}, {0, 0}, {1, 4}, {1, 0}, {1, 1}, {2, 6}, {2, 1}, {2, 2}};
  for (const std::string &text :
       {kHead + "# comment\n" + kRows + "\n2 3 5 6\n",
        std::string("3\r\n7\r\n4\r\n3\r\n0 0 2 4\r\n  # 9 9\r\n1 1 4 5\r\n2 3 5 6\r\n"),
        kHead + kRows + "2 3 5 6 " + std::string(1000, ' ')}) {
    TempFile file("ok.txt");
    file.write(text);
    FILE *f = file.open("rb");
    uint32_t s = 0, p = 0;
    SparsePtr m(of_mod2sparse_read_human_readable(f, &s, &p));
    std::fclose(f);
    ASSERT_NE(m, nullptr) << text;
    EXPECT_EQ(entries(m.get()), expect);
  }
}

TEST(SparseMatrixFile, DamagedFilesGiveNoneOrASoundMatrix) {
  std::mt19937 rng(21);
  const std::string alphabet = "0123456789 -#\n\r\t\0x";
  for (int round = 0; round < 400; ++round) {
    std::string text = kPchkText;
    for (int k = static_cast<int>(rng() % 4); k >= 0; --k) {
      const size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0:
          text[at] = alphabet[rng() % alphabet.size()];
          break;
        case 1:
          text.erase(at, 1 + rng() % 6);
          break;
        default:
          text.insert(at, 1, alphabet[rng() % alphabet.size()]);
      }
      if (text.empty()) break;
    }
    TempFile file("damaged.txt");
    file.write(text);
    FILE *f = file.open("rb");
    uint32_t s = 0, p = 0;
    testing::internal::CaptureStderr();
    SparsePtr m(of_mod2sparse_read_human_readable(f, &s, &p));
    testing::internal::GetCapturedStderr();
    std::fclose(f);
    if (m != nullptr) {
      // Whatever was accepted is a well-formed matrix with no empty row.
      for (const auto &[r, c] : entries(m.get())) {
        EXPECT_LT(r, m->n_rows);
        EXPECT_LT(c, m->n_cols);
      }
      for (int i = 0; i < m->n_rows; ++i) EXPECT_FALSE(of_mod2sparse_empty_row(m.get(), i));
    }
  }
}

TEST(SparseMatrixPrint, TextsOfThePrinters) {
  SparsePtr m = make(3, 12, {{0, 0}, {0, 11}, {2, 5}});
  TempFile file("print.txt");
  FILE *f = file.open("wb");
  of_mod2sparse_print(f, m.get());
  of_mod2sparse_printf(f, m.get());
  std::fclose(f);
  EXPECT_EQ(file.read(),
            "0:  0 11\n1:\n2:  5\n"
            "1          1\n"
            "            \n"
            "     1      \n");
}

TEST(SparseMatrixPrint, StatisticsText) {
  // Rows of weight 2, 1, 2; columns: repair 0 and 1 of weight 1 and 0, source
  // columns 2 and 3 of weight 2 and 2.
  SparsePtr m = make(3, 4, {{0, 0}, {0, 2}, {1, 3}, {2, 2}, {2, 3}});
  TempFile file("stats.txt");
  FILE *f = file.open("wb");
  of_mod2sparse_matrix_stats(f, m.get(), 2, 2);
  std::fclose(f);
  EXPECT_EQ(file.read(),
            " nb_col=4  nb_row=3 \n"
            " row_density=0.416667 \n"
            " aver_nb_entry_per_row=1.666667 \n"
            " min_entry_per_row=1 \n"
            " max_entry_per_row=2 \n"
            " nb_entry_row[1]=1 \n"
            " nb_entry_row[2]=2 \n"
            "------------------ \n"
            " col_density=0.416667 \n"
            " aver_nb_entry_per_col=1.250000 \n"
            " min_entry_per_col=0 \n"
            " max_entry_per_col=2 \n"
            " nb_entry_col[0]=1 \n"
            " nb_entry_col[1]=1 \n"
            " nb_entry_col[2]=2 \n"
            "------- \n"
            " min_entry_per_data_col=2 \n"
            " max_entry_per_data_col=2 \n"
            " nb_entry_data_col[2]=2 \n"
            "------- \n"
            " min_entry_per_parity_col=0 \n"
            " max_entry_per_parity_col=1 \n"
            " nb_entry_parity_col[0]=1 \n"
            " nb_entry_parity_col[1]=1 \n"
            "------------------ \n"
            " matrix_density=0.416667 \n");
}

}  // namespace
