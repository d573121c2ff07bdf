/* The replay filter element "mr4f" (see gstmr4f.h). Everything that touches
 * frames runs on the upstream streaming thread: the caps event writes the
 * size and timing fields of the exchange block, and each buffer is
 * interpolated, copied into the block's frame buffer, announced on the bus
 * and pushed on "Output1". The block pointer and the negotiated video info
 * are shared with application threads and read under the object lock; the
 * block's own fields have no lock (the program's side of that contract is
 * described in mr4f_exchange.h). Lines are counted as the program counts
 * them: from the bottom of the picture, while GStreamer rows run top-down. */

/**
 * SECTION:element-mr4f
 *
 * Passes raw video through unchanged in format. For every frame it rebuilds
 * one field by averaging the lines around it when the exchange block asks
 * for it, copies the frame bottom-up into the block's frame buffer and posts
 * an element message "mr4f-frame" on the bus. With the block's mode 0 it
 * accepts BGR (or GRAY8, the analysis' green plane) and pushes every frame
 * on Output1; with a non-zero mode it
 * accepts I420, YV12, YUY2 and UYVY and pushes only the frames of the
 * block's sample window. Output2 carries the events and never a buffer.
 * Without an exchange block the element is a plain pass-through in mode 0.
 *
 * ## Example launch line
 * |[
 * gst-launch-1.0 filesrc location=clip.avi ! decodebin ! videoconvert ! mr4f name=f f.Output1 ! fakesink
 * ]|
 */

#include "gstmr4f.h"

#include <string.h>

GST_DEBUG_CATEGORY_STATIC(gst_mr4f_debug);
#define GST_CAT_DEFAULT gst_mr4f_debug

enum {
  PROP_0,
  PROP_EXCHANGE_BLOCK,
  PROP_VERSION,
};

#define DEFAULT_VERSION MR4F_EXCHANGE_VERSION

/* 100-ns units per second, the unit of the block's durations. */
#define MR4F_UNITS_PER_SECOND 10000000
/* Shortest frame duration taken from the caps: 1 ms. */
#define MR4F_MIN_FRAME_DURATION 10000

/* Mode 0: BGR, or the green plane alone as GRAY8 when the analysis asks
 * for nothing else; BGR first, so a free choice falls on it. */
#define MR4F_BGR_CAPS GST_VIDEO_CAPS_MAKE("{ BGR, GRAY8 }")
#define MR4F_YUV_CAPS GST_VIDEO_CAPS_MAKE("{ I420, YV12, YUY2, UYVY }")
#define MR4F_ALL_CAPS \
  GST_VIDEO_CAPS_MAKE("{ BGR, GRAY8, I420, YV12, YUY2, UYVY }")

static GstStaticCaps bgr_caps = GST_STATIC_CAPS(MR4F_BGR_CAPS);
static GstStaticCaps yuv_caps = GST_STATIC_CAPS(MR4F_YUV_CAPS);

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "Input", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(MR4F_ALL_CAPS));
static GstStaticPadTemplate src1_template = GST_STATIC_PAD_TEMPLATE(
    "Output1", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(MR4F_ALL_CAPS));
static GstStaticPadTemplate src2_template = GST_STATIC_PAD_TEMPLATE(
    "Output2", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(MR4F_ALL_CAPS));

#define gst_mr4f_parent_class parent_class
G_DEFINE_TYPE_WITH_CODE(GstMr4f, gst_mr4f, GST_TYPE_ELEMENT,
                        GST_DEBUG_CATEGORY_INIT(gst_mr4f_debug, "mr4f", 0,
                                                "replay filter"));
GST_ELEMENT_REGISTER_DEFINE(mr4f, "mr4f", GST_RANK_NONE, GST_TYPE_MR4F);

/* ---- formats and timing -------------------------------------------------- */

static gboolean format_accepted(gint32 mode, GstVideoFormat format) {
  if (mode == 0)
    return format == GST_VIDEO_FORMAT_BGR || format == GST_VIDEO_FORMAT_GRAY8;
  return format == GST_VIDEO_FORMAT_I420 || format == GST_VIDEO_FORMAT_YV12 ||
         format == GST_VIDEO_FORMAT_YUY2 || format == GST_VIDEO_FORMAT_UYVY;
}

/* The caps the block's mode allows; a new reference. Takes the object lock. */
static GstCaps *mode_caps(GstMr4f *self) {
  gint32 mode;
  GST_OBJECT_LOCK(self);
  mode = self->block ? self->block->mode : 0;
  GST_OBJECT_UNLOCK(self);
  return gst_static_caps_get(mode == 0 ? &bgr_caps : &yuv_caps);
}

/* Frame duration [100 ns] from the caps' frame rate; none (0/1) or one
 * shorter than 1 ms becomes 29.97 frames per second, and a duration beyond
 * the block's 32 bits is held at the largest it can store. */
static gint32 frame_duration_of(const GstVideoInfo *info) {
  guint64 duration = 0;
  if (GST_VIDEO_INFO_FPS_N(info) > 0 && GST_VIDEO_INFO_FPS_D(info) > 0)
    duration = gst_util_uint64_scale_int_round(MR4F_UNITS_PER_SECOND,
                                               GST_VIDEO_INFO_FPS_D(info),
                                               GST_VIDEO_INFO_FPS_N(info));
  if (duration < MR4F_MIN_FRAME_DURATION) return MR4F_DEFAULT_FRAME_DURATION;
  if (duration > G_MAXINT32) return G_MAXINT32;
  return (gint32)duration;
}

/* Fills the fields the element owns. Caller holds the object lock. */
static void write_block(Mr4fExchangeBlock *block, const GstVideoInfo *info,
                        gint32 frame_duration) {
  gint32 width = GST_VIDEO_INFO_WIDTH(info);
  gint32 height = GST_VIDEO_INFO_HEIGHT(info);
  block->width = width;
  block->height = height;
  block->pixel_count = width * height;
  /* A green plane is copied as one byte a pixel. */
  block->frame_bytes =
      width * height *
      (GST_VIDEO_INFO_FORMAT(info) == GST_VIDEO_FORMAT_GRAY8 ? 1 : 3);
  block->frame_duration = frame_duration;
  block->field_duration = frame_duration / 2;
  block->frames_per_second = (double)MR4F_UNITS_PER_SECOND / frame_duration;
}

/* ---- frame work ---------------------------------------------------------- */

/* Rows and bytes of picture per row of one plane (stride padding excluded). */
static void plane_geometry(const GstVideoFrame *frame, guint plane, gint *rows,
                           gsize *row_bytes) {
  gint comp[GST_VIDEO_MAX_COMPONENTS];
  gst_video_format_info_component(frame->info.finfo, plane, comp);
  *rows = GST_VIDEO_FRAME_COMP_HEIGHT(frame, comp[0]);
  *row_bytes = (gsize)GST_VIDEO_FRAME_COMP_WIDTH(frame, comp[0]) *
               GST_VIDEO_FRAME_COMP_PSTRIDE(frame, comp[0]);
}

/* dst = mean of a and b, rounded down, byte by byte; eight bytes at a time
 * as (a & b) + ((a ^ b) >> 1), masked so no bit crosses into the next byte.
 * The three rows never overlap. */
static void average_rows(guint8 *dst, const guint8 *a, const guint8 *b,
                         gsize n) {
  const guint64 high7 = G_GUINT64_CONSTANT(0xFEFEFEFEFEFEFEFE);
  gsize i = 0;
  for (; i + 8 <= n; i += 8) {
    guint64 x, y, mean;
    memcpy(&x, a + i, 8);
    memcpy(&y, b + i, 8);
    mean = (x & y) + (((x ^ y) & high7) >> 1);
    memcpy(dst + i, &mean, 8);
  }
  for (; i < n; i++) dst[i] = (guint8)((a[i] + b[i]) >> 1);
}

/* Rebuilds one field of a plane: with even parity the lines 2, 4, ... that
 * have a line above them, with odd parity the lines 3, 5, ... below
 * rows - 2; each byte becomes the mean (rounded down) of the same byte in
 * the lines below and above. Lines count from the bottom. */
static void interpolate_plane(guint8 *data, gint stride, gint rows,
                              gsize row_bytes, gboolean odd) {
  gint r;
  for (r = odd ? 3 : 2; odd ? r < rows - 2 : r + 1 < rows; r += 2) {
    guint8 *line = data + (gsize)(rows - 1 - r) * stride;
    /* Line r - 1 lies one row lower in memory order, line r + 1 one higher. */
    average_rows(line, line + stride, line - stride, row_bytes);
  }
}

static void interpolate_frame(GstVideoFrame *frame, gboolean odd) {
  guint plane;
  for (plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(frame); plane++) {
    gint rows;
    gsize row_bytes;
    plane_geometry(frame, plane, &rows, &row_bytes);
    interpolate_plane(GST_VIDEO_FRAME_PLANE_DATA(frame, plane),
                      GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane), rows,
                      row_bytes, odd);
  }
}

/* Copies the planes one after another, each packed and bottom-up, and stops
 * at capacity bytes (width * height * 3, what the program allocated). */
static void copy_frame_bottom_up(const GstVideoFrame *frame, guint8 *dest,
                                 gsize capacity) {
  guint plane;
  for (plane = 0; plane < GST_VIDEO_FRAME_N_PLANES(frame); plane++) {
    const guint8 *src = GST_VIDEO_FRAME_PLANE_DATA(frame, plane);
    gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane);
    gint rows, r;
    gsize row_bytes;
    plane_geometry(frame, plane, &rows, &row_bytes);
    for (r = 0; r < rows; r++) {
      gsize n = MIN(row_bytes, capacity);
      memcpy(dest, src + (gsize)(rows - 1 - r) * stride, n);
      dest += n;
      capacity -= n;
      if (capacity == 0) return;
    }
  }
}

static void post_frame_message(GstMr4f *self, gpointer window,
                               GstClockTime pts, gboolean delivered) {
  GstStructure *s = gst_structure_new(
      MR4F_FRAME_MESSAGE, "window", G_TYPE_POINTER, window, "pts",
      G_TYPE_UINT64, pts, "delivered", G_TYPE_BOOLEAN, delivered, NULL);
  gst_element_post_message(GST_ELEMENT(self),
                           gst_message_new_element(GST_OBJECT(self), s));
}

/* ---- pads ---------------------------------------------------------------- */

/* Some demuxers announce a frame rate the stream does not have (ASF gives
 * 25/1 for any stream); the frame duration then follows the timestamps,
 * averaged since the caps or the last flush, once they differ from the
 * caps' by more than a tenth. Caller holds the object lock. */
static void follow_timestamps(GstMr4f *self, GstClockTime pts) {
  guint64 measured;
  gint32 duration;
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
  if (!GST_CLOCK_TIME_IS_VALID(self->first_pts) || pts <= self->first_pts) {
    self->first_pts = pts;
    self->frames_after_first = 0;
    return;
  }
  self->frames_after_first++;
  /* [ns] to [100 ns] per frame. */
  measured = (pts - self->first_pts) / 100 / self->frames_after_first;
  if (measured < MR4F_MIN_FRAME_DURATION || measured > G_MAXINT32) return;
  duration = (gint32)measured;
  if (ABS(duration - self->caps_duration) * 10 <= self->caps_duration) return;
  if (duration == self->frame_duration) return;
  self->frame_duration = duration;
  if (self->block) write_block(self->block, &self->info, duration);
}

static GstFlowReturn gst_mr4f_chain(GstPad *pad, GstObject *parent,
                                    GstBuffer *buf) {
  GstMr4f *self = GST_MR4F(parent);
  Mr4fExchangeBlock *block;
  GstVideoInfo info;
  GstVideoFrame frame;
  gboolean negotiated, delivered = TRUE;
  guint8 *frame_buffer;
  gpointer window;
  gint32 mode;
  (void)pad;

  GST_OBJECT_LOCK(self);
  block = self->block;
  negotiated = self->negotiated;
  if (negotiated) {
    info = self->info;
    follow_timestamps(self, GST_BUFFER_PTS(buf));
  }
  GST_OBJECT_UNLOCK(self);

  if (!negotiated) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (NULL),
                      ("frame before the input caps"));
    gst_buffer_unref(buf);
    return GST_FLOW_NOT_NEGOTIATED;
  }
  if (block == NULL) return gst_pad_push(self->srcpad1, buf);

  /* The frame travels on interpolated, so the renderer shows it too. */
  if (block->field_interpolation != 0) {
    gboolean odd = block->field_parity != 0;
    buf = gst_buffer_make_writable(buf);
    if (!gst_video_frame_map(&frame, &info, buf, GST_MAP_READWRITE))
      goto map_failed;
    interpolate_frame(&frame, odd);
    gst_video_frame_unmap(&frame);
  }

  frame_buffer = block->frame_buffer;
  if (frame_buffer != NULL) {
    gsize capacity = (gsize)GST_VIDEO_INFO_WIDTH(&info) *
                     GST_VIDEO_INFO_HEIGHT(&info) * 3;
    if (!gst_video_frame_map(&frame, &info, buf, GST_MAP_READ))
      goto map_failed;
    copy_frame_bottom_up(&frame, frame_buffer, capacity);
    gst_video_frame_unmap(&frame);
  }

  mode = block->mode;
  if (mode != 0) {
    gint32 n = block->sample_counter;
    gint32 last = block->last_sample;
    delivered = n >= block->first_sample && (last < 0 || n <= last);
    if (n < G_MAXINT32) block->sample_counter = n + 1;
  }

  /* Announced before the push: a paused sink holds the push until the next
   * step, and the program must see this frame before that. */
  window = block->window;
  if (window != NULL)
    post_frame_message(self, window, GST_BUFFER_PTS(buf), delivered);

  if (!delivered) {
    gst_buffer_unref(buf);
    return GST_FLOW_OK;
  }
  return gst_pad_push(self->srcpad1, buf);

map_failed:
  GST_ELEMENT_ERROR(self, STREAM, FAILED, (NULL),
                    ("cannot map a frame of %" G_GSIZE_FORMAT " bytes",
                     gst_buffer_get_size(buf)));
  gst_buffer_unref(buf);
  return GST_FLOW_ERROR;
}

/* Checks new input caps against the mode, forwards them to both outputs,
 * records them and writes the block's size and timing fields. (Sticky caps
 * refused downstream surface as GST_FLOW_NOT_NEGOTIATED at the next push.) */
static gboolean gst_mr4f_sink_caps(GstMr4f *self, GstEvent *event) {
  GstCaps *caps;
  GstVideoInfo info;
  gint32 mode, duration;
  gboolean res;

  gst_event_parse_caps(event, &caps);
  if (!gst_video_info_from_caps(&info, caps)) goto refused;

  GST_OBJECT_LOCK(self);
  mode = self->block ? self->block->mode : 0;
  GST_OBJECT_UNLOCK(self);
  if (!format_accepted(mode, GST_VIDEO_INFO_FORMAT(&info))) goto refused;
  if ((gint64)GST_VIDEO_INFO_WIDTH(&info) * GST_VIDEO_INFO_HEIGHT(&info) * 3 >
      G_MAXINT32)
    goto refused;

  /* Output2 carries the caps as well; only Output1's answer is returned. */
  gst_pad_push_event(self->srcpad2, gst_event_ref(event));
  res = gst_pad_push_event(self->srcpad1, event);
  if (!res) return FALSE;

  duration = frame_duration_of(&info);
  GST_OBJECT_LOCK(self);
  self->info = info;
  self->frame_duration = duration;
  self->caps_duration = duration;
  self->first_pts = GST_CLOCK_TIME_NONE;
  self->frames_after_first = 0;
  self->negotiated = TRUE;
  if (self->block) write_block(self->block, &info, duration);
  GST_OBJECT_UNLOCK(self);
  GST_DEBUG_OBJECT(self, "input %" GST_PTR_FORMAT ", frame duration %d",
                   caps, duration);
  return TRUE;

refused:
  GST_WARNING_OBJECT(self, "refusing caps %" GST_PTR_FORMAT, caps);
  gst_event_unref(event);
  return FALSE;
}

static gboolean gst_mr4f_sink_event(GstPad *pad, GstObject *parent,
                                    GstEvent *event) {
  GstMr4f *self = GST_MR4F(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS)
    return gst_mr4f_sink_caps(self, event);
  if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
    GST_OBJECT_LOCK(self);
    self->first_pts = GST_CLOCK_TIME_NONE;
    self->frames_after_first = 0;
    GST_OBJECT_UNLOCK(self);
  }
  /* Stream start, segment, flushes and end of stream go to both outputs. */
  return gst_pad_event_default(pad, parent, event);
}

static gboolean gst_mr4f_src_event(GstPad *pad, GstObject *parent,
                                   GstEvent *event) {
  GstMr4f *self = GST_MR4F(parent);
  gboolean handled;
  if (pad == self->srcpad1) return gst_pad_push_event(self->sinkpad, event);
  /* Output2 has no say upstream: its seeks are refused and its quality
   * messages dropped. */
  handled = GST_EVENT_TYPE(event) == GST_EVENT_QOS;
  gst_event_unref(event);
  return handled;
}

/* Caps on any pad: the mode's formats, narrowed by what lies on the other
 * side (downstream of Output1 for the input, upstream for the outputs). */
static GstCaps *gst_mr4f_query_caps(GstMr4f *self, GstPad *pad,
                                    GstCaps *filter) {
  GstCaps *allowed = mode_caps(self);
  GstPad *across = pad == self->sinkpad ? self->srcpad1 : self->sinkpad;
  GstCaps *peer = gst_pad_peer_query_caps(across, allowed);
  GstCaps *result = gst_caps_intersect(peer, allowed);
  gst_caps_unref(peer);
  gst_caps_unref(allowed);
  if (filter) {
    GstCaps *narrowed =
        gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = narrowed;
  }
  return result;
}

static gboolean gst_mr4f_query(GstPad *pad, GstObject *parent,
                               GstQuery *query) {
  GstMr4f *self = GST_MR4F(parent);
  if (GST_QUERY_TYPE(query) == GST_QUERY_CAPS) {
    GstCaps *filter, *caps;
    gst_query_parse_caps(query, &filter);
    caps = gst_mr4f_query_caps(self, pad, filter);
    gst_query_set_caps_result(query, caps);
    gst_caps_unref(caps);
    return TRUE;
  }
  return gst_pad_query_default(pad, parent, query);
}

/* ---- element ------------------------------------------------------------- */

/* An element whose input is not linked ends its outputs at once, so that
 * downstream sinks complete their preroll instead of waiting for frames.
 * Runs on a thread of its own: a paused sink holds the end-of-stream push
 * until it plays, which the state change in progress must not wait for. */
static void end_unlinked_outputs(GstElement *element, gpointer user_data) {
  GstMr4f *self = GST_MR4F(element);
  GstPad *pads[2] = {self->srcpad1, self->srcpad2};
  guint i;
  (void)user_data;
  for (i = 0; i < G_N_ELEMENTS(pads); i++) {
    gchar *id = gst_pad_create_stream_id(pads[i], GST_ELEMENT(self),
                                       GST_PAD_NAME(pads[i]));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    gst_pad_push_event(pads[i], gst_event_new_stream_start(id));
    gst_pad_push_event(pads[i], gst_event_new_segment(&segment));
    gst_pad_push_event(pads[i], gst_event_new_eos());
    g_free(id);
  }
}

static GstStateChangeReturn gst_mr4f_change_state(GstElement *element,
                                                  GstStateChange transition) {
  GstMr4f *self = GST_MR4F(element);
  GstStateChangeReturn ret =
      GST_ELEMENT_CLASS(parent_class)->change_state(element, transition);
  if (ret == GST_STATE_CHANGE_FAILURE) return ret;

  switch (transition) {
    case GST_STATE_CHANGE_READY_TO_PAUSED:
      if (!gst_pad_is_linked(self->sinkpad)) {
        GST_DEBUG_OBJECT(self, "input not linked: ending the outputs");
        gst_element_call_async(element, end_unlinked_outputs, NULL, NULL);
      }
      break;
    case GST_STATE_CHANGE_PAUSED_TO_READY:
      GST_OBJECT_LOCK(self);
      self->negotiated = FALSE;
      GST_OBJECT_UNLOCK(self);
      break;
    default:
      break;
  }
  return ret;
}

static void gst_mr4f_set_property(GObject *object, guint prop_id,
                                  const GValue *value, GParamSpec *pspec) {
  GstMr4f *self = GST_MR4F(object);
  switch (prop_id) {
    case PROP_EXCHANGE_BLOCK: {
      Mr4fExchangeBlock *block = g_value_get_pointer(value);
      if (block == NULL) {
        GST_WARNING_OBJECT(self, "refusing a null exchange block");
        break;
      }
      GST_OBJECT_LOCK(self);
      self->block = block;
      /* A block attached after negotiation still learns the frame size. */
      if (self->negotiated) write_block(block, &self->info, self->frame_duration);
      GST_OBJECT_UNLOCK(self);
      break;
    }
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

static void gst_mr4f_get_property(GObject *object, guint prop_id,
                                  GValue *value, GParamSpec *pspec) {
  GstMr4f *self = GST_MR4F(object);
  switch (prop_id) {
    case PROP_EXCHANGE_BLOCK:
      GST_OBJECT_LOCK(self);
      g_value_set_pointer(value, self->block);
      GST_OBJECT_UNLOCK(self);
      break;
    case PROP_VERSION:
      g_value_set_int(value, DEFAULT_VERSION);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

static void gst_mr4f_class_init(GstMr4fClass *klass) {
  GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

  gobject_class->set_property = gst_mr4f_set_property;
  gobject_class->get_property = gst_mr4f_get_property;

  g_object_class_install_property(
      gobject_class, PROP_EXCHANGE_BLOCK,
      g_param_spec_pointer(
          "exchange-block", "Exchange block",
          "The program's 80-byte Mr4fExchangeBlock (mr4f_exchange.h); "
          "NULL is refused",
          G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS));
  g_object_class_install_property(
      gobject_class, PROP_VERSION,
      g_param_spec_int("version", "Version",
                       "Version of the exchange block the element speaks",
                       DEFAULT_VERSION, DEFAULT_VERSION, DEFAULT_VERSION,
                       G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));

  gst_element_class_set_static_metadata(
      element_class, "Halvex2 Replay Filter", "Filter/Effect/Video/Deinterlace",
      "Halvex2 deinterlace Replay filter", "MR4 developers");
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src1_template);
  gst_element_class_add_static_pad_template(element_class, &src2_template);

  element_class->change_state = GST_DEBUG_FUNCPTR(gst_mr4f_change_state);
}

static void gst_mr4f_init(GstMr4f *self) {
  self->sinkpad = gst_pad_new_from_static_template(&sink_template, "Input");
  gst_pad_set_chain_function(self->sinkpad, GST_DEBUG_FUNCPTR(gst_mr4f_chain));
  gst_pad_set_event_function(self->sinkpad,
                             GST_DEBUG_FUNCPTR(gst_mr4f_sink_event));
  gst_pad_set_query_function(self->sinkpad, GST_DEBUG_FUNCPTR(gst_mr4f_query));
  gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);

  self->srcpad1 = gst_pad_new_from_static_template(&src1_template, "Output1");
  self->srcpad2 = gst_pad_new_from_static_template(&src2_template, "Output2");
  gst_pad_set_event_function(self->srcpad1, GST_DEBUG_FUNCPTR(gst_mr4f_src_event));
  gst_pad_set_event_function(self->srcpad2, GST_DEBUG_FUNCPTR(gst_mr4f_src_event));
  gst_pad_set_query_function(self->srcpad1, GST_DEBUG_FUNCPTR(gst_mr4f_query));
  gst_pad_set_query_function(self->srcpad2, GST_DEBUG_FUNCPTR(gst_mr4f_query));
  gst_element_add_pad(GST_ELEMENT(self), self->srcpad1);
  gst_element_add_pad(GST_ELEMENT(self), self->srcpad2);

  self->block = NULL;
  self->negotiated = FALSE;
  gst_video_info_init(&self->info);
  self->frame_duration = MR4F_DEFAULT_FRAME_DURATION;
  self->caps_duration = MR4F_DEFAULT_FRAME_DURATION;
  self->first_pts = GST_CLOCK_TIME_NONE;
  self->frames_after_first = 0;
}
