/* The replay filter element "mr4f": passes raw video frames through
 * unchanged in format, and for every frame rebuilds one field by
 * interpolation on request, copies the frame bottom-up into the program's
 * frame buffer and posts a frame message, as the exchange block
 * (mr4f_exchange.h) asks. The element keeps a pointer to the block, which
 * the program owns; the block must outlive the element's streaming. Caps,
 * events and buffers arrive on the upstream streaming thread; properties are
 * set and read from application threads under the object lock. */
#ifndef GST_MR4F_H
#define GST_MR4F_H

#include <gst/gst.h>
#include <gst/video/video.h>

#include "mr4f_exchange.h"

G_BEGIN_DECLS

#define GST_TYPE_MR4F (gst_mr4f_get_type())
G_DECLARE_FINAL_TYPE(GstMr4f, gst_mr4f, GST, MR4F, GstElement)

struct _GstMr4f {
  GstElement element;

  GstPad *sinkpad;  /* "Input" */
  GstPad *srcpad1;  /* "Output1": every delivered frame */
  GstPad *srcpad2;  /* "Output2": events only, never a buffer */

  /* Under the object lock. */
  Mr4fExchangeBlock *block;  /* the program's block, or NULL */
  gboolean negotiated;       /* input caps set and accepted */
  GstVideoInfo info;         /* the input caps, when negotiated */
  gint32 frame_duration;     /* [100 ns], after the below-1-ms rule */
  gint32 caps_duration;      /* the same from the caps alone */
  /* Timestamps since the caps or the last flush: the first frame's and the
   * frames counted after it. */
  GstClockTime first_pts;
  guint64 frames_after_first;
};

GST_ELEMENT_REGISTER_DECLARE(mr4f);

G_END_DECLS

#endif /* GST_MR4F_H */
