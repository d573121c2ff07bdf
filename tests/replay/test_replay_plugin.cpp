// The replay graph finds the filter element through the plug-in file when
// the GStreamer registry lacks it, and reports both messages when the file
// cannot be loaded. A process of its own: once loaded, the element stays in
// the registry, so the failing case runs first.
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/scripted_ui.h"
#include "replay/replay_graph.h"
#include "sim/avi_writer.h"

namespace mr4 {
namespace {

class NoListener final : public ReplayGraphListener {
 public:
  void OnGraphFrame(std::uint64_t, std::shared_ptr<const FrameBuffer>, int, int,
                    FramePixels, std::int64_t, int, int) override {}
  void OnGraphComplete(std::uint64_t) override {}
  void OnGraphError(std::uint64_t, long) override {}
};

TEST(ReplayPlugin, TheFilterIsLoadedByPathWhenTheRegistryLacksIt) {
  const std::string registry =
      std::string(MR4_TEST_REGISTRY) + "." + std::to_string(::getpid());
  g_setenv("GST_REGISTRY", registry.c_str(), TRUE);
  gst_init(nullptr, nullptr);
  ASSERT_EQ(gst_element_factory_find("mr4f"), nullptr)
      << "the tests' registry should not know the filter";

  // Without an override the file is looked for next to the program.
  SetReplayPluginFile(std::nullopt);
  EXPECT_EQ(ReplayPluginFile(),
            std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libgstmr4f.so");

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("mr4-plugin-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  AviWriterOptions options;
  options.format = AviPixelFormat::kDib24;
  options.width = 16;
  options.height = 8;
  options.layout = AviLayout::kStandard;
  AviWriter writer;
  ASSERT_TRUE(writer.Open(dir / "clip.avi", options)) << writer.error();
  ASSERT_TRUE(writer.WriteFrame(std::vector<std::uint8_t>(writer.ImageBytes(), 9)));
  ASSERT_TRUE(writer.Close());
  ReplayGraphRequest request;
  request.video = dir / "clip.avi";
  request.analysis_mode = true;
  NoListener listener;

  ScriptedUi ui;
  ScopedUi scoped(ui);
  const std::filesystem::path absent = dir / "libgstmr4f.so";
  SetReplayPluginFile(absent);
  EXPECT_EQ(ReplayGraph::Build(request, &listener), nullptr);
  ASSERT_EQ(ui.messages().size(), 2u);
  EXPECT_EQ(ui.messages()[0].text, "UE001:UNABLE TO REGISTER " + absent.string());
  EXPECT_EQ(ui.messages()[1].text,
            "UM019: Cannot Find MR4F \n Please run as administrator (the first time "
            "only) and try again");

  ui.Clear();
  SetReplayPluginFile(std::filesystem::path(MR4F_PLUGIN_FILE));
  std::unique_ptr<ReplayGraph> graph = ReplayGraph::Build(request, &listener);
  ASSERT_NE(graph, nullptr);
  EXPECT_TRUE(ui.messages().empty());
  GstElementFactory* factory = gst_element_factory_find("mr4f");
  EXPECT_NE(factory, nullptr) << "loading the file adds the element to the registry";
  if (factory) gst_object_unref(factory);
  // The block gets the stream's size and timing with the first preroll.
  ASSERT_TRUE(graph->Pause());
  EXPECT_EQ(graph->block().width, 16);
  EXPECT_EQ(graph->block().height, 8);
  EXPECT_EQ(graph->block().frame_duration, 333670);  // 33367 us a frame
  EXPECT_EQ(graph->block().frame_bytes, 16 * 8 * 3);
  graph.reset();
  std::filesystem::remove_all(dir);
  std::filesystem::remove(registry);
}

}  // namespace
}  // namespace mr4
