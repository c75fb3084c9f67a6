// Temporary files for the matrix file tests, removed when the test ends.
#ifndef ZVFEC_TESTS_BINARY_TEST_FILES_H
#define ZVFEC_TESTS_BINARY_TEST_FILES_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

class TempFile {
 public:
  explicit TempFile(const std::string &name)
      : path_(::testing::TempDir() + "zv_binary_" + std::to_string(counter_++) + "_" + name) {}
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;

  const std::string &path() const { return path_; }

  void write(const std::string &bytes) const {
    FILE *f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  std::string read() const {
    std::string out;
    FILE *f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
  }

  FILE *open(const char *mode) const { return std::fopen(path_.c_str(), mode); }

 private:
  static inline int counter_ = 0;
  std::string path_;
};

#endif  // ZVFEC_TESTS_BINARY_TEST_FILES_H
