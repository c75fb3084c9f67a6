// Throughput of the LDPC-staircase codec through codec sessions, in MB/s of
// source data, beside memcpy of the same volume as a yardstick, for two
// shapes with 1024-byte symbols and N1 = 7: k = 10000, r = 5000, and the
// largest code of the same rate that the codec takes (n <= 50000).
//
// Encoding reuses one session (the parity-check matrix is built once) and
// builds all r repair symbols per iteration. Decoding opens a session per
// block, as a receiver does, so its figure includes building the matrix; a
// share of the n symbols, chosen at random, is lost, the rest fed in random
// order, and decoding is finished by elimination when peeling stalls. Each
// decoding benchmark also reports peak_MiB: how far the resident memory of a
// process rose over one such decoding (session, matrix, copies of the
// received repair symbols and recovered source symbols included), measured
// once in a child process.
//
// After the usual table, a summary gives every figure as a ratio to memcpy
// of the same shape in the same run: the figure to compare between runs on a
// machine shared with other work.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifdef __linux__
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "zvfec/codec_session.h"

namespace {

constexpr uint32_t kLen = 1024;
constexpr int32_t kSeed = 1234;
constexpr uint8_t kN1 = 7;

struct Shape {
  uint32_t k, r;
  uint32_t n() const { return k + r; }
};

// The benchmarks' arguments: k, r and, for decoding, the loss in percent.
Shape shape_of(const benchmark::State &state) {
  return {static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1))};
}

struct Block {
  Shape shape;
  std::vector<unsigned char> bytes;
  std::vector<void *> tab;  // n entries: source symbols, then repair symbols
  explicit Block(Shape s) : shape(s), bytes(size_t{s.n()} * kLen), tab(s.n()) {
    std::mt19937 rng(7);
    for (size_t i = 0; i + 4 <= size_t{s.k} * kLen; i += 4) {
      const uint32_t word = rng();
      std::memcpy(&bytes[i], &word, 4);
    }
    for (uint32_t i = 0; i < s.n(); ++i) tab[i] = bytes.data() + size_t{i} * kLen;
  }
};

of_session_t *open(Shape s, of_codec_type_t type) {
  of_session_t *ses = nullptr;
  if (of_create_codec_instance(&ses, OF_CODEC_LDPC_STAIRCASE_STABLE, type, 0) != OF_STATUS_OK)
    return nullptr;
  of_ldpc_parameters_t p{s.k, s.r, kLen, kSeed, kN1};
  if (of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)) != OF_STATUS_OK) {
    of_release_codec_instance(ses);
    return nullptr;
  }
  return ses;
}

bool encode(of_session_t *ses, Block &b) {
  for (uint32_t esi = b.shape.k; esi < b.shape.n(); ++esi)
    if (of_build_repair_symbol(ses, b.tab.data(), esi) != OF_STATUS_OK) return false;
  return true;
}

void set_rate(benchmark::State &state, Shape s) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * s.k * kLen);
}

// The received ESIs in arrival order: `percent` of the n symbols lost.
std::vector<uint32_t> received(Shape s, int64_t percent) {
  std::mt19937 rng(3);
  std::vector<uint32_t> order(s.n());
  for (uint32_t i = 0; i < s.n(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  order.resize(s.n() - static_cast<uint32_t>(uint64_t{s.n()} * percent / 100));
  return order;
}

enum class Outcome { kByPeeling, kByElimination, kFailed, kWrong };

// One receiver's decoding of the block: a new session, the received symbols,
// elimination when needed. Recovered symbols are compared with the originals
// (outside the timing when a state is given) and freed.
Outcome decode(const Block &b, const std::vector<uint32_t> &order, benchmark::State *state) {
  const Shape s = b.shape;
  of_session_t *ses = open(s, OF_CODEC_TYPE_DECODER);
  if (ses == nullptr) return Outcome::kFailed;
  for (uint32_t esi : order) of_decode_with_new_symbol(ses, b.tab[esi], esi);
  Outcome outcome = Outcome::kByPeeling;
  if (!of_is_decoding_complete(ses)) {
    outcome = Outcome::kByElimination;
    if (of_finish_decoding(ses) != OF_STATUS_OK) outcome = Outcome::kFailed;
  }
  std::vector<void *> out(s.k, nullptr);
  of_get_source_symbols_tab(ses, out.data());
  if (state != nullptr) state->PauseTiming();
  for (uint32_t i = 0; i < s.k; ++i) {
    if (out[i] == b.tab[i] || out[i] == nullptr) continue;
    if (std::memcmp(out[i], b.tab[i], kLen) != 0) outcome = Outcome::kWrong;
    of_free(out[i]);
  }
  if (state != nullptr) state->ResumeTiming();
  of_release_codec_instance(ses);
  return outcome;
}

// Peak resident memory that one decoding adds, in MiB, measured in a child
// process: freed heap is handed back first and the high-water mark reset,
// so that neither earlier work nor reused pages hide the decoder's own.
// Negative where this cannot be measured.
double decoding_peak_mib(const Block &b, const std::vector<uint32_t> &order) {
#ifdef __linux__
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    malloc_trim(0);
    auto read_kib = [](const char *field) {
      long kib = -1;
      if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t len = std::strlen(field);
        while (std::fgets(line, sizeof line, f))
          if (std::strncmp(line, field, len) == 0) kib = std::atol(line + len);
        std::fclose(f);
      }
      return kib;
    };
    double mib = -1;
    if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
      const bool reset = std::fputs("5", f) >= 0;
      if (std::fclose(f) == 0 && reset) {
        const long before = read_kib("VmRSS:");
        const Outcome outcome = decode(b, order, nullptr);
        const long peak = read_kib("VmHWM:");
        if (before >= 0 && peak >= 0 && outcome != Outcome::kFailed && outcome != Outcome::kWrong)
          mib = static_cast<double>(peak - before) / 1024.0;
      }
    }
    const ssize_t written = write(fds[1], &mib, sizeof mib);
    _exit(written == sizeof mib ? 0 : 1);
  }
  close(fds[1]);
  double mib = -1;
  if (pid < 0 || read(fds[0], &mib, sizeof mib) != sizeof mib) mib = -1;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return mib;
#else
  (void)b;
  (void)order;
  return -1;
#endif
}

void BM_memcpy(benchmark::State &state) {
  const Shape s = shape_of(state);
  std::vector<unsigned char> from(size_t{s.k} * kLen, 1), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  set_rate(state, s);
}

void BM_encode(benchmark::State &state) {
  Block b(shape_of(state));
  of_session_t *ses = open(b.shape, OF_CODEC_TYPE_ENCODER);
  if (ses == nullptr) return state.SkipWithError("no session");
  for (auto _ : state) {
    if (!encode(ses, b)) return state.SkipWithError("encode failed");
    benchmark::ClobberMemory();
  }
  of_release_codec_instance(ses);
  set_rate(state, b.shape);
}

void BM_decode(benchmark::State &state) {
  Block b(shape_of(state));
  of_session_t *enc = open(b.shape, OF_CODEC_TYPE_ENCODER);
  if (enc == nullptr || !encode(enc, b)) return state.SkipWithError("encode failed");
  of_release_codec_instance(enc);
  const std::vector<uint32_t> order = received(b.shape, state.range(2));
  const double peak = decoding_peak_mib(b, order);
  int64_t by_elimination = 0;
  for (auto _ : state) {
    const Outcome outcome = decode(b, order, &state);
    if (outcome == Outcome::kFailed) return state.SkipWithError("decoding failed");
    if (outcome == Outcome::kWrong) return state.SkipWithError("wrong symbol");
    by_elimination += outcome == Outcome::kByElimination;
  }
  state.counters["by_elimination"] =
      benchmark::Counter(static_cast<double>(by_elimination), benchmark::Counter::kAvgIterations);
  state.counters["peak_MiB"] = peak;
  set_rate(state, b.shape);
}

// The console table, then one line per shape with every rate as a share of
// memcpy's in the same run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      const auto rate = run.counters.find("bytes_per_second");
      if (rate == run.counters.end()) continue;
      const std::string name = run.benchmark_name();
      // Names are BM_<what>/<k>/<r>[/<loss>]
      const size_t slash = name.find('/');
      const std::string what = name.substr(3, slash - 3);
      const size_t second = name.find('/', slash + 1);
      const size_t third = name.find('/', second + 1);
      const std::string shape = name.substr(slash + 1, third - slash - 1);
      const std::string label =
          third == std::string::npos ? what : what + " " + name.substr(third + 1) + "% lost";
      Figure &f = shapes_[shape][label];
      f.rate = rate->second.value;
      const auto peak = run.counters.find("peak_MiB");
      if (peak != run.counters.end()) f.peak_mib = peak->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nRates as a share of memcpy of the same shape, in this run (k/r):\n");
    for (const auto &[shape, figures] : shapes_) {
      const auto copy = figures.find("memcpy");
      if (copy == figures.end()) continue;
      std::printf("  %s: memcpy %.0f MB/s\n", shape.c_str(), copy->second.rate / 1e6);
      for (const auto &[label, f] : figures) {
        if (label == "memcpy") continue;
        std::printf("    %-18s %8.0f MB/s  1/%-6.1f of memcpy", label.c_str(), f.rate / 1e6,
                    copy->second.rate / f.rate);
        if (f.peak_mib >= 0) std::printf("  peak %.1f MiB", f.peak_mib);
        std::printf("\n");
      }
    }
  }

 private:
  struct Figure {
    double rate = 0;
    double peak_mib = -1;
  };
  std::map<std::string, std::map<std::string, Figure>> shapes_;
};

// k = 10000, r = 5000, and the largest code of rate 2/3 within n <= 50000.
void shapes(benchmark::internal::Benchmark *b) {
  b->Args({10000, 5000})->Args({33332, 16666})->Unit(benchmark::kMillisecond);
}

void losses(benchmark::internal::Benchmark *b) {
  for (int64_t loss : {25, 30}) b->Args({10000, 5000, loss});
  for (int64_t loss : {25, 30}) b->Args({33332, 16666, loss});
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_memcpy)->Apply(shapes);
BENCHMARK(BM_encode)->Apply(shapes);
BENCHMARK(BM_decode)->Apply(losses);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
