/* The colour converter element "mr4bgr": turns decoded YUV video into BGR
 * with the fixed-point BT.601 tables the program's own clip reader uses, so
 * that a frame replayed through GStreamer reaches the analysis with the
 * green levels the own reader would give it. Caps that state their
 * colorimetry (a full-range JPEG, a BT.709 stream) are converted by their
 * own matrix and range; caps without it are taken as BT.601 limited range,
 * as the own reader takes every clip. BGR input passes through. Asked for
 * GRAY8, it gives the green plane alone (the analysis reads nothing else). */
#ifndef GST_MR4BGR_H
#define GST_MR4BGR_H

#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

G_BEGIN_DECLS

#define GST_TYPE_MR4BGR (gst_mr4bgr_get_type())
G_DECLARE_FINAL_TYPE(GstMr4Bgr, gst_mr4bgr, GST, MR4BGR, GstVideoFilter)

struct _GstMr4Bgr {
  GstVideoFilter parent;

  /* Set with the caps, read by the streaming thread that set them: 16.16
   * fixed-point contributions of luma and of the two chroma bytes to blue,
   * green and red (the rounding half is folded into the luma table). */
  gint32 luma[256];
  gint32 u_blue[256], u_green[256];
  gint32 v_green[256], v_red[256];
};

GST_ELEMENT_REGISTER_DECLARE(mr4bgr);

G_END_DECLS

#endif /* GST_MR4BGR_H */
