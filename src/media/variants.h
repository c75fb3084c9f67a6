// The three wire variants behind zv_rsfec_encode and zv_rsfec_decode. Each takes
// the exported function's arguments unchanged.
#pragma once

#define ZV_ENCODE_ARGS                                                                     \
  void *handle, int encode_header_only, unsigned char **med_packet, int *med_packet_len,   \
      int packet_number, int fec_number, int write_fec_offset, unsigned char **fec_packet, \
      int *fec_packet_len

#define ZV_DECODE_ARGS                                                                             \
  void *handle, unsigned char **received_med_pkt, int *received_med_pkt_len, int received_med_num, \
      unsigned char **received_fec_pkt, int *received_fec_pkt_len, int received_fec_num,           \
      int use_fec_offset, unsigned char **recovered_pkt, int *recovered_pkt_len,                   \
      int *recovered_pkt_num

int zv_rsfec_encode_audio_v2(ZV_ENCODE_ARGS);
int zv_rsfec_decode_audio_v2(ZV_DECODE_ARGS);
int zv_rsfec_encode_video_v2(ZV_ENCODE_ARGS);
int zv_rsfec_decode_video_v2(ZV_DECODE_ARGS);
int zv_rsfec_encode_video_v1(ZV_ENCODE_ARGS);
int zv_rsfec_decode_video_v1(ZV_DECODE_ARGS);
