/*
 * zv_rsfec stream layer: the bookkeeping around FEC groups for live RTP.
 *
 * A sender groups consecutive media packets of each SSRC, protects every group
 * with r FEC packets and frames those as RTP packets. A receiver takes media and
 * FEC packets in any order, for any number of SSRCs, assembles groups, decodes a
 * group as soon as enough of it has arrived, and hands back only packets that
 * fill a real gap. Both are built on the library's media core, the code under
 * the exported media API (zv_rsfec.h): the same wire, the same bytes.
 *
 * This layer lives in the static library libzvfec.a only; the shared library
 * libzv_rsfec.so does not contain it.
 *
 * Conventions:
 * - Times are nanoseconds on any monotonic time line the host chooses; they are
 *   passed in and never read from a clock here. A time earlier than the latest
 *   one passed to the same object counts as that latest time.
 * - Packets passed in are read within their stated lengths only, never written
 *   and never kept: the objects copy what they hold.
 * - Packets handed out (zvfec_stream_packet) point into memory owned by the
 *   object, valid until the next call on that object.
 * - Every packet a receiver is given is untrusted: malformed, forged or
 *   repeated packets are counted and dropped, never turned into media.
 * - Objects are independent: separate objects may be used from any number of
 *   threads at once; one object is used by one thread at a time. Nothing here
 *   logs or writes to stdout/stderr.
 * - Functions returning int give 0 (or a documented positive value) on success
 *   and a negative code on failure: the stream layer's own codes below, or the
 *   media API's codes (zv_rsfec.h) passed through unchanged.
 * - Once they have handled packets as large as a stream's, senders and
 *   receivers take packets and hand them out without allocating memory (video
 *   version 1 opens a codec session per group).
 *
 * Forged packets. The wire format carries no authentication, so what a
 * receiver can rule out is what contradicts the packets it holds:
 * - a rebuilt packet is handed out only when it is an RTP packet of the
 *   stream's SSRC carrying exactly the sequence number of its place in the
 *   group; with an FEC packet to spare, the spare's repair symbol must also
 *   come out of the completed group byte for byte (other choices of FEC
 *   packets are tried only when it does not, and then only what every
 *   plausible choice agrees on is handed out);
 * - a sender's groups never overlap within one SSRC, so an FEC packet whose
 *   group overlaps another group of its SSRC with another description (first
 *   sequence number, k, r, S or variant) is a contradiction: of two such
 *   groups only one backed by more distinct FEC packets than the other may
 *   rebuild, and none may rebuild over a group that has already rebuilt
 *   packets;
 * - a repair symbol found in FEC packets of two groups (a real packet copied
 *   under a forged header) serves a rebuild only when another FEC packet
 *   confirms that rebuild.
 * It cannot rule out an on-path forger who writes a whole consistent symbol
 * (one computed from the group's own packets), nor forgeries that contradict
 * nothing it still holds (a group whose real FEC packets never arrived, or
 * were released before the forgery came): authentication, such as SRTP's,
 * belongs below this layer.
 */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The wire variants. */
typedef enum zvfec_stream_variant {
  ZVFEC_STREAM_AUDIO_V2 = 0, /* Cauchy RS, 8-byte header, tag 0x11 */
  ZVFEC_STREAM_VIDEO_V2 = 1, /* Cauchy RS, 12-byte header, tag 0x01 */
  ZVFEC_STREAM_VIDEO_V1 = 2  /* Vandermonde RS, 8-byte header, tag 0x00 */
} zvfec_stream_variant;

/* Result codes of this layer (the media API uses -1..-6, -100..-106, -4096). */
enum {
  ZVFEC_STREAM_OK = 0,
  ZVFEC_STREAM_DUPLICATE = 1,     /* a packet already held: dropped */
  ZVFEC_STREAM_E_ARG = -200,      /* a null pointer or a value out of range */
  ZVFEC_STREAM_E_NOMEM = -201,    /* memory is short */
  ZVFEC_STREAM_E_NOT_RTP = -202,  /* not an RTP version 2 packet */
  ZVFEC_STREAM_E_SHORT = -203,    /* shorter than an FEC header */
  ZVFEC_STREAM_E_TAG = -204,      /* unknown variant tag */
  ZVFEC_STREAM_E_K = -205,        /* k out of range for the variant */
  ZVFEC_STREAM_E_R = -206,        /* r out of range for the variant */
  ZVFEC_STREAM_E_N = -207,        /* k + r out of range for the variant */
  ZVFEC_STREAM_E_SYMBOL = -208,   /* symbol length not a multiple of 4, or too small */
  ZVFEC_STREAM_E_ESI = -209,      /* symbol index outside k .. k+r-1 */
  ZVFEC_STREAM_E_MASK = -210,     /* non-zero sequence mask (not supported) */
  ZVFEC_STREAM_E_LENGTH = -211,   /* length does not match the symbol length */
  ZVFEC_STREAM_E_FULL = -212,     /* its group already holds all the FEC packets it may */
  ZVFEC_STREAM_E_TOO_LONG = -213, /* a media packet too long for a 16-bit symbol length */
  ZVFEC_STREAM_E_CONFLICT = -214, /* FEC packets of one group rebuild different packets */
  ZVFEC_STREAM_E_TOO_FEW = -100   /* fewer than k symbols (the media API's own code) */
};

/* A short English description of a code of this layer ("library code" for the
 * media API's codes); static storage. */
const char *zvfec_stream_error_text(int code);

/* What a variant is on the wire and which group shapes it takes. */
typedef struct zvfec_stream_variant_info {
  const char *name;  /* "audio-v2", "video-v2", "video-v1" */
  int type, version; /* the zv_rsfec_initilize pair: ZV_FEC_AUDIO/VIDEO, ZV_FEC_VERSION_1/2 */
  uint8_t tag;       /* first byte of the FEC header */
  size_t header_len; /* FEC header bytes after the 12-byte RTP header */
  int max_k, max_r, max_n;
  /* RTP packets a group takes: from a bare fixed header to the longest that
   * a 16-bit symbol length (a multiple of 4, with a 2-byte length prefix)
   * holds. */
  size_t min_media_len, max_media_len;
} zvfec_stream_variant_info;

/* Fills *out for a variant; ZVFEC_STREAM_E_ARG for an unknown variant. */
int zvfec_stream_variant_describe(int variant, zvfec_stream_variant_info *out);

/* 0 when (k, r) fits the variant, else ZVFEC_STREAM_E_K, _R, _N (or _ARG). */
int zvfec_stream_check_shape(int variant, int k, int r);

/* The SSRC of the FEC stream that protects media SSRC s, as senders derive it
 * unless told otherwise; receivers map it back the same way. */
uint32_t zvfec_stream_fec_ssrc(uint32_t media_ssrc);

/* The group an FEC packet describes. */
typedef struct zvfec_stream_fec_header {
  int variant;
  uint8_t esi;       /* index of the repair symbol: k .. k+r-1 */
  uint16_t base_seq; /* sequence number of the group's first media packet */
  int k, r;
  int symbol_len;   /* S */
  uint32_t seqmask; /* video version 2 only; always 0 when accepted */
} zvfec_stream_fec_header;

/* Reads and validates the FEC header of a whole FEC packet (RTP header
 * included, len bytes). Refuses an unknown tag, a shape beyond the variant's
 * limits, an S that is not a positive multiple of 4 large enough for an RTP
 * packet, an esi outside k .. k+r-1, a non-zero sequence mask, and a packet
 * whose length is not exactly 12 + header + S. Returns 0 and fills *out, or a
 * ZVFEC_STREAM_E_* code (out untouched). */
int zvfec_stream_parse_fec(const uint8_t *packet, size_t len, zvfec_stream_fec_header *out);

/* ---- One group at a time ---------------------------------------------- */

/* A codec for one variant. It keeps, until it is freed, the working memory
 * its largest groups needed. */
typedef struct zvfec_stream_codec zvfec_stream_codec;

/* NULL for an unknown variant or when memory is short. */
zvfec_stream_codec *zvfec_stream_codec_new(int variant);
void zvfec_stream_codec_free(zvfec_stream_codec *codec); /* NULL is ignored */

/* The repair symbol length S of a group whose longest media packet has
 * longest_media bytes: its media buffer (a 2-byte length, then the packet)
 * rounded up to a multiple of 4. Groups take S up to 65532. */
size_t zvfec_stream_symbol_len(size_t longest_media);

/* Bytes of every FEC packet of a variant with symbols of symbol_len bytes:
 * 12 (RTP header) + the variant's FEC header + S; 0 for an unknown variant. */
size_t zvfec_stream_fec_size(int variant, size_t symbol_len);

/* Protects k RTP packets media[i] (media_len[i] bytes, consecutive sequence
 * numbers in array order) with r FEC packets. fec[j] are r caller buffers of
 * fec_cap bytes each (at least zvfec_stream_fec_size of the group's S); each holds an
 * FEC packet whose first 12 bytes are zero (room for the RTP header the caller
 * writes) and fec_len[j] its length. Returns 0, ZVFEC_STREAM_E_* or a media API
 * code. */
int zvfec_stream_codec_encode(zvfec_stream_codec *codec, const uint8_t *const *media,
                              const size_t *media_len, int k, int r, uint8_t *const *fec,
                              size_t fec_cap, size_t *fec_len);

/* Recovers the group `group` (as read by zvfec_stream_parse_fec; its variant
 * must be the codec's) of media SSRC ssrc from what arrived. media holds
 * received RTP packets (any sequence numbers; those of other groups or SSRCs,
 * too long for S, or repeated are left out); fec holds whole FEC packets with
 * this same group description (of packets that repeat a symbol index, one at a
 * time serves). A
 * recovered packet is handed out only when it is an RTP packet of ssrc that
 * carries the sequence number of its gap, and with an FEC packet to spare only
 * when the spare confirms the group (see "Forged packets" above); either all
 * of the group's gaps are filled or none: out[m] (group->k caller buffers of
 * out_cap bytes, at least S - 2 each) receives the m-th in sequence order,
 * out_len[m] its length, *out_count their number. *rejected (may be NULL)
 * counts decoded packets that were refused. Returns 0 (also when nothing was
 * missing, or when what could be rebuilt fits no gap), ZVFEC_STREAM_E_TOO_FEW
 * without decoding when fewer than k distinct symbols are usable,
 * ZVFEC_STREAM_E_CONFLICT when choices of FEC packets rebuild different
 * packets, or another negative code. */
int zvfec_stream_codec_decode(zvfec_stream_codec *codec, const zvfec_stream_fec_header *group,
                              uint32_t ssrc, const uint8_t *const *media, const size_t *media_len,
                              size_t media_count, const uint8_t *const *fec, const size_t *fec_len,
                              size_t fec_count, uint8_t *const *out, size_t out_cap,
                              size_t *out_len, int *out_count, int *rejected);

/* ---- Packets handed out by senders and receivers ------------------------- */

typedef struct zvfec_stream_packet {
  const uint8_t *data; /* the RTP packet, owned by the object; see Conventions */
  size_t len;
  uint32_t media_ssrc; /* the media stream it belongs to (receiver) or protects (sender) */
  /* Receiver: the recovered packet's extended sequence number (its 16-bit
   * number plus 65536 for every wrap the receiver counted on that SSRC).
   * Sender: the sequence number of the last media packet of the protected group. */
  int64_t seq;
} zvfec_stream_packet;

/* ---- Sender ------------------------------------------------------------ */

typedef struct zvfec_stream_sender_config {
  int variant;              /* zvfec_stream_variant */
  int k, r;                 /* group shape, checked by zvfec_stream_check_shape */
  int fec_pt;               /* RTP payload type of the FEC packets, 0..127 */
  uint32_t fec_ssrc;        /* SSRC of every FEC packet; 0: zvfec_stream_fec_ssrc(media) */
  int64_t group_timeout_ns; /* a partial group is protected this long after its first
                               packet; <= 0: only when full, on a sequence break or flush */
} zvfec_stream_sender_config;

typedef struct zvfec_stream_sender_stats {
  uint64_t media;       /* RTP packets taken */
  uint64_t not_rtp;     /* refused: not RTP */
  uint64_t groups;      /* groups protected */
  uint64_t fec;         /* FEC packets produced */
  uint64_t unprotected; /* media packets of groups the codec refused */
  int last_error;       /* code of the last refusal, 0 if none */
} zvfec_stream_sender_stats;

typedef struct zvfec_stream_sender zvfec_stream_sender;

/* A sender, or NULL with *err (may be NULL) set: ZVFEC_STREAM_E_ARG for a bad
 * configuration, _E_K/_R/_N for a bad shape, _E_NOMEM. */
zvfec_stream_sender *zvfec_stream_sender_new(const zvfec_stream_sender_config *config, int *err);
void zvfec_stream_sender_free(zvfec_stream_sender *sender); /* NULL is ignored */

/* Takes one media RTP packet. A group holds consecutive sequence numbers of one
 * SSRC: a gap or repeat closes the open group of that SSRC first, and the group
 * is protected when it reaches k packets. FEC packets made so far wait for
 * zvfec_stream_sender_pop, in the order they were made, each a whole RTP
 * packet: version 2, no marker, payload type fec_pt, the group's first media
 * timestamp, and sequence numbers of each FEC SSRC counting up from 0.
 * Returns 0 or ZVFEC_STREAM_E_NOT_RTP / _E_ARG (the packet is ignored). */
int zvfec_stream_sender_push(zvfec_stream_sender *sender, const uint8_t *rtp, size_t len,
                             int64_t now_ns);

/* The earliest time at which zvfec_stream_sender_poll will protect a partial
 * group, or INT64_MAX when none is waiting. */
int64_t zvfec_stream_sender_deadline(const zvfec_stream_sender *sender);

/* Protects the partial groups whose time is up at now_ns. */
void zvfec_stream_sender_poll(zvfec_stream_sender *sender, int64_t now_ns);

/* Protects every open group, whatever its size (end of stream). */
void zvfec_stream_sender_flush(zvfec_stream_sender *sender);

/* Hands out the next FEC RTP packet: 1 and *out filled, or 0 when none waits. */
int zvfec_stream_sender_pop(zvfec_stream_sender *sender, zvfec_stream_packet *out);

void zvfec_stream_sender_get_stats(const zvfec_stream_sender *sender,
                                   zvfec_stream_sender_stats *out);

/* ---- Receiver ---------------------------------------------------------- */

typedef struct zvfec_stream_receiver_config {
  /* How long a packet is held for recovery after it arrived; a group whose FEC
   * packets are all older is released. Must be > 0. */
  int64_t hold_ns;
  /* Upper bound on the packets held (media, recovered and FEC); past it the
   * oldest are released early. 0: 8192. */
  size_t max_packets;
} zvfec_stream_receiver_config;

typedef struct zvfec_stream_receiver_stats {
  uint64_t media;                /* distinct media packets taken */
  uint64_t media_duplicates;     /* media packets already held (received or recovered) */
  uint64_t fec;                  /* FEC packets accepted */
  uint64_t fec_duplicates;       /* FEC packets identical to one held */
  uint64_t fec_refused;          /* malformed, forged or excess FEC packets, dropped */
  uint64_t recovered;            /* packets handed out */
  uint64_t unrecoverable_groups; /* groups released with media still missing */
  uint64_t decode_failures;      /* rebuilds contradicted: choices of FEC packets disagree */
  uint64_t rejected;             /* rebuilt packets that did not fit their place, dropped */
  uint64_t evicted;              /* packets released early because of max_packets */
  uint64_t held;                 /* packets held now */
  /* FEC packets that contradict what the receiver holds: their group overlaps
   * another group of the SSRC with another description, or their repair
   * symbol is also another group's. Held, but see "Forged packets" above. */
  uint64_t fec_conflicts;
} zvfec_stream_receiver_stats;

/* Counters of one media SSRC while the receiver keeps its state (it forgets an
 * SSRC that holds nothing and has been idle for hold_ns). */
typedef struct zvfec_stream_ssrc_stats {
  uint64_t received, recovered, duplicates;
  /* Sequence numbers neither received nor recovered between the first and the
   * last seen (of media, and of groups some media packet of which arrived). */
  int64_t missing;
} zvfec_stream_ssrc_stats;

typedef struct zvfec_stream_receiver zvfec_stream_receiver;

/* A receiver, or NULL with *err (may be NULL) set. */
zvfec_stream_receiver *zvfec_stream_receiver_new(const zvfec_stream_receiver_config *config,
                                                 int *err);
void zvfec_stream_receiver_free(zvfec_stream_receiver *receiver); /* NULL is ignored */

/* Makes FEC packets of SSRC fec_ssrc protect media SSRC media_ssrc. Without it
 * FEC SSRC f protects media SSRC zvfec_stream_fec_ssrc(f) (the derivation is
 * its own inverse). */
int zvfec_stream_receiver_map_ssrc(zvfec_stream_receiver *receiver, uint32_t fec_ssrc,
                                   uint32_t media_ssrc);

/* Takes a media RTP packet. Returns 0 for a new packet, ZVFEC_STREAM_DUPLICATE
 * for one already held (received or recovered), or ZVFEC_STREAM_E_NOT_RTP /
 * _E_ARG. *ext_seq (may be NULL) receives the packet's extended sequence
 * number unless the packet was refused. Packets recovered thanks to it wait for
 * zvfec_stream_receiver_pop. */
int zvfec_stream_receiver_push_media(zvfec_stream_receiver *receiver, const uint8_t *rtp,
                                     size_t len, int64_t now_ns, int64_t *ext_seq);

/* Takes an FEC RTP packet. Returns 0 when accepted, ZVFEC_STREAM_DUPLICATE for
 * a copy of one held, or a negative code when refused (counted in fec_refused:
 * not RTP, a header refused by zvfec_stream_parse_fec, ZVFEC_STREAM_E_FULL). */
int zvfec_stream_receiver_push_fec(zvfec_stream_receiver *receiver, const uint8_t *rtp, size_t len,
                                   int64_t now_ns);

/* Releases what is held past hold_ns at now_ns (pushes do this too). */
void zvfec_stream_receiver_poll(zvfec_stream_receiver *receiver, int64_t now_ns);

/* Hands out the next recovered RTP packet: 1 and *out filled, or 0. */
int zvfec_stream_receiver_pop(zvfec_stream_receiver *receiver, zvfec_stream_packet *out);

void zvfec_stream_receiver_get_stats(const zvfec_stream_receiver *receiver,
                                     zvfec_stream_receiver_stats *out);

/* 0 and *out filled for a media SSRC the receiver knows, else ZVFEC_STREAM_E_ARG. */
int zvfec_stream_receiver_get_ssrc_stats(const zvfec_stream_receiver *receiver, uint32_t ssrc,
                                         zvfec_stream_ssrc_stats *out);

#ifdef __cplusplus
}
#endif
