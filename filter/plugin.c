/* Registers the replay filter element "mr4f" and its colour converter
 * "mr4bgr" when GStreamer loads
 * libgstmr4f.so (from its plug-in path, or by file path from the program). */
#include "gstmr4bgr.h"
#include "gstmr4f.h"

/* The plug-in descriptor names its package through PACKAGE. */
#define PACKAGE "mr4"

static gboolean plugin_init(GstPlugin *plugin) {
  return GST_ELEMENT_REGISTER(mr4f, plugin) && GST_ELEMENT_REGISTER(mr4bgr, plugin);
}

/* The descriptor macro leaves the reserved padding to zero-initialisation. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, mr4f,
                  "DeInterlace Replay Filter for MeridraV4", plugin_init,
                  "4.2.6.0", "unknown", PACKAGE, "MR4")
#pragma GCC diagnostic pop
