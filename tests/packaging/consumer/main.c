/* A consumer of the installed package: creates and frees a handle. */
#include <stdio.h>
#include <string.h>

#include <zv_rsfec.h>

int main(void) {
  void *h = NULL;
  if (zv_rsfec_initilize(ZV_FEC_AUDIO, ZV_FEC_VERSION_2, &h) != 1) return 1;
  if (!zv_rsfec_is_initilized(h)) return 2;
  zv_rsfec_destory(h);
  if (strncmp(zv_rsfec_version(), "Release ", 8) != 0) return 3;
  printf("consumer ok: %s\n", zv_rsfec_version());
  return 0;
}
