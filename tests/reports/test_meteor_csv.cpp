// The meteor summary CSV on a few hand-built clip and object rows: the
// header and each line byte for byte (the five scrambled columns checked by
// decoding them), the class filter, the Ctrl variant, the file-name rules
// and the failure paths.
#include "reports/meteor_csv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/reports/export_fixture.h"

namespace mr4::test {
namespace {

constexpr char kHeader[] =
    "Ver,Group,LocalTime,Mag,Dur(sec),AV(deg/s),Loc_Cam,TZ(h),Y(UT),M(UT),D(UT),H(UT),M,S,"
    " Dir1, Alt1, Ra1, Dec1, Ra2, Dec2,alpha,delta, , , , , ,io,err1,err2,G1,rsv1,dr(deg),"
    "Vo(km/s),dV(%),ra_m,dec_m,refs,errm,tmerr,sps,sN,drop,delay(s),delay_m(s),Npass,gioidh,"
    "fourcc_original";

constexpr int kColumns = 48;
constexpr int kFirstScrambled = 22;  // the five unnamed columns
constexpr int kRa1Column = 16;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

class MeteorCsvTest : public ExportTest {
 protected:
  // Two clips of one station across the new year: an interlaced 29.97 fps
  // clip from a capture device without fourcc_original, and a file clip.
  void AddNight() {
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    const int a = AddClip({"M20231231_233000_TK1", 2023, 12, 31, 23, 30, 0.0f});
    clips.SetFloat(a, clip::kLng, 139.5f);
    clips.SetFloat(a, clip::kLat, 35.25f);
    clips.SetFloat(a, clip::kAlt, 40.0f);
    clips.SetFloat(a, clip::kGioidh, 36.5f);
    clips.SetFloat(a, clip::kFps, 29.97f);
    clips.SetInt(a, clip::kInterlaced, 1);
    clips.SetFloat(a, clip::kDdega, 0.0125f);
    clips.SetInt(a, clip::kRstar, 42);
    clips.SetFloat(a, clip::kErrm, 0.15f);
    const int b = AddClip({"M20240102_013015_TK1", 2024, 1, 2, 1, 30, 15.5f});
    clips.SetText(b, clip::kSourceType, "file");
    clips.SetText(b, clip::kFourccOriginal, "YUY2");
    clips.SetFloat(b, clip::kLng, 139.5f);
    clips.SetFloat(b, clip::kLat, 35.25f);
    clips.SetFloat(b, clip::kAlt, 40.0f);
    clips.SetFloat(b, clip::kGioidh, 36.5f);
    clips.SetFloat(b, clip::kFps, 30.0f);
    clips.SetInt(b, clip::kDrop, 3);
    clips.SetFloat(b, clip::kDdega, 0.02f);
    clips.SetInt(b, clip::kRstar, 10);
    clips.SetFloat(b, clip::kErrm, 0.5f);
    clips.SetFloat(b, clip::kTme, 0.5f);

    const int spo = AddObject({a, "spo", -1.3f, 0.5f, 12.345f, 270.0f, 45.5f, 120.5f, 30.25f,
                               0.0f, 0.0f, 125.0f, 28.0f});
    objects.SetInt(spo, obj::kIo, 1);
    objects.SetFloat(spo, obj::kCdeg, 0.01234f);
    objects.SetFloat(spo, obj::kDr, 1.5f);
    objects.SetFloat(spo, obj::kVo, 35.2f);
    objects.SetFloat(spo, obj::kDv, 4.0f);
    objects.SetFloat(spo, obj::kRam, 122.75f);
    objects.SetFloat(spo, obj::kDcm, 29.125f);
    objects.SetInt(spo, obj::kSN, 12);
    objects.SetFloat(spo, obj::kDelay, 0.1f);
    objects.SetFloat(spo, obj::kDelayM, 0.05f);
    objects.SetInt(spo, obj::kNpass, 2);
    AddObject({a, "__flash", 2.0f, 0.1f, 5.0f, 10.0f, 20.0f});
    AddObject({b, "__noise", 1.0f});
    const int gem = AddObject({b, "GEM", 0.5f, 1.25f, 20.0f, -10.0f, 30.0f, 100.0f, 20.0f,
                               0.0f, 0.0f, 101.0f, 21.0f});
    objects.SetFloat(gem, obj::kRaP, 90.0f);
    objects.SetFloat(gem, obj::kDcP, 15.0f);
    objects.SetFloat(gem, obj::kCdeg, 0.5f);
    objects.SetFloat(gem, obj::kDr, 2.0f);
    objects.SetFloat(gem, obj::kVo, 34.0f);
    objects.SetFloat(gem, obj::kDv, -3.26f);
    objects.SetFloat(gem, obj::kRam, 100.5f);
    objects.SetFloat(gem, obj::kDcm, 20.5f);
    objects.SetInt(gem, obj::kSN, 7);
    objects.SetFloat(gem, obj::kDelay, 0.25f);
    objects.SetFloat(gem, obj::kDelayM, 0.125f);
    objects.SetInt(gem, obj::kNpass, 1);
    // An object whose clip row is gone, and a deleted object row.
    AddObject({7, "spo", 1.0f});
    const int hole = AddObject({a, "spo"});
    AddObject({b, "__slow"});
    objects.DeleteRow(hole);
  }

  MeteorCsvResult Export(const MeteorCsvOptions& options) {
    return ExportMeteorCsv(Tables().clip, Tables().obj, site_, out_.path(), options, scrambler_);
  }

  ExportSite site_{"Tokyo", "TK1"};
  ExportScrambler scrambler_{0x12345678u, 0x345678u};
};

// Each line with its five scrambled columns replaced by "#", after checking
// that they decode to the clip's station and the object's velocity.
std::vector<std::string> CheckedLines(const std::string& text, bool ctrl) {
  bool crlf = false;
  std::vector<std::string> lines = Lines(text, &crlf);
  EXPECT_TRUE(crlf) << text;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields = Split(lines[i]);
    EXPECT_EQ(static_cast<int>(fields.size()), kColumns) << lines[i];
    if (static_cast<int>(fields.size()) != kColumns) continue;
    ScrambledStation columns;
    for (int k = 0; k < 5; ++k) {
      columns.column[k] = static_cast<std::uint32_t>(std::stoul(fields[kFirstScrambled + k]));
      fields[kFirstScrambled + k] = "#";
    }
    const StationPosition p = DecodeStation(columns, std::stod(fields[kRa1Column]), ctrl);
    EXPECT_NEAR(p.lat, 35.25, 1e-5) << lines[i];
    EXPECT_NEAR(p.lng, 139.5, 1e-5) << lines[i];
    EXPECT_NEAR(p.alt, 40.0, 0.01) << lines[i];
    EXPECT_NEAR(p.av1, std::stod(fields[5]), 0.001) << lines[i];
    std::string masked;
    for (std::size_t k = 0; k < fields.size(); ++k) masked += (k ? "," : "") + fields[k];
    lines[i] = masked;
  }
  return lines;
}

TEST_F(MeteorCsvTest, WritesTheHeaderAndOneLinePerExportedObject) {
  AddNight();
  const MeteorCsvResult result = Export({.alt = true});
  ASSERT_EQ(result.csv.status, ExportStatus::kWritten);
  // Across the new year: 2023-12-31 23 h, trunc(2 + 0.999) = 2 days.
  EXPECT_EQ(result.csv.path, out_.path() / "M20231231_23_002_Tokyo_TK1.csv");
  EXPECT_EQ(result.csv.lines, 3);
  const std::vector<std::string> lines = CheckedLines(ReadFileBytes(result.csv.path), false);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], kHeader);
  EXPECT_EQ(static_cast<int>(Split(lines[0]).size()), kColumns);
  // UT = local - 9 h; the direction of flight is az1 + 180 within 0..360; sps
  // of the interlaced 29.97 fps clip is 59.940; no fourcc_original: ", ".
  EXPECT_EQ(lines[1],
            "R05B28R, spo,20231231_233000,-1.3,0.500,12.345, Tokyo_TK1, 9.0,2023,12,31,14,30,"
            "0.000,90.0,45.5,120.500000,30.250000,125.000000,28.000000,0.000000,0.000000,"
            "#,#,#,#,#,1,0.01250,0.01234, spo,0.0,1.5,35.2,+4.0,122.750000,29.125000,42,0.15,"
            "0.000,59.940,12,0,0.100,0.050,2,36.5, ");
  // "__flash" is written ("__noise", "__slow" are not).
  EXPECT_EQ(lines[2],
            "R05B28R, __flash,20231231_233000,2.0,0.100,5.000, Tokyo_TK1, 9.0,2023,12,31,14,30,"
            "0.000,190.0,20.0,0.000000,0.000000,0.000000,0.000000,0.000000,0.000000,"
            "#,#,#,#,#,0,0.01250,0.00000, __flash,0.0,0.0,0.0,+0.0,0.000000,0.000000,42,0.15,"
            "0.000,59.940,0,0,0.000,0.000,0,36.5, ");
  EXPECT_EQ(lines[3],
            "R06A, GEM,20240102_013015,0.5,1.250,20.000, Tokyo_TK1, 9.0,2024,01,01,16,30,"
            "15.500,170.0,30.0,100.000000,20.000000,101.000000,21.000000,90.000000,15.000000,"
            "#,#,#,#,#,0,0.02000,0.50000, GEM,0.0,2.0,34.0,-3.3,100.500000,20.500000,10,0.50,"
            "0.500,30.000,7,3,0.250,0.125,1,36.5,YUY2");
}

TEST_F(MeteorCsvTest, TheScramblerAdvancesOncePerWrittenLine) {
  AddNight();
  std::uint32_t expected = scrambler_.s;
  for (int i = 0; i < 3; ++i) expected = ExportScrambler::Step(expected);
  ASSERT_EQ(Export({.alt = true}).csv.status, ExportStatus::kWritten);
  EXPECT_EQ(scrambler_.s, expected);
  EXPECT_EQ(scrambler_.s24, expected & 0xFFFFFFu);
}

TEST_F(MeteorCsvTest, TheCtrlVariantMarksEveryLineAndArrangesTheColumnsOtherwise) {
  AddNight();
  const ExportScrambler start = scrambler_;
  const MeteorCsvResult plain = Export({.alt = true});
  const std::string plain_text = ReadFileBytes(plain.csv.path);
  scrambler_ = start;
  const MeteorCsvResult ctrl = Export({.ctrl = true, .alt = true});
  const std::string ctrl_text = ReadFileBytes(ctrl.csv.path);
  ASSERT_EQ(ctrl.csv.status, ExportStatus::kWritten);
  const std::vector<std::string> lines = CheckedLines(ctrl_text, true);
  const std::vector<std::string> plain_lines = CheckedLines(plain_text, false);
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string first = Split(lines[i])[0];
    EXPECT_EQ(first.back(), 'X') << lines[i];
    // Apart from the marks the lines are the same.
    std::string unmarked = lines[i];
    unmarked.erase(first.size() - 1, 1);
    EXPECT_EQ(unmarked, plain_lines[i]);
  }
  // The same inputs in another arrangement: read as the plain variant the
  // columns give no station.
  bool crlf = false;
  const std::vector<std::string> raw_ctrl = Split(Lines(ctrl_text, &crlf)[1]);
  const std::vector<std::string> raw_plain = Split(Lines(plain_text, &crlf)[1]);
  ScrambledStation columns;
  for (int k = 0; k < 5; ++k) {
    EXPECT_NE(raw_ctrl[kFirstScrambled + k], raw_plain[kFirstScrambled + k]) << k;
    columns.column[k] = static_cast<std::uint32_t>(std::stoul(raw_ctrl[kFirstScrambled + k]));
  }
  EXPECT_GT(std::fabs(DecodeStation(columns, 120.5, false).lat - 35.25), 1.0);
}

TEST_F(MeteorCsvTest, NumberedExportsNameTheRunAndNeverMarkCtrl) {
  AddNight();
  const MeteorCsvResult result = Export({.number = 7, .ctrl = true});
  ASSERT_EQ(result.csv.status, ExportStatus::kWritten);
  EXPECT_EQ(result.csv.path, out_.path() / "M20231231_23_002_Tokyo_7.csv");
  EXPECT_TRUE(ui_.questions().empty());  // no dialog, no question
  const std::vector<std::string> lines = CheckedLines(ReadFileBytes(result.csv.path), false);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].rfind("R05B28R, spo,20231231_233000,-1.3,0.500,12.345, Tokyo_7, 9.0,", 0),
            0u)
      << lines[1];
}

TEST_F(MeteorCsvTest, FileNamesFollowTheSitesAndStayInTheFolder) {
  struct Case {
    const char* what;
    ExportSite site;
    const char* clip_sid;
    const char* expected;
  } cases[] = {
      {"one station", {"Tokyo", "TK1"}, "TK1", "M20240305_04_000_Tokyo_TK1.csv"},
      {"a clip of another station", {"Tokyo", "TK1"}, "TK2", "M20240305_04_000_Tokyo.csv"},
      {"separators and leading dots", {"../up", "a/b\\c"}, "a/b\\c",
       "M20240305_04_000____up_a_b_c.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tables().clip.Clear();
    Tables().obj.Clear();
    ClipSpec spec{"M20240305_041500_TK1", 2024, 3, 5, 4, 15, 0.0f};
    spec.sid = c.clip_sid;
    AddClip(spec);
    site_ = c.site;
    const MeteorCsvResult result = Export({.alt = true});
    EXPECT_EQ(result.csv.status, ExportStatus::kWritten);
    EXPECT_EQ(result.csv.path, out_.path() / c.expected);
    EXPECT_TRUE(std::filesystem::exists(out_.path() / c.expected));
  }
}

TEST_F(MeteorCsvTest, ShortClipNamesAndUndatedClipsAreWrittenAsTheyAre) {
  const int c = AddClip({"M2024", 0, 0, 0, 0, 0, 0.0f, 0});
  AddObject({c, "spo"});
  const MeteorCsvResult result = Export({.alt = true});
  ASSERT_EQ(result.csv.status, ExportStatus::kWritten);
  bool crlf = false;
  const std::vector<std::string> lines = Lines(ReadFileBytes(result.csv.path), &crlf);
  ASSERT_EQ(lines.size(), 2u);
  // The local time is what the name holds; the date stays the clip's.
  EXPECT_EQ(
      lines[1].rfind("R05B28R, spo,2024,0.0,0.000,0.000, Tokyo_TK1, 0.0,0000,00,00,00,00,0.000,",
                     0),
      0u)
      << lines[1];
}

TEST_F(MeteorCsvTest, TheDialogProposesTheNameAndAnExistingFileNeedsOk) {
  AddNight();
  const std::filesystem::path path = out_.path() / "M20231231_23_002_Tokyo_TK1.csv";
  WriteFileBytes(path, "old");
  EXPECT_EQ(Export({}).csv.status, ExportStatus::kCancelled);
  EXPECT_EQ(ReadFileBytes(path), "old");
  ASSERT_EQ(ui_.questions().size(), 1u);
  EXPECT_EQ(ui_.questions()[0], "file already exists overwrite?\nM20231231_23_002_Tokyo_TK1.csv");

  ui_.QueueAnswer(true);
  EXPECT_EQ(Export({}).csv.status, ExportStatus::kWritten);
  EXPECT_EQ(ReadFileBytes(path).rfind("Ver,Group", 0), 0u);

  ui_.QueuePath(std::nullopt);  // the dialog cancelled
  EXPECT_EQ(Export({}).csv.status, ExportStatus::kCancelled);
}

TEST_F(MeteorCsvTest, AltWritesThePeriodReportFirst) {
  AddNight();
  const MeteorCsvResult result = Export({.alt = true});
  ASSERT_TRUE(result.report.has_value());
  EXPECT_EQ(result.report->status, ExportStatus::kWritten);
  EXPECT_EQ(result.report->path, out_.path() / "M20231231_23_002_Tokyo_TK1R.csv");
  EXPECT_FALSE(Export({.number = 1}).report.has_value());
}

TEST_F(MeteorCsvTest, NothingIsWrittenWithoutClipRows) {
  const MeteorCsvResult result = Export({.ctrl = true});
  EXPECT_EQ(result.csv.status, ExportStatus::kNothingToExport);
  EXPECT_TRUE(std::filesystem::is_empty(out_.path()));
}

TEST_F(MeteorCsvTest, AFileThatCannotBeCreatedIsReportedAfterOneRetry) {
  AddNight();
  const ExportScrambler start = scrambler_;
  const MeteorCsvResult result = ExportMeteorCsv(Tables().clip, Tables().obj, site_,
                                                 out_.path() / "missing", {.alt = true},
                                                 scrambler_);
  EXPECT_EQ(result.csv.status, ExportStatus::kCannotOpen);
  ASSERT_FALSE(ui_.messages().empty());
  EXPECT_EQ(ui_.messages().back().text,
            "Cannot open " + (out_.path() / "missing/M20231231_23_002_Tokyo_TK1.csv").string());
  EXPECT_EQ(scrambler_.s, start.s);  // nothing written, nothing advanced
}

}  // namespace
}  // namespace mr4::test
