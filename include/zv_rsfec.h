/*
 * zv_rsfec: forward error correction for RTP media.
 *
 * A sender hands a group of k media packets to zv_rsfec_encode and gets r FEC
 * packets; a receiver hands whatever arrived of the group to zv_rsfec_decode and
 * gets the lost media packets back. The library does no I/O, starts no threads
 * and keeps nothing between calls but the handle.
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
 */
#ifndef ZV_RSFEC_H
#define ZV_RSFEC_H

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
 * Returns 1 on success; 0 when the pair is refused (video with a version other
 * than 1 or 2, or audio version 1) or memory is short, and *obj is not written.
 * Release the handle with zv_rsfec_destory. */
ZV_RSFEC_API int zv_rsfec_initilize(int type, int version, void **obj);

/* Returns 1 when handle is non-null and set up by zv_rsfec_initilize, else 0. */
ZV_RSFEC_API int zv_rsfec_is_initilized(void *handle);

/* Encodes one group: packet_number media buffers med_packet[i] of stated length
 * med_packet_len[i] become fec_number FEC packets. fec_packet[j] is a caller
 * buffer of capacity fec_packet_len[j] (at least 12 + header + S bytes); on
 * success it holds the FEC packet and fec_packet_len[j] its length.
 * encode_header_only and write_fec_offset are accepted and ignored.
 * Returns 0 on success or a negative code: -1 handle not initialised, -2 bad
 * arguments, -4 codec failure, -5/-6 session failures (video version 1),
 * -4096 no variant for the handle's type and version. */
ZV_RSFEC_API int zv_rsfec_encode(void *handle, int encode_header_only, unsigned char **med_packet,
                                 int *med_packet_len, int packet_number, int fec_number,
                                 int write_fec_offset, unsigned char **fec_packet,
                                 int *fec_packet_len);

/* Recovers the lost media packets of one group from received_med_num media
 * buffers and received_fec_num FEC packets of that group. Each recovered packet
 * is written as a bare RTP packet into the next caller buffer recovered_pkt[m]
 * (at least S - 2 bytes; provide as many buffers as FEC packets passed), its
 * length into recovered_pkt_len[m], in sequence order; *recovered_pkt_num counts
 * them and is 0 after any failure. The version-2 variants decode in place: the
 * repair symbols inside the received FEC packets are overwritten.
 * use_fec_offset is accepted and ignored.
 * Returns 0 on success or a negative code: -1 handle not initialised, -2 no FEC
 * packet, -3 too few symbols, -4 codec failure, -100 fewer packets than k,
 * -101 media packet longer than S, -102..-106 session failures (video version
 * 1), -4096 no variant for the handle's type and version. */
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

/* Sets (or, with NULL, removes) the process-wide receiver of log lines. */
ZV_RSFEC_API void zv_rsfec_register_log_callback(zv_rsfec_log_callback cb);

/* Sets the process-wide lowest severity that is logged. */
ZV_RSFEC_API void zv_rsfec_set_log_level(ZV_FEC_LOG_SERVERITY_E level);

#ifdef __cplusplus
}
#endif

#endif /* ZV_RSFEC_H */
