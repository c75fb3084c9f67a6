/* What both elements of the zvfec plugin share: their time line and how an
 * RTP packet from the stream layer becomes a buffer. */
#pragma once

#include <gst/gst.h>
#include <zvfec/stream.h>

G_BEGIN_DECLS

/* The element's clock (the pipeline's, or a test clock), or the system clock
 * while the element has none: the stream layer's time line. A reference the
 * caller releases. */
GstClock *zvfec_gst_clock(GstElement *element);

/* Now on zvfec_gst_clock. */
gint64 zvfec_gst_now(GstElement *element);

/* The big-endian 32-bit word at p, which may stand at any address: buffers
 * from the network or from a parser may start anywhere. */
static inline guint32 zvfec_gst_read_be32(const guint8 *p) {
  return (guint32)p[0] << 24 | (guint32)p[1] << 16 | (guint32)p[2] << 8 | (guint32)p[3];
}

/* A new buffer holding a copy of the packet. */
GstBuffer *zvfec_gst_buffer_from_packet(const zvfec_stream_packet *packet);

/* An iterator over the one pad that pad is internally linked to: caps and
 * other queries then travel between the media pads only, never to the FEC
 * pad, whose caps differ. */
GstIterator *zvfec_gst_iterate_one(GstPad *pad);

/* Registers zvfecenc and zvfecdec with plugin (or statically with NULL). */
gboolean zvfec_gst_register_elements(GstPlugin *plugin);

G_END_DECLS
