// zvfecenc and zvfecdec through GstHarness: group boundaries and RTP framing
// of FEC packets (byte for byte as `zvfec protect` writes them), partial
// groups on timeout, shapes a variant refuses, recovery of every loss
// pattern, release of old groups, the bound on held packets, forged FEC
// packets, several SSRCs on one pad, and the per-SSRC counts of what stayed
// lost.
#include <gst/check/gstharness.h>
#include <gst/rtp/gstrtpbuffer.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "gst/capture_flows.h"
#include "gst/gst_support.h"
#include "stream/stream_harness.h"

namespace zvtest {
namespace {

constexpr std::uint32_t kA = 0x11223344, kB = 0x55667788;
constexpr const char *kMediaCaps =
    "application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96";
constexpr const char *kFecCaps = "application/x-rtp,media=application,clock-rate=90000";

// An element with properties set before it starts, and harnesses on its
// media pads and on its FEC pad.
struct Element {
  GstHarness *media = nullptr, *fec = nullptr;

  Element(const char *factory, bool encoder, const std::function<void(GstElement *)> &setup) {
    gst_setup();
    GstElement *e = gst_element_factory_make(factory, nullptr);
    setup(e);
    media = gst_harness_new_with_element(e, "sink", "src");
    fec = encoder ? gst_harness_new_with_element(e, nullptr, "fec_src")
                  : gst_harness_new_with_element(e, "fec_sink", nullptr);
    gst_object_unref(e);
    gst_harness_set_src_caps_str(media, kMediaCaps);
    if (!encoder) gst_harness_set_src_caps_str(fec, kFecCaps);
  }
  ~Element() {
    gst_harness_teardown(fec);
    gst_harness_teardown(media);
  }
  Element(const Element &) = delete;
  Element &operator=(const Element &) = delete;

  GstElement *element() const { return media->element; }

  static std::vector<Bytes> drain(GstHarness *h) {
    std::vector<Bytes> out;
    while (GstBuffer *b = gst_harness_try_pull(h)) {
      out.push_back(from_buffer(b));
      gst_buffer_unref(b);
    }
    return out;
  }

  std::uint64_t stat(const char *field) const {
    GstStructure *s = nullptr;
    g_object_get(element(), "stats", &s, nullptr);
    guint64 v = 0;
    EXPECT_TRUE(gst_structure_get_uint64(s, field, &v)) << field;
    gst_structure_free(s);
    return v;
  }
};

// One entry of zvfecdec's per-SSRC stats.
struct SsrcCounts {
  std::uint64_t received = 0, recovered = 0, duplicates = 0, missing = 0;
  bool operator==(const SsrcCounts &) const = default;
};
std::ostream &operator<<(std::ostream &os, const SsrcCounts &c) {
  return os << "{received " << c.received << ", recovered " << c.recovered << ", duplicates "
            << c.duplicates << ", missing " << c.missing << "}";
}

// The `ssrcs` array of zvfecdec's stats, by SSRC, checked to be in SSRC order.
std::map<std::uint32_t, SsrcCounts> ssrc_counts(GstElement *dec) {
  GstStructure *s = nullptr;
  g_object_get(dec, "stats", &s, nullptr);
  std::map<std::uint32_t, SsrcCounts> out;
  const GValue *array = gst_structure_get_value(s, "ssrcs");
  EXPECT_TRUE(array && GST_VALUE_HOLDS_ARRAY(array));
  for (guint i = 0; array && i < gst_value_array_get_size(array); ++i) {
    const GstStructure *e = gst_value_get_structure(gst_value_array_get_value(array, i));
    guint ssrc = 0;
    SsrcCounts c;
    if (!gst_structure_get_uint(e, "ssrc", &ssrc) ||
        !gst_structure_get_uint64(e, "received", &c.received) ||
        !gst_structure_get_uint64(e, "recovered", &c.recovered) ||
        !gst_structure_get_uint64(e, "duplicates", &c.duplicates) ||
        !gst_structure_get_uint64(e, "missing", &c.missing)) {
      gchar *text = gst_structure_to_string(e);
      ADD_FAILURE() << "fields missing: " << text;
      g_free(text);
    }
    EXPECT_TRUE(out.empty() || out.rbegin()->first < ssrc) << "not in SSRC order";
    out[ssrc] = c;
  }
  gst_structure_free(s);
  return out;
}

zvfec_stream_fec_header header(const Bytes &fec) {
  zvfec_stream_fec_header h{};
  EXPECT_EQ(zvfec_stream_parse_fec(fec.data(), fec.size(), &h), 0);
  return h;
}

// ---- zvfecenc ---------------------------------------------------------------

TEST(ZvfecEnc, FecPacketsAreWhatZvfecProtectWrites) {
  // The H.264 flow of the real capture through the element and through the
  // tool, for every variant.
  const auto video = flow_payloads(ZV_TEST_DATA "/rtp_h264_opus.pcap", 5000);
  ASSERT_EQ(video.size(), 140u);
  struct Case {
    const char *variant;
    int k, r;
  };
  for (const Case c : {Case{"video-v2", 10, 4}, Case{"audio-v2", 5, 2}, Case{"video-v1", 8, 3}}) {
    Element enc("zvfecenc", true, [&](GstElement *e) {
      gst_util_set_object_arg(G_OBJECT(e), "variant", c.variant);
      g_object_set(e, "k", c.k, "r", c.r, "group-timeout", 0u, nullptr);
    });
    for (const auto &p : video) ASSERT_EQ(gst_harness_push(enc.media, to_buffer(p)), GST_FLOW_OK);
    gst_harness_push_event(enc.media, gst_event_new_eos());
    // Media passes unchanged and in order.
    EXPECT_EQ(Element::drain(enc.media), video) << c.variant;
    const auto fec = Element::drain(enc.fec);

    const std::string dir = ::testing::TempDir() + "zvfec_harness_" + std::to_string(getpid());
    const std::string out = dir + "_" + c.variant + ".pcap";
    const std::string cmd = std::string(ZVFEC_EXE) +
                            " protect " ZV_TEST_DATA "/rtp_h264_opus.pcap " + out + " --variant " +
                            c.variant + " -k " + std::to_string(c.k) + " -r " +
                            std::to_string(c.r) + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const auto tool = flow_payloads(out, 5002);
    std::remove(out.c_str());
    ASSERT_FALSE(tool.empty());
    EXPECT_EQ(fec, tool) << c.variant;
  }
}

TEST(ZvfecEnc, GroupBoundariesAndFecRtpHeaders) {
  Element enc("zvfecenc", true, [](GstElement *e) {
    g_object_set(e, "k", 4, "r", 2, "pt", 100, "ssrc", 0x1234u, "group-timeout", 0u, nullptr);
  });
  // 105 is missing: the group at 104 closes early; the rest is flushed at EOS.
  for (int seq : {100, 101, 102, 103, 104, 106, 107, 108, 109, 110})
    gst_harness_push(enc.media, to_buffer(rtp(kA, static_cast<std::uint16_t>(seq))));
  gst_harness_push_event(enc.media, gst_event_new_eos());
  const auto fec = Element::drain(enc.fec);
  const std::vector<std::pair<int, int>> want{{100, 4}, {104, 1}, {106, 4}, {110, 1}};
  ASSERT_EQ(fec.size(), want.size() * 2);
  for (std::size_t i = 0; i < fec.size(); ++i) {
    EXPECT_EQ(fec[i][1], 100);              // payload type, no marker
    EXPECT_EQ(seq_of(fec[i]), i);           // FEC numbering of its own, from 0
    EXPECT_EQ(u32_at(fec[i], 8), 0x1234u);  // the fixed SSRC
    const auto h = header(fec[i]);
    EXPECT_EQ(h.base_seq, want[i / 2].first) << i;
    EXPECT_EQ(h.k, want[i / 2].second) << i;
    EXPECT_EQ(h.esi, h.k + static_cast<int>(i % 2)) << i;
  }
}

TEST(ZvfecEnc, APartialGroupIsProtectedWhenGroupTimeoutPasses) {
  Element enc("zvfecenc", true, [](GstElement *e) {
    g_object_set(e, "k", 10, "r", 2, "group-timeout", 20u, nullptr);
  });
  gst_harness_use_testclock(enc.media);
  for (std::uint16_t seq = 0; seq < 3; ++seq) gst_harness_push(enc.media, to_buffer(rtp(kA, seq)));
  EXPECT_EQ(gst_harness_buffers_received(enc.fec), 0u);
  // The element waits on its clock for the group's deadline; the test clock
  // jumps there.
  ASSERT_TRUE(gst_harness_crank_single_clock_wait(enc.media));
  EXPECT_EQ(gst_clock_get_time(GST_ELEMENT_CLOCK(enc.element())), 20 * GST_MSECOND);
  for (int j = 0; j < 2; ++j) {
    GstBuffer *b = gst_harness_pull(enc.fec);
    ASSERT_NE(b, nullptr);
    const auto h = header(from_buffer(b));
    gst_buffer_unref(b);
    EXPECT_EQ(h.k, 3);
    EXPECT_EQ(h.base_seq, 0);
  }
}

TEST(ZvfecEnc, AShapeTheVariantRefusesStopsTheStartWithTheLibrarysReason) {
  gst_setup();
  GstElement *pipeline = gst_pipeline_new(nullptr);
  GstElement *enc = gst_element_factory_make("zvfecenc", nullptr);
  gst_bin_add(GST_BIN(pipeline), enc);
  // audio-v2 takes k up to 64: within the property's range, refused by the variant.
  gst_util_set_object_arg(G_OBJECT(enc), "variant", "audio-v2");
  g_object_set(enc, "k", 100, "r", 4, nullptr);
  EXPECT_EQ(gst_element_set_state(pipeline, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  GstBus *bus = gst_element_get_bus(pipeline);
  GstMessage *m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  ASSERT_NE(m, nullptr);
  GError *e = nullptr;
  gchar *debug = nullptr;
  gst_message_parse_error(m, &e, &debug);
  EXPECT_EQ(e->domain, GST_LIBRARY_ERROR);
  EXPECT_NE(std::string(e->message).find("k=100 r=4"), std::string::npos) << e->message;
  EXPECT_NE(std::string(debug).find(zvfec_stream_error_text(ZVFEC_STREAM_E_K)), std::string::npos)
      << debug;
  g_error_free(e);
  g_free(debug);
  gst_message_unref(m);
  // A shape it takes, set in READY, starts it.
  g_object_set(enc, "k", 10, nullptr);
  EXPECT_NE(gst_element_set_state(pipeline, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
  EXPECT_EQ(gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR), nullptr);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
}

// ---- zvfecdec ---------------------------------------------------------------

TEST(ZvfecDec, RecoversEveryPatternOfUpToRLosses) {
  constexpr int k = 4, r = 2, n = k + r;
  for (const int v : {ZVFEC_STREAM_AUDIO_V2, ZVFEC_STREAM_VIDEO_V2, ZVFEC_STREAM_VIDEO_V1}) {
    Element dec("zvfecdec", false, [](GstElement *) {});
    const auto groups = protected_groups(v, kA, 65000, 64, k, r);
    std::size_t g = 0, lost_total = 0;
    for (unsigned lost = 0; lost < (1u << n); ++lost) {
      if (std::popcount(lost) > r) continue;
      ASSERT_LT(g, groups.size());
      const Group &grp = groups[g++];
      for (int i = 0; i < n; ++i) {
        if (lost >> i & 1) {
          lost_total += i < k;
          continue;
        }
        const bool is_fec = i >= k;
        const Bytes &p = is_fec ? grp.fec[static_cast<std::size_t>(i - k)]
                                : grp.media[static_cast<std::size_t>(i)];
        ASSERT_EQ(gst_harness_push(is_fec ? dec.fec : dec.media, to_buffer(p)), GST_FLOW_OK);
      }
      // Everything of the group is out, each packet once, as soon as it could be.
      const auto out = Element::drain(dec.media);
      EXPECT_EQ(std::multiset<Bytes>(out.begin(), out.end()),
                std::multiset<Bytes>(grp.media.begin(), grp.media.end()))
          << "variant " << v << " lost " << lost;
    }
    EXPECT_EQ(dec.stat("packets-recovered"), lost_total);
    EXPECT_EQ(dec.stat("unrecoverable-groups"), 0u);
  }
}

TEST(ZvfecDec, GroupsHeldPastGroupTimeoutAreReleased) {
  Element dec("zvfecdec", false,
              [](GstElement *e) { g_object_set(e, "group-timeout", 50u, nullptr); });
  gst_harness_use_testclock(dec.media);
  const auto groups = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 0, 2, 4, 2);
  const Group &g = groups[0];
  for (int i : {0, 1}) gst_harness_push(dec.media, to_buffer(g.media[static_cast<std::size_t>(i)]));
  gst_harness_push(dec.fec, to_buffer(g.fec[0]));
  EXPECT_EQ(dec.stat("held"), 3u);
  // 60 ms later: the next packet finds the first group past its time.
  gst_harness_set_time(dec.media, 60 * GST_MSECOND);
  gst_harness_push(dec.media, to_buffer(groups[1].media[0]));
  EXPECT_EQ(dec.stat("unrecoverable-groups"), 1u);
  EXPECT_EQ(dec.stat("held"), 1u);
  // Its last FEC packet comes too late to bring anything back.
  gst_harness_push(dec.fec, to_buffer(g.fec[1]));
  Element::drain(dec.media);
  EXPECT_EQ(dec.stat("packets-recovered"), 0u);
}

TEST(ZvfecDec, MaxPacketsBoundsWhatIsHeld) {
  // Groups of 4 + 2 with one media packet lost: every group holds 3 media,
  // 2 FEC and 1 recovered packet, 8400 in all, past the default bound.
  constexpr int kGroups = 1400;
  const auto groups = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 0, kGroups, 4, 2);
  struct Case {
    guint max_packets;
    std::uint64_t bound;  // what the receiver holds at most
  };
  for (const Case c : {Case{0, 8192}, Case{16, 16}, Case{1, 1}, Case{10000, 10000}}) {
    Element dec("zvfecdec", false,
                [&](GstElement *e) { g_object_set(e, "max-packets", c.max_packets, nullptr); });
    // Time stands still: nothing leaves by age, only at the bound.
    gst_harness_use_testclock(dec.media);
    std::uint64_t pushed = 0, most = 0;
    const auto push = [&](GstHarness *h, const Bytes &p) {
      gst_harness_push(h, to_buffer(p));
      ++pushed;
      most = std::max(most, dec.stat("held"));
    };
    for (const auto &g : groups) {
      for (std::size_t i = 1; i < g.media.size(); ++i) push(dec.media, g.media[i]);
      for (const auto &f : g.fec) push(dec.fec, f);
    }
    Element::drain(dec.media);
    const std::uint64_t recovered = dec.stat("packets-recovered");
    const std::uint64_t taken = pushed + recovered;
    EXPECT_LE(most, c.bound) << c.max_packets;
    EXPECT_EQ(dec.stat("held"), std::min(taken, c.bound)) << c.max_packets;
    EXPECT_EQ(dec.stat("evicted"), taken - std::min(taken, c.bound)) << c.max_packets;
    // A bound that holds a whole group leaves recovery alone.
    if (c.bound >= 6) {
      EXPECT_EQ(recovered, kGroups) << c.max_packets;
    }
  }
}

TEST(ZvfecDec, ForgedTruncatedAndGarbageFecPacketsAreCountedAndDropped) {
  Element dec("zvfecdec", false, [](GstElement *) {});
  const auto groups = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 10, 1, 6, 3);
  const Group &g = groups[0];
  std::mt19937 rng(5);
  struct Forgery {
    const char *what;
    std::function<void(Bytes &)> change;
  };
  const Bytes real = g.fec[0];
  const Forgery forgeries[] = {
      {"truncated", [](Bytes &b) { b.resize(b.size() - 1); }},
      {"RTP header only", [](Bytes &b) { b.resize(12); }},
      {"unknown tag", [](Bytes &b) { b[12] = 0x42; }},
      {"symbol index beyond the group", [](Bytes &b) { b[13] = 200; }},
      {"k = 0", [](Bytes &b) { b[16] = 0; }},
      {"symbol length far beyond the packet", [](Bytes &b) { b[18] = 0xFF, b[19] = 0xFC; }},
      {"non-zero mask", [](Bytes &b) { b[23] = 1; }},
      {"not RTP", [](Bytes &b) { b[0] = 0; }},
      {"garbage",
       [&](Bytes &b) {
         for (auto &x : b) x = static_cast<std::uint8_t>(rng());
       }},
  };
  for (int i : {0, 1, 2, 3})  // 4 and 5 lost
    gst_harness_push(dec.media, to_buffer(g.media[static_cast<std::size_t>(i)]));
  for (const auto &f : forgeries) {
    Bytes b = real;
    f.change(b);
    EXPECT_EQ(gst_harness_push(dec.fec, to_buffer(b)), GST_FLOW_OK) << f.what;
  }
  EXPECT_EQ(dec.stat("fec-refused"), std::size(forgeries));
  // A valid header in front of a garbage symbol is accepted, but what it
  // decodes to is no RTP packet of the stream.
  Bytes bad_symbol = g.fec[1];
  for (std::size_t i = 24; i < bad_symbol.size(); ++i)
    bad_symbol[i] = static_cast<std::uint8_t>(rng());
  gst_harness_push(dec.fec, to_buffer(bad_symbol));
  gst_harness_push(dec.fec, to_buffer(g.fec[0]));
  auto out = Element::drain(dec.media);
  EXPECT_EQ(out.size(), 4u) << "nothing but the media that arrived";
  // With the last real FEC packet the spares outvote the forgery.
  gst_harness_push(dec.fec, to_buffer(g.fec[2]));
  out = Element::drain(dec.media);
  EXPECT_EQ(std::set<Bytes>(out.begin(), out.end()), (std::set<Bytes>{g.media[4], g.media[5]}));
}

TEST(ZvfecDec, TwoSsrcsInterleavedOnTheSamePads) {
  Element dec("zvfecdec", false, [](GstElement *) {});
  const auto a = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 65530, 5, 5, 2);
  const auto b = protected_groups(ZVFEC_STREAM_VIDEO_V2, kB, 100, 5, 5, 2);
  std::map<std::pair<std::uint32_t, std::uint16_t>, Bytes> lost;
  for (std::size_t g = 0; g < 5; ++g)
    for (const auto *grp : {&a[g], &b[g]}) {
      for (std::size_t i = 0; i < grp->media.size(); ++i) {
        if (i == g % 5 || i == (g + 2) % 5) {  // two lost per group
          lost[{u32_at(grp->media[i], 8), seq_of(grp->media[i])}] = grp->media[i];
          continue;
        }
        // Media timestamps: running time of RTP time at 90 kHz.
        GstBuffer *buf = to_buffer(grp->media[i]);
        GST_BUFFER_PTS(buf) = gst_util_uint64_scale(u32_at(grp->media[i], 4), GST_SECOND, 90000);
        gst_harness_push(dec.media, buf);
      }
      for (const auto &f : grp->fec) gst_harness_push(dec.fec, to_buffer(f));
    }
  std::map<std::pair<std::uint32_t, std::uint16_t>, Bytes> back;
  GstCaps *want_caps = gst_caps_from_string(kMediaCaps);
  while (GstBuffer *buf = gst_harness_try_pull(dec.media)) {
    const Bytes p = from_buffer(buf);
    const auto id = std::pair{u32_at(p, 8), seq_of(p)};
    // Recovered packets are marked redundant, as GStreamer's FEC decoders do.
    EXPECT_EQ(GST_BUFFER_FLAG_IS_SET(buf, GST_RTP_BUFFER_FLAG_REDUNDANT), lost.contains(id));
    if (lost.contains(id)) {
      back[id] = p;
      // The running time of its RTP timestamp, from the media around it
      // (to the nanosecond, rounding aside).
      EXPECT_NEAR(static_cast<double>(GST_BUFFER_PTS(buf)),
                  static_cast<double>(gst_util_uint64_scale(u32_at(p, 4), GST_SECOND, 90000)), 1.0);
    }
    gst_buffer_unref(buf);
  }
  GstCaps *caps = gst_pad_get_current_caps(dec.media->sinkpad);
  EXPECT_TRUE(gst_caps_is_equal(caps, want_caps)) << "recovered packets carry the media caps";
  gst_caps_unref(caps);
  gst_caps_unref(want_caps);
  EXPECT_EQ(back, lost);
  EXPECT_EQ(dec.stat("packets-recovered"), lost.size());
}

TEST(ZvfecDec, PacketsMissingCountsGroupsWhoseFecPacketsWereAllLost) {
  Element dec("zvfecdec", false, [](GstElement *) {});
  // A across the sequence number wrap: its second group loses two media
  // packets and both FEC packets, its third one media packet, recovered.
  // B's first group loses one media packet and its FEC packets.
  const auto a = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 65534, 3, 4, 2);
  const auto b = protected_groups(ZVFEC_STREAM_VIDEO_V2, kB, 7, 2, 4, 2);
  struct Loss {
    const std::vector<Group> &groups;
    std::size_t group;
    std::set<std::size_t> media;
    bool fec;
  };
  const Loss losses[] = {{a, 0, {}, false},
                         {a, 1, {1, 2}, true},
                         {a, 2, {0}, false},
                         {b, 0, {3}, true},
                         {b, 1, {}, false}};
  gst_harness_push(dec.media, to_buffer(a[0].media[0]));  // A's first packet comes twice
  for (const auto &l : losses) {
    const Group &g = l.groups[l.group];
    for (std::size_t i = 0; i < g.media.size(); ++i)
      if (!l.media.contains(i)) gst_harness_push(dec.media, to_buffer(g.media[i]));
    if (!l.fec)
      for (const auto &f : g.fec) gst_harness_push(dec.fec, to_buffer(f));
  }
  Element::drain(dec.media);
  EXPECT_EQ(dec.stat("packets-recovered"), 1u);
  // The receiver never learnt of the groups whose FEC packets were all lost:
  // released or not, they are not unrecoverable groups.
  EXPECT_EQ(dec.stat("unrecoverable-groups"), 0u);
  EXPECT_EQ(dec.stat("packets-missing"), 3u);
  const std::map<std::uint32_t, SsrcCounts> want{{kA, {9, 1, 1, 2}}, {kB, {7, 0, 0, 1}}};
  EXPECT_EQ(ssrc_counts(dec.element()), want);
}

TEST(ZvfecDec, SsrcCountsOutliveTheReceiverForgettingTheSsrc) {
  Element dec("zvfecdec", false,
              [](GstElement *e) { g_object_set(e, "group-timeout", 50u, nullptr); });
  gst_harness_use_testclock(dec.media);
  const auto a = protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 0, 2, 4, 2);
  const auto push_losing_second = [&](const Group &g) {
    for (std::size_t i : {0, 2, 3}) gst_harness_push(dec.media, to_buffer(g.media[i]));
  };
  push_losing_second(a[0]);
  EXPECT_EQ(ssrc_counts(dec.element())[kA], (SsrcCounts{3, 0, 0, 1}));
  // 60 ms on, A's next packet first releases all A held: the receiver
  // forgets A and counts it afresh from that packet on.
  gst_harness_set_time(dec.media, 60 * GST_MSECOND);
  push_losing_second(a[1]);
  EXPECT_EQ(ssrc_counts(dec.element())[kA], (SsrcCounts{6, 0, 0, 2}));
  // 60 ms later a packet of B has the receiver forget A once more.
  gst_harness_set_time(dec.media, 120 * GST_MSECOND);
  gst_harness_push(dec.media, to_buffer(rtp(kB, 1)));
  ASSERT_EQ(dec.stat("held"), 1u);
  const std::map<std::uint32_t, SsrcCounts> want{{kA, {6, 0, 0, 2}}, {kB, {1, 0, 0, 0}}};
  EXPECT_EQ(ssrc_counts(dec.element()), want);
  EXPECT_EQ(dec.stat("packets-missing"), 2u);
  // Stopped, the element still tells what it saw.
  ASSERT_EQ(gst_element_set_state(dec.element(), GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
  EXPECT_EQ(ssrc_counts(dec.element()), want);
}

TEST(ZvfecDec, TenThousandRandomAndForgedFecPacketsInventNothing) {
  Element dec("zvfecdec", false, [](GstElement *) {});
  std::mt19937 rng(2024);
  std::set<Bytes> sent;
  std::size_t forged = 0;
  for (const auto &g : protected_groups(ZVFEC_STREAM_VIDEO_V2, kA, 65000, 200, 10, 4)) {
    for (const auto &m : g.media) {
      sent.insert(m);
      if (rng() % 10 != 0) gst_harness_push(dec.media, to_buffer(m));
    }
    // Fifty forgeries per group, before, among and after the real FEC packets.
    std::vector<Bytes> fec;
    for (int n = 0; n < 50; ++n) {
      Bytes b = g.fec[rng() % g.fec.size()];
      switch (rng() % 5) {
        case 0:  // random bytes of a random length
          b.resize(rng() % 1500);
          for (auto &x : b) x = static_cast<std::uint8_t>(rng());
          break;
        case 1:  // a few header bytes changed
          for (int i = 0; i < 3; ++i) b[12 + rng() % 12] = static_cast<std::uint8_t>(rng());
          break;
        case 2:  // cut short or made longer
          b.resize(rng() % (2 * b.size()));
          break;
        case 3:  // a valid header in front of a garbage symbol
          for (std::size_t i = 24; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(rng());
          break;
        default:  // an FEC SSRC that protects another stream
          for (int i = 8; i < 12; ++i) b[i] = static_cast<std::uint8_t>(rng());
      }
      fec.push_back(std::move(b));
      ++forged;
    }
    for (const auto &f : g.fec)
      fec.insert(fec.begin() + static_cast<std::ptrdiff_t>(rng() % fec.size()), f);
    for (const auto &f : fec) gst_harness_push(dec.fec, to_buffer(f));
  }
  EXPECT_EQ(forged, 10000u);
  std::size_t out = 0;
  while (GstBuffer *buf = gst_harness_try_pull(dec.media)) {
    EXPECT_TRUE(sent.contains(from_buffer(buf))) << "invented packet";
    gst_buffer_unref(buf);
    ++out;
  }
  EXPECT_LE(out, sent.size());
  EXPECT_GT(dec.stat("fec-refused"), 3000u);
  EXPECT_GT(dec.stat("packets-recovered"), 0u);
}

}  // namespace
}  // namespace zvtest
