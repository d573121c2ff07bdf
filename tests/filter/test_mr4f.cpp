// Tests of the replay filter element "mr4f" through GstHarness: the plug-in
// is loaded by its file path in the build tree (as the program loads it),
// frames are pushed on "Input" and pulled from "Output1" (and "Output2"), and
// the exchange block is a plain struct of the test. Lines are counted from
// the bottom of the picture, as the program counts them; GStreamer rows run
// top-down. Runs headless: no display, no clock-synced sink.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "filter/mr4f_exchange.h"

namespace {

// ---- set-up --------------------------------------------------------------

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // A registry cache of the tests' own, so the user's stays untouched.
    g_setenv("GST_REGISTRY", MR4F_TEST_REGISTRY, TRUE);
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(MR4F_PLUGIN_FILE, &error);
    ASSERT_NE(plugin, nullptr) << MR4F_PLUGIN_FILE << ": "
                               << (error ? error->message : "?");
    gst_object_unref(plugin);
  }
};

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// A block with recognisable values in every field the program owns, so a
// test can see that the element leaves them alone.
Mr4fExchangeBlock ProgramBlock(int32_t mode) {
  Mr4fExchangeBlock block;
  std::memset(&block, 0, sizeof block);
  block.mode = mode;
  block.sample_counter = 7;
  block.first_sample = 10;
  block.last_sample = 40;
  block.unused = 0x5A5A;
  block.padding = 0x3C3C;
  return block;
}

void Attach(GstHarness* h, Mr4fExchangeBlock* block) {
  g_object_set(h->element, "exchange-block", block, nullptr);
}

GstHarness* NewHarness() {
  return gst_harness_new_with_padnames("mr4f", "Input", "Output1");
}

// Pushes stream start, caps and segment the way an upstream element would;
// returns whether the element took the caps. (Pushing sticky caps reports
// success even when the peer refuses them, so the answer is whether the
// input pad holds them now.)
bool PushCaps(GstHarness* h, const std::string& caps_text) {
  gst_harness_push_event(h, gst_event_new_stream_start("mr4f-test"));
  GstCaps* caps = gst_caps_from_string(caps_text.c_str());
  EXPECT_NE(caps, nullptr) << caps_text;
  gst_harness_push_event(h, gst_event_new_caps(caps));
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_TIME);
  gst_harness_push_event(h, gst_event_new_segment(&segment));
  GstPad* input = gst_element_get_static_pad(h->element, "Input");
  GstCaps* held = gst_pad_get_current_caps(input);
  const bool taken = held != nullptr && gst_caps_is_equal(held, caps);
  if (held) gst_caps_unref(held);
  gst_object_unref(input);
  gst_caps_unref(caps);
  return taken;
}

std::string BgrCaps(int width, int height, const char* framerate = "25/1") {
  return "video/x-raw,format=BGR,width=" + std::to_string(width) +
         ",height=" + std::to_string(height) + ",framerate=" + framerate;
}

GstVideoInfo InfoOf(const std::string& caps_text) {
  GstVideoInfo info;
  GstCaps* caps = gst_caps_from_string(caps_text.c_str());
  EXPECT_TRUE(gst_video_info_from_caps(&info, caps)) << caps_text;
  gst_caps_unref(caps);
  return info;
}

// ---- pictures --------------------------------------------------------------

// A BGR picture as the program holds it: rows bottom-up, packed.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;  // width * 3 per row, line 0 first
  uint8_t* Line(int r) { return bytes.data() + size_t(r) * width * 3; }
  const uint8_t* Line(int r) const { return bytes.data() + size_t(r) * width * 3; }
};

// Bytes scattered over the whole range by a hash of line and position, so
// that neighbouring lines differ in every bit, the lowest included (a mean
// that carries a bit into the next byte shows up).
Picture PatternPicture(int width, int height) {
  Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
  for (int r = 0; r < height; r++)
    for (int i = 0; i < width * 3; i++) {
      uint32_t x = uint32_t(r) * 73856093u ^ uint32_t(i) * 19349663u;
      x ^= x >> 13;
      x *= 0x5bd1e995u;
      x ^= x >> 15;
      p.Line(r)[i] = uint8_t(x);
    }
  return p;
}

constexpr uint8_t kStridePadding = 0xEE;

// A GStreamer buffer of the picture: rows top-down with the caps' stride,
// padding bytes set to kStridePadding.
GstBuffer* BufferOf(const Picture& p, const GstVideoInfo& info,
                    GstClockTime pts = 0) {
  GstBuffer* buf = gst_buffer_new_allocate(nullptr, info.size, nullptr);
  GstMapInfo map;
  gst_buffer_map(buf, &map, GST_MAP_WRITE);
  std::memset(map.data, kStridePadding, map.size);
  const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  for (int r = 0; r < p.height; r++)
    std::memcpy(map.data + size_t(p.height - 1 - r) * stride, p.Line(r),
                size_t(p.width) * 3);
  gst_buffer_unmap(buf, &map);
  GST_BUFFER_PTS(buf) = pts;
  return buf;
}

// Reads a BGR buffer back into the program's row order; fails the test when
// a stride padding byte changed.
Picture PictureOf(GstBuffer* buf, const GstVideoInfo& info) {
  const int width = GST_VIDEO_INFO_WIDTH(&info);
  const int height = GST_VIDEO_INFO_HEIGHT(&info);
  Picture p{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
  GstMapInfo map;
  gst_buffer_map(buf, &map, GST_MAP_READ);
  const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  for (int r = 0; r < height; r++) {
    const uint8_t* row = map.data + size_t(height - 1 - r) * stride;
    std::memcpy(p.Line(r), row, size_t(width) * 3);
    for (int i = width * 3; i < stride; i++)
      EXPECT_EQ(row[i], kStridePadding) << "padding of line " << r;
  }
  gst_buffer_unmap(buf, &map);
  return p;
}

// Every line listed becomes the mean, rounded down, of its neighbours in the
// original; the others stay as they were.
Picture Interpolated(const Picture& original, const std::vector<int>& lines) {
  Picture p = original;
  for (int r : lines)
    for (int i = 0; i < p.width * 3; i++)
      p.Line(r)[i] =
          uint8_t((original.Line(r - 1)[i] + original.Line(r + 1)[i]) / 2);
  return p;
}

std::vector<int> EveryOtherLine(int first, int last) {
  std::vector<int> lines;
  for (int r = first; r <= last; r += 2) lines.push_back(r);
  return lines;
}

// The first line that differs, for a readable failure.
std::string FirstDifference(const Picture& got, const Picture& want) {
  for (int r = 0; r < want.height; r++)
    for (int i = 0; i < want.width * 3; i++)
      if (got.Line(r)[i] != want.Line(r)[i])
        return "line " + std::to_string(r) + " byte " + std::to_string(i) +
               ": got " + std::to_string(got.Line(r)[i]) + ", want " +
               std::to_string(want.Line(r)[i]);
  return "";
}

std::set<std::string> FormatsOf(GstCaps* caps) {
  std::set<std::string> formats;
  for (guint s = 0; s < gst_caps_get_size(caps); s++) {
    const GValue* v = gst_structure_get_value(gst_caps_get_structure(caps, s), "format");
    if (v == nullptr) continue;
    if (G_VALUE_HOLDS_STRING(v)) {
      formats.insert(g_value_get_string(v));
    } else if (GST_VALUE_HOLDS_LIST(v)) {
      for (guint i = 0; i < gst_value_list_get_size(v); i++)
        formats.insert(g_value_get_string(gst_value_list_get_value(v, i)));
    }
  }
  return formats;
}

// ---- the plug-in and its element -------------------------------------------

TEST(Mr4fPlugin, LoadsByPathWithItsMetadataAndPads) {
  GstElementFactory* factory = gst_element_factory_find("mr4f");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE);
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
               "Halvex2 Replay Filter");
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_DESCRIPTION),
               "Halvex2 deinterlace Replay filter");

  GstPlugin* plugin = gst_plugin_feature_get_plugin(GST_PLUGIN_FEATURE(factory));
  ASSERT_NE(plugin, nullptr);
  EXPECT_STREQ(gst_plugin_get_name(plugin), "mr4f");
  EXPECT_STREQ(gst_plugin_get_description(plugin), "DeInterlace Replay Filter for MeridraV4");
  EXPECT_STREQ(gst_plugin_get_version(plugin), "4.2.6.0");
  gst_object_unref(plugin);

  struct Pad {
    const char* name;
    GstPadDirection direction;
  };
  const Pad pads[] = {{"Input", GST_PAD_SINK}, {"Output1", GST_PAD_SRC}, {"Output2", GST_PAD_SRC}};
  EXPECT_EQ(gst_element_factory_get_num_pad_templates(factory), G_N_ELEMENTS(pads));
  GstElement* element = gst_element_factory_create(factory, "QorFilter");
  ASSERT_NE(element, nullptr);
  for (const Pad& pad : pads) {
    SCOPED_TRACE(pad.name);
    GstPad* p = gst_element_get_static_pad(element, pad.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GST_PAD_DIRECTION(p), pad.direction);
    EXPECT_EQ(GST_PAD_TEMPLATE_PRESENCE(GST_PAD_PAD_TEMPLATE(p)), GST_PAD_ALWAYS);
    gst_object_unref(p);
  }
  gst_object_unref(element);
  gst_object_unref(factory);
}

TEST(Mr4fPlugin, ReportsVersion200AndRefusesANullBlock) {
  GstElement* element = gst_element_factory_make("mr4f", "QorFilter");
  ASSERT_NE(element, nullptr);
  auto version = [&] {
    gint v = 0;
    g_object_get(element, "version", &v, nullptr);
    return v;
  };
  auto attached = [&] {
    gpointer p = nullptr;
    g_object_get(element, "exchange-block", &p, nullptr);
    return p;
  };
  EXPECT_EQ(version(), 200);
  EXPECT_EQ(attached(), nullptr);

  g_object_set(element, "exchange-block", nullptr, nullptr);
  EXPECT_EQ(attached(), nullptr);

  Mr4fExchangeBlock block = ProgramBlock(0);
  g_object_set(element, "exchange-block", &block, nullptr);
  EXPECT_EQ(attached(), &block);
  EXPECT_EQ(version(), MR4F_EXCHANGE_VERSION);

  g_object_set(element, "exchange-block", nullptr, nullptr);
  EXPECT_EQ(attached(), &block) << "a null block must not replace the attached one";
  gst_object_unref(element);
}

// ---- caps -----------------------------------------------------------------

struct CapsCase {
  const char* name;
  bool attach;
  int32_t mode;
  const char* caps;
  bool accepted;
};

TEST(Mr4fCaps, AcceptsOnlyTheFormatsOfTheMode) {
  const CapsCase cases[] = {
      {"mode 0 BGR", true, 0, "video/x-raw,format=BGR,width=720,height=480,framerate=25/1", true},
      {"mode 0 YUY2", true, 0, "video/x-raw,format=YUY2,width=720,height=480,framerate=25/1", false},
      {"mode 0 I420", true, 0, "video/x-raw,format=I420,width=720,height=480,framerate=25/1", false},
      {"mode 0 GRAY8", true, 0, "video/x-raw,format=GRAY8,width=720,height=480,framerate=25/1", true},
      {"mode 0 GRAY16", true, 0, "video/x-raw,format=GRAY16_LE,width=8,height=8,framerate=25/1", false},
      {"mode 0 RGB", true, 0, "video/x-raw,format=RGB,width=720,height=480,framerate=25/1", false},
      {"mode 0 BGRx", true, 0, "video/x-raw,format=BGRx,width=720,height=480,framerate=25/1", false},
      {"mode 0 jpeg", true, 0, "image/jpeg,width=720,height=480,framerate=25/1", false},
      {"mode 1 I420", true, 1, "video/x-raw,format=I420,width=720,height=480,framerate=25/1", true},
      {"mode 1 YV12", true, 1, "video/x-raw,format=YV12,width=720,height=480,framerate=25/1", true},
      {"mode 1 YUY2", true, 1, "video/x-raw,format=YUY2,width=720,height=480,framerate=25/1", true},
      {"mode 1 UYVY", true, 1, "video/x-raw,format=UYVY,width=720,height=480,framerate=25/1", true},
      {"mode 1 BGR", true, 1, "video/x-raw,format=BGR,width=720,height=480,framerate=25/1", false},
      {"mode 1 NV12", true, 1, "video/x-raw,format=NV12,width=720,height=480,framerate=25/1", false},
      {"mode 1 GRAY8", true, 1, "video/x-raw,format=GRAY8,width=720,height=480,framerate=25/1", false},
      {"mode -3 UYVY", true, -3, "video/x-raw,format=UYVY,width=8,height=8,framerate=25/1", true},
      {"no block BGR", false, 0, "video/x-raw,format=BGR,width=720,height=480,framerate=25/1", true},
      {"no block YUY2", false, 0, "video/x-raw,format=YUY2,width=720,height=480,framerate=25/1", false},
      {"too large", true, 0, "video/x-raw,format=BGR,width=65536,height=65536,framerate=25/1", false},
  };
  for (const CapsCase& c : cases) {
    SCOPED_TRACE(c.name);
    GstHarness* h = NewHarness();
    Mr4fExchangeBlock block = ProgramBlock(c.mode);
    if (c.attach) Attach(h, &block);
    EXPECT_EQ(PushCaps(h, c.caps), c.accepted) << c.caps;
    if (c.attach) {
      EXPECT_EQ(block.width != 0, c.accepted) << "block written only for accepted caps";
    }
    // Without a frame buffer or interpolation the frame is not mapped, so
    // any size will do.
    EXPECT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, 16, nullptr)),
              c.accepted ? GST_FLOW_OK : GST_FLOW_NOT_NEGOTIATED);
    gst_harness_teardown(h);
  }
}

TEST(Mr4fCaps, EveryPadOffersTheFormatsOfTheMode) {
  struct Case {
    int32_t mode;
    std::set<std::string> formats;
  };
  const Case cases[] = {
      {0, {"BGR", "GRAY8"}},
      {1, {"I420", "YV12", "YUY2", "UYVY"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    GstElement* element = gst_element_factory_make("mr4f", nullptr);
    Mr4fExchangeBlock block = ProgramBlock(c.mode);
    g_object_set(element, "exchange-block", &block, nullptr);
    for (const char* name : {"Input", "Output1", "Output2"}) {
      SCOPED_TRACE(name);
      GstPad* pad = gst_element_get_static_pad(element, name);
      GstCaps* caps = gst_pad_query_caps(pad, nullptr);
      EXPECT_EQ(FormatsOf(caps), c.formats);
      gst_caps_unref(caps);
      gst_object_unref(pad);
    }
    gst_object_unref(element);
  }
}

// ---- the block's size and timing fields --------------------------------------

TEST(Mr4fBlock, SizeAndTimingFromTheCaps) {
  struct Case {
    const char* name;
    int width, height;
    const char* framerate;
    int32_t duration;  // [100 ns]
    double fps;
  };
  const Case cases[] = {
      {"29.97 as 10000000/333667", 720, 480, "10000000/333667", 333667, 29.97000003},
      {"29.97 as 30000/1001", 720, 480, "30000/1001", 333667, 29.97000003},
      {"no frame rate", 720, 480, "0/1", 333667, 29.97000003},
      {"below 1 ms", 720, 480, "2000/1", 333667, 29.97000003},
      {"exactly 1 ms", 16, 8, "1000/1", 10000, 1000.0},
      {"PAL", 768, 576, "25/1", 400000, 25.0},
      {"one frame an hour", 4, 2, "1/3600", G_MAXINT32, 1e7 / G_MAXINT32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GstHarness* h = NewHarness();
    Mr4fExchangeBlock block = ProgramBlock(0);
    Attach(h, &block);
    ASSERT_TRUE(PushCaps(h, BgrCaps(c.width, c.height, c.framerate)));
    EXPECT_EQ(block.width, c.width);
    EXPECT_EQ(block.height, c.height);
    EXPECT_EQ(block.pixel_count, c.width * c.height);
    EXPECT_EQ(block.frame_bytes, c.width * c.height * 3);
    EXPECT_EQ(block.frame_duration, c.duration);
    EXPECT_EQ(block.field_duration, c.duration / 2);
    EXPECT_DOUBLE_EQ(block.frames_per_second, 1e7 / c.duration);
    EXPECT_NEAR(block.frames_per_second, c.fps, 1e-8);
    gst_harness_teardown(h);
  }
}

TEST(Mr4fBlock, The720x480StreamAt333667) {
  GstHarness* h = NewHarness();
  Mr4fExchangeBlock block = ProgramBlock(0);
  Attach(h, &block);
  ASSERT_TRUE(PushCaps(h, BgrCaps(720, 480, "10000000/333667")));
  EXPECT_EQ(block.pixel_count, 345600);
  EXPECT_EQ(block.frame_bytes, 1036800);
  EXPECT_NEAR(block.frames_per_second, 29.97000003, 5e-9);
  EXPECT_EQ(block.field_duration, 166833);
  gst_harness_teardown(h);
}

// A demuxer may announce a rate the stream does not have (ASF: 25/1 for a
// 29.97 stream with millisecond timestamps): the duration follows the
// timestamps once they differ by more than a tenth, and starts again after
// a flush; timestamps that agree with the caps change nothing.
TEST(Mr4fBlock, FrameDurationFollowsTimestampsThatBelieTheCaps) {
  struct Case {
    const char* name;
    const char* framerate;
    GstClockTime spacing;  // [ns] between the pushed frames
    int32_t duration;      // [100 ns] after 31 frames
  };
  const Case cases[] = {
      {"ASF's 25/1 for 29.97", "25/1", 33366700, 333667},
      {"25/1 with 25 fps stamps", "25/1", 40000000, 400000},
      {"30000/1001 a little off", "30000/1001", 34000000, 333667},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GstHarness* h = NewHarness();
    Mr4fExchangeBlock block = ProgramBlock(0);
    Attach(h, &block);
    const std::string caps = BgrCaps(6, 4, c.framerate);
    ASSERT_TRUE(PushCaps(h, caps));
    const GstVideoInfo info = InfoOf(caps);
    for (int i = 0; i <= 30; i++) {
      // Millisecond stamps, as ASF has them.
      const GstClockTime pts = (i * c.spacing) / GST_MSECOND * GST_MSECOND;
      ASSERT_EQ(gst_harness_push(h, BufferOf(PatternPicture(6, 4), info, pts)), GST_FLOW_OK);
    }
    EXPECT_NEAR(block.frame_duration, c.duration, 400);
    EXPECT_EQ(block.field_duration, block.frame_duration / 2);
    EXPECT_DOUBLE_EQ(block.frames_per_second, 1e7 / block.frame_duration);
    gst_harness_teardown(h);
  }
}

TEST(Mr4fBlock, LeavesTheProgramFieldsAlone) {
  GstHarness* h = NewHarness();
  Mr4fExchangeBlock block = ProgramBlock(0);
  const Mr4fExchangeBlock before = block;
  Attach(h, &block);
  const std::string caps = BgrCaps(6, 4);
  ASSERT_TRUE(PushCaps(h, caps));
  const GstVideoInfo info = InfoOf(caps);
  for (int i = 0; i < 3; i++)
    ASSERT_EQ(gst_harness_push(h, BufferOf(PatternPicture(6, 4), info)), GST_FLOW_OK);
  EXPECT_EQ(gst_harness_buffers_received(h), 3u);
  EXPECT_EQ(block.field_interpolation, before.field_interpolation);
  EXPECT_EQ(block.field_parity, before.field_parity);
  EXPECT_EQ(block.mode, before.mode);
  EXPECT_EQ(block.sample_counter, before.sample_counter) << "mode 0 leaves the counter alone";
  EXPECT_EQ(block.first_sample, before.first_sample);
  EXPECT_EQ(block.last_sample, before.last_sample);
  EXPECT_EQ(block.unused, before.unused);
  EXPECT_EQ(block.padding, before.padding);
  EXPECT_EQ(block.frame_buffer, before.frame_buffer);
  EXPECT_EQ(block.window, before.window);
  gst_harness_teardown(h);
}

TEST(Mr4fBlock, AttachedAfterNegotiationStillLearnsTheSize) {
  GstHarness* h = NewHarness();
  ASSERT_TRUE(PushCaps(h, BgrCaps(320, 240, "30000/1001")));
  Mr4fExchangeBlock block = ProgramBlock(0);
  Attach(h, &block);
  EXPECT_EQ(block.width, 320);
  EXPECT_EQ(block.height, 240);
  EXPECT_EQ(block.frame_bytes, 320 * 240 * 3);
  EXPECT_EQ(block.frame_duration, 333667);
  gst_harness_teardown(h);
}

// GStreamer frames are always top-down (what a negative bitmap height
// declares elsewhere), so a negative height is no valid video caps: it is
// refused, the block stays as it was and frames are not negotiated.
TEST(Mr4fBlock, NegativeHeightIsRefused) {
  GstHarness* h = NewHarness();
  Mr4fExchangeBlock block = ProgramBlock(0);
  Attach(h, &block);
  EXPECT_FALSE(PushCaps(h, BgrCaps(720, -480)));
  EXPECT_EQ(block.width, 0);
  EXPECT_EQ(block.height, 0);
  EXPECT_EQ(block.frame_bytes, 0);
  EXPECT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, 720 * 480 * 3, nullptr)),
            GST_FLOW_NOT_NEGOTIATED);
  EXPECT_EQ(gst_harness_buffers_received(h), 0u);
  gst_harness_teardown(h);
}

// ---- interpolation and the copy --------------------------------------------

TEST(Mr4fFrames, InterpolationRebuildsTheLinesOfTheParity) {
  struct Case {
    const char* name;
    int32_t parity;
    int height;
    std::vector<int> rebuilt;  // lines counted from the bottom
  };
  const Case cases[] = {
      {"parity 0, 480 lines", 0, 480, EveryOtherLine(2, 478)},
      {"parity 1, 480 lines", 1, 480, EveryOtherLine(3, 477)},
      {"parity 2 counts as odd", 2, 480, EveryOtherLine(3, 477)},
      {"parity 0, 1 line", 0, 1, {}},
      {"parity 0, 3 lines", 0, 3, {}},
      {"parity 0, 4 lines", 0, 4, {2}},
      {"parity 0, 5 lines", 0, 5, {2}},
      {"parity 1, 1 line", 1, 1, {}},
      {"parity 1, 5 lines", 1, 5, {}},
      {"parity 1, 6 lines", 1, 6, {3}},
      {"parity 1, 7 lines", 1, 7, {3}},
      {"parity 1, 8 lines", 1, 8, {3, 5}},
  };
  const int width = 5;  // 15 bytes a row, a stride of 16: one padding byte
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GstHarness* h = NewHarness();
    const std::string caps = BgrCaps(width, c.height);
    const GstVideoInfo info = InfoOf(caps);
    std::vector<uint8_t> frame_buffer(size_t(width) * c.height * 3);
    Mr4fExchangeBlock block = ProgramBlock(0);
    block.field_interpolation = 1;
    block.field_parity = c.parity;
    block.frame_buffer = frame_buffer.data();
    Attach(h, &block);
    ASSERT_TRUE(PushCaps(h, caps));

    const Picture original = PatternPicture(width, c.height);
    const Picture want = Interpolated(original, c.rebuilt);
    ASSERT_EQ(gst_harness_push(h, BufferOf(original, info)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(FirstDifference(PictureOf(out, info), want), "") << "output frame";
    gst_buffer_unref(out);
    Picture copied{width, c.height, frame_buffer};
    EXPECT_EQ(FirstDifference(copied, want), "") << "frame buffer";
    gst_harness_teardown(h);
  }
}

TEST(Mr4fFrames, CopyTurnsTheRowsBottomUpAndPacksThem) {
  const int width = 7, height = 5;  // 21 bytes a row, a stride of 24
  GstHarness* h = NewHarness();
  const std::string caps = BgrCaps(width, height);
  const GstVideoInfo info = InfoOf(caps);
  const size_t frame_bytes = size_t(width) * height * 3;
  const uint8_t guard = 0xA5;
  std::vector<uint8_t> frame_buffer(frame_bytes + 16, guard);
  Mr4fExchangeBlock block = ProgramBlock(0);
  block.frame_buffer = frame_buffer.data();
  Attach(h, &block);
  ASSERT_TRUE(PushCaps(h, caps));

  const Picture original = PatternPicture(width, height);
  GstBuffer* in = BufferOf(original, info);
  // The first GStreamer row is the top of the picture: the buffer's last line.
  GstMapInfo map;
  gst_buffer_map(in, &map, GST_MAP_READ);
  std::vector<uint8_t> top_row(map.data, map.data + width * 3);
  gst_buffer_unmap(in, &map);
  ASSERT_EQ(gst_harness_push(h, in), GST_FLOW_OK);

  EXPECT_EQ(std::vector<uint8_t>(frame_buffer.begin() + (height - 1) * width * 3,
                                 frame_buffer.begin() + frame_bytes),
            top_row);
  Picture copied{width, height, {frame_buffer.begin(), frame_buffer.begin() + frame_bytes}};
  EXPECT_EQ(FirstDifference(copied, original), "");
  for (size_t i = frame_bytes; i < frame_buffer.size(); i++)
    ASSERT_EQ(frame_buffer[i], guard) << "written past the frame at " << i;

  GstBuffer* out = gst_harness_pull(h);
  EXPECT_EQ(FirstDifference(PictureOf(out, info), original), "") << "output changed";
  gst_buffer_unref(out);
  gst_harness_teardown(h);
}

// Each plane is copied in turn, bottom-up and packed, within the bytes the
// program allocated: the three planes of a YUV mode, the single green plane
// (GRAY8) the analysis takes in mode 0.
TEST(Mr4fFrames, PlanesAreCopiedBottomUpOneAfterAnother) {
  struct Case {
    const char* format;
    int32_t mode;
    int planes;
    int rows[3], cols[3];
    int32_t frame_bytes;  // what the block announces
  };
  const Case cases[] = {
      {"I420", 1, 3, {4, 2, 2}, {4, 2, 2}, 48},
      {"GRAY8", 0, 1, {4}, {4}, 16},
  };
  const int width = 4, height = 4;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    GstHarness* h = NewHarness();
    const std::string caps =
        std::string("video/x-raw,format=") + c.format + ",width=4,height=4,framerate=25/1";
    GstVideoInfo info = InfoOf(caps);
    const uint8_t guard = 0xA5;
    std::vector<uint8_t> frame_buffer(size_t(width) * height * 3, guard);
    Mr4fExchangeBlock block = ProgramBlock(c.mode);
    block.first_sample = 0;
    block.sample_counter = 0;
    block.frame_buffer = frame_buffer.data();
    Attach(h, &block);
    ASSERT_TRUE(PushCaps(h, caps));
    EXPECT_EQ(block.frame_bytes, c.frame_bytes);

    GstBuffer* in = gst_buffer_new_allocate(nullptr, info.size, nullptr);
    GstVideoFrame frame;
    ASSERT_TRUE(gst_video_frame_map(&frame, &info, in, GST_MAP_WRITE));
    std::vector<uint8_t> want;
    for (int p = 0; p < c.planes; p++) {
      uint8_t* data = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
      const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
      for (int t = 0; t < c.rows[p]; t++)
        for (int x = 0; x < c.cols[p]; x++) data[t * stride + x] = uint8_t(p * 64 + t * 8 + x);
      for (int r = 0; r < c.rows[p]; r++)  // bottom-up: last GStreamer row first
        for (int x = 0; x < c.cols[p]; x++)
          want.push_back(uint8_t(p * 64 + (c.rows[p] - 1 - r) * 8 + x));
    }
    gst_video_frame_unmap(&frame);
    ASSERT_EQ(gst_harness_push(h, in), GST_FLOW_OK);

    EXPECT_EQ(std::vector<uint8_t>(frame_buffer.begin(), frame_buffer.begin() + want.size()),
              want);
    for (size_t i = want.size(); i < frame_buffer.size(); i++)
      ASSERT_EQ(frame_buffer[i], guard) << "written past the planes at " << i;
    gst_harness_teardown(h);
  }
}

// ---- pass-through and the frame message --------------------------------------

TEST(Mr4fFrames, WithoutBufferAndWindowItIsAPassThrough) {
  struct Case {
    const char* name;
    bool attach;
    int32_t interpolation;
  };
  const Case cases[] = {
      {"no block attached", false, 0},
      {"null buffer and window", true, 0},
      {"null buffer and window, interpolating", true, 1},
  };
  const int width = 5, height = 6;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GstHarness* h = NewHarness();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(h->element, bus);
    Mr4fExchangeBlock block = ProgramBlock(0);
    block.field_interpolation = c.interpolation;
    if (c.attach) Attach(h, &block);
    const std::string caps = BgrCaps(width, height);
    const GstVideoInfo info = InfoOf(caps);
    ASSERT_TRUE(PushCaps(h, caps));

    const Picture original = PatternPicture(width, height);
    const Picture want = c.interpolation ? Interpolated(original, {2, 4}) : original;
    GstBuffer* in = BufferOf(original, info, 40 * GST_MSECOND);
    ASSERT_EQ(gst_harness_push(h, gst_buffer_ref(in)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    ASSERT_NE(out, nullptr);
    if (!c.interpolation) {
      EXPECT_EQ(out, in) << "an untouched frame goes on as it came";
    }
    EXPECT_EQ(GST_BUFFER_PTS(out), 40 * GST_MSECOND);
    EXPECT_EQ(FirstDifference(PictureOf(out, info), want), "");
    gst_buffer_unref(out);
    gst_buffer_unref(in);
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT);
    EXPECT_EQ(message, nullptr) << "no window, no frame message";
    if (message) gst_message_unref(message);
    gst_element_set_bus(h->element, nullptr);
    gst_object_unref(bus);
    gst_harness_teardown(h);
  }
}

TEST(Mr4fFrames, EveryFramePostsAMessageWithTheWindow) {
  GstHarness* h = NewHarness();
  GstBus* bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  int window_token = 0;
  std::vector<uint8_t> frame_buffer(4 * 2 * 3);
  Mr4fExchangeBlock block = ProgramBlock(0);
  block.window = &window_token;
  block.frame_buffer = frame_buffer.data();
  Attach(h, &block);
  const std::string caps = BgrCaps(4, 2);
  ASSERT_TRUE(PushCaps(h, caps));
  const GstVideoInfo info = InfoOf(caps);
  for (int i = 0; i < 3; i++)
    ASSERT_EQ(gst_harness_push(h, BufferOf(PatternPicture(4, 2), info, i * 40 * GST_MSECOND)),
              GST_FLOW_OK);

  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE("frame " + std::to_string(i));
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(GST_MESSAGE_SRC(message), GST_OBJECT(h->element));
    const GstStructure* s = gst_message_get_structure(message);
    EXPECT_TRUE(gst_structure_has_name(s, MR4F_FRAME_MESSAGE));
    gpointer window = nullptr;
    guint64 pts = 0;
    gboolean delivered = FALSE;
    EXPECT_TRUE(gst_structure_get(s, "window", G_TYPE_POINTER, &window, "pts", G_TYPE_UINT64,
                                  &pts, "delivered", G_TYPE_BOOLEAN, &delivered, nullptr));
    EXPECT_EQ(window, &window_token);
    EXPECT_EQ(pts, guint64(i) * 40 * GST_MSECOND);
    EXPECT_TRUE(delivered);
    gst_message_unref(message);
  }
  EXPECT_EQ(gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT), nullptr);
  gst_element_set_bus(h->element, nullptr);
  gst_object_unref(bus);
  gst_harness_teardown(h);
}

// The program may attach a new block from its own thread while frames flow:
// every frame is then handled with one block or the other, never lost.
TEST(Mr4fFrames, BlockSwappedWhileFramesFlow) {
  GstHarness* h = NewHarness();
  GstBus* bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  int token_a = 0, token_b = 0;
  std::vector<uint8_t> buffer_a(8 * 4 * 3), buffer_b(8 * 4 * 3);
  Mr4fExchangeBlock a = ProgramBlock(0), b = ProgramBlock(0);
  a.window = &token_a;
  a.frame_buffer = buffer_a.data();
  b.window = &token_b;
  b.frame_buffer = buffer_b.data();
  Attach(h, &a);
  const std::string caps = BgrCaps(8, 4);
  ASSERT_TRUE(PushCaps(h, caps));
  const GstVideoInfo info = InfoOf(caps);

  const int frames = 500;
  std::thread streaming([&] {
    for (int i = 0; i < frames; i++) {
      gst_harness_push(h, BufferOf(PatternPicture(8, 4), info));
      gst_buffer_unref(gst_harness_pull(h));
    }
  });
  for (int i = 0; i < 2000; i++) Attach(h, i % 2 ? &a : &b);
  streaming.join();

  int messages = 0;
  while (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
    gpointer window = nullptr;
    gst_structure_get(gst_message_get_structure(m), "window", G_TYPE_POINTER, &window, nullptr);
    EXPECT_TRUE(window == &token_a || window == &token_b);
    messages++;
    gst_message_unref(m);
  }
  EXPECT_EQ(messages, frames);
  EXPECT_EQ(b.width, 8) << "the swapped-in block learned the size";
  gst_element_set_bus(h->element, nullptr);
  gst_object_unref(bus);
  gst_harness_teardown(h);
}

// ---- the sample window of a non-zero mode --------------------------------------

TEST(Mr4fFrames, NonZeroModeDeliversOnlyTheSampleWindow) {
  struct Case {
    const char* name;
    int32_t counter, first, last;
    int frames;
    std::vector<int> delivered;  // indexes of the frames pushed
  };
  std::vector<int> ten_to_forty;
  for (int i = 10; i <= 40; i++) ten_to_forty.push_back(i);
  const Case cases[] = {
      {"the program's defaults 10 to 40", 0, 10, 40, 50, ten_to_forty},
      {"no upper limit", 0, 3, -1, 8, {3, 4, 5, 6, 7}},
      {"a single sample", 0, 0, 0, 4, {0}},
      {"an empty window", 0, 5, 4, 8, {}},
      {"counter already advanced", 2, 0, 3, 5, {0, 1}},
  };
  const std::string caps = "video/x-raw,format=YUY2,width=4,height=2,framerate=25/1";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GstHarness* h = NewHarness();
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(h->element, bus);
    int window_token = 0;
    std::vector<uint8_t> frame_buffer(4 * 2 * 3);
    Mr4fExchangeBlock block = ProgramBlock(1);
    block.sample_counter = c.counter;
    block.first_sample = c.first;
    block.last_sample = c.last;
    block.frame_buffer = frame_buffer.data();
    block.window = &window_token;
    Attach(h, &block);
    ASSERT_TRUE(PushCaps(h, caps));
    const GstVideoInfo info = InfoOf(caps);

    for (int i = 0; i < c.frames; i++) {
      GstBuffer* buf = gst_buffer_new_allocate(nullptr, info.size, nullptr);
      gst_buffer_memset(buf, 0, uint8_t(i), info.size);
      GST_BUFFER_PTS(buf) = i;
      ASSERT_EQ(gst_harness_push(h, buf), GST_FLOW_OK);
      EXPECT_EQ(frame_buffer[0], uint8_t(i)) << "every frame is copied";
    }
    std::vector<int> got;
    while (GstBuffer* out = gst_harness_try_pull(h)) {
      got.push_back(int(GST_BUFFER_PTS(out)));
      gst_buffer_unref(out);
    }
    EXPECT_EQ(got, c.delivered);
    EXPECT_EQ(block.sample_counter, c.counter + c.frames);

    std::vector<int> announced_delivered;
    int messages = 0;
    while (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
      gboolean delivered = FALSE;
      guint64 pts = 0;
      gst_structure_get(gst_message_get_structure(m), "delivered", G_TYPE_BOOLEAN, &delivered,
                        "pts", G_TYPE_UINT64, &pts, nullptr);
      if (delivered) announced_delivered.push_back(int(pts));
      messages++;
      gst_message_unref(m);
    }
    EXPECT_EQ(messages, c.frames) << "every frame is announced";
    EXPECT_EQ(announced_delivered, c.delivered);
    gst_element_set_bus(h->element, nullptr);
    gst_object_unref(bus);
    gst_harness_teardown(h);
  }
}

// ---- the second output ---------------------------------------------------------

TEST(Mr4fPads, TheSecondOutputGetsEventsButNeverAFrame) {
  struct Case {
    int32_t mode;
    const char* caps;
  };
  const Case cases[] = {
      {0, "video/x-raw,format=BGR,width=4,height=2,framerate=25/1"},
      {1, "video/x-raw,format=UYVY,width=4,height=2,framerate=25/1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caps);
    GstHarness* h = NewHarness();
    GstHarness* h2 = gst_harness_new_with_element(h->element, nullptr, "Output2");
    Mr4fExchangeBlock block = ProgramBlock(c.mode);
    block.sample_counter = 0;
    block.first_sample = 0;
    block.last_sample = -1;
    Attach(h, &block);
    ASSERT_TRUE(PushCaps(h, c.caps));
    const GstVideoInfo info = InfoOf(c.caps);
    for (int i = 0; i < 5; i++)
      ASSERT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, info.size, nullptr)),
                GST_FLOW_OK);
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));

    EXPECT_EQ(gst_harness_buffers_received(h), 5u);
    EXPECT_EQ(gst_harness_buffers_received(h2), 0u);
    std::vector<GstEventType> events;
    while (GstEvent* e = gst_harness_try_pull_event(h2)) {
      events.push_back(GST_EVENT_TYPE(e));
      gst_event_unref(e);
    }
    const std::vector<GstEventType> want = {GST_EVENT_STREAM_START, GST_EVENT_CAPS,
                                            GST_EVENT_SEGMENT, GST_EVENT_EOS};
    EXPECT_EQ(events, want);
    gst_harness_teardown(h2);
    gst_harness_teardown(h);
  }
}

// A filter whose input is not linked ends its output at once, so that the
// sink after it completes its preroll instead of waiting for frames.
TEST(Mr4fPads, AnUnlinkedInputEndsTheStream) {
  GError* error = nullptr;
  GstElement* pipeline =
      gst_parse_launch("mr4f name=QorFilter QorFilter.Output1 ! fakesink", &error);
  ASSERT_NE(pipeline, nullptr) << (error ? error->message : "?");
  ASSERT_EQ(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_ASYNC);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(message, nullptr) << "the pipeline never ended";
  EXPECT_EQ(GST_MESSAGE_TYPE(message), GST_MESSAGE_EOS);
  gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

// ---- in a pipeline ---------------------------------------------------------------

// Pops the next frame message within a generous bound; nullptr when none came.
GstMessage* NextFrameMessage(GstBus* bus) {
  for (;;) {
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_ELEMENT | GST_MESSAGE_ERROR));
    if (m == nullptr) return nullptr;
    if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ELEMENT &&
        gst_structure_has_name(gst_message_get_structure(m), MR4F_FRAME_MESSAGE))
      return m;
    const bool failed = GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR;
    gst_message_unref(m);
    EXPECT_FALSE(failed) << "pipeline error";
    if (failed) return nullptr;
  }
}

GstClockTime PtsOf(GstMessage* m) {
  guint64 pts = GST_CLOCK_TIME_NONE;
  gst_structure_get_uint64(gst_message_get_structure(m), "pts", &pts);
  return pts;
}

// videoconvert in front of the element reaches the mode's formats through
// the element's caps answer, as in the program's replay graph.
TEST(Mr4fPipeline, ConverterNegotiatesTheModeFormat) {
  struct Case {
    int32_t mode;
    std::set<std::string> formats;
  };
  const Case cases[] = {
      {0, {"BGR"}},
      {1, {"I420", "YV12", "YUY2", "UYVY"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "videotestsrc num-buffers=5 ! video/x-raw,format=RGBA,width=64,height=48,"
        "framerate=25/1 ! videoconvert ! mr4f name=QorFilter QorFilter.Output1 ! fakesink",
        &error);
    ASSERT_NE(pipeline, nullptr) << (error ? error->message : "?");
    GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline), "QorFilter");
    int window_token = 0;
    std::vector<uint8_t> frame_buffer(64 * 48 * 3);
    Mr4fExchangeBlock block = ProgramBlock(c.mode);
    block.sample_counter = 0;
    block.first_sample = 0;
    block.last_sample = -1;
    block.window = &window_token;
    block.frame_buffer = frame_buffer.data();
    g_object_set(filter, "exchange-block", &block, nullptr);

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    int frames = 0;
    for (;;) {
      GstMessage* m = gst_bus_timed_pop_filtered(
          bus, 10 * GST_SECOND,
          GstMessageType(GST_MESSAGE_ELEMENT | GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
      ASSERT_NE(m, nullptr) << "the pipeline never ended";
      const GstMessageType type = GST_MESSAGE_TYPE(m);
      if (type == GST_MESSAGE_ELEMENT) frames++;
      gst_message_unref(m);
      ASSERT_NE(type, GST_MESSAGE_ERROR);
      if (type == GST_MESSAGE_EOS) break;
    }
    EXPECT_EQ(frames, 5);
    EXPECT_EQ(block.width, 64);
    EXPECT_EQ(block.height, 48);
    EXPECT_EQ(block.frame_duration, 400000);

    GstPad* output = gst_element_get_static_pad(filter, "Output1");
    GstCaps* caps = gst_pad_get_current_caps(output);
    ASSERT_NE(caps, nullptr);
    const std::set<std::string> negotiated = FormatsOf(caps);
    ASSERT_EQ(negotiated.size(), 1u);
    EXPECT_TRUE(c.formats.count(*negotiated.begin())) << *negotiated.begin();
    gst_caps_unref(caps);
    gst_object_unref(output);

    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(filter);
    gst_object_unref(pipeline);
  }
}

// Paused, the sink holds the element's push until the next step: the frame
// message must already have gone out, or the program would never see the
// frame it stepped to.
TEST(Mr4fPipeline, PausedAndSteppedFramesAreAnnounced) {
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(
      "videotestsrc ! video/x-raw,format=BGR,width=32,height=24,framerate=25/1 ! "
      "mr4f name=QorFilter QorFilter.Output1 ! fakesink",
      &error);
  ASSERT_NE(pipeline, nullptr) << (error ? error->message : "?");
  GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline), "QorFilter");
  int window_token = 0;
  std::vector<uint8_t> frame_buffer(32 * 24 * 3);
  Mr4fExchangeBlock block = ProgramBlock(0);
  block.window = &window_token;
  block.frame_buffer = frame_buffer.data();
  g_object_set(filter, "exchange-block", &block, nullptr);
  GstBus* bus = gst_element_get_bus(pipeline);

  gst_element_set_state(pipeline, GST_STATE_PAUSED);
  ASSERT_EQ(gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND),
            GST_STATE_CHANGE_SUCCESS);
  GstMessage* m = NextFrameMessage(bus);
  ASSERT_NE(m, nullptr) << "no message for the prerolled frame";
  EXPECT_EQ(PtsOf(m), 0u);
  gst_message_unref(m);

  for (int step = 1; step <= 2; step++) {
    SCOPED_TRACE("step " + std::to_string(step));
    ASSERT_TRUE(gst_element_send_event(
        pipeline, gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE)));
    m = NextFrameMessage(bus);
    ASSERT_NE(m, nullptr) << "no message for the stepped-to frame";
    EXPECT_EQ(PtsOf(m), step * 40 * GST_MSECOND);
    gst_message_unref(m);
  }

  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(filter);
  gst_object_unref(pipeline);
}

}  // namespace
