#include "analysis/analysis_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "analysis/detector.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "astro/sky_coordinates.h"
#include "calib/profile_file.h"
#include "calib/profile_fit.h"
#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/clip_record.h"
#include "replay/avi_reader.h"
#include "sim/avi_writer.h"
#include "sim/clip_simulator.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/calib/synthetic_sky.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<AnalysisContext> ClipContext(int w, int h) {
  auto c = std::make_unique<AnalysisContext>();
  AllocateAnalysisContext(*c);
  c->number = 1;
  c->clip.has_avi = true;
  c->clip.width = w;
  c->clip.height = h;
  c->clip.frames = 60;
  c->clip.fps = 29.97;
  c->clip.head = 30;
  c->clip.codecno = 4;
  c->clip.interlaced = 0;
  c->params.consR = 0;
  return c;
}

// Puts the context's run values into a new clip row, as the scan leaves
// them, and its detection parameters into its profile; then runs the clip.
int AnalyzeAsClipRow(AnalysisContext& c) {
  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  const ClipRunValues& v = c.clip;
  const fs::path base(v.base_path);
  clips.SetText(row, clip::kDirectory, base.parent_path().string());
  clips.SetText(row, clip::kClipName, base.filename().string());
  clips.SetInt(row, clip::kMT, (v.has_avi ? KindBit(kKindAvi) : 0) |
                                   (v.has_wmv ? KindBit(kKindWmv) : 0));
  clips.SetInt(row, clip::kFrames, v.frames);
  clips.SetFloat(row, clip::kFps, static_cast<float>(v.fps));
  clips.SetInt(row, clip::kHead, v.head);
  clips.SetInt(row, clip::kCodecno, v.codecno);
  clips.SetFloat(row, clip::kYx, static_cast<float>(v.yx));
  clips.SetInt(row, clip::kCx, v.width);
  clips.SetInt(row, clip::kCy, v.height);
  clips.SetInt(row, clip::kMaxLev, v.maxLev);
  clips.SetInt(row, clip::kInterlaced, v.interlaced);
  clips.SetInt(row, clip::kBbf, v.bbf);
  clips.SetInt(row, clip::kOline, -1);
  // A camera with a clip instant, so that the objects are measured on the
  // sky as a loaded clip's would be.
  CameraProfile& p = c.profile;
  p = testing::MakeSkyProfile();
  p.cx = v.width;
  p.cy = v.height;
  p.p_vx = static_cast<float>(v.vx);
  testing::Refresh(p);
  p.p_u4_f1 = c.params.f1;
  p.p_u4_f2 = c.params.f2;
  p.p_u4_mins = c.params.mins;
  p.p_u4_leap = c.params.leap;
  p.p_u4_rm_small = c.params.rm_small;
  p.p_u4_dloffset = c.params.dlo;
  p.p_u4_consR = static_cast<float>(c.params.consR);
  c.clip_row = row;
  return AnalyzeClip(c);
}

TEST(PrepareRun, FrameRateFromFrameHeight) {
  struct Case {
    int height;
    double fps;
  };
  for (const Case& k : {Case{480, 29.97}, Case{576, 25.0}, Case{1080, 29.97}}) {
    auto c = ClipContext(720, k.height);
    c->clip.fps = 0;
    ASSERT_TRUE(PrepareRun(*c));
    EXPECT_EQ(c->clip.fps, k.fps) << k.height;
  }
}

TEST(PrepareRun, DetectionWindow) {
  struct Case {
    int interlaced, f1, f2, frames, codecno;
    int first, last;
  };
  const Case cases[] = {
      {0, 0, 0, 300, 4, 15, 300},       // f1 = f2 = 0: 15 to frames
      {0, 0, 0, 3000, 4, 15, 2000},     // at most 2000
      {0, 0, 0, 300, -1, 15, 298},      // replay clips end two frames early
      {1, 0, 0, 300, 4, 30, 600},
      {1, 20, 3000, 3000, 4, 40, 4000},  // interlaced stops at field 4000
      {0, 0, 0, 0, 4, 15, 2000},         // unknown count: 2005
  };
  for (const Case& k : cases) {
    auto c = ClipContext(720, 480);
    c->clip.interlaced = k.interlaced;
    c->params.f1 = k.f1;
    c->params.f2 = k.f2;
    c->clip.frames = k.frames;
    c->clip.codecno = k.codecno;
    ASSERT_TRUE(PrepareRun(*c));
    EXPECT_EQ(c->first_detection_field, k.first) << k.frames;
    EXPECT_EQ(c->last_detection_field, k.last) << k.frames;
    EXPECT_EQ(c->min_region, k.interlaced ? 1 : 2);
  }
}

TEST(PrepareRun, UseDloTakesTheCurrentProfilesDetectionParameters) {
  CameraProfile& current = AnalysisContextAt(0).profile;
  const CameraProfile kept = current;
  current.p_u4_dloffset = 17;
  current.p_u4_mins = 5;
  current.p_u4_cdlim = 0.25f;
  for (bool use : {false, true}) {
    AppSettings().useDlo = use;
    auto c = ClipContext(720, 480);
    c->profile.p_u4_dloffset = 10;
    c->profile.p_vx = 40;
    ASSERT_TRUE(PrepareRun(*c));
    EXPECT_EQ(c->params.dlo, use ? 17 : 10);
    EXPECT_EQ(c->profile.p_u4_dloffset, use ? 17 : 10);
    EXPECT_EQ(c->profile.p_u4_mins, use ? 5 : 3);
    EXPECT_EQ(c->profile.p_vx, 40);  // the camera stays the clip's
  }
  AppSettings().useDlo = 0;
  current = kept;
}

TEST(AnalyzeClip, FailureCodes) {
  auto c = ClipContext(64, 48);
  c->clip.has_avi = false;
  EXPECT_EQ(AnalyzeAsClipRow(*c), kAnalysisNoVideo);
  c->clip.has_avi = true;
  c->clip.yx = 0.0005;
  EXPECT_EQ(AnalyzeAsClipRow(*c), kAnalysisBadInput);
  c->clip.yx = 1;
  c->clip.base_path = (fs::temp_directory_path() / "mr4-analysis-missing").string();
  EXPECT_EQ(AnalyzeAsClipRow(*c), kAnalysisBadInput);
}

// A clip with a 3 x 3 blob of level 250 on a flat level 20, moving
// (dx, dy) px per frame from frame 15 on.
struct BlobClip {
  fs::path base;
  int w = 96, h = 64;
  int frames = 40;
  double x0 = 10, y0 = 12, dx = 2, dy = 1;
  int size_x = 3, size_y = 3;  // the blob's extent [px]
  // The sky's level at (frame, x, y); empty: 20 everywhere.
  std::function<int(int, int, int)> sky;

  // The blob's pixel corner in frame k (plane rows from the bottom).
  int X(int k) const { return int(x0 + dx * (k - 15)); }
  int Y(int k) const { return int(y0 + dy * (k - 15)); }

  void Write(AviPixelFormat format) {
    base = fs::temp_directory_path() /
           // Each test runs in a process of its own, at the same time as
           // the others: the file is the test's own.
           ("mr4-analysis-blob-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
            "-" + std::to_string(int(format)) + "-" + std::to_string(getpid()));
    AviWriterOptions o;
    o.format = format;
    o.width = w;
    o.height = h;
    AviWriter writer;
    ASSERT_TRUE(writer.Open(base.string() + ".avi", o)) << writer.error();
    std::vector<std::uint8_t> plane(std::size_t(w) * h);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(writer.ImageBytes()));
    for (int k = 0; k < frames; ++k) {
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) plane[y * w + x] = std::uint8_t(sky ? sky(k, x, y) : 20);
      if (k >= 15)
        for (int y = Y(k); y < Y(k) + size_y; ++y)
          for (int x = X(k); x < X(k) + size_x; ++x) plane[y * w + x] = 250;
      Encode(format, plane, bytes);
      ASSERT_TRUE(writer.WriteFrame(bytes));
    }
    ASSERT_TRUE(writer.Close()) << writer.error();
  }

  void Encode(AviPixelFormat format, const std::vector<std::uint8_t>& plane,
              std::vector<std::uint8_t>& bytes) const {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint8_t g = plane[y * w + x];
        if (format == AviPixelFormat::kDib8) {
          bytes[y * w + x] = g;
        } else {
          // 4:2:2 rows are stored top-down; a grey Y of g gives green g
          // within one level.
          const std::size_t p = (std::size_t(h - 1 - y) * w + x) * 2;
          const auto luma = static_cast<std::uint8_t>(std::lround(g / 1.164383 + 16));
          const bool yuy2 = format == AviPixelFormat::kYuy2;
          bytes[p + (yuy2 ? 0 : 1)] = luma;
          bytes[p + (yuy2 ? 1 : 0)] = 128;
        }
      }
  }
};

TEST(RunOwnReader, OneTrackOnTheBlobPath) {
  App().yuv = BuildYuvTables();
  for (AviPixelFormat format : {AviPixelFormat::kDib8, AviPixelFormat::kYuy2,
                                AviPixelFormat::kUyvy}) {
    BlobClip clip;
    clip.Write(format);
    auto c = ClipContext(clip.w, clip.h);
    c->clip.base_path = clip.base.string();
    c->clip.frames = clip.frames;
    c->clip.codecno = format == AviPixelFormat::kDib8 ? 4 : 1;
    ASSERT_EQ(AnalyzeAsClipRow(*c), kAnalysisOk);
    ASSERT_EQ(c->track_count, 1);
    const Track& t = c->tracks[0];
    EXPECT_EQ(t.first_field, 15);
    EXPECT_EQ(t.end_field, clip.frames - 1);
    ASSERT_EQ(t.sample_count, clip.frames - 15);
    for (int i = 0; i < t.sample_count; ++i) {
      const Detection& d = c->Sample(t.samples[i]);
      EXPECT_EQ(d.field, 15 + i);
      EXPECT_NEAR(d.x, clip.X(d.field) + 1.5, 1.0) << d.field;
      EXPECT_NEAR(d.y, clip.Y(d.field) + 1.5, 1.0) << d.field;
    }
    // One object, chained from the clip row, for the one track.
    const Table& clips = Tables().clip;
    const Table& objects = Tables().obj;
    const int o = clips.Int(c->clip_row, clip::kOline);
    ASSERT_GE(o, 0);
    EXPECT_EQ(objects.Int(o, obj::kOlinenext), -1);
    EXPECT_EQ(objects.Int(o, obj::kCline), c->clip_row);
    EXPECT_EQ(objects.Int(o, obj::kFs), 15);
    EXPECT_EQ(objects.Int(o, obj::kFe), clip.frames - 1);
    EXPECT_EQ(objects.Int(o, obj::kSN), clip.frames - 15);
    EXPECT_EQ(objects.Int(o, obj::kPix), t.pixel_sum);
    EXPECT_EQ(objects.Text(o, obj::kClass), "spo");  // a steady straight trail
    EXPECT_EQ(clips.Int(c->clip_row, clip::kO), 1);
    EXPECT_EQ(clips.Text(c->clip_row, clip::kClass), "spo");
    fs::remove(clip.base.string() + ".avi");
  }
}

TEST(RunOwnReader, InterlacedFieldsInFieldOrder) {
  App().yuv = BuildYuvTables();
  BlobClip clip;
  clip.dy = 0;
  clip.frames = 30;
  clip.Write(AviPixelFormat::kDib8);
  for (int bbf : {0, 1}) {
    auto c = ClipContext(clip.w, clip.h);
    c->clip.base_path = clip.base.string();
    c->clip.frames = clip.frames;
    c->clip.interlaced = 1;
    c->clip.bbf = bbf;
    ASSERT_EQ(AnalyzeAsClipRow(*c), kAnalysisOk);
    ASSERT_EQ(c->track_count, 1);
    const Track& t = c->tracks[0];
    EXPECT_EQ(t.first_field, 30);
    // The blob covers rows 12 to 14: its even-line field (rows 12, 14) and
    // its odd-line one (row 13) both centre at 13.5, the blob's centre.
    const Detection& first = c->Sample(t.samples[0]);
    const Detection& second = c->Sample(t.samples[1]);
    EXPECT_EQ(first.field, 30);
    EXPECT_EQ(second.field, 31);
    EXPECT_NEAR(first.y, 13.5, 1e-9);
    EXPECT_NEAR(second.y, 13.5, 1e-9);
    EXPECT_EQ(first.pixels, bbf ? 6 : 3);
    EXPECT_EQ(second.pixels, bbf ? 3 : 6);
  }
  fs::remove(clip.base.string() + ".avi");
}

// The row convention of interlaced fields: a field holds every other row of
// the frame, and a point on one row, seen only by the field of that row's
// parity, lies at the row's centre (row + 0.5, as in a progressive frame
// and as for the stars), in the field that comes first or second by `bbf`.
TEST(RunOwnReader, InterlacedPointLiesAtItsOwnRowCentre) {
  App().yuv = BuildYuvTables();
  for (int row : {20, 21}) {
    BlobClip clip;
    clip.x0 = 40;
    clip.y0 = row;
    clip.dx = clip.dy = 0;
    clip.size_x = 2;  // two pixels: the smallest region of a field
    clip.size_y = 1;
    clip.frames = 30;
    clip.Write(AviPixelFormat::kDib8);
    for (int bbf : {0, 1}) {
      SCOPED_TRACE("row " + std::to_string(row) + " bbf " + std::to_string(bbf));
      auto c = ClipContext(clip.w, clip.h);
      c->clip.base_path = clip.base.string();
      c->clip.frames = clip.frames;
      c->clip.interlaced = 1;
      c->clip.bbf = bbf;
      ASSERT_EQ(AnalyzeAsClipRow(*c), kAnalysisOk);
      // bbf set: the even rows' field comes first in each frame.
      const int first_parity = bbf ? 0 : 1;
      const int own_field = 30 + (row % 2 == first_parity ? 0 : 1);
      int seen = 0;
      for (int f = 30; f < 2 * clip.frames; ++f) {
        for (int i = 0; i < c->detection_count[f]; ++i) {
          const Detection& d = c->DetectionAt(f, i);
          EXPECT_EQ(f % 2, own_field % 2) << "field " << f;
          EXPECT_DOUBLE_EQ(d.y, row + 0.5) << "field " << f;
          EXPECT_DOUBLE_EQ(d.x, 41.0) << "field " << f;
          ++seen;
        }
      }
      EXPECT_EQ(seen, clip.frames - 15);
      EXPECT_EQ(c->detection_count[own_field], 1);
    }
    fs::remove(clip.base.string() + ".avi");
  }
}

// Light on clouds: frames 11 to 27 brighten the whole field unevenly and
// flicker (as a real clip's do), across the end of the background frames
// and into the detection window. Those frames must neither raise the noise
// level nor leave tracks of their own: the blob, seen through the change,
// stays the run's only track.
TEST(RunOwnReader, WholeFieldBrightnessChangeIsLeftOut) {
  App().yuv = BuildYuvTables();
  auto noise = [](int k, int x, int y) {
    std::uint32_t v = std::uint32_t(k) * 73856093u ^ std::uint32_t(x) * 19349663u ^
                      std::uint32_t(y) * 83492791u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return int(v % 7) - 3;  // -3 .. 3
  };
  auto quiet = [&](int k, int x, int y) { return 30 + noise(k, x, y); };
  auto lit = [&](int k, int x, int y) {
    int level = quiet(k, x, y);
    if (k >= 11 && k <= 27) {
      const double gain = 25 + 20 * std::sin(1.7 * k);  // 5 .. 45 levels
      // Everywhere, and most on one cloud.
      const double cloud = std::exp(-((x - 70) * (x - 70) + (y - 45) * (y - 45)) / 128.0);
      level += int(gain * (0.3 + 0.7 * cloud));
    }
    return level;
  };
  struct Run {
    int noise_level, tracks, left_out, first_field;
  };
  auto analyse = [&](const std::function<int(int, int, int)>& sky) {
    BlobClip clip;
    clip.y0 = 8;
    clip.dy = 0.5;
    clip.sky = sky;
    clip.Write(AviPixelFormat::kDib8);
    auto c = ClipContext(clip.w, clip.h);
    c->clip.base_path = clip.base.string();
    c->clip.frames = clip.frames;
    EXPECT_EQ(AnalyzeAsClipRow(*c), kAnalysisOk);
    fs::remove(clip.base.string() + ".avi");
    return Run{c->noise_level, c->track_count, c->brightness_change_frames,
               c->track_count > 0 ? c->tracks[0].first_field : -1};
  };
  const Run plain = analyse(quiet);
  const Run changed = analyse(lit);
  EXPECT_EQ(plain.tracks, 1);
  EXPECT_EQ(plain.left_out, 0);
  EXPECT_EQ(changed.left_out, 27 - 11 + 1);
  EXPECT_NEAR(changed.noise_level, plain.noise_level, 1);
  EXPECT_EQ(changed.tracks, 1);
  EXPECT_EQ(changed.first_field, 15) << "the blob from its first frame";
}

TEST(RunOwnReader, StopDuringFrame3GivesTheFallback) {
  App().yuv = BuildYuvTables();
  BlobClip clip;
  clip.Write(AviPixelFormat::kDib8);
  auto c = ClipContext(clip.w, clip.h);
  c->clip.base_path = clip.base.string();
  c->stop = 1;
  ASSERT_EQ(AnalyzeAsClipRow(*c), kAnalysisOk);
  EXPECT_EQ(c->track_count, 1);
  EXPECT_EQ(c->tracks[0].pixel_sum, 0);
  fs::remove(clip.base.string() + ".avi");
}

TEST(RunOwnReader, ClipEndingBeforeTheWindowFails) {
  App().yuv = BuildYuvTables();
  BlobClip clip;
  clip.frames = 12;
  clip.Write(AviPixelFormat::kDib8);
  auto c = ClipContext(clip.w, clip.h);
  c->clip.base_path = clip.base.string();
  c->clip.frames = 2005;  // unknown: taken from the file
  EXPECT_EQ(AnalyzeAsClipRow(*c), kAnalysisBadInput);
  EXPECT_EQ(Tables().clip.Int(c->clip_row, clip::kFrames), 12);
  fs::remove(clip.base.string() + ".avi");
}

TEST(RunOwnReader, UnreadableDetectionFramesFailWithoutResult) {
  App().yuv = BuildYuvTables();
  BlobClip clip;
  clip.Write(AviPixelFormat::kDib8);
  // Shrink every frame chunk from frame 15 on below the image size: the
  // reader reports each as a short chunk and the run skips it.
  const fs::path file = clip.base.string() + ".avi";
  std::FILE* f = std::fopen(file.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::vector<char> bytes(fs::file_size(file));
  ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  int frame = 0;
  // The frame chunks come first; the index after them names "00db" too.
  for (std::size_t p = 0; p + 8 <= bytes.size() && frame < clip.frames; ++p) {
    if (std::memcmp(&bytes[p], "00db", 4) != 0) continue;
    if (frame++ >= 15) {
      const std::uint32_t small = 8;
      std::fseek(f, static_cast<long>(p + 4), SEEK_SET);
      std::fwrite(&small, 4, 1, f);
    }
  }
  std::fclose(f);
  ASSERT_EQ(frame, clip.frames);
  auto c = ClipContext(clip.w, clip.h);
  c->clip.base_path = clip.base.string();
  c->clip.frames = clip.frames;
  EXPECT_EQ(AnalyzeAsClipRow(*c), kAnalysisBadInput);
  EXPECT_EQ(c->track_count, 0);
  fs::remove(file);
}

// Each failure of the own reader's run says what is wrong with the video;
// the codec message is for a decoder that is missing, which this reader
// never needs.
TEST(RunOwnReader, FailuresSayWhatIsWrong) {
  App().yuv = BuildYuvTables();
  BlobClip blob;
  blob.Write(AviPixelFormat::kDib8);
  const std::string avi = blob.base.string() + ".avi";
  const std::string bytes = mr4::test::ReadFileBytes(avi);
  // The offset of frame chunk `k` ("00db"): the file cut there holds k frames.
  auto frame_chunk = [&](int k) {
    std::size_t p = bytes.find("00db");
    for (int i = 0; i < k && p != std::string::npos; ++i) p = bytes.find("00db", p + 4);
    return p;
  };
  struct Case {
    const char* what;
    std::string file;  // the video's bytes; empty: no file
    int width, height;  // the clip's frame size
    int frames;         // the capture record's count
    std::string cause;
  };
  const Case cases[] = {
      {"no file", "", blob.w, blob.h, blob.frames, " cannot be read: the file cannot be opened"},
      {"shorter than a header", bytes.substr(0, 600), blob.w, blob.h, blob.frames,
       " cannot be read: the file is shorter than an AVI header (1024 bytes)"},
      {"not an AVI", std::string(2000, 'x'), blob.w, blob.h, blob.frames,
       " cannot be read: not a RIFF file"},
      {"cut before the detection window", bytes.substr(0, frame_chunk(10)), blob.w, blob.h,
       blob.frames, " gave 10 of its 40 frames, none in the detection window (from frame 15)"},
      {"too few frames", bytes.substr(0, frame_chunk(12)), blob.w, blob.h, 12,
       " gave 12 of its 12 frames, none in the detection window (from frame 15)"},
      {"another frame size", bytes, 64, 48, blob.frames, " has frames of 96x64, the clip 64x48"},
  };
  ScriptedUi ui;
  ScopedUi scoped(ui);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui.Clear();
    if (c.file.empty()) {
      fs::remove(avi);
    } else {
      mr4::test::WriteFileBytes(avi, c.file);
    }
    auto context = ClipContext(c.width, c.height);
    context->clip.base_path = blob.base.string();
    context->clip.frames = c.frames;
    EXPECT_EQ(AnalyzeAsClipRow(*context), kAnalysisBadInput);
    const std::vector<ScriptedUi::Shown> shown = ui.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              blob.base.filename().string() + " is not analysed:\n" + avi + c.cause);
  }
  fs::remove(avi);
}

// A simulated Perseid seen by the synthetic-sky camera, run from its clip
// row with the true camera: the object's ends lie on the true trail.
TEST(AnalyzeClip, SimulatedMeteorLiesOnItsTrueTrail) {
  App().yuv = BuildYuvTables();
  LoadShowerCatalogue(fs::path(MR4_SOURCE_DIR) / "data", "V14.jx.csv");
  test::TempDir dir("mr4-analysis-sim");
  SimOptions o;
  o.profile = testing::MakeSkyProfile();
  o.profile.p_inter = 0;
  o.trigger = {2024, 8, 12, 23, 15, 30.0f};
  o.radiant.shower = "PER";
  o.mag_peak = -1.0;
  o.mag_ends = 2.0;
  o.head = 30;
  o.tail = 10;
  o.format = AviPixelFormat::kDib8;
  const SimClipResult r = SimulateClip(o, StarCatalogue{}, dir.path());
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.objects.size(), 1u);
  const SimObjectTruth& truth = r.objects[0];

  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kDirectory, dir.path().string());
  clips.SetText(row, clip::kClipName, r.base);
  clips.SetInt(row, clip::kMT, KindBit(kKindAvi));
  clips.SetInt(row, clip::kOline, -1);
  clips.SetInt(row, clip::kCodecno, ProbeAviFormat(dir / (r.base + ".avi")).code);
  ASSERT_GT(ReadCaptureRecord(dir / (r.base + ".xml"), row), 0);
  StoreProfileToRecord(o.profile, clips, row);

  auto c = std::make_unique<AnalysisContext>();
  AllocateAnalysisContext(*c);
  c->number = 1;
  // The capture mask in mask codes: the detection area lies around the
  // pixels the capture marked, never on the time-stamp band, whose
  // changing digits would raise the noise level above the meteor.
  std::vector<std::uint8_t> mask(std::size_t(720) * 480 * 3);
  ImageBuffer picture{mask, 0, 0};
  ASSERT_EQ(ReadStillBmp(dir / (r.base + "M.BMP"), picture), ImageStatus::kOk);
  const int sipos = clips.Int(row, clip::kSipos), sisize = clips.Int(row, clip::kSisize);
  ConvertCaptureMask(mask, 720, 480, clips.Int(row, clip::kDapix), sipos, sisize);
  LoadClipForRun(*c, row, mask);
  ASSERT_EQ(AnalyzeClip(*c), kAnalysisOk);

  // The meteor is the brightest object; its ends, measured from the frame,
  // lie on the true trail and where the meteor was at their fields' times
  // (the faint first and last frames of the truth may be missed).
  const Table& objects = Tables().obj;
  int meteor = -1;
  for (int k = clips.Int(row, clip::kOline); k >= 0; k = objects.Int(k, obj::kOlinenext))
    if (meteor < 0 || objects.Float(k, obj::kMag) < objects.Float(meteor, obj::kMag)) meteor = k;
  ASSERT_GE(meteor, 0);
  EXPECT_NE(objects.Text(meteor, obj::kClass).substr(0, 1), "_")
      << objects.Text(meteor, obj::kClass);
  constexpr double kDeg = 3.14159265358979323846 / 180;
  auto unit = [](double az, double ev) {
    return std::array<double, 3>{std::cos(ev * kDeg) * std::sin(az * kDeg),
                                 std::cos(ev * kDeg) * std::cos(az * kDeg), std::sin(ev * kDeg)};
  };
  const auto a = unit(truth.start.az, truth.start.ev), b = unit(truth.end.az, truth.end.ev);
  std::array<double, 3> pole{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                             a[0] * b[1] - a[1] * b[0]};
  const double norm = std::sqrt(pole[0] * pole[0] + pole[1] * pole[1] + pole[2] * pole[2]);
  // The true direction at time t along the true arc (uniform in angle: the
  // meteor's angular speed changes little over its flight).
  const double arc = std::acos(std::clamp(a[0] * b[0] + a[1] * b[1] + a[2] * b[2], -1.0, 1.0));
  auto truth_at = [&](double t) {
    const double q = (t - truth.start.t) / (truth.end.t - truth.start.t);
    const double wa = std::sin((1 - q) * arc) / std::sin(arc);
    const double wb = std::sin(q * arc) / std::sin(arc);
    return std::array<double, 3>{wa * a[0] + wb * b[0], wa * a[1] + wb * b[1],
                                 wa * a[2] + wb * b[2]};
  };
  // A sample is the meteor's centroid over its frame's exposure: compared
  // with the truth half a frame after the field's time. The first and last
  // frames are faint and only partly lit, so "along" is looser than
  // "across".
  const double frame = 1 / clips.Float(row, clip::kFps);
  const double fs_time = objects.Float(meteor, obj::kDelay);
  struct End {
    const char* name;
    int az, ev;
    double t;  // the time of the end's field [s]
  };
  for (const End& e :
       {End{"start", obj::kAz1, obj::kEv1, fs_time},
        End{"end", obj::kAz2, obj::kEv2, fs_time + objects.Float(meteor, obj::kSec)}}) {
    const auto u = unit(objects.Float(meteor, e.az), objects.Float(meteor, e.ev));
    const auto w = truth_at(e.t + 0.5 * frame);
    const double across =
        std::fabs(std::asin((u[0] * pole[0] + u[1] * pole[1] + u[2] * pole[2]) / norm)) / kDeg;
    const double along =
        std::acos(std::clamp(u[0] * w[0] + u[1] * w[1] + u[2] * w[2], -1.0, 1.0)) / kDeg;
    EXPECT_LT(across, 0.05) << e.name;
    EXPECT_LT(along, 0.3) << e.name << " (the meteor moves "
                          << arc / kDeg * frame / (truth.end.t - truth.start.t)
                          << " deg per frame)";
  }
}

TEST(AnalysisContext, ImagesCostNothingUntilTouched) {
  AnalysisContext& c = AnalysisContextAt(8);
  AllocateAnalysisContext(c, 0);
  EXPECT_EQ(c.number, 8);
  EXPECT_GE(c.luma_a.size(), std::size_t(kMaxFramePixels));
  EXPECT_EQ(c.background[kMaxFramePixels - 1], 0.0f);
}

TEST(AnalysisContextDeathTest, NoContextBeyondTheArray) {
  EXPECT_EXIT(AnalysisContextAt(kContextCount), ::testing::ExitedWithCode(99), "");
}

}  // namespace
}  // namespace mr4
