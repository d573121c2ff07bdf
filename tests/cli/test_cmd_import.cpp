// End to end: `mr4 import` makes clips of other cameras' videos, which the
// scan reads as the capture program's own; what cannot become a clip is
// named and left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a gst-launch-1.0 pipeline; false when it is missing or fails.
bool Launch(const std::string& pipeline) {
  const std::string command = "gst-launch-1.0 -q " + pipeline + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool HasElements(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const std::string command = std::string("gst-inspect-1.0 ") + name + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
  }
  return true;
}

struct Fixture {
  TempHome home{"mr4-import"};
  fs::path src = home.path() / "src";
  fs::path clips = home.path() / "clips";
  Fixture() {
    fs::create_directories(src);
    fs::create_directories(clips);
  }
  ProgramResult Import(std::vector<std::string> args) const {
    std::vector<std::string> all = {"--home", home.path().string(), "import"};
    all.insert(all.end(), args.begin(), args.end());
    return RunMr4(all);
  }
  // A simulated clip's video, moved out of the clip set: an AVI of another
  // camera (its own capture record stays behind).
  fs::path SimulatedAvi(const std::string& name) const {
    const ProgramResult sim =
        RunMr4({"--home", home.path().string(), "simulate", "--out", (src / "sim").string(),
                "--time", "2024-08-12 23:15:30", "--frames", "12", "--seed", "2"});
    EXPECT_EQ(sim.exit_code, 0) << sim.err;
    const fs::path avi = src / name;
    fs::rename(src / "sim" / "M20240812_231530_SIM.avi", avi);
    return avi;
  }
  std::vector<std::string> ClipFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(clips)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST(ImportCommand, AviIsCopiedAsItIsUnderTheCaptureNameWithItsRecord) {
  Fixture f;
  const fs::path avi = f.SimulatedAvi("other camera.avi");
  // A read-only source still gives a clip the file operations can replace.
  fs::permissions(avi, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const ProgramResult r =
      f.Import({avi.string(), "--to", f.clips.string(), "--site", "-3.5,40.25,650", "--time",
                "2023-12-14 01:02:03.5", "--tz", "3600", "--station", "ES_Madrid1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("M20231214_010203 720x480 fps=29.970 frames=12 YUY2 copied"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(f.ClipFiles(), (std::vector<std::string>{"M20231214_010203.avi",
                                                      "M20231214_010203.xml"}));
  EXPECT_EQ(ReadAll(f.clips / "M20231214_010203.avi"), ReadAll(avi));
  EXPECT_NE(fs::status(f.clips / "M20231214_010203.avi").permissions() & fs::perms::owner_write,
            fs::perms::none);
  const std::string xml = ReadAll(f.clips / "M20231214_010203.xml");
  for (const char* part :
       {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<halvex_record\r\n\ty=\"2023\" mo=\"12\"",
        "s=\"3.5000\" tz=\"3600\"", "lid=\"ES\"\r\n\tsid=\"Madrid1\" lng=\"356.500000\"",
        "lat=\"40.250000\" alt=\"650.000000\"", "cx=\"720\" cy=\"480\" fps=\"29.969",
        "frames=\"12\"", "fourcc=\"YUY2\" codec=\"YUY2\"", "source_type=\"import\"", "memo=\"other camera.avi\"\r\n/>\r\n"}) {
    EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
  }
  // The scan takes it for a clip of the capture program.
  ASSERT_EQ(RunMr4({"--home", f.home.path().string(), "dirs", "add", f.clips.string()}).exit_code,
            0);
  const ProgramResult scan = RunMr4({"--home", f.home.path().string(), "scan"});
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  EXPECT_NE(scan.out.find("1 clips"), std::string::npos) << scan.out;
  EXPECT_NE(scan.out.find("M20231214_010203"), std::string::npos) << scan.out;

  // A second import of the same time leaves the clip alone.
  const ProgramResult again = f.Import({avi.string(), "--to", f.clips.string(), "--site",
                                        "1,2,3", "--time", "2023-12-14 01:02:03"});
  EXPECT_EQ(again.exit_code, 2);
  EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
  EXPECT_EQ(ReadAll(f.clips / "M20231214_010203.xml"), xml);
}

// Each file's time from its name: an H.264 Matroska file remuxed by
// avimux, an FLV1 file rewritten into AVI chunks (avimux takes no FLV1), an
// AVI copied; GStreamer's own demuxer reads the written clips to their end.
TEST(ImportCommand, SeveralFilesTakeTheirTimesFromTheirNames) {
  if (!HasElements({"videotestsrc", "x264enc", "h264parse", "matroskamux", "avenc_flv",
                    "flvmux", "avidemux", "avdec_flv"})) {
    GTEST_SKIP() << "the GStreamer elements that make the fixtures are not installed";
  }
  Fixture f;
  const fs::path mkv = f.src / "cam_20240103_201510.mkv";
  const fs::path flv = f.src / "cam_20240103_201622.flv";
  const fs::path avi = f.SimulatedAvi("cam_20240103_201705.avi");
  ASSERT_TRUE(Launch("videotestsrc num-buffers=15 ! video/x-raw,width=320,height=240,"
                     "framerate=25/1 ! x264enc ! h264parse ! matroskamux ! filesink location=" +
                     mkv.string()));
  ASSERT_TRUE(Launch("videotestsrc num-buffers=10 ! video/x-raw,width=160,height=120,"
                     "framerate=25/1 ! avenc_flv ! flvmux ! filesink location=" +
                     flv.string()));
  const ProgramResult r =
      f.Import({mkv.string(), flv.string(), avi.string(), "--to", f.clips.string(),
                "--site", "10,50,100", "--from-name", "%Y%m%d_%H%M%S"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("M20240103_201510 320x240 fps=25.000 frames=15 H264 remuxed"),
            std::string::npos)
      << r.out << r.err;
  EXPECT_NE(r.out.find("M20240103_201622 160x120 fps=25.000 frames=10 FLV1 remuxed"),
            std::string::npos)
      << r.out << r.err;
  EXPECT_NE(r.out.find("M20240103_201705 720x480"), std::string::npos) << r.out;
  EXPECT_EQ(f.ClipFiles(),
            (std::vector<std::string>{"M20240103_201510.avi", "M20240103_201510.xml",
                                      "M20240103_201622.avi", "M20240103_201622.xml",
                                      "M20240103_201705.avi", "M20240103_201705.xml"}));
  EXPECT_TRUE(Launch("filesrc location=" + (f.clips / "M20240103_201510.avi").string() +
                     " ! avidemux ! h264parse ! fakesink"));
  EXPECT_TRUE(Launch("filesrc location=" + (f.clips / "M20240103_201622.avi").string() +
                     " ! avidemux ! avdec_flv ! fakesink"));
}

TEST(ImportCommand, RefusesBadOptionsBeforeWritingAnything) {
  Fixture f;
  const std::string to = f.clips.string();
  const std::string one = (f.src / "a_20240101_000000.avi").string();
  const std::string two = (f.src / "b_20240101_000100.avi").string();
  const std::string site = "10,50,100";
  const std::string time = "2024-01-01 00:00:00";
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--to", to, "--site", site, "--time", time}, "give the video FILE"},
      {{one, "--site", site, "--time", time}, "--to DIR is required"},
      {{one, "--to", (f.src / "none").string(), "--site", site, "--time", time},
       "is not a directory"},
      {{one, "--to", to, "--time", time}, "--site LNG,LAT,ALT"},
      {{one, "--to", to, "--site", site}, "give --time"},
      {{one, "--to", to, "--site", site, "--time", time, "--from-name", "%Y%m%d"},
       "give --time"},
      {{one, two, "--to", to, "--site", site, "--time", time}, "--time takes one file"},
      {{one, "--to", to, "--site", "10,50", "--time", time}, "is not LNG,LAT,ALT"},
      {{one, "--to", to, "--site", "10,95,0", "--time", time}, "is not LNG,LAT,ALT"},
      {{one, "--to", to, "--site", site, "--time", "2024-02-30 00:00:00"}, "not a valid"},
      {{one, "--to", to, "--site", site, "--time", "2024-01-01"}, "not a valid"},
      {{one, "--to", to, "--site", site, "--time", time, "--tz", "9h"}, "--tz '9h'"},
      {{one, "--to", to, "--site", site, "--time", time, "--station", "ES"}, "not LID_SID"},
      {{one, "--to", to, "--site", site, "--time", time, "--profile", "none.XML"},
       "cannot read the profile"},
      {{one, "--to", to, "--site", site, "--from-name", "%Y%m%d_%H%M%q"}, "unknown %"},
      {{one, "--to", to, "--site", site, "--from-name", "%H%M%S"}, "needs %Y, %m and %d"},
      {{one, two, "--to", to, "--site", site, "--from-name", "b_%Y%m%d_%H%M%S"},
       "holds no time"},
      {{one, "--to", to, "--site", site, "--from-name", "%Y%m%d_%H%M%S", "--speed", "3"},
       "--speed"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = f.Import(c.args);
    EXPECT_EQ(r.exit_code, 1) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << "\n" << r.err;
  }
  EXPECT_TRUE(f.ClipFiles().empty());
}

// The times a name gives by a pattern, and names that give none.
TEST(ImportCommand, FromNameMatchesThePatternAnywhereInTheName) {
  Fixture f;
  const fs::path avi = f.SimulatedAvi("placeholder.avi");
  struct Case {
    const char* name;
    const char* pattern;
    const char* base;  // null: no time
  } cases[] = {
      {"ev_20240812_231530_A.avi", "%Y%m%d_%H%M%S", "M20240812_231530"},
      {"2024-08-12T23-15.avi", "%Y-%m-%dT%H-%M", "M20240812_231500"},
      {"x%2024.08.12.avi", "%%%Y.%m.%d", "M20240812_000000"},
      // The first place with a valid time wins: 99 is no month.
      {"19991340_20240101_010101.avi", "%Y%m%d_%H%M%S", "M20240101_010101"},
      {"20240230_000000.avi", "%Y%m%d_%H%M%S", nullptr},
      {"2024812_231530.avi", "%Y%m%d_%H%M%S", nullptr},
  };
  for (const Case& c : cases) {
    const fs::path file = f.src / c.name;
    fs::copy_file(avi, file);
    const ProgramResult r = f.Import({file.string(), "--to", f.clips.string(), "--site",
                                      "10,50,100", "--from-name", c.pattern});
    if (c.base) {
      EXPECT_EQ(r.exit_code, 0) << c.name << "\n" << r.err;
      EXPECT_NE(r.out.find(std::string(" ") + c.base + " "), std::string::npos)
          << c.name << "\n" << r.out;
    } else {
      EXPECT_EQ(r.exit_code, 1) << c.name << "\n" << r.out;
      EXPECT_NE(r.err.find("holds no time"), std::string::npos) << c.name << "\n" << r.err;
    }
  }
}

TEST(ImportCommand, AFileThatIsNoVideoIsNamedAndLeavesNothing) {
  Fixture f;
  const fs::path text = f.src / "notes.avi";
  std::ofstream(text) << "not a video\n";
  const ProgramResult one = f.Import({text.string(), "--to", f.clips.string(), "--site",
                                      "10,50,100", "--time", "2024-01-01 00:00:00"});
  EXPECT_EQ(one.exit_code, 2) << one.out;
  EXPECT_NE(one.err.find("notes.avi: cannot be remuxed"), std::string::npos) << one.err;
  const ProgramResult missing = f.Import({(f.src / "missing.mkv").string(), "--to",
                                          f.clips.string(), "--site", "10,50,100", "--time",
                                          "2024-01-01 00:00:00"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
  EXPECT_TRUE(f.ClipFiles().empty());
}

// Real meteor clips from other networks' cameras (an XviD AVI copied, an
// FLV1 FLV rewritten): imported, then analysed, each holds a meteor.
TEST(ImportCommand, RealMeteorClipsImportedAreAnalysedAsMeteors) {
  const char* shared = std::getenv("MR4_REAL_CLIPS");
  if (!shared || !fs::exists(fs::path(shared) / "meteor1.avi")) {
    GTEST_SKIP() << "the real meteor clips are not present";
  }
  struct Case {
    const char* file;
    const char* size;
    const char* time;
    const char* clip;
    const char* line;
  } cases[] = {
      {"meteor1.avi", "cx=640 cy=480", "2016-03-01 21:30:00", "M20160301_213000",
       "M20160301_213000 640x480 fps=29.970 frames=181"},
      {"meteor5.flv", "cx=320 cy=240", "2015-03-14 23:06:48", "M20150314_230648",
       "M20150314_230648 320x240 fps=25.000 frames=295 FLV1 remuxed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Fixture f;
    const std::string home = f.home.path().string();
    std::vector<std::string> set = {"--home", home, "profile", "set", "fisheye.XML"};
    std::istringstream size(c.size);
    for (std::string word; size >> word;) set.push_back(word);
    for (const char* v : {"lng=2.35", "lat=48.85", "alt=60", "tz=0", "az=0", "ev=90", "rot=0",
                          "vx=180", "lid=FR", "sid=Fisheye"}) {
      set.push_back(v);
    }
    ASSERT_EQ(RunMr4(set).exit_code, 0);
    const ProgramResult r = f.Import({(fs::path(shared) / c.file).string(), "--to",
                                      f.clips.string(), "--profile", "fisheye.XML", "--time",
                                      c.time});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
    ASSERT_EQ(RunMr4({"--home", home, "dirs", "add", f.clips.string(), "--profile",
                      "fisheye.XML"})
                  .exit_code,
              0);
    const ProgramResult a = RunMr4({"--home", home, "analyze", "--no-star-fit", c.clip});
    ASSERT_EQ(a.exit_code, 0) << a.out << a.err;
    // Object lines are indented; classes of what is no meteor begin "__".
    bool meteor = false;
    std::istringstream lines(a.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("  ", 0) != 0) continue;
      std::istringstream words(line);
      std::string object_class;
      words >> object_class;
      meteor |= !object_class.empty() && object_class.rfind("__", 0) != 0;
    }
    EXPECT_TRUE(meteor) << a.out;
  }
}

}  // namespace
}  // namespace mr4::test
