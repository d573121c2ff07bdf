// The clip file operations close the replay graph before they touch a
// clip's files: a clip opened in a running replay thread (its video held
// by the graph) is moved only after the graph is gone. The replay filter
// plug-in is loaded by its path in the build tree, with a registry of this
// process's own.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "clips/clip_file_ops.h"
#include "platform/message_queue.h"
#include "replay/replay_thread.h"
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

// A short raw AVI clip encoded by GStreamer itself.
bool WriteTestAvi(const fs::path& path) {
  const std::string description =
      "videotestsrc num-buffers=10 ! video/x-raw,format=BGR,width=64,height=48,"
      "framerate=25/1 ! avimux ! filesink location=\"" + path.native() + "\"";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (pipeline == nullptr) {
    if (error) g_error_free(error);
    return false;
  }
  if (error) g_error_free(error);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message) gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

using ReplayFileOps = ClipTest;

TEST_F(ReplayFileOps, AMoveClosesTheReplayGraphFirst) {
  const fs::path in = root_ / "in";
  const fs::path dest = root_ / "dest";
  fs::create_directories(in);
  fs::create_directories(dest);
  if (!WriteTestAvi(in / "M20240102_031500_ST1.avi")) {
    GTEST_SKIP() << "GStreamer cannot write a test AVI here (videotestsrc, avimux)";
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
  ASSERT_TRUE(loop.RunUntil([&] { return replay.Snapshot().state == kReplayPaused; },
                            std::chrono::seconds(15)));

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
