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
// machine shared with other work. With --benchmark_format=json (or
// --benchmark_out with --benchmark_out_format=json) the same figures are in
// the JSON: every rate in bytes_per_second and, beside it, of_memcpy, its share
// of memcpy's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
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

// What a run's name says: BM_<what>/<k>/<r>[/<loss>], aggregates of
// repetitions (mean, median, ...) under the name of their runs.
struct RunName {
  std::string shape;  // "<k>/<r>"
  std::string label;  // "memcpy", "encode", "decode 25% lost"
};

RunName name_of(const benchmark::BenchmarkReporter::Run &run) {
  const std::string what = run.run_name.function_name.substr(3);
  const std::string &args = run.run_name.args;
  const size_t second = args.find('/', args.find('/') + 1);
  return {args.substr(0, second),
          second == std::string::npos ? what : what + " " + args.substr(second + 1) + "% lost"};
}

// A rate in bytes per second; nullptr for runs that have none to compare:
// failed ones, and the spread of repetitions (stddev, cv), which is no rate.
const benchmark::Counter *rate_of(const benchmark::BenchmarkReporter::Run &run) {
  if (run.error_occurred || run.aggregate_name == "stddev" || run.aggregate_name == "cv")
    return nullptr;
  const auto rate = run.counters.find("bytes_per_second");
  return rate == run.counters.end() ? nullptr : &rate->second;
}

std::string printed(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char *format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// The console table, then one line per shape with every rate as a share of
// memcpy's in the same run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      const benchmark::Counter *rate = rate_of(run);
      if (rate == nullptr) continue;
      const RunName n = name_of(run);
      Figure &f = shapes_[n.shape][n.label];
      f.rate = rate->value;
      const auto peak = run.counters.find("peak_MiB");
      if (peak != run.counters.end()) f.peak_mib = peak->second.value;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::ostream &out = GetOutputStream();
    out << "\nRates as a share of memcpy of the same shape, in this run (k/r):\n";
    for (const auto &[shape, figures] : shapes_) {
      const auto copy = figures.find("memcpy");
      if (copy == figures.end()) continue;
      out << printed("  %s: memcpy %.0f MB/s\n", shape.c_str(), copy->second.rate / 1e6);
      for (const auto &[label, f] : figures) {
        if (label == "memcpy") continue;
        out << printed("    %-18s %8.0f MB/s  1/%-6.1f of memcpy", label.c_str(), f.rate / 1e6,
                       copy->second.rate / f.rate);
        if (f.peak_mib >= 0) out << printed("  peak %.1f MiB", f.peak_mib);
        out << "\n";
      }
    }
    out.flush();
  }

 private:
  struct Figure {
    double rate = 0;
    double peak_mib = -1;
  };
  std::map<std::string, std::map<std::string, Figure>> shapes_;
};

// Passes every run on to another reporter (JSON) with one more counter,
// of_memcpy: the run's rate as a share of memcpy's for the same shape
// earlier in the same run, what the console summary shows. memcpy runs first:
// it is registered first.
class ShareReporter : public benchmark::BenchmarkReporter {
 public:
  explicit ShareReporter(std::unique_ptr<benchmark::BenchmarkReporter> inner)
      : inner_(std::move(inner)) {}

  bool ReportContext(const Context &context) override {
    // The library points this reporter, not the inner one, at its file.
    inner_->SetOutputStream(&GetOutputStream());
    inner_->SetErrorStream(&GetErrorStream());
    return inner_->ReportContext(context);
  }
  void ReportRuns(const std::vector<Run> &runs) override {
    std::vector<Run> out = runs;
    for (Run &run : out) {
      const benchmark::Counter *rate = rate_of(run);
      if (rate == nullptr) continue;
      const RunName n = name_of(run);
      const auto key = std::make_pair(n.shape, run.aggregate_name);
      if (n.label == "memcpy") {
        memcpy_[key] = rate->value;
        continue;
      }
      const auto copy = memcpy_.find(key);
      if (copy != memcpy_.end() && copy->second > 0)
        run.counters["of_memcpy"] = rate->value / copy->second;
    }
    inner_->ReportRuns(out);
  }
  void Finalize() override { inner_->Finalize(); }

 private:
  std::unique_ptr<benchmark::BenchmarkReporter> inner_;
  std::map<std::pair<std::string, std::string>, double> memcpy_;  // (shape, aggregate): rate
};

// The value of flag --name=value (or -name=value) in argv, before
// benchmark::Initialize consumes it; as there, the last one counts, and
// without one the environment variable NAME (upper case) stands in for it.
std::optional<std::string> flag(int argc, char **argv, const std::string &name) {
  std::optional<std::string> value;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) == 0)
      arg.erase(0, 2);
    else if (arg.rfind('-', 0) == 0)
      arg.erase(0, 1);
    else
      continue;
    if (arg.rfind(name + "=", 0) == 0) value = arg.substr(name.size() + 1);
  }
  if (value) return value;
  std::string env = name;
  for (char &c : env) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (const char *v = std::getenv(env.c_str())) return std::string(v);
  return std::nullopt;
}

// The reporter for format `name` with the memcpy shares: the console table
// with its summary, JSON with of_memcpy counters. nullptr for other formats,
// which the library's own reporters serve without the shares.
std::unique_ptr<benchmark::BenchmarkReporter> reporter_for(const std::string &name) {
  if (name == "console") return std::make_unique<RatioReporter>();
  if (name == "json")
    return std::make_unique<ShareReporter>(std::make_unique<benchmark::JSONReporter>());
  return nullptr;
}

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
  // What --benchmark_format and --benchmark_out_format ask for, read before
  // Initialize takes them out of argv; unknown formats are the library's to
  // refuse.
  const std::string display_format = flag(argc, argv, "benchmark_format").value_or("console");
  const bool to_file = !flag(argc, argv, "benchmark_out").value_or("").empty();
  const std::string file_format = flag(argc, argv, "benchmark_out_format").value_or("json");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::unique_ptr<benchmark::BenchmarkReporter> display = reporter_for(display_format);
  if (!display) display.reset(benchmark::CreateDefaultDisplayReporter());
  const auto file = to_file ? reporter_for(file_format) : nullptr;
  benchmark::RunSpecifiedBenchmarks(display.get(), file.get());
  benchmark::Shutdown();
  return 0;
}
