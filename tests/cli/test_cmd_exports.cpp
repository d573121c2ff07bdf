// End-to-end tests of `mr4 export-csv`, `mr4 report`, `mr4 export-objects`
// and `mr4 time-adjust` on a home made by `mr4 init` and a clip directory
// with a capture record and a result file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

constexpr char kClip[] = "M20231231_233000_TK1";

class ExportCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"dirs", "add", clips_.path().string()}).exit_code, 0);
    ASSERT_EQ(Run({"settings", "--set", "PA0->p_lid=Tokyo", "--set", "PA0->p_sid=TK1"})
                  .exit_code,
              0);
    const std::string name = kClip;
    WriteFileBytes(clips_.path() / (name + ".avi"), "avi");
    WriteFileBytes(clips_.path() / (name + ".xml"),
                   "<halvex_record head=\"30\" y=\"2023\" mo=\"12\" d=\"31\" h=\"23\" m=\"30\" "
                   "s=\"0.0\" tz=\"32400\" lid=\"Tokyo\" sid=\"TK1\" fps=\"29.97\" "
                   "interlaced=\"1\"></halvex_record>\r\n");
    WriteFileBytes(clips_.path() / (name + "A.XML"),
                   "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
                   "<meridra_record version =\"202\" clip_name=\"" + name +
                       "\" o=\"2\" y=\"2023\" mo=\"12\" d=\"31\" h=\"23\" m=\"30\" s=\"0.0\" "
                       "tz=\"32400\" lid=\"Tokyo\" sid=\"TK1\" fps=\"29.97\" interlaced=\"1\">\r\n"
                       "\t<mr2_objects>\r\n"
                       "<mr2_object mag=\"-1.5\" sec=\"0.5\" class=\"spo\" ra1=\"120.0\">\r\n"
                       "</mr2_object>\r\n"
                       "<mr2_object mag=\"2.0\" class=\"__noise\">\r\n</mr2_object>\r\n"
                       "\t</mr2_objects>\r\n</meridra_record>\r\n");
    WriteFileBytes(clips_.path() / "C20231231.csv",
                   "1," + name + ".avi,x,x,2023,12,31,23,30,0\r\n");
  }
  ProgramResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args);
  }

  TempHome home_{"mr4-exports-home"};
  TempDir clips_{"mr4-exports-clips"};
  TempDir out_{"mr4-exports-out"};
};

TEST_F(ExportCommands, ExportsTheScannedObjects) {
  const ProgramResult csv = Run({"export-csv", "--with-report", "--out", out_.path().string()});
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  const fs::path summary = out_.path() / "M20231231_23_000_Tokyo_TK1.csv";
  const fs::path report = out_.path() / "M20231231_23_000_Tokyo_TK1R.csv";
  EXPECT_NE(csv.out.find("summary: " + summary.string() + " (1 lines)\n"), std::string::npos)
      << csv.out;
  EXPECT_NE(csv.out.find("report: " + report.string() + " (2 lines)\n"), std::string::npos)
      << csv.out;
  const std::string lines = ReadFileBytes(summary);
  EXPECT_NE(lines.find("\r\nR05B28R, spo,20231231_233000,-1.5,0.500,"), std::string::npos)
      << lines;
  EXPECT_NE(lines.find(",59.940,"), std::string::npos) << lines;
  EXPECT_NE(ReadFileBytes(report).find(",Tokyo_TK1,      1,      1,      2\r\n"),
            std::string::npos);

  // Without --with-report an existing file is replaced only when told so.
  ProgramResult again = Run({"export-csv", "--ctrl-variant", "--out", out_.path().string()});
  EXPECT_EQ(again.exit_code, 3) << again.out;
  EXPECT_EQ(ReadFileBytes(summary), lines);
  again = Run({"--yes", "export-csv", "--ctrl-variant", "--out", out_.path().string()});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_NE(ReadFileBytes(summary).find("\r\nR05B28RX, spo,"), std::string::npos);

  fs::remove(report);
  const ProgramResult period = Run({"report", "--out", out_.path().string()});
  ASSERT_EQ(period.exit_code, 0) << period.err;
  EXPECT_TRUE(fs::exists(report));

  const ProgramResult objects = Run({"export-objects", "--out", out_.path().string()});
  ASSERT_EQ(objects.exit_code, 0) << objects.err;
  const std::string table = ReadFileBytes(out_.path() / "OBJ20231231.csv");
  EXPECT_EQ(table.rfind(" clip_name,o, class,", 0), 0u) << table;
  EXPECT_NE(table.find("\r\n M20231231_233000_TK1,2, spo,"), std::string::npos) << table;

  EXPECT_EQ(Run({"report", "--out", (out_.path() / "none").string()}).exit_code, 1);
}

TEST_F(ExportCommands, TimeAdjustMovesTheClipAcrossMidnight) {
  EXPECT_EQ(Run({"time-adjust", "--shift", "3600"}).exit_code, 1);
  EXPECT_EQ(Run({"time-adjust", "--shift", "x", kClip}).exit_code, 1);
  EXPECT_EQ(Run({"time-adjust", "--shift", "3600", "M20990101_000000_X"}).exit_code, 1);

  const ProgramResult declined = Run({"time-adjust", "--shift", "3600", kClip});
  EXPECT_EQ(declined.exit_code, 3);
  EXPECT_NE(declined.err.find("Time adjust for all listed clips ok?"), std::string::npos);

  const ProgramResult run = Run({"--yes", "time-adjust", "--shift", "3600", kClip});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("1 clips, 1 result files, 1 capture records, 1 log lines adjusted, "
                         "0 failed\n"),
            std::string::npos)
      << run.out;
  const std::string name = kClip;
  EXPECT_NE(ReadFileBytes(clips_.path() / (name + ".xml"))
                .find("head=\"30\" y=\"2024\" mo=\"1\" d=\"1\" h=\"0\" m=\"30\" s=\"0.0000\""),
            std::string::npos);
  EXPECT_EQ(ReadFileBytes(clips_.path() / "C20231231.csv"),
            "1," + name + ".avi,x,x,2024,1,1,0,30,0\r\n");
  const ProgramResult scan = Run({"scan", "--csv", "--columns", "clip_name,y,mo,d,h,m"});
  EXPECT_NE(scan.out.find(name + ",2024,1,1,0,30"), std::string::npos) << scan.out;
}

}  // namespace
}  // namespace mr4::test
