// The object export on hand-built rows: header names and cell forms per
// column type, the object chains of the listed clips, the columns of the
// utilities page's layouts, and the dialog.
#include "utility/object_export.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/reports/export_fixture.h"

namespace mr4::test {
namespace {

ColumnEntry Entry(const char* column, const char* format, int shown = 1) {
  ColumnEntry e;
  e.column = column;
  e.format = format;
  e.shown = shown;
  return e;
}

class ObjectExportTest : public ExportTest {
 protected:
  void SetUp() override {
    ExportTest::SetUp();
    clip_layout_.entries = {Entry("directory", "%s", 0), Entry("clip_name", "%s"),
                            Entry("o", "%d"), Entry("MB", "%.2f"), Entry("memo", "%s")};
    object_layout_.table = LayoutTable::kObject;
    object_layout_.entries = {Entry("class", "%s"), Entry("manual", "%d"),
                              Entry("mag", "%.2f"), Entry("fs", "%d", 0),
                              Entry("cdeg", "%f"), Entry("memo", "%s")};
  }
  ExportResult Export(std::vector<int> listed, int date_row) {
    return ExportObjects(Tables().clip, Tables().obj, listed, clip_layout_, object_layout_,
                         out_.path(), date_row);
  }

  ColumnLayout clip_layout_;
  ColumnLayout object_layout_;
};

TEST_F(ObjectExportTest, OneLinePerObjectOfEveryListedClip) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int a = AddClip({"M20240105_201500_TK1", 2024, 1, 5, 20, 15, 0.0f});
  clips.SetInt(a, clip::kO, 2);
  clips.SetFloat(a, clip::kMB, 12.345f);
  clips.SetText(a, clip::kMemo, "clear sky");
  const int empty = AddClip({"M20240105_210000_TK1", 2024, 1, 5, 21, 0, 0.0f});
  const int b = AddClip({"M20240106_013000_TK1", 2024, 1, 6, 1, 30, 0.0f});
  const int first = AddObject({a, "spo", -1.255f});
  objects.SetUint(first, obj::kManual, 1);
  objects.SetFloat(first, obj::kCdeg, 0.125f);
  objects.SetText(first, obj::kMemo, "bright");
  AddObject({b, "GEM", 2.5f});
  AddObject({a, "__flash", 0.0f});

  const ExportResult result = Export({a, empty, b}, a);
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  EXPECT_EQ(result.path, out_.path() / "OBJ20240105.csv");
  EXPECT_EQ(result.lines, 3);
  EXPECT_EQ(ReadFileBytes(result.path),
            " clip_name,o,MB, memo, class,manual,mag,cdeg, memo\r\n"
            " M20240105_201500_TK1,2,12.35, clear sky, spo,1,-1.25,0.125000, bright\r\n"
            " M20240105_201500_TK1,2,12.35, clear sky, __flash,0,0.00,0.000000,\r\n"
            " M20240106_013000_TK1,0,0.00,, GEM,0,2.50,0.000000,\r\n");
}

TEST_F(ObjectExportTest, ALayoutWithNothingShownShowsItsFirstEntry) {
  for (ColumnEntry& e : clip_layout_.entries) e.shown = 0;
  const int a = AddClip({"M20240105_201500_TK1", 2024, 1, 5, 20, 15, 0.0f});
  AddObject({a, "spo", 1.0f});
  const ExportResult result = Export({a}, a);
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  bool crlf = false;
  const std::vector<std::string> lines = Lines(ReadFileBytes(result.path), &crlf);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], " directory, class,manual,mag,cdeg, memo");
  EXPECT_EQ(lines[1], ", spo,0,1.00,0.000000,");
}

TEST_F(ObjectExportTest, TheUtilityPageLayoutsGiveTheHeaderAndEveryCell) {
  const int a = AddClip({"M20240105_201500_TK1", 2024, 1, 5, 20, 15, 0.0f});
  AddObject({a, "spo", 1.0f});
  const ExportResult result = ExportObjects(Tables().clip, Tables().obj, std::vector<int>{a},
                                            *FindColumnLayout("UC5"), *FindColumnLayout("UO5"),
                                            out_.path(), a);
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  bool crlf = false;
  const std::vector<std::string> lines = Lines(ReadFileBytes(result.path), &crlf);
  EXPECT_TRUE(crlf);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind(" clip_name,o, class,mag,sec,cdegmax,avmin,rstar,ddega,", 0), 0u)
      << lines[0];
  EXPECT_NE(lines[0].find(",cx,cy,fps,AvgTimePerFrame_setting,frames,"), std::string::npos);
  EXPECT_EQ(lines[1].rfind(" M20240105_201500_TK1,0,,0.0,0.0,0.000,0.00,0,0.0000,", 0), 0u)
      << lines[1];
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','),
            std::count(lines[1].begin(), lines[1].end(), ','));
}

TEST_F(ObjectExportTest, NothingWithoutListedClipsAndAskedBeforeReplacing) {
  EXPECT_EQ(Export({}, -1).status, ExportStatus::kNothingToExport);
  EXPECT_TRUE(std::filesystem::is_empty(out_.path()));

  const int a = AddClip({"M20240105_201500_TK1", 2024, 1, 5, 20, 15, 0.0f});
  WriteFileBytes(out_.path() / "OBJ20240105.csv", "old");
  EXPECT_EQ(Export({a}, a).status, ExportStatus::kCancelled);
  EXPECT_EQ(ReadFileBytes(out_.path() / "OBJ20240105.csv"), "old");
  ui_.QueueAnswer(true);
  EXPECT_EQ(Export({a}, a).status, ExportStatus::kWritten);
  EXPECT_EQ(ReadFileBytes(out_.path() / "OBJ20240105.csv"), " clip_name,o,MB, memo, class,manual,mag,cdeg, memo\r\n");
}

TEST_F(ObjectExportTest, AnObjectChainThatLoopsEndsOnce) {
  const int a = AddClip({"M20240105_201500_TK1", 2024, 1, 5, 20, 15, 0.0f});
  const int o1 = AddObject({a, "spo"});
  const int o2 = AddObject({a, "GEM"});
  Tables().obj.SetInt(o2, obj::kOlinenext, o1);
  const ExportResult result = Export({a}, a);
  ASSERT_EQ(result.status, ExportStatus::kWritten);
  EXPECT_EQ(result.lines, 2);
}

// Texts that would break the CSV (a comma, a double quote, a line end) are
// quoted as in RFC 4180; every other field stays as it was.
TEST_F(ObjectExportTest, TextsWithCommasQuotesOrLineEndsAreQuoted) {
  struct Case {
    const char* text;
    const char* field;
  };
  const Case cases[] = {
      {"plain", " plain"},
      {"a,b", "\" a,b\""},
      {"say \"hi\"", "\" say \"\"hi\"\"\""},
      {"two\r\nlines", "\" two\r\nlines\""},
      {"cr\ronly", "\" cr\ronly\""},
      {"lf\nonly", "\" lf\nonly\""},
      {"\"", "\" \"\"\""},
      {" ;:'", "  ;:'"},
  };
  clip_layout_.entries = {Entry("clip_name", "%s"), Entry("memo", "%s")};
  object_layout_.entries = {Entry("mag", "%.2f"), Entry("memo", "%s")};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Tables().clip.Clear();
    Tables().obj.Clear();
    const int a = AddClip({c.text, 2024, 1, 5, 20, 15, 0.0f});
    Tables().clip.SetText(a, clip::kMemo, "m");
    const int o = AddObject({a, "spo", 1.0f});
    Tables().obj.SetText(o, obj::kMemo, c.text);
    const ExportResult result = Export({a}, a);
    ASSERT_EQ(result.status, ExportStatus::kWritten);
    EXPECT_EQ(ReadFileBytes(result.path), std::string(" clip_name, memo,mag, memo\r\n") +
                                              c.field + ", m,1.00," + c.field + "\r\n");
    std::filesystem::remove(result.path);
  }
}

}  // namespace
}  // namespace mr4::test
