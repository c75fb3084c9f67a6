#include "binary/of_matrix_sparse.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "binary/of_weight_stats.h"
#include "session/diag.h"
#include "session/verbosity.h"
#include "zvfec/codec_session.h"

namespace {

void self_link(of_mod2entry *h) {
  h->row = -1;
  h->col = -1;
  h->left = h->right = h->up = h->down = h;
}

// Pushes a fresh block's entries on the free list in index order, so that the
// last entry of the block is handed out first.
bool add_block(of_mod2sparse *m) {
  auto *b = static_cast<of_mod2block *>(of_calloc(1, sizeof(of_mod2block)));
  if (b == nullptr) return false;
  b->next = m->blocks;
  m->blocks = b;
  for (of_mod2entry &e : b->entry) {
    e.row = e.col = -1;
    e.left = m->next_free;
    m->next_free = &e;
  }
  return true;
}

of_mod2entry *alloc_entry(of_mod2sparse *m) {
  if (m->next_free == nullptr && !add_block(m)) return nullptr;
  of_mod2entry *e = m->next_free;
  m->next_free = e->left;
  return e;
}

// Makes sure that the next `count` insertions take no allocator call, so that
// an operation which has started to change a row cannot fail half way.
bool ensure_free(of_mod2sparse *m, uint32_t count) {
  uint32_t have = 0;
  for (of_mod2entry *e = m->next_free; e != nullptr && have < count; e = e->left) ++have;
  while (have < count) {
    if (!add_block(m)) return false;
    have += OF_MOD2SPARSE_BLOCK;
  }
  return true;
}

void link_in_row_before(of_mod2entry *e, of_mod2entry *before) {
  e->right = before;
  e->left = before->left;
  e->left->right = e;
  before->left = e;
}

void link_in_col_before(of_mod2entry *e, of_mod2entry *before) {
  e->down = before;
  e->up = before->up;
  e->up->down = e;
  before->up = e;
}

void unlink_from_col(of_mod2entry *e) {
  e->up->down = e->down;
  e->down->up = e->up;
}

// A hint may be stale (deleted, moved or belonging to a later row); it is only
// followed when it is a live entry of this column above the target row, so a
// stale hint costs a longer walk and never a misplaced entry.
bool usable_hint(const of_mod2entry *h, uint32_t row, uint32_t col) {
  return h != nullptr && h->row >= 0 && h->col == static_cast<int32_t>(col) &&
         h->row < static_cast<int32_t>(row);
}

// The node of column `col` in front of which an entry of `row` belongs, walking
// down from `start` (or from the top when start is not usable).
of_mod2entry *col_successor(of_mod2sparse *m, uint32_t row, uint32_t col, of_mod2entry *start) {
  of_mod2entry *head = &m->cols[col];
  const auto r = static_cast<int32_t>(row);
  if (head->up == head || head->up->row < r) return head;
  of_mod2entry *e = usable_hint(start, row, col) ? start : head->down;
  while (!of_mod2sparse_at_end(e) && e->row < r) e = e->down;
  return e;
}

bool in_bounds(const of_mod2sparse *m, uint32_t row, uint32_t col) {
  return row < static_cast<uint32_t>(m->n_rows) && col < static_cast<uint32_t>(m->n_cols);
}

// Row placement shared by both insertions: either the entry already at
// (row, col), or the node of the row in front of which a new entry belongs.
of_mod2entry *row_place(of_mod2sparse *m, uint32_t row, uint32_t col, bool *exists) {
  of_mod2entry *head = &m->rows[row];
  const auto c = static_cast<int32_t>(col);
  of_mod2entry *last = head->left;
  *exists = false;
  if (last != head && last->col == c) {
    *exists = true;
    return last;
  }
  if (last == head || last->col < c) return head;
  of_mod2entry *e = head->right;
  while (e->col < c) e = e->right;  // stops at the last entry at the latest
  *exists = e->col == c;
  return e;
}

void report_insert_bounds() {
  of_diag(stderr, "mod2sparse_insert: row or column index out of bounds\n");
}

void free_blocks(of_mod2sparse *m) {
  of_mod2block *b = m->blocks;
  while (b != nullptr) {
    of_mod2block *next = b->next;
    of_free(b);
    b = next;
  }
  m->blocks = nullptr;
  m->next_free = nullptr;
}

void verbose_stdout(const char *fmt, int value) {
  if (of_verbosity_level() == 0) return;
  of_diag(stdout, fmt, value);
}

}  // namespace

of_mod2sparse *of_mod2sparse_allocate(uint32_t n_rows, uint32_t n_cols) {
  if (n_rows == 0 || n_cols == 0 || n_rows > INT32_MAX || n_cols > INT32_MAX) return nullptr;
  auto *m = static_cast<of_mod2sparse *>(of_calloc(1, sizeof(of_mod2sparse)));
  if (m == nullptr) return nullptr;
  m->rows = static_cast<of_mod2entry *>(of_calloc(n_rows, sizeof(of_mod2entry)));
  m->cols = static_cast<of_mod2entry *>(of_calloc(n_cols, sizeof(of_mod2entry)));
  if (m->rows == nullptr || m->cols == nullptr) {
    of_free(m->rows);
    of_free(m->cols);
    of_free(m);
    return nullptr;
  }
  m->n_rows = static_cast<int32_t>(n_rows);
  m->n_cols = static_cast<int32_t>(n_cols);
  for (uint32_t i = 0; i < n_rows; ++i) self_link(&m->rows[i]);
  for (uint32_t j = 0; j < n_cols; ++j) self_link(&m->cols[j]);
  return m;
}

void of_mod2sparse_free(of_mod2sparse *m) {
  if (m == nullptr) return;
  of_free(m->rows);
  of_free(m->cols);
  m->rows = m->cols = nullptr;
  free_blocks(m);
}

void of_mod2sparse_clear(of_mod2sparse *m) {
  for (int32_t i = 0; i < m->n_rows; ++i) self_link(&m->rows[i]);
  for (int32_t j = 0; j < m->n_cols; ++j) self_link(&m->cols[j]);
  free_blocks(m);
}

bool of_mod2sparse_copy(of_mod2sparse *m, of_mod2sparse *r) {
  if (m->n_rows > r->n_rows || m->n_cols > r->n_cols) return true;
  of_mod2sparse_clear(r);
  for (int32_t i = 0; i < m->n_rows; ++i) {
    for (of_mod2entry *e = m->rows[i].right; !of_mod2sparse_at_end(e); e = e->right) {
      if (of_mod2sparse_insert(r, e->row, e->col) == nullptr) return false;
    }
  }
  return true;
}

bool of_mod2sparse_copyrows(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *rows) {
  if (m->n_cols > r->n_cols) return true;
  of_mod2sparse_clear(r);
  for (int32_t i = 0; i < r->n_rows; ++i) {
    if (rows[i] >= static_cast<uint32_t>(m->n_rows)) break;
    for (of_mod2entry *e = m->rows[rows[i]].right; !of_mod2sparse_at_end(e); e = e->right) {
      if (of_mod2sparse_insert(r, i, e->col) == nullptr) return false;
    }
  }
  return true;
}

bool of_mod2sparse_copyrows_opt(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *rows,
                                of_mod2entry **__parsing) {
  if (m->n_cols > r->n_cols) return true;
  of_mod2entry **hints = __parsing;
  const bool own = hints == nullptr;
  if (own) {
    hints = static_cast<of_mod2entry **>(of_calloc(m->n_cols, sizeof(of_mod2entry *)));
    if (hints == nullptr) return false;
  }
  bool ok = true;
  for (int32_t i = 0; i < r->n_rows && ok; ++i) {
    if (rows[i] >= static_cast<uint32_t>(m->n_rows)) {
      verbose_stdout("mod2sparse_copyrows_opt: Row index out of range:   rows[i] = %d\n",
                     static_cast<int>(rows[i]));
      break;
    }
    for (of_mod2entry *e = m->rows[rows[i]].right; !of_mod2sparse_at_end(e); e = e->right) {
      of_mod2entry *ne = of_mod2sparse_insert_opt(r, i, e->col, hints);
      if (ne == nullptr) {
        ok = false;
        break;
      }
      if (own) hints[e->col] = ne;
    }
  }
  if (own) of_free(hints);
  return ok;
}

namespace {

bool copycols_impl(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *cols, bool clear_first) {
  if (m->n_rows > r->n_rows) return true;
  of_mod2entry **hints = nullptr;
  if (clear_first) {
    of_mod2sparse_clear(r);
  } else {
    hints = static_cast<of_mod2entry **>(of_calloc(r->n_cols, sizeof(of_mod2entry *)));
    if (hints == nullptr) return false;
  }
  bool ok = true;
  for (int32_t j = 0; j < r->n_cols && ok; ++j) {
    if (cols[j] >= static_cast<uint32_t>(m->n_cols)) {
      verbose_stdout(" mod2sparse_copycols: Column index out of range cols[j] = %d\n",
                     static_cast<int>(cols[j]));
      break;
    }
    for (of_mod2entry *e = m->cols[cols[j]].down; !of_mod2sparse_at_end(e); e = e->down) {
      of_mod2entry *ne = hints != nullptr ? of_mod2sparse_insert_opt(r, e->row, j, hints)
                                          : of_mod2sparse_insert(r, e->row, j);
      if (ne == nullptr) {
        ok = false;
        break;
      }
      if (hints != nullptr) hints[j] = ne;
    }
  }
  of_free(hints);
  return ok;
}

}  // namespace

bool of_mod2sparse_copycols(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *cols) {
  return copycols_impl(m, r, cols, true);
}

bool of_mod2sparse_copycols_opt(of_mod2sparse *m, of_mod2sparse *r, const uint32_t *cols) {
  return copycols_impl(m, r, cols, false);
}

of_mod2entry *of_mod2sparse_find(of_mod2sparse *m, uint32_t row, uint32_t col) {
  if (!in_bounds(m, row, col)) {
    of_diag(stderr, "mod2sparse_find: row or column index out of bounds\n");
    return nullptr;
  }
  const auto r = static_cast<int32_t>(row);
  const auto c = static_cast<int32_t>(col);
  of_mod2entry *rh = &m->rows[row];
  of_mod2entry *ch = &m->cols[col];
  // Matrices are mostly built and probed in ascending order, so the ends of the
  // lists settle most lookups without a walk.
  if (rh->left == rh || rh->left->col < c) return nullptr;
  if (rh->left->col == c) return rh->left;
  if (ch->up == ch || ch->up->row < r) return nullptr;
  if (ch->up->row == r) return ch->up;
  // Both lists run past the target, so the shorter walk decides.
  of_mod2entry *re = rh->right;
  of_mod2entry *ce = ch->down;
  for (;;) {
    if (of_mod2sparse_at_end(re) || re->col > c) return nullptr;
    if (re->col == c) return re;
    re = re->right;
    if (of_mod2sparse_at_end(ce) || ce->row > r) return nullptr;
    if (ce->row == r) return ce;
    ce = ce->down;
  }
}

of_mod2entry *of_mod2sparse_insert(of_mod2sparse *m, uint32_t row, uint32_t col) {
  if (!in_bounds(m, row, col)) {
    report_insert_bounds();
    return nullptr;
  }
  bool exists = false;
  of_mod2entry *rnext = row_place(m, row, col, &exists);
  if (exists) return rnext;
  // The column is checked before anything is linked, so a garbled matrix is
  // reported without being damaged further.
  of_mod2entry *ch = &m->cols[col];
  const auto r = static_cast<int32_t>(row);
  of_mod2entry *cnext = ch;
  if (ch->up != ch && ch->up->row >= r) {
    cnext = ch->down;
    while (cnext->row < r) cnext = cnext->down;
    if (cnext->row == r) {
      of_diag(stderr, "mod2sparse_insert: Garbled matrix\n");
      return nullptr;
    }
  }
  of_mod2entry *e = alloc_entry(m);
  if (e == nullptr) return nullptr;
  e->row = r;
  e->col = static_cast<int32_t>(col);
  link_in_row_before(e, rnext);
  link_in_col_before(e, cnext);
  return e;
}

of_mod2entry *of_mod2sparse_insert_opt(of_mod2sparse *m, uint32_t row, uint32_t col,
                                       of_mod2entry **__parsing) {
  if (!in_bounds(m, row, col)) {
    report_insert_bounds();
    return nullptr;
  }
  bool exists = false;
  of_mod2entry *rnext = row_place(m, row, col, &exists);
  if (exists) return rnext;
  of_mod2entry *cnext = col_successor(m, row, col, __parsing ? __parsing[col] : nullptr);
  of_mod2entry *e = alloc_entry(m);
  if (e == nullptr) return nullptr;
  e->row = static_cast<int32_t>(row);
  e->col = static_cast<int32_t>(col);
  link_in_row_before(e, rnext);
  link_in_col_before(e, cnext);
  return e;
}

void of_mod2sparse_delete(of_mod2sparse *m, of_mod2entry *e) {
  if (e == nullptr) {
    of_diag(stderr, "mod2sparse_delete: Trying to delete a null entry\n");
    return;
  }
  if (e->row < 0 || e->col < 0) {
    of_diag(stderr, "mod2sparse_delete: Trying to delete a header entry (row=%d, col=%d)\n", e->row,
            e->col);
    return;
  }
  unlink_from_col(e);
  e->left->right = e->right;
  e->right->left = e->left;
  // A freed entry looks like a header, so deleting it twice is refused and a
  // hint naming it is never followed.
  e->row = e->col = -1;
  e->left = m->next_free;
  m->next_free = e;
}

void of_mod2sparse_delete_opt(of_mod2sparse *m, of_mod2entry *e, of_mod2entry ** /*__parsing*/) {
  of_mod2sparse_delete(m, e);
}

namespace {

void copy_hint_tail(const of_mod2sparse *m, uint32_t from, of_mod2entry **__links,
                    of_mod2entry **__parsing) {
  if (__links == nullptr || __parsing == nullptr) return;
  for (auto j = static_cast<int32_t>(from); j >= 0 && j < m->n_cols; ++j) {
    __parsing[j] = __links[j];
  }
}

// Relabels every entry of a row list with its new row and moves it to its
// place in its column.
uint32_t settle_row(of_mod2sparse *m, uint32_t row, of_mod2entry **__links) {
  uint32_t count = 0;
  of_mod2entry *head = &m->rows[row];
  for (of_mod2entry *e = head->right; e != head; e = e->right) {
    unlink_from_col(e);
    e->row = static_cast<int32_t>(row);
    const auto col = static_cast<uint32_t>(e->col);
    link_in_col_before(e, col_successor(m, row, col, __links ? __links[col] : nullptr));
    if (__links != nullptr) __links[col] = e;
    ++count;
  }
  return count;
}

}  // namespace

uint32_t of_mod2sparse_swap_rows(of_mod2sparse *m, uint32_t row0, uint32_t row1,
                                 of_mod2sparse * /*__swap*/, of_mod2entry **__links,
                                 of_mod2entry **__parsing) {
  const auto n_rows = static_cast<uint32_t>(m->n_rows);
  if (row0 >= n_rows || row1 >= n_rows) return 0;
  if (row0 == row1) {
    if (__links == nullptr) return 0;
    uint32_t count = 0;
    for (of_mod2entry *e = m->rows[row0].right; !of_mod2sparse_at_end(e); e = e->right) {
      __links[e->col] = e;
      ++count;
    }
    copy_hint_tail(m, row0, __links, __parsing);
    return count;
  }
  // Exchange the two row lists under their headers, then fix the columns.
  of_mod2entry *h0 = &m->rows[row0];
  of_mod2entry *h1 = &m->rows[row1];
  of_mod2entry *first0 = h0->right, *last0 = h0->left;
  of_mod2entry *first1 = h1->right, *last1 = h1->left;
  auto adopt = [](of_mod2entry *h, of_mod2entry *old_h, of_mod2entry *first, of_mod2entry *last) {
    if (first == old_h) {
      h->left = h->right = h;
      return;
    }
    h->right = first;
    h->left = last;
    first->left = h;
    last->right = h;
  };
  adopt(h0, h1, first1, last1);
  adopt(h1, h0, first0, last0);
  const uint32_t weight = settle_row(m, row0, __links);
  settle_row(m, row1, nullptr);
  copy_hint_tail(m, row0, __links, __parsing);
  return weight;
}

uint32_t of_mod2sparse_xor_rows(of_mod2sparse *m, uint32_t row0, uint32_t row1,
                                of_mod2entry **__links, of_mod2entry **__parsing) {
  const auto n_rows = static_cast<uint32_t>(m->n_rows);
  if (row0 >= n_rows || row1 >= n_rows) return 0;
  of_mod2entry *h0 = &m->rows[row0];
  of_mod2entry *h1 = &m->rows[row1];
  uint32_t count = 0;
  if (h0->right == h0) {
    for (of_mod2entry *e = h1->right; e != h1; e = e->right) {
      if (__links != nullptr) __links[e->col] = e;
      ++count;
    }
    return count;
  }
  if (row0 == row1) {
    while (h1->right != h1) of_mod2sparse_delete(m, h1->right);
    return 0;
  }
  // Every new entry of row1 comes from row0, so reserving row0's weight up
  // front means the merge below never meets an allocation failure.
  if (!ensure_free(m, of_mod2sparse_weight_row(m, row0))) return 0;
  of_mod2entry *e0 = h0->right;
  of_mod2entry *e1 = h1->right;
  while (e0 != h0) {
    if (e1 == h1 || e0->col < e1->col) {
      const auto col = static_cast<uint32_t>(e0->col);
      of_mod2entry *ne = alloc_entry(m);
      ne->row = static_cast<int32_t>(row1);
      ne->col = e0->col;
      link_in_row_before(ne, e1);
      link_in_col_before(ne, col_successor(m, row1, col, __links ? __links[col] : nullptr));
      if (__links != nullptr) __links[col] = ne;
      ++count;
      e0 = e0->right;
    } else if (e0->col > e1->col) {
      if (__links != nullptr) __links[e1->col] = e1;
      ++count;
      e1 = e1->right;
    } else {
      if (__links != nullptr) {
        of_mod2entry *above = e1->up;
        __links[e1->col] = __parsing != nullptr          ? __parsing[e1->col]
                           : of_mod2sparse_at_end(above) ? nullptr
                                                         : above;
      }
      of_mod2entry *next = e1->right;
      of_mod2sparse_delete(m, e1);
      e1 = next;
      e0 = e0->right;
    }
  }
  for (; e1 != h1; e1 = e1->right) {
    if (__links != nullptr) __links[e1->col] = e1;
    ++count;
  }
  return count;
}

bool of_mod2sparse_empty_row(of_mod2sparse *m, uint32_t row) {
  return of_mod2sparse_at_end(m->rows[row].right);
}

bool of_mod2sparse_empty_col(of_mod2sparse *m, uint32_t col) {
  if (m == nullptr) {
    of_diag(stderr, "mod2sparse_empty_col: Matrix m does not exist.");
    return false;
  }
  return of_mod2sparse_at_end(m->cols[col].down);
}

uint32_t of_mod2sparse_weight_row(of_mod2sparse *m, uint32_t row) {
  uint32_t w = 0;
  for (of_mod2entry *e = m->rows[row].right; !of_mod2sparse_at_end(e); e = e->right) ++w;
  return w;
}

bool of_mod2sparse_copy_filled_matrix(of_mod2sparse *m, of_mod2sparse *r,
                                      const uint32_t *index_rows, const uint32_t *index_cols) {
  for (int32_t i = 0; i < m->n_rows; ++i) {
    for (of_mod2entry *e = m->rows[i].right; !of_mod2sparse_at_end(e); e = e->right) {
      if (of_mod2sparse_insert(r, index_rows[i], index_cols[e->col]) == nullptr) return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Human-readable file.

namespace {

// Each piece goes through a small buffer and one write, and the stream's error
// flag is looked at after every write.
bool put_int(FILE *f, const char *fmt, int value) {
  char buf[20];
  const int n = std::snprintf(buf, sizeof(buf), fmt, value);
  if (n < 0 || static_cast<size_t>(n) >= sizeof(buf)) return false;
  std::fwrite(buf, 1, static_cast<size_t>(n), f);
  return std::ferror(f) == 0;
}

constexpr size_t kLineBuffer = 1024;

enum class LineResult { kLine, kEnd, kBad };

// Reads one line into buf (NUL-terminated, newline dropped). A line that does
// not fit, holds a NUL byte, or meets a stream error is bad.
LineResult read_line(FILE *f, char *buf) {
  size_t len = 0;
  int c = std::getc(f);
  if (c == EOF) return std::ferror(f) ? LineResult::kBad : LineResult::kEnd;
  while (c != EOF && c != '\n') {
    if (c == '\0' || len + 1 >= kLineBuffer) return LineResult::kBad;
    buf[len++] = static_cast<char>(c);
    c = std::getc(f);
  }
  if (c == EOF && std::ferror(f)) return LineResult::kBad;
  buf[len] = '\0';
  return LineResult::kLine;
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\r' || c == '\f';
}

// The next whitespace-separated token of *p, NUL-terminated in place, or none.
char *next_token(char **p) {
  char *s = *p;
  while (*s != '\0' && is_blank(*s)) ++s;
  if (*s == '\0') return nullptr;
  char *t = s;
  while (*s != '\0' && !is_blank(*s)) ++s;
  if (*s != '\0') *s++ = '\0';
  *p = s;
  return t;
}

bool parse_int(const char *tok, int32_t *out) {
  if (tok == nullptr) return false;
  errno = 0;
  char *end = nullptr;
  const long v = std::strtol(tok, &end, 10);
  if (end == tok || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  *out = static_cast<int32_t>(v);
  return true;
}

of_mod2sparse *refuse(of_mod2sparse *m, const char *why, int line) {
  if (why != nullptr) of_diag(stderr, "Error reading file: %s (row %d)\n", why, line);
  of_mod2sparse_free(m);
  of_free(m);
  return nullptr;
}

}  // namespace

uint32_t of_mod2sparse_write_human_readable(FILE *f, of_mod2sparse *m, uint32_t nb_source,
                                            uint32_t nb_parity) {
  const auto src = static_cast<int>(nb_source);
  const auto par = static_cast<int32_t>(nb_parity);
  if (!put_int(f, " %d\n", m->n_rows) || !put_int(f, " %d\n", m->n_cols) ||
      !put_int(f, " %d\n", src) || !put_int(f, " %d", par)) {
    return 0;
  }
  for (int32_t i = 0; i < m->n_rows; ++i) {
    of_mod2entry *h = &m->rows[i];
    if (h->right == h) continue;
    if (!put_int(f, "\n %5d", i)) return 0;
    // The file numbers source symbols first, memory numbers repair symbols
    // first; two passes keep each group in ascending order.
    for (of_mod2entry *e = h->right; e != h; e = e->right) {
      if (e->col >= par && !put_int(f, "  %7d ", e->col - par)) return 0;
    }
    for (of_mod2entry *e = h->right; e != h; e = e->right) {
      if (e->col < par && !put_int(f, "  %7d ", src + e->col)) return 0;
    }
  }
  return std::ferror(f) == 0 ? 1 : 0;
}

of_mod2sparse *of_mod2sparse_read_human_readable(FILE *f, uint32_t *nb_source,
                                                 uint32_t *nb_parity) {
  char line[kLineBuffer];
  int32_t header[4];
  for (int32_t &value : header) {
    char *p = line;
    if (read_line(f, line) != LineResult::kLine || !parse_int(next_token(&p), &value)) {
      return refuse(nullptr, "bad header", 0);
    }
  }
  const int32_t n_rows = header[0], n_cols = header[1], src = header[2], par = header[3];
  for (int32_t value : header) {
    if (value < 0 || value > OF_MOD2SPARSE_READ_MAX_DIM) {
      return refuse(nullptr, "count out of range", 0);
    }
  }
  if (nb_source != nullptr) *nb_source = static_cast<uint32_t>(src);
  if (nb_parity != nullptr) *nb_parity = static_cast<uint32_t>(par);
  if (src + par < n_cols || par < n_rows) return nullptr;
  of_mod2sparse *m =
      of_mod2sparse_allocate(static_cast<uint32_t>(n_rows), static_cast<uint32_t>(n_cols));
  if (m == nullptr) return nullptr;

  int32_t row = 0;
  for (;;) {
    const LineResult got = read_line(f, line);
    if (got == LineResult::kEnd) break;
    if (got == LineResult::kBad) return refuse(m, "unreadable line", row);
    char *p = line;
    const char *tok = next_token(&p);
    if (tok == nullptr || tok[0] == '#') continue;
    int32_t number = 0;
    if (!parse_int(tok, &number)) return refuse(m, "bad row number", row);
    if (number != row) {
      of_diag(stderr, "Error reading file: reading line %d should be %d\n", number, row);
      return refuse(m, nullptr, row);
    }
    if (row >= n_rows) return refuse(m, "row outside the matrix", row);
    int entries = 0;
    while ((tok = next_token(&p)) != nullptr) {
      int32_t v = 0;
      if (!parse_int(tok, &v) || v < 0 || v >= src + par) {
        return refuse(m, "bad column", row);
      }
      const int32_t col = v < src ? v + par : v - src;
      if (col >= n_cols) return refuse(m, "column outside the matrix", row);
      if (of_mod2sparse_insert(m, static_cast<uint32_t>(row), static_cast<uint32_t>(col)) ==
          nullptr) {
        return refuse(m, nullptr, row);
      }
      ++entries;
    }
    // The writer never writes an empty row, so one here is a cut file.
    if (entries == 0) return refuse(m, "row without columns", row);
    ++row;
  }
  if (row != n_rows) return refuse(m, "rows missing", row);
  return m;
}

// ---------------------------------------------------------------------------
// Diagnostics.

namespace {

int digits_for(int32_t count) {
  if (count < 11) return 1;
  if (count < 101) return 2;
  if (count < 1001) return 3;
  if (count < 10001) return 4;
  if (count <= 100000) return 5;
  return 6;
}

}  // namespace

void of_mod2sparse_print(FILE *f, of_mod2sparse *m) {
  const int rdig = digits_for(m->n_rows);
  const int cdig = digits_for(m->n_cols);
  for (int32_t i = 0; i < m->n_rows; ++i) {
    std::fprintf(f, "%*d:", rdig, i);
    for (of_mod2entry *e = m->rows[i].right; !of_mod2sparse_at_end(e); e = e->right) {
      std::fprintf(f, " %*d", cdig, e->col);
    }
    std::fputc('\n', f);
  }
}

void of_mod2sparse_printf(FILE *f, of_mod2sparse *m) {
  for (int32_t i = 0; i < m->n_rows; ++i) {
    int32_t next = 0;
    for (of_mod2entry *e = m->rows[i].right; !of_mod2sparse_at_end(e); e = e->right) {
      for (; next < e->col; ++next) std::fputc(' ', f);
      std::fputc('1', f);
      next = e->col + 1;
    }
    for (; next < m->n_cols; ++next) std::fputc(' ', f);
    std::fputc('\n', f);
  }
}

void of_mod2sparse_print_bitmap(of_mod2sparse * /*m*/) {}

void of_mod2sparse_matrix_stats(FILE *f, of_mod2sparse *m, uint32_t /*nb_src*/, uint32_t nb_par) {
  of_weight_stats rows{}, cols{}, data{}, parity{};
  if (of_weight_stats_init(&rows, 50) && of_weight_stats_init(&cols, 1000) &&
      of_weight_stats_init(&data, 1000) && of_weight_stats_init(&parity, 1000)) {
    for (int32_t i = 0; i < m->n_rows; ++i) {
      of_weight_stats_add(&rows,
                          static_cast<int>(of_mod2sparse_weight_row(m, static_cast<uint32_t>(i))));
    }
    for (int32_t j = 0; j < m->n_cols; ++j) {
      int w = 0;
      for (of_mod2entry *e = m->cols[j].down; !of_mod2sparse_at_end(e); e = e->down) ++w;
      of_weight_stats_add(&cols, w);
      of_weight_stats_add(static_cast<uint32_t>(j) >= nb_par ? &data : &parity, w);
    }
    const double density = of_print_row_col_stats(f, m->n_rows, m->n_cols, &rows, &cols);
    std::fprintf(f, "------- \n");
    of_weight_stats_print(f, &data, " min_entry_per_data_col=%d \n",
                          " max_entry_per_data_col=%d \n", " nb_entry_data_col[%d]=%d \n", false);
    std::fprintf(f, "------- \n");
    of_weight_stats_print(f, &parity, " min_entry_per_parity_col=%d \n",
                          " max_entry_per_parity_col=%d \n", " nb_entry_parity_col[%d]=%d \n",
                          false);
    std::fprintf(f, "------------------ \n");
    std::fprintf(f, " matrix_density=%f \n", density);
  }
  of_weight_stats_free(&rows);
  of_weight_stats_free(&cols);
  of_weight_stats_free(&data);
  of_weight_stats_free(&parity);
}
