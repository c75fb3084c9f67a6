// Helpers shared by the tests of the two Reed-Solomon session codecs, which
// keep the same session contract.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zvfec/codec_session.h"

namespace rs_test {

using Symbol = std::vector<unsigned char>;
using Symbols = std::vector<Symbol>;

struct Group {
  of_codec_id_t codec;
  uint32_t k, r, len;
  uint16_t m;  // read by codec 2 only
};

inline Symbols random_symbols(std::mt19937 &rng, size_t count, size_t len) {
  Symbols s(count, Symbol(len));
  for (auto &sym : s)
    for (auto &b : sym) b = static_cast<unsigned char>(rng());
  return s;
}

// Creates a session for the group and sets its parameters; null on failure.
inline of_session_t *open_session(const Group &g, of_codec_type_t type) {
  of_session_t *ses = nullptr;
  if (of_create_codec_instance(&ses, g.codec, type, 0) != OF_STATUS_OK) return nullptr;
  of_rs_2_m_parameters_t p{g.k, g.r, g.len, g.m};
  if (of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)) != OF_STATUS_OK) {
    of_release_codec_instance(ses);
    return nullptr;
  }
  return ses;
}

// All r repair symbols of src, built in a table whose repair entries start
// NULL; the codec's buffers are copied out and released.
inline Symbols encode_group(const Group &g, Symbols &src) {
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_ENCODER);
  EXPECT_NE(ses, nullptr);
  Symbols repair;
  if (ses == nullptr) return repair;
  std::vector<void *> tab(g.k + g.r, nullptr);
  for (uint32_t i = 0; i < g.k; ++i) tab[i] = src[i].data();
  for (uint32_t esi = g.k; esi < g.k + g.r; ++esi) {
    EXPECT_EQ(of_build_repair_symbol(ses, tab.data(), esi), OF_STATUS_OK) << esi;
    if (tab[esi] == nullptr) continue;
    auto *bytes = static_cast<unsigned char *>(tab[esi]);
    repair.emplace_back(bytes, bytes + g.len);
    of_free(tab[esi]);
  }
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  return repair;
}

// Copies the k source symbols out of a completed decoder, releasing the ones
// the codec rebuilt (those not among the caller's received buffers).
inline Symbols take_source_symbols(of_session_t *ses, const Group &g,
                                   const std::vector<const void *> &received) {
  std::vector<void *> out(g.k, nullptr);
  EXPECT_EQ(of_get_source_symbols_tab(ses, out.data()), OF_STATUS_OK);
  Symbols got;
  for (uint32_t i = 0; i < g.k; ++i) {
    if (out[i] == nullptr) {
      got.emplace_back();
      continue;
    }
    auto *bytes = static_cast<unsigned char *>(out[i]);
    got.emplace_back(bytes, bytes + g.len);
    bool theirs = false;
    for (const void *r : received) theirs = theirs || r == out[i];
    if (!theirs) of_free(out[i]);
  }
  return got;
}

// Encodes a random group, loses r random symbols, feeds the others in random
// order with repeats mixed in, and checks that decoding completes exactly at
// the k-th distinct symbol with the original data.
inline void round_trip(const Group &g, std::mt19937 &rng) {
  Symbols src = random_symbols(rng, g.k, g.len);
  Symbols repair = encode_group(g, src);
  ASSERT_EQ(repair.size(), g.r);
  std::vector<uint32_t> order(g.k + g.r);
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  order.resize(g.k);
  of_session_t *ses = open_session(g, OF_CODEC_TYPE_DECODER);
  ASSERT_NE(ses, nullptr);
  std::vector<const void *> fed;
  for (size_t i = 0; i < order.size(); ++i) {
    const uint32_t esi = order[i];
    const void *buf = esi < g.k ? src[esi].data() : repair[esi - g.k].data();
    EXPECT_FALSE(of_is_decoding_complete(ses));
    ASSERT_EQ(of_decode_with_new_symbol(ses, buf, esi), OF_STATUS_OK);
    fed.push_back(buf);
    if (i > 0 && rng() % 3 == 0) {  // a repeat never counts
      const uint32_t again = order[rng() % i];
      ASSERT_EQ(of_decode_with_new_symbol(
                    ses, again < g.k ? src[again].data() : repair[again - g.k].data(), again),
                OF_STATUS_OK);
    }
  }
  ASSERT_TRUE(of_is_decoding_complete(ses));
  EXPECT_EQ(take_source_symbols(ses, g, fed), src);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

}  // namespace rs_test
