// Helpers shared by the tests of the binary codecs, which run through the
// public session interface.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "binary/of_linear_binary_code.h"
#include "zvfec/codec_session.h"

namespace binary_test {

using Symbol = std::vector<unsigned char>;
using Symbols = std::vector<Symbol>;

// Parameters of either codec: the 2D parity codec reads the first three.
struct Code {
  of_codec_id_t codec;
  uint32_t k, r, len;
  int32_t seed = 1;
  uint8_t n1 = 7;
  uint32_t n() const { return k + r; }
};

inline Symbols random_symbols(std::mt19937 &rng, size_t count, size_t len) {
  Symbols s(count, Symbol(len));
  for (auto &sym : s)
    for (auto &b : sym) b = static_cast<unsigned char>(rng());
  return s;
}

inline of_status_t set_parameters(of_session_t *ses, const Code &c) {
  of_ldpc_parameters_t p{c.k, c.r, c.len, c.seed, c.n1};
  return of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p));
}

// A session with its parameters set; null on failure.
inline of_session_t *open_session(const Code &c, of_codec_type_t type, unsigned verbosity = 0) {
  of_session_t *ses = nullptr;
  if (of_create_codec_instance(&ses, c.codec, type, verbosity) != OF_STATUS_OK) return nullptr;
  if (set_parameters(ses, c) != OF_STATUS_OK) {
    of_release_codec_instance(ses);
    return nullptr;
  }
  return ses;
}

// The common control block behind a session of either binary codec.
inline of_linear_binary_code_cb *block_of(of_session_t *ses) {
  return reinterpret_cast<of_linear_binary_code_cb *>(ses);
}

// All r repair symbols, built in ascending order into NULL table entries.
inline Symbols encode(const Code &c, Symbols &src) {
  of_session_t *ses = open_session(c, OF_CODEC_TYPE_ENCODER);
  EXPECT_NE(ses, nullptr);
  Symbols repair;
  if (ses == nullptr) return repair;
  std::vector<void *> tab(c.n(), nullptr);
  for (uint32_t i = 0; i < c.k; ++i) tab[i] = src[i].data();
  for (uint32_t esi = c.k; esi < c.n(); ++esi) {
    EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), esi), OF_STATUS_OK) << esi;
    auto *bytes = static_cast<unsigned char *>(tab[esi]);
    repair.emplace_back(bytes, bytes + (bytes ? c.len : 0));
  }
  for (uint32_t esi = c.k; esi < c.n(); ++esi) of_free(tab[esi]);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  return repair;
}

inline const unsigned char *symbol_of(const Symbols &src, const Symbols &repair, uint32_t esi) {
  return esi < src.size() ? src[esi].data() : repair[esi - src.size()].data();
}

// The k source symbols of a decoder (empty where missing); frees the buffers
// that are not the caller's own received ones.
inline Symbols take_source_symbols(of_session_t *ses, const Code &c, const Symbols &src) {
  std::vector<void *> out(c.k, nullptr);
  EXPECT_EQ(of_get_source_symbols_tab(ses, out.data()), OF_STATUS_OK);
  Symbols got(c.k);
  for (uint32_t i = 0; i < c.k; ++i) {
    if (out[i] == nullptr) continue;
    auto *bytes = static_cast<unsigned char *>(out[i]);
    got[i].assign(bytes, bytes + c.len);
    if (out[i] != src[i].data()) of_free(out[i]);
  }
  return got;
}

// Compares symbol by symbol and names the first ones that differ, rather than
// printing whole blocks.
inline testing::AssertionResult same_symbols(const Symbols &got, const Symbols &want) {
  if (got.size() != want.size())
    return testing::AssertionFailure() << got.size() << " symbols, " << want.size() << " expected";
  testing::AssertionResult result = testing::AssertionSuccess();
  int shown = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i] == want[i]) continue;
    if (shown == 0) result = testing::AssertionFailure() << "symbols differ:";
    if (shown++ < 8) result << ' ' << i << (got[i].empty() ? " (missing)" : "");
  }
  return result;
}

// The ESIs left after losing `lost` of the n symbols at random, shuffled.
inline std::vector<uint32_t> received_after_loss(std::mt19937 &rng, uint32_t n, uint32_t lost) {
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  order.resize(n - lost);
  return order;
}

}  // namespace binary_test
