/* zvfecenc: protects the RTP stream on its sink pad with FEC packets on its
 * fec_src pad; the media goes on through src unchanged. */
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_ZVFEC_ENC (gst_zvfec_enc_get_type())
G_DECLARE_FINAL_TYPE(GstZvfecEnc, gst_zvfec_enc, GST, ZVFEC_ENC, GstElement)

#define GST_TYPE_ZVFEC_VARIANT (gst_zvfec_variant_get_type())
GType gst_zvfec_variant_get_type(void);

G_END_DECLS
