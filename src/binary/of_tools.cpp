#include "binary/of_tools.h"

#include "session/diag.h"
#include "zvfec/codec_session.h"

void *of_chk_alloc(uint32_t n, uint32_t size) {
  void *p = of_calloc(n, size);
  if (p == nullptr && n != 0 && size != 0) {
    of_diag(stderr, "Ran out of memory (while trying to allocate %llu bytes)\n",
            static_cast<unsigned long long>(n) * size);
  }
  return p;
}

void of_intio_write(FILE *f, int32_t value) {
  auto v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    std::putc(static_cast<int>(v & 0xFFu), f);
    v >>= 8;
  }
}

int32_t of_intio_read(FILE *f) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const int c = std::getc(f);
    if (c == EOF) return 0;
    v |= static_cast<uint32_t>(c) << (8 * i);
  }
  // The top byte carries the sign; two's complement makes the cast exact.
  return static_cast<int32_t>(v);
}

void of_print_composition(const void *buf, uint32_t size) {
  const auto *bytes = static_cast<const unsigned char *>(buf);
  for (uint32_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) of_diag(stdout, "%d ", static_cast<int>(i));
  }
  of_diag(stdout, "\n");
}
