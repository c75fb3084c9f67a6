// The one place where codecs are registered with the session layer: slot i of
// the table serves codec identifier i.
#include <iterator>

#include "session/codec_ops.h"

const of_codec_ops *of_codec_ops_for(of_codec_id_t codec_id) {
  static const of_codec_ops *const table[] = {
      nullptr,                       // 0 OF_CODEC_NIL
      &of_rs_codec_ops,              // 1 OF_CODEC_REED_SOLOMON_GF_2_8_STABLE
      &of_rs_2_m_codec_ops,          // 2 OF_CODEC_REED_SOLOMON_GF_2_M_STABLE
      &of_ldpc_staircase_codec_ops,  // 3 OF_CODEC_LDPC_STAIRCASE_STABLE
      nullptr,                       // 4 unassigned
      &of_2d_parity_codec_ops,       // 5 OF_CODEC_2D_PARITY_MATRIX_STABLE
  };
  const auto slot = static_cast<unsigned int>(codec_id);
  return slot < std::size(table) ? table[slot] : nullptr;
}
