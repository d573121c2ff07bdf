// Tests of the replay graph and the replay thread on uncompressed clips
// written by the simulator's AVI writer (24-bit DIB, numbered frames): the
// frames a command delivers, byte for byte and bottom-up as the writer gave
// them; field stepping; the end of the stream; failures and their texts.
// The replay filter plug-in is loaded by its path in the build tree (the
// tests' own registry does not know it). Headless: fakesinks only, every
// wait bounded.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/process_values.h"
#include "app/settings.h"
#include "platform/message_queue.h"
#include "platform/scripted_ui.h"
#include "replay/replay_thread.h"
#include "tests/replay/avi_fixtures.h"

namespace mr4 {
namespace {

using testing_avi::Bytes;
using testing_avi::NumberedFrame;
using testing_avi::TempDir;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrameBytes = kWidth * kHeight * 3;
constexpr int kFrameDuration = 400000;  // 25 frames per second [100 ns]
constexpr auto kWaitLimit = std::chrono::seconds(15);

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // A registry of this process's own, so the filter is found only
    // through the plug-in file (and parallel test processes do not share
    // one file).
    registry_ = std::string(MR4_TEST_REGISTRY) + "." + std::to_string(::getpid());
    g_setenv("GST_REGISTRY", registry_.c_str(), TRUE);
    gst_init(nullptr, nullptr);
    SetReplayPluginFile(std::filesystem::path(MR4F_PLUGIN_FILE));
  }
  void TearDown() override { std::filesystem::remove(registry_); }

 private:
  std::string registry_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// The clip view: records what the replay shows it.
class RecordingView final : public ReplayView {
 public:
  void SetTrackRange(std::int64_t milliseconds) override { range_ms = milliseconds; }
  void SetTrackPosition(std::int64_t milliseconds) override { position_ms = milliseconds; }
  void ShowStopped() override { ++stopped; }
  void Redraw(const DeliveredFrame& frame) override {
    frames.push_back(frame);
    pixels.emplace_back(frame.buffer->begin(), frame.buffer->end());
  }
  std::vector<DeliveredFrame> Requested() const {
    std::vector<DeliveredFrame> out;
    for (const DeliveredFrame& f : frames) {
      if (f.requested) out.push_back(f);
    }
    return out;
  }
  int CountRequested() const { return static_cast<int>(Requested().size()); }
  const Bytes& LastRequestedPixels() const {
    for (std::size_t i = frames.size(); i-- > 0;) {
      if (frames[i].requested) return pixels[i];
    }
    static const Bytes none;
    return none;
  }

  std::int64_t range_ms = -1;
  std::int64_t position_ms = -1;
  int stopped = 0;
  std::vector<DeliveredFrame> frames;
  std::vector<Bytes> pixels;  // copies made when the frame was shown
};

// A replay thread with its own main loop, view and Ui, and a clip of
// numbered 24-bit frames.
class ReplayTest : public ::testing::Test {
 protected:
  ReplayTest() : scoped_ui_(ui_) {
    ApplyDefaultSettings();
    replay_.SetView(&view_);
  }
  ~ReplayTest() override {
    replay_.PostCommand(kReplayQuit);
    loop_.RunUntil([&] { return replay_.ended(); }, kWaitLimit);
  }

  std::filesystem::path WriteClip(const std::string& name, int frames) {
    const std::filesystem::path path = dir_ / name;
    AviWriterOptions options;
    options.format = AviPixelFormat::kDib24;
    options.width = kWidth;
    options.height = kHeight;
    options.microseconds_per_frame = 40000;
    options.layout = AviLayout::kStandard;
    testing_avi::WriteNumberedAvi(path, options, frames);
    return path;
  }

  void UseClip(const std::filesystem::path& video, bool interlaced = false) {
    ReplayClip clip;
    clip.video = video;
    clip.media_kind = 'a';
    clip.width = kWidth;
    clip.height = kHeight;
    clip.interlaced = interlaced;
    replay_.SetCurrentClip(clip);
  }

  // Posts a command and runs the main loop until `requested` frames have
  // been shown in all.
  void CommandAndWait(int command, std::int64_t argument, int requested) {
    replay_.PostCommand(command, argument);
    ASSERT_TRUE(loop_.RunUntil([&] { return view_.CountRequested() >= requested; },
                               kWaitLimit))
        << "command " << command << ": " << view_.CountRequested() << " of "
        << requested << " frames";
  }

  TempDir dir_;
  ScriptedUi ui_;
  ScopedUi scoped_ui_;
  HeadlessLoop loop_;
  RecordingView view_;
  CReplayThread replay_{loop_};
};

std::string Messages(const ScriptedUi& ui) {
  std::string all;
  for (const auto& m : ui.messages()) all += "[" + m.text + "]";
  return all;
}

TEST(ReplayArithmetic, FrameNumberAndFieldIndexFollowThePosition) {
  struct Case {
    std::int64_t position;
    bool interlaced;
    int frame_number;
    int field_index;
  };
  // 29.97 frames per second: 333667 per frame, 166833 per field.
  const Case cases[] = {
      {0, false, 0, 0},         {-5, true, 0, 0},
      {333567, false, 1, 1},    {333566, false, 0, 0},  // the 100 of slack
      {333667, true, 1, 0},     {500500, true, 1, 1},
      {3336670, false, 10, 10}, {3336670, true, 10, 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position << " interlaced "
                                    << c.interlaced);
    EXPECT_EQ(ReplayFrameNumber(c.position, 333667), c.frame_number);
    EXPECT_EQ(ReplayFieldIndex(c.position, 333667, 166833, c.interlaced), c.field_index);
  }
}

TEST_F(ReplayTest, StepForwardFromTheStartDeliversFrame1Exactly) {
  UseClip(WriteClip("M20240101_000000.avi", 12));
  CommandAndWait(kReplayStepForward, 0, 1);
  const DeliveredFrame frame = view_.Requested().back();
  EXPECT_EQ(frame.width, kWidth);
  EXPECT_EQ(frame.height, kHeight);
  EXPECT_EQ(frame.position, kFrameDuration);
  EXPECT_EQ(frame.frame_number, 1);
  // Rows bottom-up and packed, as the file holds them.
  EXPECT_TRUE(view_.LastRequestedPixels() == NumberedFrame(kFrameBytes, 1));
  // The thread publishes its state when the command is done.
  ASSERT_TRUE(loop_.RunUntil(
      [&] { return view_.range_ms > 0 && replay_.Snapshot().frame_number == 1; }, kWaitLimit));
  EXPECT_EQ(view_.range_ms, 480);  // 12 frames of 40 ms
  const ReplaySnapshot s = replay_.Snapshot();
  EXPECT_EQ(s.state, kReplaySeeking);
  EXPECT_EQ(s.frame_number, 1);
  EXPECT_EQ(s.frame_duration, kFrameDuration);
  EXPECT_EQ(s.field_duration, kFrameDuration / 2);
  EXPECT_FALSE(s.analysis_mode);
  EXPECT_TRUE(ui_.messages().empty()) << Messages(ui_);
}

TEST_F(ReplayTest, SeeksAndBackStepsDeliverTheFrameThatHoldsThePosition) {
  UseClip(WriteClip("M20240101_000001.avi", 20));
  struct Case {
    int command;
    std::int64_t argument;
    int frame;
  };
  const Case cases[] = {
      {kReplaySeek, 10 * 1000 / 25, 10},  // "|| H" with head 10 at 25 fps
      {kReplayStepBack, 0, 9},
      {kReplayStepBack, 0, 8},
      {kReplayStepForward, 0, 9},
      {kReplaySeek, 439, 10},             // inside frame 10
      {kReplayStepForward, 0, 11},
      {kReplaySeek, 0, 0},
      {kReplayStepBack, 0, 0},            // nothing before the start
      {kReplaySeek, 760, 19},             // the last frame
  };
  int requested = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "command " << c.command << " argument "
                                    << c.argument << " frame " << c.frame);
    CommandAndWait(c.command, c.argument, ++requested);
    EXPECT_EQ(view_.Requested().back().frame_number, c.frame);
    EXPECT_TRUE(view_.LastRequestedPixels() == NumberedFrame(kFrameBytes, c.frame));
  }
  EXPECT_TRUE(ui_.messages().empty()) << Messages(ui_);
}

TEST_F(ReplayTest, FieldSteppingMovesHalfAFrameAndAlternatesTheParity) {
  AppSettings().deinterace = 1;
  UseClip(WriteClip("M20240101_000002.avi", 8), /*interlaced=*/true);
  struct Expected {
    std::int64_t position;
    int frame;
    int parity;
  };
  // bbf 0: the parity starts at 0 and flips with every field step.
  const Expected steps[] = {
      {200000, 0, 1}, {400000, 1, 0}, {600000, 1, 1}, {800000, 2, 0}, {1000000, 2, 1},
  };
  int requested = 0;
  for (const Expected& e : steps) {
    SCOPED_TRACE(testing::Message() << "position " << e.position);
    CommandAndWait(kReplayStepForward, 0, ++requested);
    const DeliveredFrame frame = view_.Requested().back();
    EXPECT_EQ(frame.position, e.position);
    EXPECT_EQ(frame.frame_number, e.frame);
    EXPECT_EQ(frame.field_parity, e.parity);
    EXPECT_TRUE(frame.field_step);
    EXPECT_EQ(frame.field_index, ReplayFieldIndex(e.position, kFrameDuration,
                                                  kFrameDuration / 2, true));
    // The rebuilt lines (from the bottom: parity 0 the even ones from 2,
    // parity 1 the odd ones from 3) are the means of their neighbours;
    // line 1 is always the frame's own.
    const Bytes& got = view_.LastRequestedPixels();
    const Bytes source = NumberedFrame(kFrameBytes, e.frame);
    const int row = kWidth * 3;
    EXPECT_TRUE(std::equal(got.begin() + row, got.begin() + 2 * row, source.begin() + row));
    const int rebuilt = e.parity == 0 ? 2 : 3;
    for (int x = 0; x < row; ++x) {
      const int mean = (source[(rebuilt - 1) * row + x] + source[(rebuilt + 1) * row + x]) / 2;
      ASSERT_EQ(got[rebuilt * row + x], mean) << "byte " << x;
    }
  }
  // And back: half a frame, parity flipped again.
  CommandAndWait(kReplayStepBack, 0, ++requested);
  EXPECT_EQ(view_.Requested().back().position, 800000);
  EXPECT_EQ(view_.Requested().back().field_parity, 0);
  AppSettings().deinterace = 0;
}

TEST_F(ReplayTest, TheEndOfTheStreamIsTheCompletionEvent) {
  UseClip(WriteClip("M20240101_000003.avi", 4));
  for (int k = 1; k <= 3; ++k) CommandAndWait(kReplayStepForward, 0, k);
  replay_.PostCommand(kReplayStepForward);  // past the last frame
  ASSERT_TRUE(loop_.RunUntil([&] { return view_.stopped > 0; }, kWaitLimit));
  EXPECT_EQ(replay_.Snapshot().state, kReplayStopped);
  // A seek past the end, from a stopped graph, ends the same way.
  replay_.PostCommand(kReplaySeek, 10000);
  ASSERT_TRUE(loop_.RunUntil([&] { return view_.stopped > 1; }, kWaitLimit));
  EXPECT_EQ(view_.CountRequested(), 3);
  EXPECT_TRUE(ui_.messages().empty()) << Messages(ui_);
}

// The analysis road as RunReplay and ReplayFrame will drive it: command 6,
// each frame posting the next command 6, until the run ends.
TEST_F(ReplayTest, AnalysisStepsDeliverEveryFrameInOrderThenEndTheRun) {
  constexpr int kFrames = 9;
  UseClip(WriteClip("M20240101_000004.avi", kFrames));
  std::vector<int> numbers;
  std::vector<bool> exact;
  std::atomic<int> ends{0};
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [&](const DeliveredFrame& frame) {
    numbers.push_back(frame.frame_number);
    exact.push_back(*frame.buffer == NumberedFrame(kFrameBytes, frame.frame_number));
    replay_.PostCommand(kReplayAnalysisStep);
  };
  hooks.on_run_end = [&] { ++ends; };
  replay_.InstallAnalysis(hooks);
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 0; }, kWaitLimit));
  loop_.RunUntil([] { return false; }, std::chrono::milliseconds(200));
  replay_.RemoveAnalysis();
  const std::vector<int> expected = {1, 2, 3, 4, 5, 6, 7, 8};  // frame 0 is the preroll
  EXPECT_EQ(numbers, expected);
  EXPECT_EQ(exact, std::vector<bool>(expected.size(), true));
  EXPECT_EQ(ends.load(), 1);
  EXPECT_TRUE(replay_.Snapshot().analysis_mode);
  EXPECT_TRUE(view_.Requested().empty());  // the analysis took every frame
  EXPECT_TRUE(ui_.messages().empty()) << Messages(ui_);
}

// The analysis graph decodes ahead of the step; the shared frame buffer must
// still hold the step's frame however long the analysis takes over it.
TEST_F(ReplayTest, DecodingAheadLeavesTheStepsFrameInTheBuffer) {
  constexpr int kFrames = 7;
  UseClip(WriteClip("M20240101_000014.avi", kFrames));
  std::vector<int> numbers;
  std::vector<bool> exact;
  std::atomic<int> ends{0};
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [&](const DeliveredFrame& frame) {
    // A slow analysis: the decoder fills its queue meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    numbers.push_back(frame.frame_number);
    exact.push_back(*frame.buffer == NumberedFrame(kFrameBytes, frame.frame_number));
    replay_.PostCommand(kReplayAnalysisStep);
  };
  hooks.on_run_end = [&] { ++ends; };
  replay_.InstallAnalysis(hooks);
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 0; }, kWaitLimit));
  loop_.RunUntil([] { return false; }, std::chrono::milliseconds(200));
  replay_.RemoveAnalysis();
  const std::vector<int> expected = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(numbers, expected);
  EXPECT_EQ(exact, std::vector<bool>(expected.size(), true));
  EXPECT_EQ(ends.load(), 1);
}

TEST_F(ReplayTest, TheStopFlagAndTheLastFrameEndTheRunAtOnce) {
  UseClip(WriteClip("M20240101_000005.avi", 20));
  int frames = 0;
  std::atomic<int> ends{0};
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [&](const DeliveredFrame&) {
    ++frames;
    replay_.PostCommand(kReplayAnalysisStep);
  };
  hooks.on_run_end = [&] { ++ends; };
  hooks.last_field_index = 3;  // frames 1 to 3, then the index 4 ends it
  replay_.InstallAnalysis(hooks);
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 0; }, kWaitLimit));
  EXPECT_EQ(frames, 4);
  replay_.RemoveAnalysis();

  hooks.stop_requested = [] { return true; };
  hooks.last_field_index = 1000;
  replay_.InstallAnalysis(hooks);
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 1; }, kWaitLimit));
  loop_.RunUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(frames, 4);
  replay_.RemoveAnalysis();
}

TEST_F(ReplayTest, FailuresGiveTheirTexts) {
  // A missing file: the build reports the source and leaves no graph.
  const std::filesystem::path missing = dir_ / "M20240101_000006.avi";
  UseClip(missing);
  std::atomic<int> ends{0};
  ReplayAnalysisHooks hooks;
  hooks.on_run_end = [&] { ++ends; };
  replay_.InstallAnalysis(hooks);
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 0; }, kWaitLimit));
  ASSERT_EQ(ui_.messages().size(), 1u) << Messages(ui_);
  EXPECT_EQ(ui_.messages()[0].text,
            "UE059: Failed to connect AVI file source\n \"" + missing.string() + "\"");
  EXPECT_EQ(replay_.Snapshot().state, kReplayNoGraph);

  // A file no decoder understands: the playback error, once, and the run
  // ends instead of waiting for frames.
  const std::filesystem::path garbage = dir_ / "M20240101_000007.avi";
  Bytes noise(50000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
  testing_avi::WriteFileData(garbage, noise);
  UseClip(garbage);
  ui_.Clear();
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 1 && !ui_.messages().empty(); },
                             kWaitLimit));
  loop_.RunUntil([] { return false; }, std::chrono::milliseconds(300));
  ASSERT_EQ(ui_.messages().size(), 1u) << Messages(ui_);
  EXPECT_EQ(ui_.messages()[0].text,
            "UE064: Playback error (EC_ERRORABORT - 0x80004005). Aborting...\r\n");
  replay_.RemoveAnalysis();
}

TEST_F(ReplayTest, CloseTearsDownAndAClipWithoutVideoIsNotReplayed) {
  UseClip(WriteClip("M20240101_000008.avi", 5));
  CommandAndWait(kReplayStepForward, 0, 1);
  replay_.PostCommand(kReplayClose);
  ASSERT_TRUE(loop_.RunUntil([&] { return replay_.Snapshot().state == kReplayNoGraph; },
                             kWaitLimit));
  EXPECT_EQ(replay_.Snapshot().position, 0);

  ReplayClip no_video;
  no_video.video = dir_ / "M20240101_000008.avi";
  replay_.SetCurrentClip(no_video);  // media kind none
  replay_.PostCommand(kReplayStepForward);
  replay_.PostCommand(kReplayPlay);
  loop_.RunUntil([] { return false; }, std::chrono::milliseconds(500));
  EXPECT_EQ(replay_.Snapshot().state, kReplayNoGraph);
  EXPECT_EQ(view_.CountRequested(), 1);
}

// Frame k of the compressed clip: one grey level, far enough from the
// others that a lossy codec keeps them apart.
int GreyOf(int k) { return 12 + 10 * k; }

int MeanLevel(const FrameBuffer& frame) {
  std::int64_t sum = 0;
  for (std::uint8_t b : frame) sum += b;
  return static_cast<int>((sum + static_cast<std::int64_t>(frame.size()) / 2) /
                          static_cast<std::int64_t>(frame.size()));
}

// Re-encodes an uncompressed clip as Motion JPEG in AVI with GStreamer.
void EncodeMjpeg(const std::filesystem::path& from, const std::filesystem::path& to) {
  const std::string launch = "filesrc location=\"" + from.string() +
                             "\" ! avidemux ! videoconvert ! jpegenc quality=95 ! "
                             "avimux ! filesink location=\"" + to.string() + "\"";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
  ASSERT_NE(pipeline, nullptr) << (error ? error->message : "?");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* end = gst_bus_timed_pop_filtered(
      bus, 20 * GST_SECOND,
      static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(end, nullptr) << "encoding did not end";
  EXPECT_EQ(GST_MESSAGE_TYPE(end), GST_MESSAGE_EOS);
  gst_message_unref(end);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

TEST_F(ReplayTest, CompressedClipsStepAndSeekThroughTheDecoder) {
  constexpr int kFrames = 16;
  const std::filesystem::path raw = dir_ / "raw.avi";
  {
    AviWriterOptions options;
    options.format = AviPixelFormat::kDib24;
    options.width = kWidth;
    options.height = kHeight;
    options.microseconds_per_frame = 40000;
    options.layout = AviLayout::kStandard;
    AviWriter writer;
    ASSERT_TRUE(writer.Open(raw, options)) << writer.error();
    for (int k = 0; k < kFrames; ++k) {
      ASSERT_TRUE(writer.WriteFrame(Bytes(kFrameBytes, static_cast<std::uint8_t>(GreyOf(k)))));
    }
    ASSERT_TRUE(writer.Close());
  }
  const std::filesystem::path mjpeg = dir_ / "M20240101_000010.avi";
  EncodeMjpeg(raw, mjpeg);
  UseClip(mjpeg);

  struct Case {
    int command;
    std::int64_t argument;
    int frame;
  };
  const Case cases[] = {
      {kReplayStepForward, 0, 1}, {kReplaySeek, 400, 10}, {kReplayStepBack, 0, 9},
      {kReplayStepForward, 0, 10}, {kReplayStepForward, 0, 11}, {kReplaySeek, 40, 1},
  };
  int requested = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "command " << c.command << " argument "
                                    << c.argument << " frame " << c.frame);
    CommandAndWait(c.command, c.argument, ++requested);
    EXPECT_NEAR(MeanLevel(*view_.Requested().back().buffer), GreyOf(c.frame), 3);
  }

  // The analysis road: every decoded frame once, in order.
  replay_.PostCommand(kReplayClose);
  std::vector<int> levels;
  std::atomic<int> ends{0};
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [&](const DeliveredFrame& frame) {
    levels.push_back(MeanLevel(*frame.buffer));
    replay_.PostCommand(kReplayAnalysisStep);
  };
  hooks.on_run_end = [&] { ++ends; };
  replay_.InstallAnalysis(hooks);
  replay_.PostCommand(kReplayAnalysisStep);
  ASSERT_TRUE(loop_.RunUntil([&] { return ends.load() > 0; }, kWaitLimit));
  replay_.RemoveAnalysis();
  ASSERT_EQ(levels.size(), static_cast<std::size_t>(kFrames - 1));
  for (int k = 1; k < kFrames; ++k) {
    EXPECT_NEAR(levels[static_cast<std::size_t>(k - 1)], GreyOf(k), 3) << "frame " << k;
  }
  EXPECT_TRUE(ui_.messages().empty()) << Messages(ui_);
}

TEST_F(ReplayTest, PlayRunsToTheEndAndPauseSettlesOnAFrame) {
  UseClip(WriteClip("M20240101_000009.avi", 10));  // 0.4 s
  replay_.PostCommand(kReplayPlay);
  ASSERT_TRUE(loop_.RunUntil([&] { return view_.stopped > 0; }, kWaitLimit));
  EXPECT_EQ(replay_.Snapshot().state, kReplayStopped);
  EXPECT_GE(view_.frames.size(), 10u);  // every frame shown while playing
  // Rewind and play, pause at once: the pause settles just before the
  // next frame (unless the clip has ended by then).
  const int before = view_.CountRequested();
  replay_.PostCommand(kReplayRewindPlay);
  replay_.PostCommand(kReplayPause);
  ASSERT_TRUE(loop_.RunUntil(
      [&] { return view_.CountRequested() > before || view_.stopped > 1; }, kWaitLimit));
  if (view_.CountRequested() > before) {
    // Just before the start of the next frame: the frame shown is the one
    // that holds that instant.
    const DeliveredFrame frame = view_.Requested().back();
    EXPECT_EQ((frame.position + 100) % kFrameDuration, 0) << frame.position;
    EXPECT_TRUE(view_.LastRequestedPixels() ==
                NumberedFrame(kFrameBytes, static_cast<int>(frame.position / kFrameDuration)));
  }
  EXPECT_TRUE(ui_.messages().empty()) << Messages(ui_);
}

// The program's thread as start-up and shut-down drive it.
TEST(ProgramReplayThread, EndsOnCommand10AndShutDownWaitsForIt) {
  StartReplayThread();
  ASSERT_TRUE(ReplayThreadStarted());
  EXPECT_EQ(App().replay_ended.load(), 0);
  ReplayThread().PostCommand(kReplayQuit);
  FinishReplayThread(std::chrono::milliseconds(3000));
  EXPECT_EQ(App().replay_ended.load(), 1);
  EXPECT_FALSE(ReplayThreadStarted());
  // Without the end request the wait gives up after its bound.
  StartReplayThread();
  const auto start = std::chrono::steady_clock::now();
  FinishReplayThread(std::chrono::milliseconds(200));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(App().replay_ended.load(), 0);
  EXPECT_FALSE(ReplayThreadStarted());
}

}  // namespace
}  // namespace mr4
