// The exported frame: handles, dispatch, version text and logging.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/handle.h"
#include "media/log.h"
#include "zv_rsfec.h"

namespace {

std::vector<std::string> g_lines;
void collect(const char *text) { g_lines.emplace_back(text); }

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    zv_rsfec_register_log_callback(collect);
    zv_rsfec_set_log_level(ZV_FEC_LOG_NONE);
  }
  void TearDown() override {
    zv_rsfec_register_log_callback(nullptr);
    zv_rsfec_set_log_level(ZV_FEC_LOG_NONE);
  }
};

int encode_nothing(void *h) {
  return zv_rsfec_encode(h, 0, nullptr, nullptr, 0, 0, 0, nullptr, nullptr);
}

int decode_nothing(void *h, int *num) {
  *num = 77;
  return zv_rsfec_decode(h, nullptr, nullptr, 0, nullptr, nullptr, 0, 0, nullptr, nullptr, num);
}

// The text of a log line behind its "<line>:" prefix; empty when the prefix is
// not a decimal number followed by a colon.
std::string body_of(const std::string &line) {
  size_t i = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  if (i == 0 || i >= line.size() || line[i] != ':') return {};
  return line.substr(i + 1);
}

TEST_F(FrameTest, RefusedPairsReturnZeroWithTheirMessages) {
  zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  struct Case {
    int type, version;
    const char *message;
  };
  const Case cases[] = {
      {ZV_FEC_AUDIO, ZV_FEC_VERSION_1,
       "zv_rsfec_initilize param error. error.type = 0 version=0 \n"},
      {ZV_FEC_VIDEO, 7, "zv_rsfec_initilize param error. type = 1 version=7 \n"},
      {9, -1, "zv_rsfec_initilize param error. type = 9 version=-1 \n"},
  };
  for (const Case &c : cases) {
    g_lines.clear();
    void *h = reinterpret_cast<void *>(0x1);
    EXPECT_EQ(zv_rsfec_initilize(c.type, c.version, &h), 0);
    EXPECT_EQ(h, reinterpret_cast<void *>(0x1)) << "refusal must not write *obj";
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(body_of(g_lines[0]), c.message);
  }
}

TEST_F(FrameTest, AcceptedPairsWithoutVariantAnswerMinus4096) {
  const int pairs[][2] = {{ZV_FEC_AUDIO, 7}, {5, ZV_FEC_VERSION_2}, {5, ZV_FEC_VERSION_1}};
  for (const auto &p : pairs) {
    void *h = nullptr;
    ASSERT_EQ(zv_rsfec_initilize(p[0], p[1], &h), 1);
    EXPECT_EQ(zv_rsfec_is_initilized(h), 1);
    int num = 0;
    EXPECT_EQ(encode_nothing(h), -4096);
    EXPECT_EQ(decode_nothing(h, &num), -4096);
    EXPECT_EQ(num, 0);
    zv_rsfec_destory(h);
  }
}

TEST_F(FrameTest, CreatedHandleHoldsItsFields) {
  zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  void *h = nullptr;
  ASSERT_EQ(zv_rsfec_initilize(ZV_FEC_VIDEO, ZV_FEC_VERSION_2, &h), 1);
  const auto *obj = static_cast<const zv_rsfec_obj *>(h);
  EXPECT_EQ(obj->initlized, 1);
  EXPECT_EQ(obj->type, ZV_FEC_VIDEO);
  EXPECT_EQ(obj->ver, ZV_FEC_VERSION_2);
  ASSERT_EQ(g_lines.size(), 1u);
  EXPECT_EQ(body_of(g_lines[0]), "zv_rsfec_initilize type=1  version=1 \n");
  zv_rsfec_destory(h);
}

TEST_F(FrameTest, UninitialisedAndNullHandlesAnswerMinus1) {
  zv_rsfec_obj cleared{0, ZV_FEC_VIDEO, ZV_FEC_VERSION_2};
  int num = 0;
  for (void *h : {static_cast<void *>(&cleared), static_cast<void *>(nullptr)}) {
    EXPECT_EQ(encode_nothing(h), -1);
    EXPECT_EQ(decode_nothing(h, &num), -1);
    EXPECT_EQ(num, 0);
    EXPECT_EQ(zv_rsfec_is_initilized(h), 0);
  }
  zv_rsfec_destory(nullptr);  // does nothing
}

TEST_F(FrameTest, NothingIsLoggedAtTheInitialLevel) {
  void *h = nullptr;
  EXPECT_EQ(zv_rsfec_initilize(ZV_FEC_AUDIO, ZV_FEC_VERSION_1, &h), 0);  // an ERROR line
  ASSERT_EQ(zv_rsfec_initilize(ZV_FEC_AUDIO, ZV_FEC_VERSION_2, &h), 1);  // an INFO line
  zv_rsfec_destory(h);
  EXPECT_TRUE(g_lines.empty());
}

TEST_F(FrameTest, LevelFiltersInfoAndError) {
  struct Case {
    ZV_FEC_LOG_SERVERITY_E level;
    size_t expected_lines;
  };
  for (const Case &c :
       {Case{ZV_FEC_LOG_SENSITIVE, 2}, Case{ZV_FEC_LOG_INFO, 2}, Case{ZV_FEC_LOG_WARNING, 1},
        Case{ZV_FEC_LOG_ERROR, 1}, Case{ZV_FEC_LOG_NONE, 0}}) {
    g_lines.clear();
    zv_rsfec_set_log_level(c.level);
    void *h = nullptr;
    EXPECT_EQ(zv_rsfec_initilize(ZV_FEC_AUDIO, ZV_FEC_VERSION_1, &h), 0);
    ASSERT_EQ(zv_rsfec_initilize(ZV_FEC_AUDIO, ZV_FEC_VERSION_2, &h), 1);
    zv_rsfec_destory(h);
    ASSERT_EQ(g_lines.size(), c.expected_lines) << "level " << c.level;
    for (const std::string &line : g_lines) EXPECT_FALSE(body_of(line).empty()) << line;
    if (c.expected_lines == 1) {
      EXPECT_NE(g_lines[0].find("error.type"), std::string::npos);
    }
  }
}

TEST_F(FrameTest, LongMessageIsCutTo2047Characters) {
  zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  const std::string text(3000, 'x');
  zv_rsfec_log_print(ZV_FEC_LOG_ERROR, 123, "%s", text.c_str());
  ASSERT_EQ(g_lines.size(), 1u);
  EXPECT_EQ(g_lines[0].size(), 2047u);
  EXPECT_EQ(g_lines[0].substr(0, 5), "123:x");

  g_lines.clear();
  zv_rsfec_log_print(ZV_FEC_LOG_ERROR, 7, "%s", std::string(2045, 'y').c_str());
  ASSERT_EQ(g_lines.size(), 1u);
  EXPECT_EQ(g_lines[0], "7:" + std::string(2045, 'y'));
}

TEST_F(FrameTest, LogLinesFormatSizesAndWideIntegers) {
  // The same formats on every platform, Windows' C runtime included.
  zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  zv_rsfec_log_print(ZV_FEC_LOG_ERROR, 9, "%zu %lld %llu", size_t{4096}, -5000000000LL,
                     18446744073709551615ULL);
  ASSERT_EQ(g_lines.size(), 1u);
  EXPECT_EQ(g_lines[0], "9:4096 -5000000000 18446744073709551615");
}

TEST_F(FrameTest, LogPrintWithoutCallbackDoesNothing) {
  zv_rsfec_set_log_level(ZV_FEC_LOG_INFO);
  zv_rsfec_register_log_callback(nullptr);
  EXPECT_EQ(zv_rsfec_log_print(ZV_FEC_LOG_ERROR, 1, "%s", "dropped"), -1);
  EXPECT_TRUE(g_lines.empty());
}

TEST_F(FrameTest, VersionTextIsStable) {
  const char *first = zv_rsfec_version();
  EXPECT_STREQ(first, "Release 1.0.0.0 Build Aug 18 2022 14:02:55");
  EXPECT_EQ(zv_rsfec_version(), first);
}

}  // namespace
