/* zvfecdec: a zvfec_stream_receiver between the network and a jitter buffer.
 *
 * Media buffers from sink go on through src as they arrive; FEC packets from
 * fec_sink are untrusted input for the receiver, which hands back a lost
 * packet as soon as its group can be decoded. Recovered buffers carry the
 * media caps and the running time their RTP timestamp stands for, reckoned
 * from the latest media buffer of their SSRC; a downstream rtpjitterbuffer
 * puts them in order.
 *
 * An H.264 receiver for the FEC sender shown in zvfecenc.c (start it first;
 * fakesink instead of autovideosink without a display):
 *
 *   gst-launch-1.0 \
 *     udpsrc port=5000 \
 *       caps="application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96" \
 *       ! dec.sink \
 *     udpsrc port=5002 caps="application/x-rtp" ! dec.fec_sink \
 *     zvfecdec name=dec ! rtpjitterbuffer latency=200 ! rtph264depay ! avdec_h264 ! \
 *     videoconvert ! autovideosink
 *
 * What the stats can see: the receiver learns of a group only from its FEC
 * packets, so unrecoverable-groups misses every group whose FEC packets were
 * all lost. The per-SSRC counters fill that in from the sequence numbers:
 * missing counts the numbers neither received nor recovered between the
 * first and the last one seen of the SSRC (a group of which media and FEC
 * arrived counts whole), so what is lost after the last packet seen is not
 * counted. The receiver forgets an SSRC once all it held is released
 * (group-timeout after its last packet, or sooner at max-packets) and starts
 * it afresh when it comes back; the element adds up the figures of each such
 * span, but what was lost between two spans is not counted either.
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
#define DEFAULT_MAX_PACKETS 0

enum {
  PROP_0,
  PROP_GROUP_TIMEOUT,
  PROP_MAX_PACKETS,
  PROP_STATS,
};

/* What the element keeps of a media SSRC it has seen on sink. */
typedef struct {
  /* Where its RTP clock stood at a known running time, once timed. */
  gboolean timed;
  guint32 rtp_time;
  GstClockTime pts;
  /* The receiver's counters of the SSRC. Only its own packets change them,
   * so they are read after each of those, and kept in `past` once the
   * receiver has forgotten the SSRC: its next packet starts from zero. */
  gboolean known; /* the receiver knows it */
  zvfec_stream_ssrc_stats past, current;
} SsrcState;

struct _GstZvfecDec {
  GstElement parent;
  GstPad *sinkpad, *fecsinkpad, *srcpad;

  guint group_timeout, max_packets; /* under the object lock */

  GMutex push_lock;
  GMutex lock;
  zvfec_stream_receiver *receiver;
  zvfec_stream_receiver_stats last_stats; /* kept when the receiver goes */
  GHashTable *ssrcs;                      /* media SSRC -> SsrcState */
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
  const SsrcState *ref = g_hash_table_lookup(self->ssrcs, GUINT_TO_POINTER(ssrc));
  gint32 ticks;
  GstClockTimeDiff offset;

  if (ref == NULL || !ref->timed || self->clock_rate <= 0) return GST_CLOCK_TIME_NONE;
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
    GST_BUFFER_PTS(b) = running_time_of(self, p.media_ssrc, zvfec_gst_read_be32(p.data + 4));
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

static void add_ssrc_stats(zvfec_stream_ssrc_stats *to, const zvfec_stream_ssrc_stats *s) {
  to->received += s->received;
  to->recovered += s->recovered;
  to->duplicates += s->duplicates;
  to->missing += s->missing;
}

/* Moves the counters of an SSRC the receiver has forgotten into its past.
 * Called with lock held, before a packet of the SSRC goes to the receiver. */
static void note_forgotten(GstZvfecDec *self, guint32 ssrc, SsrcState *st) {
  zvfec_stream_ssrc_stats now;

  if (!st->known || zvfec_stream_receiver_get_ssrc_stats(self->receiver, ssrc, &now) == 0) return;
  add_ssrc_stats(&st->past, &st->current);
  memset(&st->current, 0, sizeof st->current);
  st->known = FALSE;
}

/* Called with lock held, after a packet of the SSRC went to the receiver. */
static void note_counters(GstZvfecDec *self, guint32 ssrc, SsrcState *st) {
  if (zvfec_stream_receiver_get_ssrc_stats(self->receiver, ssrc, &st->current) == 0)
    st->known = TRUE;
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
    /* The media SSRC the packet belongs to, if it is RTP at all; FEC SSRCs
     * map to theirs as the receiver maps them. */
    const gboolean rtp = map.size >= 12;
    const guint32 ssrc = !rtp  ? 0
                         : fec ? zvfec_stream_fec_ssrc(zvfec_gst_read_be32(map.data + 8))
                               : zvfec_gst_read_be32(map.data + 8);
    SsrcState *st = rtp ? g_hash_table_lookup(self->ssrcs, GUINT_TO_POINTER(ssrc)) : NULL;

    /* What expires at this time is released first, so that an SSRC the
     * receiver forgets now is seen forgotten before this packet restarts it. */
    zvfec_stream_receiver_poll(self->receiver, now);
    if (st) note_forgotten(self, ssrc, st);
    if (fec) {
      int rc = zvfec_stream_receiver_push_fec(self->receiver, map.data, map.size, now);
      if (rc < 0)
        GST_DEBUG_OBJECT(self, "FEC packet of %" G_GSIZE_FORMAT " bytes refused: %s", map.size,
                         zvfec_stream_error_text(rc));
    } else if (zvfec_stream_receiver_push_media(self->receiver, map.data, map.size, now, NULL) >=
               0) {
      /* Taken as RTP: at least the 12 bytes of the fixed header. Only media
       * SSRCs get a state here, so that forged FEC packets cannot grow the
       * table. */
      if (st == NULL) {
        st = g_new0(SsrcState, 1);
        g_hash_table_insert(self->ssrcs, GUINT_TO_POINTER(ssrc), st);
      }
      if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        st->timed = TRUE;
        st->rtp_time = zvfec_gst_read_be32(map.data + 4);
        st->pts = GST_BUFFER_PTS(buffer);
      }
    }
    if (st) note_counters(self, ssrc, st);
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
  int err = 0;

  GST_OBJECT_LOCK(self);
  cfg.hold_ns = (int64_t)MAX(self->group_timeout, 1) * GST_MSECOND;
  cfg.max_packets = self->max_packets;
  GST_OBJECT_UNLOCK(self);
  g_mutex_lock(&self->push_lock);
  self->fec_eos = FALSE;
  gst_event_replace(&self->held_eos, NULL);
  g_mutex_unlock(&self->push_lock);
  g_mutex_lock(&self->lock);
  self->receiver = zvfec_stream_receiver_new(&cfg, &err);
  memset(&self->last_stats, 0, sizeof self->last_stats);
  g_hash_table_remove_all(self->ssrcs);
  g_mutex_unlock(&self->lock);
  /* The properties' ranges always make a valid configuration, so this is
   * memory running short. Without a receiver the media still passes on,
   * only nothing is recovered: a warning, not an error that would stop the
   * stream. */
  if (self->receiver == NULL)
    GST_ELEMENT_WARNING(self, LIBRARY, INIT,
                        ("Could not create the FEC receiver; media passes on without recovery"),
                        ("zvfec_stream_receiver_new: %s (%d)", zvfec_stream_error_text(err), err));
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

static gint compare_ssrcs(gconstpointer a, gconstpointer b) {
  const guint32 x = GPOINTER_TO_UINT(a), y = GPOINTER_TO_UINT(b);

  return x < y ? -1 : x > y;
}

/* The per-SSRC counters, in SSRC order, as a GstValueArray of structures,
 * and their missing packets summed in *missing. Called with lock held. */
static void ssrc_stats_value(GstZvfecDec *self, GValue *array, guint64 *missing) {
  GList *ssrcs = g_list_sort(g_hash_table_get_keys(self->ssrcs), compare_ssrcs);
  GList *l;

  g_value_init(array, GST_TYPE_ARRAY);
  *missing = 0;
  for (l = ssrcs; l; l = l->next) {
    const SsrcState *st = g_hash_table_lookup(self->ssrcs, l->data);
    zvfec_stream_ssrc_stats s = st->past;
    GValue v = G_VALUE_INIT;

    add_ssrc_stats(&s, &st->current);
    *missing += (guint64)s.missing;
    g_value_init(&v, GST_TYPE_STRUCTURE);
    g_value_take_boxed(
        &v, gst_structure_new("application/x-zvfec-ssrc-stats", "ssrc", G_TYPE_UINT,
                              GPOINTER_TO_UINT(l->data), "received", G_TYPE_UINT64,
                              (guint64)s.received, "recovered", G_TYPE_UINT64, (guint64)s.recovered,
                              "duplicates", G_TYPE_UINT64, (guint64)s.duplicates, "missing",
                              G_TYPE_UINT64, (guint64)s.missing, NULL));
    gst_value_array_append_and_take_value(array, &v);
  }
  g_list_free(ssrcs);
}

static GstStructure *stats_structure(GstZvfecDec *self) {
  zvfec_stream_receiver_stats s;
  GValue ssrcs = G_VALUE_INIT;
  guint64 missing;
  GstStructure *out;

  g_mutex_lock(&self->lock);
  s = self->last_stats;
  if (self->receiver) zvfec_stream_receiver_get_stats(self->receiver, &s);
  ssrc_stats_value(self, &ssrcs, &missing);
  g_mutex_unlock(&self->lock);
  out = gst_structure_new(
      "application/x-zvfec-stats", "packets-received", G_TYPE_UINT64, (guint64)s.media,
      "packets-recovered", G_TYPE_UINT64, (guint64)s.recovered, "unrecoverable-groups",
      G_TYPE_UINT64, (guint64)s.unrecoverable_groups, "packets-missing", G_TYPE_UINT64, missing,
      "fec-refused", G_TYPE_UINT64, (guint64)s.fec_refused, "fec-received", G_TYPE_UINT64,
      (guint64)s.fec, "duplicates", G_TYPE_UINT64, (guint64)(s.media_duplicates + s.fec_duplicates),
      "decode-failures", G_TYPE_UINT64, (guint64)s.decode_failures, "rejected", G_TYPE_UINT64,
      (guint64)s.rejected, "evicted", G_TYPE_UINT64, (guint64)s.evicted, "held", G_TYPE_UINT64,
      (guint64)s.held, NULL);
  gst_structure_take_value(out, "ssrcs", &ssrcs);
  return out;
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
    case PROP_MAX_PACKETS:
      GST_OBJECT_LOCK(self);
      self->max_packets = g_value_get_uint(value);
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
    case PROP_MAX_PACKETS:
      GST_OBJECT_LOCK(self);
      g_value_set_uint(value, self->max_packets);
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
  g_hash_table_unref(self->ssrcs);
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
                        "so this bounds memory, as max-packets does. An SSRC whose packets have "
                        "all been released is forgotten, and counted afresh when it comes back",
                        1, G_MAXUINT32, DEFAULT_GROUP_TIMEOUT,
                        G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(
      gobject_class, PROP_MAX_PACKETS,
      g_param_spec_uint("max-packets", "Maximum packets",
                        "Most packets held for recovery at once (media, recovered and FEC, "
                        "of every SSRC); past it the oldest are released early and counted "
                        "in stats' evicted (0 = 8192)",
                        0, G_MAXUINT32, DEFAULT_MAX_PACKETS,
                        G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
  g_object_class_install_property(
      gobject_class, PROP_STATS,
      g_param_spec_boxed(
          "stats", "Statistics",
          "Counters since the element last started (read-only): "
          "packets-received (distinct media packets), packets-recovered, "
          "unrecoverable-groups (released with media still missing; a group is known only "
          "from its FEC packets, so one whose FEC packets were all lost is not counted), "
          "packets-missing (the sum of the SSRCs' missing), "
          "fec-refused (malformed, forged or excess FEC packets, dropped), "
          "fec-received, duplicates (media and FEC), decode-failures, rejected (decoded "
          "packets that filled no gap), evicted (released early at max-packets), held "
          "(packets held now), and ssrcs: an array of one structure per media SSRC seen, "
          "in SSRC order, with ssrc, received, recovered, duplicates (media) and missing (sequence "
          "numbers neither received nor recovered between the first and the last seen, a "
          "group of which media and FEC arrived counting whole; losses after the last "
          "packet seen, or between two spans of an SSRC that was forgotten (see "
          "group-timeout), are not counted)",
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
  self->max_packets = DEFAULT_MAX_PACKETS;
  self->ssrcs = g_hash_table_new_full(NULL, NULL, NULL, g_free);
  g_mutex_init(&self->push_lock);
  g_mutex_init(&self->lock);
}
