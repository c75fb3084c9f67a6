/* zvfecdec: a zvfec_stream_receiver between the network and a jitter buffer.
 *
 * Media buffers from sink go on through src as they arrive; FEC packets from
 * fec_sink are untrusted input for the receiver, which hands back a lost
 * packet as soon as its group can be decoded. Recovered buffers carry the
 * media caps and the running time their RTP timestamp stands for, reckoned
 * from the latest media buffer of their SSRC; a downstream rtpjitterbuffer
 * puts them in order.
 *
 * Locks: push_lock serialises what goes out on src (both sink pads' streaming
 * threads push there) and is taken before lock, which guards the receiver.
 */
#include "zvfecdec.h"

#include <stdint.h>
#include <string.h>

#include <gst/rtp/gstrtpbuffer.h>

#include "zvfec_common.h"

GST_DEBUG_CATEGORY_STATIC(zvfecdec_debug);
#define GST_CAT_DEFAULT zvfecdec_debug

#define DEFAULT_GROUP_TIMEOUT 500

enum {
  PROP_0,
  PROP_GROUP_TIMEOUT,
  PROP_STATS,
};

/* Where an SSRC's RTP clock stood at a known running time. */
typedef struct {
  guint32 rtp_time;
  GstClockTime pts;
} TimeRef;

struct _GstZvfecDec {
  GstElement parent;
  GstPad *sinkpad, *fecsinkpad, *srcpad;

  guint group_timeout; /* under the object lock */

  GMutex push_lock;
  GMutex lock;
  zvfec_stream_receiver *receiver;
  zvfec_stream_receiver_stats last_stats; /* kept when the receiver goes */
  GHashTable *time_refs;                  /* media SSRC -> TimeRef */
  gint clock_rate;                        /* of the media caps; 0 when unknown */

  /* under push_lock */
  gboolean fec_eos;   /* the FEC stream has ended */
  GstEvent *held_eos; /* the media stream's end, waiting for the FEC stream's */
};

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-rtp"));
static GstStaticPadTemplate fec_sink_template = GST_STATIC_PAD_TEMPLATE(
    "fec_sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-rtp"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-rtp"));

G_DEFINE_TYPE(GstZvfecDec, gst_zvfec_dec, GST_TYPE_ELEMENT)

/* The running time of RTP time ts on SSRC ssrc, as best known. Called with
 * lock held. */
static GstClockTime running_time_of(GstZvfecDec *self, guint32 ssrc, guint32 ts) {
  const TimeRef *ref = g_hash_table_lookup(self->time_refs, GUINT_TO_POINTER(ssrc));
  gint32 ticks;
  GstClockTimeDiff offset;

  if (ref == NULL || self->clock_rate <= 0) return GST_CLOCK_TIME_NONE;
  ticks = (gint32)(ts - ref->rtp_time);
  offset =
      (GstClockTimeDiff)gst_util_uint64_scale_int(ABS((gint64)ticks), GST_SECOND, self->clock_rate);
  if (ticks < 0) return ref->pts > (GstClockTime)offset ? ref->pts - offset : 0;
  return ref->pts + offset;
}

/* Takes the recovered packets as buffers. Called with lock held. */
static GList *take_recovered(GstZvfecDec *self) {
  GList *out = NULL;
  zvfec_stream_packet p;

  while (zvfec_stream_receiver_pop(self->receiver, &p)) {
    GstBuffer *b = zvfec_gst_buffer_from_packet(&p);
    GST_BUFFER_PTS(b) = running_time_of(self, p.media_ssrc, GST_READ_UINT32_BE(p.data + 4));
    GST_BUFFER_FLAG_SET(b, GST_RTP_BUFFER_FLAG_REDUNDANT);
    out = g_list_prepend(out, b);
  }
  return g_list_reverse(out);
}

/* Pushes recovered buffers on src, with push_lock held, after what was pushed
 * before them with result ret; once a push has failed the rest are dropped,
 * as they are before the media caps have reached src (they have nowhere to
 * go then). */
static GstFlowReturn push_recovered(GstZvfecDec *self, GList *buffers, GstFlowReturn ret) {
  gboolean ready = gst_pad_has_current_caps(self->srcpad);
  GList *l;

  for (l = buffers; l; l = l->next) {
    GstBuffer *b = GST_BUFFER(l->data);
    if (!ready || ret != GST_FLOW_OK) {
      gst_buffer_unref(b);
      continue;
    }
    GST_LOG_OBJECT(self, "recovered a packet, pts %" GST_TIME_FORMAT,
                   GST_TIME_ARGS(GST_BUFFER_PTS(b)));
    ret = gst_pad_push(self->srcpad, b);
  }
  g_list_free(buffers);
  return ret;
}

/* Hands one packet to the receiver and takes the packets it recovered thanks
 * to it; a media packet also dates its SSRC's RTP clock. Called with
 * push_lock held. */
static GList *receive(GstZvfecDec *self, GstBuffer *buffer, gboolean fec) {
  GstMapInfo map;
  GList *recovered = NULL;
  gint64 now = zvfec_gst_now(GST_ELEMENT(self));

  g_mutex_lock(&self->lock);
  if (self->receiver && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    if (fec) {
      int rc = zvfec_stream_receiver_push_fec(self->receiver, map.data, map.size, now);
      if (rc < 0)
        GST_DEBUG_OBJECT(self, "FEC packet of %" G_GSIZE_FORMAT " bytes refused: %s", map.size,
                         zvfec_stream_error_text(rc));
    } else if (zvfec_stream_receiver_push_media(self->receiver, map.data, map.size, now, NULL) >=
                   0 &&
               GST_BUFFER_PTS_IS_VALID(buffer)) {
      /* Taken as RTP: at least the 12 bytes of the fixed header. */
      TimeRef *ref = g_new(TimeRef, 1);
      ref->rtp_time = GST_READ_UINT32_BE(map.data + 4);
      ref->pts = GST_BUFFER_PTS(buffer);
      g_hash_table_replace(self->time_refs, GUINT_TO_POINTER(GST_READ_UINT32_BE(map.data + 8)),
                           ref);
    }
    gst_buffer_unmap(buffer, &map);
    recovered = take_recovered(self);
  }
  g_mutex_unlock(&self->lock);
  return recovered;
}

/* A buffer from either sink pad: the receiver takes it, a media buffer goes
 * on through src, and then what the receiver recovered thanks to it. */
static GstFlowReturn chain(GstZvfecDec *self, GstBuffer *buffer, gboolean fec) {
  GstFlowReturn ret = GST_FLOW_OK;
  GList *recovered;

  g_mutex_lock(&self->push_lock);
  recovered = receive(self, buffer, fec);
  if (fec)
    gst_buffer_unref(buffer);
  else
    ret = gst_pad_push(self->srcpad, buffer);
  ret = push_recovered(self, recovered, ret);
  g_mutex_unlock(&self->push_lock);
  return ret;
}

static GstFlowReturn gst_zvfec_dec_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer) {
  (void)pad;
  return chain(GST_ZVFEC_DEC(parent), buffer, FALSE);
}

static GstFlowReturn gst_zvfec_dec_fec_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer) {
  GstFlowReturn ret = chain(GST_ZVFEC_DEC(parent), buffer, TRUE);

  (void)pad;
  /* The FEC branch never stops for the media branch's sake. */
  return ret == GST_FLOW_FLUSHING ? ret : GST_FLOW_OK;
}

static gboolean gst_zvfec_dec_sink_event(GstPad *pad, GstObject *parent, GstEvent *event) {
  GstZvfecDec *self = GST_ZVFEC_DEC(parent);
  gboolean ok;

  if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
    GstCaps *caps;
    gint rate = 0;

    gst_event_parse_caps(event, &caps);
    gst_structure_get_int(gst_caps_get_structure(caps, 0), "clock-rate", &rate);
    g_mutex_lock(&self->lock);
    self->clock_rate = rate;
    g_mutex_unlock(&self->lock);
  }
  if (!GST_EVENT_IS_SERIALIZED(event)) return gst_pad_event_default(pad, parent, event);
  g_mutex_lock(&self->push_lock);
  if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP ||
      GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START)
    gst_event_replace(&self->held_eos, NULL);
  /* The end of the media stream waits for the end of the FEC stream, whose
   * last packets may still recover media. */
  if (GST_EVENT_TYPE(event) == GST_EVENT_EOS && !self->fec_eos &&
      gst_pad_is_linked(self->fecsinkpad)) {
    gst_event_replace(&self->held_eos, event);
    gst_event_unref(event);
    g_mutex_unlock(&self->push_lock);
    return TRUE;
  }
  ok = gst_pad_push_event(self->srcpad, event);
  g_mutex_unlock(&self->push_lock);
  return ok;
}

/* The FEC stream's events stop here (src carries the media stream's), but
 * its end releases a held end of the media stream. */
static gboolean gst_zvfec_dec_fec_event(GstPad *pad, GstObject *parent, GstEvent *event) {
  GstZvfecDec *self = GST_ZVFEC_DEC(parent);
  GstEvent *eos = NULL;

  (void)pad;
  g_mutex_lock(&self->push_lock);
  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
      self->fec_eos = TRUE;
      eos = self->held_eos;
      self->held_eos = NULL;
      break;
    case GST_EVENT_FLUSH_STOP:
    case GST_EVENT_STREAM_START:
      self->fec_eos = FALSE;
      break;
    default:
      break;
  }
  if (eos) gst_pad_push_event(self->srcpad, eos);
  g_mutex_unlock(&self->push_lock);
  gst_event_unref(event);
  return TRUE;
}

static gboolean gst_zvfec_dec_fec_query(GstPad *pad, GstObject *parent, GstQuery *query) {
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_CAPS: {
      GstCaps *filter, *caps = gst_pad_get_pad_template_caps(pad);

      gst_query_parse_caps(query, &filter);
      if (filter) {
        GstCaps *both = gst_caps_intersect(caps, filter);
        gst_caps_unref(caps);
        caps = both;
      }
      gst_query_set_caps_result(query, caps);
      gst_caps_unref(caps);
      return TRUE;
    }
    case GST_QUERY_ACCEPT_CAPS: {
      GstCaps *caps, *templ = gst_pad_get_pad_template_caps(pad);

      gst_query_parse_accept_caps(query, &caps);
      gst_query_set_accept_caps_result(query, gst_caps_can_intersect(caps, templ));
      gst_caps_unref(templ);
      return TRUE;
    }
    default:
      return gst_pad_query_default(pad, parent, query);
  }
}

static GstIterator *gst_zvfec_dec_src_links(GstPad *pad, GstObject *parent) {
  (void)pad;
  return zvfec_gst_iterate_one(GST_ZVFEC_DEC(parent)->sinkpad);
}

static void start(GstZvfecDec *self) {
  zvfec_stream_receiver_config cfg;

  GST_OBJECT_LOCK(self);
  cfg.hold_ns = (int64_t)MAX(self->group_timeout, 1) * GST_MSECOND;
  cfg.max_packets = 0;
  GST_OBJECT_UNLOCK(self);
  g_mutex_lock(&self->push_lock);
  self->fec_eos = FALSE;
  gst_event_replace(&self->held_eos, NULL);
  g_mutex_unlock(&self->push_lock);
  g_mutex_lock(&self->lock);
  self->receiver = zvfec_stream_receiver_new(&cfg, NULL);
  memset(&self->last_stats, 0, sizeof self->last_stats);
  g_hash_table_remove_all(self->time_refs);
  g_mutex_unlock(&self->lock);
}

static void stop(GstZvfecDec *self) {
  g_mutex_lock(&self->push_lock);
  g_mutex_lock(&self->lock);
  if (self->receiver) zvfec_stream_receiver_get_stats(self->receiver, &self->last_stats);
  zvfec_stream_receiver_free(self->receiver);
  self->receiver = NULL;
  gst_event_replace(&self->held_eos, NULL);
  g_mutex_unlock(&self->lock);
  g_mutex_unlock(&self->push_lock);
}

static GstStateChangeReturn gst_zvfec_dec_change_state(GstElement *element,
                                                       GstStateChange transition) {
  GstZvfecDec *self = GST_ZVFEC_DEC(element);
  GstStateChangeReturn ret;

  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) start(self);
  ret = GST_ELEMENT_CLASS(gst_zvfec_dec_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) stop(self);
  return ret;
}

static GstStructure *stats_structure(GstZvfecDec *self) {
  zvfec_stream_receiver_stats s;

  g_mutex_lock(&self->lock);
  s = self->last_stats;
  if (self->receiver) zvfec_stream_receiver_get_stats(self->receiver, &s);
  g_mutex_unlock(&self->lock);
  return gst_structure_new(
      "application/x-zvfec-stats", "packets-received", G_TYPE_UINT64, (guint64)s.media,
      "packets-recovered", G_TYPE_UINT64, (guint64)s.recovered, "unrecoverable-groups",
      G_TYPE_UINT64, (guint64)s.unrecoverable_groups, "fec-refused", G_TYPE_UINT64,
      (guint64)s.fec_refused, "fec-received", G_TYPE_UINT64, (guint64)s.fec, "duplicates",
      G_TYPE_UINT64, (guint64)(s.media_duplicates + s.fec_duplicates), "decode-failures",
      G_TYPE_UINT64, (guint64)s.decode_failures, "rejected", G_TYPE_UINT64, (guint64)s.rejected,
      "evicted", G_TYPE_UINT64, (guint64)s.evicted, "held", G_TYPE_UINT64, (guint64)s.held, NULL);
}

static void gst_zvfec_dec_set_property(GObject *object, guint id, const GValue *value,
                                       GParamSpec *pspec) {
  GstZvfecDec *self = GST_ZVFEC_DEC(object);

  switch (id) {
    case PROP_GROUP_TIMEOUT:
      GST_OBJECT_LOCK(self);
      self->group_timeout = g_value_get_uint(value);
      GST_OBJECT_UNLOCK(self);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

static void gst_zvfec_dec_get_property(GObject *object, guint id, GValue *value,
                                       GParamSpec *pspec) {
  GstZvfecDec *self = GST_ZVFEC_DEC(object);

  switch (id) {
    case PROP_GROUP_TIMEOUT:
      GST_OBJECT_LOCK(self);
      g_value_set_uint(value, self->group_timeout);
      GST_OBJECT_UNLOCK(self);
      break;
    case PROP_STATS:
      g_value_take_boxed(value, stats_structure(self));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

static void gst_zvfec_dec_finalize(GObject *object) {
  GstZvfecDec *self = GST_ZVFEC_DEC(object);

  zvfec_stream_receiver_free(self->receiver);
  gst_event_replace(&self->held_eos, NULL);
  g_hash_table_unref(self->time_refs);
  g_mutex_clear(&self->push_lock);
  g_mutex_clear(&self->lock);
  G_OBJECT_CLASS(gst_zvfec_dec_parent_class)->finalize(object);
}

static void gst_zvfec_dec_class_init(GstZvfecDecClass *klass) {
  GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

  GST_DEBUG_CATEGORY_INIT(zvfecdec_debug, "zvfecdec", 0, "zvfec decoder");
  gobject_class->set_property = gst_zvfec_dec_set_property;
  gobject_class->get_property = gst_zvfec_dec_get_property;
  gobject_class->finalize = gst_zvfec_dec_finalize;
  element_class->change_state = gst_zvfec_dec_change_state;

  g_object_class_install_property(
      gobject_class, PROP_GROUP_TIMEOUT,
      g_param_spec_uint("group-timeout", "Group timeout",
                        "Milliseconds a packet is held for recovery after it arrived; an "
                        "incomplete group is released once all its FEC packets are older, "
                        "so this bounds memory (at most 8192 packets are held in any case)",
                        1, G_MAXUINT32, DEFAULT_GROUP_TIMEOUT,
                        G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(
      gobject_class, PROP_STATS,
      g_param_spec_boxed("stats", "Statistics",
                         "Counters since the element last started (read-only): "
                         "packets-received (distinct media packets), packets-recovered, "
                         "unrecoverable-groups (released with media still missing), "
                         "fec-refused (malformed, forged or excess FEC packets, dropped), "
                         "fec-received, duplicates, decode-failures, rejected (decoded "
                         "packets that filled no gap), evicted (released early at the "
                         "packet bound), held (packets held now)",
                         GST_TYPE_STRUCTURE, G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));

  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &fec_sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(
      element_class, "zvfec FEC decoder", "Codec/Decoder/Network/RTP",
      "Recovers lost RTP packets from the Reed-Solomon FEC packets on "
      "fec_sink and inserts them into the media stream",
      "zv_rsfec");
}

static void gst_zvfec_dec_init(GstZvfecDec *self) {
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_chain_function(self->sinkpad, gst_zvfec_dec_chain);
  gst_pad_set_event_function(self->sinkpad, gst_zvfec_dec_sink_event);
  GST_PAD_SET_PROXY_CAPS(self->sinkpad);
  GST_PAD_SET_PROXY_ALLOCATION(self->sinkpad);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

  self->fecsinkpad = gst_pad_new_from_static_template(&fec_sink_template, "fec_sink");
  gst_pad_set_chain_function(self->fecsinkpad, gst_zvfec_dec_fec_chain);
  gst_pad_set_event_function(self->fecsinkpad, gst_zvfec_dec_fec_event);
  gst_pad_set_query_function(self->fecsinkpad, gst_zvfec_dec_fec_query);
  gst_element_add_pad(GST_ELEMENT(self), self->fecsinkpad);

  self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
  gst_pad_set_iterate_internal_links_function(self->srcpad, gst_zvfec_dec_src_links);
  GST_PAD_SET_PROXY_CAPS(self->srcpad);
  gst_element_add_pad(GST_ELEMENT(self), self->srcpad);

  self->group_timeout = DEFAULT_GROUP_TIMEOUT;
  self->time_refs = g_hash_table_new_full(NULL, NULL, NULL, g_free);
  g_mutex_init(&self->push_lock);
  g_mutex_init(&self->lock);
}
