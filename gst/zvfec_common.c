#include "zvfec_common.h"

#include "zvfecdec.h"
#include "zvfecenc.h"

GstClock *zvfec_gst_clock(GstElement *element) {
  GstClock *clock = gst_element_get_clock(element);

  return clock != NULL ? clock : gst_system_clock_obtain();
}

gint64 zvfec_gst_now(GstElement *element) {
  GstClock *clock = zvfec_gst_clock(element);
  GstClockTime t = gst_clock_get_time(clock);

  gst_object_unref(clock);
  return GST_CLOCK_TIME_IS_VALID(t) ? (gint64)t : 0;
}

GstBuffer *zvfec_gst_buffer_from_packet(const zvfec_stream_packet *packet) {
  return gst_buffer_new_memdup(packet->data, packet->len);
}

GstIterator *zvfec_gst_iterate_one(GstPad *pad) {
  GValue v = G_VALUE_INIT;
  GstIterator *it;

  g_value_init(&v, GST_TYPE_PAD);
  g_value_set_object(&v, pad);
  it = gst_iterator_new_single(GST_TYPE_PAD, &v);
  g_value_unset(&v);
  return it;
}

gboolean zvfec_gst_register_elements(GstPlugin *plugin) {
  return gst_element_register(plugin, "zvfecenc", GST_RANK_NONE, GST_TYPE_ZVFEC_ENC) &&
         gst_element_register(plugin, "zvfecdec", GST_RANK_NONE, GST_TYPE_ZVFEC_DEC);
}
