// The Mask Editor on a home of simulated clips: a rectangle painted over the
// meteors of a clip is written as the clip's N.BMP, and the analysis then
// finds nothing there; "reset" deletes it again; a clip whose mask cannot
// be read shows a cleared mask, not the previous clip's. And the linking
// modes over a synthetic star field.
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/clip_analysis.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "calib/page_mask.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "clips/clip_files.h"
#include "platform/scripted_ui.h"
#include "tests/calib/synthetic_sky.h"
#include "tests/support/run_program.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

bool Mr4(const test::TempHome& home, std::vector<std::string> args) {
  args.insert(args.begin(), {"--home", home.path().string()});
  const test::ProgramResult r = test::RunMr4(args);
  if (r.exit_code != 0) qWarning("mr4 %s: %s", args[2].c_str(), r.err.c_str());
  return r.exit_code == 0;
}

// Two clips: a Perseid and an empty trigger.
bool PrepareHome(const test::TempHome& home) {
  const fs::path dir = home.path() / "clips";
  return Mr4(home, {"profile", "set", "sky.XML", "cx=720", "cy=480", "lng=139.7", "lat=35.7",
                    "alt=30", "tz=32400", "az=135", "ev=45", "vx=56", "dlim=40"}) &&
         Mr4(home, {"simulate", "--out", dir.string(), "--profile", "sky.XML", "--time",
                    "2024-08-12 23:10:00", "--shower", "PER", "--mag-peak", "-2", "--head", "10",
                    "--tail", "10", "--seed", "1"}) &&
         Mr4(home, {"simulate", "--out", dir.string(), "--profile", "sky.XML", "--time",
                    "2024-08-12 23:20:00", "--object", "none", "--head", "10", "--tail", "10",
                    "--seed", "2"}) &&
         Mr4(home, {"dirs", "add", dir.string(), "--profile", "sky.XML"});
}

// The number of detected objects (with pixels) the analysis finds in the
// clip.
int Analyse(int row) {
  std::vector<std::uint8_t> mask;
  AnalyzeClipRow(AnalysisContextAt(0), row, false, true, mask);
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  int detected = 0, steps = 0;
  for (int o = clips.Int(row, clip::kOline); o >= 0 && steps++ <= objects.count();
       o = objects.Int(o, obj::kOlinenext)) {
    detected += objects.Int(o, obj::kPix) > 0;
  }
  return detected;
}

// Pixels of the picture in the detection marks' colours (blue, green,
// red): yellow for a detection, red for a fitted sample.
int DetectionMarkPixels(const std::vector<std::uint8_t>& bgr) {
  int n = 0;
  for (std::size_t i = 0; i + 2 < bgr.size(); i += 3) {
    const bool yellow = bgr[i] == 0 && bgr[i + 1] == 255 && bgr[i + 2] == 255;
    const bool red = bgr[i] == 80 && bgr[i + 1] == 80 && bgr[i + 2] == 255;
    n += yellow || red;
  }
  return n;
}

fs::path EditedMaskOf(int row) {
  const Table& clips = Tables().clip;
  return EditedMaskPath(std::string(clips.Text(row, clip::kDirectory)),
                        clips.Text(row, clip::kClipName));
}

}  // namespace

class TestPageMask : public QObject {
  Q_OBJECT

 private slots:
  // First: the home test below ends with the program's shut-down, after
  // which the process's tables and contexts are gone.
  void linkModesChangeAndMakeLinks() {
    ScriptedUi ui;
    ScopedUi scoped(ui);
    const CameraProfile saved = CurrentProfile();
    const CameraProfile truth = testing::MakeSkyProfile();
    StarMap() = testing::MakeUniformCatalogue(4000, 6.0f, 23);
    std::vector<std::uint8_t> mask = testing::RenderMask(StarMap(), truth, truth.p_u4_refmag);
    CurrentProfile() = truth;
    Table& clips = Tables().clip;
    clips.Clear();
    const int row = clips.AppendRow();
    clips.SetInt(row, clip::kMT, KindBit(kKindMaskN));
    CurrentClipState& c = CurrentClip();
    c.row = row;
    c.mask = ImageBuffer{mask, truth.cx, truth.cy};
    [&] {
      CPageMask page{LayoutScale{}};
      page.resize(700, 600);
      page.Open();
      StarData& stars = AnalysisContextAt(0).stars;
      page.Command(kCmdAutoLink);
      QVERIFY(stars.pairs.size() >= 20);
      QCOMPARE(page.status().rfind("mask ", 0), std::size_t{0});

      // Link mode: the star under the mouse; right unlinks, left links the
      // nearest candidate again.
      page.Command(kCmdModeLink);
      const MaskStar star = stars.mask_stars.front();
      QVERIFY(star.link >= 0);
      const int x = static_cast<int>(star.x), y = static_cast<int>(star.y);
      page.Hover(x, y);
      QVERIFY2(page.readout().find("\ndpix") != std::string::npos, page.readout().c_str());
      page.Press(x, y, false);
      QCOMPARE(stars.mask_stars.front().link, -1);
      page.Hover(x, y);
      QVERIFY2(page.readout().find(" 0--> no star") != std::string::npos, page.readout().c_str());
      page.Press(x, y, true);
      QCOMPARE(stars.mask_stars.front().link, star.link);

      // Manual link: from the drawn catalogue star to the star's image.
      page.Command(kCmdManualLink);
      QVERIFY(stars.mask_stars.empty() && stars.pairs.empty());
      QCOMPARE(page.status(), std::string(kClickStarOne));
      const int px = static_cast<int>(std::lround(star.predicted_x));
      const int py = static_cast<int>(std::lround(star.predicted_y));
      page.Press(px, py, true);
      QCOMPARE(page.status(), std::string("Click Mask1 (blue)"));
      page.Release(x, y);
      QCOMPARE(stars.mask_stars.size(), std::size_t{1});
      QCOMPARE(stars.mask_stars.front().link, star.link);
      QCOMPARE(stars.pairs.size(), std::size_t{1});
      QCOMPARE(page.status(), std::string("Click Star 2 (yellow)"));
      // "finish link" goes back to link mode.
      page.Command(kCmdManualLink);
      QCOMPARE(AppSettings().m_mode, 2);
    }();
    ClearMaskStars(AnalysisContextAt(0).stars);
    c.mask = ImageBuffer{};
    c.row = -1;
    clips.Clear();
    StarMap() = StarCatalogue{};
    CurrentProfile() = saved;
  }

  void paintedMaskHidesADetectionFromTheAnalysis() {
    test::TempHome home("mr4-page-mask");
    QVERIFY(PrepareHome(home));
    const fs::path cwd = fs::current_path();
    StartupOptions options;
    options.home = home.path();
    bool checked = false;
    ScriptedUi ui;
    RunApplication(options, [&] {
      ScopedUi scoped(ui);
      [&] {
        ReadClipDirectories();
        Table& clips = Tables().clip;
        std::vector<int> rows;
        for (int r = 0; r < clips.count(); ++r) {
          if (clips.Exists(r)) rows.push_back(r);
        }
        QCOMPARE(rows.size(), std::size_t{2});
        // The Perseid's clip is the one with a detection.
        const bool first_has_it = Analyse(rows[0]) > 0;
        const int row = first_has_it ? rows[0] : rows[1];
        const int other = first_has_it ? rows[1] : rows[0];
        const int before = Analyse(row);
        QVERIFY(before > 0);

        MakeClipCurrent(row);
        CPageMask page{LayoutScale{}};
        page.resize(700, 600);
        page.Open();
        QCOMPARE(page.mask().width, 720);
        // A rectangle of the opt-mask type over the whole frame, dragged
        // from corner to corner.
        page.Command(kCmdModeEdit);
        page.Command(kCmdToolRect);
        page.Command(kCmdTypeOpt);
        page.Press(0, 0, true);
        page.Drag(300, 200);
        page.Release(719, 479);
        const fs::path edited = EditedMaskOf(row);
        QVERIFY(fs::exists(edited));
        QCOMPARE(clips.Text(row, clip::kMedia).substr(3, 1), std::string_view("N"));
        QVERIFY(!fs::exists("Y.bmp"));

        QCOMPARE(Analyse(row), 0);

        // "reset" takes the edited mask away again.
        page.Command(kCmdResetMask);
        QVERIFY(!fs::exists(edited));
        QCOMPARE(clips.Text(row, clip::kMedia).substr(3, 1), std::string_view(" "));
        QCOMPARE(Analyse(row), before);

        // The page's own picture marks the run's detections of the selected
        // object over the mask colours.
        MakeClipCurrent(row);
        page.Redraw();
        QVERIFY(DetectionMarkPixels(page.display()) > 0);

        // "qm" (Ctrl held: the mask is kept) shows the still; with the View
        // page's "Hit" on, the mask's marked pixels are lit blue and green.
        ui.SetKeys(KeyState{true, false, false});
        for (const int hit : {1, 0}) {
          AppSettings().v_hmark = hit;
          page.Command(kCmdQuickMask);
          QCOMPARE(AppSettings().m_shape, 2);
          const ImageBuffer& still = CurrentClip().still;
          const MaskPicture& m = page.mask();
          const std::vector<std::uint8_t>& shown = page.display();
          QCOMPARE(shown.size(), std::size_t(m.width) * m.height * 3);
          int marked = 0, lit = 0, same = 0, plain = 0, marked_same = 0;
          for (std::size_t i = 0; i < shown.size(); i += 3) {
            if (m.bgr[i + 2] != 0) {
              ++marked;
              // Lit, unless the trail line drawn after it runs there.
              const bool trail = shown[i] == 0 && shown[i + 1] == 0;
              lit += trail || (shown[i] == 255 && shown[i + 1] == 255);
              marked_same += shown[i] == still.pixels[i] && shown[i + 1] == still.pixels[i + 1];
            } else {
              ++plain;
              same += shown[i] == still.pixels[i] && shown[i + 1] == still.pixels[i + 1] &&
                      shown[i + 2] == still.pixels[i + 2];
            }
          }
          QVERIFY(marked > 0);
          // Without "Hit" they, too, are the still.
          QCOMPARE(hit ? lit : marked_same, marked);
          // Away from the trail line the picture is the still.
          QVERIFY2(same > plain - 2 * m.width, qPrintable(QString::number(plain - same)));
        }
        ui.SetKeys(KeyState{});
        AppSettings().v_hmark = 1;
        page.Command(kCmdResetMask);

        // The second clip's mask picture is broken: its mask is cleared.
        const fs::path broken = ClipFilePath(other, kKindMaskM);
        QVERIFY(!broken.empty());
        fs::resize_file(broken, 100);
        MakeClipCurrent(other);
        page.Reload();
        const MaskPicture& shown = page.mask();
        const std::size_t bytes = static_cast<std::size_t>(shown.width) * shown.height * 3;
        QVERIFY(std::all_of(shown.bgr.begin(), shown.bgr.begin() + static_cast<std::ptrdiff_t>(bytes),
                            [](std::uint8_t b) { return b == 0; }));
        checked = true;
      }();
      return 0;
    });
    fs::current_path(cwd);
    QVERIFY(checked);
  }

};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageMask)
#include "test_page_mask.moc"
