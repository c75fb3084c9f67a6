/* The public header compiled as C99 and linked against the shared library. */
#include <stddef.h>
#include <string.h>

#include "zv_rsfec.h"

static int g_lines;
static void on_log(const char *text) {
  if (text != NULL) ++g_lines;
}

int main(void) {
  void *h = NULL;
  ZV_FEC_LOG_SERVERITY_E level = ZV_FEC_LOG_INFO;
  zv_rsfec_register_log_callback(on_log);
  zv_rsfec_set_log_level(level);
  if (zv_rsfec_initilize(ZV_FEC_VIDEO, ZV_FEC_VERSION_2, &h) != 1) return 1;
  if (zv_rsfec_is_initilized(h) != 1) return 2;
  zv_rsfec_destory(h);
  if (g_lines != 1) return 3;
  if (strcmp(zv_rsfec_version(), "Release 1.0.0.0 Build Aug 18 2022 14:02:55") != 0) return 4;
  return 0;
}
