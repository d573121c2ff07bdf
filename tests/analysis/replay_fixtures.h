// Test fixtures of the replay road: GStreamer pipelines run to their end
// (to re-encode a clip with a codec of the platform), and a synthetic meteor
// clip written by the simulator's AVI writer.
#pragma once

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "sim/avi_writer.h"

namespace mr4::testing_replay {

namespace fs = std::filesystem;

// True when every element factory is installed.
inline bool HaveElements(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    GstElementFactory* factory = gst_element_factory_find(name);
    if (!factory) return false;
    gst_object_unref(factory);
  }
  return true;
}

// Runs a pipeline description to its end; the error text otherwise.
inline std::string RunPipeline(const std::string& description) {
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline) {
    std::string text = error ? error->message : "cannot parse";
    if (error) g_error_free(error);
    return text;
  }
  if (error) g_error_free(error);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  std::string text;
  if (!message) {
    text = "no end within 60 s";
  } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* e = nullptr;
    gst_message_parse_error(message, &e, nullptr);
    text = e ? e->message : "error";
    if (e) g_error_free(e);
  }
  if (message) gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return text;
}

// Re-encodes `in` into `out` with `encoder` (a pipeline fragment ending in
// a muxer).
inline std::string Transcode(const fs::path& in, const fs::path& out, const std::string& encoder) {
  return RunPipeline("filesrc location=\"" + in.string() + "\" ! decodebin ! videoconvert ! " +
                     encoder + " ! filesink location=\"" + out.string() + "\"");
}

// A synthetic night-sky clip: a flat sky of level 30 with Gaussian noise,
// four stars, and a meteor (a Gaussian spot of peak 200) moving in a
// straight line from frame `first` to `last`. Levels are green levels.
struct MeteorClip {
  int w = 160, h = 120, frames = 60;
  int first = 20, last = 44;
  double x0 = 30.5, y0 = 25.5, vx = 3.5, vy = 2.0;  // px, px per frame, y from the bottom

  double X(int k) const { return x0 + vx * (k - first); }
  double Y(int k) const { return y0 + vy * (k - first); }

  std::vector<std::uint8_t> Plane(int k) const {
    std::mt19937 random(static_cast<unsigned>(1000 + k));
    std::normal_distribution<double> noise(0.0, 1.5);
    const double stars[][3] = {{20, 90, 120}, {70, 60, 90}, {120, 20, 140}, {140, 100, 100}};
    std::vector<double> level(std::size_t(w) * h);
    for (double& v : level) v = 30 + noise(random);
    // A Gaussian spot, drawn where it is above a hundredth of a level.
    auto spot = [&](double cx, double cy, double peak, double sigma) {
      const int r = static_cast<int>(std::ceil(sigma * 4));
      for (int y = std::max(0, int(cy) - r); y <= std::min(h - 1, int(cy) + r); ++y)
        for (int x = std::max(0, int(cx) - r); x <= std::min(w - 1, int(cx) + r); ++x) {
          const double d2 = std::pow(x + 0.5 - cx, 2) + std::pow(y + 0.5 - cy, 2);
          level[std::size_t(y) * w + x] += peak * std::exp(-d2 / (2 * sigma * sigma));
        }
    };
    for (const auto& s : stars) spot(s[0], s[1], s[2], 1.0);
    if (k >= first && k <= last) spot(X(k), Y(k), 200, 1.1);
    std::vector<std::uint8_t> plane(level.size());
    for (std::size_t i = 0; i < level.size(); ++i)
      plane[i] = static_cast<std::uint8_t>(std::clamp(std::lround(level[i]), 0L, 255L));
    return plane;
  }

  // Writes the clip; the writer's error, empty on success.
  std::string Write(const fs::path& path, AviPixelFormat format) const {
    AviWriterOptions o;
    o.format = format;
    o.width = w;
    o.height = h;
    o.layout = AviLayout::kStandard;
    AviWriter writer;
    if (!writer.Open(path, o)) return writer.error();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(writer.ImageBytes()));
    for (int k = 0; k < frames; ++k) {
      const std::vector<std::uint8_t> plane = Plane(k);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const std::uint8_t g = plane[std::size_t(y) * w + x];
          if (format == AviPixelFormat::kDib24) {
            const std::size_t p = (std::size_t(y) * w + x) * 3;  // bottom-up
            bytes[p] = bytes[p + 1] = bytes[p + 2] = g;
          } else {
            // 4:2:2 rows top-down; a grey Y of g gives green g within one level.
            const std::size_t p = (std::size_t(h - 1 - y) * w + x) * 2;
            bytes[p] = static_cast<std::uint8_t>(std::lround(g / 1.164383 + 16));
            bytes[p + 1] = 128;
          }
        }
      if (!writer.WriteFrame(bytes)) return writer.error();
    }
    if (!writer.Close()) return writer.error();
    return "";
  }
};

}  // namespace mr4::testing_replay
