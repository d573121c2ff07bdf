// The period report on hand-built clip and object rows: the whole file byte
// for byte, the blocks that are left out, the class order, the file-name
// rules, the tallies' edges and capacities, and the failure paths.
#include "reports/period_report.h"

#include <gtest/gtest.h>

#include "tests/reports/export_fixture.h"

namespace mr4::test {
namespace {

constexpr char kHourHeader[] =
    "12,13,14,15,16,17,18,19,20,21,22,23,0,1,2,3,4,5,6,7,8,9,10,11\r\n";
constexpr char kMagHeader[] =
    "mag_count,-10.-9.-8,-7,-6,-5,-4,-3,-2,-1,0,1,2,3,4,5,6,7,8,9,10\r\n";
constexpr char kObjectHeader[] =
    "object,y,mo,d,h,m,s,class,sec,mag,av1,az1,ev1,ra1,dc1,az2,ev2,ra2,dc2,LID_CID\r\n";

class PeriodReportTest : public ExportTest {
 protected:
  ExportResult Report(bool left_alt = true) {
    return ExportPeriodReport(Tables().clip, Tables().obj, site_, out_.path(), left_alt);
  }
  std::string ReportText() {
    const ExportResult result = Report();
    EXPECT_EQ(result.status, ExportStatus::kWritten);
    return ReadFileBytes(result.path);
  }

  ExportSite site_{"Tokyo", "TK1"};
};

// spo in clips of hour 22 and hour 3, GEM in hour 3, __flash in hour 1; an
// object without class, an object of a deleted clip row, a deleted object
// row; clips on 2023-12-31 and 2024-01-02.
TEST_F(PeriodReportTest, WritesEverySectionOfTheReport) {
  const int late = AddClip({"M20240102_030000_TK1", 2024, 1, 2, 3, 0, 0.0f});
  const int first = AddClip({"M20231231_221005_TK1", 2023, 12, 31, 22, 10, 5.5f});
  const int night = AddClip({"M20240101_012030_TK1", 2024, 1, 1, 1, 20, 30.25f});
  const int gone = AddClip({"M20240101_020000_TK1", 2023, 12, 1, 2, 0, 0.0f});
  AddClip({"M20240101_050000_TK1", 2024, 1, 1, 5, 0, 0.0f});
  AddObject({late, "spo", 1.4f, 0.55f, 10.5f, 45.3f, 30.0f, 100.12345f, 20.5f, 50.7f, 25.1f,
             105.5f, 18.25f});
  AddObject({first, "spo", -0.5f, 0.75f, 8.25f, 200.6f, 15.0f, 250.0f, -5.5f, 210.0f, 10.0f,
             255.125f, -7.0f});
  AddObject({night, "__flash", 3.0f, 0.1f, 2.0f});
  AddObject({gone, "spo", 5.0f});
  AddObject({first, ""});
  const int hole = AddObject({first, "GEM"});
  AddObject({late, "GEM", 0.2f, 1.05f, 30.0f, 90.0f, 60.0f, 112.0f, 33.0f, 95.0f, 55.0f,
             115.0f, 31.0f});
  Tables().obj.DeleteRow(hole);
  Tables().clip.DeleteRow(gone);

  const ExportResult result = Report();
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  EXPECT_EQ(result.path, out_.path() / "M20231231_22_002_Tokyo_TK1R.csv");
  EXPECT_EQ(result.lines, 4);
  const std::string expected =
      std::string("meridra_report,version\r\n") +
      ", 500\r\n"
      "period,y,mo,d,h,tz,days\r\n"
      ",2023,12,31,22,32400,    2\r\n"
      "\r\n"
      "system,id,meteors,e-class,total\r\n"
      ",Tokyo_TK1,      3,      1,      4\r\n"
      ",Total,      3,      1,      4\r\n"
      "\r\n"
      "hourly_count,class,count," + kHourHeader +
      ",spo,2,,,,,,,,,,,1,,,,,1,,,,,,,,\r\n"
      ",GEM,1,,,,,,,,,,,,,,,,1,,,,,,,,\r\n"
      ",Total,3,,,,,,,,,,,1,,,,,2,,,,,,,,\r\n"
      "\r\n"
      "hourly_count,e-class,count," + kHourHeader +
      ",__flash,1,,,,,,,,,,,,,,1,,,,,,,,,,\r\n"
      ",Total,1,,,,,,,,,,,,,,1,,,,,,,,,,\r\n"
      "\r\n" +
      kMagHeader +
      ",spo,2,,,,,,,,,,1,,1,,,,,,,,,\r\n"
      ",GEM,1,,,,,,,,,,,1,,,,,,,,,,\r\n"
      ",Total,3,,,,,,,,,,1,1,1,,,,,,,,,\r\n"
      "\r\n" +
      kObjectHeader +
      ",2023,12,31,22,10,5.5,spo,0.75,-0.5,8.25,200.6,15.0,250.0000,-5.5000,210.0,10.0,"
      "255.1250,-7.0000,Tokyo_TK1\r\n"
      ",2024,1,1,1,20,30.2,__flash,0.10,3.0,2.00,0.0,0.0,0.0000,0.0000,0.0,0.0,0.0000,"
      "0.0000,Tokyo_TK1\r\n"
      ",2024,1,2,3,0,0.0,spo,0.55,1.4,10.50,45.3,30.0,100.1235,20.5000,50.7,25.1,105.5000,"
      "18.2500,Tokyo_TK1\r\n"
      ",2024,1,2,3,0,0.0,GEM,1.05,0.2,30.00,90.0,60.0,112.0000,33.0000,95.0,55.0,115.0000,"
      "31.0000,Tokyo_TK1\r\n"
      "\r\n"
      "multi_station,meteors\r\n"
      ",      0\r\n";
  EXPECT_EQ(ReadFileBytes(result.path), expected);
}

TEST_F(PeriodReportTest, OnlyEclassObjectsLeaveOutTheMeteorBlocks) {
  const int c = AddClip({"M20240101_012030_TK1", 2024, 1, 1, 1, 20, 30.0f});
  AddObject({c, "__noise", 4.0f});
  const std::string text = ReportText();
  EXPECT_EQ(text.find("hourly_count,class,"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("hourly_count,e-class,count,") + kHourHeader +
                      ",__noise,1,,,,,,,,,,,,,,1,,,,,,,,,,\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(std::string(kMagHeader) + kObjectHeader), std::string::npos) << text;
}

TEST_F(PeriodReportTest, ClassesAreWrittenLargestCountFirstBySelection) {
  struct Case {
    std::vector<const char*> objects;  // classes in table order
    std::vector<const char*> order;    // classes in the hourly block
  } cases[] = {
      {{"A", "B", "B", "C"}, {"B", "A", "C"}},       // 1, 2, 1: second, first, third
      {{"A", "B", "C", "C"}, {"C", "B", "A"}},       // 1, 1, 2: third, second, first
      {{"A", "__x", "__x", "B"}, {"A", "B"}},        // e-class apart
      {{"a", "A", "A"}, {"A", "a"}},                 // compared with case
  };
  for (const Case& c : cases) {
    Tables().clip.Clear();
    Tables().obj.Clear();
    const int clip = AddClip({"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f});
    std::string trace;
    for (const char* cls : c.objects) {
      AddObject({clip, cls});
      trace += std::string(cls) + " ";
    }
    SCOPED_TRACE(trace);
    const std::string text = ReportText();
    const std::size_t block = text.find("hourly_count,class,");
    ASSERT_NE(block, std::string::npos);
    bool crlf = false;
    const std::vector<std::string> lines = Lines(text.substr(block), &crlf);
    for (std::size_t i = 0; i < c.order.size(); ++i) {
      EXPECT_EQ(lines[i + 1].rfind("," + std::string(c.order[i]) + ",", 0), 0u) << lines[i + 1];
    }
    EXPECT_EQ(lines[c.order.size() + 1].rfind(",Total,", 0), 0u);
  }
}

TEST_F(PeriodReportTest, ObjectsOfTwoSitesNameTheFileAfterTheLidAlone) {
  const int a = AddClip({"M20231231_231500_TK1", 2023, 12, 31, 23, 15, 0.0f});
  ClipSpec other{"M20240102_010000_OS1", 2024, 1, 2, 1, 0, 0.0f};
  other.lid = "Osaka";
  other.sid = "OS1";
  const int b = AddClip(other);
  AddObject({a, "spo"});
  AddObject({b, "__flash"});
  const ExportResult result = Report();
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  EXPECT_EQ(result.path, out_.path() / "M20231231_23_002_TokyoR.csv");
  const std::string text = ReadFileBytes(result.path);
  EXPECT_NE(text.find(",Tokyo_TK1,      1,      0,      1\r\n,Osaka_OS1,      0,      1,      1\r\n"
                      ",Total,      1,      1,      2\r\n"),
            std::string::npos)
      << text;
}

TEST_F(PeriodReportTest, SiteTextsCannotLeadTheFileOutOfItsFolder) {
  const int c = AddClip({"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f});
  AddObject({c, "spo"});
  site_ = {"../..", "x/y"};
  const ExportResult result = Report();
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  EXPECT_EQ(result.path, out_.path() / "M20240101_20_000_______x_yR.csv");
}

TEST_F(PeriodReportTest, HoursMagnitudesAndLongSiteKeysStayWithinTheTallies) {
  ClipSpec odd{"M2", 2024, 1, 1, 25, 0, 0.0f};  // hour 25 counts as 1
  const std::string lid(150, 'L');
  odd.lid = lid.c_str();
  const int a = AddClip(odd);
  const int b = AddClip({"M20240101_000000_TK1", 2024, 1, 1, -1, 0, 0.0f});  // as 23
  AddObject({a, "spo", -12.3f});  // limited to -10
  AddObject({b, "spo", 0.5f});    // 1
  AddObject({b, "spo", 99.0f});   // limited to 10
  const std::string text = ReportText();
  // The key is cut to its 99 bytes.
  EXPECT_NE(text.find("," + std::string(99, 'L') + ",      1,"), std::string::npos) << text;
  // Hour -1 falls with 23 (bin 11), hour 25 with 1 (bin 13).
  EXPECT_NE(text.find(",spo,3,,,,,,,,,,,,2,,1,,,,,,,,,,\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(",spo,3,1,,,,,,,,,,,1,,,,,,,,,1\r\n"), std::string::npos) << text;
}

TEST_F(PeriodReportTest, WithoutAClassifiedObjectNothingIsWritten) {
  struct Case {
    const char* what;
    bool clip;
    const char* cls;
  } cases[] = {
      {"no object row", true, nullptr},
      {"objects without class", true, ""},
      {"the clip row is gone", false, "spo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tables().clip.Clear();
    Tables().obj.Clear();
    ui_.Clear();
    const int row = c.clip ? AddClip({"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f}) : 5;
    if (c.cls) AddObject({row, c.cls});
    EXPECT_EQ(Report().status, ExportStatus::kNothingToExport);
    ASSERT_EQ(ui_.messages().size(), 1u);
    EXPECT_EQ(ui_.messages()[0].text, "No object to report");
    EXPECT_TRUE(std::filesystem::is_empty(out_.path()));
  }
}

TEST_F(PeriodReportTest, TheDialogAsksBeforeReplacingAndAltDoesNot) {
  const int c = AddClip({"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f});
  AddObject({c, "spo"});
  const std::filesystem::path path = out_.path() / "M20240101_20_000_Tokyo_TK1R.csv";
  WriteFileBytes(path, "old");
  EXPECT_EQ(Report(false).status, ExportStatus::kCancelled);
  EXPECT_EQ(ReadFileBytes(path), "old");
  ASSERT_EQ(ui_.questions().size(), 1u);
  EXPECT_EQ(ui_.questions()[0], "file already exists overwrite?\nM20240101_20_000_Tokyo_TK1R.csv");
  EXPECT_EQ(Report(true).status, ExportStatus::kWritten);
  EXPECT_EQ(ui_.questions().size(), 1u);
  EXPECT_EQ(ReadFileBytes(path).rfind("meridra_report,version\r\n", 0), 0u);
}

TEST_F(PeriodReportTest, AFolderThatCannotTakeTheFileIsReportedByName) {
  const int c = AddClip({"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f});
  AddObject({c, "spo"});
  const ExportResult result =
      ExportPeriodReport(Tables().clip, Tables().obj, site_, out_.path() / "missing", true);
  EXPECT_EQ(result.status, ExportStatus::kCannotOpen);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Cannot open M20240101_20_000_Tokyo_TK1R.csv");
}

using PeriodReportDeathTest = PeriodReportTest;

TEST_F(PeriodReportDeathTest, TheHundredthSiteAndTheThousandFirstClassAreFatal) {
  for (int i = 0; i < kReportMaxSites + 1; ++i) {
    ClipSpec spec{"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f};
    const std::string sid = "S" + std::to_string(i);
    spec.sid = sid.c_str();
    AddObject({AddClip(spec), "spo"});
  }
  // The fatal message goes to the console Ui.
  EXPECT_EXIT((SetUi(nullptr), Report()), ::testing::ExitedWithCode(99), "report site overflow");

  Tables().clip.Clear();
  Tables().obj.Clear();
  const int c = AddClip({"M20240101_200000_TK1", 2024, 1, 1, 20, 0, 0.0f});
  std::vector<std::string> names;
  for (int i = 0; i < kReportMaxClasses - 3 + 1; ++i) names.push_back("c" + std::to_string(i));
  for (const std::string& name : names) AddObject({c, name.c_str()});
  EXPECT_EXIT((SetUi(nullptr), Report()), ::testing::ExitedWithCode(99), " Report data overlow");
  Tables().obj.DeleteRow(Tables().obj.count() - 1);
  EXPECT_EQ(Report().status, ExportStatus::kWritten);  // 997 classes fit
}

}  // namespace
}  // namespace mr4::test
