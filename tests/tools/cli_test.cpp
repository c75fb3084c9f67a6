// Drives the built zvfec program the way a user does.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include "capture.h"
#include "frames.h"
#include "plan.h"
#include "rtp.h"

namespace zvtool {
namespace {

namespace fs = std::filesystem;

const std::string kCapture = std::string(ZV_TEST_DATA) + "/rtp_h264_opus.pcap";
constexpr std::uint8_t kFecPt = 127;
constexpr std::uint32_t kFecSsrcXor = 0x0FEC0FECu;

struct Outcome {
  int status;
  std::string out, err;
};

std::string slurp(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class Cli : public ::testing::Test {
 protected:
  // Unique per process: other builds may run the same tests at the same time.
  fs::path dir =
      fs::temp_directory_path() / (std::string("zvfec_cli_") + std::to_string(getpid()) + "_" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(dir);
  }
  std::string path(const std::string &name) const { return (dir / name).string(); }

  Outcome zvfec(const std::string &args, const std::string &env = "") const {
    const auto out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string cmd = env + " \"" ZVFEC_EXE "\" " + args + " >\"" + out.string() + "\" 2>\"" +
                            err.string() + "\"";
    const int raw = std::system(cmd.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return {status, slurp(out), slurp(err)};
  }
};

Capture load(const std::string &p) {
  std::string error;
  auto c = read_capture(p, &error);
  EXPECT_TRUE(c) << error;
  return c ? *c : Capture{};
}

struct Rtp {
  FlowKey flow;
  RtpHeader h;
  Bytes payload;  // the whole RTP packet
};

std::vector<Rtp> rtp_packets(const Capture &c) {
  std::vector<Rtp> out;
  for (const auto &f : c.frames) {
    const auto v = dissect_udp(c.linktype, f);
    if (!v) continue;
    const ByteView p(f.data.data() + v->payload_off, v->payload_len);
    if (const auto h = parse_rtp(p)) out.push_back({v->flow, *h, Bytes(p.begin(), p.end())});
  }
  return out;
}

using PacketId = std::pair<std::uint32_t, std::uint16_t>;  // media SSRC, sequence number

// What a perfect receiver gets back: every media packet that arrived, plus the
// whole of each group of which at least k packets (media or FEC) arrived. The
// groups are read from the FEC headers of the protected capture.
std::set<PacketId> recoverable(const Capture &protected_cap, const Capture &lossy) {
  struct Group {
    std::uint32_t ssrc;
    std::uint16_t base;
    int k;
    std::set<std::uint16_t> fec_seqs;
  };
  std::map<std::pair<std::uint32_t, std::uint16_t>, Group> groups;  // by media ssrc, base
  for (const auto &p : rtp_packets(protected_cap)) {
    if (p.h.payload_type != kFecPt) continue;
    const auto ssrc = p.h.ssrc ^ kFecSsrcXor;
    const auto base = load_be16(&p.payload[14]);
    auto &g = groups[{ssrc, base}];
    g = {ssrc, base, p.payload[16], g.fec_seqs};
    g.fec_seqs.insert(p.h.seq);
  }
  std::set<PacketId> got, got_fec;
  for (const auto &p : rtp_packets(lossy)) {
    if (p.h.payload_type == kFecPt)
      got_fec.insert({p.h.ssrc ^ kFecSsrcXor, p.h.seq});
    else
      got.insert({p.h.ssrc, p.h.seq});
  }
  std::set<PacketId> out = got;
  for (const auto &[key, g] : groups) {
    int have = 0;
    for (int i = 0; i < g.k; ++i)
      have += got.count({g.ssrc, static_cast<std::uint16_t>(g.base + i)});
    for (auto s : g.fec_seqs) have += got_fec.count({g.ssrc, s});
    if (have >= g.k)
      for (int i = 0; i < g.k; ++i) out.insert({g.ssrc, static_cast<std::uint16_t>(g.base + i)});
  }
  return out;
}

// The recovered capture holds exactly the recoverable media packets, each
// byte for byte as in the original and addressed like its flow, and every
// stream in sequence order.
void expect_restored(const Capture &original, const Capture &protected_cap, const Capture &lossy,
                     const Capture &recovered, const std::string &label) {
  std::map<PacketId, Rtp> sent;
  for (auto &p : rtp_packets(original)) sent[{p.h.ssrc, p.h.seq}] = p;
  const auto want = recoverable(protected_cap, lossy);
  std::set<PacketId> got;
  std::map<std::uint32_t, std::uint16_t> last;
  for (const auto &p : rtp_packets(recovered)) {
    const PacketId id{p.h.ssrc, p.h.seq};
    EXPECT_TRUE(got.insert(id).second) << label << ": seq " << p.h.seq << " twice";
    ASSERT_TRUE(sent.contains(id)) << label << ": seq " << p.h.seq << " was never sent";
    EXPECT_EQ(p.payload, sent[id].payload) << label << ": seq " << p.h.seq;
    EXPECT_EQ(p.flow, sent[id].flow) << label;
    if (last.contains(p.h.ssrc)) {
      EXPECT_GT(static_cast<std::int16_t>(p.h.seq - last[p.h.ssrc]), 0) << label;
    }
    last[p.h.ssrc] = p.h.seq;
  }
  EXPECT_EQ(got, want) << label;
  const auto arrived = rtp_packets(lossy).size();
  EXPECT_LT(arrived, rtp_packets(protected_cap).size()) << label << ": nothing was lost";
}

TEST_F(Cli, RealCaptureProtectedLosingTenPercentIsRestoredByteForByte) {
  const auto original = load(kCapture);
  for (const char *v : {"video-v2", "video-v1", "audio-v2"})
    for (int seed : {1, 2}) {
      const std::string label = std::string(v) + " seed " + std::to_string(seed);
      const auto prot = path("prot.pcap"), lossy = path("lossy.pcap"), rec = path("rec.pcap");
      Outcome r = zvfec("protect " + kCapture + " " + prot + " --variant " + v + " -k 8 -r 3");
      ASSERT_EQ(r.status, 0) << r.err;
      r = zvfec("lossy " + prot + " " + lossy + " --loss 0.1 --seed " + std::to_string(seed));
      ASSERT_EQ(r.status, 0) << r.err;
      r = zvfec("recover " + lossy + " " + rec);
      ASSERT_EQ(r.status, 0) << r.err;
      const auto p = load(prot), l = load(lossy), out = load(rec);
      expect_restored(original, p, l, out, label);
      // The per-SSRC counts agree with the captures.
      for (std::uint32_t ssrc : {0x11223344u, 0x55667788u}) {
        std::size_t in = 0, back = 0;
        for (const auto &x : rtp_packets(l)) in += x.h.ssrc == ssrc;
        for (const auto &x : rtp_packets(out)) back += x.h.ssrc == ssrc;
        char line[64];
        std::snprintf(line, sizeof line, "ssrc %#010x", ssrc);
        const auto at = r.out.find(line);
        ASSERT_NE(at, std::string::npos) << r.out;
        const auto counts = "received " + std::to_string(in) + ", recovered " +
                            std::to_string(back - in) + ", still missing";
        EXPECT_NE(r.out.find(counts, at), std::string::npos) << label << ": " << counts << "\n"
                                                             << r.out;
      }
      // Recovery did something: more media out than came in.
      std::size_t media_in = 0;
      for (const auto &x : rtp_packets(l)) media_in += x.h.payload_type != kFecPt;
      EXPECT_GT(rtp_packets(out).size(), media_in) << label;
    }
}

TEST_F(Cli, FecPacketsCarryTheirOwnRtpHeaderOnThePortPlusOffset) {
  const auto prot = path("prot.pcap");
  ASSERT_EQ(zvfec("protect " + kCapture + " " + prot +
                  " --variant video-v2 -k 10 -r 2 --fec-pt 100 --fec-port-offset 4")
                .status,
            0);
  const auto media = rtp_packets(load(kCapture));
  std::map<std::uint32_t, std::vector<Rtp>> fec;
  std::size_t media_out = 0;
  for (auto &p : rtp_packets(load(prot))) {
    if (p.h.payload_type == 100)
      fec[p.h.ssrc].push_back(p);
    else
      ++media_out;
  }
  EXPECT_EQ(media_out, media.size());
  ASSERT_EQ(fec.size(), 2u);
  for (const auto &[ssrc, list] : fec) {
    const auto media_ssrc = ssrc ^ kFecSsrcXor;
    ASSERT_TRUE(media_ssrc == 0x11223344 || media_ssrc == 0x55667788);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const auto &p = list[i];
      EXPECT_EQ(p.h.seq, static_cast<std::uint16_t>(list[0].h.seq + i));  // own numbering
      EXPECT_EQ(p.payload[12], 1);                                        // video v2 tag
      EXPECT_EQ(p.flow.dport, media_ssrc == 0x11223344 ? 5004 : 5014);
      // The RTP timestamp is that of the group's first media packet.
      const auto base = load_be16(&p.payload[14]);
      bool found = false;
      for (const auto &m : media)
        if (m.h.ssrc == media_ssrc && m.h.seq == base) found = m.h.timestamp == p.h.timestamp;
      EXPECT_TRUE(found) << "group at " << base;
    }
  }
}

TEST_F(Cli, IPv6AndOtherLinkTypesGoThroughTheSameRoundTrip) {
  const auto eth = load(kCapture);
  for (int lt : {DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_NULL, DLT_LOOP})
    for (int ipv : {4, 6}) {
      // The real capture's packets re-framed for this link type and IP version.
      std::vector<Frame> frames;
      for (const auto &f : eth.frames) {
        const auto v = dissect_udp(eth.linktype, f);
        ASSERT_TRUE(v);
        Frame g = frame(lt, ipv, ByteView(f.data.data() + v->payload_off, v->payload_len),
                        v->flow.sport, v->flow.dport);
        g.ts_ns = f.ts_ns;
        frames.push_back(g);
      }
      const auto in = path("in.pcap"), prot = path("prot.pcap"), lossy = path("lossy.pcap"),
                 rec = path("rec.pcap");
      ASSERT_EQ(write_capture(in, lt, frames), "");
      const std::string label = "linktype " + std::to_string(lt) + " IPv" + std::to_string(ipv);
      ASSERT_EQ(zvfec("protect " + in + " " + prot + " --variant video-v2 -k 6 -r 2").status, 0)
          << label;
      ASSERT_EQ(zvfec("lossy " + prot + " " + lossy + " --burst 0.1:2 --seed 3").status, 0);
      const Outcome r = zvfec("recover " + lossy + " " + rec);
      ASSERT_EQ(r.status, 0) << label << r.err;
      const auto out = load(rec);
      EXPECT_EQ(out.linktype, lt);
      expect_restored(load(in), load(prot), load(lossy), out, label);
    }
}

TEST_F(Cli, DamagedCapturesGetAClearMessage) {
  const auto bytes = slurp(kCapture);
  const auto garbage = path("garbage.pcap"), cut = path("cut.pcap"), out = path("out.pcap");
  std::ofstream(garbage, std::ios::binary) << "GARBAGE!" << bytes.substr(8, 200);
  std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2 + 7);
  for (const char *cmd :
       {"protect %s %o --variant video-v2 -k 4 -r 1", "lossy %s %o --loss 0.1", "recover %s %o"}) {
    auto with = [&](const std::string &in) {
      std::string c = cmd;
      c.replace(c.find("%s"), 2, in);
      c.replace(c.find("%o"), 2, out);
      return c;
    };
    Outcome r = zvfec(with(garbage));
    EXPECT_EQ(r.status, 1) << cmd;
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << cmd << ": " << r.err;
    r = zvfec(with(path("missing.pcap")));
    EXPECT_EQ(r.status, 1) << cmd;
    // A capture cut in the middle of a record: the whole records are used.
    r = zvfec(with(cut));
    EXPECT_NE(r.err.find("damaged after"), std::string::npos) << cmd << ": " << r.err;
    if (std::string(cmd).rfind("recover", 0) == 0) {
      EXPECT_EQ(r.status, 1) << "no FEC in an unprotected capture: " << r.err;
    } else {
      EXPECT_EQ(r.status, 0) << cmd << ": " << r.err;
      EXPECT_GT(load(out).frames.size(), 50u);
    }
  }
}

TEST_F(Cli, PacketsThatAreNotRtpArePassedOnOrLeftOut) {
  const auto eth = load(kCapture);
  Capture mixed = eth;
  const Bytes not_rtp{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D};
  Frame arp;
  arp.data.assign(42, 0);
  store_be16(&arp.data[12], 0x0806);
  arp.orig_len = 42;
  Frame tcp = frame(DLT_EN10MB, 4, not_rtp);
  tcp.data[14 + 9] = 6;
  // Interleave junk: non-RTP UDP to the video port, ARP and TCP.
  for (std::size_t i = 0; i < 40; i += 4) {
    mixed.frames.insert(mixed.frames.begin() + static_cast<std::ptrdiff_t>(i * 5),
                        {frame(DLT_EN10MB, 4, not_rtp, 6000, 5000), arp, tcp});
  }
  const auto in = path("mixed.pcap"), prot = path("prot.pcap"), rec = path("rec.pcap");
  ASSERT_EQ(write_capture(in, DLT_EN10MB, mixed.frames), "");
  Outcome r = zvfec("protect " + in + " " + prot + " --variant audio-v2 -k 5 -r 2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("passed through unchanged: 20 non-UDP and 12 non-RTP"), std::string::npos)
      << r.out;
  // Every input frame is in the output, unchanged and in order.
  const auto p = load(prot);
  std::size_t j = 0;
  for (const auto &f : p.frames)
    if (j < mixed.frames.size() && f.data == mixed.frames[j].data) ++j;
  EXPECT_EQ(j, mixed.frames.size());
  r = zvfec("recover " + prot + " " + rec);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("left out: 20 non-UDP, 12 non-RTP"), std::string::npos) << r.out;
  EXPECT_EQ(rtp_packets(load(rec)).size(), rtp_packets(eth).size());
  EXPECT_EQ(load(rec).frames.size(), rtp_packets(eth).size());

  // Nothing but junk: nothing to protect or recover.
  const auto junk = path("junk.pcap");
  ASSERT_EQ(write_capture(junk, DLT_EN10MB, {arp, tcp, frame(DLT_EN10MB, 4, not_rtp)}), "");
  r = zvfec("protect " + junk + " " + prot + " --variant audio-v2 -k 5 -r 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no RTP packets"), std::string::npos) << r.err;
  r = zvfec("recover " + junk + " " + rec);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no RTP packets"), std::string::npos) << r.err;
  // A link type the tool does not read.
  ASSERT_EQ(write_capture(junk, 105, {arp}), "");
  r = zvfec("protect " + junk + " " + prot + " --variant audio-v2 -k 5 -r 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("link type 105"), std::string::npos) << r.err;
}

TEST_F(Cli, GarbageAndForgedFecPacketsNeverBecomeMedia) {
  const auto original = load(kCapture);
  const auto prot = path("prot.pcap");
  ASSERT_EQ(zvfec("protect " + kCapture + " " + prot + " --variant video-v1 -k 8 -r 2").status, 0);
  Capture cap = load(prot);
  // Lose the third media packet of the video stream and put forgeries in front
  // of its group's real FEC packets.
  std::size_t lost_at = 0, video_seen = 0, first_fec = 0;
  Frame tmpl;
  UdpView tv;
  for (std::size_t i = 0; i < cap.frames.size(); ++i) {
    const auto v = dissect_udp(cap.linktype, cap.frames[i]);
    const ByteView pl(cap.frames[i].data.data() + v->payload_off, v->payload_len);
    const auto h = parse_rtp(pl);
    if (!h) continue;
    if (h->ssrc == 0x11223344 && ++video_seen == 3) lost_at = i;
    if (h->payload_type == kFecPt && h->ssrc == (0x11223344u ^ kFecSsrcXor) && !first_fec) {
      first_fec = i;
      tmpl = cap.frames[i];
      tv = *v;
    }
  }
  ASSERT_GT(first_fec, lost_at);
  const Bytes real(tmpl.data.begin() + static_cast<std::ptrdiff_t>(tv.payload_off),
                   tmpl.data.end());
  std::mt19937 rng(4);
  std::vector<Bytes> forged;
  auto forge = [&](auto change) {
    Bytes b = real;
    change(b);
    forged.push_back(b);
  };
  forge([&](Bytes &b) {
    for (std::size_t i = 12; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(rng());
  });
  forge([](Bytes &b) { b.resize(30); });                // shorter than its symbol
  forge([](Bytes &b) { b[13] = 200; });                 // symbol index beyond the group
  forge([](Bytes &b) { b[16] = 0; });                   // k = 0
  forge([](Bytes &b) { b[12] = 0x77; });                // unknown variant
  forge([](Bytes &b) { store_be16(&b[18], 0xFFFC); });  // S far beyond the packet
  forge([](Bytes &b) { b.resize(12); });                // RTP header only
  // A perfect header of the real group in front of a garbage symbol.
  forge([&](Bytes &b) {
    for (std::size_t i = 20; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(rng());
  });
  std::vector<Frame> extra;
  for (const auto &b : forged) {
    Frame f = tmpl;
    f.data = build_udp_frame(tmpl, tv, tv.flow.sport, tv.flow.dport, b);
    f.orig_len = static_cast<std::uint32_t>(f.data.size());
    extra.push_back(f);
  }
  cap.frames.insert(cap.frames.begin() + static_cast<std::ptrdiff_t>(first_fec), extra.begin(),
                    extra.end());
  cap.frames.erase(cap.frames.begin() + static_cast<std::ptrdiff_t>(lost_at));
  const auto lossy = path("lossy.pcap"), rec = path("rec.pcap");
  ASSERT_EQ(write_capture(lossy, cap.linktype, cap.frames), "");
  const Outcome r = zvfec("recover " + lossy + " " + rec);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("ignored 7 malformed FEC packet(s)"), std::string::npos) << r.err;
  // The lost packet came back despite the forgeries; nothing else appeared.
  const auto out = rtp_packets(load(rec));
  EXPECT_EQ(out.size(), rtp_packets(original).size());
  std::map<PacketId, Bytes> sent;
  for (auto &p : rtp_packets(original)) sent[{p.h.ssrc, p.h.seq}] = p.payload;
  for (const auto &p : out) EXPECT_EQ(p.payload, (sent[{p.h.ssrc, p.h.seq}])) << p.h.seq;
}

TEST_F(Cli, SimulatePrintsTheTableJsonAndCsvReproducibly) {
  Outcome r = zvfec("simulate --duration 5");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *s : {"variant", "residual%", "MDS%", "p99 us", "video-v2", "video-v1",
                        "audio-v2", "random 5%", "burst 5% mean 3"})
    EXPECT_NE(r.out.find(s), std::string::npos) << s;

  r = zvfec("simulate --duration 5 --seed 9 --json --csv " + path("a.csv"));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["results"].size(), 6u);
  for (const auto &x : j["results"]) {
    EXPECT_EQ(x["failed_groups"], 0);
    EXPECT_GE(x["lost"].get<int>(), x["recovered"].get<int>());
    EXPECT_GT(x["overhead"].get<double>(), 0.3);
  }
  EXPECT_EQ(j["results"][0]["k"], 10);
  EXPECT_EQ(j["results"][2]["r"], 2);
  const auto csv = slurp(path("a.csv"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 7);

  const auto again = nlohmann::json::parse(zvfec("simulate --duration 5 --seed 9 --json").out);
  const auto other = nlohmann::json::parse(zvfec("simulate --duration 5 --seed 10 --json").out);
  int differ = 0;
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(j["results"][i]["lost"], again["results"][i]["lost"]);
    EXPECT_EQ(j["results"][i]["recovered"], again["results"][i]["recovered"]);
    differ += j["results"][i]["lost"] != other["results"][i]["lost"];
  }
  EXPECT_GT(differ, 0);
}

TEST_F(Cli, SweepPlotsResidualLossAgainstChannelLoss) {
  const auto png = path("out.png"), svg = path("out.svg");
  Outcome r = zvfec("simulate --duration 3 --sweep 0:0.3:0.02 --plot " + png);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("plot written"), std::string::npos);
  const auto bytes = slurp(png);
  ASSERT_GT(bytes.size(), 10000u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  r = zvfec(
      "simulate --duration 3 --variant audio-v2 --burst 0.05:3 --sweep 0:0.2:0.1 --json --plot " +
      svg);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  ASSERT_EQ(j["sweep"].size(), 3u);
  EXPECT_EQ(j["sweep"][1]["results"][0]["channel"]["kind"], "burst");
  EXPECT_NE(slurp(svg).find("<svg"), std::string::npos);
  EXPECT_NE(slurp(svg).find("MDS bound"), std::string::npos);

  r = zvfec("simulate --duration 1 --plot " + path("out.pdf"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(".png or .svg"), std::string::npos) << r.err;
  // Without gnuplot on the PATH the plot fails with a clear message.
  r = zvfec("simulate --duration 1 --sweep 0:0.1:0.1 --plot " + png, "PATH=" + dir.string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("gnuplot was not found"), std::string::npos) << r.err;
}

// The command answers what make_plan answers, with the stream given as a bit
// rate and a packet size, in text, JSON and a plot.
TEST_F(Cli, PlanPrintsTheCheapestShapeAsTextJsonAndPlot) {
  struct Case {
    std::string args;
    PlanRequest req;
  };
  PlanRequest readme;
  readme.channel = LossModel::random(0.05);
  readme.packets_per_s = 2.5e6 / (8 * 1200);
  PlanRequest bursts = readme;
  bursts.variant = ZVFEC_STREAM_AUDIO_V2;
  bursts.channel = *LossModel::gilbert_elliott(0.3, 10);
  bursts.packets_per_s = 50;
  bursts.packet_bytes = 200;
  bursts.target = 1e-6;
  bursts.max_delay_ms = 60;
  for (const auto &c :
       {Case{"--loss 0.05 --rate 2.5M --packet 1200 --target 1e-4 --max-delay 100", readme},
        Case{"--variant audio-v2 --burst 0.3:10 --pps 50 --packet 200 --target 1e-6 "
             "--max-delay 60",
             bursts}}) {
    const Plan want = make_plan(c.req);
    ASSERT_TRUE(want.best);
    const auto &best = want.frontier[*want.best];
    Outcome r = zvfec("plan " + c.args);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto line = fmt::format("k={} r={}:", best.k, best.r);
    EXPECT_NE(r.out.find((want.met ? "cheapest: " : "the closest: ") + line), std::string::npos)
        << r.out;

    r = zvfec("plan " + c.args + " --json");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["met"], want.met) << c.args;
    EXPECT_EQ(j["choice"]["k"], best.k) << c.args;
    EXPECT_EQ(j["choice"]["r"], best.r) << c.args;
    EXPECT_DOUBLE_EQ(j["choice"]["residual_loss"].get<double>(), best.residual) << c.args;
    EXPECT_NE(std::find(j["choices"].begin(), j["choices"].end(), j["choice"]), j["choices"].end());
  }
  // The burst channel is out of reach within 60 ms: said so, in words.
  EXPECT_NE(zvfec("plan --variant audio-v2 --burst 0.3:10 --pps 50 --target 1e-6 --max-delay 60")
                .out.find("no shape within 60 ms reaches 1e-06"),
            std::string::npos);

  const auto svg = path("plan.svg");
  const Outcome r = zvfec("plan --loss 0.05 --pps 260 --target 1e-4 --max-delay 100 --plot " + svg);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto drawn = slurp(svg);
  for (const char *s : {"<svg", "delay &lt;= 25 ms", "delay &lt;= 200 ms", "target"})
    EXPECT_NE(drawn.find(s), std::string::npos) << s;
}

TEST_F(Cli, BadArgumentsAreRefused) {
  struct Case {
    const char *args, *message;
  };
  for (const Case c :
       {Case{"simulate --loss 1.5", "must be a probability"},
        Case{"simulate --burst 0.05", "P:MEANLEN"},
        Case{"simulate --variant video-v2 -k 65", "k must be 1..64"},
        Case{"simulate --variant video-v1 -k 100 -r 40", "at most 128"},
        Case{"simulate --variant opus", "unknown variant"},
        Case{"simulate --sweep 0.3:0:0.1", "FROM:TO:STEP"},
        Case{"simulate --duration 601", "--duration"},
        Case{"protect a b --variant audio-v2 -k 5 -r 65", "r must be 1..64"},
        Case{"protect a b --variant audio-v3 -k 5 -r 2", "audio-v3"},
        Case{"lossy a b", "--loss P or --burst"},
        Case{"plan --pps 260 --target 1e-4 --max-delay 100", "--loss P or --burst"},
        Case{"plan --loss 0.1 --target 1e-4 --max-delay 100", "--pps N or as --rate"},
        Case{"plan --loss 0.1 --rate 2.5X --target 1e-4 --max-delay 100", "bit rate"},
        Case{"plan --loss 0.1 --pps 260 --target 2 --max-delay 100", "--target"},
        Case{"plan --loss 0.1 --pps 260 --target 1e-4", "--max-delay"},
        Case{"plan --loss 0.1 --pps 260 --packet 8 --target 1e-4 --max-delay 9", "packet size"},
        Case{"plan --loss 0.1 --pps 260 --target 1e-4 --max-delay 9 --plot a.pdf", ".png or .svg"},
        Case{"frobnicate", "subcommand"}}) {
    const Outcome r = zvfec(c.args);
    EXPECT_NE(r.status, 0) << c.args;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

}  // namespace
}  // namespace zvtool
