// End to end: `mr4 trailmap`, `mr4 groundmap --render` and `mr4
// meteor-picture` draw the maps and a clip's meteor picture of a home with
// two simulated, analysed clips into PNG files.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// A PNG read back as blue-green-red rows from the top.
struct Png {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;
  const std::uint8_t* At(int x, int row) const {
    return &bgr[(static_cast<std::size_t>(row) * width + x) * 3];
  }
};

bool ReadPng(const fs::path& path, Png* png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_BGR;
  png->bgr.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, png->bgr.data(), 0, nullptr)) return false;
  png->width = static_cast<int>(image.width);
  png->height = static_cast<int>(image.height);
  return true;
}

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

    Png image;
    ASSERT_TRUE(ReadPng(png, &image));
    EXPECT_EQ(image.width, 1024);
    EXPECT_EQ(image.height, 768);
    const std::vector<std::uint8_t>& pixels = image.bgr;
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

// One trail sample as the result file carries it.
struct FileSample {
  int field = 0;
  double mag = 0;
  double x = 0, y = 0;
};

double Attribute(const std::string& line, const char* name) {
  const std::string key = std::string(" ") + name + "=\"";
  const std::size_t at = line.find(key);
  return at == std::string::npos ? NAN : std::strtod(line.c_str() + at + key.size(), nullptr);
}

// The samples of each object of a result file, in object order.
std::vector<std::vector<FileSample>> ResultSamples(const fs::path& result) {
  std::vector<std::vector<FileSample>> objects;
  const std::string text = ReadFileBytes(result);
  std::size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    const std::size_t end = text.find('>', at);
    const std::string tag = text.substr(at, end - at);
    // "<mr2_object" and then its attributes, on its line or the next.
    if (tag.rfind("<mr2_object", 0) == 0 && tag.size() > 11 &&
        (tag[11] == ' ' || tag[11] == '\r' || tag[11] == '\n')) {
      objects.emplace_back();
    }
    if (tag.rfind("<mr2_fdata2 ", 0) == 0 && !objects.empty()) {
      objects.back().push_back({static_cast<int>(Attribute(tag, "fno")), Attribute(tag, "mag"),
                                Attribute(tag, "x"), Attribute(tag, "y")});
    }
    at = end;
  }
  return objects;
}

// A 24-bit bitmap as the system writes it (rows bottom-up, packed), as
// rows from the top.
bool ReadBmp(const fs::path& path, Png* picture) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return false;
  std::int32_t width = 0, height = 0;
  std::uint32_t offset = 0;
  std::memcpy(&offset, bytes.data() + 10, 4);
  std::memcpy(&width, bytes.data() + 18, 4);
  std::memcpy(&height, bytes.data() + 22, 4);
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
  if (width < 1 || height < 1 || bytes.size() < offset + row_bytes * height) return false;
  picture->width = width;
  picture->height = height;
  picture->bgr.resize(row_bytes * height);
  for (int r = 0; r < height; ++r) {
    std::memcpy(&picture->bgr[row_bytes * r], bytes.data() + offset + row_bytes * (height - 1 - r),
                row_bytes);
  }
  return true;
}

bool Is(const std::uint8_t* pixel, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  return pixel[0] == blue && pixel[1] == green && pixel[2] == red;
}

class MeteorPictureCommand : public MapCommands {
 protected:
  void SetUp() override {
    // The first clip whose result holds an object with samples.
    for (const auto& entry : fs::directory_iterator(home_->path() / "clips")) {
      const std::string file = entry.path().filename().string();
      if (file.size() < 5 || file.compare(file.size() - 5, 5, "A.XML") != 0) continue;
      const std::vector<std::vector<FileSample>> objects = ResultSamples(entry.path());
      if (objects.empty() || objects[0].size() < 3) continue;
      if (!clip_.empty() && file.substr(0, file.size() - 5) > clip_) continue;
      clip_ = file.substr(0, file.size() - 5);
      samples_ = objects;
    }
    ASSERT_FALSE(clip_.empty()) << "no analysed clip with an object";
  }
  fs::path ClipFile(const std::string& suffix) const {
    return home_->path() / "clips" / (clip_ + suffix);
  }

  std::string clip_;
  std::vector<std::vector<FileSample>> samples_;
};

// The still with every detection marked at its sample and the light curve
// peaking at the brightest sample's time.
TEST_F(MeteorPictureCommand, MarksTheDetectionsAndPlotsTheLightCurve) {
  const fs::path png = out_.path() / "meteor.png";
  const ProgramResult r = Mr4({"meteor-picture", clip_, "--object", "1", "--out", png.string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  Png picture;
  ASSERT_TRUE(ReadPng(png, &picture));
  Png still;
  ASSERT_TRUE(ReadBmp(ClipFile("P.BMP"), &still));
  ASSERT_EQ(picture.width, still.width + 420);
  ASSERT_EQ(picture.height, std::max(still.height, 300));

  // Each sample's pixel (x, y from the bottom, centres at +0.5) is a mark.
  for (const std::vector<FileSample>& object : samples_) {
    for (const FileSample& s : object) {
      const int x = static_cast<int>(std::floor(s.x));
      const int row = still.height - 1 - static_cast<int>(std::floor(s.y));
      SCOPED_TRACE("sample at field " + std::to_string(s.field));
      EXPECT_TRUE(Is(picture.At(x, row), 80, 80, 255));
    }
  }
  // Away from the marks the still shows through unchanged (right side up).
  int same = 0;
  for (int row = 0; row < still.height; ++row) {
    for (int x = 0; x < still.width; ++x) {
      same += std::equal(still.At(x, row), still.At(x, row) + 3, picture.At(x, row));
    }
  }
  EXPECT_GT(same, still.width * still.height * 95 / 100);

  // The curve's points (yellow squares, 3 px): the first at the left, the
  // last at the right; the topmost is the brightest sample, placed between
  // them by its time.
  const std::vector<FileSample>& curve = samples_[0];
  int left = picture.width, right = -1, top_row = picture.height;
  std::vector<int> top_columns;
  for (int row = 0; row < picture.height; ++row) {
    for (int x = still.width; x < picture.width; ++x) {
      if (!Is(picture.At(x, row), 0, 255, 255)) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      if (row < top_row) {
        top_row = row;
        top_columns.clear();
      }
      if (row == top_row) top_columns.push_back(x);
    }
  }
  ASSERT_GT(right, left);
  const auto brightest = std::min_element(
      curve.begin(), curve.end(), [](const FileSample& a, const FileSample& b) { return a.mag < b.mag; });
  const double at = double(brightest->field - curve.front().field) /
                    (curve.back().field - curve.front().field);
  const double expected = (left + 1) + at * ((right - 1) - (left + 1));
  const int middle = (top_columns.front() + top_columns.back()) / 2;
  EXPECT_NEAR(middle, expected, 2.0) << "brightest at field " << brightest->field;
}

// The clip named by the path of one of its files draws the same picture.
TEST_F(MeteorPictureCommand, TakesTheClipByPath) {
  const fs::path by_name = out_.path() / "name.png";
  const fs::path by_path = out_.path() / "path.png";
  ASSERT_EQ(Mr4({"meteor-picture", clip_, "--out", by_name.string()}).exit_code, 0);
  const ProgramResult r =
      Mr4({"meteor-picture", ClipFile("A.XML").string(), "--out", by_path.string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(ReadFileBytes(by_name), ReadFileBytes(by_path));
}

// A clip without its peak-hold still gets one made from its video first.
TEST_F(MeteorPictureCommand, MakesAMissingPeakHoldStill) {
  const fs::path kept = out_.path() / "kept.bmp";
  fs::rename(ClipFile("P.BMP"), kept);
  const fs::path png = out_.path() / "meteor.png";
  const ProgramResult r = Mr4({"meteor-picture", clip_, "--out", png.string()});
  const bool made = fs::exists(ClipFile("P.BMP"));
  fs::remove(ClipFile("P.BMP"));
  fs::rename(kept, ClipFile("P.BMP"));
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(made);
  EXPECT_NE(r.out.find("made the peak-hold still"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(png));
}

TEST_F(MeteorPictureCommand, RefusedAndFailedRequests) {
  const fs::path png = out_.path() / "meteor.png";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"no --out", {"meteor-picture", clip_}, 1, "--out"},
      {"no clip", {"meteor-picture", "--out", png.string()}, 1, "name one clip"},
      {"two clips", {"meteor-picture", clip_, clip_, "--out", png.string()}, 1, "name one clip"},
      {"unknown clip", {"meteor-picture", "M19990101_000000", "--out", png.string()}, 1,
       "no clip M19990101_000000"},
      {"object 0", {"meteor-picture", clip_, "--object", "0", "--out", png.string()}, 1,
       "--object"},
      {"object text", {"meteor-picture", clip_, "--object", "one", "--out", png.string()}, 1,
       "--object"},
      {"no such object", {"meteor-picture", clip_, "--object", "99", "--out", png.string()}, 2,
       "has no object 99"},
      {"unwritable", {"meteor-picture", clip_, "--out", (out_.path() / "no" / "m.png").string()},
       2, "cannot write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramResult r = Mr4(c.args);
    EXPECT_EQ(r.exit_code, c.status) << r.out << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(png));
    EXPECT_FALSE(fs::exists(out_.path() / "no"));
  }

  // Without its result file the clip has nothing to draw.
  const fs::path kept = out_.path() / "kept.xml";
  fs::rename(ClipFile("A.XML"), kept);
  const ProgramResult r = Mr4({"meteor-picture", clip_, "--out", png.string()});
  fs::rename(kept, ClipFile("A.XML"));
  EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("has no result file"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(png));
}

}  // namespace
}  // namespace mr4::test
