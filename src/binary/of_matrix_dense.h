// Bit-packed matrices over GF(2): every row is a run of 32-bit words inside one
// block, so Gaussian elimination XORs 32 columns per operation.
#pragma once

#include <cstdint>
#include <cstdio>

typedef uint32_t of_mod2word;

// Bit (r, c) is bit c % 32 (0 = least significant) of word c / 32 of row r.
// Bits of a row's last word beyond n_cols are always 0. The record owns `row`
// and `bits`; of_mod2dense_free releases all three.
struct of_mod2dense {
  uint32_t n_rows;
  uint32_t n_cols;
  uint32_t n_words;
  of_mod2word **row;
  of_mod2word *bits;
};

// A new zeroed matrix, or none when a count is 0 or memory is short.
of_mod2dense *of_mod2dense_allocate(uint32_t n_rows, uint32_t n_cols);

// Releases the matrix and its storage. Accepts none.
void of_mod2dense_free(of_mod2dense *m);

void of_mod2dense_clear(of_mod2dense *m);

// Copies m into r when r has at least m's rows and columns; whatever of r lies
// outside m is zeroed. Otherwise r is left alone.
void of_mod2dense_copy(of_mod2dense *m, of_mod2dense *r);

// Row i of r (cleared first) becomes row rows[i] of m for i < r.n_rows,
// stopping at the first index outside m. Nothing is done when r has fewer
// columns than m.
void of_mod2dense_copyrows(of_mod2dense *m, of_mod2dense *r, const uint32_t *rows);

// Column j of r becomes column cols[j] of m, for every row of m and j <
// r.n_cols. Nothing is done when r has fewer rows than m. Every cols[j] must be
// below m.n_cols.
void of_mod2dense_copycols(of_mod2dense *m, of_mod2dense *r, const uint32_t *cols);

// Bit access. of_mod2dense_get does not check its indices; set and flip give -1
// (flip: all ones) for an index outside the matrix and leave it unchanged. Any
// non-zero value sets the bit. flip returns the new value.
uint32_t of_mod2dense_get(const of_mod2dense *m, uint32_t row, uint32_t col);
int32_t of_mod2dense_set(of_mod2dense *m, uint32_t row, uint32_t col, uint32_t value);
uint32_t of_mod2dense_flip(of_mod2dense *m, uint32_t row, uint32_t col);

// Ones divided by n_rows * n_cols.
double of_mod2dense_density(const of_mod2dense *m);

// 1 when every bit of the row is 0; row must be in range.
uint32_t of_mod2dense_row_is_empty(const of_mod2dense *m, uint32_t row);

// Number of ones, or all ones (-1) for an index outside the matrix.
uint32_t of_mod2dense_row_weight(const of_mod2dense *m, uint32_t row);
uint32_t of_mod2dense_col_weight(const of_mod2dense *m, uint32_t col);

// Ones of row i from word nb_ignore / 32 on: only whole words before nb_ignore
// are skipped. All ones (-1) when i is outside the matrix.
uint32_t of_mod2dense_row_weight_ignore_first(const of_mod2dense *m, uint32_t i,
                                              uint32_t nb_ignore);

// Row `to` ^= row `from`; both must be in range.
void of_mod2dense_xor_rows(of_mod2dense *m, uint16_t from, uint16_t to);

// Binary file: n_rows, n_cols, then every word of every row, each as a 4-byte
// little-endian integer. The writer returns 1, or 0 on a stream error.
uint32_t of_mod2dense_write(FILE *f, const of_mod2dense *m);

// Largest number of words (n_rows * n_words) that the reader accepts.
constexpr uint64_t OF_MOD2DENSE_READ_MAX_WORDS = uint64_t{1} << 28;

// Reads a file written as above. The file is untrusted: sizes that are 0,
// negative or above OF_MOD2DENSE_READ_MAX_WORDS, a file shorter than its header
// promises, set bits beyond n_cols or a stream error give none. Memory grows
// with the data actually read, never ahead of it from the header alone.
of_mod2dense *of_mod2dense_read(FILE *f);

// Diagnostics.
void of_mod2dense_print(FILE *f, const of_mod2dense *m);
void of_mod2dense_print_stats(FILE *f, const of_mod2dense *m);
void of_mod2dense_print_bitmap(const of_mod2dense *m, const char *file_name);
