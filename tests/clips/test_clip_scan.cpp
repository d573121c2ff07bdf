#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "replay/avi_reader.h"
#include "sim/avi_writer.h"
#include "tests/clips/clip_fixture.h"

namespace mr4::test {
namespace {

using Keys = std::vector<std::string>;

Keys Sorted(Keys keys) {
  std::sort(keys.begin(), keys.end());
  return keys;
}

class Scan : public ClipTest {
 protected:
  std::filesystem::path Touch(const std::filesystem::path& relative,
                              const std::string& text = "") {
    WriteText(root_ / relative, text);
    return root_ / relative;
  }
  std::string Key(const std::filesystem::path& relative_dir, const std::string& name) {
    return (root_ / relative_dir).native() + "|" + name;
  }
  std::string Dir() const { return root_.native(); }
};

TEST_F(Scan, AllTakesUndatedClipsButNotUndatedOtherFiles) {
  Touch("M20240101_203015_ST1.avi");
  Touch("Mtest.avi");
  Touch("Mtest.dat");
  Touch("readme.txt");
  Touch(".M20240101_000000_X.avi");  // hidden
  AddDirRow(root_);
  EXPECT_EQ(ReadClipDirectories(), 2);
  EXPECT_EQ(ClipKeys(), Sorted(Keys{Dir() + "|M20240101_203015_ST1", Dir() + "|Mtest"}));
  const Table& clips = Tables().clip;
  const int undated = RowOf("Mtest");
  EXPECT_EQ(clips.Int(undated, clip::kY), 0);
  EXPECT_EQ(clips.Int(undated, clip::kH), 0);
  const int dated = RowOf("M20240101_203015_ST1");
  EXPECT_EQ(clips.Int(dated, clip::kY), 2024);
  EXPECT_EQ(clips.Int(dated, clip::kM), 30);
  EXPECT_FLOAT_EQ(clips.Float(dated, clip::kS), 15.0f);
  EXPECT_EQ(clips.Int(dated, clip::kCheck), 1);
  EXPECT_EQ(clips.Int(dated, clip::kOline), -1);
  EXPECT_FLOAT_EQ(clips.Float(dated, clip::kErrm), -1.0f);
  EXPECT_FLOAT_EQ(clips.Float(dated, clip::kFps), 29.97f);
  EXPECT_EQ(clips.Int(dated, clip::kSisize), 16);
}

TEST_F(Scan, RangeEndsAreInclusive) {
  Settings& s = AppSettings();
  s.dirrange = 1;
  s.Y = 2024;
  s.M = 1;
  s.D = 1;
  s.H = 12;
  s.days = 1;
  Touch("M20240101_120000_A.avi");  // the start
  Touch("M20240102_120000_A.avi");  // the end
  Touch("M20240101_115959_A.avi");  // a second early
  Touch("M20240102_120001_A.avi");  // a second late
  Touch("Mtest.avi");               // no date: only with "all"
  AddDirRow(root_);
  EXPECT_EQ(ReadClipDirectories(), 2);
  EXPECT_EQ(ClipKeys(), Sorted(Keys{Dir() + "|M20240101_120000_A", Dir() + "|M20240102_120000_A"}));
  s.dirrange = 2;  // "latest" filters the same way
  EXPECT_EQ(ReadClipDirectories(), 2);
}

TEST_F(Scan, SubdirectoriesTrashAndSameNames) {
  Touch("M20240101_203015_ST1.avi");
  Touch("M20240101_203015_ST1P.BMP");
  Touch("night/M20240101_203015_ST1.xml", "<halvex_record cx=\"720\"/>");
  Touch("Trash/M20240101_000000_T.avi");
  Touch("trash/M20240101_000000_L.avi");
  AddDirRow(root_);
  ReadClipDirectories();
  EXPECT_EQ(ClipKeys(), Sorted(Keys{Dir() + "|M20240101_203015_ST1",
                              Key("night", "M20240101_203015_ST1"),
                              Key("trash", "M20240101_000000_L")}));
  // The clip of the top directory has its two files, the one below its own.
  const Table& clips = Tables().clip;
  for (int r = 0; r < clips.count(); ++r) {
    const std::string dir(clips.Text(r, clip::kDirectory));
    if (dir == Dir()) {
      EXPECT_EQ(clips.Text(r, clip::kMedia), "AB      ");
    } else if (dir == Dir() + "/night") {
      EXPECT_EQ(clips.Text(r, clip::kMedia), "    x   ");
    }
  }
}

TEST_F(Scan, DirectoryRowsUseCaseAndDrives) {
  Touch("Clips1/M20240101_203015_A.avi");
  Touch("CLIPS2/M20240101_203015_B.avi");
  Touch("off/M20240101_203015_C.avi");
  AddDirRow(root_ / "Clips1");
  AddDirRow(root_ / "off", 0);
  AddDirRow(root_ / "CLIPS2");
  EXPECT_EQ(ReadClipDirectories(), 2);
  // Paths keep their case; rows with use 0 are not scanned.
  EXPECT_EQ(ClipKeys(), Sorted(Keys{Key("CLIPS2", "M20240101_203015_B"),
                              Key("Clips1", "M20240101_203015_A")}));
  const Table& clips = Tables().clip;
  const int a = RowOf("M20240101_203015_A");
  const int b = RowOf("M20240101_203015_B");
  // Both directories lie on one device: one drive entry.
  EXPECT_EQ(Clips().drives.size(), 1u);
  EXPECT_EQ(clips.Int(a, clip::kDriveno), 0);
  EXPECT_EQ(clips.Int(b, clip::kDriveno), 0);
  // The list position of the directory row.
  EXPECT_EQ(clips.Int(a, clip::kDirline), 0);
  EXPECT_EQ(clips.Int(b, clip::kDirline), 2);
}

TEST_F(Scan, EmptyDirectoryRowIsReportedAndSkipped) {
  Touch("M20240101_203015_A.avi");
  AddDirRow("");
  AddDirRow(root_);
  EXPECT_EQ(ReadClipDirectories(), 1);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Input Directory is null\nPlease assign directory");
}

// A path too long for the clip table's cells is reported, and the rest of
// the tree is still scanned.
TEST_F(Scan, TooDeepDirectoryIsReportedAndSkipped) {
  std::filesystem::path deep = root_;
  while (deep.native().size() <= 1023) deep /= std::string(200, 'd');
  std::filesystem::create_directories(deep);
  WriteText(deep / "M20240101_203015_D.avi", "");
  Touch("M20240101_203015_A.avi");
  AddDirRow(root_);
  EXPECT_EQ(ReadClipDirectories(), 1);
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text.rfind("Directory path too long (over 1023 bytes)", 0), 0u);
}

TEST_F(Scan, LinkLoopsAndRepeatedDirectoriesAreScannedOnce) {
  Touch("a/M20240101_203015_A.avi");
  std::filesystem::create_directory_symlink(root_ / "a", root_ / "a" / "loop");
  std::filesystem::create_directory_symlink(root_ / "a", root_ / "again");
  AddDirRow(root_);
  AddDirRow(root_ / "a");
  EXPECT_EQ(ReadClipDirectories(), 1);
}

TEST_F(Scan, RealFileNamesAndCodecs) {
  const std::filesystem::path avi = root_ / "M20240101_203015_A.AVI";
  AviWriterOptions options;
  options.width = 64;
  options.height = 48;
  AviWriter writer;
  ASSERT_TRUE(writer.Open(avi, options)) << writer.error();
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(writer.ImageBytes()), 16);
  ASSERT_TRUE(writer.WriteFrame(frame));
  ASSERT_TRUE(writer.Close());
  Touch("M20240101_203015_AP.bmp");
  Touch("M20240101_203015_A.wmv");
  Touch("M20240101_203015_B.wmv");
  Touch("M20240101_203015_C.avi", "not an AVI file");
  AddDirRow(root_);
  ReadClipDirectories();
  const Table& clips = Tables().clip;
  const int a = RowOf("M20240101_203015_A");
  EXPECT_EQ(ClipFilePath(a, kKindPeakBmp), root_ / "M20240101_203015_AP.bmp");
  EXPECT_EQ(ClipFilePath(a, kKindAvi), avi);
  EXPECT_EQ(ClipFilePath(a, kKindMaskN), "");
  // The AVI's probe stays whichever video file the listing gives first.
  EXPECT_EQ(clips.Int(a, clip::kCodecno), 1);
  EXPECT_EQ(clips.Text(a, clip::kCodec), "YUY2");
  EXPECT_EQ(clips.Text(a, clip::kMedia), "AB      ");
  EXPECT_EQ(clips.Int(a, clip::kMT), 0x13);
  EXPECT_GT(clips.Float(a, clip::kMB), 0.0f);
  const int b = RowOf("M20240101_203015_B");
  EXPECT_EQ(clips.Text(b, clip::kCodec), "wmv ");
  EXPECT_EQ(clips.Int(b, clip::kCodecno), -1);
  // A broken AVI gives its probe code and the scan goes on.
  const int c = RowOf("M20240101_203015_C");
  EXPECT_EQ(clips.Int(c, clip::kCodecno), kProbeShortHeader);
  EXPECT_EQ(clips.count(), 3);
}

TEST_F(Scan, CaptureRecordsResultsAndProblems) {
  Touch("M20240101_203015_A.xml",
        "<halvex_record cx=\"1280\" cy=\"720\" lid=\"TK\" frames=\"300\" "
        "directory=\"/elsewhere\" clip_name=\"Mother\"/>");
  Touch("M20240101_203015_B.xml", "<halvex_record cx=1280/>");  // broken
  Touch("M20240101_203015_B.avi");
  Touch("M20240101_203015_C.xml", "<halvex_record lid=\"REC\" cx=\"720\" codec=\"rec\"/>");
  Touch("M20240101_203015_CA.XML",
        "<meridra_record lid=\"RES\" codec=\"res\"/>\r\n<mr2_objects>\r\n"
        "<mr2_object mag=\"2\" class=\"spo\"></mr2_object></mr2_objects>");
  AddDirRow(root_);
  EXPECT_EQ(ReadClipDirectories(), 3);
  const Table& clips = Tables().clip;
  const int a = RowOf("M20240101_203015_A");
  EXPECT_EQ(clips.Int(a, clip::kCx), 1280);
  EXPECT_EQ(clips.Text(a, clip::kLid), "TK");
  EXPECT_EQ(clips.Text(a, clip::kDirectory), Dir());
  EXPECT_EQ(clips.Text(a, clip::kMedia), "    x   ");
  const int b = RowOf("M20240101_203015_B");
  EXPECT_EQ(clips.Text(b, clip::kMedia), "A   x   ");
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text.rfind("readXML: file broken\n", 0), 0u);
  // The result wins over the record in either listing order; the codec is
  // the scan's, the profile the result file.
  const int c = RowOf("M20240101_203015_C");
  EXPECT_EQ(clips.Text(c, clip::kLid), "RES");
  EXPECT_EQ(clips.Text(c, clip::kProfile), "M20240101_203015_CA.XML");
  EXPECT_EQ(clips.Int(c, clip::kO), 1);
  EXPECT_EQ(clips.Text(c, clip::kClass), "spo");
  EXPECT_EQ(clips.Text(c, clip::kMedia), "    xX  ");
}

TEST_F(Scan, EveryDirectoryReportsTheClipCount) {
  Touch("M20240101_203015_A.avi");
  Touch("sub/M20240101_203015_B.avi");
  std::vector<int> counts;
  Clips().on_clip_count = [&](int n) { counts.push_back(n); };
  AddDirRow(root_);
  ReadClipDirectories();
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts.back(), 2);
}

TEST(StorageDrives, TheHundredthDriveIsFatal) {
  Clips() = ClipLibrary{};
  for (int i = 0; i < kMaxStorageDrives - 1; ++i) {
    EXPECT_EQ(StorageDriveIndex("/nonexistent/drive" + std::to_string(i)), i);
  }
  EXPECT_EQ(StorageDriveIndex("/nonexistent/drive5"), 5);
  EXPECT_EXIT(StorageDriveIndex("/nonexistent/one-more"), testing::ExitedWithCode(99),
              "too many storage drives \\(>100\\)");
}

}  // namespace
}  // namespace mr4::test
