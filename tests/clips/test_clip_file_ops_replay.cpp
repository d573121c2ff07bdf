// The clip file operations close the replay graph before they touch a
// clip's files: a clip opened in a running replay thread (its video held
// by the graph) is moved only after the graph is gone. The replay filter
// plug-in is loaded by its path in the build tree, with a registry of this
// process's own.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "clips/clip_file_ops.h"
#include "platform/message_queue.h"
#include "replay/replay_thread.h"
#include "sim/avi_writer.h"
#include "tests/clips/clip_fixture.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_ = std::string(MR4_TEST_REGISTRY) + "." + std::to_string(::getpid());
    g_setenv("GST_REGISTRY", registry_.c_str(), TRUE);
    gst_init(nullptr, nullptr);
    SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
  }
  void TearDown() override { fs::remove(registry_); }

 private:
  std::string registry_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// A short uncompressed clip, as the capture program writes them.
bool WriteTestAvi(const fs::path& path) {
  AviWriterOptions options;
  options.format = AviPixelFormat::kDib24;
  options.width = 64;
  options.height = 48;
  options.microseconds_per_frame = 40000;
  options.layout = AviLayout::kStandard;
  AviWriter writer;
  if (!writer.Open(path, options)) return false;
  std::vector<std::uint8_t> frame(writer.ImageBytes());
  for (int k = 0; k < 10; ++k) {
    std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(20 * k));
    if (!writer.WriteFrame(frame)) return false;
  }
  return writer.Close();
}

using ReplayFileOps = ClipTest;

TEST_F(ReplayFileOps, AMoveClosesTheReplayGraphFirst) {
  const fs::path in = root_ / "in";
  const fs::path dest = root_ / "dest";
  fs::create_directories(in);
  fs::create_directories(dest);
  if (!WriteTestAvi(in / "M20240102_031500_ST1.avi")) {
    GTEST_FAIL() << "cannot write the test clip";
  }
  AddDirRow(in);
  ReadClipDirectories();

  StartReplayThread();
  CReplayThread& replay = ReplayThread();
  ReplayClip clip;
  clip.video = in / "M20240102_031500_ST1.avi";
  clip.media_kind = 'a';
  clip.width = 64;
  clip.height = 48;
  replay.SetCurrentClip(clip);
  replay.PostCommand(kReplayStepForward);
  HeadlessLoop& loop = DefaultHeadlessLoop();
  // The graph exists once the step has built it. The step's frame itself
  // does not matter here: let the step settle, but within the replay
  // thread's own wait for a frame (5 s), whatever it gives.
  ASSERT_TRUE(loop.RunUntil([&] { return replay.Snapshot().state != kReplayNoGraph; },
                            std::chrono::seconds(15)));
  loop.RunUntil([&] { return replay.Snapshot().state != kReplaySeeking; },
                std::chrono::seconds(6));

  DispatchSwitches every;
  every.every_clip = true;
  FileOpRun run;
  ASSERT_TRUE(DispatchMoveClips({RowOf("M20240102_031500_ST1")}, every, dest, false, run));
  EXPECT_EQ(replay.Snapshot().state, kReplayNoGraph);
  EXPECT_EQ(run.files, 1);
  EXPECT_TRUE(fs::exists(dest / "M20240102_031500_ST1.avi"));

  replay.SetCurrentClip(std::nullopt);
  replay.PostCommand(kReplayQuit);
  FinishReplayThread(std::chrono::seconds(5));
}

}  // namespace
}  // namespace mr4::test
