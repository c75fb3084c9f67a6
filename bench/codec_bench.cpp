// Throughput of every GF(2^8) erasure code in the library, in one run and on
// the same shapes, with ISA-L's erasure code as the yardstick: the Cauchy
// block codec, the Reed-Solomon session codecs 1 (classic GF(2^8)) and 2
// (GF(2^m), m = 8), and the media API's video version 1 and version 2 wire
// variants where the shape fits them. Symbols are 1200 bytes; rates are MB/s
// of source data, from processor time (the machine is shared). Decoding
// loses the first m source symbols, so every repair symbol is needed.
//
// Sessions are created, given their parameters and released inside the timed
// loop, once per group, as a media sender or receiver uses them. ISA-L
// encodes with tables prepared once per shape (its usual use); its decode
// inverts the surviving rows and prepares tables on every call. Built
// without ISA-L (where the target has none, as on aarch64 cross builds), its
// columns stay empty.
//
// First the multiply-accumulate ceiling of every kernel set this processor
// runs (gf_ceiling.h: the set's product plus XOR on registers), whatever
// --benchmark_filter says. At the end: the table of rates and ratios; each
// code's rate as a share of the active set's ceiling / m, the most that k * m
// products per vector of source data allow; and the Cauchy encoder at (32, 8)
// under each kernel set, with its share of that set's own ceiling / 8.
#include <benchmark/benchmark.h>
#if defined(ZV_BENCH_ISAL)
#include <isa-l/erasure_code.h>
#endif

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "gf/gf_kernels.h"
#include "gf_ceiling.h"
#include "reed_solomon/rs_engine.h"
#include "zv_rsfec.h"
#include "zvfec/cauchy.h"
#include "zvfec/codec_session.h"

namespace {

constexpr int kSymbol = 1200;

struct Shape {
  int k, m;
};
constexpr Shape kShapes[] = {{4, 2}, {10, 4}, {16, 4}, {32, 8}, {64, 8}, {64, 32}, {200, 56}};

// Every buffer starts on a 64-byte boundary, as a pool of packet buffers
// gives them: the kernels' loads then fall the same way in every benchmark
// and every run, rather than wherever the heap happens to put each symbol.
template <class T>
struct Aligned64 {
  using value_type = T;
  Aligned64() = default;
  template <class U>
  explicit Aligned64(const Aligned64<U> &) {}
  T *allocate(size_t n) {
    return static_cast<T *>(::operator new (n * sizeof(T), std::align_val_t{64}));
  }
  void deallocate(T *p, size_t) { ::operator delete (p, std::align_val_t{64}); }
  bool operator==(const Aligned64 &) const { return true; }
};
using Bytes = std::vector<uint8_t, Aligned64<uint8_t>>;

struct Blocks {
  std::vector<Bytes> data;
  std::vector<uint8_t *> ptrs;
  Blocks(int count, std::mt19937 &rng, int len = kSymbol) : data(count, Bytes(len)) {
    for (auto &b : data) {
      for (auto &v : b) v = static_cast<uint8_t>(rng());
      ptrs.push_back(b.data());
    }
  }
};

void set_rate(benchmark::State &state, int k) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k * kSymbol);
}

// ---- Cauchy block codec ----

void cauchy_encode(benchmark::State &state, Shape s) {
  std::mt19937 rng(1);
  Blocks originals(s.k, rng), recovery(s.m, rng);
  std::vector<void *> o(originals.ptrs.begin(), originals.ptrs.end());
  std::vector<void *> r(recovery.ptrs.begin(), recovery.ptrs.end());
  const cm256_encoder_params params{s.k, s.m, kSymbol};
  for (auto _ : state) {
    if (zvfec_encode(params, o.data(), r.data()) != 0) state.SkipWithError("encode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

void cauchy_decode(benchmark::State &state, Shape s) {
  std::mt19937 rng(2);
  Blocks all(s.k + s.m, rng);
  std::vector<void *> o(all.ptrs.begin(), all.ptrs.begin() + s.k);
  std::vector<void *> r(all.ptrs.begin() + s.k, all.ptrs.end());
  const cm256_encoder_params params{s.k, s.m, kSymbol};
  if (zvfec_encode(params, o.data(), r.data()) != 0) state.SkipWithError("encode failed");
  std::vector<cm256_block> blocks(s.k);
  auto reset = [&] {
    for (int i = 0; i < s.k; ++i) {
      const int index = i < s.m ? s.k + i : i;
      blocks[i] = {all.ptrs[index], static_cast<unsigned char>(index), 0};
    }
  };
  reset();
  const Bytes lost0 = all.data[0];
  if (zvfec_decode(params, blocks.data()) != 0 ||
      std::memcmp(blocks[0].Block, lost0.data(), kSymbol) != 0) {
    state.SkipWithError("decode check failed");
  }
  // The decoder works in place; later passes rework the same amount of data.
  for (auto _ : state) {
    reset();
    if (zvfec_decode(params, blocks.data()) != 0) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

// ---- session codecs 1 and 2 ----

of_session_t *open_session(of_codec_id_t codec, of_codec_type_t role, Shape s) {
  of_session_t *ses = nullptr;
  if (of_create_codec_instance(&ses, codec, role, 0) != OF_STATUS_OK) return nullptr;
  of_rs_2_m_parameters_t p{static_cast<uint32_t>(s.k), static_cast<uint32_t>(s.m), kSymbol, 8};
  if (of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)) != OF_STATUS_OK) {
    of_release_codec_instance(ses);
    return nullptr;
  }
  return ses;
}

// All repair symbols of one group, built in place into the table's entries
// (the caller's buffers), as the version-1 media path builds them into its FEC
// packets.
bool session_encode_group(of_codec_id_t codec, Shape s, std::vector<void *> &tab) {
  of_session_t *ses = open_session(codec, OF_CODEC_TYPE_ENCODER, s);
  if (ses == nullptr) return false;
  bool ok = true;
  for (int esi = s.k; esi < s.k + s.m; ++esi) {
    ok = ok && of_build_repair_symbol(ses, tab.data(), static_cast<unsigned>(esi)) == OF_STATUS_OK;
  }
  of_release_codec_instance(ses);
  return ok;
}

void session_encode(benchmark::State &state, of_codec_id_t codec, Shape s) {
  std::mt19937 rng(1);
  Blocks all(s.k + s.m, rng);
  std::vector<void *> tab(all.ptrs.begin(), all.ptrs.end());
  for (auto _ : state) {
    if (!session_encode_group(codec, s, tab)) state.SkipWithError("encode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

void session_decode(benchmark::State &state, of_codec_id_t codec, Shape s) {
  std::mt19937 rng(2);
  Blocks all(s.k + s.m, rng);
  const Blocks &originals = all;
  std::vector<void *> tab(all.ptrs.begin(), all.ptrs.end());
  if (!session_encode_group(codec, s, tab)) state.SkipWithError("encode failed");
  std::vector<void *> out(static_cast<size_t>(s.k));
  // Loses originals 0 .. m-1; returns false unless they come back exactly.
  auto decode = [&](bool check) {
    of_session_t *ses = open_session(codec, OF_CODEC_TYPE_DECODER, s);
    if (ses == nullptr) return false;
    for (int esi = s.m; esi < s.k + s.m; ++esi)
      of_decode_with_new_symbol(ses, tab[esi], static_cast<unsigned>(esi));
    bool ok =
        of_is_decoding_complete(ses) && of_get_source_symbols_tab(ses, out.data()) == OF_STATUS_OK;
    for (int i = 0; ok && i < s.m; ++i) {
      if (check) ok = std::memcmp(out[i], originals.ptrs[i], kSymbol) == 0;
      of_free(out[i]);
    }
    of_release_codec_instance(ses);
    return ok;
  };
  if (!decode(true)) state.SkipWithError("decode check failed");
  for (auto _ : state) {
    if (!decode(false)) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

// ---- the Reed-Solomon engine under codecs 1 and 2, without sessions ----

// A shape's GF(2^8) code, taken from the process-wide cache once, and the
// ESIs of its m repair symbols.
struct EngineCode {
  const rs_code *code;
  std::vector<uint32_t> repair_esi;
  explicit EngineCode(Shape s)
      : code(rs_code_acquire(8, static_cast<uint32_t>(s.k), static_cast<uint32_t>(s.k + s.m))) {
    for (int j = 0; j < s.m; ++j) repair_esi.push_back(static_cast<uint32_t>(s.k + j));
  }
  EngineCode(const EngineCode &) = delete;
  EngineCode &operator=(const EngineCode &) = delete;
  ~EngineCode() { rs_code_release(code); }
  // All m repair symbols, in passes of up to eight over the sources.
  void encode(const gf *const *src, uint8_t *const *repair) const {
    rs_code_encode(code, src, repair_esi.data(), repair, static_cast<int>(repair_esi.size()),
                   kSymbol);
  }
};

void rs_engine_encode(benchmark::State &state, Shape s) {
  std::mt19937 rng(1);
  Blocks originals(s.k, rng), recovery(s.m, rng);
  const EngineCode e(s);
  if (e.code == nullptr) return state.SkipWithError("no code");
  const std::vector<const gf *> src(originals.ptrs.begin(), originals.ptrs.end());
  for (auto _ : state) {
    e.encode(src.data(), recovery.ptrs.data());
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

// Decoding in place, as codec 1 does: the first m positions hold repair
// symbols and receive the missing sources.
void rs_engine_decode(benchmark::State &state, Shape s) {
  std::mt19937 rng(2);
  Blocks all(s.k + s.m, rng);
  const EngineCode e(s);
  if (e.code == nullptr) return state.SkipWithError("no code");
  const std::vector<const gf *> src(all.ptrs.begin(), all.ptrs.begin() + s.k);
  e.encode(src.data(), all.ptrs.data() + s.k);
  const Bytes lost0 = all.data[0];
  std::vector<gf *> pkt(static_cast<size_t>(s.k));
  std::vector<int> index(static_cast<size_t>(s.k));
  auto decode = [&] {
    for (int i = 0; i < s.k; ++i) {
      index[i] = i < s.m ? s.k + i : i;
      pkt[i] = all.ptrs[index[i]];
    }
    return rs_decode_in_place(e.code, pkt.data(), index.data(), kSymbol) == 0;
  };
  if (!decode() || std::memcmp(pkt[0], lost0.data(), kSymbol) != 0)
    state.SkipWithError("decode check failed");
  // In place, like the Cauchy decoder: later passes rework the same amount.
  for (auto _ : state) {
    if (!decode()) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}

// ---- the media API ----

// A group of media buffers (length prefix, RTP header, payload; 1200 bytes
// each) and room for its FEC packets.
struct MediaGroup {
  std::vector<Bytes> media, fec;
  std::vector<unsigned char *> media_ptr, fec_ptr;
  std::vector<int> media_len, fec_len;
  MediaGroup(Shape s, std::mt19937 &rng) {
    for (int i = 0; i < s.k; ++i) {
      Bytes b(kSymbol);
      for (auto &v : b) v = static_cast<uint8_t>(rng());
      b[0] = static_cast<uint8_t>((kSymbol - 2) & 0xFF);
      b[1] = static_cast<uint8_t>((kSymbol - 2) >> 8);
      b[2] = 0x80;
      b[3] = 96;
      b[4] = static_cast<uint8_t>((1000 + i) >> 8);
      b[5] = static_cast<uint8_t>(1000 + i);
      media.push_back(b);
    }
    fec.assign(static_cast<size_t>(s.m), Bytes(12 + 12 + kSymbol));
    for (auto &b : media) media_ptr.push_back(b.data());
    for (auto &b : fec) fec_ptr.push_back(b.data());
    media_len.assign(media.size(), kSymbol);
    fec_len.assign(fec.size(), static_cast<int>(fec[0].size()));
  }
  int encode(void *h, Shape s) {
    fec_len.assign(fec.size(), static_cast<int>(fec[0].size()));
    return zv_rsfec_encode(h, 0, media_ptr.data(), media_len.data(), s.k, s.m, 0, fec_ptr.data(),
                           fec_len.data());
  }
};

bool api_fits(int version, Shape s) {
  return version == ZV_FEC_VERSION_2 ? s.k <= 64 && s.m <= 64 : s.k + s.m <= 128;
}

void api_encode(benchmark::State &state, int version, Shape s) {
  std::mt19937 rng(1);
  MediaGroup g(s, rng);
  void *h = nullptr;
  zv_rsfec_initilize(ZV_FEC_VIDEO, version, &h);
  for (auto _ : state) {
    if (g.encode(h, s) != 0) state.SkipWithError("encode failed");
    benchmark::ClobberMemory();
  }
  zv_rsfec_destory(h);
  set_rate(state, s.k);
}

void api_decode(benchmark::State &state, int version, Shape s) {
  std::mt19937 rng(2);
  MediaGroup g(s, rng);
  void *h = nullptr;
  zv_rsfec_initilize(ZV_FEC_VIDEO, version, &h);
  if (g.encode(h, s) != 0) state.SkipWithError("encode failed");
  // The version-2 decoder works in place, so every call gets fresh copies of
  // the FEC packets as they arrived, from a pool refilled outside the timing.
  constexpr int kPool = 64;
  std::vector<std::vector<Bytes>> pool(kPool, g.fec);
  std::vector<unsigned char *> fec_ptr(g.fec.size());
  std::vector<Bytes> out(static_cast<size_t>(s.m), Bytes(kSymbol));
  std::vector<unsigned char *> out_ptr;
  for (auto &b : out) out_ptr.push_back(b.data());
  std::vector<int> out_len(out.size());
  int next = 0;
  auto decode = [&] {
    for (size_t j = 0; j < fec_ptr.size(); ++j) fec_ptr[j] = pool[next][j].data();
    next = (next + 1) % kPool;
    int n = 0;
    const int rc = zv_rsfec_decode(h, g.media_ptr.data() + s.m, g.media_len.data() + s.m, s.k - s.m,
                                   fec_ptr.data(), g.fec_len.data(), s.m, 0, out_ptr.data(),
                                   out_len.data(), &n);
    return rc == 0 && n == s.m;
  };
  if (!decode() || std::memcmp(out[0].data(), g.media[0].data() + 2, kSymbol - 2) != 0)
    state.SkipWithError("decode check failed");
  for (auto _ : state) {
    if (next == 0) {
      state.PauseTiming();
      for (auto &copy : pool) copy = g.fec;
      state.ResumeTiming();
    }
    if (!decode()) state.SkipWithError("decode failed");
    benchmark::ClobberMemory();
  }
  zv_rsfec_destory(h);
  set_rate(state, s.k);
}

// ---- ISA-L ----

#if defined(ZV_BENCH_ISAL)
void isal_encode(benchmark::State &state, Shape s) {
  std::mt19937 rng(1);
  Blocks originals(s.k, rng), recovery(s.m, rng);
  Bytes matrix(static_cast<size_t>(s.k + s.m) * s.k), tables(32u * s.k * s.m);
  gf_gen_cauchy1_matrix(matrix.data(), s.k + s.m, s.k);
  ec_init_tables(s.k, s.m, matrix.data() + s.k * s.k, tables.data());
  for (auto _ : state) {
    ec_encode_data(kSymbol, s.k, s.m, tables.data(), originals.ptrs.data(), recovery.ptrs.data());
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
  ec_encode_data(kSymbol, s.k, s.m, tables.data(), all.ptrs.data(), all.ptrs.data() + s.k);
  // Survivors: the m recovery blocks and originals m .. k-1.
  std::vector<int> rows;
  for (int i = 0; i < s.m; ++i) rows.push_back(s.k + i);
  for (int i = s.m; i < s.k; ++i) rows.push_back(i);
  std::vector<uint8_t *> survivors;
  for (int row : rows) survivors.push_back(all.ptrs[row]);
  Bytes sub(static_cast<size_t>(s.k) * s.k), inverse(sub.size());
  auto decode = [&] {
    for (int i = 0; i < s.k; ++i) {
      std::memcpy(&sub[static_cast<size_t>(i) * s.k], &matrix[static_cast<size_t>(rows[i]) * s.k],
                  s.k);
    }
    if (gf_invert_matrix(sub.data(), inverse.data(), s.k) != 0) return false;
    // The first m rows of the inverse rebuild originals 0 .. m-1.
    ec_init_tables(s.k, s.m, inverse.data(), tables.data());
    ec_encode_data(kSymbol, s.k, s.m, tables.data(), survivors.data(), out.ptrs.data());
    return true;
  };
  if (!decode() || out.data[0] != all.data[0]) state.SkipWithError("decode check failed");
  for (auto _ : state) {
    decode();
    benchmark::ClobberMemory();
  }
  set_rate(state, s.k);
}
#endif

// ---- report ----

// Prints the console report and keeps MB/s per benchmark, from processor
// time: of source data for the codecs, of multiply-accumulated bytes for the
// ceilings.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, int> originals;                     // k of each codec benchmark
  std::map<std::string, const gf_ceiling_loop *> ceilings;  // loop of each ceiling benchmark
  std::map<std::string, double> mbps;
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration ||
          run.cpu_accumulated_time <= 0) {
        continue;
      }
      double bytes = 0;
      if (const auto k = originals.find(run.benchmark_name()); k != originals.end()) {
        bytes = static_cast<double>(k->second) * kSymbol;
      } else if (const auto c = ceilings.find(run.benchmark_name()); c != ceilings.end()) {
        bytes = static_cast<double>(gf_ceiling_bytes_per_iteration(*c->second));
      } else {
        continue;
      }
      mbps[run.benchmark_name()] =
          static_cast<double>(run.iterations) * bytes / run.cpu_accumulated_time / 1e6;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double rate(const std::string &name) const {
    const auto it = mbps.find(name);
    return it == mbps.end() ? 0 : it->second;
  }
  // MB/s of the set's ceiling; 0 where it was not measured.
  double ceiling(const char *set) const { return rate(std::string("ceiling/") + set); }
};

std::string name(const char *op, const char *who, Shape s) {
  return std::string(op) + "/" + who + "/k" + std::to_string(s.k) + "_m" + std::to_string(s.m);
}

constexpr const char *kWho[] = {"cauchy", "codec1", "codec2", "v1-api", "v2-api", "isal"};

void print_cell(double v) {
  if (v > 0)
    std::printf(" %9.0f", v);
  else
    std::printf(" %9s", "-");
}

void print_ratio(double a, double b) {
  if (a > 0 && b > 0)
    std::printf(" %7.2f", a / b);
  else
    std::printf(" %7s", "-");
}

// rate (MB/s of source data) as a share of ceiling / m (MB/s).
void print_share(double rate, double ceiling, int m) {
  if (rate > 0 && ceiling > 0)
    std::printf(" %9.3f", rate / (ceiling / m));
  else
    std::printf(" %9s", "-");
}

}  // namespace

int main(int argc, char **argv) {
  if (cm256_init_(2) != 0) {
    std::fprintf(stderr, "GF(256) tables failed to build\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  const gf_kernel_set *sets[8];
  const int set_count = gf_available_kernel_sets(sets, 8);
  const char *active = gf_active_kernels().name;

  // The ceilings, in a pass of their own so that no filter leaves them out.
  for (int i = 0; i < set_count; ++i) {
    const gf_ceiling_loop *loop = gf_ceiling_loop_of(sets[i]->name);
    if (loop == nullptr || !gf_ceiling_loop_agrees(*loop)) {
      std::fprintf(stderr, "kernel set %s: no ceiling loop that agrees with its model\n",
                   sets[i]->name);
      continue;
    }
    const std::string n = std::string("ceiling/") + loop->set;
    benchmark::RegisterBenchmark(n.c_str(),
                                 [loop](benchmark::State &st) { gf_ceiling_benchmark(st, *loop); });
    reporter.ceilings[n] = loop;
  }
  benchmark::RunSpecifiedBenchmarks(&reporter, "^ceiling/");
  benchmark::ClearRegisteredBenchmarks();

  auto add = [&](const std::string &n, int k, std::function<void(benchmark::State &)> fn) {
    benchmark::RegisterBenchmark(n.c_str(), [fn](benchmark::State &st) { fn(st); });
    reporter.originals[n] = k;
  };
  for (const Shape s : kShapes) {
    add(name("encode", "cauchy", s), s.k, [s](benchmark::State &st) { cauchy_encode(st, s); });
    add(name("decode", "cauchy", s), s.k, [s](benchmark::State &st) { cauchy_decode(st, s); });
    for (const auto &[who, codec] : {std::pair{"codec1", OF_CODEC_REED_SOLOMON_GF_2_8_STABLE},
                                     std::pair{"codec2", OF_CODEC_REED_SOLOMON_GF_2_M_STABLE}}) {
      add(name("encode", who, s), s.k,
          [s, codec](benchmark::State &st) { session_encode(st, codec, s); });
      add(name("decode", who, s), s.k,
          [s, codec](benchmark::State &st) { session_decode(st, codec, s); });
    }
    for (const auto &[who, version] :
         {std::pair{"v1-api", ZV_FEC_VERSION_1}, std::pair{"v2-api", ZV_FEC_VERSION_2}}) {
      if (!api_fits(version, s)) continue;
      add(name("encode", who, s), s.k,
          [s, version](benchmark::State &st) { api_encode(st, version, s); });
      add(name("decode", who, s), s.k,
          [s, version](benchmark::State &st) { api_decode(st, version, s); });
    }
    add(name("encode", "rs-engine", s), s.k,
        [s](benchmark::State &st) { rs_engine_encode(st, s); });
    add(name("decode", "rs-engine", s), s.k,
        [s](benchmark::State &st) { rs_engine_decode(st, s); });
#if defined(ZV_BENCH_ISAL)
    add(name("encode", "isal", s), s.k, [s](benchmark::State &st) { isal_encode(st, s); });
    add(name("decode", "isal", s), s.k, [s](benchmark::State &st) { isal_decode(st, s); });
#endif
  }
  // The Cauchy encoder under every kernel set.
  const Shape forced{32, 8};
  for (int i = 0; i < set_count; ++i) {
    const gf_kernel_set *set = sets[i];
    add(std::string("encode/cauchy-") + set->name + "/k32_m8", forced.k,
        [set, forced](benchmark::State &st) {
          const gf_kernel_set &before = gf_active_kernels();
          gf_use_kernels(*set);
          cauchy_encode(st, forced);
          gf_use_kernels(before);
        });
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  for (const char *op : {"encode", "decode"}) {
    std::printf("\n%s, MB/s of source data\n%-7s", op, "k,m");
    for (const char *who : kWho) std::printf(" %9s", who);
    std::printf(" %7s %7s %7s %7s %7s %7s\n", "c1/cau", "c2/cau", "c1/isa", "c2/isa", "v1/v2",
                "v2/cau");
    for (const Shape s : kShapes) {
      std::printf("%3d,%-3d", s.k, s.m);
      double r[6];
      for (int i = 0; i < 6; ++i) {
        r[i] = reporter.rate(name(op, kWho[i], s));
        print_cell(r[i]);
      }
      print_ratio(r[1], r[0]);
      print_ratio(r[2], r[0]);
      print_ratio(r[1], r[5]);
      print_ratio(r[2], r[5]);
      print_ratio(r[3], r[4]);
      print_ratio(r[4], r[0]);
      std::printf("\n");
    }
  }
  const double ceiling = reporter.ceiling(active);
  for (const char *op : {"encode", "decode"}) {
    std::printf("\n%s, share of the active set's ceiling / m (%s, %.1f GB/s)\n%-7s", op, active,
                ceiling / 1e3, "k,m");
    for (const char *who : kWho) std::printf(" %9s", who);
    std::printf("\n");
    for (const Shape s : kShapes) {
      std::printf("%3d,%-3d", s.k, s.m);
      for (const char *who : kWho) print_share(reporter.rate(name(op, who, s)), ceiling, s.m);
      std::printf("\n");
    }
  }
  // Decoding m missing sources takes the k * m products per vector that
  // encoding m repair symbols takes, and a small solve.
  constexpr const char *kDecoders[] = {"cauchy", "rs-engine", "codec1",
                                       "codec2", "v1-api",    "v2-api"};
  std::printf("\ndecode / encode, same shape, m sources lost\n%-7s", "k,m");
  for (const char *who : kDecoders) std::printf(" %9s", who);
  std::printf("\n");
  for (const Shape s : kShapes) {
    std::printf("%3d,%-3d", s.k, s.m);
    for (const char *who : kDecoders) {
      const double encode = reporter.rate(name("encode", who, s));
      const double decode = reporter.rate(name("decode", who, s));
      if (encode > 0 && decode > 0)
        std::printf(" %9.2f", decode / encode);
      else
        std::printf(" %9s", "-");
    }
    std::printf("\n");
  }
  std::printf(
      "\nCauchy encode at (32, 8) by kernel set, MB/s, and its share of the set's own\n"
      "ceiling / 8\n%-12s %9s %14s %9s\n",
      "set", "MB/s", "ceiling GB/s", "share");
  for (int i = 0; i < set_count; ++i) {
    const double set_ceiling = reporter.ceiling(sets[i]->name);
    std::printf("%-12s %9.0f", sets[i]->name,
                reporter.rate(std::string("encode/cauchy-") + sets[i]->name + "/k32_m8"));
    if (set_ceiling > 0)
      std::printf(" %14.1f", set_ceiling / 1e3);
    else
      std::printf(" %14s", "-");
    print_share(reporter.rate(std::string("encode/cauchy-") + sets[i]->name + "/k32_m8"),
                set_ceiling, forced.m);
    std::printf("\n");
  }
  return 0;
}
