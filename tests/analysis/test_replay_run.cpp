// Tests of the analysis through the replay road: a synthetic meteor clip,
// re-encoded by GStreamer without loss, gives through the replay graph the
// tracks the own reader finds on the original; lossy codecs still give the
// meteor on its path; real clips (when present) give their fireball; the
// run's codes, its end at the end of the stream, the stop flag and frames
// of the wrong size. The replay filter is loaded from the build tree; the
// program's replay thread delivers to the headless loop, which the tests
// pump from their main thread.
#include "analysis/replay_run.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis_run.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "clips/clip_files.h"
#include "platform/message_queue.h"
#include "platform/scripted_ui.h"
#include "platform/ui.h"
#include "replay/replay_graph.h"
#include "replay/replay_thread.h"
#include "sim/avi_writer.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/analysis/replay_fixtures.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using mr4::test::TempDir;
using namespace mr4::testing_replay;

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_ = std::string(MR4_TEST_REGISTRY) + "." + std::to_string(::getpid());
    g_setenv("GST_REGISTRY", registry_.c_str(), TRUE);
    gst_init(nullptr, nullptr);
    SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
    ApplyDefaultSettings();
    App().yuv = BuildYuvTables();
    StartReplayThread();
  }
  void TearDown() override {
    ReplayThread().PostCommand(kReplayQuit);
    FinishReplayThread(std::chrono::seconds(5));
    fs::remove(registry_);
  }

 private:
  std::string registry_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// What a test gives a clip row.
struct ClipSpec {
  fs::path base;  // directory / clip name
  int w = 160, h = 120, frames = 60;
  double fps = 29.97;
  int codecno = -1;
  bool wmv = false;  // the clip's video is base + ".wmv"
  int interlaced = 0;
  double vx = 56;    // horizontal field of view [deg]
};

// A clip row as the scan leaves it, loaded into the context's profile.
void AddClipRow(AnalysisContext& c, const ClipSpec& s) {
  Table& clips = Tables().clip;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kDirectory, s.base.parent_path().string());
  clips.SetText(row, clip::kClipName, s.base.filename().string());
  clips.SetInt(row, clip::kMT, KindBit(s.wmv ? kKindWmv : kKindAvi));
  clips.SetInt(row, clip::kFrames, s.frames);
  clips.SetFloat(row, clip::kFps, static_cast<float>(s.fps));
  clips.SetInt(row, clip::kHead, 30);
  clips.SetInt(row, clip::kCodecno, s.codecno);
  clips.SetFloat(row, clip::kYx, 1.0f);
  clips.SetInt(row, clip::kCx, s.w);
  clips.SetInt(row, clip::kCy, s.h);
  clips.SetInt(row, clip::kMaxLev, 255);
  clips.SetInt(row, clip::kInterlaced, s.interlaced);
  clips.SetInt(row, clip::kBbf, 0);
  clips.SetInt(row, clip::kOline, -1);
  c.profile = CameraProfile{};
  c.profile.cx = s.w;
  c.profile.cy = s.h;
  c.profile.p_vx = static_cast<float>(s.vx);
  c.profile.p_u4_consR = 0;  // no joining: the samples carry no sky positions here
  c.clip_row = row;
  c.stop = 0;
}

int AnalyzeAsClipRow(AnalysisContext& c, const ClipSpec& s) {
  AddClipRow(c, s);
  return AnalyzeClip(c);
}

struct Sample {
  int field;
  int pixels;
  double x, y;
};

std::vector<std::vector<Sample>> TracksOf(AnalysisContext& c) {
  std::vector<std::vector<Sample>> tracks;
  for (int t = 0; t < c.track_count; ++t) {
    std::vector<Sample> samples;
    for (int i = 0; i < c.tracks[t].sample_count; ++i) {
      const Detection& d = c.Sample(c.tracks[t].samples[i]);
      samples.push_back({d.field, d.pixels, d.x, d.y});
    }
    tracks.push_back(samples);
  }
  return tracks;
}

std::string Describe(const std::vector<std::vector<Sample>>& tracks) {
  std::string text;
  char line[96];
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    const auto& s = tracks[t];
    if (s.empty()) continue;
    std::snprintf(line, sizeof line, "track %zu: %zu samples, fields %d..%d, (%.1f, %.1f)..(%.1f, %.1f)\n",
                  t, s.size(), s.front().field, s.back().field, s.front().x, s.front().y,
                  s.back().x, s.back().y);
    text += line;
  }
  return text;
}

// The track with the most samples in fields [from, to].
const std::vector<Sample>* LongestIn(const std::vector<std::vector<Sample>>& tracks, int from,
                                     int to) {
  const std::vector<Sample>* best = nullptr;
  std::size_t best_count = 0;
  for (const auto& t : tracks) {
    std::size_t n = 0;
    for (const Sample& s : t) n += s.field >= from && s.field <= to;
    if (n > best_count) {
      best_count = n;
      best = &t;
    }
  }
  return best;
}

class ReplayRunTest : public ::testing::Test {
 protected:
  ReplayRunTest() : scoped_ui_(ui_), pump_(DefaultHeadlessLoop()) {
    AllocateAnalysisContext(replayed_);
    AllocateAnalysisContext(own_);
    own_.number = 1;
  }

  std::string Messages() const {
    std::string all;
    for (const auto& m : ui_.messages()) all += "[" + m.text + "]";
    return all;
  }

  TempDir dir_{"mr4-replay-run"};
  ScriptedUi ui_;
  ScopedUi scoped_ui_;
  ScopedReplayPump pump_;
  AnalysisContext& replayed_ = AnalysisContextAt(0);
  AnalysisContext own_;
};

// The own reader on the original and the replay road on a lossless copy
// see the same frames, so they find the same tracks, sample for sample.
TEST_F(ReplayRunTest, LosslessCopyGivesTheOwnReadersTracks) {
  if (!HaveElements({"avenc_huffyuv", "avdec_huffyuv", "avimux"}))
    GTEST_SKIP() << "no Huffyuv encoder and decoder (gstreamer1.0-libav)";
  struct Case {
    const char* name;
    AviPixelFormat format;
    int codecno;
    const char* encoder;
    int interlaced;
  };
  // A 24-bit frame reaches the analysis byte for byte on both roads; a
  // 4:2:2 frame is turned into green by the program's tables on both (the
  // replay's colour converter uses them too), and a 4:2:0 copy (raw I420 in
  // AVI) loses only chroma, which a grey sky does not have.
  const Case cases[] = {
      {"dib24", AviPixelFormat::kDib24, 4, "video/x-raw,format=RGB ! avenc_huffyuv ! avimux", 0},
      {"yuy2", AviPixelFormat::kYuy2, 1, "video/x-raw,format=Y42B ! avenc_huffyuv ! avimux", 0},
      {"yuy2 as 4:2:0", AviPixelFormat::kYuy2, 1,
       "video/x-raw,format=I420 ! avimux", 0},
      {"dib24 interlaced", AviPixelFormat::kDib24, 4,
       "video/x-raw,format=RGB ! avenc_huffyuv ! avimux", 1},
  };
  int n = 0;
  const MeteorClip meteor;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const fs::path original = dir_ / ("M20240101_0000" + std::to_string(10 + n));
    const fs::path copy = dir_ / ("M20240101_0001" + std::to_string(10 + n++));
    ASSERT_EQ(meteor.Write(original.string() + ".avi", k.format), "");
    ASSERT_EQ(Transcode(original.string() + ".avi", copy.string() + ".avi", k.encoder), "");

    ClipSpec own_spec{original};
    own_spec.codecno = k.codecno;
    own_spec.interlaced = k.interlaced;
    ClipSpec copy_spec{copy};
    copy_spec.interlaced = k.interlaced;
    ASSERT_EQ(AnalyzeAsClipRow(own_, own_spec), kAnalysisOk) << Messages();
    ASSERT_EQ(AnalyzeAsClipRow(replayed_, copy_spec), kAnalysisOk) << Messages();
    EXPECT_FALSE(ReplayRunActive());

    EXPECT_EQ(replayed_.noise_level, own_.noise_level);
    const auto own_tracks = TracksOf(own_);
    const auto replayed_tracks = TracksOf(replayed_);
    SCOPED_TRACE("own reader:\n" + Describe(own_tracks) + "replay:\n" + Describe(replayed_tracks));
    ASSERT_EQ(own_tracks.size(), 1u);
    ASSERT_EQ(replayed_tracks.size(), own_tracks.size());
    const auto& a = own_tracks[0];
    const auto& b = replayed_tracks[0];
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a.front().field, meteor.first * (k.interlaced + 1));
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(b[i].field, a[i].field) << i;
      EXPECT_EQ(b[i].x, a[i].x) << "field " << a[i].field;
      EXPECT_EQ(b[i].y, a[i].y) << "field " << a[i].field;
      EXPECT_EQ(b[i].pixels, a[i].pixels) << "field " << a[i].field;
    }
    // The run writes the frames it saw back into the row (the clip's own
    // count here), and the result file.
    EXPECT_EQ(Tables().clip.Int(replayed_.clip_row, clip::kFrames), meteor.frames);
    EXPECT_TRUE(fs::exists(copy.string() + "A.XML"));
  }
}

// Lossy codecs: the meteor is found on its path, in AVI files in its own
// frames.
TEST_F(ReplayRunTest, LossyCodecsGiveTheMeteorOnItsPath) {
  struct Case {
    const char* name;
    std::initializer_list<const char*> elements;
    const char* encoder;
    bool wmv;
    double tolerance;  // px
  };
  const Case cases[] = {
      {"Motion JPEG in AVI", {"jpegenc", "jpegdec", "avimux"}, "jpegenc quality=85 ! avimux",
       false, 1.0},
      {"H.264 in AVI",
       {"x264enc", "avdec_h264", "h264parse", "avimux"},
       "video/x-raw,format=I420 ! x264enc speed-preset=ultrafast tune=zerolatency quantizer=20 "
       "pass=qual ! avimux",
       false, 1.0},
      {"WMV2 in ASF", {"avenc_wmv2", "avdec_wmv2", "avmux_asf", "asfdemux"},
       // Its demuxer announces 25 frames per second for this 29.97 stream;
       // the replay follows the timestamps.
       "avenc_wmv2 bitrate=2000000 ! avmux_asf", true, 2.0},
  };
  const MeteorClip meteor;
  const fs::path original = dir_ / "M20240101_010000";
  ASSERT_EQ(meteor.Write(original.string() + ".avi", AviPixelFormat::kDib24), "");
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (!HaveElements(k.elements)) {
      std::printf("skipped %s: its encoder or decoder is not installed\n", k.name);
      continue;
    }
    const fs::path copy = dir_ / ("M20240101_0101" + std::to_string(10 + n++));
    ASSERT_EQ(Transcode(original.string() + ".avi", copy.string() + (k.wmv ? ".wmv" : ".avi"),
                        k.encoder),
              "");
    ClipSpec spec{copy};
    spec.wmv = k.wmv;
    ASSERT_EQ(AnalyzeAsClipRow(replayed_, spec), kAnalysisOk) << Messages();
    const auto tracks = TracksOf(replayed_);
    SCOPED_TRACE(Describe(tracks));
    const std::vector<Sample>* found = LongestIn(tracks, meteor.first, meteor.last);
    ASSERT_NE(found, nullptr);
    // The path: distance from the meteor's line, and inside its span.
    const double length = std::hypot(meteor.vx, meteor.vy);
    const double span = (meteor.last - meteor.first) * length;
    int on_path = 0;
    for (const Sample& s : *found) {
      if (s.field < meteor.first || s.field > meteor.last) continue;
      const double dx = s.x - meteor.X(meteor.first), dy = s.y - meteor.Y(meteor.first);
      const double along = (dx * meteor.vx + dy * meteor.vy) / length;
      const double across = (dy * meteor.vx - dx * meteor.vy) / length;
      EXPECT_NEAR(across, 0.0, k.tolerance) << "field " << s.field;
      EXPECT_GE(along, -k.tolerance) << "field " << s.field;
      EXPECT_LE(along, span + k.tolerance) << "field " << s.field;
      EXPECT_NEAR(s.x, meteor.X(s.field), k.tolerance) << "field " << s.field;
      EXPECT_NEAR(s.y, meteor.Y(s.field), k.tolerance) << "field " << s.field;
      ++on_path;
    }
    EXPECT_GE(on_path, (meteor.last - meteor.first + 1) * 8 / 10);
  }
}

// The run's own codes, and what ends it.
TEST_F(ReplayRunTest, CodesAndEnds) {
  const MeteorClip meteor;
  const fs::path base = dir_ / "M20240101_020000";
  ASSERT_EQ(meteor.Write(base.string() + ".avi", AviPixelFormat::kDib24), "");

  // No video file to replay: 82, said so, nothing written.
  ClipSpec missing{dir_ / "M20240101_020001"};
  EXPECT_EQ(AnalyzeAsClipRow(replayed_, missing), kAnalysisNoReplayVideo);
  EXPECT_NE(Messages().find("[M20240101_020001 is not analysed:\n" + missing.base.string() +
                            " has no video file (.avi or .wmv)]"),
            std::string::npos)
      << Messages();
  EXPECT_FALSE(fs::exists(missing.base.string() + "A.XML"));
  // No clip in the context.
  replayed_.clip_row = -1;
  EXPECT_EQ(RunReplay(replayed_), kAnalysisNoReplayClip);

  // An unknown frame count: the end of the stream ends the run, which
  // writes the frames it saw.
  ClipSpec unknown{base};
  unknown.frames = 0;
  ASSERT_EQ(AnalyzeAsClipRow(replayed_, unknown), kAnalysisOk) << Messages();
  EXPECT_EQ(Tables().clip.Int(replayed_.clip_row, clip::kFrames), meteor.frames);
  ASSERT_EQ(replayed_.track_count, 1);
  EXPECT_EQ(replayed_.tracks[0].first_field, meteor.first);

  // The row's frame size differs from the stream's: no frame is analysed.
  ClipSpec wrong_size{base};
  wrong_size.w = 320;
  wrong_size.h = 240;
  ui_.Clear();
  EXPECT_EQ(AnalyzeAsClipRow(replayed_, wrong_size), kAnalysisBadInput);
  EXPECT_NE(Messages().find(base.string() + ".avi has frames of " +
                            std::to_string(meteor.w) + "x" + std::to_string(meteor.h) +
                            ", the clip 320x240]"),
            std::string::npos)
      << Messages();

  // A stream that cannot be decoded: 12.
  const fs::path junk = dir_ / "M20240101_020002";
  mr4::test::WriteFileBytes(junk.string() + ".avi", std::string(4096, 'x'));
  ui_.Clear();
  EXPECT_EQ(AnalyzeAsClipRow(replayed_, ClipSpec{junk}), kAnalysisBadInput);
  EXPECT_EQ(Messages().find("AVI FOURCC"), std::string::npos) << Messages();
  EXPECT_NE(Messages().find("[M20240101_020002 is not analysed:\n" + junk.string() +
                            ".avi cannot be decoded: GStreamer element "),
            std::string::npos)
      << Messages();
  EXPECT_FALSE(ReplayThread().AnalysisInstalled());
}

// A clip whose decoder GStreamer lacks fails with 12, and the message names
// what is missing. The JPEG decoders are hidden from decodebin here by
// their rank.
TEST_F(ReplayRunTest, AMissingDecoderIsNamed) {
  if (!HaveElements({"jpegenc", "avimux"})) GTEST_SKIP() << "no jpegenc";
  const MeteorClip meteor;
  const fs::path original = dir_ / "M20240101_021000";
  const fs::path copy = dir_ / "M20240101_021001";
  ASSERT_EQ(meteor.Write(original.string() + ".avi", AviPixelFormat::kDib24), "");
  ASSERT_EQ(Transcode(original.string() + ".avi", copy.string() + ".avi",
                      "jpegenc ! avimux"), "");
  std::vector<std::pair<GstPluginFeature*, guint>> hidden;
  GList* decoders = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER,
                                                          GST_RANK_NONE);
  GstCaps* jpeg = gst_caps_from_string("image/jpeg");
  for (GList* f = decoders; f; f = f->next) {
    auto* factory = GST_ELEMENT_FACTORY(f->data);
    if (!gst_element_factory_can_sink_any_caps(factory, jpeg)) continue;
    auto* feature = GST_PLUGIN_FEATURE(gst_object_ref(factory));
    hidden.emplace_back(feature, gst_plugin_feature_get_rank(feature));
    gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
  }
  gst_caps_unref(jpeg);
  gst_plugin_feature_list_free(decoders);

  const int code = AnalyzeAsClipRow(replayed_, ClipSpec{copy});
  for (auto& [feature, rank] : hidden) {
    gst_plugin_feature_set_rank(feature, rank);
    gst_object_unref(feature);
  }
  EXPECT_EQ(code, kAnalysisBadInput);
  EXPECT_NE(Messages().find("AVI FOURCC"), std::string::npos) << Messages();
  EXPECT_NE(Messages().find("GStreamer has no decoder for image/jpeg"), std::string::npos)
      << Messages();
  EXPECT_FALSE(fs::exists(copy.string() + "A.XML"));
}

// A video shorter than its capture record says is analysed as far as it
// goes, with a warning that names the clip and both counts; a complete one
// gives none.
TEST_F(ReplayRunTest, AShortVideoIsAnalysedWithAWarning) {
  const MeteorClip meteor;
  const fs::path base = dir_ / "M20240101_022000";
  ASSERT_EQ(meteor.Write(base.string() + ".avi", AviPixelFormat::kDib24), "");
  struct Case {
    int announced;
    bool warned;
  };
  for (const Case& k : {Case{meteor.frames, false}, Case{100, true}}) {
    SCOPED_TRACE(k.announced);
    ui_.Clear();
    ClipSpec spec{base};
    spec.frames = k.announced;
    ASSERT_EQ(AnalyzeAsClipRow(replayed_, spec), kAnalysisOk) << Messages();
    const std::string warning = "M20240101_022000: 60 of the 100 frames the capture record "
                                "announces could be read";
    EXPECT_EQ(Messages().find(warning) != std::string::npos, k.warned) << Messages();
    ASSERT_EQ(replayed_.track_count, 1);
    EXPECT_TRUE(fs::exists(base.string() + "A.XML"));
  }
}

// A run ends with what it has when the stop flag is raised, on
// SignalReplayRun ("Stop"), and when its frames stop coming (the watchdog).
TEST_F(ReplayRunTest, StoppedRunsEndWithWhatTheyHave) {
  const MeteorClip meteor;
  const fs::path base = dir_ / "M20240101_030000";
  ASSERT_EQ(meteor.Write(base.string() + ".avi", AviPixelFormat::kDib24), "");
  enum class End { kStopFlag, kSignal, kFramesStop };
  for (End end : {End::kStopFlag, End::kSignal, End::kFramesStop}) {
    SCOPED_TRACE(static_cast<int>(end));
    // From the main loop (as the dialog's button), once the meteor has
    // been seen for ten frames.
    const MessageQueue::TimerId timer = DefaultHeadlessLoop().StartTimer(
        std::chrono::milliseconds(1), [&] {
          if (replayed_.field_counter < meteor.first + 10) return;
          switch (end) {
            case End::kStopFlag: replayed_.stop = 1; break;
            case End::kSignal: SignalReplayRun(); break;
            // The frames no longer reach the run.
            case End::kFramesStop: ReplayThread().RemoveAnalysis(); break;
          }
        });
    ASSERT_EQ(AnalyzeAsClipRow(replayed_, ClipSpec{base}), kAnalysisOk) << Messages();
    DefaultHeadlessLoop().StopTimer(timer);
    ASSERT_EQ(replayed_.track_count, 1);
    const Track& t = replayed_.tracks[0];
    EXPECT_EQ(t.first_field, meteor.first);
    EXPECT_LT(t.last_field, meteor.last) << "the run went on after its end";
    EXPECT_TRUE(fs::exists(base.string() + "A.XML"));
    fs::remove(base.string() + "A.XML");
  }
  replayed_.stop = 0;
}

// An interrupt (Ctrl-C) ends a run without writing: the clip keeps its old
// result file, wherever in the clip the interrupt comes.
TEST_F(ReplayRunTest, AnInterruptedRunKeepsTheOldResultFile) {
  const MeteorClip meteor;
  const fs::path base = dir_ / "M20240101_031000";
  ASSERT_EQ(meteor.Write(base.string() + ".avi", AviPixelFormat::kDib24), "");
  const std::string old_result = "the old result file\r\n";
  for (int at_field : {0, 5, meteor.first + 10}) {
    SCOPED_TRACE(at_field);
    mr4::test::WriteFileBytes(base.string() + "A.XML", old_result);
    const MessageQueue::TimerId timer = DefaultHeadlessLoop().StartTimer(
        std::chrono::milliseconds(1), [&] {
          if (replayed_.field_counter >= at_field) replayed_.stop = kStopKeepingResult;
        });
    AddClipRow(replayed_, ClipSpec{base});
    if (at_field == 0) replayed_.stop = kStopKeepingResult;
    EXPECT_EQ(AnalyzeClip(replayed_), kAnalysisStopped) << Messages();
    DefaultHeadlessLoop().StopTimer(timer);
    EXPECT_EQ(mr4::test::ReadFileBytes(base.string() + "A.XML"), old_result);
    EXPECT_EQ(Messages().find("AVI FOURCC"), std::string::npos) << Messages();
  }
  replayed_.stop = 0;
}

// The parallel analysis: the replay run on a worker thread (it blocks
// while the main thread runs its loop, which analyses the frames), an own
// reader run on another at the same time.
TEST_F(ReplayRunTest, RunsOnAWorkerWhileTheMainLoopTakesItsFrames) {
  const MeteorClip meteor;
  const fs::path replayed = dir_ / "M20240101_050000";
  const fs::path own = dir_ / "M20240101_050001";
  ASSERT_EQ(meteor.Write(replayed.string() + ".avi", AviPixelFormat::kDib24), "");
  ASSERT_EQ(meteor.Write(own.string() + ".avi", AviPixelFormat::kDib24), "");
  ClipSpec own_spec{own};
  own_spec.codecno = 4;
  // The rows come from the scan, before the workers start.
  AddClipRow(replayed_, ClipSpec{replayed});
  AddClipRow(own_, own_spec);
  std::atomic<int> done{0};
  int replay_code = -1, own_code = -1;
  std::thread slot0([&] {
    replay_code = AnalyzeClip(replayed_);
    ++done;
  });
  std::thread slot1([&] {
    own_code = AnalyzeClip(own_);
    ++done;
  });
  const bool finished = DefaultHeadlessLoop().RunUntil([&] { return done.load() == 2; },
                                                       std::chrono::seconds(60));
  slot0.join();
  slot1.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(replay_code, kAnalysisOk) << Messages();
  EXPECT_EQ(own_code, kAnalysisOk) << Messages();
  const auto a = TracksOf(own_);
  const auto b = TracksOf(replayed_);
  ASSERT_EQ(a.size(), 1u) << Describe(a);
  ASSERT_EQ(b.size(), 1u) << Describe(b);
  ASSERT_EQ(a[0].size(), b[0].size());
  for (std::size_t i = 0; i < a[0].size(); ++i) {
    EXPECT_EQ(b[0][i].field, a[0][i].field);
    EXPECT_EQ(b[0][i].x, a[0][i].x);
    EXPECT_EQ(b[0][i].y, a[0][i].y);
  }
}

// Runs one after the other on one clip (slot 0 of the parallel analysis):
// each starts while the end of the previous stream may still be on its way
// to the main loop, and each gives the same track.
TEST_F(ReplayRunTest, BackToBackRunsGiveTheSameTrack) {
  const MeteorClip meteor;
  const fs::path base = dir_ / "M20240101_060000";
  ASSERT_EQ(meteor.Write(base.string() + ".avi", AviPixelFormat::kDib24), "");
  std::vector<std::vector<Sample>> first;
  for (int run = 0; run < 6; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(AnalyzeAsClipRow(replayed_, ClipSpec{base}), kAnalysisOk) << Messages();
    const auto tracks = TracksOf(replayed_);
    ASSERT_EQ(tracks.size(), 1u) << Describe(tracks);
    if (run == 0) {
      first = tracks;
      continue;
    }
    ASSERT_EQ(tracks[0].size(), first[0].size());
    for (std::size_t i = 0; i < tracks[0].size(); ++i) {
      EXPECT_EQ(tracks[0][i].field, first[0][i].field);
      EXPECT_EQ(tracks[0][i].x, first[0][i].x);
    }
  }
}

TEST_F(ReplayRunTest, SecondFrameFunctionIsFatal) {
  ::testing::FLAGS_gtest_death_test_style = "threadsafe";
  const MeteorClip meteor;
  const fs::path base = dir_ / "M20240101_040000";
  ASSERT_EQ(meteor.Write(base.string() + ".avi", AviPixelFormat::kDib24), "");
  EXPECT_EXIT(
      {
        SetUi(nullptr);  // the console: the message goes to stderr
        ReplayAnalysisHooks hooks;
        hooks.on_frame = [](const DeliveredFrame&) {};
        ReplayThread().InstallAnalysis(hooks);
        AnalyzeAsClipRow(replayed_, ClipSpec{base});
      },
      ::testing::ExitedWithCode(99), "still Analyze1 running");
}

// Real clips: their fireballs. They have no profile and no mask: an
// all-sky field of view and nothing masked.
TEST_F(ReplayRunTest, RealClipsGiveTheirFireballs) {
  const fs::path clips = fs::path(MR4_SOURCE_DIR) / ".." / "shared" / "clips";
  struct Case {
    const char* file;
    std::initializer_list<const char*> decoders;
    int w, h, frames;
    double fps;
    int from, to;               // the fireball's frames
    double x0, x1, y0, y1;      // its box [px], y from the bottom; x1 < 0: anywhere
  };
  const Case cases[] = {
      {"meteor1.avi", {"avdec_mpeg4"}, 640, 480, 181, 29.97, 103, 125, 330, 375, 110, 175},
      {"meteor5.flv", {"flvdemux", "avdec_flv"}, 320, 240, 295, 25.0, 0, 295, 0, -1, 0, 0},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const fs::path file = clips / k.file;
    if (!fs::exists(file)) {
      std::printf("skipped %s: not present\n", k.file);
      continue;
    }
    if (!HaveElements(k.decoders)) {
      std::printf("skipped %s: no decoder (gstreamer1.0-libav)\n", k.file);
      continue;
    }
    // The clip under a clip name, its video as an AVI kind.
    const fs::path base = dir_ / ("M20160101_00000" + std::to_string(n++));
    fs::create_symlink(fs::absolute(file), base.string() + ".avi");
    ClipSpec spec{base};
    spec.w = k.w;
    spec.h = k.h;
    spec.frames = k.frames;
    spec.fps = k.fps;
    spec.vx = 180;
    ASSERT_EQ(AnalyzeAsClipRow(replayed_, spec), kAnalysisOk) << Messages();
    const auto tracks = TracksOf(replayed_);
    std::printf("%s: noise level %d\n%s", k.file, replayed_.noise_level, Describe(tracks).c_str());
    const std::vector<Sample>* fireball = LongestIn(tracks, k.from, k.to);
    ASSERT_NE(fireball, nullptr) << Describe(tracks);
    int inside = 0;
    for (const Sample& s : *fireball) {
      if (s.field < k.from || s.field > k.to) continue;
      if (k.x1 < 0 || (s.x >= k.x0 && s.x <= k.x1 && s.y >= k.y0 && s.y <= k.y1)) ++inside;
    }
    EXPECT_GE(inside, 3) << Describe(tracks);
  }
}

}  // namespace
}  // namespace mr4
