#include <gtest/gtest.h>

#include <vector>

#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/current_clip.h"
#include "tests/clips/clip_fixture.h"

namespace mr4::test {
namespace {

class CurrentClipTest : public ClipTest {
 protected:
  // A bitmap of one colour (blue, green, red).
  void Bitmap(const std::string& name, int width, int height, std::uint8_t green) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3, 0);
    for (std::size_t i = 1; i < pixels.size(); i += 3) pixels[i] = green;
    ASSERT_EQ(WriteStillBmp(root_ / name, pixels, width, height), ImageStatus::kOk);
  }
  int Scan() {
    AddDirRow(root_);
    return ReadClipDirectories();
  }
  static int GreenAt(const ImageBuffer& image, int pixel) {
    return image.pixels[static_cast<std::size_t>(pixel) * 3 + 1];
  }
};

TEST_F(CurrentClipTest, OpensTheFilesTheScanMet) {
  Bitmap("M20240101_203015_AP.bmp", 8, 4, 200);  // lower-case extension
  Bitmap("M20240101_203015_AN.BMP", 8, 4, 90);
  WriteText(root_ / "M20240101_203015_A.AVI", "");
  WriteText(root_ / "M20240101_203015_A.wmv", "");
  WriteText(root_ / "M20240101_203015_A.xml",
            "<halvex_record frames=\"3000\" interlaced=\"1\" lid=\"TK\" lng=\"139.5\"/>");
  WriteText(root_ / "M20240101_203015_A_clicks.csv",
            std::string(kClicksHeader) + "\r\n2024,01,01,11,30,15.0,1,5,6,7,8,9,10\r\n");
  ASSERT_EQ(Scan(), 1);
  int notified = 0;
  CurrentClip().on_changed = [&] { ++notified; };
  MakeClipCurrent(0);
  const CurrentClipState& c = CurrentClip();
  EXPECT_EQ(c.row, 0);
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(c.directory, root_);
  EXPECT_EQ(c.title, "MeridraV4 V5.00 (64bit) " + (root_ / "M20240101_203015_A").native());
  // The AVI wins over the WMV, and is opened by its real name.
  EXPECT_EQ(c.video_path, root_ / "M20240101_203015_A.AVI");
  EXPECT_EQ(c.media_kind, MediaKind::kAvi);
  // 3000 interlaced frames: at most 2000, doubled.
  EXPECT_EQ(c.frame_limit, 4000);
  EXPECT_EQ(c.still.width, 8);
  EXPECT_EQ(GreenAt(c.still, 0), 200);
  EXPECT_EQ(c.mask.width, 8);
  EXPECT_EQ(GreenAt(c.mask, 0), 90);
  ASSERT_EQ(c.clicks.size(), 1u);
  EXPECT_FLOAT_EQ(c.clicks[0].x, 5.0f);
  EXPECT_FLOAT_EQ(c.clicks[0].dec, 10.0f);
  EXPECT_EQ(CurrentProfile().p_lid, "TK");
  EXPECT_FLOAT_EQ(CurrentProfile().p_lng, 139.5f);
  EXPECT_EQ(CurrentProfile().clip_y, 2024);
  EXPECT_EQ(c.current_object, -1);
}

// A picture that cannot be read leaves a black buffer, never the picture
// of the clip opened before (which the mask editor would save as this
// clip's mask).
TEST_F(CurrentClipTest, UnreadablePictureClearsTheBuffer) {
  Bitmap("M20240101_203015_AP.BMP", 8, 4, 200);
  Bitmap("M20240101_203015_AM.BMP", 8, 4, 100);
  WriteText(root_ / "M20240101_203015_BP.BMP", "BM broken");
  WriteText(root_ / "M20240101_203015_BM.BMP", "BM broken");
  ASSERT_EQ(Scan(), 2);
  const Table& clips = Tables().clip;
  const int a = clips.Text(0, clip::kClipName) == "M20240101_203015_A" ? 0 : 1;
  MakeClipCurrent(a);
  ASSERT_EQ(CurrentClip().still.width, 8);
  ASSERT_EQ(GreenAt(CurrentClip().mask, 0), 100);
  MakeClipCurrent(1 - a);
  EXPECT_EQ(CurrentClip().still.width, 0);
  EXPECT_EQ(GreenAt(CurrentClip().still, 0), 0);
  EXPECT_EQ(CurrentClip().mask.width, 0);
  EXPECT_EQ(GreenAt(CurrentClip().mask, 0), 0);
}

TEST_F(CurrentClipTest, ObjectsOfTheClipAreMarked) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int row = clips.AppendRow();
  clips.SetUint(row, clip::kDisp, 1);
  const int other = objects.AppendRow();
  const int first = objects.AppendRow();
  const int second = objects.AppendRow();
  objects.SetInt(other, obj::kDisp, 1);
  objects.SetInt(first, obj::kOlinenext, second);
  objects.SetInt(second, obj::kOlinenext, -1);
  clips.SetInt(row, clip::kOline, first);
  MakeClipCurrent(row);
  EXPECT_EQ(objects.Int(other, obj::kDisp), 0);
  EXPECT_EQ(objects.Int(first, obj::kDisp), 1);
  EXPECT_EQ(objects.Int(second, obj::kDisp), 1);
  EXPECT_EQ(objects.Uint(second, obj::kSel), 1u);
  EXPECT_EQ(CurrentClip().current_object, first);
  EXPECT_EQ(CurrentClip().video_path, "");
  EXPECT_EQ(CurrentClip().media_kind, MediaKind::kNone);
}

TEST_F(CurrentClipTest, NoClip) {
  Bitmap("M20240101_203015_AP.BMP", 8, 4, 200);
  ASSERT_EQ(Scan(), 1);
  MakeClipCurrent(0);
  CurrentClip().result_text = "check: 3";
  CurrentClip().keep_result_text = true;
  MakeClipCurrent(-1);
  const CurrentClipState& c = CurrentClip();
  EXPECT_EQ(c.result_text, "check: 3");
  EXPECT_FALSE(c.keep_result_text);
  EXPECT_EQ(c.row, -1);
  EXPECT_EQ(c.title, "MeridraV4 V5.00 (64bit)");
  EXPECT_EQ(c.still.width, 0);
  EXPECT_EQ(GreenAt(c.still, 0), 0);
  EXPECT_TRUE(c.video_path.empty());
  EXPECT_TRUE(c.directory.empty());
  EXPECT_EQ(CurrentProfile().clip_y, 2007);
  EXPECT_EQ(CurrentProfile().clip_tz, 32400);
  // 2007-01-01 00:00 at +9 h is 2006-12-31 15:00 UT.
  EXPECT_NEAR(CurrentProfile().ClipJdUtc, 2454101.5 - 9.0 / 24.0, 1e-6);
  MakeClipCurrent(-1);
  EXPECT_EQ(c.result_text, "");
}

TEST_F(CurrentClipTest, ClicksOfTheCurrentClipAreSaved) {
  EXPECT_FALSE(WriteCurrentClipClicks());  // no current clip
  WriteText(root_ / "M20240101_203015_A.xml", "<halvex_record tz=\"32400\"/>");
  ASSERT_EQ(Scan(), 1);
  MakeClipCurrent(0);
  CurrentClip().clicks = {Click{1, 2, 3, 4, 5, 6}};
  ASSERT_TRUE(WriteCurrentClipClicks());
  const std::vector<Click> back =
      ReadClicksFile(root_ / "M20240101_203015_A_clicks.csv");
  ASSERT_EQ(back.size(), 1u);
  EXPECT_FLOAT_EQ(back[0].ra, 3.0f);
}

TEST_F(CurrentClipTest, ANewScanClosesTheCurrentClip) {
  WriteText(root_ / "M20240101_203015_A.avi", "");
  ASSERT_EQ(Scan(), 1);
  MakeClipCurrent(0);
  ASSERT_EQ(CurrentClip().row, 0);
  std::filesystem::remove(root_ / "M20240101_203015_A.avi");
  EXPECT_EQ(ReadClipDirectories(), 0);
  EXPECT_EQ(CurrentClip().row, -1);
  EXPECT_TRUE(CurrentClip().video_path.empty());
}

TEST_F(CurrentClipTest, DeletedRowIsFatal) {
  Table& clips = Tables().clip;
  clips.AppendRow();
  clips.AppendRow();
  clips.DeleteRow(0);
  EXPECT_EXIT(MakeClipCurrent(0), testing::ExitedWithCode(99), "");
}

}  // namespace
}  // namespace mr4::test
