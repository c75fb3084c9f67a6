// of_mod2sparse_read_human_readable on the fuzzer's bytes as a text file.
//
// Oracle: a matrix the reader accepts is written back by
// of_mod2sparse_write_human_readable and read again into the same matrix with
// the same counts.
#include <cstdint>
#include <cstdio>

#include "binary/of_matrix_sparse.h"
#include "fuzz_support.h"
#include "zvfec/codec_session.h"

namespace {

void release(of_mod2sparse *m) {
  if (m == nullptr) return;
  of_mod2sparse_free(m);
  of_free(m);
}

bool same_matrix(of_mod2sparse *a, of_mod2sparse *b) {
  if (of_mod2sparse_rows(a) != of_mod2sparse_rows(b) ||
      of_mod2sparse_cols(a) != of_mod2sparse_cols(b))
    return false;
  for (int32_t i = 0; i < of_mod2sparse_rows(a); ++i) {
    of_mod2entry *x = of_mod2sparse_first_in_row(a, static_cast<uint32_t>(i));
    of_mod2entry *y = of_mod2sparse_first_in_row(b, static_cast<uint32_t>(i));
    for (; !of_mod2sparse_at_end(x) && !of_mod2sparse_at_end(y);
         x = of_mod2sparse_next_in_row(x), y = of_mod2sparse_next_in_row(y)) {
      if (of_mod2sparse_col(x) != of_mod2sparse_col(y)) return false;
    }
    if (!of_mod2sparse_at_end(x) || !of_mod2sparse_at_end(y)) return false;
  }
  return true;
}

// The matrix in a stream, with the counts the reader gave back; none when
// the reader refused it.
of_mod2sparse *read(const zvfuzz::ExactBuf &text, uint32_t *nb_source, uint32_t *nb_parity) {
  std::FILE *f = zvfuzz::read_stream(text);
  of_mod2sparse *m = of_mod2sparse_read_human_readable(f, nb_source, nb_parity);
  std::fclose(f);
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  uint32_t nb_source = 0, nb_parity = 0;
  of_mod2sparse *m = read(zvfuzz::ExactBuf(data, size), &nb_source, &nb_parity);
  if (m == nullptr) return 0;
  const auto written = zvfuzz::written_by([&](std::FILE *out) {
    ZV_FUZZ_CHECK(of_mod2sparse_write_human_readable(out, m, nb_source, nb_parity) == 1);
  });
  uint32_t source_again = 0, parity_again = 0;
  of_mod2sparse *again =
      read(zvfuzz::ExactBuf(written.data(), written.size()), &source_again, &parity_again);
  ZV_FUZZ_CHECK(again != nullptr);
  ZV_FUZZ_CHECK(source_again == nb_source && parity_again == nb_parity);
  ZV_FUZZ_CHECK(same_matrix(m, again));
  release(again);
  release(m);
  return 0;
}
