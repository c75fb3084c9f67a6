#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "session/alloc_fault.h"
#include "session/of_cb.h"
#include "zvfec/codec_session.h"

namespace {

of_session_t *open_rs_2_m(of_codec_type_t type, uint32_t k, uint32_t r) {
  of_session_t *ses = nullptr;
  EXPECT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, type, 0),
            OF_STATUS_OK);
  of_rs_2_m_parameters_t p{k, r, 4, 8};
  EXPECT_EQ(of_set_fec_parameters(ses, reinterpret_cast<of_parameters_t *>(&p)), OF_STATUS_OK);
  return ses;
}

TEST(CodecSession, UnknownCodecsAreRefusedButSetTheVerbosity) {
  unsigned int verbosity = 10;
  for (int id : {0, 4, 6, 7, 1000, -1}) {
    of_session_t *ses = reinterpret_cast<of_session_t *>(&verbosity);  // must be overwritten
    EXPECT_EQ(of_create_codec_instance(&ses, static_cast<of_codec_id_t>(id), 3, ++verbosity),
              OF_STATUS_FATAL_ERROR)
        << id;
    EXPECT_EQ(ses, nullptr);
    EXPECT_EQ(of_verbosity, verbosity);
  }
  EXPECT_EQ(of_create_codec_instance(nullptr, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 99),
            OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_verbosity, 99u);
  of_session_t *ses = nullptr;
  ASSERT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 3, 0),
            OF_STATUS_OK);
  EXPECT_EQ(of_verbosity, 0u);
  EXPECT_EQ(ses->codec_id, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE);
  EXPECT_EQ(ses->codec_type, 3);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(CodecSession, CreationWithoutMemoryLeavesNoSession) {
  for (long nth : {0L, 1L}) {  // the generic block, then its growth by the codec
    of_session_t *ses = nullptr;
    of_fail_nth_allocation(nth);
    EXPECT_EQ(of_create_codec_instance(&ses, OF_CODEC_REED_SOLOMON_GF_2_M_STABLE, 1, 0),
              OF_STATUS_FATAL_ERROR);
    of_fail_nth_allocation(-1);
    EXPECT_EQ(ses, nullptr);
  }
}

// Every operation refuses a NULL session, and a block whose codec is unknown
// is never dispatched or freed (freeing this stack block would be caught by
// the sanitizer build).
TEST(CodecSession, NullAndUnknownSessionsAreRefused) {
  of_cb_t unknown{};
  unknown.codec_id = static_cast<of_codec_id_t>(4);
  unknown.codec_type = 3;
  unknown.nb_source_symbols = 2;
  unknown.nb_repair_symbols = 1;
  of_session_t *stranger = reinterpret_cast<of_session_t *>(&unknown);
  of_parameters_t params{2, 1, 4};
  void *tab[3] = {};
  const void *ctab[3] = {};
  char byte = 0;
  auto cb = +[](void *, uint32_t, uint32_t) -> void * { return nullptr; };
  for (of_session_t *ses : {static_cast<of_session_t *>(nullptr), stranger}) {
    EXPECT_EQ(of_set_fec_parameters(ses, &params), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_set_callback_functions(ses, cb, cb, nullptr), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_build_repair_symbol(ses, tab, 2), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_decode_with_new_symbol(ses, &byte, 0), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_set_available_symbols(ses, ctab), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FATAL_ERROR);
    EXPECT_FALSE(of_is_decoding_complete(ses));
    EXPECT_EQ(of_get_source_symbols_tab(ses, tab), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_set_control_parameter(ses, 1024, &byte, 1), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_get_control_parameter(ses, 1, &byte, 4), OF_STATUS_FATAL_ERROR);
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_FATAL_ERROR);
  }
}

TEST(CodecSession, NullArgumentsAreRefused) {
  of_session_t *ses = open_rs_2_m(3, 2, 1);
  EXPECT_EQ(of_set_fec_parameters(ses, nullptr), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_set_callback_functions(ses, nullptr, nullptr, nullptr), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_build_repair_symbol(ses, nullptr, 2), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_set_available_symbols(ses, nullptr), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_get_source_symbols_tab(ses, nullptr), OF_STATUS_FATAL_ERROR);
  auto source_only = +[](void *, uint32_t, uint32_t) -> void * { return nullptr; };
  EXPECT_EQ(of_set_callback_functions(ses, source_only, nullptr, nullptr), OF_STATUS_OK);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

// Refused symbols leave the decoder as it was: afterwards it still needs
// exactly k distinct symbols.
TEST(CodecSession, DecodeWithNewSymbolChecks) {
  unsigned char a[4] = {1, 2, 3, 4}, b[4] = {5, 6, 7, 8};
  of_session_t *encoder = open_rs_2_m(OF_CODEC_TYPE_ENCODER, 2, 1);
  EXPECT_EQ(of_decode_with_new_symbol(encoder, a, 0), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_release_codec_instance(encoder), OF_STATUS_OK);

  of_session_t *ses = open_rs_2_m(OF_CODEC_TYPE_DECODER, 2, 1);
  EXPECT_EQ(of_decode_with_new_symbol(ses, a, 3), OF_STATUS_FATAL_ERROR);  // k + r
  EXPECT_EQ(of_decode_with_new_symbol(ses, a, 0xFFFFFFFFu), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_decode_with_new_symbol(ses, nullptr, 0), OF_STATUS_FATAL_ERROR);
  EXPECT_EQ(of_decode_with_new_symbol(ses, a, 0), OF_STATUS_OK);
  EXPECT_EQ(of_finish_decoding(ses), OF_STATUS_FAILURE);
  EXPECT_EQ(of_decode_with_new_symbol(ses, b, 1), OF_STATUS_OK);
  EXPECT_TRUE(of_is_decoding_complete(ses));
  void *out[2] = {};
  ASSERT_EQ(of_get_source_symbols_tab(ses, out), OF_STATUS_OK);
  EXPECT_EQ(out[0], a);
  EXPECT_EQ(out[1], b);
  EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
}

TEST(CodecSession, RoleFlagsGateBuildingAndDecoding) {
  unsigned char s0[4] = {1, 2, 3, 4}, s1[4] = {9, 9, 9, 9};
  struct Case {
    of_codec_type_t type;
    of_status_t build, decode;
  } cases[] = {
      {OF_CODEC_TYPE_ENCODER, OF_STATUS_OK, OF_STATUS_FATAL_ERROR},
      {OF_CODEC_TYPE_DECODER, OF_STATUS_FATAL_ERROR, OF_STATUS_OK},
      {OF_CODEC_TYPE_ENCODER | OF_CODEC_TYPE_DECODER, OF_STATUS_OK, OF_STATUS_OK},
      {0, OF_STATUS_FATAL_ERROR, OF_STATUS_FATAL_ERROR},
  };
  for (const auto &c : cases) {
    of_session_t *ses = open_rs_2_m(c.type, 2, 1);
    void *tab[3] = {s0, s1, nullptr};
    EXPECT_EQ(of_build_repair_symbol(ses, tab, 2), c.build) << int{c.type};
    EXPECT_EQ(tab[2] != nullptr, c.build == OF_STATUS_OK);
    of_free(tab[2]);
    EXPECT_EQ(of_decode_with_new_symbol(ses, s0, 0), c.decode) << int{c.type};
    EXPECT_EQ(of_release_codec_instance(ses), OF_STATUS_OK);
  }
}

TEST(CodecSession, MoreAboutAndFree) {
  EXPECT_EQ(of_more_about(nullptr, nullptr, nullptr), OF_STATUS_OK);
  char *version = nullptr, *about = nullptr;
  EXPECT_EQ(of_more_about(nullptr, &version, &about), OF_STATUS_OK);
  ASSERT_NE(version, nullptr);
  ASSERT_NE(about, nullptr);
  const std::string v = version, a = about;
  EXPECT_EQ(v.find('\n'), v.size() - 1);  // one line, ending in a newline
  EXPECT_GT(std::count(a.begin(), a.end(), '\n'), 1);
  of_free(nullptr);
}

}  // namespace
