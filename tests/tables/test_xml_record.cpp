// XML record files: the tokeniser, the writer and the in-place editors.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "base/error.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using testing::ExitedWithCode;

// A row of three persisted columns a (int), b (text), c (text), a float f,
// a "memo" and a working column w.
const ColumnDescriptor kRecordColumns[] = {
    {kCellId, 0, "exist"}, {kCellInt, 1, "a"},      {kCellText, 1, "b"},
    {kCellText, 1, "c"},   {kCellFloat, 1, "f"},    {kCellText, 1, "memo"},
    {kCellFlag, 1, "u"},   {kCellInt64, 1, "big"},  {kCellInt, 0, "w"},
};
const TableSchema kRecord{"record", 0, 100, 0, kRecordColumns};

struct Parsed {
  int result;
  std::string a, b, c, f, memo;
};

Parsed Parse(std::string text, std::string_view element = "rec") {
  Table t(kRecord);
  int r = t.AppendRow();
  Parsed p;
  std::size_t start = FindElement(text, element);
  p.result = start == std::string::npos ? 0 : ParseAttributes(text, start, t, r);
  p.a = std::to_string(t.Int(r, 1));
  p.b = t.Text(r, 2);
  p.c = t.Text(r, 3);
  p.f = std::to_string(t.Float(r, 4));
  p.memo = t.Text(r, 5);
  return p;
}

TEST(XmlRecord, ParseAttributes) {
  struct Case {
    const char* name;
    std::string text;
    int result;
    std::string a, b, c, memo;
  };
  const Case cases[] = {
      {"plain", "<rec a=\"5\" b=\"x\" c=\"\">", 3, "5", "x", "", ""},
      {"line ends and tabs between", "<rec\r\n\t a=\"1\"\r\n\tb=\"y\"/>", 2, "1", "y", "", ""},
      {"unknown attributes are ignored", "<rec zz=\"9\" a=\"2\">", 2, "2", "", "", ""},
      // The name's rest joins the first attribute's name, which then
      // matches no column.
      {"a longer element name is accepted", "<recX a=\"7\" b=\"x\">", 2, "0", "x", "", ""},
      {"first element that matches", "<other a=\"1\"><rec a=\"3\">", 1, "3", "", "", ""},
      {"no such element", "<other a=\"1\">", 0, "0", "", "", ""},
      {"backslash keeps the quote in the value", "<rec b=\"a\\\"b\">", 1, "0", "a\\\"b", "", ""},
      {"raw > ends the parse", "<rec b=\"x>y\" a=\"4\">", 0, "0", "", "", ""},
      {"entities are decoded", "<rec b=\"&lt;&amp;&quot;&gt;&#92;&x;\">", 1, "0",
       "<&\">\\&x;", "", ""},
      {"comment fills an empty memo", "<rec comment=\"note\">", 1, "0", "", "", "note"},
      {"comment leaves a memo", "<rec memo=\"m\" comment=\"note\">", 2, "0", "", "", "m"},
      {"memo after comment wins", "<rec comment=\"note\" memo=\"m\">", 2, "0", "", "", "m"},
      {"number that does not parse leaves the cell", "<rec a=\"x\" b=\"q\">", 2, "0", "q", "", ""},
      {"number with trailing text", "<rec a=\" 12ab\">", 1, "12", "", "", ""},
      {"unterminated value is dropped", "<rec a=\"1\" b=\"open", 1, "1", "", "", ""},
      {"file ends inside a name", "<rec a=\"1\" bb", 1, "1", "", "", ""},
      {"NUL ends the walk", std::string("<rec a=\"1\"\0 b=\"x\">", 19), 1, "1", "", "", ""},
      {"backslash at the very end", "<rec a=\"1\" b=\"x\\", 1, "1", "", "", ""},
      {"file ends after the element name", "<rec", 0, "0", "", "", ""},
      {"UTF-8 bytes as they are", "<rec b=\"K\xc3\xb6ln\">", 1, "0", "K\xc3\xb6ln", "", ""},
      {"name without = and quote", "<rec a=5>", -1, "0", "", "", ""},
      {"nothing is stored from a broken tag", "<rec b=\"x\" a=5>", -1, "0", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p = Parse(c.text);
    EXPECT_EQ(p.result, c.result);
    EXPECT_EQ(p.a, c.a);
    EXPECT_EQ(p.b, c.b);
    EXPECT_EQ(p.c, c.c);
    EXPECT_EQ(p.memo, c.memo);
  }
}

TEST(XmlRecord, UnsupportedTypeIsReported) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  Parsed p = Parse("<rec big=\"5\" a=\"1\">");
  EXPECT_EQ(p.result, 2);
  EXPECT_EQ(p.a, "1");
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "readXML: val type not supported big");
}

TEST(XmlRecordDeathTest, TooManyAttributes) {
  std::string text = "<rec";
  for (int i = 0; i < 1000; ++i) text += " x=\"1\"";
  EXPECT_EQ(Parse(text.substr(0, 4 + 999 * 6) + ">").result, 999);
  EXPECT_EXIT(Parse(text), ExitedWithCode(kFatalExitStatus), "readXML too many param");
}

// What ParseAttributes would end the program over, told beforehand so that
// readers of foreign files can skip them; the limits are those of the
// parse (999 attributes, texts of 1023 bytes once decoded).
TEST(XmlRecord, AttributeLimitProblem) {
  auto attributes = [](int n) {
    std::string text = "<rec";
    for (int i = 0; i < n; ++i) text += " x=\"1\"";
    return text + ">";
  };
  const std::string longest(kCellTextMaxBytes, 'x');
  struct Case {
    const char* what;
    std::string text;
    std::string problem;
  };
  const Case cases[] = {
      {"999 attributes", attributes(999), ""},
      {"1000 attributes", attributes(1000),
       "readXML too many param (more than 999 attributes in one element)"},
      {"a text of 1023 bytes", "<rec b=\"" + longest + "\">", ""},
      {"a text of 1024 bytes", "<rec b=\"" + longest + "x\">",
       "readXML: text of \"b\" too long (1024 bytes, at most 1023)"},
      {"entities count as their character",
       "<rec b=\"" + longest.substr(1) + "&amp;\">", ""},
      {"a comment fills memo", "<rec comment=\"" + longest + "x\">",
       "readXML: text of \"comment\" too long (1024 bytes, at most 1023)"},
      {"a long number is no text", "<rec a=\"" + std::string(2000, '7') + "\">", ""},
      {"an unknown attribute is not stored", "<rec zz=\"" + longest + "x\">", ""},
      {"after the tag's end nothing counts", "<rec a=\"1\">" + attributes(1000), ""},
      {"a broken tag is the parse's to report",
       "<rec a=1 b=\"" + longest + "x\">", ""},
  };
  Table t(kRecord);
  t.AppendRow();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(AttributeLimitProblem(c.text, FindElement(c.text, "rec"), t), c.problem);
  }
}

// The rest of an opening tag parses as the whole text does.
TEST(XmlRecord, OpeningTagRest) {
  struct Case {
    std::string text;
    std::string rest;
  };
  const Case cases[] = {
      {"<rec a=\"1\" b=\"x\">tail", " a=\"1\" b=\"x\""},
      {"<rec a=\"\\>\" b=\"x\">tail", " a=\"\\>\" b=\"x\""},
      {"<rec a=\"1\"", " a=\"1\""},
      {std::string("<rec a=\"1\"") + '\0' + "b=\"2\">", " a=\"1\""},
      {"<rec a=\"1\\", " a=\"1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::size_t start = FindElement(c.text, "rec");
    EXPECT_EQ(OpeningTagRest(c.text, start), c.rest);
    std::string copy(OpeningTagRest(c.text, start));
    Table whole(kRecord), rest(kRecord);
    const int w = whole.AppendRow(), r = rest.AppendRow();
    std::string text = c.text;
    EXPECT_EQ(ParseAttributes(copy, 0, rest, r), ParseAttributes(text, start, whole, w));
    EXPECT_EQ(rest.Text(r, 2), whole.Text(w, 2));
    EXPECT_EQ(rest.Int(r, 1), whole.Int(w, 1));
  }
}

TEST(XmlRecord, WriteElementLayout) {
  Table t(kRecord);
  int r = t.AppendRow();
  t.SetInt(r, 1, 5);
  t.SetText(r, 2, "x");
  t.SetFloat(r, 4, 1.5f);
  t.SetUint(r, 6, 4294967295u);
  t.SetInt(r, 8, 77);  // not persisted
  std::string out;
  WriteElement(&out, "rec", 0, t, r, true, false);
  EXPECT_EQ(out,
            "<rec\r\n\t a=\"5\" b=\"x\" c=\"\" f=\"1.500000\""
            "\r\n\t memo=\"\" u=\"-1\" big=\"0\">\r\n");
  out.clear();
  WriteElement(&out, "rec", 500, t, r, true, true);
  EXPECT_EQ(out.substr(0, 25), "<rec version =\"500\"\r\n\t a=");
  EXPECT_EQ(out.substr(out.size() - 8), "</rec>\r\n");
  out.clear();
  WriteElement(&out, "rec", 0, t, r, false, true);
  EXPECT_EQ(out, "</rec>\r\n");
}

// Values that broke the record before they were escaped: a ">" ended the
// parse, a final backslash hid the closing quote.
TEST(XmlRecord, TextValuesSurviveWriteAndRead) {
  const std::string values[] = {
      "a > b", "<tag>", "say \"hi\"", "fish & chips", "C:\\clips\\", "\\",
      "a\\\"b", "&amp; stays", "K\xc3\xb6ln",
  };
  for (const std::string& v : values) {
    SCOPED_TRACE(v);
    Table t(kRecord);
    int r = t.AppendRow();
    t.SetText(r, 2, v);
    t.SetText(r, 5, v);
    t.SetInt(r, 1, 42);
    std::string out;
    WriteElement(&out, "rec", 0, t, r, true, true);
    Parsed p = Parse(out);
    EXPECT_EQ(p.result, 7);
    EXPECT_EQ(p.b, v);
    EXPECT_EQ(p.memo, v);
    EXPECT_EQ(p.a, "42");  // attributes after the value are not lost
  }
}

TEST(XmlRecord, ReplaceIntValue) {
  struct Case {
    const char* name;
    std::string text;
    const char* attribute;
    int value;
    int result;
    std::string after;
  };
  const Case cases[] = {
      {"growing", "<r y=\"2024\" mo=\"1\" d=\"5\">", "mo", 12, 1,
       "<r y=\"2024\" mo=\"12\" d=\"5\">"},
      {"shrinking", "<r mo=\"12\" d=\"5\">", "mo", 3, 1, "<r mo=\"3\" d=\"5\">"},
      {"head before d", "<r head=\"100\" d=\"5\">", "d", 7, 1, "<r head=\"100\" d=\"7\">"},
      {"the name inside another value", "<r memo=\"x d=\" d=\"5\">", "d", 6, 1,
       "<r memo=\"x d=\" d=\"6\">"},
      {"empty old value", "<r d=\"\" h=\"3\">", "d", 9, 1, "<r d=\"9\" h=\"3\">"},
      {"after a line end and tab", "<r\r\n\td=\"1\">", "d", -4, 1, "<r\r\n\td=\"-4\">"},
      {"not found", "<r dd=\"1\">", "d", 2, 0, "<r dd=\"1\">"},
      {"outside a tag", "text d=\"1\" <r>", "d", 2, 0, "text d=\"1\" <r>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = c.text;
    EXPECT_EQ(ReplaceIntValue(&text, c.attribute, c.value), c.result);
    EXPECT_EQ(text, c.after);
  }
}

TEST(XmlRecord, ReplaceSecondsValue) {
  std::string text = "<r m=\"5\" s=\"1.5\" x=\"1\">";
  EXPECT_EQ(ReplaceSecondsValue(&text, 12.34567), 1);
  EXPECT_EQ(text, "<r m=\"5\" s=\"12.3457\" x=\"1\">");
}

TEST(XmlRecordDeathTest, BrokenTextForReplacement) {
  std::string text = "<r d=\"12";
  EXPECT_EXIT(ReplaceIntValue(&text, "d", 1), ExitedWithCode(kFatalExitStatus),
              "xml broken");
}

class RecordFileTest : public testing::Test {
 protected:
  void SetUp() override {
    // ctest runs each test in its own process, several at a time.
    dir_ = fs::temp_directory_path() / ("mr4-xml-record-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Tables().clip.Reset();
    row_ = Tables().clip.AppendRow();
  }
  void TearDown() override {
    Tables().clip.Reset();
    fs::remove_all(dir_);
  }
  fs::path Write(const char* name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }
  fs::path dir_;
  int row_ = 0;
};

TEST_F(RecordFileTest, ReadsACaptureRecord) {
  fs::path path = Write("M20240812_010203_X.xml",
                        "<?xml version=\"1.0\"?>\r\n<halvex_record y=\"2024\" mo=\"8\" "
                        "s=\"3.5\" cam=\"WAT\" comment=\"clear\" unknown=\"1\"/>\r\n");
  EXPECT_EQ(ReadRecordIntoClipRow(path, "halvex_record", row_), 6);
  const Table& clips = Tables().clip;
  EXPECT_EQ(clips.Int(row_, clip::kY), 2024);
  EXPECT_EQ(clips.Int(row_, clip::kMo), 8);
  EXPECT_EQ(clips.Float(row_, clip::kS), 3.5f);
  EXPECT_EQ(clips.Text(row_, clip::kCam), "WAT");
  EXPECT_EQ(clips.Text(row_, clip::kMemo), "clear");
  EXPECT_EQ(ReadRecordIntoClipRow(dir_ / "missing.xml", "halvex_record", row_), 0);
}

TEST_F(RecordFileTest, TooBigAndBrokenFilesAreReported) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  fs::path big = Write("big.xml", "<halvex_record y=\"1\"" +
                                      std::string(kRecordFileMaxBytes, ' ') + ">");
  fs::path broken = Write("broken.xml", "<halvex_record y=\"2\" mo=3>");
  EXPECT_EQ(ReadRecordIntoClipRow(big, "halvex_record", row_), 0);
  EXPECT_EQ(ReadRecordIntoClipRow(broken, "halvex_record", row_), 0);
  EXPECT_EQ(Tables().clip.Int(row_, clip::kY), 0);
  ASSERT_EQ(ui.messages().size(), 2u);
  EXPECT_EQ(ui.messages()[0].text, "readXML: file too big\n" + big.string());
  EXPECT_EQ(ui.messages()[1].text, "readXML: file broken\n" + broken.string());
}

// A file beyond the parse's limits (a profile from another machine) is
// skipped with what is wrong, before anything is stored.
TEST_F(RecordFileTest, FilesBeyondTheLimitsAreSkipped) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  std::string many;
  for (int i = 0; i < 1000; ++i) many += " x=\"1\"";
  fs::path long_text =
      Write("long.xml", "<halvex_record y=\"1\" cam=\"" + std::string(1024, 'c') + "\">");
  fs::path too_many = Write("many.xml", "<halvex_record y=\"1\"" + many + ">");
  EXPECT_EQ(ReadRecordIntoClipRow(long_text, "halvex_record", row_), 0);
  EXPECT_EQ(ReadRecordIntoClipRow(too_many, "halvex_record", row_), 0);
  EXPECT_EQ(Tables().clip.Int(row_, clip::kY), 0);
  ASSERT_EQ(ui.messages().size(), 2u);
  EXPECT_EQ(ui.messages()[0].text,
            "readXML: text of \"cam\" too long (1024 bytes, at most 1023), file skipped\n" +
                long_text.string());
  EXPECT_EQ(ui.messages()[1].text,
            "readXML too many param (more than 999 attributes in one element), file "
            "skipped\n" + too_many.string());
}

TEST_F(RecordFileTest, RowThatDoesNotExist) {
  fs::path path = Write("r.xml", "<halvex_record y=\"1\">");
  EXPECT_EXIT(ReadRecordIntoClipRow(path, "halvex_record", row_ + 1),
              ExitedWithCode(kFatalExitStatus), "readXML: line1 not exist");
}

}  // namespace
}  // namespace mr4
