#include "binary/of_matrix_dense.h"

#include <cstring>

#include "binary/of_hamming_weight.h"
#include "binary/of_tools.h"
#include "binary/of_weight_stats.h"
#include "zvfec/codec_session.h"

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

// Mask of the bits of a row's last word that lie inside the matrix.
of_mod2word last_word_mask(uint32_t n_cols) {
  const uint32_t used = n_cols & 31u;
  return used == 0 ? kAllOnes : (of_mod2word{1} << used) - 1;
}

// Builds the record around a bits block that the caller hands over.
of_mod2dense *wrap_bits(uint32_t n_rows, uint32_t n_cols, of_mod2word *bits) {
  auto *m = static_cast<of_mod2dense *>(of_calloc(1, sizeof(of_mod2dense)));
  auto **rows = static_cast<of_mod2word **>(of_calloc(n_rows, sizeof(of_mod2word *)));
  if (m == nullptr || rows == nullptr) {
    of_free(m);
    of_free(rows);
    of_free(bits);
    return nullptr;
  }
  m->n_rows = n_rows;
  m->n_cols = n_cols;
  m->n_words = (n_cols + 31) >> 5;
  m->row = rows;
  m->bits = bits;
  for (uint32_t j = 0; j < n_rows; ++j) m->row[j] = bits + static_cast<size_t>(j) * m->n_words;
  return m;
}

}  // namespace

of_mod2dense *of_mod2dense_allocate(uint32_t n_rows, uint32_t n_cols) {
  if (n_rows == 0 || n_cols == 0) return nullptr;
  const uint64_t words = uint64_t{n_rows} * ((uint64_t{n_cols} + 31) >> 5);
  if (words > SIZE_MAX / sizeof(of_mod2word)) return nullptr;
  auto *bits = static_cast<of_mod2word *>(of_calloc(words, sizeof(of_mod2word)));
  if (bits == nullptr) return nullptr;
  return wrap_bits(n_rows, n_cols, bits);
}

void of_mod2dense_free(of_mod2dense *m) {
  if (m == nullptr) return;
  of_free(m->bits);
  of_free(m->row);
  of_free(m);
}

void of_mod2dense_clear(of_mod2dense *m) {
  std::memset(m->bits, 0, size_t{m->n_rows} * m->n_words * sizeof(of_mod2word));
}

void of_mod2dense_copy(of_mod2dense *m, of_mod2dense *r) {
  if (m->n_rows > r->n_rows || m->n_cols > r->n_cols) return;
  const size_t tail = r->n_words - m->n_words;
  for (uint32_t i = 0; i < m->n_rows; ++i) {
    std::memcpy(r->row[i], m->row[i], m->n_words * sizeof(of_mod2word));
    std::memset(r->row[i] + m->n_words, 0, tail * sizeof(of_mod2word));
  }
  for (uint32_t i = m->n_rows; i < r->n_rows; ++i) {
    std::memset(r->row[i], 0, r->n_words * sizeof(of_mod2word));
  }
}

void of_mod2dense_copyrows(of_mod2dense *m, of_mod2dense *r, const uint32_t *rows) {
  if (m->n_cols > r->n_cols) return;
  of_mod2dense_clear(r);
  for (uint32_t i = 0; i < r->n_rows; ++i) {
    if (rows[i] >= m->n_rows) break;
    std::memcpy(r->row[i], m->row[rows[i]], m->n_words * sizeof(of_mod2word));
  }
}

void of_mod2dense_copycols(of_mod2dense *m, of_mod2dense *r, const uint32_t *cols) {
  if (m->n_rows > r->n_rows) return;
  for (uint32_t j = 0; j < r->n_cols; ++j) {
    for (uint32_t i = 0; i < m->n_rows; ++i) {
      of_mod2dense_set(r, i, j, of_mod2dense_get(m, i, cols[j]));
    }
  }
}

uint32_t of_mod2dense_get(const of_mod2dense *m, uint32_t row, uint32_t col) {
  return (m->row[row][col >> 5] >> (col & 31u)) & 1u;
}

int32_t of_mod2dense_set(of_mod2dense *m, uint32_t row, uint32_t col, uint32_t value) {
  if (row >= m->n_rows || col >= m->n_cols) return -1;
  of_mod2word &w = m->row[row][col >> 5];
  const of_mod2word bit = of_mod2word{1} << (col & 31u);
  w = value != 0 ? (w | bit) : (w & ~bit);
  return 0;
}

uint32_t of_mod2dense_flip(of_mod2dense *m, uint32_t row, uint32_t col) {
  if (row >= m->n_rows || col >= m->n_cols) return kAllOnes;
  of_mod2word &w = m->row[row][col >> 5];
  w ^= of_mod2word{1} << (col & 31u);
  return (w >> (col & 31u)) & 1u;
}

double of_mod2dense_density(const of_mod2dense *m) {
  uint64_t ones = 0;
  for (uint32_t i = 0; i < m->n_rows; ++i) ones += of_mod2dense_row_weight(m, i);
  return static_cast<double>(ones) / (static_cast<double>(m->n_rows) * m->n_cols);
}

uint32_t of_mod2dense_row_is_empty(const of_mod2dense *m, uint32_t row) {
  for (uint32_t k = 0; k < m->n_words; ++k) {
    if (m->row[row][k] != 0) return 0;
  }
  return 1;
}

uint32_t of_mod2dense_row_weight(const of_mod2dense *m, uint32_t row) {
  if (row >= m->n_rows) return kAllOnes;
  uint32_t w = 0;
  for (uint32_t k = 0; k < m->n_words; ++k) w += of_hweight32_table(m->row[row][k]);
  return w;
}

uint32_t of_mod2dense_col_weight(const of_mod2dense *m, uint32_t col) {
  if (col >= m->n_cols) return kAllOnes;
  uint32_t w = 0;
  for (uint32_t i = 0; i < m->n_rows; ++i) w += of_mod2dense_get(m, i, col);
  return w;
}

uint32_t of_mod2dense_row_weight_ignore_first(const of_mod2dense *m, uint32_t i,
                                              uint32_t nb_ignore) {
  if (i >= m->n_rows) return kAllOnes;
  const uint32_t skip = nb_ignore >> 5;
  if (skip >= m->n_words) return 0;
  return of_hweight_array(m->row[i] + skip, static_cast<int32_t>(m->n_cols - 32 * skip));
}

void of_mod2dense_xor_rows(of_mod2dense *m, uint16_t from, uint16_t to) {
  of_mod2word *dst = m->row[to];
  const of_mod2word *src = m->row[from];
  for (uint32_t k = 0; k < m->n_words; ++k) dst[k] ^= src[k];
}

uint32_t of_mod2dense_write(FILE *f, const of_mod2dense *m) {
  of_intio_write(f, static_cast<int32_t>(m->n_rows));
  if (std::ferror(f)) return 0;
  of_intio_write(f, static_cast<int32_t>(m->n_cols));
  if (std::ferror(f)) return 0;
  for (uint32_t i = 0; i < m->n_rows; ++i) {
    for (uint32_t k = 0; k < m->n_words; ++k) {
      of_intio_write(f, static_cast<int32_t>(m->row[i][k]));
      if (std::ferror(f)) return 0;
    }
  }
  return 1;
}

of_mod2dense *of_mod2dense_read(FILE *f) {
  const int32_t n_rows = of_intio_read(f);
  const int32_t n_cols = of_intio_read(f);
  if (std::feof(f) || std::ferror(f) || n_rows <= 0 || n_cols <= 0) return nullptr;
  const uint32_t n_words = (static_cast<uint32_t>(n_cols) + 31) >> 5;
  const uint64_t total = uint64_t{static_cast<uint32_t>(n_rows)} * n_words;
  if (total > OF_MOD2DENSE_READ_MAX_WORDS) return nullptr;
  // A forged header may promise far more than the file holds, so the block
  // grows with the words that really arrive.
  uint64_t capacity = 0;
  of_mod2word *bits = nullptr;
  const of_mod2word mask = last_word_mask(static_cast<uint32_t>(n_cols));
  for (uint64_t k = 0; k < total; ++k) {
    if (k == capacity) {
      capacity = capacity == 0 ? 1024 : 2 * capacity;
      if (capacity > total) capacity = total;
      auto *grown = static_cast<of_mod2word *>(of_realloc(bits, capacity * sizeof(of_mod2word)));
      if (grown == nullptr) {
        of_free(bits);
        return nullptr;
      }
      bits = grown;
    }
    const auto w = static_cast<of_mod2word>(of_intio_read(f));
    const bool last_in_row = (k % n_words) == n_words - 1;
    if (std::feof(f) || std::ferror(f) || (last_in_row && (w & ~mask) != 0)) {
      of_free(bits);
      return nullptr;
    }
    bits[k] = w;
  }
  return wrap_bits(static_cast<uint32_t>(n_rows), static_cast<uint32_t>(n_cols), bits);
}

void of_mod2dense_print(FILE *f, const of_mod2dense *m) {
  for (uint32_t i = 0; i < m->n_rows; ++i) {
    for (uint32_t j = 0; j < m->n_cols; ++j) {
      std::fputs(of_mod2dense_get(m, i, j) ? " 1" : "  ", f);
    }
    std::fputc('\n', f);
  }
}

void of_mod2dense_print_stats(FILE *f, const of_mod2dense *m) {
  of_weight_stats rows{}, cols{};
  if (of_weight_stats_init(&rows, 1000) && of_weight_stats_init(&cols, 1000)) {
    for (uint32_t i = 0; i < m->n_rows; ++i) {
      of_weight_stats_add(&rows, static_cast<int>(of_mod2dense_row_weight(m, i)));
    }
    for (uint32_t j = 0; j < m->n_cols; ++j) {
      of_weight_stats_add(&cols, static_cast<int>(of_mod2dense_col_weight(m, j)));
    }
    const double density = of_print_row_col_stats(f, static_cast<int32_t>(m->n_rows),
                                                  static_cast<int32_t>(m->n_cols), &rows, &cols);
    std::fprintf(f, "------------------ \n");
    std::fprintf(f, " matrix_density=%f \n", density);
  }
  of_weight_stats_free(&rows);
  of_weight_stats_free(&cols);
}

void of_mod2dense_print_bitmap(const of_mod2dense * /*m*/, const char * /*file_name*/) {}
