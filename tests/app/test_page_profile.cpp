// The Profile/Analyze page: a profile saved and read back keeps every field
// the page shows, the spins and the "move" rule keep their limits, the rot
// field folds values above 180, and "adj pos all" stopped from its progress
// dialog keeps a profile at least as good as the one it started from.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/analysis_context.h"
#include "app/settings.h"
#include "app/stop_dlg.h"
#include "base/process_values.h"
#include "calib/camera_model.h"
#include "calib/camera_profile.h"
#include "calib/page_profile.h"
#include "calib/profile_file.h"
#include "calib/profile_fit.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "clips/clip_files.h"
#include "clips/current_clip.h"
#include "platform/scripted_ui.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tests/calib/synthetic_sky.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> FieldTexts(CameraProfile& profile) {
  std::vector<std::string> texts;
  for (const ParamDescriptor& f : ProfileFields(profile, AppSettings())) texts.push_back(ParamText(f));
  return texts;
}

QPushButton* Button(QWidget* page, int id) {
  return page->findChild<QPushButton*>(QString::number(id));
}

}  // namespace

class TestPageProfile : public QObject {
  Q_OBJECT

 private:
  test::TempDir home_{"mr4-page-profile"};
  Settings saved_settings_;
  CameraProfile saved_profile_;
  ScriptedUi ui_;

 private slots:
  void init() {
    App().home = home_.path();
    saved_settings_ = AppSettings();
    saved_profile_ = CurrentProfile();
    Tables().clip.Clear();
    ClearMaskStars(AnalysisContextAt(0).stars);
    CurrentClip().row = -1;
    ui_.Clear();
  }
  void cleanup() {
    AppSettings() = saved_settings_;
    CurrentProfile() = saved_profile_;
    Tables().clip.Clear();
    ClearMaskStars(AnalysisContextAt(0).stars);
    StarMap() = StarCatalogue{};
    CurrentClip().row = -1;
  }

  void savedProfileReadsBackWithEveryField() {
    ScopedUi scoped(ui_);
    CPageProfile page{LayoutScale{}};
    page.Open();
    CameraProfile& p = CurrentProfile();
    p.p_lid = "tokyo";
    p.p_oname = "observer one";
    p.p_memo = "east window";
    p.p_sid = "C2";
    p.p_cam = "WAT-902H";
    p.p_lens = "6mm";
    p.p_cap = "cap";
    p.p_fourcc = "dvsd";
    p.p_codec = "dv";
    p.p_lng = 139.7512f;
    p.p_lat = -35.6581f;
    p.p_alt = 40.5f;
    p.p_gioidh = 36.7f;
    p.p_tz = 32400;
    p.p_tme = 2.5f;
    p.p_vx = 57.1234f;
    p.p_yx = 1.0123f;
    p.p_k4 = 0.0012f;
    p.p_k3 = 0.0712f;
    p.p_k2 = -0.0345f;
    p.p_dx = -3.25f;
    p.p_dy = 4.75f;
    p.p_atc = 57.9f;
    p.p_az = 134.9425f;
    p.p_ev = 45.0175f;
    p.p_rot = -0.0411f;
    p.maxl = 240;
    p.maxm = 1.875f;
    p.p_u4_bvf = -0.25f;
    p.minl = 12;
    p.minm = 4.25f;
    p.p_u4_f1 = 3;
    p.p_u4_f2 = 180;
    p.p_u4_mins = 4;
    p.p_u4_leap = 150;
    p.p_u4_dloffset = -7;
    p.p_u4_edeg = 2.5f;
    p.p_u4_consR = 4.0f;
    p.p_u4_cdlim = 0.25f;
    const std::vector<std::string> before = FieldTexts(p);

    const fs::path file = home_.path() / "PROF" / "round.XML";
    ui_.QueuePath(file);
    Button(&page, kCmdSaveProfile)->click();
    QVERIFY(fs::exists(file));

    // Mask stars linked under the old profile do not survive a read.
    AnalysisContextAt(0).stars.mask_stars.resize(3);
    p = CameraProfile{};
    QVERIFY(FieldTexts(p) != before);
    ui_.QueuePath(file);
    Button(&page, kCmdReadProfile)->click();
    QCOMPARE(FieldTexts(CurrentProfile()), before);
    QVERIFY(AnalysisContextAt(0).stars.mask_stars.empty());
    // The page shows what was read.
    QCOMPARE(page.field(21)->box()->text().toStdString(), ParamText(page.field(21)->field()));
  }

  void readingAFileThatIsNoProfileChangesNothing() {
    ScopedUi scoped(ui_);
    CPageProfile page{LayoutScale{}};
    page.Open();
    const fs::path file = home_.path() / "not-a-profile.XML";
    { std::FILE* f = std::fopen(file.c_str(), "w"); std::fputs("<x/>\n", f); std::fclose(f); }
    CurrentProfile().p_az = 123.0f;
    ui_.QueuePath(file);
    Button(&page, kCmdReadProfile)->click();
    QCOMPARE(CurrentProfile().p_az, 123.0f);
    QCOMPARE(ui_.messages().size(), std::size_t{1});
  }

  void spinsKeepTheirLimits_data() {
    QTest::addColumn<bool>("ddpix");
    QTest::addColumn<float>("start");
    QTest::addColumn<bool>("up");
    QTest::addColumn<float>("expected");
    QTest::newRow("step up") << false << 0.1f << true << 1.0f;
    QTest::newRow("step down") << false << 0.1f << false << 0.01f;
    QTest::newRow("step at 0.001 stays") << false << 0.001f << false << 0.001f;
    QTest::newRow("step at 100 stays") << false << 100.0f << true << 100.0f;
    QTest::newRow("ddpix up") << true << 1e-6f << true << 1e-5f;
    QTest::newRow("ddpix at 1e-7 stays") << true << 1e-7f << false << 1e-7f;
    QTest::newRow("ddpix at 0.1 stays") << true << 0.1f << true << 0.1f;
  }
  void spinsKeepTheirLimits() {
    QFETCH(bool, ddpix);
    QFETCH(float, start);
    QFETCH(bool, up);
    QFETCH(float, expected);
    const float got = ddpix ? StepDdpix(start, up) : StepProfileStep(start, up);
    QVERIFY2(std::abs(got - expected) <= expected * 1e-5f, qPrintable(QString::number(got)));
  }

  void spinsNeverLeaveTheirRange() {
    float step = 0.1f, ddpix = 1e-6f;
    for (int i = 0; i < 20; ++i) {
      step = StepProfileStep(step, false);
      ddpix = StepDdpix(ddpix, false);
    }
    QVERIFY(step > 0.0009f && ddpix > 0.9e-7f);
    for (int i = 0; i < 20; ++i) {
      step = StepProfileStep(step, true);
      ddpix = StepDdpix(ddpix, true);
    }
    QVERIFY(step < 101.0f && ddpix < 0.11f);
  }

  void rotAbove180IsFolded() {
    ScopedUi scoped(ui_);
    CPageProfile page{LayoutScale{}};
    page.Open();
    CUDEdit* rot = page.field(23);
    QCOMPARE(QString(rot->field().label), QString("rot"));
    rot->box()->clear();
    QTest::keyClicks(rot->box(), "190");
    QCOMPARE(CurrentProfile().p_rot, -170.0f);
    QCOMPARE(rot->box()->text().toDouble(), -170.0);
  }

  void moveTurnsRotOnlyNearTheZenith_data() {
    QTest::addColumn<float>("ev");
    QTest::addColumn<bool>("rot_turns");
    QTest::newRow("ev 85") << 85.0f << true;
    QTest::newRow("ev 45") << 45.0f << false;
  }
  void moveTurnsRotOnlyNearTheZenith() {
    QFETCH(float, ev);
    QFETCH(bool, rot_turns);
    CameraProfile p;
    p.p_az = 100.0f;
    p.p_ev = ev;
    p.p_rot = 10.0f;
    BuildDistortionTable(p);
    const HorizontalPoint target = PixelToHorizontal(p, p.cx / 2.0 + 10.0, p.cy / 2.0);
    MoveProfilePointing(p, 10.0f, false);
    QVERIFY(std::abs(p.p_az - target.az) < 1e-4);
    QVERIFY(std::abs(p.p_ev - target.ev) < 1e-4);
    const double turned = 10.0 + (target.az - 100.0);
    QVERIFY2(std::abs(p.p_rot - (rot_turns ? turned : 10.0)) < 1e-3,
             qPrintable(QString::number(p.p_rot)));
  }

  void adjustingWithoutLinksSaysSo() {
    ScopedUi scoped(ui_);
    CPageProfile page{LayoutScale{}};
    page.Open();
    CurrentClip().row = Tables().clip.AppendRow();
    const CameraProfile before = CurrentProfile();
    Button(&page, kCmdAdjustAll)->click();
    Button(&page, kCmdAdjustPointing)->click();
    QCOMPARE(ui_.messages().size(), std::size_t{2});
    QCOMPARE(ui_.messages()[0].text, std::string(kNoLinkForAdjusting));
    QCOMPARE(CurrentProfile().p_az, before.p_az);
  }

  void automaticCalibrationFitsThePointingToTheStars() {
    ScopedUi scoped(ui_);
    CPageProfile page{LayoutScale{}};
    page.Open();
    const CameraProfile truth = testing::MakeSkyProfile();
    StarMap() = testing::MakeUniformCatalogue(4000, 6.0f, 23);
    std::vector<std::uint8_t> mask = testing::RenderMask(StarMap(), truth, truth.p_u4_refmag);
    Table& clips = Tables().clip;
    const int row = clips.AppendRow();
    clips.SetInt(row, clip::kMT, KindBit(kKindMaskN));
    CameraProfile& p = CurrentProfile();
    p = truth;
    p.p_az += 0.3f;
    p.p_ev -= 0.2f;
    p.p_u4_dlim = 40;
    testing::Refresh(p);
    // The clip row holds the profile the clip was recorded with.
    StoreProfileToRecord(p, clips, row);
    CurrentClip().row = row;
    CurrentClip().mask = ImageBuffer{mask, truth.cx, truth.cy};

    Button(&page, kCmdAutoCalibrate)->click();
    StarData& stars = AnalysisContextAt(0).stars;
    QVERIFY(stars.pairs.size() >= 20);
    QVERIFY2(MeanPixelResidual(p, stars.pairs) < 1.0,
             qPrintable(QString::number(MeanPixelResidual(p, stars.pairs))));
    QVERIFY(std::abs(p.p_az - truth.p_az) < 0.05f && std::abs(p.p_ev - truth.p_ev) < 0.05f);
    QVERIFY(page.photometry_label()->text().startsWith("n"));
    QCOMPARE(page.field(21)->box()->text().toStdString(), ParamText(page.field(21)->field()));
    CurrentClip().mask = ImageBuffer{};
  }

  void stoppedAdjustmentKeepsABetterProfile() {
    ScopedUi scoped(ui_);
    CPageProfile page{LayoutScale{}};
    page.Open();
    CurrentClip().row = Tables().clip.AppendRow();
    // A star field seen by a known camera; the page starts a degree off,
    // its mask stars linked as the mask page links them.
    const CameraProfile truth = testing::MakeSkyProfile();
    StarMap() = testing::MakeUniformCatalogue(4000, 6.0f, 23);
    const std::vector<std::uint8_t> mask = testing::RenderMask(StarMap(), truth, truth.p_u4_refmag);
    CameraProfile& p = CurrentProfile();
    p = truth;
    p.p_az += 1.0f;
    p.p_ev -= 1.0f;
    p.p_rot += 0.5f;
    p.p_vx *= 1.02f;
    p.p_u4_dlim = 40;
    testing::Refresh(p);
    StarData& stars = AnalysisContextAt(0).stars;
    BuildVisibleStars(StarMap(), p, stars.visible);
    DetectMaskStars(StarMap(), p, mask, stars);
    QVERIFY(stars.pairs.size() >= 20);
    const double start = MeanPixelResidual(p, stars.pairs);

    // Stop as soon as the first iteration has reported.
    std::string first_status;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
      CStopDlg* dialog = ProcessingDialog();
      const std::string status = Processing().status();
      if (!dialog || status.empty()) return;
      first_status = status;
      poll.stop();
      dialog->reject();
    });
    poll.start();
    Button(&page, kCmdAdjustAll)->click();
    poll.stop();

    QVERIFY2(first_status.rfind("retry count=1 ddpix = ", 0) == 0, first_status.c_str());
    const double stopped = MeanPixelResidual(p, stars.pairs);
    QVERIFY2(stopped <= start, qPrintable(QString("%1 -> %2").arg(start).arg(stopped)));
    // Stopped before the end: a full fit from there gets further still.
    CameraProfile rest = p;
    const AdjustResult more = AdjustAll(rest, stars.pairs, FitSwitches{});
    QVERIFY2(more.iterations > 1, qPrintable(QString::number(more.iterations)));
    QVERIFY(more.residual <= stopped);
    QVERIFY(p.p_az >= 0.0f && p.p_az < 360.0f);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageProfile)
#include "test_page_profile.moc"
