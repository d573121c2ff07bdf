#include <gtest/gtest.h>

#include "clips/clip_files.h"
#include "clips/clip_record.h"
#include "tables/xml_record.h"
#include "tests/clips/clip_fixture.h"

namespace mr4::test {
namespace {

class CaptureRecord : public ClipTest {
 protected:
  int NewRow() {
    Table& clips = Tables().clip;
    const int row = clips.AppendRow();
    clips.SetInt(row, clip::kOline, -1);
    return row;
  }
  std::filesystem::path Record(const std::string& text) {
    const std::filesystem::path path = root_ / "M20240101_203015_ST1.xml";
    WriteText(path, text);
    return path;
  }
};

TEST_F(CaptureRecord, ElementsVersionsAndComment) {
  struct Case {
    const char* what;
    std::string text;
    int stored;
    int cx;
    const char* memo;
  };
  const Case cases[] = {
      {"halvex_record", "<halvex_record cx=\"720\" cy=\"480\"/>", 2, 720, ""},
      {"both elements: the first stores, the second is not read",
       "<halvex_record cx=\"640\"/><halvex_V5_record version=\"500\" cx=\"720\"/>", 1,
       640, ""},
      {"empty halvex_record: the V5 element is read",
       "<halvex_record /><halvex_V5_record version=\"500\" cx=\"720\"/>", 2, 720, ""},
      {"V5 version 499", "<halvex_V5_record version=\"499\" cx=\"720\"/>", 0, 0, ""},
      {"V5 version 500", "<halvex_V5_record version=\"500\" cx=\"720\"/>", 2, 720, ""},
      {"V5 with two blanks before version",
       "<halvex_V5_record  version=\"500\" cx=\"720\"/>", 0, 0, ""},
      {"V5 without a separator", "<halvex_V5_record_version=\"500\" cx=\"720\"/>", 0,
       0, ""},
      {"V5 truncated after the version",
       "<halvex_V5_record version=\"5", 0, 0, ""},
      {"comment fills an empty memo", "<halvex_record comment=\"clear\"/>", 1, 0,
       "clear"},
      {"memo first: the comment is dropped",
       "<halvex_record memo=\"cloudy\" comment=\"clear\"/>", 2, 0, "cloudy"},
      {"unknown attributes are counted, not stored",
       "<halvex_record nosuch=\"1\" cx=\"720\"/>", 2, 720, ""},
      {"no element", "<other cx=\"720\"/>", 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int row = NewRow();
    EXPECT_EQ(ReadCaptureRecord(Record(c.text), row), c.stored);
    EXPECT_EQ(Tables().clip.Int(row, clip::kCx), c.cx);
    EXPECT_EQ(Tables().clip.Text(row, clip::kMemo), c.memo);
  }
  EXPECT_TRUE(ui_.messages().empty());
}

TEST_F(CaptureRecord, BrokenAndMissingFiles) {
  const int row = NewRow();
  EXPECT_EQ(ReadCaptureRecord(Record("<halvex_record cx=720/>"), row), 0);
  ASSERT_FALSE(ui_.messages().empty());
  EXPECT_EQ(ui_.messages()[0].text.rfind("readXML: file broken\n", 0), 0u);
  EXPECT_EQ(ReadCaptureRecord(root_ / "missing.xml", row), 0);

  ui_.Clear();
  Record(std::string(1000000, ' '));
  EXPECT_EQ(ReadCaptureRecord(root_ / "M20240101_203015_ST1.xml", row), 0);
  // Too big for both elements tried: the message comes once for each.
  ASSERT_EQ(ui_.messages().size(), 2u);
  EXPECT_EQ(ui_.messages()[0].text.rfind("readXML: file too big\n", 0), 0u);
}

// A record may fill any column but those the scan keeps for itself.
TEST_F(CaptureRecord, ScanColumnsKeepTheScanValues) {
  Table& clips = Tables().clip;
  const int row = NewRow();
  clips.SetText(row, clip::kClipName, "M20240101_203015_ST1");
  clips.SetText(row, clip::kDirectory, "/data/clips");
  clips.SetText(row, clip::kMedia, "A   x   ");
  clips.SetInt(row, clip::kMT, 0x010001);
  clips.SetFloat(row, clip::kMB, 2.5f);
  clips.SetInt(row, clip::kDriveno, 1);
  clips.SetInt(row, clip::kDirline, 2);
  clips.SetInt(row, clip::kCheck, 1);
  const std::string record =
      "<halvex_record clip_name=\"Mother\" directory=\"/etc\" media=\"AAAAAAAA\" "
      "MT=\"131072\" MB=\"99\" oline=\"7\" driveno=\"5\" dirline=\"6\" check=\"0\" "
      "lid=\"TK\" o=\"3\"/>";
  EXPECT_EQ(ReadCaptureRecord(Record(record), row), 11);
  EXPECT_EQ(clips.Text(row, clip::kClipName), "M20240101_203015_ST1");
  EXPECT_EQ(clips.Text(row, clip::kDirectory), "/data/clips");
  EXPECT_EQ(clips.Text(row, clip::kMedia), "A   x   ");
  EXPECT_EQ(clips.Int(row, clip::kMT), 0x010001);
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kMB), 2.5f);
  EXPECT_EQ(clips.Int(row, clip::kOline), -1);
  EXPECT_EQ(clips.Int(row, clip::kDriveno), 1);
  EXPECT_EQ(clips.Int(row, clip::kDirline), 2);
  EXPECT_EQ(clips.Int(row, clip::kCheck), 1);
  EXPECT_EQ(clips.Text(row, clip::kLid), "TK");
  EXPECT_EQ(clips.Int(row, clip::kO), 3);
}

constexpr char kResult[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
    "<meridra_record cx=\"1920\" lid=\"RESULT\" oline=\"55\"\r\n"
    "\tclip_name=\"Mx\">\r\n"
    "<mr2_objects>\r\n"
    "<mr2_object mag=\"1.5\" sec=\"0.4\" class=\"PER\" cdeg=\"0.02\" av1=\"60\">\r\n"
    "<mr2_objpath><mr2_fdata2 fno=\"1\"/></mr2_objpath></mr2_object>\r\n"
    "<mr2_object mag=\"-0.5\" sec=\"1.2\" class=\"spo\" cdeg=\"0.05\" av1=\"30\">\r\n"
    "</mr2_object>\r\n"
    "<mr2_object mag=\"-0.5\" sec=\"2.0\" class=\"__noise\" cdeg=\"0.01\" av1=\"45\">\r\n"
    "</mr2_object>\r\n"
    "</mr2_objects>\r\n"
    "</meridra_record>\r\n";

TEST_F(CaptureRecord, ResultFileRowObjectsAndSummary) {
  Table& clips = Tables().clip;
  const int row = NewRow();
  clips.SetText(row, clip::kClipName, "M20240101_203015_ST1");
  const std::filesystem::path path = root_ / "M20240101_203015_ST1A.XML";
  WriteText(path, kResult);
  EXPECT_EQ(ReadResultObjects(path, row), 3);
  EXPECT_EQ(clips.Int(row, clip::kCx), 1920);
  EXPECT_EQ(clips.Text(row, clip::kClipName), "M20240101_203015_ST1");
  EXPECT_EQ(clips.Int(row, clip::kDrop), -1);
  EXPECT_EQ(clips.Int(row, clip::kO), 3);
  // The chain: three rows in file order, each pointing at the clip.
  const Table& objects = Tables().obj;
  std::vector<float> secs;
  for (int o = clips.Int(row, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext)) {
    EXPECT_EQ(objects.Int(o, obj::kCline), row);
    EXPECT_EQ(objects.Int(o, obj::kSN), -1);
    secs.push_back(objects.Float(o, obj::kSec));
  }
  EXPECT_EQ(secs, (std::vector<float>{0.4f, 1.2f, 2.0f}));
  // Brightest: -0.5 twice, the earlier one wins.
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kMag), -0.5f);
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kSec), 1.2f);
  EXPECT_EQ(clips.Text(row, clip::kClass), "spo");
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kCdegmax), 0.05f);
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kAvmin), 30.0f);
}

TEST_F(CaptureRecord, SummaryWithoutObjects) {
  Table& clips = Tables().clip;
  const int row = NewRow();
  clips.SetFloat(row, clip::kMag, 3.0f);
  clips.SetText(row, clip::kClass, "spo");
  SummariseClipObjects(row);
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kMag), 0.0f);
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kSec), 0.0f);
  EXPECT_EQ(clips.Text(row, clip::kClass), "");
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kCdegmax), 0.0f);
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kAvmin), 10000.0f);
}

TEST_F(CaptureRecord, ObjectChainLoopIsFatal) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int row = NewRow();
  const int a = objects.AppendRow();
  const int b = objects.AppendRow();
  objects.SetInt(a, obj::kOlinenext, b);
  objects.SetInt(b, obj::kOlinenext, a);
  clips.SetInt(row, clip::kOline, a);
  EXPECT_EXIT(
      {
        SetUi(nullptr);  // the console Ui prints the message
        SummariseClipObjects(row);
      },
      testing::ExitedWithCode(99), "oline link broken");
}

// The result has priority over the capture record in whichever order the
// two files are met: met first, it keeps the record from being read; met
// second, its values overwrite the record's.
TEST_F(CaptureRecord, ResultPriorityInBothOrders) {
  const std::filesystem::path result = root_ / "M20240101_203015_ST1A.XML";
  WriteText(result, kResult);
  const std::filesystem::path record =
      Record("<halvex_record cx=\"720\" lid=\"RECORD\" memo=\"rec\"/>");
  Table& clips = Tables().clip;
  {
    SCOPED_TRACE("result first");
    const int row = NewRow();
    ReadResultObjects(result, row);
    clips.SetInt(row, clip::kMT, KindBit(kKindResult));
    EXPECT_EQ(ReadCaptureRecord(record, row), 0);
    EXPECT_EQ(clips.Int(row, clip::kCx), 1920);
    EXPECT_EQ(clips.Text(row, clip::kLid), "RESULT");
    EXPECT_EQ(clips.Text(row, clip::kMemo), "");
  }
  {
    SCOPED_TRACE("record first");
    const int row = NewRow();
    EXPECT_EQ(ReadCaptureRecord(record, row), 3);
    clips.SetInt(row, clip::kMT, KindBit(kKindCaptureRecord));
    ReadResultObjects(result, row);
    EXPECT_EQ(clips.Int(row, clip::kCx), 1920);
    EXPECT_EQ(clips.Text(row, clip::kLid), "RESULT");
    EXPECT_EQ(clips.Text(row, clip::kMemo), "rec");
  }
}

// Result files hold every trail sample and pass the record limit from about
// 4,000 samples: the scan reads them up to kResultFileMaxBytes, while
// capture records keep the record limit.
TEST_F(CaptureRecord, SizeLimits) {
  struct Case {
    const char* what;
    bool result;
    std::uintmax_t size;
    int read;
  };
  const Case cases[] = {
      {"result of the record limit", true, kRecordFileMaxBytes, 3},
      {"result of twice the record limit", true, 2 * kRecordFileMaxBytes, 3},
      {"result of its limit", true, kResultFileMaxBytes, 0},
      {"capture record of the record limit", false, kRecordFileMaxBytes, 0},
      {"capture record one byte below it", false, kRecordFileMaxBytes - 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.Clear();
    const int row = NewRow();
    const std::filesystem::path path =
        c.result ? root_ / "MbigA.XML" : Record("<halvex_record cx=\"720\"/>");
    if (c.result) WriteText(path, kResult);
    std::filesystem::resize_file(path, c.size);  // padded with NULs
    const int n = c.result ? ReadResultObjects(path, row) : ReadCaptureRecord(path, row);
    EXPECT_EQ(n, c.read);
    const std::vector<ScriptedUi::Shown> shown = ui_.messages();
    if (c.read == 0) {
      // A capture record is refused once for each element tried.
      ASSERT_EQ(shown.size(), c.result ? 1u : 2u);
      EXPECT_EQ(shown[0].text, "readXML: file too big\n" + path.native());
    } else {
      EXPECT_TRUE(shown.empty());
    }
  }
}

// A clip file beyond the reader's limits (a text of 1024 bytes or more, a
// thousand attributes in one element) is named with what is wrong and
// skipped as a whole: the row keeps what it had, no object row is made.
TEST_F(CaptureRecord, FilesBeyondTheReaderLimitsAreSkipped) {
  const std::string long_text(1024, 'x');
  std::string many;
  for (int i = 0; i < 1000; ++i) many += " u" + std::to_string(i) + "=\"1\"";
  const std::string too_long =
      "readXML: text of \"memo\" too long (1024 bytes, at most 1023), file skipped\n";
  const std::string too_many =
      "readXML too many param (more than 999 attributes in one element), file skipped\n";
  struct Case {
    const char* what;
    bool result;
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"capture record, long memo", false,
       "<halvex_record cx=\"720\" memo=\"" + long_text + "\"/>", too_long},
      {"capture record, long comment", false,
       "<halvex_record cx=\"720\" comment=\"" + long_text + "\"/>",
       "readXML: text of \"comment\" too long (1024 bytes, at most 1023), file skipped\n"},
      {"capture record, many attributes", false, "<halvex_record cx=\"720\"" + many + "/>",
       too_many},
      {"V5 record, long memo", false,
       "<halvex_V5_record version=\"500\" cx=\"720\" memo=\"" + long_text + "\"/>", too_long},
      {"result record, long memo", true,
       "<meridra_record cx=\"720\" memo=\"" + long_text +
           "\">\r\n<mr2_objects>\r\n<mr2_object mag=\"1\">\r\n</mr2_object>\r\n",
       too_long},
      {"result object, long class after a good one", true,
       "<meridra_record cx=\"720\">\r\n<mr2_objects>\r\n<mr2_object mag=\"1\">\r\n"
       "</mr2_object>\r\n<mr2_object class=\"" + long_text + "\">\r\n</mr2_object>\r\n",
       "readXML: text of \"class\" too long (1024 bytes, at most 1023), file skipped\n"},
      {"result object, many attributes", true,
       "<meridra_record cx=\"720\">\r\n<mr2_objects>\r\n<mr2_object" + many + ">\r\n",
       too_many},
  };
  Table& clips = Tables().clip;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.Clear();
    const int row = NewRow();
    clips.SetInt(row, clip::kCx, 640);
    const int objects = Tables().obj.count();
    const std::filesystem::path path =
        c.result ? root_ / "M20240101_203015_ST1A.XML" : Record(c.text);
    if (c.result) WriteText(path, c.text);
    EXPECT_EQ(c.result ? ReadResultObjects(path, row) : ReadCaptureRecord(path, row), 0);
    EXPECT_EQ(clips.Int(row, clip::kCx), 640);
    EXPECT_EQ(clips.Int(row, clip::kOline), -1);
    EXPECT_EQ(clips.Int(row, clip::kDrop), 0);
    EXPECT_EQ(Tables().obj.count(), objects);
    const std::vector<ScriptedUi::Shown> shown = ui_.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, c.message + path.native());
  }
}

// A "<mr2_object" inside a value is found like any other, and its tag is
// read from the file's own bytes, not from the text the parse of the
// element before it decoded: "&lt;" cannot make a tag of its own.
TEST_F(CaptureRecord, ResultObjectsAreReadFromTheFileBytes) {
  const std::string long_class(1100, 'c');
  const std::filesystem::path path = root_ / "M20240101_203015_ST1A.XML";
  WriteText(path, "<meridra_record cx=\"720\">\r\n<mr2_objects>\r\n"
                  "<mr2_object mag=\"1\" note=\"&lt;mr2_object class=&quot;" + long_class +
                      "&quot;\">\r\n</mr2_object>\r\n");
  const int row = NewRow();
  EXPECT_EQ(ReadResultObjects(path, row), 1);
  EXPECT_TRUE(ui_.messages().empty());
  EXPECT_EQ(Tables().obj.Text(Tables().clip.Int(row, clip::kOline), obj::kClass), "");
}

}  // namespace
}  // namespace mr4::test
