// A codec session of codec ZV_FUZZ_CODEC used as a decoder. The harness
// encodes k fuzzer-made source symbols with an encoder session of the same
// codec, then drives a decoder session with the fuzzer's choices: control
// parameters set and read before and after the code parameters, callbacks or
// none, which symbols arrive, in which order, one by one or as a table, ESIs
// beyond n and NULL buffers, a tampered symbol now and then. A few inputs give
// out-of-range parameters instead, to exercise the refusals.
//
// Oracle, when no symbol was tampered with and no control parameter changed
// the code: every source symbol the session hands out equals the original; all
// k source symbols received, or (Reed-Solomon) any k distinct symbols, make
// decoding complete once finished. Always: received buffers are never written,
// a received buffer comes back only as the source symbol it was sent as, a
// complete session hands out all k symbols, and every rebuilt symbol is the
// caller's to free exactly once.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "zvfec/codec_session.h"

namespace {

using zvfuzz::ExactArray;
using zvfuzz::ExactBuf;
using zvfuzz::FuzzInput;

constexpr of_codec_id_t kCodec = ZV_FUZZ_CODEC;
constexpr bool kReedSolomon =
    kCodec == OF_CODEC_REED_SOLOMON_GF_2_8_STABLE || kCodec == OF_CODEC_REED_SOLOMON_GF_2_M_STABLE;

// The code parameters of every codec, read from the fields that codec takes.
struct Shape {
  uint32_t k = 1, r = 0, len = 1;
  uint16_t m = 8;
  int32_t seed = 1;
  uint8_t n1 = 3;
};

// Parameters small enough that one input runs fast, inside each codec's
// documented limits.
Shape sane_shape(FuzzInput &in) {
  Shape s;
  s.len = static_cast<uint32_t>(in.range(1, 64));
  auto count = [&in](int lo, int hi) { return static_cast<uint32_t>(in.range(lo, hi)); };
  switch (kCodec) {
    case OF_CODEC_REED_SOLOMON_GF_2_M_STABLE:
      s.m = in.flag() ? 4 : 8;
      if (s.m == 4) {
        s.k = count(1, 15);
        s.r = count(0, 16 - static_cast<int>(s.k));
        break;
      }
      [[fallthrough]];
    case OF_CODEC_REED_SOLOMON_GF_2_8_STABLE:
      s.k = count(1, 40);
      s.r = count(0, 40);
      break;
    case OF_CODEC_LDPC_STAIRCASE_STABLE:
      s.k = count(1, 100);
      s.r = count(1, 100);
      s.seed = static_cast<int32_t>(in.u32() % 0x7FFFFFFEu + 1);
      s.n1 = static_cast<uint8_t>(in.range(3, 8));
      break;
    default: {  // 2D parity: a grid of a x b source symbols, one repair per row and column
      const uint32_t a = count(1, 4), b = count(1, 4);
      s.k = a * b;
      s.r = a + b;
      break;
    }
  }
  return s;
}

// Replaces fields with values at or beyond the documented limits.
void apply_edges(FuzzInput &in, Shape &s) {
  static constexpr uint32_t kCounts[] = {0,     1,          14,          15,         16,  17,
                                         24,    25,         255,         256,        257, 50000,
                                         50001, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
  // The binary codecs take any symbol length; one of 2 GiB is theirs to
  // allocate, not a fault, so those harnesses keep to small ones.
  static constexpr uint32_t kLengths[] = {0, 1, 4096, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
  static constexpr uint32_t kBinaryLengths[] = {0, 1, 4096};
  static constexpr uint16_t kFields[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 16, 0xFFFF};
  static constexpr int32_t kSeeds[] = {INT_MIN, -1, 0, 1, 0x7FFFFFFE, 0x7FFFFFFF};
  static constexpr uint8_t kN1[] = {0, 1, 2, 3, 4, 255};
  const uint8_t which = in.u8();
  if (which & 1) s.k = in.pick(kCounts);
  if (which & 2) s.r = in.pick(kCounts);
  if (which & 4) s.len = kReedSolomon ? in.pick(kLengths) : in.pick(kBinaryLengths);
  if (which & 8) s.m = in.pick(kFields);
  if (which & 16) s.seed = in.pick(kSeeds);
  if (which & 32) s.n1 = in.pick(kN1);
}

// The codec's own parameter record for a shape.
struct Params {
  of_rs_parameters_t rs{};
  of_rs_2_m_parameters_t rs2m{};
  of_ldpc_parameters_t ldpc{};
  of_2d_parity_parameters_t parity2d{};

  explicit Params(const Shape &s) {
    rs = {s.k, s.r, s.len};
    rs2m = {s.k, s.r, s.len, s.m};
    ldpc = {s.k, s.r, s.len, s.seed, s.n1};
    parity2d = {s.k, s.r, s.len};
  }
  of_parameters_t *get() {
    switch (kCodec) {
      case OF_CODEC_REED_SOLOMON_GF_2_8_STABLE:
        return reinterpret_cast<of_parameters_t *>(&rs);
      case OF_CODEC_REED_SOLOMON_GF_2_M_STABLE:
        return reinterpret_cast<of_parameters_t *>(&rs2m);
      case OF_CODEC_LDPC_STAIRCASE_STABLE:
        return reinterpret_cast<of_parameters_t *>(&ldpc);
      default:
        return reinterpret_cast<of_parameters_t *>(&parity2d);
    }
  }
};

class Session {
 public:
  explicit Session(of_codec_type_t type) {
    ZV_FUZZ_CHECK(of_create_codec_instance(&s_, kCodec, type, 0) == OF_STATUS_OK);
  }
  ~Session() { release(); }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  of_session_t *get() const { return s_; }
  void release() {
    if (s_ != nullptr) ZV_FUZZ_CHECK(of_release_codec_instance(s_) == OF_STATUS_OK);
    s_ = nullptr;
  }

 private:
  of_session_t *s_ = nullptr;
};

// Buffers that the decoded-symbol callbacks hand to the session; they belong
// to the harness, which frees them after the release.
struct CallbackBuffers {
  std::vector<ExactBuf> buffers;
  bool owns(const void *p) const {
    for (const ExactBuf &b : buffers)
      if (b.data() == p) return true;
    return false;
  }
};

void *give_buffer(void *context, uint32_t size, uint32_t esi) {
  (void)esi;
  auto *cb = static_cast<CallbackBuffers *>(context);
  cb->buffers.emplace_back(size);
  return cb->buffers.back().data();
}

// Sets and reads control parameters: known identifiers and others, value
// lengths around the documented ones, NULL values. Returns true when a set
// call was accepted for an identifier that changes the code (codec 2's m).
bool control_parameters(FuzzInput &in, of_session_t *ses) {
  static constexpr unsigned kTypes[] = {
      0, OF_CTRL_GET_MAX_SOURCE_SYMBOLS, OF_CTRL_GET_MAX_ENCODING_SYMBOLS, 1024, 1025, 7};
  bool changed = false;
  const uint8_t ops = in.u8();
  for (int i = 0; i < (ops < 160 ? 0 : ops % 4 + 1); ++i) {
    const bool set = in.flag();
    const unsigned type = in.pick(kTypes);
    const auto length = static_cast<unsigned>(in.range(0, 8));
    const bool null = in.u8() < 16;
    ExactBuf value(length);
    in.fill(value.data(), length);
    void *v = null ? nullptr : value.data();
    if (set) {
      const of_status_t st = of_set_control_parameter(ses, type, v, length);
      changed |= st == OF_STATUS_OK && type == 1024;
    } else {
      const of_status_t st = of_get_control_parameter(ses, type, v, length);
      // The maxima are answered as 4-byte values only.
      if (st == OF_STATUS_OK && (type == 1 || type == 2))
        ZV_FUZZ_CHECK(v != nullptr && length == 4);
    }
  }
  return changed;
}

// What arrived at the decoder: a copy of each received symbol (the codec keeps
// the pointers) and its contents as handed in.
struct Received {
  std::vector<ExactBuf> symbol;  // by ESI; empty buffer when not received
  std::vector<ExactBuf> before;
  std::vector<bool> got;
};

// Feeds the received symbols in a fuzzer-chosen order, one by one, as one
// table, or first some one by one and then the table; adds ESIs beyond n and
// NULL buffers, which the session layer refuses.
void feed(FuzzInput &in, of_session_t *ses, const Received &rx, uint32_t n) {
  std::vector<uint32_t> order;
  for (uint32_t esi = 0; esi < n; ++esi)
    if (rx.got[esi]) order.push_back(esi);
  for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[in.u8() % i]);
  const int mode = in.u8() % 3;
  const size_t one_by_one = mode == 0   ? order.size()
                            : mode == 1 ? 0
                                        : in.range(0, 255) % (order.size() + 1);
  for (size_t i = 0; i < one_by_one; ++i) {
    const uint32_t esi = order[i];
    ZV_FUZZ_CHECK(of_decode_with_new_symbol(ses, rx.symbol[esi].data(), esi) !=
                  OF_STATUS_FATAL_ERROR);
    if (in.u8() >= 240) {
      ZV_FUZZ_CHECK(of_decode_with_new_symbol(ses, rx.symbol[esi].data(), n + in.u8()) ==
                    OF_STATUS_FATAL_ERROR);
      ZV_FUZZ_CHECK(of_decode_with_new_symbol(ses, nullptr, esi) == OF_STATUS_FATAL_ERROR);
    }
  }
  if (mode == 0) return;
  ExactArray<const void *> table(n);
  for (uint32_t esi = 0; esi < n; ++esi) table[esi] = rx.got[esi] ? rx.symbol[esi].data() : nullptr;
  (void)of_set_available_symbols(ses, table.data());
}

// Encodes the sources with an encoder session; empty when the codec refuses
// the parameters (the harness keeps LDPC shapes that it cannot vouch for).
std::vector<ExactBuf> encode(const Shape &s, const std::vector<ExactBuf> &sources) {
  Session enc(OF_CODEC_TYPE_ENCODER);
  Params p(s);
  const of_status_t st = of_set_fec_parameters(enc.get(), p.get());
  if (kCodec != OF_CODEC_LDPC_STAIRCASE_STABLE) ZV_FUZZ_CHECK(st == OF_STATUS_OK);
  if (st != OF_STATUS_OK) return {};
  const uint32_t n = s.k + s.r;
  ExactArray<void *> table(n);
  for (uint32_t i = 0; i < s.k; ++i) table[i] = sources[i].data();
  std::vector<ExactBuf> symbols;
  for (uint32_t i = 0; i < s.k; ++i) symbols.push_back(sources[i].clone());
  for (uint32_t esi = s.k; esi < n; ++esi) {
    ZV_FUZZ_CHECK(of_build_repair_symbol(enc.get(), table.data(), esi) == OF_STATUS_OK);
    ZV_FUZZ_CHECK(table[esi] != nullptr);
  }
  for (uint32_t esi = s.k; esi < n; ++esi) {
    symbols.emplace_back(static_cast<const uint8_t *>(table[esi]), s.len);
    of_free(table[esi]);
  }
  return symbols;
}

// Out-of-range parameters: whatever the codec answers, nothing breaks; a code
// it accepts small enough to hold gets random symbols.
void run_edge(FuzzInput &in, const Shape &s) {
  Session dec(in.flag() ? OF_CODEC_TYPE_DECODER : OF_CODEC_TYPE_ENCODER | OF_CODEC_TYPE_DECODER);
  control_parameters(in, dec.get());
  Params p(s);
  const of_status_t st = of_set_fec_parameters(dec.get(), p.get());
  control_parameters(in, dec.get());
  const uint64_t n = uint64_t{s.k} + s.r;
  if (st != OF_STATUS_OK || n > 512 || s.len > 4096) {
    (void)of_is_decoding_complete(dec.get());
    return;
  }
  Received rx;
  zvfuzz::Filler filler(in.u32());
  for (uint32_t esi = 0; esi < n; ++esi) {
    rx.got.push_back(in.flag());
    rx.symbol.emplace_back(s.len);
    filler.fill(rx.symbol.back().data(), s.len);
  }
  feed(in, dec.get(), rx, static_cast<uint32_t>(n));
  (void)of_finish_decoding(dec.get());
  ExactArray<void *> tab(s.k);
  std::set<void *> handed;
  if (of_get_source_symbols_tab(dec.get(), tab.data()) == OF_STATUS_OK) {
    for (uint32_t i = 0; i < s.k; ++i) {
      bool ours = false;
      for (uint32_t esi = 0; esi < n; ++esi) ours |= rx.got[esi] && tab[i] == rx.symbol[esi].data();
      if (tab[i] != nullptr && !ours) handed.insert(tab[i]);
    }
  }
  dec.release();
  for (void *q : handed) of_free(q);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInput in(data, size);
  const bool edge = in.u8() >= 224;
  Shape s = sane_shape(in);
  if (edge) {
    apply_edges(in, s);
    // A Reed-Solomon session takes n up to INT_MAX and allocates its n-entry
    // table at once, as documented: such a code is not tried.
    const uint64_t n = uint64_t{s.k} + s.r;
    if (n > (1u << 20) && n <= INT_MAX) return 0;
    run_edge(in, s);
    return 0;
  }

  zvfuzz::Filler filler(in.u32());
  std::vector<ExactBuf> sources;
  for (uint32_t i = 0; i < s.k; ++i) {
    sources.emplace_back(s.len);
    filler.fill(sources.back().data(), s.len);
  }
  const std::vector<ExactBuf> symbols = encode(s, sources);
  if (symbols.empty()) return 0;
  const uint32_t n = s.k + s.r;

  Session dec(in.flag() ? OF_CODEC_TYPE_DECODER : OF_CODEC_TYPE_ENCODER | OF_CODEC_TYPE_DECODER);
  CallbackBuffers callbacks;
  const uint8_t cb_choice = in.u8() % 4;
  bool changed = control_parameters(in, dec.get());
  Params p(s);
  ZV_FUZZ_CHECK(of_set_fec_parameters(dec.get(), p.get()) == OF_STATUS_OK);
  if (cb_choice != 0)
    ZV_FUZZ_CHECK(of_set_callback_functions(dec.get(), cb_choice & 1 ? give_buffer : nullptr,
                                            cb_choice & 2 ? give_buffer : nullptr,
                                            &callbacks) == OF_STATUS_OK);
  changed |= control_parameters(in, dec.get());

  Received rx;
  uint32_t distinct = 0, sources_lost = 0;
  bool tampered = false;
  for (uint32_t esi = 0; esi < n; ++esi) {
    rx.got.push_back(!in.flag());
    rx.symbol.push_back(symbols[esi].clone());
    if (rx.got[esi] && in.u8() == 255) {
      rx.symbol[esi].data()[in.u8() % s.len] ^= 1;
      tampered = true;
    }
    rx.before.push_back(rx.symbol[esi].clone());
    distinct += rx.got[esi];
    sources_lost += esi < s.k && !rx.got[esi];
  }
  feed(in, dec.get(), rx, n);
  const bool finished = in.flag();
  if (finished) (void)of_finish_decoding(dec.get());
  const bool complete = of_is_decoding_complete(dec.get());

  ExactArray<void *> tab(s.k);
  const of_status_t got_tab = of_get_source_symbols_tab(dec.get(), tab.data());
  if (complete) ZV_FUZZ_CHECK(got_tab == OF_STATUS_OK);
  std::set<void *> handed;  // rebuilt symbols the codec allocated: the caller frees them
  for (uint32_t i = 0; got_tab == OF_STATUS_OK && i < s.k; ++i) {
    void *q = tab[i];
    if (complete) ZV_FUZZ_CHECK(q != nullptr);
    if (q == nullptr) continue;
    // A received buffer appears only as the source symbol it was sent as.
    for (uint32_t esi = 0; esi < n; ++esi)
      if (rx.got[esi] && q == rx.symbol[esi].data()) ZV_FUZZ_CHECK(esi == i);
    const bool received = rx.got[i] && q == rx.symbol[i].data();
    if (!received && !callbacks.owns(q)) ZV_FUZZ_CHECK(handed.insert(q).second);
    if (!tampered && !changed)
      ZV_FUZZ_CHECK(sources[i].same_bytes(static_cast<uint8_t *>(q), s.len));
  }
  if (!tampered && !changed) {
    if (finished && (sources_lost == 0 || (kReedSolomon && distinct >= s.k)))
      ZV_FUZZ_CHECK(complete);
  }
  for (uint32_t esi = 0; esi < n; ++esi)
    ZV_FUZZ_CHECK(rx.symbol[esi].same_bytes(rx.before[esi].data(), s.len));
  dec.release();
  for (void *q : handed) of_free(q);
  return 0;
}
