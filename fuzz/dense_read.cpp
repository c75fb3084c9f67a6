// of_mod2dense_read on the fuzzer's bytes as a binary file.
//
// Oracle: a matrix the reader accepts, written back by of_mod2dense_write, is
// byte for byte the part of the input it was read from.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "binary/of_matrix_dense.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  zvfuzz::ExactBuf bytes(data, size);
  std::FILE *f = fmemopen(bytes.data(), size, "r");
  ZV_FUZZ_CHECK(f != nullptr);
  of_mod2dense *m = of_mod2dense_read(f);
  std::fclose(f);
  if (m == nullptr) return 0;

  char *written = nullptr;
  size_t written_size = 0;
  std::FILE *out = open_memstream(&written, &written_size);
  ZV_FUZZ_CHECK(out != nullptr);
  ZV_FUZZ_CHECK(of_mod2dense_write(out, m) == 1);
  std::fclose(out);
  const size_t expected = 8 + size_t{4} * m->n_rows * m->n_words;
  ZV_FUZZ_CHECK(written_size == expected && expected <= size);
  ZV_FUZZ_CHECK(std::memcmp(written, data, expected) == 0);
  of_mod2dense_free(m);
  std::free(written);
  return 0;
}
