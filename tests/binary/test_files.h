// Temporary files for the matrix file tests, removed when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

class TempFile {
 public:
  // Test cases may run as parallel processes, so the name carries the test's
  // own name as well as a per-process counter.
  explicit TempFile(const std::string &name) : path_(::testing::TempDir() + unique(name)) {}
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
  static std::string unique(const std::string &name) {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                       : std::string("none");
    for (char &c : test) {
      if (c == '/') c = '_';
    }
    return "zv_binary_" + test + "_" + std::to_string(counter_++) + "_" + name;
  }

  static inline int counter_ = 0;
  std::string path_;
};
