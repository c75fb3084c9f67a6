// Sparse matrices over GF(2): only the 1-entries are stored, each one linked
// at the same time into the circular list of its row and of its column, both
// kept sorted by index. Parity-check matrices of the binary codecs live here.
#pragma once

#include <cstdint>
#include <cstdio>

// One 1-entry, or the header of a row or column list (row = col = -1 there,
// and on an entry sitting in the free list). In a free entry `left` links to
// the next free entry.
struct of_mod2entry {
  int32_t row;
  int32_t col;
  of_mod2entry *left;
  of_mod2entry *right;
  of_mod2entry *down;
  of_mod2entry *up;
};

// Entries come in slabs so that inserting and deleting costs no allocator call
// in the steady state.
constexpr int OF_MOD2SPARSE_BLOCK = 1024;

struct of_mod2block {
  of_mod2block *next;
  of_mod2entry entry[OF_MOD2SPARSE_BLOCK];
};

// The record owns its header arrays and its blocks; of_mod2sparse_free releases
// those and the owner releases the record itself with of_free right after.
struct of_mod2sparse {
  int32_t n_rows;
  int32_t n_cols;
  of_mod2entry *rows;
  of_mod2entry *cols;
  of_mod2block *blocks;
  of_mod2entry *next_free;
};

// Walking helpers. A walk along a row or column ends at the first node whose
// row (or col) is negative, which is the list's header.
inline int32_t of_mod2sparse_rows(const of_mod2sparse *m) { return m->n_rows; }
inline int32_t of_mod2sparse_cols(const of_mod2sparse *m) { return m->n_cols; }
inline of_mod2entry *of_mod2sparse_first_in_row(of_mod2sparse *m, uint32_t i) {
  return m->rows[i].right;
}
inline of_mod2entry *of_mod2sparse_last_in_row(of_mod2sparse *m, uint32_t i) {
  return m->rows[i].left;
}
inline of_mod2entry *of_mod2sparse_first_in_col(of_mod2sparse *m, uint32_t j) {
  return m->cols[j].down;
}
inline of_mod2entry *of_mod2sparse_last_in_col(of_mod2sparse *m, uint32_t j) {
  return m->cols[j].up;
}
inline of_mod2entry *of_mod2sparse_next_in_row(const of_mod2entry *e) { return e->right; }
inline of_mod2entry *of_mod2sparse_next_in_col(const of_mod2entry *e) { return e->down; }
inline of_mod2entry *of_mod2sparse_prev_in_row(const of_mod2entry *e) { return e->left; }
inline of_mod2entry *of_mod2sparse_prev_in_col(const of_mod2entry *e) { return e->up; }
inline bool of_mod2sparse_at_end(const of_mod2entry *e) { return e->row < 0; }
inline int32_t of_mod2sparse_row(const of_mod2entry *e) { return e->row; }
inline int32_t of_mod2sparse_col(const of_mod2entry *e) { return e->col; }

// A new empty matrix, or none when a count is 0, above INT32_MAX, or memory is
// short. Release with of_mod2sparse_free and then of_free.
of_mod2sparse *of_mod2sparse_allocate(uint32_t n_rows, uint32_t n_cols);

// Releases the header arrays and every block, not the record. Accepts none.
void of_mod2sparse_free(of_mod2sparse *m);

// Removes every entry and gives the blocks back, so later insertions take
// fresh blocks.
void of_mod2sparse_clear(of_mod2sparse *m);

// The copies below return false only when memory ran out part way; the
// destination then holds what was copied so far. A destination that is too
// small is left alone and the call still returns true.

// Copies m into r (cleared first) when r has at least m's rows and columns.
bool of_mod2sparse_copy(of_mod2sparse *m, of_mod2sparse *r);

// Row i of r (cleared first) becomes row rows[i] of m, for i < r.n_rows; stops
// silently at the first index outside m. rows holds r.n_rows indices.
bool of_mod2sparse_copyrows(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *rows);

// As of_mod2sparse_copyrows but r is not cleared, and column walks in r start
// from __parsing[col] (entries of r, m.n_cols slots, only read) when given.
bool of_mod2sparse_copyrows_opt(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *rows,
                                of_mod2entry **__parsing);

// Column j of r (cleared first) becomes column cols[j] of m, for j < r.n_cols;
// stops at the first index outside m (reported when of_verbosity is set).
bool of_mod2sparse_copycols(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *cols);

// As of_mod2sparse_copycols without clearing r.
bool of_mod2sparse_copycols_opt(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *cols);

// The entry at (row, col), or none; out-of-range indices are reported.
of_mod2entry *of_mod2sparse_find(of_mod2sparse *m, uint32_t row, uint32_t col);

// The entry at (row, col), new or already there; none when an index is out of
// range (the matrix is unchanged), the matrix is garbled or memory is short.
of_mod2entry *of_mod2sparse_insert(of_mod2sparse *m, uint32_t row, uint32_t col);

// As of_mod2sparse_insert, but the column walk starts at __parsing[col] when
// that slot names an entry of column col above row; otherwise at the top.
of_mod2entry *of_mod2sparse_insert_opt(of_mod2sparse *m, uint32_t row, uint32_t col,
                                       of_mod2entry **__parsing);

// Unlinks e and keeps its storage for the next insertion. A null entry or a
// header is reported and left alone.
void of_mod2sparse_delete(of_mod2sparse *m, of_mod2entry *e);
void of_mod2sparse_delete_opt(of_mod2sparse *m, of_mod2entry *e, of_mod2entry **__parsing);

// Exchanges rows row0 and row1 by relinking their entries (nothing is
// allocated, so it cannot fail; __swap is accepted and not needed). When
// __links is given (n_cols slots), __links[col] is used as a column-walk hint
// for row0 and then names each entry of the new row0; when __parsing is given
// too, slots row0 .. n_cols-1 of __links are copied over it. Returns the weight
// of the new row0; 0 and nothing done when a row is out of range.
uint32_t of_mod2sparse_swap_rows(of_mod2sparse *m, uint32_t row0, uint32_t row1,
                                 of_mod2sparse *__swap, of_mod2entry **__links,
                                 of_mod2entry **__parsing);

// row1 <- row1 + row0 over GF(2); row0 is unchanged. Returns the weight of the
// new row1. __links (n_cols slots) is a column-walk hint and afterwards names
// the entries of row1 that the merge met; __parsing (n_cols slots) is where a
// hint moves when its entry cancels. Returns 0 and does nothing when a row is
// out of range or memory is short.
uint32_t of_mod2sparse_xor_rows(of_mod2sparse *m, uint32_t row0, uint32_t row1,
                                of_mod2entry **__links, of_mod2entry **__parsing);

// Row and column queries; row and col must be in range. of_mod2sparse_empty_col
// reports a missing matrix and answers false.
bool of_mod2sparse_empty_row(of_mod2sparse *m, uint32_t row);
bool of_mod2sparse_empty_col(of_mod2sparse *m, uint32_t col);
uint32_t of_mod2sparse_weight_row(of_mod2sparse *m, uint32_t row);

// Inserts (index_rows[i], index_cols[c]) into r for every entry (i, c) of m;
// r is not cleared. index_rows has m.n_rows slots and index_cols m.n_cols.
// Returns false when an insertion failed (index outside r, or memory short).
bool of_mod2sparse_copy_filled_matrix(of_mod2sparse *m, of_mod2sparse *r,
                                      const uint32_t *index_rows, const uint32_t *index_cols);

// Text file of a parity-check matrix: four header lines (rows, columns,
// source symbols, repair symbols), then one line per non-empty row listing its
// columns with source symbols numbered first. Returns 1, or 0 on a stream
// error.
uint32_t of_mod2sparse_write_human_readable(FILE *f, of_mod2sparse *m, uint32_t nb_source,
                                            uint32_t nb_parity);

// Largest row or column count that the reader accepts.
constexpr int32_t OF_MOD2SPARSE_READ_MAX_DIM = 1 << 20;

// Reads a file written as above. The file is untrusted: any malformed or
// inconsistent content (over-long line, missing or non-numeric token, counts
// negative or above OF_MOD2SPARSE_READ_MAX_DIM, rows out of sequence or not
// all present, a row without columns, a column outside the matrix) gives none.
of_mod2sparse *of_mod2sparse_read_human_readable(FILE *f, uint32_t *nb_source, uint32_t *nb_parity);

// Diagnostics.
void of_mod2sparse_print(FILE *f, of_mod2sparse *m);
void of_mod2sparse_printf(FILE *f, of_mod2sparse *m);
void of_mod2sparse_print_bitmap(of_mod2sparse *m);
void of_mod2sparse_matrix_stats(FILE *f, of_mod2sparse *m, uint32_t nb_src, uint32_t nb_par);
