// End to end: `mr4 analyze` without clip names analyses a simulated night
// in parallel; the result files do not depend on the number of slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kCamera = {"cx=720", "cy=480", "lng=139.7", "lat=35.7",
                                          "alt=30", "tz=32400", "rot=0", "k4=0",
                                          "k3=0.06", "k2=-0.03", "yx=1", "dx=0",
                                          "dy=0", "dlim=40"};

ProgramResult Mr4(const TempHome& home, std::vector<std::string> args) {
  args.insert(args.begin(), {"--home", home.path().string()});
  return RunMr4(args);
}

void SetProfile(const TempHome& home, const std::string& file,
                const std::vector<std::string>& pointing) {
  std::vector<std::string> args = {"profile", "set", file};
  args.insert(args.end(), kCamera.begin(), kCamera.end());
  args.insert(args.end(), pointing.begin(), pointing.end());
  const ProgramResult r = Mr4(home, args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

// A home with the night's clips in clips/ (copied from `night`, or
// simulated when `night` is empty) added with the observer's profile.
void PrepareHome(const TempHome& home, const fs::path& night, int clips) {
  SetProfile(home, "sky.XML", {"az=135", "ev=45", "vx=56"});
  SetProfile(home, "observer.XML", {"az=136", "ev=44", "vx=56.5"});
  const fs::path dir = home.path() / "clips";
  if (night.empty()) {
    const ProgramResult sim =
        Mr4(home, {"simulate", "--night", "--out", dir.string(), "--profile", "sky.XML",
                   "--date", "2024-08-12", "--clips", std::to_string(clips), "--head", "10",
                   "--tail", "10", "--seed", "1"});
    ASSERT_EQ(sim.exit_code, 0) << sim.err;
  } else {
    fs::copy(night, dir);
  }
  const ProgramResult add =
      Mr4(home, {"dirs", "add", dir.string(), "--profile", "observer.XML"});
  ASSERT_EQ(add.exit_code, 0) << add.err;
}

std::map<std::string, std::string> DirectoryFiles(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    files[entry.path().filename().string()] = ReadFileBytes(entry.path());
  }
  return files;
}

// The lines of `out` that start with `prefix`.
std::vector<std::string> LinesStarting(const std::string& out, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

TEST(ParallelAnalyzeCommand, OneSlotAndFourSlotsWriteTheSameResults) {
  TempHome one("mr4-parallel-1");
  PrepareHome(one, {}, 8);
  TempHome four("mr4-parallel-4");
  // The same clips, as the simulator wrote them, before any analysis.
  PrepareHome(four, one.path() / "clips", 8);

  const ProgramResult r1 = Mr4(one, {"analyze", "--threads", "1"});
  ASSERT_EQ(r1.exit_code, 0) << r1.out << r1.err;
  const ProgramResult r4 = Mr4(four, {"analyze", "--threads", "4"});
  ASSERT_EQ(r4.exit_code, 0) << r4.out << r4.err;
  EXPECT_EQ(LinesStarting(r1.out, "clips:"),
            std::vector<std::string>{"clips: 8 analysed, 0 skipped, 0 failed"})
      << r1.out;
  EXPECT_EQ(LinesStarting(r4.out, "clips:"), LinesStarting(r1.out, "clips:")) << r4.out;
  EXPECT_EQ(LinesStarting(r4.out, "meteors:"), LinesStarting(r1.out, "meteors:"));
  EXPECT_EQ(LinesStarting(r4.out, "other objects:"), LinesStarting(r1.out, "other objects:"));
  EXPECT_EQ(LinesStarting(r1.out, "elapsed:").size(), 1u) << r1.out;
  EXPECT_NE(r4.out.find("on 5 slots"), std::string::npos) << r4.out;

  const auto files1 = DirectoryFiles(one.path() / "clips");
  const auto files4 = DirectoryFiles(four.path() / "clips");
  std::vector<std::string> names1, names4;
  for (const auto& [name, bytes] : files1) names1.push_back(name);
  for (const auto& [name, bytes] : files4) names4.push_back(name);
  ASSERT_EQ(names1, names4);
  int results = 0;
  for (const auto& [name, bytes] : files1) {
    EXPECT_TRUE(bytes == files4.at(name)) << name << " differs between 1 and 4 slots";
    if (name.size() > 5 && name.compare(name.size() - 5, 5, "A.XML") == 0) ++results;
  }
  EXPECT_EQ(results, 8) << "a result file per clip";
}

// Motion JPEG through gst-launch-1.0; false when the tool or an element is
// missing.
bool TranscodeToMotionJpeg(const fs::path& in, const fs::path& out) {
  if (std::system("gst-inspect-1.0 jpegenc > /dev/null 2>&1") != 0 ||
      std::system("gst-inspect-1.0 avimux > /dev/null 2>&1") != 0)
    return false;
  const std::string command = "gst-launch-1.0 -q filesrc location=\"" + in.string() +
                              "\" ! decodebin ! videoconvert ! jpegenc quality=90 ! avimux ! "
                              "filesink location=\"" + out.string() + "\" > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

TEST(ParallelAnalyzeCommand, ReplayClipsRunInSlotZeroBesideTheWorkers) {
  TempHome parallel("mr4-parallel-replay");
  PrepareHome(parallel, {}, 4);
  const fs::path dir = parallel.path() / "clips";
  std::vector<std::string> avis;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".avi") avis.push_back(entry.path().stem().string());
  }
  std::sort(avis.begin(), avis.end());
  ASSERT_EQ(avis.size(), 4u);
  // The third clip only the replay graph decodes.
  const fs::path video = dir / (avis[2] + ".avi");
  if (!TranscodeToMotionJpeg(video, parallel.path() / "mjpeg.avi"))
    GTEST_SKIP() << "no gst-launch-1.0 with jpegenc and avimux";
  fs::rename(parallel.path() / "mjpeg.avi", video);
  TempHome alone("mr4-parallel-replay-alone");
  PrepareHome(alone, dir, 4);

  const ProgramResult r = Mr4(parallel, {"analyze", "--threads", "2"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(LinesStarting(r.out, "clips:"),
            std::vector<std::string>{"clips: 4 analysed, 0 skipped, 0 failed"})
      << r.out << r.err;
  // The same clip analysed on its own, on the current context.
  const ProgramResult one = Mr4(alone, {"analyze", avis[2]});
  ASSERT_EQ(one.exit_code, 0) << one.out << one.err;
  const std::string result = avis[2] + "A.XML";
  EXPECT_TRUE(ReadFileBytes(dir / result) == ReadFileBytes(alone.path() / "clips" / result))
      << "the replay road's result depends on the parallel run";
}

TEST(ParallelAnalyzeCommand, SkippedAndFailedClipsAreNamed) {
  TempHome home("mr4-parallel-skip");
  PrepareHome(home, {}, 3);
  std::vector<std::string> avis;
  for (const auto& entry : fs::directory_iterator(home.path() / "clips")) {
    if (entry.path().extension() == ".avi") avis.push_back(entry.path().stem().string());
  }
  std::sort(avis.begin(), avis.end());
  ASSERT_EQ(avis.size(), 3u);
  const fs::path dir = home.path() / "clips";
  // The first clip without its mask picture; the second's video cut after
  // its header.
  fs::remove(dir / (avis[0] + "M.BMP"));
  const auto video = ReadFileBytes(dir / (avis[1] + ".avi"));
  WriteFileBytes(dir / (avis[1] + ".avi"), video.substr(0, 4096));

  const ProgramResult r = Mr4(home, {"analyze"});
  EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
  EXPECT_EQ(LinesStarting(r.out, "clips:"),
            std::vector<std::string>{"clips: 1 analysed, 1 skipped, 1 failed"})
      << r.out;
  EXPECT_EQ(LinesStarting(r.out, "failed: " + avis[1] + " (code ").size(), 1u) << r.out;
  EXPECT_EQ(LinesStarting(r.out, "  " + avis[0]).size(), 1u) << r.out;
  EXPECT_NE(r.out.find("'mr4 analyze CLIP' analyses them one by one with an empty mask."),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(dir / (avis[0] + "A.XML"))) << "a skipped clip is not analysed";
  EXPECT_TRUE(fs::exists(dir / (avis[2] + "A.XML")));

  // One by one, the skipped clip runs with the empty mask.
  const ProgramResult alone = Mr4(home, {"analyze", avis[0]});
  EXPECT_EQ(alone.exit_code, 0) << alone.out << alone.err;
  EXPECT_TRUE(fs::exists(dir / (avis[0] + "A.XML")));
}

// The clip names of the simulated night in clips/, in time order.
std::vector<std::string> ClipNames(const TempHome& home) {
  std::vector<std::string> avis;
  for (const auto& entry : fs::directory_iterator(home.path() / "clips")) {
    if (entry.path().extension() == ".avi") avis.push_back(entry.path().stem().string());
  }
  std::sort(avis.begin(), avis.end());
  return avis;
}

// The observer's camera 40 deg off: the stars cannot confirm it. The clips
// are analysed with it, but neither run calls that a success, and the
// result files say so.
TEST(ParallelAnalyzeCommand, AFailedCalibrationIsCountedAndMarked) {
  TempHome home("mr4-parallel-calibration");
  PrepareHome(home, {}, 2);
  SetProfile(home, "observer.XML", {"az=175", "ev=44", "vx=56.5"});
  const std::vector<std::string> clips = ClipNames(home);
  ASSERT_EQ(clips.size(), 2u);

  const ProgramResult r = Mr4(home, {"analyze"});
  EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
  EXPECT_EQ(LinesStarting(r.out, "clips:"),
            std::vector<std::string>{"clips: 2 analysed (2 calibration failed), 0 skipped, 0 failed"})
      << r.out;
  for (const std::string& clip : clips) {
    EXPECT_EQ(LinesStarting(r.out, "calibration failed: " + clip + " (").size(), 1u) << r.out;
    EXPECT_NE(ReadFileBytes(home.path() / "clips" / (clip + "A.XML")).find(" errm=\"-2.000000\""),
              std::string::npos)
        << clip;
  }
  const ProgramResult one = Mr4(home, {"analyze", clips[0]});
  EXPECT_EQ(one.exit_code, 2) << one.out << one.err;
  EXPECT_EQ(LinesStarting(one.out, clips[0] + ": calibration failed: ").size(), 1u) << one.out;
  // Without the star fit nothing was claimed about the pointing.
  EXPECT_EQ(Mr4(home, {"analyze", "--no-star-fit", clips[0]}).exit_code, 0);
}

// A directory row naming a profile file that is not there: every command
// that would use the camera says which file, and none succeeds.
TEST(ParallelAnalyzeCommand, AProfileThatCannotBeReadIsAnErrorNamingTheFile) {
  TempHome home("mr4-parallel-profile");
  PrepareHome(home, {}, 2);
  const std::vector<std::string> clips = ClipNames(home);
  ASSERT_EQ(clips.size(), 2u);
  const std::string file = (home.path() / "PROF" / "observer.XML").string();
  fs::remove(file);

  const std::string scanned = "Cannot read the profile " + file + " of clip directory ";
  const ProgramResult scan = Mr4(home, {"scan"});
  EXPECT_EQ(scan.exit_code, 2) << scan.err;
  EXPECT_NE(scan.err.find(scanned), std::string::npos) << scan.err;
  EXPECT_NE(scan.out.find("2 clips"), std::string::npos) << scan.out;  // still listed

  const ProgramResult calibrate = Mr4(home, {"calibrate", clips[0]});
  EXPECT_EQ(calibrate.exit_code, 2) << calibrate.out;
  EXPECT_NE(calibrate.out.find("cannot read its profile " + file), std::string::npos)
      << calibrate.out;

  const std::string refused = clips[0] + ": cannot read its profile " + file;
  const ProgramResult one = Mr4(home, {"analyze", clips[0]});
  EXPECT_EQ(one.exit_code, 2) << one.out;
  EXPECT_NE(one.err.find(refused), std::string::npos) << one.err;
  EXPECT_FALSE(fs::exists(home.path() / "clips" / (clips[0] + "A.XML")));

  const ProgramResult all = Mr4(home, {"analyze"});
  EXPECT_EQ(all.exit_code, 2) << all.out;
  EXPECT_EQ(LinesStarting(all.out, "clips:"),
            std::vector<std::string>{"clips: 0 analysed, 0 skipped, 2 failed"})
      << all.out;
  EXPECT_NE(all.err.find(refused), std::string::npos) << all.err;
}

TEST(ParallelAnalyzeCommand, UnclassifiedOnlyRunsTheClipsWithoutAMeteorClass) {
  TempHome home("mr4-parallel-ctrl");
  PrepareHome(home, {}, 6);
  const ProgramResult first = Mr4(home, {"analyze"});
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  // The clip classes as the scan reads them back from the result files.
  const ProgramResult scan = Mr4(home, {"scan", "--columns", "clip_name,class"});
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  int unclassified = 0;
  for (const std::string& line : LinesStarting(scan.out, "M20")) {
    std::istringstream fields(line);
    std::string name, cls;
    fields >> name >> cls;
    if (cls.empty() || cls[0] == '_' || (cls.size() > 1 && cls[1] == '_')) ++unclassified;
  }
  const ProgramResult again = Mr4(home, {"analyze", "--unclassified-only"});
  ASSERT_EQ(again.exit_code, 0) << again.out << again.err;
  if (unclassified == 0) {
    EXPECT_NE(again.out.find("no clip to analyse"), std::string::npos) << again.out;
  } else {
    EXPECT_EQ(LinesStarting(again.out, "clips:"),
              std::vector<std::string>{"clips: " + std::to_string(unclassified) +
                                       " analysed, 0 skipped, 0 failed"})
        << scan.out << again.out;
  }
}

TEST(ParallelAnalyzeCommand, RefusesBadOptions) {
  TempHome home("mr4-parallel-usage");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"analyze", "--threads", "0"}, "--threads wants 1 to 8, not '0'"},
      {{"analyze", "--threads", "9"}, "--threads wants 1 to 8, not '9'"},
      {{"analyze", "--threads", "two"}, "--threads wants 1 to 8, not 'two'"},
      {{"analyze", "--threads", "2", "SOMECLIP"}, "name no clip"},
      {{"analyze", "--unclassified-only", "SOMECLIP"}, "name no clip"},
      {{"analyze", "--range", "some"}, "--range is all, range or latest, not 'some'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ProgramResult r = Mr4(home, c.args);
    EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  const ProgramResult empty = Mr4(home, {"analyze"});
  EXPECT_EQ(empty.exit_code, 0) << empty.err;
  EXPECT_NE(empty.out.find("no clip to analyse"), std::string::npos) << empty.out;
}

}  // namespace
}  // namespace mr4::test
