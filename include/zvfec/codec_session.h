/* Codec sessions: one interface to every erasure codec of the library.
 *
 * A caller opens a session for a codec identifier and a role, gives it the
 * code parameters, then either builds repair symbols or feeds it received
 * symbols until the source symbols are recovered, and finally releases it.
 * Symbols are byte arrays of encoding_symbol_length bytes, numbered by an
 * encoding symbol identifier (ESI): source symbols 0 .. k-1, repair symbols
 * k .. n-1 with n = k + r. Symbol tables are arrays of pointers indexed by ESI.
 *
 * Ownership: sessions keep pointers to received symbols without copying them,
 * so a received buffer must stay valid and unchanged until the session is
 * released. A repair symbol that a codec allocates into an empty entry of the
 * caller's table, and every recovered source symbol, belong to the caller, who
 * releases them with of_free (or the runtime's free). */
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Codec identifiers. Only 1, 2, 3 and 5 name codecs of this library; every
 * other value is an unknown codec for every operation. */
typedef enum {
  OF_CODEC_NIL = 0,
  OF_CODEC_REED_SOLOMON_GF_2_8_STABLE = 1,
  OF_CODEC_REED_SOLOMON_GF_2_M_STABLE = 2,
  OF_CODEC_LDPC_STAIRCASE_STABLE = 3,
  OF_CODEC_2D_PARITY_MATRIX_STABLE = 5,
  OF_CODEC_LDPC_FROM_FILE_ADVANCED = 6
} of_codec_id_t;

/* Role flags of a session, fixed at creation; a session for both roles
 * carries OF_CODEC_TYPE_ENCODER | OF_CODEC_TYPE_DECODER. */
typedef uint8_t of_codec_type_t;
enum { OF_CODEC_TYPE_ENCODER = 1, OF_CODEC_TYPE_DECODER = 2 };

typedef enum {
  OF_STATUS_OK = 0,         /* done */
  OF_STATUS_FAILURE = 1,    /* not possible yet (too few symbols), nothing harmed */
  OF_STATUS_ERROR = 2,      /* refused or failed; the session stays usable */
  OF_STATUS_FATAL_ERROR = 3 /* bad arguments, unknown codec, parameters out of limits */
} of_status_t;

/* The beginning of every codec's control block; callers hold a pointer to it
 * and never look further. */
typedef struct of_session {
  of_codec_id_t codec_id;
  of_codec_type_t codec_type;
} of_session_t;

/* Generic code parameters; each codec takes its own record that begins with
 * exactly these three fields. */
typedef struct of_parameters {
  uint32_t nb_source_symbols;      /* k */
  uint32_t nb_repair_symbols;      /* r */
  uint32_t encoding_symbol_length; /* bytes per symbol */
} of_parameters_t;

/* Reed-Solomon over GF(2^8), codec 1: k <= 255, n = k + r <= 256. */
typedef struct of_rs_parameters {
  uint32_t nb_source_symbols;
  uint32_t nb_repair_symbols;
  uint32_t encoding_symbol_length;
} of_rs_parameters_t;

/* Reed-Solomon over GF(2^m), codec 2: m is 4 or 8, k <= 2^m - 1; any k of the
 * n symbols decode while n <= 2^m. */
typedef struct of_rs_2_m_parameters {
  uint32_t nb_source_symbols;
  uint32_t nb_repair_symbols;
  uint32_t encoding_symbol_length;
  uint16_t m;
} of_rs_2_m_parameters_t;

/* LDPC-staircase, codec 3. */
typedef struct of_ldpc_parameters {
  uint32_t nb_source_symbols;
  uint32_t nb_repair_symbols;
  uint32_t encoding_symbol_length;
  int32_t prng_seed; /* 1 .. 0x7FFFFFFE; any other seed: OF_STATUS_FATAL_ERROR */
  uint8_t N1;        /* entries per source column, at least 3 */
} of_ldpc_parameters_t;

/* 2D parity, codec 5. */
typedef struct of_2d_parity_parameters {
  uint32_t nb_source_symbols;
  uint32_t nb_repair_symbols;
  uint32_t encoding_symbol_length;
} of_2d_parity_parameters_t;

/* Where a decoder puts a rebuilt symbol: returns a buffer of at least size
 * bytes into which the codec writes the symbol with that ESI, or NULL. The
 * buffer belongs to the caller before and after; the codec never frees it.
 * context is the pointer registered with of_set_callback_functions.
 * - Source symbols: the buffer then stands in the source table.
 * - Repair symbols (LDPC-staircase and 2D parity only; the Reed-Solomon
 *   codecs rebuild no repair symbol): the buffer receives a copy, and the
 *   codec keeps its own copy of the symbol for the rest of the decoding. */
typedef void *(*of_decoded_source_symbol_callback_t)(void *context, uint32_t size, uint32_t esi);
typedef void *(*of_decoded_repair_symbol_callback_t)(void *context, uint32_t size, uint32_t esi);

/* Control parameters. Values from 1024 on belong to one codec each. */
enum {
  OF_CTRL_GET_MAX_SOURCE_SYMBOLS = 1,   /* get, uint32_t, length 4: largest k */
  OF_CTRL_GET_MAX_ENCODING_SYMBOLS = 2, /* get, uint32_t, length 4: largest n */
  /* codec 2, set, uint16_t, length 2: m, 4 or 8; once the parameters are set,
   * refused (OF_STATUS_ERROR) unless k <= 2^m - 1 and n <= 2^m */
  OF_RS_2_M_CTRL_SET_M = 1024,
  OF_LDPC_STAIRCASE_CTRL_LAST_REPAIR_ALWAYS_ZERO = 1024 /* codec 3, get, one byte */
};

/* Opens a session. Sets of_verbosity to verbosity, also when it fails
 * (writing it only when the level differs). On OF_STATUS_OK *ses holds the
 * new session; on any failure (NULL ses, unknown codec, memory exhausted) *ses
 * is NULL (when ses is not NULL) and the result is OF_STATUS_FATAL_ERROR. */
of_status_t of_create_codec_instance(of_session_t **ses, of_codec_id_t codec_id,
                                     of_codec_type_t codec_type, unsigned int verbosity);

/* Gives the code parameters; params points to the codec's own record. A
 * refused call leaves the session to be released, not used for coding. */
of_status_t of_set_fec_parameters(of_session_t *ses, of_parameters_t *params);

/* Registers where rebuilt symbols go; at least one callback must be given.
 * Without a callback the codec allocates rebuilt symbols with of_malloc. */
of_status_t of_set_callback_functions(
    of_session_t *ses, of_decoded_source_symbol_callback_t decoded_source_symbol_callback,
    of_decoded_repair_symbol_callback_t decoded_repair_symbol_callback, void *context_4_callback);

/* Builds repair symbol esi_of_symbol_to_build into encoding_symbols_tab (n
 * entries; entries 0 .. k-1 hold the source symbols). A NULL entry at that ESI
 * receives a buffer from the codec that then belongs to the caller; a non-NULL
 * entry is written in place. Needs an encoder session and a table. */
of_status_t of_build_repair_symbol(of_session_t *ses, void **encoding_symbols_tab,
                                   unsigned int esi_of_symbol_to_build);

/* Feeds one received symbol to a decoder session. The ESI must be below n and
 * the buffer must stay valid and unchanged until the session is released. */
of_status_t of_decode_with_new_symbol(of_session_t *ses, const void *new_symbol_buf,
                                      unsigned int new_symbol_esi);

/* Hands a decoder the complete n-entry table of received symbols (NULL where
 * missing) in one call, instead of of_decode_with_new_symbol. The
 * Reed-Solomon codecs replace what they had received, and refuse the call with
 * OF_STATUS_ERROR once decoding has completed. */
of_status_t of_set_available_symbols(of_session_t *ses, const void **encoding_symbols_tab);

/* Decodes with what has been received: OF_STATUS_FAILURE while fewer than k
 * symbols are present. */
of_status_t of_finish_decoding(of_session_t *ses);

/* True once all k source symbols are available; false for NULL or an unknown
 * codec. */
bool of_is_decoding_complete(of_session_t *ses);

/* Copies the k source-symbol pointers into source_symbols_tab (k entries)
 * once decoding is complete. */
of_status_t of_get_source_symbols_tab(of_session_t *ses, void **source_symbols_tab);

/* Sets or reads a control parameter: value points to length bytes. */
of_status_t of_set_control_parameter(of_session_t *ses, unsigned int type, void *value,
                                     unsigned int length);
of_status_t of_get_control_parameter(of_session_t *ses, unsigned int type, void *value,
                                     unsigned int length);

/* Releases the session and what its codec owns; symbol buffers handed to the
 * caller are never freed here. NULL or an unknown codec: OF_STATUS_FATAL_ERROR,
 * nothing freed. */
of_status_t of_release_codec_instance(of_session_t *ses);

/* Points *version_str at a one-line version text and *about_str at a
 * multi-line text (each only when not NULL); both are static and must not be
 * freed or modified. ses is not used. Always OF_STATUS_OK. */
of_status_t of_more_about(of_session_t *ses, char **version_str, char **about_str);

/* Memory of the codec layers. Buffers that a codec hands to its caller are
 * released with of_free (or the runtime's free). of_free(NULL) does nothing. */
void *of_malloc(size_t size);
void *of_calloc(size_t nmemb, size_t size);
void *of_realloc(void *ptr, size_t size);
void of_free(void *ptr);

/* Process-wide diagnostic level of the codec layers: the binary codecs print
 * some diagnostics while it is non-zero. The library reads and writes it only
 * atomically, so sessions on separate threads may be created and used at
 * once. Set it through the verbosity argument of of_create_codec_instance,
 * which stores the level whenever it differs from the current one; assigning
 * the variable directly is safe only while no other thread uses the library. */
extern unsigned int of_verbosity;

#ifdef __cplusplus
}
#endif
