// Throughput of the LDPC-staircase codec through codec sessions, in MB/s of
// source data, for k = 10000 source and r = 5000 repair symbols of 1024
// bytes (N1 = 7), beside memcpy of the same volume as a yardstick.
//
// Encoding reuses one session (the parity-check matrix is built once) and
// builds all r repair symbols per iteration. Decoding opens a session per
// block, as a receiver does, so its figure includes building the matrix
// (shown alone as setup); a quarter of the n symbols, chosen at random, is
// lost, the rest fed in random order, and decoding is finished by
// elimination when peeling stalls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "zvfec/codec_session.h"

namespace {

constexpr uint32_t kK = 10000;
constexpr uint32_t kR = 5000;
constexpr uint32_t kN = kK + kR;
constexpr uint32_t kLen = 1024;
constexpr int32_t kSeed = 1234;
constexpr uint8_t kN1 = 7;

struct Block {
  std::vector<unsigned char> bytes;
  std::vector<void *> tab;  // n entries: source symbols, then repair symbols
  Block() : bytes(size_t{kN} * kLen), tab(kN) {
    std::mt19937 rng(7);
    for (size_t i = 0; i < size_t{kK} * kLen; ++i) bytes[i] = static_cast<unsigned char>(rng());
    for (uint32_t i = 0; i < kN; ++i) tab[i] = bytes.data() + size_t{i} * kLen;
  }
};

of_session_t *open(of_codec_type_t type) {
  of_session_t *ses = nullptr;
  if (of_create_codec_instance(&ses, OF_CODEC_LDPC_STAIRCASE_STABLE, type, 0) != OF_STATUS_OK)
    return nullptr;
  of_ldpc_parameters_t p{kK, kR, kLen, kSeed, kN1};
  if (of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)) != OF_STATUS_OK) {
    of_release_codec_instance(ses);
    return nullptr;
  }
  return ses;
}

bool encode(of_session_t *ses, Block &b) {
  for (uint32_t esi = kK; esi < kN; ++esi)
    if (of_build_repair_symbol(ses, b.tab.data(), esi) != OF_STATUS_OK) return false;
  return true;
}

void set_rate(benchmark::State &state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kK * kLen);
}

void BM_memcpy(benchmark::State &state) {
  std::vector<unsigned char> from(size_t{kK} * kLen, 1), to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  set_rate(state);
}

void BM_encode(benchmark::State &state) {
  Block b;
  of_session_t *ses = open(OF_CODEC_TYPE_ENCODER);
  if (ses == nullptr) return state.SkipWithError("no session");
  for (auto _ : state) {
    if (!encode(ses, b)) return state.SkipWithError("encode failed");
    benchmark::ClobberMemory();
  }
  of_release_codec_instance(ses);
  set_rate(state);
}

void BM_decoder_setup(benchmark::State &state) {
  for (auto _ : state) {
    of_session_t *ses = open(OF_CODEC_TYPE_DECODER);
    if (ses == nullptr) return state.SkipWithError("no session");
    of_release_codec_instance(ses);
  }
}

void BM_decode_quarter_lost(benchmark::State &state) {
  Block b;
  of_session_t *enc = open(OF_CODEC_TYPE_ENCODER);
  if (enc == nullptr || !encode(enc, b)) return state.SkipWithError("encode failed");
  of_release_codec_instance(enc);
  std::mt19937 rng(3);
  std::vector<uint32_t> order(kN);
  for (uint32_t i = 0; i < kN; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  order.resize(kN - kN / 4);
  int64_t by_elimination = 0;
  std::vector<void *> out(kK);
  for (auto _ : state) {
    of_session_t *ses = open(OF_CODEC_TYPE_DECODER);
    if (ses == nullptr) return state.SkipWithError("no session");
    for (uint32_t esi : order) of_decode_with_new_symbol(ses, b.tab[esi], esi);
    if (!of_is_decoding_complete(ses)) {
      ++by_elimination;
      if (of_finish_decoding(ses) != OF_STATUS_OK) return state.SkipWithError("decode failed");
    }
    of_get_source_symbols_tab(ses, out.data());
    state.PauseTiming();
    for (uint32_t i = 0; i < kK; ++i) {
      if (out[i] == b.tab[i]) continue;
      if (std::memcmp(out[i], b.tab[i], kLen) != 0) state.SkipWithError("wrong symbol");
      of_free(out[i]);
    }
    state.ResumeTiming();
    of_release_codec_instance(ses);
  }
  state.counters["by_elimination"] =
      benchmark::Counter(static_cast<double>(by_elimination), benchmark::Counter::kAvgIterations);
  set_rate(state);
}

}  // namespace

BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_decoder_setup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_decode_quarter_lost)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
