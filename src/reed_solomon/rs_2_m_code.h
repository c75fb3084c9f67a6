// The systematic Reed-Solomon erasure code over GF(2^m), m = 4 or 8: the
// control block of a GF(2^m) session, the n x k encoding matrix derived from a
// Vandermonde matrix, and the encoding and decoding of symbols. Any k of the
// n = k + r symbols restore the source symbols while n <= 2^m.
#pragma once

#include <cstdint>

#include "gf/gf.h"
#include "reed_solomon/galois_field.h"
#include "reed_solomon/rs_engine.h"
#include "zvfec/codec_session.h"

struct of_rs_2_m_cb {
  of_codec_id_t codec_id;  // always OF_CODEC_REED_SOLOMON_GF_2_M_STABLE
  of_codec_type_t codec_type;
  uint32_t nb_source_symbols;  // k
  uint32_t nb_repair_symbols;  // r
  uint32_t encoding_symbol_length;
  uint16_t m;           // 4 or 8 once known, else 0
  uint16_t field_size;  // 2^m - 1
  // Places for per-session field tables; the constant tables are chosen by m
  // instead, so these stay NULL.
  gf *of_rs_gf_exp;
  int *of_rs_gf_log;
  gf *of_rs_inverse;
  gf **of_gf_mul_table;
  // n x k, built on first need: the shared matrix of `code` (read only).
  gf *enc_matrix;
  gf *dec_matrix;  // k x k, owned, lives within one decoding
  uint32_t magic;
  uint32_t max_nb_source_symbols;
  uint32_t max_nb_encoding_symbols;
  uint16_t max_m;
  uint32_t nb_encoding_symbols;  // n = k + r
  // Decoder state: n entries indexed by ESI pointing at received symbols (the
  // caller's) or, after decoding, at recovered ones (handed to the caller).
  void **available_symbols_tab;
  uint32_t nb_available_symbols;
  uint32_t nb_available_source_symbols;
  bool decoding_finished;
  of_decoded_source_symbol_callback_t decoded_source_symbol_callback;
  of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback;
  void *context_4_callback;
  const rs_code *code;           // held while enc_matrix is set
  rs_repair_ahead repair_ahead;  // repair symbols computed ahead by an encoder
};
typedef struct of_rs_2_m_cb of_rs_2_m_cb_t;

// x (>= 0) reduced modulo field_size.
gf of_modnn(of_galois_field_code_cb_t *ofcb, int x);

// Sets enc_matrix for the block's m, k and n: rows 0 .. k-1 the identity, rows
// k .. n-1 the repair rows, from the process-wide cache of codes (built there
// on first need). OF_STATUS_FATAL_ERROR when it cannot be had (no matrix is
// then left behind).
of_status_t of_rs_2m_build_encoding_matrix(of_galois_field_code_cb_t *ofcb);

// Writes symbol `index` (sz bytes) into _fec from the k source symbols _src.
// OF_STATUS_ERROR, with _fec untouched, when index is not below n, when there
// is no encoding matrix or when a source symbol is missing.
of_status_t of_rs_2m_encode(of_galois_field_code_cb_t *ofcb, gf **_src, gf *_fec, int index,
                            int sz);

// Moves every received source symbol c to position c (buffers and ESIs
// together). Returns 1 when two entries claim one source ESI, else 0.
int of_rs_2m_shuffle(gf **pkt, int *index, int k);

// Builds and inverts dec_matrix for the k shuffled ESIs. OF_STATUS_FATAL_ERROR
// (no matrix left behind) when memory is short, an ESI is not below n, a
// repair row is needed without an encoding matrix, or the matrix is singular.
of_status_t of_rs_2m_build_decoding_matrix(of_galois_field_code_cb_t *ofcb, int *index);

// Rebuilds in place the missing source symbols from k distinct symbols in
// writable buffers of sz bytes; afterwards _pkt[i] holds source symbol i.
// OF_STATUS_ERROR for a duplicate source ESI or short memory,
// OF_STATUS_FATAL_ERROR when the decoding matrix cannot be built; on failure
// the buffers are unchanged, only their order in _pkt may differ.
of_status_t of_rs_2m_decode(of_galois_field_code_cb_t *ofcb, gf **_pkt, int *index, int sz);

// Drops enc_matrix (and the hold on its code), dec_matrix and the repair
// symbols computed ahead, where present.
void of_rs_2m_release(of_galois_field_code_cb_t *ofcb);

// Diagnostic listing of the field's tables on standard output.
void of_rs_2m_display_gf(of_galois_field_code_cb_t *ofcb);
