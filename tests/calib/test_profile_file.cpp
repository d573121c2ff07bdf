// Profiles in clip records and profile files: the round trip through a
// file, the defaults a file without detection parameters gets, the
// load rules, the proposed file names and the attribute texts.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/process_values.h"
#include "calib/camera_model.h"
#include "calib/profile_file.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

class ProfileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    Strings().Prime();
    if (App().leap_seconds.n == 0) {
      App().leap_seconds = BuildLeapSecondList(std::vector<LeapSecondRow>{{2017, 1, 1, 37, 0.0f}});
    }
    // ctest runs each test in its own process, side by side.
    dir_ = fs::path(::testing::TempDir()) /
           (std::string("mr4-profile-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    rows_before_ = CountRows();
  }
  void TearDown() override {
    EXPECT_EQ(CountRows(), rows_before_) << "a temporary clip row was left";
    fs::remove_all(dir_);
  }
  static int CountRows() {
    const Table& clip = Tables().clip;
    int n = 0;
    for (int r = 0; r < clip.count(); ++r) n += clip.Exists(r);
    return n;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
  int rows_before_ = 0;
};

TEST_F(ProfileFiles, SavedProfileReadsBackFieldForField) {
  CameraProfile p;
  p.cx = 1280;
  p.cy = 720;
  p.p_lng = 139.6917f;
  p.p_lat = 35.6895f;
  p.p_az = 123.456f;
  p.p_ev = 67.5f;
  p.p_rot = -3.25f;
  p.p_vx = 92.125f;
  p.p_k4 = 0.001f;
  p.maxl = 200;
  p.maxm = 1.5f;
  p.p_u4_dapix = 64;
  p.p_u4_dlim = 25;
  p.p_u4_f2 = 300;
  p.p_lid = "JP0042";
  p.p_sid = "TK2";
  p.p_memo = "north \"wall\" <roof> & A\\";
  const fs::path file = dir_ / "p_JP0042_TK2_.XML";
  ASSERT_TRUE(SaveProfileFile(file, p));
  EXPECT_FALSE(fs::exists(dir_ / "p_JP0042_TK2_.XML.tmp"));

  const std::string text = Read(file);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<meridra_record", 0), 0u)
      << text.substr(0, 80);
  EXPECT_NE(text.find(" az=\"123.456"), std::string::npos) << text;
  EXPECT_NE(text.find("</meridra_record>"), std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos);

  CameraProfile back;
  back.clip_y = 2024;  // the clip now open keeps its instant
  back.clip_mo = 8;
  back.clip_d = 12;
  back.clip_h = 22;
  back.clip_tz = 32400;
  ASSERT_TRUE(ReadProfileFile(file, back));
  for (const ProfileAttribute& a : ProfileAttributes()) {
    SCOPED_TRACE(a.name);
    EXPECT_EQ(AttributeText(back, a), AttributeText(p, a));
  }
  EXPECT_EQ(back.profile, "p_JP0042_TK2_.XML");
  EXPECT_EQ(back.clip_y, 2024);
  EXPECT_EQ(back.clip_tz, 32400);
  EXPECT_NEAR(back.ClipJdUtc, 2460535.0 + 1.0 / 24, 1e-6);  // 2024-08-12 13:00 UT
  EXPECT_EQ(back.HalfWidth, 640.0);              // the distortion table follows
  EXPECT_NEAR(back.ZeroPoint, 2.5 * std::log10(200.0) + 1.5, 1e-6);
}

TEST_F(ProfileFiles, FileWithoutDetectionParametersGetsTheDefaults) {
  struct Case {
    int context_height;
    const char* extra;  // more attributes in the file
    int dapix;
    float ddpix;
  };
  const Case cases[] = {
      {720, "", 72, 1e-6f},
      {480, "", 48, 1e-6f},
      {720, " dapix=\"-1\" cy=\"1080\"", 108, 1e-6f},
      {480, " ddpix=\"0.000000\" dapix=\"30\"", 30, 1e-6f},
      {480, " ddpix=\"0.001000\"", 48, 1e-3f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    const fs::path file = dir_ / "bare.XML";
    std::ofstream(file, std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<meridra_record cx=\"720\" cy=\"480\""
        << " az=\"10.5\" vx=\"50\" yx=\"1\"" << c.extra << ">\n</meridra_record>\n";
    CameraProfile p;
    p.cy = c.context_height;
    p.p_u4_dlim = 99;
    ASSERT_TRUE(ReadProfileFile(file, p));
    EXPECT_EQ(p.p_u4_dapix, c.dapix);
    EXPECT_FLOAT_EQ(p.p_u4_ddpix, c.ddpix);
    EXPECT_EQ(p.p_u4_dlim, 15);
    EXPECT_FLOAT_EQ(p.p_az, 10.5f);
    EXPECT_FLOAT_EQ(p.p_ev, 0.0f);  // absent camera fields: the empty row's
  }
}

TEST_F(ProfileFiles, NothingToReadChangesNothing) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  CameraProfile p;
  p.p_az = 77.0f;
  EXPECT_FALSE(ReadProfileFile(dir_ / "missing.XML", p));
  std::ofstream(dir_ / "other.XML") << "<halvex_record cx=\"1\"></halvex_record>";
  EXPECT_FALSE(ReadProfileFile(dir_ / "other.XML", p));
  EXPECT_EQ(p.p_az, 77.0f);
}

TEST_F(ProfileFiles, UnwritableFileShowsTheMessage) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  const fs::path file = dir_ / "no-such-dir" / "p.XML";
  EXPECT_FALSE(SaveProfileFile(file, CameraProfile{}));
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "saveXML: cannot open " + file.string());
}

TEST_F(ProfileFiles, LoadWithSkipDetectionKeepsTheContextsParameters) {
  Table& clip = Tables().clip;
  const int row = clip.AppendRow();
  CameraProfile stored;
  stored.p_az = 200.0f;
  stored.p_u4_dloffset = 33;
  stored.p_u4_refmag = 6.5f;
  StoreProfileToRecord(stored, clip, row);
  clip.SetText(row, clip::kProfile, "p_cam.XML");
  CameraProfile p;
  p.p_u4_dloffset = 7;
  LoadProfileFromRecord(clip, row, true, p);
  EXPECT_EQ(p.p_az, 200.0f);
  EXPECT_EQ(p.p_u4_dloffset, 7);
  EXPECT_EQ(p.profile, "p_cam.XML");
  LoadProfileFromRecord(clip, row, false, p);
  EXPECT_EQ(p.p_u4_dloffset, 33);
  EXPECT_FLOAT_EQ(p.p_u4_refmag, 6.5f);
  clip.DeleteRow(row);
}

TEST(ProposedProfileFile, FromTheCurrentName) {
  CameraProfile p;
  p.p_lid = "JP01";
  p.p_sid = "A";
  struct Case {
    const char* current;
    const char* file;
  };
  const Case cases[] = {
      {"", "p_JP01_A_.XML"},
      {"M20240812_231530_TK_A.XML", "p_20240812_231530_TK_.XML"},
      {"p_roof.XML", "p_roof.XML"},
      {"Mroof", "Mroof"},  // no "." four before the end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    EXPECT_EQ(ProposedProfileFile(c.current, p), ProfileFile(c.file));
  }
}

TEST(ProfileAttributes, TextsParseByKind) {
  CameraProfile p;
  const ProfileAttribute* az = FindProfileAttribute("az");
  const ProfileAttribute* dapix = FindProfileAttribute("dapix");
  const ProfileAttribute* lid = FindProfileAttribute("lid");
  ASSERT_TRUE(az && dapix && lid);
  EXPECT_EQ(FindProfileAttribute("p_az"), nullptr);
  EXPECT_TRUE(SetAttribute(p, *az, "181.5"));
  EXPECT_EQ(AttributeText(p, *az), "181.500000");
  EXPECT_FALSE(SetAttribute(p, *az, "18x"));
  EXPECT_FALSE(SetAttribute(p, *az, ""));
  EXPECT_FALSE(SetAttribute(p, *dapix, "2.5"));
  EXPECT_TRUE(SetAttribute(p, *dapix, "-1"));
  EXPECT_EQ(AttributeText(p, *dapix), "-1");
  EXPECT_TRUE(SetAttribute(p, *lid, "JP 7"));
  EXPECT_EQ(p.p_lid, "JP 7");
  EXPECT_EQ(AttributeText(p, *az), "181.500000");
}

}  // namespace
}  // namespace mr4
