// The View page on a real home with the real main window and replay
// thread: stepping lands on the frames and fields the replay's position
// gives, the readout under the mouse is the camera model's, clicks are
// saved to the clips file and read back, and clicks that cannot be placed
// say why.
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/view_picture.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "calib/camera_model.h"
#include "calib/page_smap.h"
#include "clips/clicks_file.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/qt_message_queue.h"
#include "replay/replay_graph.h"
#include "tables/table_catalogue.h"
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

// The name of the clip in `dir` (its video's stem).
std::string ClipName(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".avi") return entry.path().stem().string();
  }
  return "";
}

// One short interlaced clip, analysed, of a 720 x 480 camera.
bool PrepareHome(const test::TempHome& home) {
  const fs::path dir = home.path() / "clips";
  return Mr4(home, {"profile", "set", "sky.XML", "cx=720", "cy=480", "lng=139.7", "lat=35.7",
                    "alt=30", "tz=32400", "az=135", "ev=45", "vx=56", "k3=0.06", "k2=-0.03"}) &&
         Mr4(home, {"simulate", "--out", dir.string(), "--profile", "sky.XML", "--time",
                    "2024-08-12 21:00:00", "--interlaced", "--frames", "24", "--head", "6",
                    "--tail", "6", "--seed", "3"}) &&
         Mr4(home, {"dirs", "add", dir.string(), "--profile", "sky.XML"}) &&
         Mr4(home, {"analyze", "--no-star-fit", ClipName(dir)});
}

// The first clip row.
int FirstClip() {
  const Table& clips = Tables().clip;
  for (int row = 0; row < clips.count(); ++row) {
    if (clips.Exists(row)) return row;
  }
  return -1;
}

// Runs `command` on the page and waits for the frame it brings.
bool StepAndWait(CPageSmap& page, int command) {
  const std::uint64_t before = page.last_command();
  page.Command(command);
  const std::uint64_t posted = page.last_command();
  if (posted == before) return false;
  return QTest::qWaitFor(
      [&] {
        if (ReplayThread().CommandsHandled() < posted) return false;
        const ReplaySnapshot now = ReplayThread().Snapshot();
        return page.frame() && page.frame()->requested && page.frame()->position == now.position;
      },
      10000);
}

// Screen point of image pixel (x, y) at one screen pixel per frame pixel.
QPoint ScreenPoint(const CPageSmap& page, int x, int y) {
  return QPoint(x, page.image().height() - 1 - y);
}

}  // namespace

class TestPageSmap : public QObject {
  Q_OBJECT

 private slots:
  void viewOfAClip() {
    test::TempHome home("mr4-view");
    QVERIFY(PrepareHome(home));
    const std::string registry = (home.path() / "gst-registry.bin").string();
    setenv("GST_REGISTRY", registry.c_str(), 1);
    SetReplayPluginFile(fs::path(MR4F_PLUGIN_FILE));
    QtMessageQueue queue;
    MessageQueue* previous = SetMainQueue(&queue);
    const fs::path cwd = fs::current_path();
    StartupOptions options;
    options.home = home.path();
    bool finished = false;
    RunApplication(options, [&] {
      ReadClipDirectories();
      const int row = FirstClip();
      CUDlg window;
      window.resize(1600, 1000);
      window.show();
      window.ShowPage(PageId::kView);
      auto* page = dynamic_cast<CPageSmap*>(window.OpenedPage(PageId::kView));
      [&] {
        QVERIFY(row >= 0);
        QVERIFY(page);
        MakeClipCurrent(row);
        QCoreApplication::processEvents();
        QCOMPARE(page->image().width(), 720);
        QCOMPARE(page->image().height(), 480);

        // Field stepping: each step moves half a frame; back steps return.
        AppSettings().deinterace = 1;
        std::vector<std::int64_t> positions;
        for (int step = 0; step < 4; ++step) {
          QVERIFY(StepAndWait(*page, kViewStep));
          positions.push_back(page->frame()->position);
        }
        QVERIFY(StepAndWait(*page, kViewBack));
        QVERIFY(StepAndWait(*page, kViewBack));
        positions.push_back(page->frame()->position);
        const ReplaySnapshot snap = ReplayThread().Snapshot();
        QVERIFY(snap.field_duration > 0);
        QCOMPARE(snap.field_duration * 2, snap.frame_duration);
        for (std::size_t i = 1; i < 4; ++i) {
          QCOMPARE(positions[i] - positions[i - 1], std::int64_t(snap.field_duration));
        }
        QCOMPARE(positions[4], positions[1]);
        const DeliveredFrame& frame = *page->frame();
        QCOMPARE(frame.frame_number, ReplayFrameNumber(frame.position, snap.frame_duration));
        QCOMPARE(frame.field_index,
                 ReplayFieldIndex(frame.position, snap.frame_duration, snap.field_duration, true));
        QCOMPARE(snap.frame_number, frame.frame_number);
        QCOMPARE(snap.field_index, frame.field_index);
        // Frame stepping: a whole frame, the frame number one up.
        AppSettings().deinterace = 0;
        const int number = frame.frame_number;
        QVERIFY(StepAndWait(*page, kViewStep));
        QCOMPARE(page->frame()->position - positions[4], std::int64_t(snap.frame_duration));
        QCOMPARE(page->frame()->frame_number, number + 1);
        QCOMPARE(page->track_bar()->value(), int(page->frame()->position / 10000));

        // A frame by its number, and one beyond the video.
        std::string why;
        QVERIFY2(page->ShowFrame(5, &why), why.c_str());
        QCOMPARE(page->frame()->frame_number, 5);
        QVERIFY(!page->ShowFrame(100000, &why));
        QVERIFY2(why.find("beyond the end") != std::string::npos, why.c_str());

        // "Still" shows the still again.
        page->Command(kViewStill);
        QVERIFY(!page->frame());

        // The readout under the mouse is the camera model's.
        const CameraProfile& profile = CurrentProfile();
        QTest::mouseMove(page->canvas(), ScreenPoint(*page, 200, 300));
        const HorizontalPoint h = PixelToHorizontal(profile, 200, 300);
        const EquatorialPoint e =
            HorizontalToEquatorial(profile.ClipMjdTt, profile.ClipLst, profile.p_lat, h.az, h.ev);
        char expected[96];
        std::snprintf(expected, sizeof expected, "az %08.4f ev %07.4f\nra %08.4f dc %07.4f", h.az,
                      h.ev, e.ra, e.dec);
        QVERIFY2(page->readout_text().contains(expected), qPrintable(page->readout_text()));
        QVERIFY(page->readout_text().startsWith("x 0200  y 0300  b "));

        // Without "save click" a click toggles play and pause only.
        const std::size_t before = CurrentClip().clicks.size();
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, ScreenPoint(*page, 10, 10));
        QCOMPARE(page->play_caption(), QString("||"));
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, ScreenPoint(*page, 10, 10));
        QCOMPARE(CurrentClip().clicks.size(), before);
        page->Command(kViewStill);

        // Saved clicks are read back from the clips file.
        page->SetSaveClick(true);
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, ScreenPoint(*page, 100, 50));
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, ScreenPoint(*page, 600, 400));
        const Table& clips = Tables().clip;
        const fs::path file = ClicksFilePath(std::string(clips.Text(row, clip::kDirectory)),
                                             clips.Text(row, clip::kClipName));
        const std::vector<Click> read = ReadClicksFile(file);
        QCOMPARE(read.size(), std::size_t(2));
        QCOMPARE(read[0].x, 100.0f);
        QCOMPARE(read[0].y, 50.0f);
        QCOMPARE(read[1].x, 600.0f);
        const Click model = ClickAt(profile, 600, 400);
        // The file keeps az, ev with 2 decimals, ra, dec with 3.
        QVERIFY(std::abs(read[1].az - model.az) <= 0.005f);
        QVERIFY(std::abs(read[1].ev - model.ev) <= 0.005f);
        QVERIFY(std::abs(read[1].ra - model.ra) <= 0.0005f);
        QVERIFY(std::abs(read[1].dec - model.dec) <= 0.0005f);
        // The clicks are drawn: the cross of the second one.
        const QRgb cross = page->image().pixel(ScreenPoint(*page, 603, 400));
        QCOMPARE(qRed(cross), 255);
        QCOMPARE(qGreen(cross), 80);

        // Below the picture: nothing recorded, and the status says why.
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, QPoint(10, 700));
        QCOMPARE(CurrentClip().clicks.size(), std::size_t(2));
        QVERIFY(page->status_text().contains("outside"));
        // A right click drops the last click.
        QTest::mouseClick(page->canvas(), Qt::RightButton, {}, ScreenPoint(*page, 10, 10));
        QCOMPARE(CurrentClip().clicks.size(), std::size_t(1));
        // A clip without a profile takes no clicks.
        const std::string profile_name(clips.Text(row, clip::kProfile));
        Tables().clip.SetText(row, clip::kProfile, "");
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, ScreenPoint(*page, 300, 300));
        QCOMPARE(CurrentClip().clicks.size(), std::size_t(1));
        QVERIFY(page->status_text().contains("profile"));
        Tables().clip.SetText(row, clip::kProfile, profile_name);

        // An armed click sets the object's end point and its result file.
        const int object = CurrentClip().current_object;
        QVERIFY(object >= 0);
        const fs::path result = fs::path(std::string(clips.Text(row, clip::kDirectory))) /
                                (std::string(clips.Text(row, clip::kClipName)) + "A.XML");
        fs::remove(result);
        page->SetClickMode(2);
        QTest::mouseMove(page->canvas(), ScreenPoint(*page, 400, 200));
        QVERIFY(page->readout_text().contains("Pos2 SETTING click!"));
        QTest::mouseClick(page->canvas(), Qt::LeftButton, {}, ScreenPoint(*page, 400, 200));
        QCOMPARE(page->click_mode(), 0);
        QCOMPARE(page->status_text(), QString("Done"));
        const Table& objects = Tables().obj;
        QCOMPARE(objects.Float(object, obj::kX2), 400.0f);
        QCOMPARE(objects.Float(object, obj::kY2), 200.0f);
        const Click end = ClickAt(profile, 400, 200);
        QCOMPARE(objects.Float(object, obj::kEv2), end.ev);
        QCOMPARE(objects.Float(object, obj::kH2), AppSettings().a_km2);
        QVERIFY(objects.Float(object, obj::kDist2) > 0);
        QVERIFY(fs::exists(result));
        QCOMPARE(CurrentClip().clicks.size(), std::size_t(1));
        // A right click disarms without dropping a click.
        page->SetClickMode(1);
        QTest::mouseClick(page->canvas(), Qt::RightButton, {}, ScreenPoint(*page, 10, 10));
        QCOMPARE(page->click_mode(), 0);
        QCOMPARE(CurrentClip().clicks.size(), std::size_t(1));
        finished = true;
      }();
      ReplayThread().PostCommand(kReplayClose);
      return 0;
    });
    fs::current_path(cwd);
    SetMainQueue(previous);
    QVERIFY(finished);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageSmap)
#include "test_page_smap.moc"
