// zvfecenc and zvfecdec in real pipelines with Debian's encoders, payloaders,
// depayloaders and decoders: 10 % of media and FEC packets dropped at random
// (fixed seeds), then the packets that reach the depayloader are compared
// byte for byte with those that left the payloader, beside a run without FEC
// that loses the same media packets. Also two processes over UDP on
// 127.0.0.1, and a capture from `zvfec protect` and `zvfec lossy` read back
// through pcapparse.
//
// Run as `e2e_test --udp-sender ...` the program is the sending process of
// the UDP test.
#include <gst/gst.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "gst/capture_flows.h"
#include "gst/gst_support.h"

extern char **environ;

namespace zvtest {
namespace {

using Clock = std::chrono::steady_clock;

// What the probes of one pipeline saw and did.
struct Taps {
  std::mutex lock;
  std::mt19937 media_rng{1}, fec_rng{2};  // fixed seeds: the same media lost in every run
  unsigned loss_per_mille = 100;
  bool drop_all_fec = false;
  std::vector<Bytes> payloaded;          // leaving the payloader
  std::map<std::uint16_t, Bytes> depay;  // reaching the depayloader, by sequence number
  std::size_t media_dropped = 0, frames = 0;
};

Taps *taps_of(gpointer p) { return static_cast<Taps *>(p); }

// Payloaders push lists of packets (the fragments of a frame) as well as
// single packets.
GstPadProbeReturn record_payloaded(GstPad *, GstPadProbeInfo *info, gpointer p) {
  std::lock_guard g(taps_of(p)->lock);
  if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
    GstBufferList *list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    for (guint i = 0; i < gst_buffer_list_length(list); ++i)
      taps_of(p)->payloaded.push_back(from_buffer(gst_buffer_list_get(list, i)));
  } else {
    taps_of(p)->payloaded.push_back(from_buffer(GST_PAD_PROBE_INFO_BUFFER(info)));
  }
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn record_depay(GstPad *, GstPadProbeInfo *info, gpointer p) {
  const Bytes b = from_buffer(GST_PAD_PROBE_INFO_BUFFER(info));
  std::lock_guard g(taps_of(p)->lock);
  if (b.size() >= 12) taps_of(p)->depay[static_cast<std::uint16_t>(b[2] << 8 | b[3])] = b;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn count_frame(GstPad *, GstPadProbeInfo *, gpointer p) {
  std::lock_guard g(taps_of(p)->lock);
  ++taps_of(p)->frames;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn drop_media(GstPad *, GstPadProbeInfo *, gpointer p) {
  Taps *t = taps_of(p);
  std::lock_guard g(t->lock);
  if (t->media_rng() % 1000 >= t->loss_per_mille) return GST_PAD_PROBE_OK;
  ++t->media_dropped;
  return GST_PAD_PROBE_DROP;
}

GstPadProbeReturn drop_fec(GstPad *, GstPadProbeInfo *, gpointer p) {
  Taps *t = taps_of(p);
  std::lock_guard g(t->lock);
  const bool drop = t->drop_all_fec || t->fec_rng() % 1000 < t->loss_per_mille;
  return drop ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

void probe(GstElement *pipeline, const char *element, const char *pad, GstPadProbeCallback cb,
           Taps *t, int extra = 0) {
  GstElement *e = gst_bin_get_by_name(GST_BIN(pipeline), element);
  if (!e) return;
  GstPad *p = gst_element_get_static_pad(e, pad);
  gst_pad_add_probe(p, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | extra), cb, t,
                    nullptr);
  gst_object_unref(p);
  gst_object_unref(e);
}

// Attaches the probes the pipeline has elements for: pay (payloader), enc
// (zvfecenc, where the loss happens), depay (depayloader), vdec (decoder).
void attach(GstElement *pipeline, Taps &t) {
  probe(pipeline, "pay", "src", record_payloaded, &t, GST_PAD_PROBE_TYPE_BUFFER_LIST);
  probe(pipeline, "enc", "src", drop_media, &t);
  probe(pipeline, "enc", "fec_src", drop_fec, &t);
  probe(pipeline, "depay", "sink", record_depay, &t);
  probe(pipeline, "vdec", "src", count_frame, &t);
}

GstElement *launch(const std::string &desc) {
  gst_setup();
  GError *err = nullptr;
  GstElement *p = gst_parse_launch(desc.c_str(), &err);
  EXPECT_EQ(err, nullptr) << (err ? err->message : "") << "\n" << desc;
  if (err) g_error_free(err);
  return p;
}

// Plays the pipeline until end of stream (true) or an error or the time limit.
bool play_to_eos(GstElement *pipeline, GstClockTime limit = 120 * GST_SECOND) {
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus *bus = gst_element_get_bus(pipeline);
  GstMessage *m = gst_bus_timed_pop_filtered(
      bus, limit, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  bool ok = m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
  if (m && GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
    GError *e = nullptr;
    gst_message_parse_error(m, &e, nullptr);
    ADD_FAILURE() << "pipeline error: " << e->message;
    g_error_free(e);
  }
  if (!m) ADD_FAILURE() << "no end of stream in time";
  if (m) gst_message_unref(m);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  return ok;
}

// The share of payloaded packets that reached the depayloader byte for byte.
double identical_share(const Taps &t) {
  std::size_t same = 0;
  for (const auto &p : t.payloaded) {
    const auto it = t.depay.find(static_cast<std::uint16_t>(p[2] << 8 | p[3]));
    same += it != t.depay.end() && it->second == p;
  }
  return t.payloaded.empty() ? 0
                             : static_cast<double>(same) / static_cast<double>(t.payloaded.size());
}

struct Media {
  const char *name;
  std::string source;  // up to and including the payloader, named pay
  std::string sink;    // from the depayloader (named depay) on, decoder named vdec
  std::string caps;    // of the RTP media stream
};

const Media kH264{
    "H.264",
    "videotestsrc num-buffers=60 pattern=smpte ! video/x-raw,width=320,height=240,framerate=30/1 ! "
    "x264enc tune=zerolatency speed-preset=ultrafast bitrate=1500 key-int-max=30 threads=1 ! "
    "rtph264pay name=pay mtu=1200 config-interval=-1 pt=96",
    "rtph264depay name=depay ! avdec_h264 name=vdec ! fakesink sync=false",
    "application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96"};

const Media kOpus{"Opus",
                  "audiotestsrc num-buffers=400 samplesperbuffer=960 wave=sine ! "
                  "audio/x-raw,rate=48000,channels=1 "
                  "! opusenc frame-size=20 ! rtpopuspay name=pay pt=111",
                  "rtpopusdepay name=depay ! opusdec name=vdec ! fakesink sync=false",
                  "application/x-rtp,media=audio,clock-rate=48000,encoding-name=OPUS,payload=111"};

struct Outcome {
  double share;
  std::size_t packets, frames, lost;
};

// One pipeline, sender and receiver joined in process, losing 10 %.
Outcome run_joined(const Media &m, const char *variant, bool fec) {
  const std::string desc =
      m.source + " ! zvfecenc name=enc variant=" + variant +
      " k=10 r=4 group-timeout=0 zvfecdec name=dec group-timeout=2000 "
      "enc.src ! dec.sink enc.fec_src ! dec.fec_sink dec.src ! rtpjitterbuffer latency=200 ! " +
      m.sink;
  GstElement *p = launch(desc);
  Taps t;
  t.drop_all_fec = !fec;
  attach(p, t);
  EXPECT_TRUE(play_to_eos(p));
  gst_object_unref(p);
  return {identical_share(t), t.payloaded.size(), t.frames, t.media_dropped};
}

void report(const std::string &what, const Outcome &with, const Outcome &without) {
  std::printf(
      "%s: %zu payloaded packets, %zu media packets dropped by the test; byte-identical at the "
      "depayloader: "
      "%.2f %% with FEC, %.2f %% without; decoded frames: %zu with FEC, %zu without\n",
      what.c_str(), with.packets, with.lost, 100 * with.share, 100 * without.share, with.frames,
      without.frames);
  std::fflush(stdout);
}

void expect_recovery(const Outcome &with, const Outcome &without) {
  EXPECT_GE(with.packets, 300u);
  EXPECT_EQ(with.packets, without.packets);
  EXPECT_GE(with.share, 0.99);
  EXPECT_LE(without.share, 0.95);
  EXPECT_GE(with.frames, without.frames);
}

TEST(EndToEnd, H264VideoV2RecoversTenPercentLoss) {
  const auto with = run_joined(kH264, "video-v2", true),
             without = run_joined(kH264, "video-v2", false);
  report("H.264 video-v2 k=10 r=4", with, without);
  expect_recovery(with, without);
}

TEST(EndToEnd, OpusAudioV2RecoversTenPercentLoss) {
  const auto with = run_joined(kOpus, "audio-v2", true),
             without = run_joined(kOpus, "audio-v2", false);
  report("Opus audio-v2 k=10 r=4", with, without);
  expect_recovery(with, without);
}

TEST(EndToEnd, H264VideoV1RecoversTenPercentLoss) {
  const auto with = run_joined(kH264, "video-v1", true),
             without = run_joined(kH264, "video-v1", false);
  report("H.264 video-v1 k=10 r=4", with, without);
  expect_recovery(with, without);
}

// ---- two processes over UDP -----------------------------------------------

// The sending process: a live H.264 stream protected and sent to 127.0.0.1,
// losing 10 % on the way out. dump receives the number of media packets
// dropped, then the payloaded packets, each as a 4-byte length and its bytes
// (host order).
int udp_sender(int media_port, int fec_port, const char *dump, bool fec) {
  const std::string desc =
      "videotestsrc is-live=true num-buffers=60 pattern=smpte ! "
      "video/x-raw,width=320,height=240,framerate=30/1 ! "
      "x264enc tune=zerolatency speed-preset=ultrafast bitrate=1500 key-int-max=30 threads=1 ! "
      "rtph264pay name=pay mtu=1200 config-interval=-1 pt=96 ! "
      "zvfecenc name=enc variant=video-v2 k=10 r=4 "
      "enc.src ! queue ! udpsink host=127.0.0.1 port=" +
      std::to_string(media_port) +
      " sync=true enc.fec_src ! queue ! udpsink host=127.0.0.1 port=" + std::to_string(fec_port) +
      " sync=true";
  GstElement *p = launch(desc);
  if (!p) return 2;
  Taps t;
  t.drop_all_fec = !fec;
  attach(p, t);
  const bool ok = play_to_eos(p, 60 * GST_SECOND);
  gst_object_unref(p);
  std::ofstream out(dump, std::ios::binary);
  const auto dropped = static_cast<std::uint32_t>(t.media_dropped);
  out.write(reinterpret_cast<const char *>(&dropped), 4);
  for (const auto &b : t.payloaded) {
    const std::uint32_t n = static_cast<std::uint32_t>(b.size());
    out.write(reinterpret_cast<const char *>(&n), 4);
    out.write(reinterpret_cast<const char *>(b.data()), n);
  }
  return ok && out ? 0 : 1;
}

Outcome run_over_udp(bool fec) {
  const std::string desc =
      "udpsrc name=msrc port=0 buffer-size=4194304 caps=\"" + kH264.caps +
      "\" ! dec.sink udpsrc name=fsrc port=0 buffer-size=4194304 caps=\"application/x-rtp\" ! "
      "dec.fec_sink zvfecdec name=dec ! rtpjitterbuffer latency=200 ! " +
      kH264.sink;
  GstElement *p = launch(desc);
  Taps t;
  attach(p, t);
  // The sockets are bound once the sources are PAUSED, before any data.
  gst_element_set_state(p, GST_STATE_PLAYING);
  int ports[2] = {0, 0};
  const char *names[2] = {"msrc", "fsrc"};
  for (int i = 0; i < 2; ++i) {
    GstElement *src = gst_bin_get_by_name(GST_BIN(p), names[i]);
    g_object_get(src, "port", &ports[i], nullptr);
    gst_object_unref(src);
  }
  EXPECT_NE(ports[0], 0);

  const std::string dump = ::testing::TempDir() + "zvfec_udp_" + std::to_string(getpid()) + ".bin";
  const std::string mp = std::to_string(ports[0]), fp = std::to_string(ports[1]);
  const char *argv[] = {"/proc/self/exe", "--udp-sender",        mp.c_str(), fp.c_str(),
                        dump.c_str(),     fec ? "fec" : "nofec", nullptr};
  pid_t child = 0;
  EXPECT_EQ(
      posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, const_cast<char **>(argv), environ),
      0);
  int status = -1;
  const auto start = Clock::now();
  while (waitpid(child, &status, WNOHANG) == 0 && Clock::now() - start < std::chrono::seconds(90))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "sender status " << status;
  // UDP carries no end of stream: let the last packets land, then end it here.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  gst_element_send_event(p, gst_event_new_eos());
  EXPECT_TRUE(play_to_eos(p, 30 * GST_SECOND));
  gst_object_unref(p);

  std::ifstream in(dump, std::ios::binary);
  std::uint32_t dropped = 0, n = 0;
  in.read(reinterpret_cast<char *>(&dropped), 4);
  while (in.read(reinterpret_cast<char *>(&n), 4)) {
    Bytes b(n);
    in.read(reinterpret_cast<char *>(b.data()), n);
    t.payloaded.push_back(std::move(b));
  }
  std::remove(dump.c_str());
  return {identical_share(t), t.payloaded.size(), t.frames, dropped};
}

TEST(EndToEnd, TwoProcessesOverUdpOnLoopback) {
  const auto with = run_over_udp(true), without = run_over_udp(false);
  report("UDP, two processes, H.264 video-v2 k=10 r=4", with, without);
  expect_recovery(with, without);
}

// ---- a capture read back through pcapparse -----------------------------------

std::map<std::uint16_t, Bytes> rtp_of_flow(const std::string &path, std::uint16_t dport) {
  std::map<std::uint16_t, Bytes> out;
  for (auto &p : flow_payloads(path, dport)) out[static_cast<std::uint16_t>(p[2] << 8 | p[3])] = p;
  return out;
}

GstPadProbeReturn collect_by_seq(GstPad *, GstPadProbeInfo *info, gpointer p) {
  const Bytes b = from_buffer(GST_PAD_PROBE_INFO_BUFFER(info));
  static_cast<std::map<std::uint16_t, Bytes> *>(p)->emplace(
      static_cast<std::uint16_t>(b[2] << 8 | b[3]), b);
  return GST_PAD_PROBE_OK;
}

TEST(EndToEnd, CaptureThroughPcapparseRecoversWhatZvfecRecoverDoes) {
  const std::string base = ::testing::TempDir() + "zvfec_pcap_" + std::to_string(getpid());
  const std::string prot = base + "_prot.pcap", lossy = base + "_lossy.pcap",
                    rec = base + "_rec.pcap";
  const std::string exe = ZVFEC_EXE;
  for (const std::string &cmd : {exe + " protect " ZV_TEST_DATA "/rtp_h264_opus.pcap " + prot +
                                     " --variant video-v2 -k 8 -r 3",
                                 exe + " lossy " + prot + " " + lossy + " --loss 0.1 --seed 1",
                                 exe + " recover " + lossy + " " + rec})
    ASSERT_EQ(std::system((cmd + " > /dev/null").c_str()), 0) << cmd;

  // Both streams of the capture, each flow into a decoder of its own.
  struct Flow {
    int media_port;
    const char *caps;
    std::map<std::uint16_t, Bytes> out;
  };
  Flow flows[] = {
      {5000, "application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96", {}},
      {5010, "application/x-rtp,media=audio,clock-rate=48000,encoding-name=OPUS,payload=111", {}}};
  std::string desc;
  for (int i = 0; i < 2; ++i) {
    const std::string d = "d" + std::to_string(i);
    desc += "filesrc location=" + lossy +
            " ! pcapparse dst-port=" + std::to_string(flows[i].media_port) + " caps=\"" +
            flows[i].caps + "\" ! " + d + ".sink filesrc location=" + lossy +
            " ! pcapparse dst-port=" + std::to_string(flows[i].media_port + 2) +
            " caps=application/x-rtp ! " + d + ".fec_sink zvfecdec name=" + d +
            " group-timeout=60000 ! fakesink name=out" + std::to_string(i) + " sync=false ";
  }
  GstElement *p = launch(desc);
  for (int i = 0; i < 2; ++i) {
    GstElement *sink = gst_bin_get_by_name(GST_BIN(p), ("out" + std::to_string(i)).c_str());
    GstPad *pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, collect_by_seq, &flows[i].out, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
  }
  EXPECT_TRUE(play_to_eos(p));
  gst_object_unref(p);

  for (auto &f : flows) {
    const auto want = rtp_of_flow(rec, static_cast<std::uint16_t>(f.media_port));
    const auto arrived = rtp_of_flow(lossy, static_cast<std::uint16_t>(f.media_port));
    EXPECT_GT(want.size(), arrived.size()) << "zvfec recover brought packets back";
    for (const auto &[seq, bytes] : want)
      EXPECT_TRUE(f.out.contains(seq) && f.out.at(seq) == bytes)
          << "port " << f.media_port << ": zvfecdec lacks " << seq;
    for (const auto &[seq, bytes] : f.out)
      EXPECT_TRUE(want.contains(seq)) << "port " << f.media_port << ": zvfec recover lacks " << seq;
    std::printf("capture flow to port %d: %zu packets arrived, zvfec recover %zu, zvfecdec %zu\n",
                f.media_port, arrived.size(), want.size(), f.out.size());
  }
  for (const auto &f : {prot, lossy, rec}) std::remove(f.c_str());
}

}  // namespace
}  // namespace zvtest

int main(int argc, char **argv) {
  if (argc == 6 && std::string(argv[1]) == "--udp-sender")
    return zvtest::udp_sender(std::atoi(argv[2]), std::atoi(argv[3]), argv[4],
                              std::string(argv[5]) == "fec");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
