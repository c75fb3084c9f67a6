// What the stream layer costs beside the media API it is built on, in one run:
// one SSRC of video version 2, groups of (10, 4), 1200-byte RTP packets, 5 %
// random loss on media and FEC packets alike.
//
// The stream is prepared once: 32768 groups (327680 packets, five times the
// 16-bit sequence space, so that a second pass over it continues the numbering
// seamlessly), far more than any cache holds, as packets from a network are.
// Each benchmark iteration is one pass over the whole stream:
// - sender: every media packet through zvfec_stream_sender_push, and every FEC
//   packet it makes taken with zvfec_stream_sender_pop;
// - bare encode: zv_rsfec_encode on every group, its media buffers (length
//   prefix and packet) prepared beforehand;
// - receiver: every packet that survived the loss through the receiver's push
//   functions, media first, and every recovered packet taken with pop;
// - bare decode: zv_rsfec_decode on every group that lost media and kept an FEC
//   packet, with the surviving buffers prepared beforehand (the decoder
//   overwrites FEC symbols, so they are restored between passes, untimed).
// - copy floor: one copy of every media packet that arrives, and of the FEC
//   packets of groups that lost media, into kept buffers: the least that any
//   receiver keeping packets for later decodes does.
// Times are processor time per media packet sent. Heap allocations are counted
// in this program (operator new and malloc alike) over the passes after the
// first, when every object has reached its working size.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "zv_rsfec.h"
#include "zvfec/stream.h"

// ---- allocation counting ----

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);

void *malloc(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
void *calloc(size_t n, size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
void free(void *p) { __libc_free(p); }
}

void *operator new(size_t n) {
  void *p = malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void *operator new[](size_t n) { return operator new(n); }
void operator delete(void *p) noexcept { free(p); }
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kK = 10, kR = 4;
constexpr int kGroups = 32768;
constexpr std::size_t kPacket = 1200;
constexpr double kLoss = 0.05;
constexpr std::uint32_t kSsrc = 0x5EED5EED;
constexpr std::size_t kMedia = static_cast<std::size_t>(kGroups) * kK;

struct Group {
  std::vector<int> media_kept;  // indices 0..k-1 of the media packets that arrive
  std::vector<int> fec_kept;    // indices 0..r-1 of the FEC packets that arrive
};

// Everything the passes read, made once.
struct Stream {
  std::vector<Bytes> media;   // RTP packets, kMedia of them
  std::vector<Bytes> fec;     // the sender's FEC RTP packets, r per group
  std::vector<Bytes> staged;  // media buffers: 2-byte length, then the packet
  std::vector<Group> groups;
  std::size_t lossy_groups = 0, recoverable = 0;
};

Bytes rtp_packet(std::uint16_t seq, std::uint32_t ts, std::mt19937 &rng) {
  Bytes p(kPacket);
  p[0] = 0x80;
  p[1] = 96;
  p[2] = static_cast<std::uint8_t>(seq >> 8);
  p[3] = static_cast<std::uint8_t>(seq);
  for (int i = 0; i < 4; ++i) {
    p[4 + i] = static_cast<std::uint8_t>(ts >> (24 - 8 * i));
    p[8 + i] = static_cast<std::uint8_t>(kSsrc >> (24 - 8 * i));
  }
  for (std::size_t i = 12; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(rng());
  return p;
}

zvfec_stream_sender *new_sender() {
  const zvfec_stream_sender_config cfg{ZVFEC_STREAM_VIDEO_V2, kK, kR, 127, 0, 0};
  return zvfec_stream_sender_new(&cfg, nullptr);
}

zvfec_stream_receiver *new_receiver() {
  const zvfec_stream_receiver_config cfg{500'000'000, 0};
  return zvfec_stream_receiver_new(&cfg, nullptr);
}

const Stream &stream() {
  static const Stream prepared = [] {
    Stream s;
    std::mt19937 rng(7);
    std::bernoulli_distribution lose(kLoss);
    zvfec_stream_sender *tx = new_sender();
    s.media.reserve(kMedia);
    for (std::size_t i = 0; i < kMedia; ++i) {
      s.media.push_back(rtp_packet(static_cast<std::uint16_t>(i), 3000u * (i / 4), rng));
      zvfec_stream_sender_push(tx, s.media.back().data(), kPacket, 0);
      zvfec_stream_packet p;
      while (zvfec_stream_sender_pop(tx, &p)) s.fec.emplace_back(p.data, p.data + p.len);
      Bytes b(kPacket + 2);
      b[0] = static_cast<std::uint8_t>(kPacket);
      b[1] = static_cast<std::uint8_t>(kPacket >> 8);
      std::memcpy(b.data() + 2, s.media.back().data(), kPacket);
      s.staged.push_back(std::move(b));
    }
    zvfec_stream_sender_free(tx);
    s.groups.resize(kGroups);
    for (auto &g : s.groups) {
      for (int i = 0; i < kK; ++i)
        if (!lose(rng)) g.media_kept.push_back(i);
      for (int j = 0; j < kR; ++j)
        if (!lose(rng)) g.fec_kept.push_back(j);
      const bool lossy = g.media_kept.size() < kK && !g.fec_kept.empty();
      s.lossy_groups += lossy;
      if (lossy && g.media_kept.size() + g.fec_kept.size() >= kK)
        s.recoverable += kK - g.media_kept.size();
    }
    return s;
  }();
  return prepared;
}

// Allocation counts of the passes after the first, per benchmark.
struct AllocCount {
  std::uint64_t allocations = 0, packets = 0;
};
std::map<std::string, AllocCount> g_alloc;

// Runs pass() once untimed to warm up, then once per iteration, counting the
// allocations of the timed passes; after() runs untimed after every pass.
template <class Pass, class After = void (*)()>
void run_passes(
    benchmark::State &state, const char *name, Pass &&pass, After after = [] {}) {
  pass();
  after();
  AllocCount &count = g_alloc[name];
  count = {};
  for (auto _ : state) {
    const std::uint64_t before = g_allocations.load();
    pass();
    count.allocations += g_allocations.load() - before;
    count.packets += kMedia;
    benchmark::ClobberMemory();
    state.PauseTiming();
    after();
    state.ResumeTiming();
  }
  state.counters["ns_per_media_packet"] = benchmark::Counter(
      static_cast<double>(kMedia),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void sender(benchmark::State &state) {
  const Stream &s = stream();
  zvfec_stream_sender *tx = new_sender();
  std::size_t fec_bytes = 0;
  run_passes(state, "sender", [&] {
    zvfec_stream_packet p;
    for (const auto &m : s.media) {
      zvfec_stream_sender_push(tx, m.data(), m.size(), 0);
      while (zvfec_stream_sender_pop(tx, &p)) fec_bytes += p.len;
    }
  });
  benchmark::DoNotOptimize(fec_bytes);
  zvfec_stream_sender_free(tx);
}

void bare_encode(benchmark::State &state) {
  const Stream &s = stream();
  void *h = nullptr;
  zv_rsfec_initilize(ZV_FEC_VIDEO, ZV_FEC_VERSION_2, &h);
  std::vector<unsigned char *> med(kMedia);
  std::vector<int> med_len(kMedia);
  for (std::size_t i = 0; i < kMedia; ++i) {
    med[i] = const_cast<unsigned char *>(s.staged[i].data());
    med_len[i] = static_cast<int>(s.staged[i].size());
  }
  const int cap = static_cast<int>(
      zvfec_stream_fec_size(ZVFEC_STREAM_VIDEO_V2, zvfec_stream_symbol_len(kPacket)));
  std::vector<Bytes> fec(static_cast<std::size_t>(kGroups) * kR,
                         Bytes(static_cast<std::size_t>(cap)));
  std::vector<unsigned char *> fec_ptr;
  for (auto &f : fec) fec_ptr.push_back(f.data());
  int failures = 0;
  run_passes(state, "bare encode", [&] {
    for (std::size_t g = 0; g < kGroups; ++g) {
      int fec_len[kR] = {cap, cap, cap, cap};
      failures += zv_rsfec_encode(h, 0, &med[g * kK], &med_len[g * kK], kK, kR, 0, &fec_ptr[g * kR],
                                  fec_len) != 0;
    }
  });
  if (failures) state.SkipWithError("zv_rsfec_encode failed");
  zv_rsfec_destory(h);
}

// interval_ns: the time between two media packets as the receiver is told it;
// 0 stops the clock, so that nothing expires and the receiver holds as many
// packets as it may (8192).
void receiver(benchmark::State &state, std::int64_t interval_ns, const char *name) {
  const Stream &s = stream();
  zvfec_stream_receiver *rx = new_receiver();
  std::size_t recovered = 0;
  std::int64_t sent = 0;  // media packets sent so far, over all passes
  run_passes(state, name, [&] {
    zvfec_stream_packet p;
    for (std::size_t g = 0; g < kGroups; ++g, sent += kK) {
      for (int i : s.groups[g].media_kept) {
        const Bytes &m = s.media[g * kK + static_cast<std::size_t>(i)];
        zvfec_stream_receiver_push_media(rx, m.data(), m.size(), (sent + i) * interval_ns, nullptr);
      }
      for (int j : s.groups[g].fec_kept) {
        const Bytes &f = s.fec[g * kR + static_cast<std::size_t>(j)];
        zvfec_stream_receiver_push_fec(rx, f.data(), f.size(), (sent + kK - 1) * interval_ns);
      }
      while (zvfec_stream_receiver_pop(rx, &p)) ++recovered;
    }
  });
  // Every pass recovers the same packets.
  if (recovered != s.recoverable * (state.iterations() + 1))
    state.SkipWithError(("recovered " + std::to_string(recovered) + " packets, expected " +
                         std::to_string(s.recoverable * (state.iterations() + 1)))
                            .c_str());
  zvfec_stream_receiver_free(rx);
}

// What any receiver that keeps the packets it may need pays at the least: one
// copy of every media packet that arrives, and of the FEC packets of groups
// that lost media, into a ring of `slots` buffers kept from pass to pass.
void copy_floor(benchmark::State &state, std::size_t slots, const char *name) {
  const Stream &s = stream();
  std::vector<Bytes> ring(slots, Bytes(1536));
  std::size_t next = 0;
  run_passes(state, name, [&] {
    for (std::size_t g = 0; g < kGroups; ++g) {
      const Group &gr = s.groups[g];
      for (int i : gr.media_kept) {
        const Bytes &m = s.media[g * kK + static_cast<std::size_t>(i)];
        Bytes &slot = ring[next++ % slots];
        slot[0] = static_cast<std::uint8_t>(m.size());
        slot[1] = static_cast<std::uint8_t>(m.size() >> 8);
        std::memcpy(slot.data() + 2, m.data(), m.size());
      }
      if (gr.media_kept.size() == kK) continue;
      for (int j : gr.fec_kept) {
        const Bytes &f = s.fec[g * kR + static_cast<std::size_t>(j)];
        std::memcpy(ring[next++ % slots].data(), f.data(), f.size());
      }
    }
    benchmark::DoNotOptimize(ring.data());
  });
}

void bare_decode(benchmark::State &state) {
  const Stream &s = stream();
  void *h = nullptr;
  zv_rsfec_initilize(ZV_FEC_VIDEO, ZV_FEC_VERSION_2, &h);
  // The arguments of every decode call, prepared: surviving media buffers and
  // copies of the surviving FEC packets (the decoder overwrites their symbols).
  struct Call {
    std::vector<unsigned char *> med, fec;
    std::vector<int> med_len, fec_len;
  };
  std::vector<Call> calls;
  std::vector<Bytes> fec_copies, fec_pristine;
  for (std::size_t g = 0; g < kGroups; ++g) {
    const Group &gr = s.groups[g];
    if (gr.media_kept.size() == kK || gr.fec_kept.empty()) continue;
    for (int j : gr.fec_kept) fec_pristine.push_back(s.fec[g * kR + static_cast<std::size_t>(j)]);
  }
  fec_copies = fec_pristine;
  std::size_t next_fec = 0;
  for (std::size_t g = 0; g < kGroups; ++g) {
    const Group &gr = s.groups[g];
    if (gr.media_kept.size() == kK || gr.fec_kept.empty()) continue;
    Call c;
    for (int i : gr.media_kept) {
      const Bytes &b = s.staged[g * kK + static_cast<std::size_t>(i)];
      c.med.push_back(const_cast<unsigned char *>(b.data()));
      c.med_len.push_back(static_cast<int>(b.size()));
    }
    for (std::size_t j = 0; j < gr.fec_kept.size(); ++j) {
      Bytes &f = fec_copies[next_fec++];
      c.fec.push_back(f.data());
      c.fec_len.push_back(static_cast<int>(f.size()));
    }
    calls.push_back(std::move(c));
  }
  std::vector<Bytes> out(kR, Bytes(kPacket + 4));
  std::vector<unsigned char *> out_ptr;
  for (auto &o : out) out_ptr.push_back(o.data());
  int out_len[kR];
  std::size_t recovered = 0;
  auto pass = [&] {
    for (auto &c : calls) {
      int n = 0;
      zv_rsfec_decode(h, c.med.data(), c.med_len.data(), static_cast<int>(c.med.size()),
                      c.fec.data(), c.fec_len.data(), static_cast<int>(c.fec.size()), 0,
                      out_ptr.data(), out_len, &n);
      recovered += static_cast<std::size_t>(n);
    }
  };
  auto restore = [&] {
    for (std::size_t i = 0; i < fec_copies.size(); ++i)
      std::memcpy(fec_copies[i].data(), fec_pristine[i].data(), fec_pristine[i].size());
  };
  run_passes(state, "bare decode", pass, restore);
  if (recovered != s.recoverable * (state.iterations() + 1))
    state.SkipWithError("the bare decodes recovered another number of packets");
  zv_rsfec_destory(h);
}

// Keeps the processor time per media packet of every benchmark.
class Reporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs)
      if (!run.error_occurred && run.run_type == Run::RT_Iteration && run.iterations > 0)
        ns[run.benchmark_name()] = run.cpu_accumulated_time * 1e9 /
                                   static_cast<double>(run.iterations) /
                                   static_cast<double>(kMedia);
    ConsoleReporter::ReportRuns(runs);
  }
};

double per_packet(const char *name) {
  const auto it = g_alloc.find(name);
  if (it == g_alloc.end() || it->second.packets == 0) return -1;
  return static_cast<double>(it->second.allocations) / static_cast<double>(it->second.packets);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::RegisterBenchmark("sender", sender)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("bare_encode", bare_encode)->Unit(benchmark::kMillisecond);
  // 1200-byte packets at 2.5 Mbit/s: 3.84 ms apart; held for 500 ms.
  benchmark::RegisterBenchmark("receiver", [](benchmark::State &st) {
    receiver(st, 3'840'000, "receiver");
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("receiver_8192_held", [](benchmark::State &st) {
    receiver(st, 0, "receiver, 8192 held");
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("bare_decode", bare_decode)->Unit(benchmark::kMillisecond);
  // The receiver holds about 180 packets at that rate.
  benchmark::RegisterBenchmark("copy_floor", [](benchmark::State &st) {
    copy_floor(st, 256, "copy floor");
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("copy_floor_8192", [](benchmark::State &st) {
    copy_floor(st, 8192, "copy floor, 8192 held");
  })->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  const Stream &s = stream();
  std::printf(
      "%d groups of (%d, %d), %zu-byte packets, %.0f %% loss: %zu groups to decode, %zu "
      "packets to recover per pass\n",
      kGroups, kK, kR, kPacket, kLoss * 100, s.lossy_groups, s.recoverable);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto ns = [&](const char *n) {
    const auto it = reporter.ns.find(n);
    return it == reporter.ns.end() ? 0.0 : it->second;
  };
  std::printf("\n%-20s %14s %20s\n", "", "ns per packet", "allocations per packet");
  for (const auto &[bench, label] :
       {std::pair{"sender", "sender"}, std::pair{"bare_encode", "bare encode"},
        std::pair{"receiver", "receiver"}, std::pair{"receiver_8192_held", "receiver, 8192 held"},
        std::pair{"bare_decode", "bare decode"}, std::pair{"copy_floor", "copy floor"},
        std::pair{"copy_floor_8192", "copy floor, 8192 held"}})
    std::printf("%-20s %14.1f %20.3f\n", label, ns(bench), per_packet(label));
  if (ns("sender") > 0 && ns("receiver") > 0 && ns("receiver_8192_held") > 0)
    std::printf(
        "\nsender at %.2f of the bare encode's speed; receiver at %.2f of the bare decodes' "
        "speed, at %.2f holding 8192 packets\n",
        ns("bare_encode") / ns("sender"), ns("bare_decode") / ns("receiver"),
        ns("bare_decode") / ns("receiver_8192_held"));
  if (ns("copy_floor") > 0 && ns("copy_floor_8192") > 0)
    std::printf(
        "one copy of what arrives alone runs at %.2f (%.2f holding 8192) of the bare decodes' "
        "speed; the receiver spends %.2f (%.2f) of its time copying\n",
        ns("bare_decode") / ns("copy_floor"), ns("bare_decode") / ns("copy_floor_8192"),
        ns("copy_floor") / ns("receiver"), ns("copy_floor_8192") / ns("receiver_8192_held"));
  return 0;
}
