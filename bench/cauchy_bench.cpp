// Throughput of the Cauchy block codec against ISA-L's erasure code as a
// yardstick, in MB/s of original data, for the group shapes the media layer
// uses and a few larger ones. Blocks are 1200 bytes. Decoding loses the first
// m originals, so every recovery block is needed.
//
// ISA-L encodes with coding tables prepared once per shape (its usual use);
// its decode inverts the surviving rows and prepares tables on every call,
// as our decoder factorises its sub-matrix on every call.
#include <benchmark/benchmark.h>
#include <isa-l/erasure_code.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "zvfec/cauchy.h"

namespace {

constexpr int kBlockBytes = 1200;

struct Shape {
  int k, m;
};
constexpr Shape kShapes[] = {{4, 2}, {16, 4}, {32, 8}, {64, 8}, {64, 32}, {128, 64}, {200, 56}};

using Bytes = std::vector<uint8_t>;

struct Blocks {
  std::vector<Bytes> data;
  std::vector<uint8_t *> ptrs;
  Blocks(int count, std::mt19937 &rng) : data(count, Bytes(kBlockBytes)) {
    for (auto &b : data) {
      for (auto &v : b) v = static_cast<uint8_t>(rng());
      ptrs.push_back(b.data());
    }
  }
};

void set_rate(benchmark::State &state, int k) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k * kBlockBytes);
}

void ours_encode(benchmark::State &state, Shape s) {
  std::mt19937 rng(1);
  Blocks originals(s.k, rng), recovery(s.m, rng);
  std::vector<void *> o(originals.ptrs.begin(), originals.ptrs.end());
  std::vector<void *> r(recovery.ptrs.begin(), recovery.ptrs.end());
  const cm256_encoder_params params{s.k, s.m, kBlockBytes};
  for (auto _ : state) {
    if (zvfec_encode(params, o.data(), r.data()) != 0) state.SkipWithError("encode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

void ours_decode(benchmark::State &state, Shape s) {
  std::mt19937 rng(2);
  Blocks all(s.k + s.m, rng);
  std::vector<void *> o(all.ptrs.begin(), all.ptrs.begin() + s.k);
  std::vector<void *> r(all.ptrs.begin() + s.k, all.ptrs.end());
  const cm256_encoder_params params{s.k, s.m, kBlockBytes};
  if (zvfec_encode(params, o.data(), r.data()) != 0) state.SkipWithError("encode failed");
  // The first m originals are lost; recovery blocks take their places.
  std::vector<cm256_block> blocks(s.k);
  auto reset = [&] {
    for (int i = 0; i < s.k; ++i) {
      const int index = i < s.m ? s.k + i : i;
      blocks[i] = {all.ptrs[index], static_cast<unsigned char>(index), 0};
    }
  };
  reset();
  Bytes lost0 = all.data[0];
  if (zvfec_decode(params, blocks.data()) != 0 || blocks[0].Index != 0 ||
      std::memcmp(blocks[0].Block, lost0.data(), kBlockBytes) != 0) {
    state.SkipWithError("decode check failed");
  }
  // The decoder works in place; after the first pass it reworks the same
  // amount of (now meaningless) data with the same indices.
  for (auto _ : state) {
    reset();
    if (zvfec_decode(params, blocks.data()) != 0) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

void isal_encode(benchmark::State &state, Shape s) {
  std::mt19937 rng(1);
  Blocks originals(s.k, rng), recovery(s.m, rng);
  Bytes matrix(static_cast<size_t>(s.k + s.m) * s.k), tables(32u * s.k * s.m);
  gf_gen_cauchy1_matrix(matrix.data(), s.k + s.m, s.k);
  ec_init_tables(s.k, s.m, matrix.data() + s.k * s.k, tables.data());
  for (auto _ : state) {
    ec_encode_data(kBlockBytes, s.k, s.m, tables.data(), originals.ptrs.data(),
                   recovery.ptrs.data());
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

void isal_decode(benchmark::State &state, Shape s) {
  std::mt19937 rng(2);
  Blocks all(s.k + s.m, rng), out(s.m, rng);
  Bytes matrix(static_cast<size_t>(s.k + s.m) * s.k), tables(32u * s.k * s.m);
  gf_gen_cauchy1_matrix(matrix.data(), s.k + s.m, s.k);
  ec_init_tables(s.k, s.m, matrix.data() + s.k * s.k, tables.data());
  ec_encode_data(kBlockBytes, s.k, s.m, tables.data(), all.ptrs.data(), all.ptrs.data() + s.k);
  // Survivors: the m recovery blocks and originals m .. k-1.
  std::vector<int> rows;
  for (int i = 0; i < s.m; ++i) rows.push_back(s.k + i);
  for (int i = s.m; i < s.k; ++i) rows.push_back(i);
  std::vector<uint8_t *> survivors;
  for (int row : rows) survivors.push_back(all.ptrs[row]);
  Bytes sub(static_cast<size_t>(s.k) * s.k), inverse(sub.size()),
      decode_rows(static_cast<size_t>(s.m) * s.k);
  auto decode = [&] {
    for (int i = 0; i < s.k; ++i) {
      std::memcpy(&sub[static_cast<size_t>(i) * s.k], &matrix[static_cast<size_t>(rows[i]) * s.k],
                  s.k);
    }
    if (gf_invert_matrix(sub.data(), inverse.data(), s.k) != 0) return false;
    std::memcpy(decode_rows.data(), inverse.data(),
                decode_rows.size());  // rows of originals 0..m-1
    ec_init_tables(s.k, s.m, decode_rows.data(), tables.data());
    ec_encode_data(kBlockBytes, s.k, s.m, tables.data(), survivors.data(), out.ptrs.data());
    return true;
  };
  if (!decode() || out.data[0] != all.data[0]) state.SkipWithError("decode check failed");
  for (auto _ : state) {
    decode();
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

// Prints the console report and keeps MB/s of original data per benchmark,
// from processor time: the build machine is shared, so wall time varies with
// other load more than processor time does.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, int> originals;  // k of each registered benchmark
  std::map<std::string, double> mbps;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      const auto k = originals.find(run.benchmark_name());
      if (run.error_occurred || run.run_type != Run::RT_Iteration ||
          run.cpu_accumulated_time <= 0 || k == originals.end()) {
        continue;
      }
      mbps[run.benchmark_name()] = static_cast<double>(run.iterations) * k->second * kBlockBytes /
                                   run.cpu_accumulated_time / 1e6;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

std::string name(const char *op, const char *who, Shape s) {
  return std::string(op) + "/" + who + "/k" + std::to_string(s.k) + "_m" + std::to_string(s.m);
}

}  // namespace

int main(int argc, char **argv) {
  if (cm256_init_(2) != 0) {
    std::fprintf(stderr, "GF(256) tables failed to build\n");
    return 1;
  }
  TableReporter reporter;
  using Fn = void (*)(benchmark::State &, Shape);
  const std::pair<const char *, const char *> kinds[] = {
      {"encode", "ours"}, {"encode", "isal"}, {"decode", "ours"}, {"decode", "isal"}};
  const Fn fns[] = {ours_encode, isal_encode, ours_decode, isal_decode};
  for (const Shape s : kShapes) {
    for (int i = 0; i < 4; ++i) {
      const std::string n = name(kinds[i].first, kinds[i].second, s);
      benchmark::RegisterBenchmark(n.c_str(), fns[i], s);
      reporter.originals[n] = s.k;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-8s %-10s %12s %12s %8s\n", "op", "k,m", "ours MB/s", "ISA-L MB/s", "ratio");
  for (const char *op : {"encode", "decode"}) {
    for (const Shape s : kShapes) {
      const auto ours = reporter.mbps.find(name(op, "ours", s));
      const auto isal = reporter.mbps.find(name(op, "isal", s));
      if (ours == reporter.mbps.end() || isal == reporter.mbps.end()) continue;
      std::printf("%-8s %3d,%-6d %12.0f %12.0f %8.2f\n", op, s.k, s.m, ours->second, isal->second,
                  ours->second / isal->second);
    }
  }
  return 0;
}
