// Tests of the peak-hold picture: which frames are held (the interval, the
// clip's frame count), the byte-wise maximum over blue, green and red
// separately, the picture's file and the clip's record of it, and the save
// dialog and overwrite question. Clips of 24-bit frames written by the
// simulator's AVI writer, stepped through the replay filter loaded from the
// build tree; the tests pump the headless loop from their main thread.
#include "utility/peak_hold.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "analysis/replay_run.h"
#include "app/settings.h"
#include "clips/clip_files.h"
#include "platform/message_queue.h"
#include "platform/scripted_ui.h"
#include "replay/replay_graph.h"
#include "replay/replay_thread.h"
#include "sim/avi_writer.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using mr4::test::TempDir;

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_ = std::string(MR4_TEST_REGISTRY) + "." + std::to_string(::getpid());
    g_setenv("GST_REGISTRY", registry_.c_str(), TRUE);
    gst_init(nullptr, nullptr);
    SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
    ApplyDefaultSettings();
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

constexpr int kWidth = 32;
constexpr int kHeight = 24;
constexpr int kFrames = 12;

// Frame k: black but pixel (k, 5), which is white, and pixel (0, 0) with
// blue 20 k and green 255 - 20 k (so the held blue is the last frame's and
// the held green the first's). Rows bottom-up, as the writer takes them.
std::vector<std::uint8_t> Frame(int k) {
  std::vector<std::uint8_t> f(std::size_t(kWidth) * kHeight * 3, 0);
  const std::size_t lit = (std::size_t(5) * kWidth + k) * 3;
  f[lit] = f[lit + 1] = f[lit + 2] = 255;
  f[0] = static_cast<std::uint8_t>(20 * k);
  f[1] = static_cast<std::uint8_t>(255 - 20 * k);
  f[2] = 7;
  return f;
}

struct Pixel {
  int b, g, r;
};

// Pixel (x, y) of a 24-bit bitmap file written by the program (data at 54,
// rows bottom-up and packed).
Pixel PixelOf(const std::string& bmp, int x, int y) {
  const std::size_t p = 54 + (std::size_t(y) * kWidth + x) * 3;
  return {static_cast<std::uint8_t>(bmp[p]), static_cast<std::uint8_t>(bmp[p + 1]),
          static_cast<std::uint8_t>(bmp[p + 2])};
}

class PeakHoldTest : public ::testing::Test {
 protected:
  PeakHoldTest() : scoped_ui_(ui_), pump_(DefaultHeadlessLoop()) {}

  // A clip with its video and its row.
  int AddClip(const std::string& name, int frames_in_row) {
    AviWriterOptions o;
    o.format = AviPixelFormat::kDib24;
    o.width = kWidth;
    o.height = kHeight;
    o.microseconds_per_frame = 40000;
    o.layout = AviLayout::kStandard;
    AviWriter writer;
    EXPECT_TRUE(writer.Open(dir_ / (name + ".avi"), o)) << writer.error();
    for (int k = 0; k < kFrames; ++k) EXPECT_TRUE(writer.WriteFrame(Frame(k)));
    EXPECT_TRUE(writer.Close()) << writer.error();
    Table& clips = Tables().clip;
    const int row = clips.AppendRow();
    clips.SetText(row, clip::kDirectory, dir_.path().string());
    clips.SetText(row, clip::kClipName, name);
    clips.SetInt(row, clip::kMT, KindBit(kKindAvi));
    clips.SetText(row, clip::kMedia, "a       ");
    clips.SetInt(row, clip::kCx, kWidth);
    clips.SetInt(row, clip::kCy, kHeight);
    clips.SetInt(row, clip::kFrames, frames_in_row);
    clips.SetInt(row, clip::kInterlaced, 0);
    return row;
  }

  TempDir dir_{"mr4-peak-hold"};
  ScriptedUi ui_;
  ScopedUi scoped_ui_;
  ScopedReplayPump pump_;
};

// The frames held: every interval-th of the frames the clip counts, the
// first being the video's frame 1.
TEST_F(PeakHoldTest, HoldsEveryIntervalthFrameBytewise) {
  struct Case {
    int interval;
    int frames_in_row;  // the row's `frames`; 0 unknown
    std::set<int> held;
  };
  const Case cases[] = {
      {1, kFrames, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {2, kFrames, {2, 4, 6, 8, 10}},
      {5, kFrames, {5, 10}},
      {1, 4, {1, 2, 3, 4}},
      {3, 0, {3, 6, 9}},  // unknown count: to the end of the video
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "interval " << k.interval << ", frames " << k.frames_in_row);
    AppSettings().peakf = k.interval;
    const std::string name = "M20240101_00000" + std::to_string(n++);
    const int row = AddClip(name, k.frames_in_row);
    const PeakHoldOutcome outcome = MakePeakHold(row, dir_ / (name + "-held.bmp"));
    ASSERT_EQ(outcome.status, PeakHoldStatus::kWritten);
    EXPECT_EQ(outcome.frames_taken, static_cast<int>(k.held.size()));
    const std::string bmp = mr4::test::ReadFileBytes(outcome.path);
    ASSERT_EQ(bmp.size(), 54u + kWidth * kHeight * 3);
    for (int x = 1; x < kFrames; ++x) {
      const Pixel p = PixelOf(bmp, x, 5);
      EXPECT_EQ(p.g, k.held.count(x) ? 255 : 0) << "frame " << x;
    }
    const Pixel corner = PixelOf(bmp, 0, 0);
    EXPECT_EQ(corner.b, 20 * *k.held.rbegin());
    EXPECT_EQ(corner.g, 255 - 20 * *k.held.begin());
    EXPECT_EQ(corner.r, 7);
    EXPECT_FALSE(ReplayThread().AnalysisInstalled());
  }
  AppSettings().peakf = 1;
}

// Written to the clip's own P.BMP, the picture becomes the clip's
// peak-hold still; elsewhere the clip's record stays.
TEST_F(PeakHoldTest, OwnPictureIsRecordedInTheClipRow) {
  const Table& clips = Tables().clip;
  const int row = AddClip("M20240101_010000", kFrames);
  const PeakHoldOutcome elsewhere = MakePeakHold(row, dir_ / "other.bmp");
  ASSERT_EQ(elsewhere.status, PeakHoldStatus::kWritten);
  EXPECT_EQ(clips.Int(row, clip::kMT) & KindBit(kKindPeakBmp), 0);
  EXPECT_EQ(clips.Text(row, clip::kMedia), "a       ");

  const PeakHoldOutcome own = MakePeakHold(row);
  ASSERT_EQ(own.status, PeakHoldStatus::kWritten);
  EXPECT_EQ(own.path, dir_ / "M20240101_010000P.BMP");
  EXPECT_TRUE(fs::exists(own.path));
  EXPECT_NE(clips.Int(row, clip::kMT) & KindBit(kKindPeakBmp), 0);
  EXPECT_EQ(clips.Text(row, clip::kMedia), "aB      ");
  const auto& dialogs = ui_.status_lines();
  EXPECT_NE(std::find(dialogs.begin(), dialogs.end(), "Make P bmp running M20240101_010000"),
            dialogs.end());
}

// The save dialog and the overwrite question can decline; nothing is
// written or replaced then, and no frame function stays installed.
TEST_F(PeakHoldTest, DeclinedDialogsWriteNothing) {
  const int row = AddClip("M20240101_020000", kFrames);
  const fs::path own = dir_ / "M20240101_020000P.BMP";
  ui_.QueuePath(std::nullopt);
  EXPECT_EQ(MakePeakHold(row).status, PeakHoldStatus::kCancelled);
  EXPECT_FALSE(fs::exists(own));

  mr4::test::WriteFileBytes(own, "kept");
  EXPECT_EQ(MakePeakHold(row).status, PeakHoldStatus::kCancelled);  // Cancel
  EXPECT_EQ(mr4::test::ReadFileBytes(own), "kept");
  ASSERT_FALSE(ui_.questions().empty());
  EXPECT_EQ(ui_.questions().back(), "file already exists overwrite?\n" + own.string());

  ui_.QueueAnswer(true);
  EXPECT_EQ(MakePeakHold(row).status, PeakHoldStatus::kWritten);
  EXPECT_EQ(fs::file_size(own), 54u + kWidth * kHeight * 3);
  EXPECT_FALSE(ReplayThread().AnalysisInstalled());
}

TEST_F(PeakHoldTest, ClipsWithoutVideoAndBusyReplay) {
  Table& clips = Tables().clip;
  const int row = AddClip("M20240101_030000", kFrames);
  clips.SetInt(row, clip::kMT, 0);
  EXPECT_EQ(MakePeakHold(row).status, PeakHoldStatus::kNoVideo);
  EXPECT_EQ(MakePeakHold(-1).status, PeakHoldStatus::kNoVideo);

  // While a frame function is installed (an analysis runs), nothing starts.
  clips.SetInt(row, clip::kMT, KindBit(kKindAvi));
  ReplayAnalysisHooks hooks;
  hooks.on_frame = [](const DeliveredFrame&) {};
  ReplayThread().InstallAnalysis(hooks);
  EXPECT_EQ(MakePeakHold(row).status, PeakHoldStatus::kBusy);
  ReplayThread().RemoveAnalysis();
  EXPECT_FALSE(fs::exists(dir_ / "M20240101_030000P.BMP"));
}

// Without a frame held there is no picture: the clip's still stays as it
// was and the outcome says so (an unreadable video, or an interval longer
// than the clip).
TEST_F(PeakHoldTest, NoFrameHeldKeepsTheStill) {
  struct Case {
    const char* what;
    bool garbage_video;
    int interval;
    const char* message;
  };
  const Case cases[] = {
      {"unreadable video", true, 1, "could be read"},
      {"interval beyond the clip", false, 1000, "was held"},
  };
  int n = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::string name = "M20240101_04000" + std::to_string(n++);
    const int row = AddClip(name, kFrames);
    if (k.garbage_video) mr4::test::WriteFileBytes(dir_ / (name + ".avi"), "not a video");
    const fs::path own = dir_ / (name + "P.BMP");
    mr4::test::WriteFileBytes(own, "the capture's still");
    AppSettings().peakf = k.interval;
    ui_.QueueAnswer(true);  // replace the still
    const PeakHoldOutcome outcome = MakePeakHold(row);
    AppSettings().peakf = 1;
    EXPECT_EQ(outcome.status, PeakHoldStatus::kNoFrames);
    EXPECT_EQ(outcome.frames_taken, 0);
    EXPECT_EQ(mr4::test::ReadFileBytes(own), "the capture's still");
    ASSERT_FALSE(ui_.messages().empty());
    EXPECT_NE(ui_.messages().back().text.find(k.message), std::string::npos)
        << ui_.messages().back().text;
    EXPECT_FALSE(ReplayThread().AnalysisInstalled());
  }
}

}  // namespace
}  // namespace mr4
