// End-to-end tests of `mr4 export-frames` on a home made by `mr4 init` and a
// clip directory with two clips: one with a result file (a meteor written
// with its samples out of field order and a noise object), one without.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace mr4::test {
namespace {

namespace fs = std::filesystem;

constexpr char kClip[] = "M20231231_233000_TK1";
constexpr char kUnanalysed[] = "M20231231_234000_TK1";

std::string CaptureRecord() {
  return "<halvex_record head=\"30\" y=\"2023\" mo=\"12\" d=\"31\" h=\"23\" m=\"30\" s=\"0.0\" "
         "tz=\"32400\" lid=\"Tokyo\" sid=\"TK1\" fps=\"29.97\" interlaced=\"1\">"
         "</halvex_record>\r\n";
}

std::string Sample(int field, double lsum, double ra, double x, double y) {
  return "<mr2_fdata2 fno=\"" + std::to_string(field) + "\" b=\"200\" bm=\"0\" Lsum=\"" +
         std::to_string(lsum) + "\" mag=\"+1.00\" az=\"45.0\" ev=\"30.0\" ra=\"" +
         std::to_string(ra) + "\" dec=\"+10.0\" err=\"0.01\" pass=\"1\" x=\"" +
         std::to_string(x) + "\" y=\"" + std::to_string(y) +
         "\" pixels=\"10\" r=\"3.0\"></mr2_fdata2>\r\n";
}

class ExportFramesCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"dirs", "add", clips_.path().string()}).exit_code, 0);
    for (const char* name : {kClip, kUnanalysed}) {
      WriteFileBytes(clips_.path() / (std::string(name) + ".avi"), "avi");
      WriteFileBytes(clips_.path() / (std::string(name) + ".xml"), CaptureRecord());
    }
    WriteFileBytes(
        clips_.path() / (std::string(kClip) + "A.XML"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
        "<meridra_record version =\"202\" clip_name=\"" + std::string(kClip) +
            "\" o=\"2\" y=\"2023\" mo=\"12\" d=\"31\" h=\"23\" m=\"30\" s=\"0.0\" tz=\"32400\" "
            "lid=\"Tokyo\" sid=\"TK1\" lng=\"139.5\" lat=\"35.25\" alt=\"40\" cx=\"720\" "
            "cy=\"480\" fps=\"29.97\" interlaced=\"1\" head=\"30\" vx=\"56\" yx=\"1\" "
            "maxLev=\"255\" maxMag=\"-1\" minLev=\"20\">\r\n"
            "\t<mr2_objects>\r\n"
            "<mr2_object mag=\"-1.5\" sec=\"0.5\" class=\"spo\" ra1=\"120.0\">\r\n"
            "\t<mr2_objpath>\r\n" +
            Sample(101, 5000, 120.0, 100.5, 300.5) + Sample(100, 4000, 119.0, 90.5, 305.5) +
            "\t</mr2_objpath>\r\n</mr2_object>\r\n"
            "<mr2_object mag=\"2.0\" class=\"__noise\">\r\n\t<mr2_objpath>\r\n" +
            Sample(50, 100, 1.0, 10.5, 10.5) +
            "\t</mr2_objpath>\r\n</mr2_object>\r\n"
            "\t</mr2_objects>\r\n</meridra_record>\r\n");
  }
  ProgramResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.path().string()});
    return RunMr4(args);
  }

  TempHome home_{"mr4-frames-home"};
  TempDir clips_{"mr4-frames-clips"};
  TempDir out_{"mr4-frames-out"};
};

TEST_F(ExportFramesCommand, WritesTheMeteorsSamplesInFieldOrder) {
  struct Case {
    const char* format;
    const char* file;
    // Fragments in the order they must appear: the earlier field first.
    std::vector<std::string> in_order;
  };
  const std::vector<Case> cases = {
      {"csv",
       "frames_Tokyo_TK1_20231231.csv",
       {"time_utc,lid,sid,lng_deg,lat_deg,alt_m,",
        "\r\n2023-12-31T14:30:00.667Z,Tokyo,TK1,139.500000,35.250000,40.0,",
        ",720,480,29.970,1,56.000,37.333,M20231231_233000_TK1,1,spo,50.0,100,90.500,305.500,",
        "\r\n2023-12-31T14:30:00.684Z,", ",50.5,101,100.500,300.500,"}},
      {"ftpdetectinfo",
       "FTPdetectinfo_TokyoTK1_20231231.txt",
       {"Meteor Count = 000001\r\n",
        "\r\n-------------------------------------------------------\r\n"
        "FF_TokyoTK1_20231231_142958_999_0000000.fits\r\n",
        "\r\nTokyoTK1 0001 0002 0029.97 000.0 000.0  00.0 022.4 ",
        "\r\n50.0000 0090.00 0174.00 119.0000 ", "\r\n50.5000 0100.00 0179.00 120.0000 "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const ProgramResult run =
        Run({"export-frames", "--format", c.format, "--out", out_.path().string()});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const fs::path path = out_.path() / c.file;
    EXPECT_EQ(run.out, "frames: " + path.string() + " (2 lines)\n");
    const std::string text = ReadFileBytes(path);
    std::size_t at = 0;
    for (const std::string& fragment : c.in_order) {
      const std::size_t found = text.find(fragment, at);
      EXPECT_NE(found, std::string::npos) << fragment << "\n" << text;
      if (found != std::string::npos) at = found + fragment.size();
    }
    // Neither the noise object nor the clip without a result file.
    EXPECT_EQ(text.find("__noise"), std::string::npos);
    EXPECT_EQ(text.find(kUnanalysed), std::string::npos);
    EXPECT_EQ(text.find("010.50"), std::string::npos);

    // An existing file is replaced only when told so.
    EXPECT_EQ(Run({"export-frames", "--format", c.format, "--out", out_.path().string()})
                  .exit_code,
              3);
    EXPECT_EQ(Run({"--yes", "export-frames", "--format", c.format, "--out",
                   out_.path().string()})
                  .exit_code,
              0);
  }
}

TEST_F(ExportFramesCommand, RefusesBadOptions) {
  const std::string out = out_.path().string();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"export-frames", "--format", "gpx", "--out", out},
                                             {"export-frames", "--out", out},
                                             {"export-frames", "--format", "csv", "--out",
                                              (out_.path() / "none").string()},
                                             {"export-frames", "--format", "csv", "extra"},
                                             {"export-frames", "--format", "csv", "--range",
                                              "x"}}) {
    const ProgramResult run = Run(args);
    EXPECT_EQ(run.exit_code, 1) << args[2];
    EXPECT_NE(run.err.find("mr4 export-frames: "), std::string::npos) << run.err;
  }
  EXPECT_TRUE(fs::is_empty(out_.path()));
}

}  // namespace
}  // namespace mr4::test
