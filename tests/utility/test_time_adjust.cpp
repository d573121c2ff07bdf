// The time adjustment: a clip of 23:30 shifted by an hour moves to 00:30 of
// the next day in its row, result file, capture record and capture log
// line, and nothing else in those files changes; the in-place editors on
// their own; the question and the clips that cannot be shifted.
#include "utility/time_adjust.h"

#include <gtest/gtest.h>

#include <sstream>

#include "clips/clip_files.h"
#include "tests/reports/export_fixture.h"

namespace mr4::test {
namespace {

constexpr char kClip[] = "M20231231_233000_TK1";

// `head` comes before `d`: only an attribute that starts with the name is
// the time's.
std::string CaptureRecord(const char* y, const char* mo, const char* d, const char* h,
                          const char* s) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<halvex_record head=\"30\"") +
         " y=\"" + y + "\" mo=\"" + mo + "\" d=\"" + d + "\" h=\"" + h + "\" m=\"30\" s=\"" + s +
         "\" tz=\"32400\" lid=\"Tokyo\">\r\n</halvex_record>\r\n";
}

std::string ResultFile(const char* y, const char* mo, const char* d, const char* h,
                       const char* s) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n") +
         "<meridra_record version =\"202\"\r\n\t clip_name=\"" + kClip + "\" o=\"1\" y=\"" + y +
         "\" mo=\"" + mo + "\"\r\n\t d=\"" + d + "\" h=\"" + h + "\" m=\"30\" s=\"" + s +
         "\">\r\n\t<mr2_objects>\r\n<mr2_object fs=\"1\" class=\"spo\">\r\n\t<mr2_objpath>\r\n"
         "<mr2_fdata2 fno=\"  1\" b=\" 90\" y=\"  12.000\" r=\"   1.0\"></mr2_fdata2>\r\n"
         "\t</mr2_objpath>\r\n</mr2_object>\r\n\t</mr2_objects>\r\n</meridra_record>\r\n";
}

class TimeAdjustTest : public ExportTest {
 protected:
  int AddDirectoryClip(const ClipSpec& spec, int mt) {
    const int row = AddClip(spec);
    Tables().clip.SetText(row, clip::kDirectory, out_.path().string());
    Tables().clip.SetInt(row, clip::kMT, mt);
    return row;
  }
  TimeAdjustRun Adjust(std::vector<int> rows, double shift) {
    ui_.QueueAnswer(true);
    TimeAdjustRun run;
    EXPECT_TRUE(AdjustClipTimes(Tables().clip, rows, shift, run));
    return run;
  }
};

TEST_F(TimeAdjustTest, AnHourAfter2330IsHalfPastMidnightOfTheNextDayEverywhere) {
  const int row = AddDirectoryClip({kClip, 2023, 12, 31, 23, 30, 0.0f},
                                   KindBit(kKindResult) | KindBit(kKindCaptureRecord));
  WriteFileBytes(out_ / (std::string(kClip) + ".xml"),
                 CaptureRecord("2023", "12", "31", "23", "0.0000"));
  WriteFileBytes(out_ / (std::string(kClip) + "A.XML"),
                 ResultFile("2023", "12", "31", "23", "0.000000"));
  // The log's first line is of another clip whose name begins the same.
  const std::string log_head = "no,file,ver,cam,Y,M,D,h,m,s,dur\r\n";
  WriteFileBytes(out_ / "C20231231.csv",
                 log_head +
                     "1,M20231231_233000_TK10.avi,5,a,2023,12,31,23,30,0,1.5\r\n"
                     "2,M20231231_233000_TK1.avi,5,a,2023,12,31,23,30,0,2.5\r\n"
                     "3,M20231231_233000_TK1.avi,5,a,2023,12,31,23,30,0,2.5\r\n");
  WriteFileBytes(out_ / "notes.csv", "2,M20231231_233000_TK1.avi,5,a,2023,12,31,23,30,0\r\n");

  const TimeAdjustRun run = Adjust({row}, 3600.0);
  EXPECT_EQ(run.clips, 1);
  EXPECT_EQ(run.results, 1);
  EXPECT_EQ(run.captures, 1);
  EXPECT_EQ(run.log_lines, 1);
  EXPECT_EQ(run.failures, 0);
  ASSERT_EQ(ui_.questions().size(), 1u);
  EXPECT_EQ(ui_.questions()[0], "Time adjust for all listed clips ok?");

  const Table& clips = Tables().clip;
  EXPECT_EQ(clips.Int(row, clip::kY), 2024);
  EXPECT_EQ(clips.Int(row, clip::kMo), 1);
  EXPECT_EQ(clips.Int(row, clip::kD), 1);
  EXPECT_EQ(clips.Int(row, clip::kH), 0);
  EXPECT_EQ(clips.Int(row, clip::kM), 30);
  EXPECT_EQ(clips.Float(row, clip::kS), 0.0f);
  EXPECT_EQ(ReadFileBytes(out_ / (std::string(kClip) + ".xml")),
            CaptureRecord("2024", "1", "1", "0", "0.0000"));
  // The trail sample's "y" stays.
  EXPECT_EQ(ReadFileBytes(out_ / (std::string(kClip) + "A.XML")),
            ResultFile("2024", "1", "1", "0", "0.000000"));
  EXPECT_EQ(ReadFileBytes(out_ / "C20231231.csv"),
            log_head +
                "1,M20231231_233000_TK10.avi,5,a,2023,12,31,23,30,0,1.5\r\n"
                "2,M20231231_233000_TK1.avi,5,a,2024,1,1,0,30,0,2.5\r\n"
                "3,M20231231_233000_TK1.avi,5,a,2023,12,31,23,30,0,2.5\r\n");
  EXPECT_EQ(ReadFileBytes(out_ / "notes.csv"),
            "2,M20231231_233000_TK1.avi,5,a,2023,12,31,23,30,0\r\n");
}

TEST_F(TimeAdjustTest, ShiftsCrossDaysMonthsAndSeconds) {
  struct Case {
    const char* what;
    ClipSpec clip;
    double shift;
    const char* expected;  // y, mo, d, h, s of the capture record
  } cases[] = {
      {"back into a leap day", {"M20240301_003000_A", 2024, 3, 1, 0, 30, 0.0f}, -3600.0,
       "2024 2 29 23 0.0000"},
      {"a quarter second", {"M20240301_120000_B", 2024, 3, 1, 12, 30, 0.5f}, 0.25,
       "2024 3 1 12 0.7500"},
      {"no change", {"M20240301_120000_C", 2024, 3, 1, 12, 30, 10.0f}, 0.0,
       "2024 3 1 12 10.0000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tables().clip.Clear();
    const int row = AddDirectoryClip(c.clip, KindBit(kKindCaptureRecord));
    const std::filesystem::path record = out_ / (std::string(c.clip.name) + ".xml");
    WriteFileBytes(record, CaptureRecord("2024", "3", "1", "12", "0.0000"));
    EXPECT_EQ(Adjust({row}, c.shift).captures, 1);
    std::string y, mo, d, h, s;
    std::istringstream(c.expected) >> y >> mo >> d >> h >> s;
    EXPECT_EQ(ReadFileBytes(record), CaptureRecord(y.c_str(), mo.c_str(), d.c_str(), h.c_str(),
                                                   s.c_str()));
    // Without a result file the row waits for the next scan.
    EXPECT_EQ(Tables().clip.Int(row, clip::kH), c.clip.h);
  }
}

TEST_F(TimeAdjustTest, DeclinedOrUndatedClipsChangeNothing) {
  const int row = AddDirectoryClip({kClip, 2023, 12, 31, 23, 30, 0.0f},
                                   KindBit(kKindCaptureRecord));
  const std::string record = CaptureRecord("2023", "12", "31", "23", "0.0000");
  WriteFileBytes(out_ / (std::string(kClip) + ".xml"), record);
  TimeAdjustRun run;
  EXPECT_FALSE(AdjustClipTimes(Tables().clip, std::vector<int>{row}, 3600.0, run));
  EXPECT_EQ(ReadFileBytes(out_ / (std::string(kClip) + ".xml")), record);

  const int undated = AddDirectoryClip({"Mclip", 0, 0, 0, 0, 0, 0.0f}, 0);
  run = Adjust({undated, 42}, 3600.0);
  EXPECT_EQ(run.clips, 0);
  EXPECT_EQ(run.failures, 1);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Cannot adjust the time of Mclip: no date in 1900..2099");
}

TEST_F(TimeAdjustTest, ARecordWithoutTheTimeGetsItAndABrokenOneIsReported) {
  CivilTime t;
  t.year = 2024;
  t.month = 1;
  t.day = 2;
  t.hour = 3;
  t.minute = 4;
  t.second = 5.5f;
  std::string text = "<halvex_record lid=\"x\" d=\"9\">";
  ASSERT_TRUE(SetRecordTime(&text, "halvex_record", t));
  EXPECT_EQ(text,
            "<halvex_record y=\"2024\" mo=\"1\" h=\"3\" m=\"4\" s=\"5.5000\" lid=\"x\" d=\"2\">");
  std::string unclosed = "<halvex_record y=\"2023>";
  EXPECT_FALSE(SetRecordTime(&unclosed, "halvex_record", t));
  std::string other = "<meridra_record y=\"2023\">";
  EXPECT_FALSE(SetRecordTime(&other, "halvex_record", t));

  const int row = AddDirectoryClip({kClip, 2023, 12, 31, 23, 30, 0.0f},
                                   KindBit(kKindCaptureRecord));
  WriteFileBytes(out_ / (std::string(kClip) + ".xml"), "<other y=\"1\">");
  const TimeAdjustRun run = Adjust({row}, 60.0);
  EXPECT_EQ(run.failures, 1);
  EXPECT_EQ(ReadFileBytes(out_ / (std::string(kClip) + ".xml")), "<other y=\"1\">");
}

// A damaged capture record leaves the clip's result file, log line and row
// as they were too, run after run: no file is ever shifted twice.
TEST_F(TimeAdjustTest, AClipsFilesChangeTogetherOrNotAtAll) {
  const int row = AddDirectoryClip({kClip, 2023, 12, 31, 23, 30, 0.0f},
                                   KindBit(kKindResult) | KindBit(kKindCaptureRecord));
  const std::string result = ResultFile("2023", "12", "31", "23", "0.000000");
  const std::string log = "2,M20231231_233000_TK1.avi,5,a,2023,12,31,23,30,0,2.5\r\n";
  WriteFileBytes(out_ / (std::string(kClip) + "A.XML"), result);
  WriteFileBytes(out_ / (std::string(kClip) + ".xml"), "<halvex_record y=\"2023");
  WriteFileBytes(out_ / "C20231231.csv", log);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    const TimeAdjustRun run = Adjust({row}, 3600.0);
    EXPECT_EQ(run.clips, 0);
    EXPECT_EQ(run.results, 0);
    EXPECT_EQ(run.failures, 1);
    EXPECT_EQ(ReadFileBytes(out_ / (std::string(kClip) + "A.XML")), result);
    EXPECT_EQ(ReadFileBytes(out_ / "C20231231.csv"), log);
    EXPECT_EQ(Tables().clip.Int(row, clip::kH), 23);
  }
  for (const auto& entry : std::filesystem::directory_iterator(out_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".mr4part-"), std::string::npos);
  }
}

TEST_F(TimeAdjustTest, LogLinesChangeOnlyInTheirTimeFields) {
  CivilTime t;
  t.year = 2024;
  t.month = 1;
  t.day = 1;
  t.hour = 0;
  t.minute = 30;
  t.second = 59.9f;
  struct Case {
    const char* what;
    const char* text;
    bool changed;
    const char* expected;
  } cases[] = {
      {"LF lines, ten fields", "x,M1.avi,a,b,1,2,3,4,5,6\nx,M1.avi,a,b,1,2,3,4,5,6\n", true,
       "x,M1.avi,a,b,2024,1,1,0,30,59\nx,M1.avi,a,b,1,2,3,4,5,6\n"},
      {"no line end", "x,M1.avi,,,,,,,,", true, "x,M1.avi,,,2024,1,1,0,30,59"},
      {"name without a dot after it", "x,M1_2.avi,a,b,1,2,3,4,5,6\r\n", false, nullptr},
      {"name in the first field", "M1.avi,x,a,b,1,2,3,4,5,6\r\n", false, nullptr},
      {"too few fields", "x,M1.avi,a,b,1,2,3\r\nx,M1.avi,a,b,1,2,3,4,5,6\r\n", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = c.text;
    EXPECT_EQ(SetLogLineTime(&text, "M1", t), c.changed);
    EXPECT_EQ(text, c.changed ? c.expected : c.text);
  }
}

}  // namespace
}  // namespace mr4::test
