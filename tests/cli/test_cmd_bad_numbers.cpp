// End to end: numbers from the clip's files and from the command line that
// the program must survive or refuse. Frame sizes that no buffer holds,
// angles far off the circle, values outside a field's range and computed
// values that are not numbers: a bad clip fails with its name and the run
// goes on, a refused value changes nothing, and nothing hangs or aborts.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

constexpr char kBad[] = "M20240812_231530_SIM";   // the clip each case spoils
constexpr char kGood[] = "M20240812_232000_SIM";  // analysed beside it

ProgramResult Mr4(const fs::path& home, std::vector<std::string> args) {
  args.insert(args.begin(), {"--home", home.string()});
  return RunMr4(args);
}

// Replaces the first `from` in the file by `to`; the case is void when the
// file does not hold it.
void Replace(const fs::path& file, const std::string& from, const std::string& to) {
  std::string text = ReadFileBytes(file);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from << " not in " << file;
  text.replace(at, from.size(), to);
  WriteFileBytes(file, text);
}

class BadNumbers : public ::testing::Test {
 protected:
  // Two small simulated clips, analysed once: their files, with the result
  // files, are the starting point of every case.
  static void SetUpTestSuite() {
    source_ = std::make_unique<TempHome>("mr4-badnum-source");
    const fs::path clips = source_->path() / "clips";
    for (const char* time : {"2024-08-12 23:15:30", "2024-08-12 23:20:00"}) {
      const ProgramResult sim = Mr4(source_->path(), {"simulate", "--out", clips.string(),
                                                      "--time", time, "--frames", "40",
                                                      "--seed", "3"});
      ASSERT_EQ(sim.exit_code, 0) << sim.err;
    }
    ASSERT_EQ(Mr4(source_->path(), {"dirs", "add", clips.string()}).exit_code, 0);
    const ProgramResult run = Mr4(source_->path(), {"analyze"});
    ASSERT_EQ(run.exit_code, 0) << run.out << run.err;
    ASSERT_TRUE(fs::exists(clips / (std::string(kBad) + "A.XML")));
  }
  static void TearDownTestSuite() { source_.reset(); }

  // Copies of the clips (with their result files only when `with_results`)
  // in the clip directory of `home`.
  static fs::path CopyClips(const fs::path& home, bool with_results) {
    const fs::path clips = home / "clips";
    fs::create_directories(clips);
    for (const auto& e : fs::directory_iterator(source_->path() / "clips")) {
      const std::string name = e.path().filename().string();
      const bool result = name.ends_with("A.XML") || name.ends_with("L.csv");
      if (result && !with_results) continue;
      fs::copy_file(e.path(), clips / name);
    }
    EXPECT_EQ(Mr4(home, {"dirs", "add", clips.string()}).exit_code, 0);
    return clips;
  }

  static inline std::unique_ptr<TempHome> source_;
  TempHome home_{"mr4-badnum-home"};
};

// A frame size no buffer holds, from the capture record or from a result
// file: that clip fails, named with its size, and the run analyses the next.
TEST_F(BadNumbers, AnUnusableFrameSizeFailsItsClipAndTheRunGoesOn) {
  struct Case {
    const char* what;
    const char* file;  // the spoiled file of the clip: its name after the base name
    const char* from;
    const char* to;
    const char* size;  // as the message gives it
  };
  const Case cases[] = {
      {"negative width", ".xml", "cx=\"720\"", "cx=\"-720\"", "-720x480"},
      {"zero width", ".xml", "cx=\"720\"", "cx=\"0\"", "0x480"},
      {"both sizes the largest int", ".xml", "cx=\"720\" cy=\"480\"",
       "cx=\"2147483647\" cy=\"2147483647\"", "2147483647x2147483647"},
      {"result file of a huge frame", "A.XML", "cx=\"720\" cy=\"480\"",
       "cx=\"100000\" cy=\"100000\"", "100000x100000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TempHome home("mr4-badnum-home");
    const bool result = std::string(c.file) == "A.XML";
    const fs::path clips = CopyClips(home.path(), result);
    Replace(clips / (std::string(kBad) + c.file), c.from, c.to);
    if (result) fs::remove(clips / (std::string(kGood) + "A.XML"));

    // Alone, and in a library run with the other clip.
    const ProgramResult one = Mr4(home.path(), {"analyze", kBad});
    EXPECT_EQ(one.exit_code, 2) << one.out << one.err;
    const std::string message = std::string(kBad) + ": frame size " + c.size +
                                " is not usable (1x1 to 8192x4320)";
    EXPECT_NE(one.err.find(message), std::string::npos) << one.err;

    const ProgramResult all = Mr4(home.path(), {"analyze"});
    EXPECT_EQ(all.exit_code, 2) << all.out << all.err;
    EXPECT_NE(all.err.find(message), std::string::npos) << all.err;
    EXPECT_NE(all.out.find("clips: 1 analysed, 0 skipped, 1 failed"), std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find(std::string("failed: ") + kBad), std::string::npos) << all.out;
    EXPECT_TRUE(fs::exists(clips / (std::string(kGood) + "A.XML")));
  }
}

// Angles far off the circle are folded in one step, wherever they come
// from: the commands end and the clip is analysed.
TEST_F(BadNumbers, HugeAnglesInTheFilesEndEveryCommand) {
  CopyClips(home_.path(), false);
  // A shower table row whose start of activity is 1e30 deg: every start-up
  // prepares the table.
  Replace(home_ / "V14.jx.csv", ",271.000000,", ",1e30,");
  const ProgramResult scan = Mr4(home_.path(), {"scan"});
  EXPECT_EQ(scan.exit_code, 0) << scan.err;

  // A station longitude of 1e30 deg in the capture record; one of "inf",
  // which no record holds, leaves the longitude unread.
  for (const char* lng : {"1e30", "inf", "-1e38"}) {
    SCOPED_TRACE(lng);
    const fs::path record = home_ / "clips" / (std::string(kBad) + ".xml");
    WriteFileBytes(record, ReadFileBytes(source_->path() / "clips" / (std::string(kBad) + ".xml")));
    Replace(record, "lng=\"139.000000\"", std::string("lng=\"") + lng + "\"");
    const ProgramResult run = Mr4(home_.path(), {"analyze", kBad});
    // The stars are not where the wrong site puts them: the star fit fails.
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 2) << run.exit_code << run.err;
    EXPECT_NE(run.out.find(std::string(kBad) + ": "), std::string::npos) << run.out;
    const std::string result = ReadFileBytes(home_ / "clips" / (std::string(kBad) + "A.XML"));
    EXPECT_EQ(result.find("nan"), std::string::npos);
    EXPECT_EQ(result.find("inf"), std::string::npos);
  }
}

// A value outside its field's range is refused, naming the field and its
// range, with status 2 and nothing written; the ends of a range are taken.
TEST_F(BadNumbers, ValuesOutsideTheirRangeAreRefused) {
  ASSERT_EQ(Mr4(home_.path(), {"profile", "set", "cam.XML", "az=10"}).exit_code, 0);
  ASSERT_EQ(Mr4(home_.path(), {"settings", "--set", "AP.Y=2024"}).exit_code, 0);
  const fs::path profile = home_ / "PROF" / "cam.XML";
  const std::string profile_bytes = ReadFileBytes(profile);
  const std::string settings_bytes = ReadFileBytes(home_ / "MR4_PARAM.MRA");

  struct Case {
    std::vector<std::string> args;
    const char* message;  // the whole line on stderr
  };
  const Case refused[] = {
      {{"profile", "set", "cam.XML", "az=1e30"},
       "mr4 profile: az=1e30 is outside the range of az, 0 to 360; nothing was written\n"},
      {{"profile", "set", "cam.XML", "ev=45", "rot=190"},
       "mr4 profile: rot=190 is outside the range of rot, -180 to 180; nothing was written\n"},
      {{"profile", "set", "cam.XML", "cx=0"},
       "mr4 profile: cx=0 is outside the range of cx, 1 to 8192; nothing was written\n"},
      {{"profile", "set", "cam.XML", "dlim=100"},
       "mr4 profile: dlim=100 is outside the range of dlim, 1 to 99; nothing was written\n"},
      {{"profile", "set", "cam.XML", "lat=-90.5"},
       "mr4 profile: lat=-90.5 is outside the range of lat, -90 to 90; nothing was written\n"},
      {{"settings", "--set", "AP.Y=-2147483648"},
       "mr4 settings: AP.Y=-2147483648 is outside the range of 'AP.Y', 1900 to 3000; nothing "
       "was written\n"},
      {{"settings", "--set", "AP.g_h0=90", "--set", "AP.M=13"},
       "mr4 settings: AP.M=13 is outside the range of 'AP.M', 1 to 12; nothing was written\n"},
      {{"settings", "--set", "PA0->p_az =400"},
       "mr4 settings: PA0->p_az =400 is outside the range of 'PA0->p_az ', 0 to 360; nothing "
       "was written\n"},
      {{"settings", "--set", "gPAN=0"},
       "mr4 settings: gPAN=0 is outside the range of 'gPAN', 1 to 8; nothing was written\n"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args.back());
    const ProgramResult r = Mr4(home_.path(), c.args);
    EXPECT_EQ(r.exit_code, 1);  // a usage error
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFileBytes(profile), profile_bytes);
    EXPECT_EQ(ReadFileBytes(home_ / "MR4_PARAM.MRA"), settings_bytes);
  }

  const Case taken[] = {
      {{"profile", "set", "cam.XML", "az=360", "rot=-180", "cx=8192", "cy=4320"}, ""},
      {{"settings", "--set", "AP.Y=3000", "--set", "AP.M=1", "--set", "PA0->p_az =0"}, ""},
  };
  for (const Case& c : taken) {
    SCOPED_TRACE(c.args.back());
    const ProgramResult r = Mr4(home_.path(), c.args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, c.message);
  }
  EXPECT_NE(Mr4(home_.path(), {"profile", "show", "cam.XML"}).out.find("\naz=360.000000\n"),
            std::string::npos);
  EXPECT_EQ(Mr4(home_.path(), {"settings", "--get", "AP.Y"}).out, "AP.Y=3000\n");
}

// A frame count or head from the files may be any int: the run's field
// numbers stay within the int range (no overflow when they are doubled for
// an interlaced clip).
TEST_F(BadNumbers, TheLargestFrameCountsOfAnInterlacedClipAreAnalysed) {
  const fs::path clips = CopyClips(home_.path(), false);
  const fs::path record = clips / (std::string(kBad) + ".xml");
  Replace(record, "interlaced=\"0\"", "interlaced=\"1\"");
  Replace(record, "frames=\"40\" head=\"30\"", "frames=\"2147483647\" head=\"2147483647\"");
  const ProgramResult run = Mr4(home_.path(), {"analyze", "--no-star-fit", kBad});
  EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
  EXPECT_TRUE(fs::exists(clips / (std::string(kBad) + "A.XML")));
}

}  // namespace
}  // namespace mr4::test
