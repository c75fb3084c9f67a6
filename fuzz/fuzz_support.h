// What every harness needs: reading choices from the fuzzer's bytes, buffers
// allocated at exactly their stated length, and oracle checks that end the run
// as a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

// A broken oracle is a finding like a sanitizer report: abort, so that
// libFuzzer saves the input.
#define ZV_FUZZ_CHECK(cond)                                                            \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "oracle failed: %s at %s:%d\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

namespace zvfuzz {

// The fuzzer's bytes, read front to back as a series of choices. Once they run
// out every choice reads as zero, so a short input is a valid input.
class FuzzInput {
 public:
  FuzzInput(const uint8_t *data, size_t size) : p_(data), n_(size) {}

  uint8_t u8() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  uint16_t u16() { return static_cast<uint16_t>(u8() << 8 | u8()); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) << 16 | u16(); }
  bool flag() { return (u8() & 1) != 0; }
  // A value in lo .. hi (inclusive); hi - lo must fit 16 bits.
  int range(int lo, int hi) {
    const unsigned span = static_cast<unsigned>(hi - lo) + 1;
    const unsigned v = span <= 256 ? u8() : u16();
    return lo + static_cast<int>(v % span);
  }
  // One of the values of a table.
  template <class T, size_t N>
  T pick(const T (&table)[N]) {
    return table[u8() % N];
  }
  // Copies up to `count` bytes (zeros once the input is used up).
  void fill(uint8_t *out, size_t count) {
    const size_t take = count < n_ ? count : n_;
    if (take > 0) std::memcpy(out, p_, take);
    if (count > take) std::memset(out + take, 0, count - take);
    p_ += take;
    n_ -= take;
  }
  // The rest of the input.
  std::pair<const uint8_t *, size_t> rest() {
    auto r = std::make_pair(p_, n_);
    p_ += n_;
    n_ = 0;
    return r;
  }
  size_t remaining() const { return n_; }

 private:
  const uint8_t *p_;
  size_t n_;
};

// Deterministic filler bytes from a seed the fuzzer chose, so that large
// payloads cost the input four bytes.
class Filler {
 public:
  explicit Filler(uint64_t seed) : s_(seed) {}
  uint8_t next() {
    s_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = s_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint8_t>(z ^ (z >> 31));
  }
  void fill(uint8_t *out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = next();
  }

 private:
  uint64_t s_;
};

// A heap buffer of exactly its size, allocated alone, so that AddressSanitizer
// reports the first byte beyond it. A buffer of size 0 is still a distinct
// allocation with a non-null address.
class ExactBuf {
 public:
  ExactBuf() = default;
  explicit ExactBuf(size_t size) : p_(new uint8_t[size]()), n_(size) {}
  ExactBuf(const uint8_t *data, size_t size) : ExactBuf(size) {
    if (size > 0) std::memcpy(p_.get(), data, size);
  }
  ExactBuf clone() const { return p_ ? ExactBuf(p_.get(), n_) : ExactBuf(); }
  // Reallocated at `size`, keeping the common prefix; new bytes are zero.
  void resize(size_t size) {
    ExactBuf grown(size);
    if (p_ && size > 0) std::memcpy(grown.data(), p_.get(), size < n_ ? size : n_);
    *this = std::move(grown);
  }
  uint8_t *data() const { return p_.get(); }
  size_t size() const { return n_; }
  bool same_bytes(const uint8_t *other, size_t size) const {
    return size == n_ && (size == 0 || std::memcmp(p_.get(), other, size) == 0);
  }

 private:
  std::unique_ptr<uint8_t[]> p_;
  size_t n_ = 0;
};

// An array of exactly `count` elements on the heap (none when empty, as a
// caller with no elements would pass NULL).
template <class T>
class ExactArray {
 public:
  explicit ExactArray(size_t count) : p_(count > 0 ? new T[count]() : nullptr), n_(count) {}
  T *data() const { return p_.get(); }
  T &operator[](size_t i) const { return p_[i]; }
  size_t size() const { return n_; }

 private:
  std::unique_ptr<T[]> p_;
  size_t n_;
};

// A read-only stream over a buffer (fmemopen; the buffer must outlive it).
inline std::FILE *read_stream(const ExactBuf &bytes) {
  std::FILE *f = fmemopen(bytes.data(), bytes.size(), "rb");
  ZV_FUZZ_CHECK(f != nullptr);
  return f;
}

// What write(FILE *) prints, collected in memory.
template <class Write>
std::vector<uint8_t> written_by(Write write) {
  char *buf = nullptr;
  size_t size = 0;
  std::FILE *out = open_memstream(&buf, &size);
  ZV_FUZZ_CHECK(out != nullptr);
  write(out);
  std::fclose(out);
  std::vector<uint8_t> bytes(buf, buf + size);
  std::free(buf);
  return bytes;
}

}  // namespace zvfuzz
