// The multiply-accumulate ceiling of every kernel set this processor runs: its
// own product plus XOR into eight accumulators in registers, on data in
// registers (gf_ceiling_loop.h), in GB/s of multiply-accumulated bytes (bytes
// of one register times products per second) from processor time. Each loop
// is first checked against a plain model of its rounds; a loop that disagrees
// is not timed and the program fails.
//
// codec_bench measures the same ceilings in its own run and puts the codecs'
// rates beside them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "gf/gf_kernels.h"
#include "gf_ceiling.h"

namespace {

// Keeps GB/s per benchmark from processor time beside the console report.
class CeilingReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, const gf_ceiling_loop *> loops;
  std::vector<std::string> order;  // names as registered
  std::map<std::string, double> gbps;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      const auto loop = loops.find(run.benchmark_name());
      if (run.error_occurred || run.run_type != Run::RT_Iteration ||
          run.cpu_accumulated_time <= 0 || loop == loops.end()) {
        continue;
      }
      gbps[run.benchmark_name()] = static_cast<double>(run.iterations) *
                                   gf_ceiling_bytes_per_iteration(*loop->second) /
                                   run.cpu_accumulated_time / 1e9;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const gf_kernel_set *sets[8];
  const int set_count = gf_available_kernel_sets(sets, 8);
  CeilingReporter reporter;
  bool ok = true;
  for (int i = 0; i < set_count; ++i) {
    const gf_ceiling_loop *loop = gf_ceiling_loop_of(sets[i]->name);
    if (loop == nullptr) {
      std::printf("kernel set %s: no ceiling loop in this build\n", sets[i]->name);
      continue;
    }
    if (!gf_ceiling_loop_agrees(*loop)) {
      std::printf("kernel set %s: ceiling loop DISAGREES with its model, not timed\n", loop->set);
      ok = false;
      continue;
    }
    std::printf("kernel set %s: ceiling loop agrees with its model\n", loop->set);
    const std::string name = std::string("ceiling/") + loop->set;
    benchmark::RegisterBenchmark(name.c_str(),
                                 [loop](benchmark::State &st) { gf_ceiling_benchmark(st, *loop); });
    reporter.loops[name] = loop;
    reporter.order.push_back(name);
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nmultiply-accumulate ceiling, GB/s of multiply-accumulated bytes\n");
  std::printf("%-12s %8s %9s %12s\n", "set", "register", "GB/s", "products/ns");
  for (const std::string &name : reporter.order) {
    const gf_ceiling_loop *loop = reporter.loops[name];
    const auto it = reporter.gbps.find(name);
    if (it == reporter.gbps.end()) continue;
    std::printf("%-12s %6zu B %9.1f %12.2f\n", loop->set, loop->width, it->second,
                it->second / static_cast<double>(loop->width));
  }
  return ok ? 0 : 1;
}
