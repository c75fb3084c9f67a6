/* A C consumer of the stream layer in the installed static library: four RTP
 * packets protected by two FEC packets, one packet lost and recovered. */
#include <stdio.h>
#include <string.h>

#include <zvfec/stream.h>

int main(void) {
  const zvfec_stream_sender_config sc = {ZVFEC_STREAM_AUDIO_V2, 4, 2, 127, 0, 0};
  const zvfec_stream_receiver_config rc = {1000000000, 0};
  zvfec_stream_sender *s = zvfec_stream_sender_new(&sc, NULL);
  zvfec_stream_receiver *r = zvfec_stream_receiver_new(&rc, NULL);
  unsigned char media[4][40];
  zvfec_stream_packet p;
  int i, fec = 0, back = 0;
  if (s == NULL || r == NULL) return 1;
  for (i = 0; i < 4; ++i) {
    memset(media[i], 0x30 + i, sizeof media[i]);
    media[i][0] = 0x80, media[i][1] = 96, media[i][2] = 0, media[i][3] = (unsigned char)i;
    memset(media[i] + 4, 0, 4);
    media[i][8] = 0x12, media[i][9] = 0x34, media[i][10] = 0x56, media[i][11] = 0x78;
    zvfec_stream_sender_push(s, media[i], sizeof media[i], 0);
    if (i != 2) zvfec_stream_receiver_push_media(r, media[i], sizeof media[i], 0, NULL);
  }
  while (zvfec_stream_sender_pop(s, &p)) {
    ++fec;
    zvfec_stream_receiver_push_fec(r, p.data, p.len, 0);
  }
  while (zvfec_stream_receiver_pop(r, &p))
    back += p.len == sizeof media[2] && memcmp(p.data, media[2], p.len) == 0;
  zvfec_stream_sender_free(s);
  zvfec_stream_receiver_free(r);
  if (fec != 2 || back != 1) return 2;
  printf("stream consumer ok\n");
  return 0;
}
