/* The colour converter element "mr4bgr" (see gstmr4bgr.h).
 *
 * The replay road puts it between the decoder's converter and the replay
 * filter. The analysis reads the green plane alone: asked for GRAY8, the
 * element computes green and nothing else. GStreamer's own converter reaches BGR through 8-bit fast paths
 * that sit about two levels below the exact BT.601 values near black,
 * where a night sky lives; the analysis' noise level and its faintest
 * detections then differ from the own reader's on the very same frames.
 * This element gives the own reader's levels instead.
 *
 * Chroma is taken from the pixel's own chroma sample (the pair of a 4:2:2
 * format, the 2 x 2 block of a 4:2:0 one), as the own reader takes the
 * pair's, without interpolation. */

/**
 * SECTION:element-mr4bgr
 *
 * Converts I420, YV12, NV12, Y42B, Y444, YUY2 and UYVY video to BGR with
 * fixed-point tables, or to its green plane alone as GRAY8; BGR passes
 * through (or gives its green bytes).
 *
 * ## Example launch line
 * |[
 * gst-launch-1.0 filesrc location=clip.avi ! decodebin ! videoconvert ! mr4bgr ! mr4f ! fakesink
 * ]|
 */

#include "gstmr4bgr.h"

#include <math.h>
#include <string.h>

GST_DEBUG_CATEGORY_STATIC(gst_mr4bgr_debug);
#define GST_CAT_DEFAULT gst_mr4bgr_debug

#define MR4BGR_SINK_CAPS GST_VIDEO_CAPS_MAKE("{ I420, YV12, NV12, Y42B, Y444, YUY2, UYVY, BGR }")
#define MR4BGR_SRC_CAPS GST_VIDEO_CAPS_MAKE("{ BGR, GRAY8 }")

static GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(MR4BGR_SINK_CAPS));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(MR4BGR_SRC_CAPS));

#define gst_mr4bgr_parent_class parent_class
G_DEFINE_TYPE_WITH_CODE(GstMr4Bgr, gst_mr4bgr, GST_TYPE_VIDEO_FILTER,
                        GST_DEBUG_CATEGORY_INIT(gst_mr4bgr_debug, "mr4bgr", 0,
                                                "replay colour converter"));
GST_ELEMENT_REGISTER_DEFINE(mr4bgr, "mr4bgr", GST_RANK_NONE, GST_TYPE_MR4BGR);

/* ---- tables -------------------------------------------------------------- */

/* The own reader's BT.601 limited-range factors (luma scale, and the chroma
 * factors of blue, green and red). */
#define OWN_LUMA 1.164383
#define OWN_U_BLUE 2.017232
#define OWN_U_GREEN (-0.391762)
#define OWN_V_GREEN (-0.812968)
#define OWN_V_RED 1.596027

static gint32 fixed(double x) { return (gint32)trunc(x * 65536.0); }

static void fill_tables(GstMr4Bgr *self, double luma, double luma_offset,
                        double u_blue, double u_green, double v_green,
                        double v_red) {
  int v;
  for (v = 0; v < 256; v++) {
    /* The rounding half rides on the luma term: every colour has one. */
    self->luma[v] = fixed((v - luma_offset) * luma) + 32768;
    self->u_blue[v] = fixed((v - 128) * u_blue);
    self->u_green[v] = fixed((v - 128) * u_green);
    self->v_green[v] = fixed((v - 128) * v_green);
    self->v_red[v] = fixed((v - 128) * v_red);
  }
}

/* The own reader's tables when the caps say nothing of colour, or say
 * BT.601 limited range; otherwise those of the stated matrix and range. */
static void set_tables(GstMr4Bgr *self, const GstCaps *caps,
                       const GstVideoInfo *info) {
  const GstStructure *s = gst_caps_get_structure(caps, 0);
  const GstVideoColorimetry *c = &info->colorimetry;
  gboolean full = c->range == GST_VIDEO_COLOR_RANGE_0_255;
  gdouble kr = 0.299, kb = 0.114, kg, luma, chroma;
  if (!gst_structure_has_field(s, "colorimetry") ||
      ((c->matrix == GST_VIDEO_COLOR_MATRIX_BT601 ||
        c->matrix == GST_VIDEO_COLOR_MATRIX_UNKNOWN) && !full)) {
    fill_tables(self, OWN_LUMA, 16.0, OWN_U_BLUE, OWN_U_GREEN, OWN_V_GREEN,
                OWN_V_RED);
    return;
  }
  if (!gst_video_color_matrix_get_Kr_Kb(c->matrix, &kr, &kb)) {
    kr = 0.299;
    kb = 0.114;
  }
  kg = 1.0 - kr - kb;
  luma = full ? 1.0 : 255.0 / 219.0;
  chroma = full ? 1.0 : 255.0 / 224.0;
  fill_tables(self, luma, full ? 0.0 : 16.0, 2.0 * (1.0 - kb) * chroma,
              -2.0 * kb * (1.0 - kb) / kg * chroma,
              -2.0 * kr * (1.0 - kr) / kg * chroma, 2.0 * (1.0 - kr) * chroma);
}

/* ---- conversion ---------------------------------------------------------- */

/* Saturation by table: level + MR4BGR_SATURATE_OFFSET indexes the byte.
 * Every sum of the tables lies well inside (-384, 640). */
#define MR4BGR_SATURATE_OFFSET 384
static guint8 saturate[1024];

static void fill_saturate(void) {
  int i;
  for (i = 0; i < 1024; i++)
    saturate[i] = (guint8)CLAMP(i - MR4BGR_SATURATE_OFFSET, 0, 255);
}

/* The byte of a 16.16 sum: what clamping to 0 .. 255 << 16 and shifting
 * gives (the shift floors, as the clamp to 0 does for negative sums). */
#define LEVEL(x) saturate[((x) >> 16) + MR4BGR_SATURATE_OFFSET]

/* Where one row's luma and chroma bytes are: byte steps between pixels
 * (luma) and between chroma samples, and how many pixels share a chroma
 * sample across (1 << shift). */
typedef struct {
  const guint8 *y, *u, *v;
  gint y_step, c_step, shift;
} RowBytes;

static void convert_row(const GstMr4Bgr *self, const RowBytes *r, guint8 *out,
                        gint width) {
  const gint32 *luma = self->luma;
  const guint8 *y = r->y, *u = r->u, *v = r->v;
  const gint ys = r->y_step, cs = r->c_step;
  gint x = 0;
  if (r->shift == 1) {
    /* Two pixels per chroma sample: its terms once for both. */
    for (; x + 2 <= width; x += 2, y += 2 * ys, u += cs, v += cs, out += 6) {
      const gint32 cb = self->u_blue[*u];
      const gint32 cg = self->u_green[*u] + self->v_green[*v];
      const gint32 cr = self->v_red[*v];
      const gint32 l0 = luma[y[0]], l1 = luma[y[ys]];
      out[0] = LEVEL(l0 + cb);
      out[1] = LEVEL(l0 + cg);
      out[2] = LEVEL(l0 + cr);
      out[3] = LEVEL(l1 + cb);
      out[4] = LEVEL(l1 + cg);
      out[5] = LEVEL(l1 + cr);
    }
  }
  /* One pixel per chroma sample, or the odd last pixel of a pair format. */
  for (; x < width; x++, out += 3) {
    const gint c = (x >> r->shift) * cs;
    const gint32 l = luma[r->y[x * ys]];
    out[0] = LEVEL(l + self->u_blue[r->u[c]]);
    out[1] = LEVEL(l + self->u_green[r->u[c]] + self->v_green[r->v[c]]);
    out[2] = LEVEL(l + self->v_red[r->v[c]]);
  }
}

static RowBytes row_bytes(const GstVideoFrame *f, gint row) {
  RowBytes r;
  const guint8 *p0 = GST_VIDEO_FRAME_PLANE_DATA(f, 0);
  const gint s0 = GST_VIDEO_FRAME_PLANE_STRIDE(f, 0);
  const gint h_sub = GST_VIDEO_FORMAT_INFO_H_SUB(f->info.finfo, 1);
  /* An interlaced 4:2:0 frame keeps each field's chroma lines apart: line
   * pairs of one field share a chroma line of that field. */
  const gint crow =
      h_sub == 1 && GST_VIDEO_INFO_IS_INTERLACED(&f->info)
          ? MIN(((row >> 2) << 1) | (row & 1),
                GST_VIDEO_FRAME_COMP_HEIGHT(f, GST_VIDEO_COMP_U) - 1)
          : row >> h_sub;
  switch (GST_VIDEO_FRAME_FORMAT(f)) {
    case GST_VIDEO_FORMAT_YUY2:
      r.y = p0 + (gsize)row * s0;
      r.u = r.y + 1;
      r.v = r.y + 3;
      r.y_step = 2;
      r.c_step = 4;
      r.shift = 1;
      return r;
    case GST_VIDEO_FORMAT_UYVY:
      r.u = p0 + (gsize)row * s0;
      r.y = r.u + 1;
      r.v = r.u + 2;
      r.y_step = 2;
      r.c_step = 4;
      r.shift = 1;
      return r;
    case GST_VIDEO_FORMAT_NV12:
      r.y = p0 + (gsize)row * s0;
      r.u = (const guint8 *)GST_VIDEO_FRAME_PLANE_DATA(f, 1) +
            (gsize)crow * GST_VIDEO_FRAME_PLANE_STRIDE(f, 1);
      r.v = r.u + 1;
      r.y_step = 1;
      r.c_step = 2;
      r.shift = 1;
      return r;
    default: /* three planes; the component order finds U and V (YV12) */
      r.y = p0 + (gsize)row * s0;
      r.u = (const guint8 *)GST_VIDEO_FRAME_COMP_DATA(f, GST_VIDEO_COMP_U) +
            (gsize)crow * GST_VIDEO_FRAME_COMP_STRIDE(f, GST_VIDEO_COMP_U);
      r.v = (const guint8 *)GST_VIDEO_FRAME_COMP_DATA(f, GST_VIDEO_COMP_V) +
            (gsize)crow * GST_VIDEO_FRAME_COMP_STRIDE(f, GST_VIDEO_COMP_V);
      r.y_step = 1;
      r.c_step = 1;
      r.shift = GST_VIDEO_FORMAT_INFO_W_SUB(f->info.finfo, 1);
      return r;
  }
}

/* The green of one row alone (the GRAY8 output). */
static void green_row(const GstMr4Bgr *self, const RowBytes *r, guint8 *out,
                      gint width) {
  const gint32 *luma = self->luma;
  const guint8 *y = r->y, *u = r->u, *v = r->v;
  const gint ys = r->y_step, cs = r->c_step;
  gint x = 0;
  if (r->shift == 1) {
    for (; x + 2 <= width; x += 2, y += 2 * ys, u += cs, v += cs, out += 2) {
      const gint32 cg = self->u_green[*u] + self->v_green[*v];
      out[0] = LEVEL(luma[y[0]] + cg);
      out[1] = LEVEL(luma[y[ys]] + cg);
    }
  }
  for (; x < width; x++, out++) {
    const gint c = (x >> r->shift) * cs;
    *out = LEVEL(luma[r->y[x * ys]] + self->u_green[r->u[c]] +
                 self->v_green[r->v[c]]);
  }
}

static GstFlowReturn gst_mr4bgr_transform_frame(GstVideoFilter *filter,
                                                GstVideoFrame *in,
                                                GstVideoFrame *out) {
  GstMr4Bgr *self = GST_MR4BGR(filter);
  const gint width = GST_VIDEO_FRAME_WIDTH(in);
  const gint height = GST_VIDEO_FRAME_HEIGHT(in);
  const gboolean green = GST_VIDEO_FRAME_FORMAT(out) == GST_VIDEO_FORMAT_GRAY8;
  guint8 *dest = GST_VIDEO_FRAME_PLANE_DATA(out, 0);
  const gint dest_stride = GST_VIDEO_FRAME_PLANE_STRIDE(out, 0);
  gint row;
  if (GST_VIDEO_FRAME_FORMAT(in) == GST_VIDEO_FORMAT_BGR) {
    /* Only the green bytes: BGR to BGR passes through. */
    const guint8 *src = GST_VIDEO_FRAME_PLANE_DATA(in, 0);
    const gint src_stride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    for (row = 0; row < height; row++) {
      const guint8 *s = src + (gsize)row * src_stride + 1;
      guint8 *d = dest + (gsize)row * dest_stride;
      gint x;
      for (x = 0; x < width; x++) d[x] = s[3 * x];
    }
    return GST_FLOW_OK;
  }
  for (row = 0; row < height; row++) {
    const RowBytes r = row_bytes(in, row);
    if (green)
      green_row(self, &r, dest + (gsize)row * dest_stride, width);
    else
      convert_row(self, &r, dest + (gsize)row * dest_stride, width);
  }
  return GST_FLOW_OK;
}

/* ---- caps ---------------------------------------------------------------- */

/* The other side's caps: the same size, rate and interlacing, BGR or GRAY8
 * (in that order of preference) going downstream and any accepted format
 * going upstream, with no colour description of their own. */
static GstCaps *gst_mr4bgr_transform_caps(GstBaseTransform *trans,
                                          GstPadDirection direction,
                                          GstCaps *caps, GstCaps *filter) {
  GstCaps *result = gst_caps_new_empty();
  GstCaps *accepted = gst_static_pad_template_get_caps(&sink_template);
  GstCaps *given = gst_static_pad_template_get_caps(&src_template);
  const GValue *formats = gst_structure_get_value(
      gst_caps_get_structure(direction == GST_PAD_SINK ? given : accepted, 0),
      "format");
  guint i;
  (void)trans;
  for (i = 0; i < gst_caps_get_size(caps); i++) {
    GstStructure *s = gst_structure_copy(gst_caps_get_structure(caps, i));
    gst_structure_remove_fields(s, "colorimetry", "chroma-site", NULL);
    gst_structure_set_value(s, "format", formats);
    result = gst_caps_merge_structure(result, s);
  }
  gst_caps_unref(accepted);
  gst_caps_unref(given);
  if (filter) {
    GstCaps *intersected =
        gst_caps_intersect_full(filter, result, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(result);
    result = intersected;
  }
  return result;
}

static gboolean gst_mr4bgr_set_info(GstVideoFilter *filter, GstCaps *incaps,
                                    GstVideoInfo *in_info, GstCaps *outcaps,
                                    GstVideoInfo *out_info) {
  GstMr4Bgr *self = GST_MR4BGR(filter);
  (void)outcaps;
  if (GST_VIDEO_INFO_WIDTH(in_info) != GST_VIDEO_INFO_WIDTH(out_info) ||
      GST_VIDEO_INFO_HEIGHT(in_info) != GST_VIDEO_INFO_HEIGHT(out_info) ||
      (GST_VIDEO_INFO_FORMAT(out_info) != GST_VIDEO_FORMAT_BGR &&
       GST_VIDEO_INFO_FORMAT(out_info) != GST_VIDEO_FORMAT_GRAY8))
    return FALSE;
  set_tables(self, incaps, in_info);
  gst_base_transform_set_passthrough(
      GST_BASE_TRANSFORM(filter),
      GST_VIDEO_INFO_FORMAT(in_info) == GST_VIDEO_INFO_FORMAT(out_info));
  GST_DEBUG_OBJECT(self, "converting %s to %s", GST_VIDEO_INFO_NAME(in_info),
                   GST_VIDEO_INFO_NAME(out_info));
  return TRUE;
}

static void gst_mr4bgr_class_init(GstMr4BgrClass *klass) {
  GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
  GstBaseTransformClass *trans_class = GST_BASE_TRANSFORM_CLASS(klass);
  GstVideoFilterClass *filter_class = GST_VIDEO_FILTER_CLASS(klass);

  fill_saturate();
  gst_element_class_set_static_metadata(
      element_class, "MR4 replay colour converter", "Filter/Converter/Video",
      "Converts YUV video to BGR with the own clip reader's BT.601 tables",
      "MR4 developers");
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);

  trans_class->transform_caps = GST_DEBUG_FUNCPTR(gst_mr4bgr_transform_caps);
  trans_class->passthrough_on_same_caps = TRUE;
  filter_class->set_info = GST_DEBUG_FUNCPTR(gst_mr4bgr_set_info);
  filter_class->transform_frame = GST_DEBUG_FUNCPTR(gst_mr4bgr_transform_frame);
}

static void gst_mr4bgr_init(GstMr4Bgr *self) {
  /* The tables come with the caps (set_info), before any frame. */
  (void)self;
}
