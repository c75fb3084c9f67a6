/* The zvfec plugin: zvfecenc and zvfecdec, forward error correction for RTP
 * on the zv_rsfec stream layer. */
#include "zvfec_common.h"

#define PACKAGE "zv_rsfec"
#ifndef ZVFEC_GST_VERSION
#define ZVFEC_GST_VERSION "1.0.0"
#endif

static gboolean plugin_init(GstPlugin *plugin) { return zvfec_gst_register_elements(plugin); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zvfec,
                  "Reed-Solomon forward error correction for RTP (zv_rsfec)", plugin_init,
                  ZVFEC_GST_VERSION, "unknown", "zv_rsfec", "zv_rsfec")
