/*
 * zv_rsfec: forward error correction for RTP media.
 *
 * A sender hands a group of k media packets to zv_rsfec_encode and gets r FEC
 * packets; a receiver hands whatever arrived of the group to zv_rsfec_decode and
 * gets the lost media packets back. The library does no I/O, starts no threads
 * and keeps nothing of a group between calls: only the handle and shared,
 * read-only coding tables outlive a call.
 *
 * Media buffer (what the caller passes for each media packet):
 *   bytes 0-1   length L of the RTP packet that follows, little-endian
 *   bytes 2..   the RTP packet (its sequence number at buffer bytes 4-5)
 *   then zeros up to the group's symbol length S, the largest buffer length of
 *   the group rounded up to a multiple of 4.
 * The stated length of a media buffer counts the prefix and the RTP packet.
 *
 * FEC packet: 12 zero bytes left for an RTP header that the caller writes, the
 * FEC header (8 bytes, 12 for video version 2), then the repair symbol of S bytes.
 * The header's max_len field (bytes 18-19 of the FEC packet, big-endian) is S.
 *
 * Lengths. A media buffer is well formed when its stated length is at least
 * 2 + L: it holds its prefix and the whole packet the prefix announces. The
 * encoder refuses a group with any other buffer (-2); the decoder treats such a
 * received buffer as not received. S is at most 65532 (a multiple of 4 that
 * fits the 16-bit max_len field); the decoder refuses an FEC header whose
 * max_len is below 4 or no multiple of 4, or whose k or n_r is 0 (-2).
 *
 * Threads. The library starts no threads. Separate handles may be used from
 * any number of threads at once; one handle is used by one thread at a time.
 * They share only constant tables and a cache of Reed-Solomon matrices
 * (video version 1) that a brief lock guards. The process-wide settings (the
 * log callback and the log level) may be changed at any time from any
 * thread; a log line goes to the callback registered when it was formatted,
 * which may run on any thread that calls the library.
 */
#pragma once

#if defined(ZV_RSFEC_STATIC)
#define ZV_RSFEC_API
#elif defined(_WIN32)
#if defined(ZV_RSFEC_BUILDING)
#define ZV_RSFEC_API __declspec(dllexport)
#else
#define ZV_RSFEC_API __declspec(dllimport)
#endif
#else
#define ZV_RSFEC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Media type of a handle. */
enum _zv_fec_type_e { ZV_FEC_AUDIO = 0, ZV_FEC_VIDEO = 1 };

/* Wire format version of a handle. Audio exists in version 2 only. */
enum _zv_fec_version_e { ZV_FEC_VERSION_1 = 0, ZV_FEC_VERSION_2 = 1 };

/* Severity of a log line; a line is passed on when its severity is at least the
 * level set with zv_rsfec_set_log_level. ZV_FEC_LOG_NONE, the initial level,
 * passes nothing. */
typedef enum _zv_rsfec_log_severity_e {
  ZV_FEC_LOG_SENSITIVE = 0,
  ZV_FEC_LOG_VERBOSE = 1,
  ZV_FEC_LOG_INFO = 2,
  ZV_FEC_LOG_WARNING = 3,
  ZV_FEC_LOG_ERROR = 4,
  ZV_FEC_LOG_NONE = 5
} ZV_FEC_LOG_SERVERITY_E;

/* Receives one NUL-terminated log line per call; the text is valid only during
 * the call. */
typedef void (*zv_rsfec_log_callback)(const char *text);

/* Creates a handle for (type, version) and stores it in *obj.
 * Returns 1 on success; 0 when the pair is refused or memory is short, and *obj
 * is not written. Refused: a type other than ZV_FEC_AUDIO with a version other
 * than ZV_FEC_VERSION_1 and ZV_FEC_VERSION_2, and ZV_FEC_AUDIO with
 * ZV_FEC_VERSION_1. Other pairs are accepted, but only (video, version 1),
 * (video, version 2) and (audio, version 2) have a variant: with any other
 * handle encode and decode return -4096.
 * Release the handle with zv_rsfec_destory. */
ZV_RSFEC_API int zv_rsfec_initilize(int type, int version, void **obj);

/* Returns 1 when handle is non-null and set up by zv_rsfec_initilize, else 0. */
ZV_RSFEC_API int zv_rsfec_is_initilized(void *handle);

/* Encodes one group: packet_number media buffers med_packet[i] of stated length
 * med_packet_len[i] become fec_number FEC packets. fec_packet[j] is a caller
 * buffer of capacity fec_packet_len[j] (at least 12 + header + S bytes); on
 * success it holds the FEC packet and fec_packet_len[j] its length.
 * Media buffers are read only up to their stated lengths and never written.
 * Every media buffer must be non-null and well formed (see Lengths above), and
 * the media packets of a group carry consecutive RTP sequence numbers in array
 * order. Version 2 groups hold at most 64 media and 64 FEC packets; version 1
 * groups with FEC packets at most 256 symbols (k + r), though receivers of this
 * library use only symbol indices up to 127.
 * encode_header_only and write_fec_offset are accepted and ignored.
 * Returns 0 on success or a negative code: -1 handle not initialised, -2 bad
 * arguments (nothing is written then, not even the FEC buffers' zero fill),
 * -4 codec failure, -5/-6 session failures (video version 1), -4096 no variant
 * for the handle's type and version. */
ZV_RSFEC_API int zv_rsfec_encode(void *handle, int encode_header_only, unsigned char **med_packet,
                                 int *med_packet_len, int packet_number, int fec_number,
                                 int write_fec_offset, unsigned char **fec_packet,
                                 int *fec_packet_len);

/* Recovers the lost media packets of one group from received_med_num media
 * buffers and received_fec_num FEC packets of that group. The group (k, r, base
 * sequence number, S) is read from the first FEC packet.
 *
 * Inputs are untrusted and read only within their stated lengths:
 * received_med_pkt_len[i] is the stated length of media buffer i, and
 * received_fec_pkt_len[j] that of FEC packet j. received_fec_pkt_len is read:
 * NULL gives -2, as does a first FEC packet shorter than 12 + header bytes; a
 * later FEC packet shorter than 12 + header + S bytes is not used. A NULL media
 * buffer, one shorter than 6 bytes or one that is not well formed counts as not
 * received; received_med_num <= 0 means no media packets (the arrays may then
 * be NULL).
 *
 * Each recovered packet is written as a bare RTP packet into the next caller
 * buffer recovered_pkt[m], its length into recovered_pkt_len[m], in sequence
 * order; *recovered_pkt_num counts them and is 0 after any failure. Provide as
 * many buffers as FEC packets passed (at most that many come back), each at
 * least S - 2 bytes long. A receiver that knows only the FEC header takes S
 * from the first FEC packet's max_len; buffers of 65530 bytes fit any group.
 * The version-2 variants decode in place: the repair symbols inside the
 * received FEC packets are overwritten.
 * use_fec_offset is accepted and ignored.
 * Returns 0 on success or a negative code: -1 handle not initialised, -2 no FEC
 * packet or a refused FEC header, -3 too few symbols, -4 codec failure, -100
 * fewer packets than k, -101 media packet longer than S, -102..-106 session
 * failures (video version 1), -4096 no variant for the handle's type and
 * version. */
ZV_RSFEC_API int zv_rsfec_decode(void *handle, unsigned char **received_med_pkt,
                                 int *received_med_pkt_len, int received_med_num,
                                 unsigned char **received_fec_pkt, int *received_fec_pkt_len,
                                 int received_fec_num, int use_fec_offset,
                                 unsigned char **recovered_pkt, int *recovered_pkt_len,
                                 int *recovered_pkt_num);

/* Frees a handle; a null handle is ignored. The pointer must not be used again. */
ZV_RSFEC_API void zv_rsfec_destory(void *handle);

/* The library's version text, in static storage (never freed by the caller). */
ZV_RSFEC_API const char *zv_rsfec_version(void);

/* Sets (or, with NULL, removes) the process-wide receiver of log lines. Safe at
 * any time from any thread; the callback may be called from every thread that
 * uses the library, also concurrently. */
ZV_RSFEC_API void zv_rsfec_register_log_callback(zv_rsfec_log_callback cb);

/* Sets the process-wide lowest severity that is logged. Safe at any time from
 * any thread. */
ZV_RSFEC_API void zv_rsfec_set_log_level(ZV_FEC_LOG_SERVERITY_E level);

#ifdef __cplusplus
}
#endif
