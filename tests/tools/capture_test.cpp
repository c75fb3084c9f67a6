#include "capture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include "frames.h"
#include "rtp.h"

namespace zvtool {
namespace {

std::uint16_t ones_sum(const std::uint8_t *p, std::size_t n, std::uint32_t acc) {
  for (std::size_t i = 0; i < n; ++i) acc += (i & 1) ? p[i] : static_cast<std::uint32_t>(p[i]) << 8;
  while (acc >> 16) acc = (acc & 0xFFFF) + (acc >> 16);
  return static_cast<std::uint16_t>(acc);
}

const int kLinkTypes[] = {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_NULL, DLT_LOOP, DLT_RAW};

TEST(Capture, FindsAndRebuildsUdpOnEveryLinkTypeAndIpVersion) {
  const Bytes payload{0x80, 96, 0, 1, 0, 0, 0, 9, 0, 0, 0, 7, 0xAA, 0xBB};
  const Bytes other{1, 2, 3, 4, 5, 6, 7};
  for (int lt : kLinkTypes)
    for (int ipv : {4, 6}) {
      const auto label = ::testing::Message() << "linktype " << lt << " IPv" << ipv;
      EXPECT_TRUE(linktype_supported(lt)) << label;
      const Frame f = frame(lt, ipv, payload);
      const auto v = dissect_udp(lt, f);
      ASSERT_TRUE(v) << label;
      EXPECT_EQ(v->flow.ip_version, ipv);
      EXPECT_EQ(v->flow.sport, 4000);
      EXPECT_EQ(v->flow.dport, 5000);
      EXPECT_EQ(Bytes(f.data.begin() + static_cast<std::ptrdiff_t>(v->payload_off), f.data.end()),
                payload)
          << label;

      Frame g;
      g.data = build_udp_frame(f, *v, 4000, 5002, other);
      g.orig_len = static_cast<std::uint32_t>(g.data.size());
      ASSERT_EQ(g.data.size(), f.data.size() - payload.size() + other.size());
      const auto w = dissect_udp(lt, g);
      ASSERT_TRUE(w) << label;
      EXPECT_EQ(w->flow.dport, 5002);
      EXPECT_EQ(w->flow.src, v->flow.src);
      EXPECT_EQ(w->payload_len, other.size());
      // Both checksums verify: the ones' complement sum comes out all ones.
      const std::uint8_t *ip = g.data.data() + w->l3_off;
      const std::uint8_t *udp = g.data.data() + w->l4_off;
      const std::size_t udp_len = 8 + other.size();
      std::uint32_t pseudo = 17 + static_cast<std::uint32_t>(udp_len);
      if (ipv == 4) {
        EXPECT_EQ(ones_sum(ip, 20, 0), 0xFFFF) << label;
        pseudo += ones_sum(ip + 12, 8, 0);
      } else {
        pseudo += ones_sum(ip + 8, 32, 0);
      }
      EXPECT_EQ(ones_sum(udp, udp_len, pseudo), 0xFFFF) << label;
    }
}

TEST(Capture, RefusesWhatIsNotAWholeUdpDatagram) {
  const Bytes payload(20, 0x55);
  struct Case {
    const char *what;
    Frame f;
    int linktype = DLT_EN10MB;
  };
  std::vector<Case> cases;
  auto add = [&](const char *what, auto change, int lt = DLT_EN10MB) {
    Frame f = frame(lt, 4, payload);
    change(f);
    cases.push_back({what, f, lt});
  };
  add("TCP", [](Frame &f) { f.data[14 + 9] = 6; });
  add("ARP", [](Frame &f) { store_be16(&f.data[12], 0x0806); });
  add("IPv4 fragment", [](Frame &f) { f.data[14 + 6] = 0x20; });
  add("cut by snaplen", [](Frame &f) { f.data.resize(f.data.size() - 4); });
  add("UDP longer than IP", [](Frame &f) { store_be16(&f.data[14 + 24], 200); });
  add("IP longer than frame", [](Frame &f) { store_be16(&f.data[14 + 2], 900); });
  add("header length beyond", [](Frame &f) { f.data[14] = 0x4F; });
  add("IPv6 inside an IPv4 ethertype", [](Frame &f) { f.data[14] = 0x65; });
  add("empty", [](Frame &f) {
    f.data.clear();
    f.orig_len = 0;
  });
  add(
      "only a link header",
      [](Frame &f) {
        f.data.resize(4);
        f.orig_len = 4;
      },
      DLT_NULL);
  add(
      "unknown family", [](Frame &f) { f.data[0] = 99; }, DLT_NULL);
  for (const auto &c : cases) EXPECT_FALSE(dissect_udp(c.linktype, c.f)) << c.what;

  Frame frag = frame(DLT_EN10MB, 6, payload);
  frag.data[14 + 6] = 44;  // a fragment header instead of UDP
  EXPECT_FALSE(dissect_udp(DLT_EN10MB, frag));
  EXPECT_FALSE(dissect_udp(/*IEEE 802.11*/ 105, frame(DLT_EN10MB, 4, payload)));
  EXPECT_FALSE(linktype_supported(105));
}

class CaptureFiles : public ::testing::Test {
 protected:
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("zvfec_capture_" + std::to_string(getpid()) + "_" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { std::filesystem::create_directories(dir); }
  void TearDown() override { std::filesystem::remove_all(dir); }
};

TEST_F(CaptureFiles, WritesAndReadsBackFramesAndNanosecondTimes) {
  std::vector<Frame> frames;
  for (int i = 0; i < 5; ++i) {
    Frame f = frame(DLT_LINUX_SLL2, 6,
                    Bytes(static_cast<std::size_t>(i * 10), static_cast<std::uint8_t>(i)));
    f.ts_ns = 1700000000123456789 + i;
    frames.push_back(f);
  }
  const auto path = (dir / "out.pcap").string();
  ASSERT_EQ(write_capture(path, DLT_LINUX_SLL2, frames), "");
  std::string error;
  const auto cap = read_capture(path, &error);
  ASSERT_TRUE(cap) << error;
  EXPECT_EQ(cap->linktype, DLT_LINUX_SLL2);
  EXPECT_TRUE(cap->warning.empty());
  ASSERT_EQ(cap->frames.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(cap->frames[i].data, frames[i].data);
    EXPECT_EQ(cap->frames[i].ts_ns, frames[i].ts_ns);
  }
}

TEST_F(CaptureFiles, DamagedFilesAreReportedNotTrusted) {
  std::vector<Frame> frames(3, frame(DLT_EN10MB, 4, Bytes(100, 1)));
  const auto path = (dir / "good.pcap").string();
  ASSERT_EQ(write_capture(path, DLT_EN10MB, frames), "");
  const auto size = std::filesystem::file_size(path);

  // Cut inside the last record: the first two frames survive, with a warning.
  std::filesystem::resize_file(path, size - 50);
  std::string error;
  auto cap = read_capture(path, &error);
  ASSERT_TRUE(cap) << error;
  EXPECT_EQ(cap->frames.size(), 2u);
  EXPECT_NE(cap->warning.find("damaged"), std::string::npos);

  // A header that is not a capture header, and a missing file.
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << "this is not a packet capture at all, just text";
  }
  EXPECT_FALSE(read_capture(path, &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
  EXPECT_FALSE(read_capture((dir / "missing.pcap").string(), &error));
}

// The stream reader gives what the file reader gives, names the stream in its
// messages, and closes the stream either way (the sanitizer build sees a leak
// otherwise).
TEST_F(CaptureFiles, StreamReadsLikeItsFile) {
  const std::vector<Frame> frames(2, frame(DLT_EN10MB, 4, Bytes(30, 7)));
  const auto path = (dir / "stream.pcap").string();
  ASSERT_EQ(write_capture(path, DLT_EN10MB, frames), "");
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  const auto cap = read_capture(fmemopen(bytes.data(), bytes.size(), "rb"), "memory", &error);
  ASSERT_TRUE(cap) << error;
  ASSERT_EQ(cap->frames.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(cap->frames[i].data, frames[i].data);

  std::string text = "not a capture";
  EXPECT_FALSE(read_capture(fmemopen(text.data(), text.size(), "rb"), "memory", &error));
  EXPECT_NE(error.find("cannot read 'memory'"), std::string::npos) << error;
}

}  // namespace
}  // namespace zvtool
