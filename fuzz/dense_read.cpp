// of_mod2dense_read on the fuzzer's bytes as a binary file.
//
// Oracle: a matrix the reader accepts, written back by of_mod2dense_write, is
// byte for byte the part of the input it was read from.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "binary/of_matrix_dense.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  const zvfuzz::ExactBuf bytes(data, size);
  std::FILE *f = zvfuzz::read_stream(bytes);
  of_mod2dense *m = of_mod2dense_read(f);
  std::fclose(f);
  if (m == nullptr) return 0;
  const auto written =
      zvfuzz::written_by([m](std::FILE *out) { ZV_FUZZ_CHECK(of_mod2dense_write(out, m) == 1); });
  const size_t expected = 8 + size_t{4} * m->n_rows * m->n_words;
  ZV_FUZZ_CHECK(written.size() == expected && expected <= size);
  ZV_FUZZ_CHECK(std::memcmp(written.data(), data, expected) == 0);
  of_mod2dense_free(m);
  return 0;
}
