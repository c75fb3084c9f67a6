// A dump of a dense matrix's record and storage sizes on standard output, for
// looking into a failing matrix test.
#pragma once

#include <cstddef>
#include <cstdio>

#include "binary/of_matrix_dense.h"

inline void of_mod2dense_print_memory_info(const of_mod2dense *m) {
  std::printf("m=%p\n", static_cast<const void *>(m));
  std::printf("m->n_rows=%d\n", static_cast<int>(m->n_rows));
  std::printf("m->n_cols=%d\n", static_cast<int>(m->n_cols));
  std::printf("m->n_words=%d\n", static_cast<int>(m->n_words));
  std::printf("m->row=%p\n", static_cast<const void *>(m->row));
  std::printf(" m->row size = %zu\n", size_t{m->n_rows} * sizeof(of_mod2word *));
  std::printf("m->bits=%p\n", static_cast<const void *>(m->bits));
  std::printf(" m->bits size = %zu\n", size_t{m->n_rows} * m->n_words * sizeof(of_mod2word));
  std::printf("sizeof(mod2word)=%zu\n", sizeof(of_mod2word));
}
