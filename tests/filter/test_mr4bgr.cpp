// Tests of the replay colour converter "mr4bgr" through GstHarness: its
// green is the own clip reader's for every YUV format it takes, in BGR and
// in the green plane alone (GRAY8), a stated colorimetry is converted by its
// own matrix and range, and BGR passes through.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "replay/frame_formats.h"

namespace {

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_setenv("GST_REGISTRY", MR4BGR_TEST_REGISTRY, TRUE);
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(MR4F_PLUGIN_FILE, &error);
    ASSERT_NE(plugin, nullptr) << MR4F_PLUGIN_FILE << ": " << (error ? error->message : "?");
    gst_object_unref(plugin);
  }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// A component value at a pixel (for chroma, at the first pixel its sample
// covers).
using Pixels = std::function<std::uint8_t(int component, int x, int y)>;

// One frame of `caps` holding `pixels`, written through the format's own
// component layout (planes, pixel strides, subsampling).
GstBuffer* MakeFrame(const std::string& caps, const Pixels& pixels) {
  GstVideoInfo info;
  GstCaps* c = gst_caps_from_string(caps.c_str());
  EXPECT_TRUE(gst_video_info_from_caps(&info, c)) << caps;
  gst_caps_unref(c);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  GstVideoFrame frame;
  EXPECT_TRUE(gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE));
  for (int comp = 0; comp < int(GST_VIDEO_INFO_N_COMPONENTS(&info)); ++comp) {
    const int w_sub = GST_VIDEO_FORMAT_INFO_W_SUB(info.finfo, comp);
    const int h_sub = GST_VIDEO_FORMAT_INFO_H_SUB(info.finfo, comp);
    auto* data = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, comp));
    for (int row = 0; row < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, comp); ++row)
      for (int col = 0; col < GST_VIDEO_FRAME_COMP_WIDTH(&frame, comp); ++col)
        data[row * GST_VIDEO_FRAME_COMP_STRIDE(&frame, comp) +
             col * GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, comp)] =
            pixels(comp, col << w_sub, row << h_sub);
  }
  gst_video_frame_unmap(&frame);
  return buffer;
}

// The element's output of one frame in `output` (BGR or GRAY8), rows packed
// (width x 3 or width bytes).
std::vector<std::uint8_t> Convert(const std::string& caps, const Pixels& pixels, int width,
                                  int height, const std::string& output = "BGR") {
  GstHarness* h = gst_harness_new("mr4bgr");
  gst_harness_set_src_caps_str(h, caps.c_str());
  gst_harness_set_sink_caps_str(h, ("video/x-raw,format=" + output).c_str());
  const GstVideoFormat format = gst_video_format_from_string(output.c_str());
  const int bytes_per_pixel = format == GST_VIDEO_FORMAT_GRAY8 ? 1 : 3;
  std::vector<std::uint8_t> out;
  GstBuffer* result = gst_harness_push_and_pull(h, MakeFrame(caps, pixels));
  EXPECT_NE(result, nullptr) << caps;
  if (result) {
    GstCaps* out_caps = gst_pad_get_current_caps(h->sinkpad);
    GstVideoInfo info;
    EXPECT_TRUE(out_caps && gst_video_info_from_caps(&info, out_caps));
    EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), format);
    if (out_caps) gst_caps_unref(out_caps);
    GstVideoFrame frame;
    EXPECT_TRUE(gst_video_frame_map(&frame, &info, result, GST_MAP_READ));
    const auto* data = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    for (int row = 0; row < height; ++row) {
      const std::uint8_t* line = data + row * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
      out.insert(out.end(), line, line + width * bytes_per_pixel);
    }
    gst_video_frame_unmap(&frame);
    gst_buffer_unref(result);
  }
  gst_harness_teardown(h);
  return out;
}

std::string Caps(const char* format, int width, int height, const char* colorimetry = nullptr) {
  std::string caps = std::string("video/x-raw,format=") + format +
                     ",width=" + std::to_string(width) + ",height=" + std::to_string(height) +
                     ",framerate=30000/1001";
  if (colorimetry) caps += std::string(",colorimetry=") + colorimetry;
  return caps;
}

// Luma varies along and across rows; chroma is one of four pairs, the same
// over each 2 x 2 block, so that every subsampling carries the same picture.
constexpr int kWidth = 256, kHeight = 8;
const std::uint8_t kChroma[4][2] = {{128, 128}, {0, 255}, {255, 0}, {60, 200}};

std::uint8_t Picture(int comp, int x, int y) {
  if (comp == GST_VIDEO_COMP_Y) return static_cast<std::uint8_t>((x + 37 * y) % 256);
  const auto& pair = kChroma[(y / 2 + x / 2) % 4];
  return comp == GST_VIDEO_COMP_U ? pair[0] : pair[1];
}

// The own reader's green plane of the picture, from its YUY2 frame; the
// plane's rows run bottom-up, as the program's planes do.
std::vector<std::uint8_t> OwnReadersGreen() {
  std::vector<std::uint8_t> yuy2(kWidth * kHeight * 2);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      yuy2[(y * kWidth + x) * 2] = Picture(GST_VIDEO_COMP_Y, x, y);
      yuy2[(y * kWidth + x) * 2 + 1] =
          Picture(x % 2 ? GST_VIDEO_COMP_V : GST_VIDEO_COMP_U, x & ~1, y);
    }
  mr4::FrameGeometry geometry;
  geometry.format = mr4::FrameFormat::kYuyv;
  geometry.width = kWidth;
  geometry.height = kHeight;
  std::vector<std::uint8_t> plane(kWidth * kHeight);
  EXPECT_TRUE(mr4::ToGreenPlane(geometry, yuy2, 0, kHeight, plane, mr4::BuildYuvTables()));
  return plane;
}

TEST(Mr4Bgr, GreenIsTheOwnReadersInEveryFormat) {
  const std::vector<std::uint8_t> own = OwnReadersGreen();
  // BGR carries green in byte 1 of 3; the green plane is nothing else.
  const struct {
    const char* output;
    int step, offset;
  } outputs[] = {{"BGR", 3, 1}, {"GRAY8", 1, 0}};
  for (const auto& out : outputs) {
    // The odd width takes the last pixel from the tail of the row loop.
    for (int width : {kWidth, kWidth - 1}) {
      for (const char* format : {"YUY2", "UYVY", "Y42B", "I420", "YV12", "NV12", "Y444"}) {
        SCOPED_TRACE(std::string(format) + " to " + out.output + ", width " +
                     std::to_string(width));
        const auto frame =
            Convert(Caps(format, width, kHeight), Picture, width, kHeight, out.output);
        ASSERT_EQ(frame.size(), std::size_t(width * kHeight * out.step));
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y)
          for (int x = 0; x < width; ++x) {
            const int o = own[(kHeight - 1 - y) * kWidth + x];
            const int g = frame[(y * width + x) * out.step + out.offset];
            if (g != o && wrong++ < 5)
              ADD_FAILURE() << "x " << x << " y " << y << ": " << g << " against " << o;
          }
        EXPECT_EQ(wrong, 0);
      }
    }
  }
}

// A stated colorimetry: BT.601 limited range is the own reader's; full
// range (what a JPEG decoder announces) keeps black at 0 and grey levels as
// they are; BT.709 uses its own matrix.
TEST(Mr4Bgr, StatedColorimetryIsConvertedByItsMatrixAndRange) {
  struct Case {
    const char* colorimetry;
    std::uint8_t y, u, v;
    double kr, kb;
    bool full;
  };
  const Case cases[] = {
      {"bt601", 16, 128, 128, 0.299, 0.114, false},
      {"bt601", 100, 90, 170, 0.299, 0.114, false},
      {"1:4:0:0", 16, 128, 128, 0.299, 0.114, true},
      {"1:4:0:0", 200, 90, 170, 0.299, 0.114, true},
      {"bt709", 100, 90, 170, 0.2126, 0.0722, false},
      {"bt709", 235, 128, 128, 0.2126, 0.0722, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.colorimetry) + " Y " + std::to_string(k.y));
    const Pixels flat = [&](int comp, int, int) {
      return comp == GST_VIDEO_COMP_Y ? k.y : comp == GST_VIDEO_COMP_U ? k.u : k.v;
    };
    const auto bgr = Convert(Caps("I420", 2, 2, k.colorimetry), flat, 2, 2);
    ASSERT_EQ(bgr.size(), 12u);
    const auto green = Convert(Caps("I420", 2, 2, k.colorimetry), flat, 2, 2, "GRAY8");
    ASSERT_EQ(green.size(), 4u);
    EXPECT_EQ(green[0], bgr[1]) << "the green plane of the same tables";
    const double luma = k.full ? k.y : (k.y - 16) * 255.0 / 219.0;
    const double scale = k.full ? 1.0 : 255.0 / 224.0;
    const double cb = (k.u - 128) * scale, cr = (k.v - 128) * scale, kg = 1 - k.kr - k.kb;
    const double expected[3] = {
        luma + 2 * (1 - k.kb) * cb,
        luma - 2 * k.kb * (1 - k.kb) / kg * cb - 2 * k.kr * (1 - k.kr) / kg * cr,
        luma + 2 * (1 - k.kr) * cr};
    for (int i = 0; i < 3; ++i)
      EXPECT_NEAR(bgr[i], std::clamp(expected[i], 0.0, 255.0), 1.0) << "byte " << i;
  }
}

// An interlaced 4:2:0 frame: lines 0 and 2 (one field) share chroma line 0,
// lines 1 and 3 (the other) chroma line 1; a progressive one pairs 0-1, 2-3.
TEST(Mr4Bgr, InterlacedChromaStaysInItsField) {
  const Pixels picture = [](int comp, int, int y) -> std::uint8_t {
    if (comp == GST_VIDEO_COMP_Y) return 100;
    const bool second = (y / 2) % 2 == 1;  // chroma line 0 or 1 (of 4 rows)
    return comp == GST_VIDEO_COMP_U ? 128 : (second ? 255 : 0);
  };
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "progressive");
    const std::string caps =
        Caps("I420", 2, 4) + (interlaced ? ",interlace-mode=interleaved" : "");
    const auto bgr = Convert(caps, picture, 2, 4);
    ASSERT_EQ(bgr.size(), 24u);
    for (int row = 0; row < 4; ++row) {
      const int chroma_line = interlaced ? row % 2 : row / 2;
      const std::uint8_t red = bgr[row * 6 + 2];
      // V 255 makes red saturate; V 0 leaves it far below the luma.
      EXPECT_EQ(red == 255, chroma_line == 1) << "row " << row << " red " << int(red);
    }
  }
}

// BGR passes through, and gives its green bytes as the green plane.
TEST(Mr4Bgr, BgrPassesThrough) {
  const Pixels bytes = [](int comp, int x, int y) {
    return static_cast<std::uint8_t>(comp * 80 + x * 7 + y * 13);
  };
  const auto bgr = Convert(Caps("BGR", 6, 3), bytes, 6, 3);
  ASSERT_EQ(bgr.size(), 54u);
  // BGR holds blue, green and red as components 2, 1, 0 of GStreamer's
  // RGB order.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x)
      for (int i = 0; i < 3; ++i)
        EXPECT_EQ(bgr[(y * 6 + x) * 3 + i], bytes(2 - i, x, y)) << x << "," << y << " " << i;
  const auto green = Convert(Caps("BGR", 6, 3), bytes, 6, 3, "GRAY8");
  ASSERT_EQ(green.size(), 18u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(green[y * 6 + x], bytes(1, x, y)) << x << "," << y;
}

}  // namespace
