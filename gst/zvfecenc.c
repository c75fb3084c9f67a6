/* zvfecenc: a zvfec_stream_sender between a payloader and the network.
 *
 * Media buffers go on through src unchanged and in order; the FEC packets of
 * each group go out on fec_src as soon as the group is complete. A group that
 * stays incomplete for group-timeout ms is protected with what it has, by a
 * timer thread that waits on the element's clock, so that a paused stream
 * never holds FEC back.
 *
 * An H.264 sender over UDP to 127.0.0.1, media on port 5000 and FEC on 5002
 * (each branch needs its queue, as after a tee); zvfecdec.c shows the
 * receiver:
 *
 *   gst-launch-1.0 \
 *     videotestsrc is-live=true ! video/x-raw,width=640,height=360,framerate=30/1 ! \
 *     x264enc tune=zerolatency speed-preset=ultrafast bitrate=1500 key-int-max=30 ! \
 *     rtph264pay config-interval=-1 pt=96 ! \
 *     zvfecenc name=fec variant=video-v2 k=10 r=4 \
 *     fec.src ! queue ! udpsink host=127.0.0.1 port=5000 \
 *     fec.fec_src ! queue ! udpsink host=127.0.0.1 port=5002
 *
 * Locks: push_lock serialises everything pushed on fec_src (the streaming
 * thread and the timer both push there) and is taken before lock, which
 * guards the sender and the timer's state.
 */
#include "zvfecenc.h"

#include <stdint.h>

#include "zvfec_common.h"

GST_DEBUG_CATEGORY_STATIC(zvfecenc_debug);
#define GST_CAT_DEFAULT zvfecenc_debug

#define DEFAULT_VARIANT ZVFEC_STREAM_VIDEO_V2
#define DEFAULT_K 10
#define DEFAULT_R 4
#define DEFAULT_PT 127
#define DEFAULT_SSRC 0
#define DEFAULT_GROUP_TIMEOUT 100

enum {
  PROP_0,
  PROP_VARIANT,
  PROP_K,
  PROP_R,
  PROP_PT,
  PROP_SSRC,
  PROP_GROUP_TIMEOUT,
};

struct _GstZvfecEnc {
  GstElement parent;
  GstPad *sinkpad, *srcpad, *fecsrcpad;

  /* properties, under the object lock */
  gint variant, k, r, pt;
  guint ssrc, group_timeout;

  GMutex push_lock;
  GMutex lock;
  GCond cond;
  zvfec_stream_sender *sender;
  GstClockTime last_pts; /* of the latest media buffer */
  GThread *timer;
  gboolean running;
  GstClockID pending;
  gint64 scheduled; /* what the timer waits for; INT64_MAX: nothing */
};

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-rtp"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-rtp"));
static GstStaticPadTemplate fec_src_template = GST_STATIC_PAD_TEMPLATE(
    "fec_src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-rtp"));

G_DEFINE_TYPE(GstZvfecEnc, gst_zvfec_enc, GST_TYPE_ELEMENT)

#define VARIANT_COUNT 3

/* The variants' names, descriptions and limits are the stream layer's. */
GType gst_zvfec_variant_get_type(void) {
  static GType type = 0;
  static GEnumValue values[VARIANT_COUNT + 1];

  if (g_once_init_enter(&type)) {
    static const char *const codes[VARIANT_COUNT] = {"Cauchy RS", "Cauchy RS", "Vandermonde RS"};
    GType t;
    int v;

    for (v = 0; v < VARIANT_COUNT; ++v) {
      zvfec_stream_variant_info info;
      gchar *name;

      zvfec_stream_variant_describe(v, &info);
      values[v].value = v;
      values[v].value_nick = info.name;
      name =
          g_strdup_printf("%s (%s, %u-byte header; k <= %d, r <= %d, k + r <= %d)", info.name,
                          codes[v], (unsigned)info.header_len, info.max_k, info.max_r, info.max_n);
      values[v].value_name = g_intern_string(name);
      g_free(name);
    }
    t = g_enum_register_static("GstZvfecVariant", values);
    g_once_init_leave(&type, t);
  }
  return type;
}

/* The most media or FEC packets a group of any variant takes. */
static int largest_group_part(void) {
  int largest = 1, v;

  for (v = 0; v < VARIANT_COUNT; ++v) {
    zvfec_stream_variant_info info;

    zvfec_stream_variant_describe(v, &info);
    largest = MAX(largest, MAX(info.max_k, info.max_r));
  }
  return largest;
}

/* Takes the FEC packets the sender has made, as buffers stamped with the
 * latest media time. Called with lock held. */
static GList *take_fec(GstZvfecEnc *self) {
  GList *out = NULL;
  zvfec_stream_packet p;

  while (self->sender && zvfec_stream_sender_pop(self->sender, &p)) {
    GstBuffer *b = zvfec_gst_buffer_from_packet(&p);
    GST_BUFFER_PTS(b) = self->last_pts;
    out = g_list_prepend(out, b);
  }
  return g_list_reverse(out);
}

/* Pushes buffers on fec_src (with push_lock held). An unlinked fec_src is not
 * an error: the media still flows. */
static GstFlowReturn push_fec(GstZvfecEnc *self, GList *buffers) {
  GstFlowReturn ret = GST_FLOW_OK;
  GList *l;

  for (l = buffers; l; l = l->next) {
    GstFlowReturn r = gst_pad_push(self->fecsrcpad, GST_BUFFER(l->data));
    if (r != GST_FLOW_OK && r != GST_FLOW_NOT_LINKED && ret == GST_FLOW_OK) ret = r;
  }
  g_list_free(buffers);
  return ret;
}

/* Wakes the timer when a group is due before what it waits for (or when it
 * must stop). Called with lock held. */
static void wake_timer(GstZvfecEnc *self, gboolean always) {
  gint64 deadline = self->sender ? zvfec_stream_sender_deadline(self->sender) : INT64_MAX;

  if (!always && deadline >= self->scheduled) return;
  if (self->pending) gst_clock_id_unschedule(self->pending);
  g_cond_signal(&self->cond);
}

static gpointer timer_loop(gpointer data) {
  GstZvfecEnc *self = data;

  g_mutex_lock(&self->lock);
  while (self->running) {
    gint64 deadline = self->sender ? zvfec_stream_sender_deadline(self->sender) : INT64_MAX;
    GstClock *clock;
    GstClockID id;
    GList *fec;

    self->scheduled = deadline;
    if (deadline == INT64_MAX) {
      g_cond_wait(&self->cond, &self->lock);
      continue;
    }
    clock = zvfec_gst_clock(GST_ELEMENT(self));
    id = gst_clock_new_single_shot_id(clock, (GstClockTime)deadline);
    gst_object_unref(clock);
    self->pending = id;
    g_mutex_unlock(&self->lock);
    gst_clock_id_wait(id, NULL);

    g_mutex_lock(&self->push_lock);
    g_mutex_lock(&self->lock);
    self->pending = NULL;
    self->scheduled = INT64_MAX;
    gst_clock_id_unref(id);
    if (!self->running) {
      g_mutex_unlock(&self->push_lock);
      continue;
    }
    zvfec_stream_sender_poll(self->sender, zvfec_gst_now(GST_ELEMENT(self)));
    fec = take_fec(self);
    g_mutex_unlock(&self->lock);
    push_fec(self, fec);
    g_mutex_unlock(&self->push_lock);
    g_mutex_lock(&self->lock);
  }
  g_mutex_unlock(&self->lock);
  return NULL;
}

static GstFlowReturn gst_zvfec_enc_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer) {
  GstZvfecEnc *self = GST_ZVFEC_ENC(parent);
  GstMapInfo map;
  GstFlowReturn ret, fec_ret;
  GList *fec = NULL;
  const GstClockTime pts = GST_BUFFER_PTS(buffer);
  gint64 now = zvfec_gst_now(GST_ELEMENT(self));

  (void)pad;
  g_mutex_lock(&self->push_lock);
  g_mutex_lock(&self->lock);
  if (self->sender && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    if (GST_BUFFER_PTS_IS_VALID(buffer)) self->last_pts = GST_BUFFER_PTS(buffer);
    zvfec_stream_sender_push(self->sender, map.data, map.size, now);
    gst_buffer_unmap(buffer, &map);
    fec = take_fec(self);
    wake_timer(self, FALSE);
  }
  g_mutex_unlock(&self->lock);

  /* FEC is a sparse stream: where a media packet makes none, a gap tells
   * fec_src's downstream first that time has passed, so that a sink there
   * can preroll and a live pipeline reach PLAYING. */
  if (fec == NULL && GST_CLOCK_TIME_IS_VALID(pts))
    gst_pad_push_event(self->fecsrcpad, gst_event_new_gap(pts, 0));
  ret = gst_pad_push(self->srcpad, buffer);
  fec_ret = push_fec(self, fec);
  g_mutex_unlock(&self->push_lock);
  return ret == GST_FLOW_OK ? fec_ret : ret;
}

/* The caps of the FEC stream: RTP at the media's clock rate. */
static GstCaps *fec_caps(GstZvfecEnc *self, GstCaps *media) {
  GstStructure *s = gst_caps_get_structure(media, 0);
  gint rate = 90000;
  gint pt;

  gst_structure_get_int(s, "clock-rate", &rate);
  GST_OBJECT_LOCK(self);
  pt = self->pt;
  GST_OBJECT_UNLOCK(self);
  return gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "application",
                             "clock-rate", G_TYPE_INT, rate, "encoding-name", G_TYPE_STRING,
                             "ZVFEC", "payload", G_TYPE_INT, pt, NULL);
}

/* Sends fec_event on fec_src (under push_lock), then event on src. */
static gboolean push_both(GstZvfecEnc *self, GstEvent *fec_event, GstEvent *event) {
  g_mutex_lock(&self->push_lock);
  gst_pad_push_event(self->fecsrcpad, fec_event);
  g_mutex_unlock(&self->push_lock);
  return gst_pad_push_event(self->srcpad, event);
}

static gboolean gst_zvfec_enc_sink_event(GstPad *pad, GstObject *parent, GstEvent *event) {
  GstZvfecEnc *self = GST_ZVFEC_ENC(parent);

  switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_STREAM_START: {
      gchar *id = gst_pad_create_stream_id(self->fecsrcpad, GST_ELEMENT(self), "fec");
      GstEvent *fec_start = gst_event_new_stream_start(id);
      guint group;

      if (gst_event_parse_group_id(event, &group)) gst_event_set_group_id(fec_start, group);
      g_free(id);
      return push_both(self, fec_start, event);
    }
    case GST_EVENT_CAPS: {
      GstCaps *caps;
      GstEvent *fec_event;

      gst_event_parse_caps(event, &caps);
      caps = fec_caps(self, caps);
      fec_event = gst_event_new_caps(caps);
      gst_caps_unref(caps);
      return push_both(self, fec_event, event);
    }
    case GST_EVENT_EOS: {
      GList *fec;

      /* End of stream: every open group is protected now. */
      g_mutex_lock(&self->push_lock);
      g_mutex_lock(&self->lock);
      if (self->sender) zvfec_stream_sender_flush(self->sender);
      fec = take_fec(self);
      g_mutex_unlock(&self->lock);
      push_fec(self, fec);
      gst_pad_push_event(self->fecsrcpad, gst_event_ref(event));
      g_mutex_unlock(&self->push_lock);
      return gst_pad_push_event(self->srcpad, event);
    }
    case GST_EVENT_SEGMENT:
    case GST_EVENT_FLUSH_START:
    case GST_EVENT_FLUSH_STOP:
      return push_both(self, gst_event_ref(event), event);
    default:
      return gst_pad_event_default(pad, parent, event);
  }
}

static GstIterator *gst_zvfec_enc_sink_links(GstPad *pad, GstObject *parent) {
  (void)pad;
  return zvfec_gst_iterate_one(GST_ZVFEC_ENC(parent)->srcpad);
}

/* Creates the sender from the properties and starts the timer. */
static gboolean start(GstZvfecEnc *self) {
  zvfec_stream_sender_config cfg;
  int err = 0;

  GST_OBJECT_LOCK(self);
  cfg.variant = self->variant;
  cfg.k = self->k;
  cfg.r = self->r;
  cfg.fec_pt = self->pt;
  cfg.fec_ssrc = self->ssrc;
  cfg.group_timeout_ns = (int64_t)self->group_timeout * GST_MSECOND;
  GST_OBJECT_UNLOCK(self);

  g_mutex_lock(&self->lock);
  self->sender = zvfec_stream_sender_new(&cfg, &err);
  self->last_pts = GST_CLOCK_TIME_NONE;
  self->running = self->sender != NULL;
  g_mutex_unlock(&self->lock);
  /* Media that leaves unprotected while the user believes it protected is
   * worse than a stream that does not start: an error, and the state change
   * fails. The ranges of k and r allow shapes a variant refuses; anything
   * else is memory running short. */
  if (self->sender == NULL) {
    if (err == ZVFEC_STREAM_E_K || err == ZVFEC_STREAM_E_R || err == ZVFEC_STREAM_E_N)
      GST_ELEMENT_ERROR(self, LIBRARY, SETTINGS,
                        ("Group shape k=%d r=%d does not fit the variant", cfg.k, cfg.r),
                        ("zvfec_stream_sender_new: %s (%d)", zvfec_stream_error_text(err), err));
    else
      GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("Could not create the FEC sender"),
                        ("zvfec_stream_sender_new: %s (%d)", zvfec_stream_error_text(err), err));
    return FALSE;
  }
  self->timer = g_thread_new("zvfecenc-timer", timer_loop, self);
  return TRUE;
}

static void stop(GstZvfecEnc *self) {
  g_mutex_lock(&self->lock);
  self->running = FALSE;
  wake_timer(self, TRUE);
  g_mutex_unlock(&self->lock);
  if (self->timer) g_thread_join(self->timer);
  self->timer = NULL;
  g_mutex_lock(&self->push_lock);
  g_mutex_lock(&self->lock);
  zvfec_stream_sender_free(self->sender);
  self->sender = NULL;
  g_mutex_unlock(&self->lock);
  g_mutex_unlock(&self->push_lock);
}

static GstStateChangeReturn gst_zvfec_enc_change_state(GstElement *element,
                                                       GstStateChange transition) {
  GstZvfecEnc *self = GST_ZVFEC_ENC(element);
  GstStateChangeReturn ret;

  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !start(self))
    return GST_STATE_CHANGE_FAILURE;
  ret = GST_ELEMENT_CLASS(gst_zvfec_enc_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY ||
      (transition == GST_STATE_CHANGE_READY_TO_PAUSED && ret == GST_STATE_CHANGE_FAILURE))
    stop(self);
  return ret;
}

static void gst_zvfec_enc_set_property(GObject *object, guint id, const GValue *value,
                                       GParamSpec *pspec) {
  GstZvfecEnc *self = GST_ZVFEC_ENC(object);

  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_VARIANT:
      self->variant = g_value_get_enum(value);
      break;
    case PROP_K:
      self->k = g_value_get_int(value);
      break;
    case PROP_R:
      self->r = g_value_get_int(value);
      break;
    case PROP_PT:
      self->pt = g_value_get_int(value);
      break;
    case PROP_SSRC:
      self->ssrc = g_value_get_uint(value);
      break;
    case PROP_GROUP_TIMEOUT:
      self->group_timeout = g_value_get_uint(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(self);
}

static void gst_zvfec_enc_get_property(GObject *object, guint id, GValue *value,
                                       GParamSpec *pspec) {
  GstZvfecEnc *self = GST_ZVFEC_ENC(object);

  GST_OBJECT_LOCK(self);
  switch (id) {
    case PROP_VARIANT:
      g_value_set_enum(value, self->variant);
      break;
    case PROP_K:
      g_value_set_int(value, self->k);
      break;
    case PROP_R:
      g_value_set_int(value, self->r);
      break;
    case PROP_PT:
      g_value_set_int(value, self->pt);
      break;
    case PROP_SSRC:
      g_value_set_uint(value, self->ssrc);
      break;
    case PROP_GROUP_TIMEOUT:
      g_value_set_uint(value, self->group_timeout);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(self);
}

static void gst_zvfec_enc_finalize(GObject *object) {
  GstZvfecEnc *self = GST_ZVFEC_ENC(object);

  zvfec_stream_sender_free(self->sender);
  g_mutex_clear(&self->push_lock);
  g_mutex_clear(&self->lock);
  g_cond_clear(&self->cond);
  G_OBJECT_CLASS(gst_zvfec_enc_parent_class)->finalize(object);
}

static void gst_zvfec_enc_class_init(GstZvfecEncClass *klass) {
  GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
  const GParamFlags rw = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY;

  GST_DEBUG_CATEGORY_INIT(zvfecenc_debug, "zvfecenc", 0, "zvfec encoder");
  gobject_class->set_property = gst_zvfec_enc_set_property;
  gobject_class->get_property = gst_zvfec_enc_get_property;
  gobject_class->finalize = gst_zvfec_enc_finalize;
  element_class->change_state = gst_zvfec_enc_change_state;

  g_object_class_install_property(
      gobject_class, PROP_VARIANT,
      g_param_spec_enum(
          "variant", "Variant",
          "FEC wire variant; each takes groups up to its own k and r (see the values)",
          GST_TYPE_ZVFEC_VARIANT, DEFAULT_VARIANT, rw));
  g_object_class_install_property(
      gobject_class, PROP_K,
      g_param_spec_int("k", "k",
                       "Media packets per group (consecutive sequence numbers of one SSRC), "
                       "within the variant's limit",
                       1, largest_group_part(), DEFAULT_K, rw));
  g_object_class_install_property(
      gobject_class, PROP_R,
      g_param_spec_int("r", "r", "FEC packets per group, within the variant's limit", 1,
                       largest_group_part(), DEFAULT_R, rw));
  g_object_class_install_property(
      gobject_class, PROP_PT,
      g_param_spec_int("pt", "Payload type", "RTP payload type of the FEC packets", 0, 127,
                       DEFAULT_PT, rw));
  g_object_class_install_property(
      gobject_class, PROP_SSRC,
      g_param_spec_uint("ssrc", "SSRC",
                        "SSRC of the FEC packets; 0 derives it from the media SSRC "
                        "(media SSRC XOR 0x0FEC0FEC), which is what zvfecdec expects",
                        0, G_MAXUINT32, DEFAULT_SSRC, rw));
  g_object_class_install_property(
      gobject_class, PROP_GROUP_TIMEOUT,
      g_param_spec_uint("group-timeout", "Group timeout",
                        "Milliseconds after its first packet at which a group that is not "
                        "complete is protected with the packets it has (0 = wait for k "
                        "packets, a sequence break or the end of the stream)",
                        0, G_MAXUINT32, DEFAULT_GROUP_TIMEOUT, rw));

  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_add_static_pad_template(element_class, &fec_src_template);
  gst_element_class_set_static_metadata(
      element_class, "zvfec FEC encoder", "Codec/Encoder/Network/RTP",
      "Protects RTP packets in groups of k with r Reed-Solomon FEC packets, "
      "sent on fec_src",
      "zv_rsfec");
  gst_type_mark_as_plugin_api(GST_TYPE_ZVFEC_VARIANT, 0);
}

static void gst_zvfec_enc_init(GstZvfecEnc *self) {
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_chain_function(self->sinkpad, gst_zvfec_enc_chain);
  gst_pad_set_event_function(self->sinkpad, gst_zvfec_enc_sink_event);
  gst_pad_set_iterate_internal_links_function(self->sinkpad, gst_zvfec_enc_sink_links);
  GST_PAD_SET_PROXY_CAPS(self->sinkpad);
  GST_PAD_SET_PROXY_ALLOCATION(self->sinkpad);
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

  self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
  GST_PAD_SET_PROXY_CAPS(self->srcpad);
  gst_element_add_pad(GST_ELEMENT(self), self->srcpad);

  self->fecsrcpad = gst_pad_new_from_static_template(&fec_src_template, "fec_src");
  gst_pad_use_fixed_caps(self->fecsrcpad);
  gst_element_add_pad(GST_ELEMENT(self), self->fecsrcpad);

  self->variant = DEFAULT_VARIANT;
  self->k = DEFAULT_K;
  self->r = DEFAULT_R;
  self->pt = DEFAULT_PT;
  self->ssrc = DEFAULT_SSRC;
  self->group_timeout = DEFAULT_GROUP_TIMEOUT;
  self->last_pts = GST_CLOCK_TIME_NONE;
  self->scheduled = INT64_MAX;
  g_mutex_init(&self->push_lock);
  g_mutex_init(&self->lock);
  g_cond_init(&self->cond);
}
