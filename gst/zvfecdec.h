/* zvfecdec: passes the media on its sink pad on through src and inserts the
 * packets it recovers from the FEC packets on fec_sink. */
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZVFEC_DEC (gst_zvfec_dec_get_type())
G_DECLARE_FINAL_TYPE(GstZvfecDec, gst_zvfec_dec, GST, ZVFEC_DEC, GstElement)

G_END_DECLS
