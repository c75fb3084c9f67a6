#include "binary/of_matrix_dense.h"

#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <random>
#include <string>

#include "binary/dense_memory_info.h"
#include "binary/of_hamming_weight.h"
#include "binary/of_matrix_convert.h"
#include "binary/of_tools.h"
#include "binary/test_files.h"
#include "zvfec/codec_session.h"

// The checked allocator is tested with a request that cannot be met; under the
// address sanitizer that must come back as none rather than end the program.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

namespace {

struct DenseDeleter {
  void operator()(of_mod2dense *m) const { of_mod2dense_free(m); }
};
using DensePtr = std::unique_ptr<of_mod2dense, DenseDeleter>;

struct SparseDeleter {
  void operator()(of_mod2sparse *m) const {
    of_mod2sparse_free(m);
    of_free(m);
  }
};
using SparsePtr = std::unique_ptr<of_mod2sparse, SparseDeleter>;

DensePtr random_dense(uint32_t rows, uint32_t cols, std::mt19937 &rng) {
  DensePtr m(of_mod2dense_allocate(rows, cols));
  for (uint32_t i = 0; i < rows; ++i) {
    for (uint32_t j = 0; j < cols; ++j) of_mod2dense_set(m.get(), i, j, rng() % 3 == 0);
  }
  return m;
}

bool same_bits(const of_mod2dense *a, const of_mod2dense *b) {
  if (a->n_rows != b->n_rows || a->n_cols != b->n_cols) return false;
  for (uint32_t i = 0; i < a->n_rows; ++i) {
    for (uint32_t k = 0; k < a->n_words; ++k) {
      if (a->row[i][k] != b->row[i][k]) return false;
    }
  }
  return true;
}

TEST(DenseMatrix, BitLayoutAcrossWordBoundaries) {
  EXPECT_EQ(of_mod2dense_allocate(0, 3), nullptr);
  EXPECT_EQ(of_mod2dense_allocate(3, 0), nullptr);
  DensePtr m(of_mod2dense_allocate(2, 33));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->n_words, 2u);
  EXPECT_EQ(m->row[1], m->bits + 2);
  EXPECT_EQ(of_mod2dense_set(m.get(), 0, 32, 7), 0);  // any non-zero value stores 1
  EXPECT_EQ(of_mod2dense_set(m.get(), 0, 31, 1), 0);
  EXPECT_EQ(of_mod2dense_set(m.get(), 1, 0, 1), 0);
  EXPECT_EQ(m->row[0][0], 0x80000000u);
  EXPECT_EQ(m->row[0][1], 1u);
  EXPECT_EQ(m->row[1][0], 1u);
  EXPECT_EQ(of_mod2dense_get(m.get(), 0, 32), 1u);
  EXPECT_EQ(of_mod2dense_set(m.get(), 0, 31, 0), 0);
  EXPECT_EQ(m->row[0][0], 0u);

  // Out of range: refused and nothing changes.
  EXPECT_EQ(of_mod2dense_set(m.get(), 2, 0, 1), -1);
  EXPECT_EQ(of_mod2dense_set(m.get(), 0, 33, 1), -1);
  EXPECT_EQ(of_mod2dense_flip(m.get(), 0, 33), 0xFFFFFFFFu);
  EXPECT_EQ(m->row[0][1], 1u);

  // Flipping a clear bit twice gives 1, then 0.
  EXPECT_EQ(of_mod2dense_flip(m.get(), 1, 32), 1u);
  EXPECT_EQ(of_mod2dense_flip(m.get(), 1, 32), 0u);
  EXPECT_EQ(m->row[1][1], 0u);
}

TEST(DenseMatrix, CopiesZeroWhatTheSourceDoesNotCover) {
  std::mt19937 rng(3);
  DensePtr src = random_dense(2, 40, rng);
  DensePtr dst(of_mod2dense_allocate(4, 64));
  for (uint32_t k = 0; k < 4 * 2; ++k) dst->bits[k] = 0xFFFFFFFFu;
  of_mod2dense_copy(src.get(), dst.get());
  for (uint32_t i = 0; i < 4; ++i) {
    for (uint32_t j = 0; j < 64; ++j) {
      const uint32_t expect = i < 2 && j < 40 ? of_mod2dense_get(src.get(), i, j) : 0;
      ASSERT_EQ(of_mod2dense_get(dst.get(), i, j), expect) << i << "," << j;
    }
  }
  // A destination with fewer rows or columns is left alone.
  DensePtr narrow(of_mod2dense_allocate(4, 39));
  of_mod2dense_set(narrow.get(), 3, 0, 1);
  of_mod2dense_copy(src.get(), narrow.get());
  const uint32_t rows[] = {0, 0, 0, 0};
  of_mod2dense_copyrows(src.get(), narrow.get(), rows);
  EXPECT_EQ(of_mod2dense_row_weight(narrow.get(), 3), 1u);

  const uint32_t pick[] = {1, 1, 5, 0};
  DensePtr picked(of_mod2dense_allocate(4, 40));
  of_mod2dense_set(picked.get(), 3, 3, 1);
  of_mod2dense_copyrows(src.get(), picked.get(), pick);
  for (uint32_t j = 0; j < 40; ++j) {
    EXPECT_EQ(of_mod2dense_get(picked.get(), 0, j), of_mod2dense_get(src.get(), 1, j));
    EXPECT_EQ(of_mod2dense_get(picked.get(), 1, j), of_mod2dense_get(src.get(), 1, j));
  }
  // Stopped at index 5, and the rest was cleared first.
  EXPECT_EQ(of_mod2dense_row_weight(picked.get(), 2), 0u);
  EXPECT_EQ(of_mod2dense_row_weight(picked.get(), 3), 0u);

  const uint32_t cols[] = {39, 0, 32};
  DensePtr cut(of_mod2dense_allocate(2, 3));
  of_mod2dense_copycols(src.get(), cut.get(), cols);
  for (uint32_t i = 0; i < 2; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      EXPECT_EQ(of_mod2dense_get(cut.get(), i, j), of_mod2dense_get(src.get(), i, cols[j]));
    }
  }
}

TEST(DenseMatrix, WeightsAndRowOperations) {
  DensePtr m(of_mod2dense_allocate(3, 70));
  for (uint32_t col : {0u, 31u, 32u, 69u}) of_mod2dense_set(m.get(), 0, col, 1);
  of_mod2dense_set(m.get(), 1, 32, 1);
  EXPECT_EQ(of_mod2dense_row_weight(m.get(), 0), 4u);
  EXPECT_EQ(of_mod2dense_row_weight(m.get(), 3), 0xFFFFFFFFu);
  EXPECT_EQ(of_mod2dense_col_weight(m.get(), 32), 2u);
  EXPECT_EQ(of_mod2dense_col_weight(m.get(), 70), 0xFFFFFFFFu);
  struct Case {
    uint32_t nb_ignore, weight;
  };
  // Only whole words before nb_ignore are skipped.
  for (const Case c : {Case{0, 4}, Case{31, 4}, Case{32, 2}, Case{40, 2}, Case{64, 1}}) {
    EXPECT_EQ(of_mod2dense_row_weight_ignore_first(m.get(), 0, c.nb_ignore), c.weight)
        << c.nb_ignore;
  }
  EXPECT_EQ(of_mod2dense_row_weight_ignore_first(m.get(), 3, 0), 0xFFFFFFFFu);
  EXPECT_DOUBLE_EQ(of_mod2dense_density(m.get()), 5.0 / 210.0);
  EXPECT_EQ(of_mod2dense_row_is_empty(m.get(), 2), 1u);
  EXPECT_EQ(of_mod2dense_row_is_empty(m.get(), 1), 0u);

  of_mod2dense_xor_rows(m.get(), 0, 1);
  EXPECT_EQ(of_mod2dense_row_weight(m.get(), 1), 3u);
  EXPECT_EQ(of_mod2dense_get(m.get(), 1, 32), 0u);
  EXPECT_EQ(of_mod2dense_get(m.get(), 1, 69), 1u);
  EXPECT_EQ(of_mod2dense_row_weight(m.get(), 0), 4u);
  of_mod2dense_clear(m.get());
  EXPECT_EQ(of_mod2dense_density(m.get()), 0.0);
}

TEST(DenseMatrix, ConversionsRoundTrip) {
  std::mt19937 rng(9);
  DensePtr d = random_dense(5, 37, rng);
  SparsePtr s(of_mod2sparse_allocate(5, 37));
  of_mod2sparse_insert(s.get(), 4, 4);  // cleared by the conversion
  ASSERT_TRUE(of_mod2dense_to_sparse(d.get(), s.get()));
  uint32_t entries = 0;
  for (uint32_t i = 0; i < 5; ++i) {
    for (uint32_t j = 0; j < 37; ++j) {
      const bool in_sparse = of_mod2sparse_find(s.get(), i, j) != nullptr;
      EXPECT_EQ(in_sparse, of_mod2dense_get(d.get(), i, j) == 1);
      entries += in_sparse;
    }
  }
  EXPECT_EQ(entries, static_cast<uint32_t>(of_mod2dense_density(d.get()) * 5 * 37 + 0.5));

  DensePtr back(of_mod2dense_allocate(5, 37));
  of_mod2dense_set(back.get(), 0, 0, !of_mod2dense_get(d.get(), 0, 0));
  of_mod2sparse_to_dense(s.get(), back.get());
  EXPECT_TRUE(same_bits(d.get(), back.get()));

  // Smaller destinations are left alone.
  DensePtr small(of_mod2dense_allocate(4, 37));
  of_mod2dense_set(small.get(), 0, 0, 1);
  of_mod2sparse_to_dense(s.get(), small.get());
  EXPECT_EQ(of_mod2dense_row_weight(small.get(), 0), 1u);
  SparsePtr narrow(of_mod2sparse_allocate(5, 36));
  of_mod2sparse_insert(narrow.get(), 0, 0);
  ASSERT_TRUE(of_mod2dense_to_sparse(d.get(), narrow.get()));
  EXPECT_EQ(of_mod2sparse_weight_row(narrow.get(), 0), 1u);
}

TEST(DenseMatrixFile, WriteThenReadReproducesTheMatrix) {
  std::mt19937 rng(1);
  DensePtr m = random_dense(3, 45, rng);
  TempFile file("dense.bin");
  FILE *f = file.open("wb");
  EXPECT_EQ(of_mod2dense_write(f, m.get()), 1u);
  std::fclose(f);
  const std::string bytes = file.read();
  ASSERT_EQ(bytes.size(), 4u * (2 + 3 * 2));
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x03\0\0\0\x2d\0\0\0", 8));
  f = file.open("rb");
  DensePtr back(of_mod2dense_read(f));
  std::fclose(f);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(same_bits(m.get(), back.get()));

  f = file.open("rb");
  EXPECT_EQ(of_mod2dense_write(f, m.get()), 0u);  // read-only stream
  std::fclose(f);
}

std::string ints(std::initializer_list<uint32_t> values) {
  std::string out;
  for (uint32_t v : values) {
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<char>((v >> (8 * b)) & 0xFF));
  }
  return out;
}

struct DenseCase {
  const char *name;
  std::string bytes;
};

class DenseReaderRefuses : public testing::TestWithParam<DenseCase> {};

TEST_P(DenseReaderRefuses, Malformed) {
  TempFile file("bad.bin");
  file.write(GetParam().bytes);
  FILE *f = file.open("rb");
  ASSERT_NE(f, nullptr);
  of_mod2dense *m = of_mod2dense_read(f);
  std::fclose(f);
  EXPECT_EQ(m, nullptr);
  of_mod2dense_free(m);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DenseReaderRefuses,
    testing::Values(DenseCase{"Empty", ""}, DenseCase{"HeaderCut", ints({2}).substr(0, 6)},
                    DenseCase{"ZeroRows", ints({0, 5, 1})}, DenseCase{"ZeroCols", ints({5, 0, 1})},
                    DenseCase{"NegativeRows", ints({0xFFFFFFFEu, 5, 1})},
                    DenseCase{"NegativeCols", ints({1, 0x80000000u, 1})},
                    DenseCase{"AbsurdSize", ints({0x7FFFFFFFu, 0x7FFFFFFFu, 1, 2, 3})},
                    DenseCase{"ForgedLargeHeader", ints({0x01000000u, 300, 1, 2, 3})},
                    DenseCase{"ShortByAWord", ints({2, 40, 1, 2, 3})},
                    DenseCase{"ShortByAByte", ints({1, 32, 7}).substr(0, 11)},
                    DenseCase{"PaddingBitSet", ints({1, 33, 0, 2})}),
    [](const testing::TestParamInfo<DenseCase> &tpi) { return tpi.param.name; });

TEST(DenseMatrixFile, CutFilesGiveNone) {
  std::mt19937 rng(4);
  DensePtr m = random_dense(3, 70, rng);
  TempFile file("whole.bin");
  FILE *f = file.open("wb");
  ASSERT_EQ(of_mod2dense_write(f, m.get()), 1u);
  std::fclose(f);
  const std::string whole = file.read();
  for (size_t len = 0; len < whole.size(); ++len) {
    TempFile cut("cut.bin");
    cut.write(whole.substr(0, len));
    f = cut.open("rb");
    of_mod2dense *back = of_mod2dense_read(f);
    std::fclose(f);
    EXPECT_EQ(back, nullptr) << len;
    of_mod2dense_free(back);
  }
}

TEST(Tools, IntegersAreLittleEndianAndSigned) {
  TempFile file("ints.bin");
  FILE *f = file.open("wb");
  of_intio_write(f, -2);
  of_intio_write(f, 0x01020304);
  std::fclose(f);
  EXPECT_EQ(file.read(), std::string("\xFE\xFF\xFF\xFF\x04\x03\x02\x01", 8));
  f = file.open("rb");
  EXPECT_EQ(of_intio_read(f), -2);
  EXPECT_EQ(of_intio_read(f), 0x01020304);
  EXPECT_EQ(of_intio_read(f), 0);
  EXPECT_TRUE(std::feof(f));
  std::fclose(f);
}

TEST(Tools, CheckedAllocation) {
  auto *p = static_cast<uint8_t *>(of_chk_alloc(10, 3));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(p[i], 0);
  of_free(p);
  testing::internal::CaptureStderr();
  EXPECT_EQ(of_chk_alloc(0xFFFFFFFFu, 0xFFFFFFFFu), nullptr);
  // The sanitizer, when present, adds its own warning in front.
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string msg =
      "Ran out of memory (while trying to allocate 18446744065119617025 bytes)\n";
  EXPECT_TRUE(err == msg || err.ends_with("\n" + msg)) << err;
}

TEST(HammingWeight, CountersAgree) {
  for (uint32_t b = 0; b < 256; ++b) {
    EXPECT_EQ(of_hweight8_table(static_cast<uint8_t>(b)), static_cast<uint32_t>(std::popcount(b)));
  }
  std::mt19937_64 rng(2);
  for (int i = 0; i < 2000; ++i) {
    const uint64_t x = rng() >> (rng() % 64);
    const auto w = static_cast<uint32_t>(x);
    EXPECT_EQ(of_hweight32_table(w), static_cast<uint32_t>(std::popcount(w)));
    EXPECT_EQ(of_hweight32(w), static_cast<uint32_t>(std::popcount(w)));
    EXPECT_EQ(of_popcount_3(x), static_cast<uint32_t>(std::popcount(x)));
  }
  EXPECT_EQ(of_hweight32(0xFFFFFFFFu), 32u);
  EXPECT_EQ(of_popcount_3(~uint64_t{0}), 64u);
}

TEST(HammingWeight, ArraySizeCountsWholeWords) {
  const uint32_t words[] = {0xFFFFFFFFu, 0xF0000001u, 0xFFFFFFFFu};
  struct Case {
    int32_t bits;
    uint32_t ones;
  };
  for (const Case c : {Case{33, 37}, Case{32, 32}, Case{1, 32}, Case{64, 37}, Case{65, 69},
                       Case{0, 0}, Case{-5, 0}}) {
    EXPECT_EQ(of_hweight_array(words, c.bits), c.ones) << c.bits;
  }
}

TEST(DenseMatrixPrint, Texts) {
  DensePtr m(of_mod2dense_allocate(2, 3));
  of_mod2dense_set(m.get(), 0, 0, 1);
  of_mod2dense_set(m.get(), 0, 2, 1);
  of_mod2dense_set(m.get(), 1, 2, 1);
  TempFile file("print.txt");
  FILE *f = file.open("wb");
  of_mod2dense_print(f, m.get());
  of_mod2dense_print_stats(f, m.get());
  std::fclose(f);
  EXPECT_EQ(file.read(),
            " 1   1\n"
            "     1\n"
            " nb_col=3  nb_row=2 \n"
            " row_density=0.500000 \n"
            " aver_nb_entry_per_row=1.500000 \n"
            " min_entry_per_row=1 \n"
            " max_entry_per_row=2 \n"
            " nb_entry_row[1]=1 \n"
            " nb_entry_row[2]=1 \n"
            "------------------ \n"
            " col_density=0.500000 \n"
            " aver_nb_entry_per_col=1.000000 \n"
            " min_entry_per_col=0 \n"
            " max_entry_per_col=2 \n"
            " nb_entry_col[0]=1 \n"
            " nb_entry_col[1]=1 \n"
            " nb_entry_col[2]=1 \n"
            "------------------ \n"
            " matrix_density=0.500000 \n");

  testing::internal::CaptureStdout();
  of_mod2dense_print_memory_info(m.get());
  const uint8_t bytes[] = {0, 4, 0, 9};
  of_print_composition(bytes, 4);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("m->n_rows=2\nm->n_cols=3\nm->n_words=1\n"), std::string::npos);
  EXPECT_NE(out.find(" m->bits size = 8\n"), std::string::npos);
  EXPECT_NE(out.find("sizeof(mod2word)=4\n1 3 \n"), std::string::npos);
}

}  // namespace
