// End to end: `mr4 trailmap` and `mr4 groundmap --render` draw the maps of
// a home with two simulated, analysed clips into PNG files.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kCamera = {"cx=720", "cy=480", "lng=139.7", "lat=35.7",
                                          "alt=30", "tz=32400", "rot=0", "k4=0",
                                          "k3=0.06", "k2=-0.03", "yx=1", "dx=0",
                                          "dy=0", "dlim=40", "az=135", "ev=45", "vx=56"};

class MapCommands : public ::testing::Test {
 protected:
  // One home for every case: two clips of a simulated night, analysed.
  static void SetUpTestSuite() {
    home_ = new TempHome("mr4-maps-home");
    std::vector<std::string> profile = {"profile", "set", "sky.XML"};
    profile.insert(profile.end(), kCamera.begin(), kCamera.end());
    const fs::path clips = home_->path() / "clips";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             profile,
             {"simulate", "--night", "--out", clips.string(), "--profile", "sky.XML", "--date",
              "2024-08-12", "--clips", "2", "--head", "10", "--tail", "10", "--seed", "1"},
             {"dirs", "add", clips.string(), "--profile", "sky.XML"},
             {"analyze"}}) {
      const ProgramResult r = Mr4(args);
      ASSERT_EQ(r.exit_code, 0) << args[0] << ": " << r.out << r.err;
    }
  }
  static void TearDownTestSuite() {
    delete home_;
    home_ = nullptr;
  }
  static ProgramResult Mr4(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_->path().string()});
    return RunMr4(args);
  }

  static TempHome* home_;
  TempDir out_{"mr4-maps-out"};
};

TempHome* MapCommands::home_ = nullptr;

struct MapCase {
  const char* name;
  std::vector<std::string> command;
};

const MapCase kMaps[] = {
    {"trail map", {"trailmap"}},
    {"ground map", {"groundmap", "--render"}},
};

TEST_F(MapCommands, WritesThePictureAsPng) {
  for (const MapCase& c : kMaps) {
    SCOPED_TRACE(c.name);
    const fs::path png = out_.path() / "map.png";
    fs::remove(png);
    std::vector<std::string> args = c.command;
    args.insert(args.end(), {"--out", png.string()});
    const ProgramResult r = Mr4(args);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, png.c_str()));
    image.format = PNG_FORMAT_BGR;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(image.width, 1024u);
    EXPECT_EQ(image.height, 768u);
    // Something is drawn: not every pixel has the first one's colour.
    bool varied = false;
    for (std::size_t i = 3; i + 2 < pixels.size() && !varied; i += 3) {
      varied = !std::equal(pixels.begin(), pixels.begin() + 3, pixels.begin() + i);
    }
    EXPECT_TRUE(varied);
  }
}

// A file that cannot be written: status 2 and nothing left behind, neither
// the file nor a temporary one next to it.
TEST_F(MapCommands, UnwritableOutputFails) {
  const fs::path folder = out_.path() / "folder.png";
  fs::create_directory(folder);
  for (const MapCase& c : kMaps) {
    SCOPED_TRACE(c.name);
    for (const fs::path& out : {out_.path() / "missing" / "map.png", folder}) {
      SCOPED_TRACE(out.string());
      std::vector<std::string> args = c.command;
      args.insert(args.end(), {"--out", out.string()});
      const ProgramResult r = Mr4(args);
      EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
      EXPECT_NE(r.err.find("cannot write " + out.string()), std::string::npos) << r.err;
      EXPECT_TRUE(fs::is_directory(folder));
      EXPECT_FALSE(fs::exists(out_.path() / "missing"));
      std::vector<fs::path> left;
      for (const auto& entry : fs::directory_iterator(out_.path())) left.push_back(entry.path());
      EXPECT_EQ(left, std::vector<fs::path>{folder});
      EXPECT_TRUE(fs::is_empty(folder));
    }
  }
}

TEST_F(MapCommands, BadOptionsAreUsageErrors) {
  const std::string png = (out_.path() / "map.png").string();
  for (const MapCase& c : kMaps) {
    SCOPED_TRACE(c.name);
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {},                                  // no --out
             {"--out", png, "--range", "week"},   // not a range
             {"--out", png, "--bogus"},
             {"--out", png, "stray"}}) {
      std::vector<std::string> args = c.command;
      args.insert(args.end(), extra.begin(), extra.end());
      const ProgramResult r = Mr4(args);
      EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
      EXPECT_FALSE(r.err.empty());
      EXPECT_FALSE(fs::exists(png));
    }
  }
}

}  // namespace
}  // namespace mr4::test
