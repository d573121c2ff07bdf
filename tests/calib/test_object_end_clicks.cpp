// Placing an object's end points by hand, as a user does it: a home with
// one analysed simulated clip, the real main window and replay thread; the
// View page stepped to a frame of the meteor, "click1" on the
// Profile/Analyze page and a click on the meteor's start, "click2" and a
// click on its end, "save A"; the result file read back holds the clicked
// places. Also: the buttons without a selected object, arming while the
// View page is behind the Mask Editor, and "mod h". Then "analyze" with
// Ctrl (the pointing grid and its 27 numbered summaries), "Tune dlo" and
// "add an obj".
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/settings.h"
#include "app/startup.h"
#include "calib/height_dlg.h"
#include "calib/page_profile.h"
#include "calib/page_smap.h"
#include "calib/profile_trials.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/qt_message_queue.h"
#include "platform/scripted_ui.h"
#include "replay/replay_graph.h"
#include "tables/table_catalogue.h"
#include "tables/ulist.h"
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

std::string ClipName(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".avi") return entry.path().stem().string();
  }
  return "";
}

// One short clip with a bright meteor, analysed.
bool PrepareHome(const test::TempHome& home) {
  const fs::path dir = home.path() / "clips";
  return Mr4(home, {"profile", "set", "sky.XML", "cx=720", "cy=480", "lng=139.7", "lat=35.7",
                    "alt=30", "tz=32400", "az=135", "ev=45", "vx=56"}) &&
         Mr4(home, {"simulate", "--out", dir.string(), "--profile", "sky.XML", "--time",
                    "2024-08-12 23:10:00", "--shower", "PER", "--mag-peak", "-2", "--frames",
                    "24", "--head", "6", "--tail", "6", "--seed", "1"}) &&
         Mr4(home, {"dirs", "add", dir.string(), "--profile", "sky.XML"}) &&
         Mr4(home, {"analyze", "--no-star-fit", ClipName(dir)});
}

int FirstClip() {
  const Table& clips = Tables().clip;
  for (int row = 0; row < clips.count(); ++row) {
    if (clips.Exists(row)) return row;
  }
  return -1;
}

// The value of attribute `name` of the first object element of the result
// file text, NaN when there is none.
double ObjectAttribute(const std::string& xml, const std::string& name) {
  std::size_t element = xml.find("<mr2_object");
  // Not the container "<mr2_objects".
  while (element != std::string::npos && !std::isspace(static_cast<unsigned char>(
                                             xml[element + std::strlen("<mr2_object")]))) {
    element = xml.find("<mr2_object", element + 1);
  }
  if (element == std::string::npos) return NAN;
  const std::size_t end = xml.find('>', element);
  const std::string key = " " + name + "=\"";
  const std::size_t at = xml.find(key, element);
  if (at == std::string::npos || at > end) return NAN;
  return std::strtod(xml.c_str() + at + key.size(), nullptr);
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The canvas point that shows image pixel (x, y), y from the bottom.
QPoint ScreenPoint(const CPageSmap& page, int x, int y) {
  const QRect rect = page.canvas()->picture_rect();
  const double scale = double(page.image().width()) / rect.width();
  return QPoint(rect.left() + int((x + 0.5) / scale),
                rect.top() + int((page.image().height() - 1 - y + 0.5) / scale));
}

void Press(CPageProfile& page, int id) {
  auto* button = page.findChild<QPushButton*>(QString::number(id));
  QVERIFY(button);
  QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace

class TestObjectEndClicks : public QObject {
  Q_OBJECT

 private slots:
  void endPointsByClicks() {
    test::TempHome home("mr4-endclicks");
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
      ScriptedUi ui;
      ScopedUi scoped(ui);
      ReadClipDirectories();
      const int row = FirstClip();
      CUDlg window;
      window.resize(1600, 1000);
      window.show();
      window.ShowPage(PageId::kProfile);
      window.ShowPage(PageId::kView);
      auto* profile = dynamic_cast<CPageProfile*>(window.OpenedPage(PageId::kProfile));
      auto* view = dynamic_cast<CPageSmap*>(window.OpenedPage(PageId::kView));
      [&] {
        QVERIFY(row >= 0);
        QVERIFY(profile && view);
        window.OpenClipRow(row);
        QVERIFY(QTest::qWaitFor([&] { return CurrentClip().row == row; }, 5000));
        QCoreApplication::processEvents();
        const Table& clips = Tables().clip;
        Table& objects = Tables().obj;
        const int object = clips.Int(row, clip::kOline);
        QVERIFY(object >= 0);
        QVERIFY(objects.Int(object, obj::kFe) > objects.Int(object, obj::kFs));

        // Without a selected object the buttons only say so.
        profile->object_list()->SelectLine(-1);
        for (int id : {kCmdClick1, kCmdModifyHeights}) {
          Press(*profile, id);
          QCOMPARE(ui.messages().back().text, std::string(kSelectAnObject));
        }
        QCOMPARE(view->click_mode(), 0);

        // Armed while the Mask Editor is in front: bringing the View page
        // forward reopens the clip, and the click stays armed.
        profile->object_list()->SelectLine(0);
        QCOMPARE(profile->object_list()->SelectedRow(), object);
        window.ShowPage(PageId::kMask);
        QCoreApplication::processEvents();
        Press(*profile, kCmdClick2);
        QVERIFY(view->isVisible());
        QTest::qWait(50);
        QCOMPARE(view->click_mode(), 2);
        QCOMPARE(CurrentClip().current_object, object);
        QTest::mouseClick(view->canvas(), Qt::RightButton, {}, ScreenPoint(*view, 10, 10));
        QCOMPARE(view->click_mode(), 0);

        // The meteor in one of its frames (fields count twice in an
        // interlaced clip).
        const int per_frame = clips.Int(row, clip::kInterlaced) ? 2 : 1;
        const int frame =
            (objects.Int(object, obj::kFs) + objects.Int(object, obj::kFe)) / (2 * per_frame);
        std::string why;
        QVERIFY2(view->ShowFrame(frame, &why), why.c_str());

        // Clicks a few pixels beyond the detected ends, along the trail.
        const double x1 = objects.Float(object, obj::kX1), y1 = objects.Float(object, obj::kY1);
        const double x2 = objects.Float(object, obj::kX2), y2 = objects.Float(object, obj::kY2);
        const double length = std::hypot(x2 - x1, y2 - y1);
        QVERIFY(length > 10);
        const double ux = (x2 - x1) / length, uy = (y2 - y1) / length;
        const QPoint start(int(std::lround(x1 - 5 * ux)), int(std::lround(y1 - 5 * uy)));
        const QPoint end(int(std::lround(x2 + 5 * ux)), int(std::lround(y2 + 5 * uy)));
        const struct {
          int command;
          QPoint target;
        } ends[] = {{kCmdClick1, start}, {kCmdClick2, end}};
        for (const auto& e : ends) {
          profile->object_list()->SelectLine(0);
          Press(*profile, e.command);
          QCoreApplication::processEvents();
          QCOMPARE(view->click_mode(), e.command == kCmdClick1 ? 1 : 2);
          const QPoint at = ScreenPoint(*view, e.target.x(), e.target.y());
          QCOMPARE(view->canvas()->ImagePixel(at), std::optional<QPoint>(e.target));
          QTest::mouseClick(view->canvas(), Qt::LeftButton, {}, at);
          QCOMPARE(view->click_mode(), 0);
          QCOMPARE(view->status_text(), QString("Done"));
          // The meteor's frame stays on the page.
          QVERIFY(view->frame());
          QCOMPARE(view->frame()->frame_number, frame);
        }

        // "save A", then the result file read back.
        profile->object_list()->SelectLine(0);
        Press(*profile, kCmdSaveResult);
        const fs::path result = fs::path(std::string(clips.Text(row, clip::kDirectory))) /
                                (std::string(clips.Text(row, clip::kClipName)) + "A.XML");
        const std::string xml = ReadWhole(result);
        const struct {
          const char* name;
          double want;
        } points[] = {{"x1", double(start.x())},
                    {"y1", double(start.y())},
                    {"x2", double(end.x())},
                    {"y2", double(end.y())}};
        for (const auto& p : points) {
          const double got = ObjectAttribute(xml, p.name);
          QVERIFY2(std::abs(got - p.want) <= 1.0,
                   qPrintable(QString("%1 = %2, clicked %3").arg(p.name).arg(got).arg(p.want)));
        }
        QVERIFY(std::abs(ObjectAttribute(xml, "h1") - AppSettings().a_km1) < 0.01);
        QVERIFY(std::abs(ObjectAttribute(xml, "h2") - AppSettings().a_km2) < 0.01);

        // "mod h": the dialog's heights go into the object and its file.
        profile->object_list()->SelectLine(0);
        bool dialog_seen = false;
        QTimer::singleShot(0, [&] {
          auto* dialog = dynamic_cast<CHeightDlg*>(QApplication::activeModalWidget());
          if (!dialog) return;
          dialog_seen = true;
          dialog->h1_field()->setText("95");
          dialog->accept();
        });
        Press(*profile, kCmdModifyHeights);
        QVERIFY(dialog_seen);
        QCOMPARE(objects.Float(object, obj::kH1), 95.0f);
        QVERIFY(std::abs(ObjectAttribute(ReadWhole(result), "h1") - 95.0) < 0.01);

        // "analyze" with Ctrl: 27 runs with the pointing moved, each
        // followed by a numbered summary; the pointing shown comes back.
        const fs::path out = home.path() / "out";
        fs::create_directories(out);
        AppSettings().outdir = out.string();
        CameraProfile& shown = CurrentProfile();
        const float az = shown.p_az, ev = shown.p_ev, rot = shown.p_rot;
        ui.SetKeys(KeyState{true, false, false});
        Press(*profile, kCmdAnalyze);
        ui.SetKeys(KeyState{});
        std::vector<int> numbers;
        for (const auto& entry : fs::directory_iterator(out)) {
          const std::string name = entry.path().filename().string();
          const std::size_t last = name.rfind('_');
          if (name.rfind('M', 0) == 0 && last != std::string::npos && name.ends_with(".csv")) {
            numbers.push_back(std::atoi(name.c_str() + last + 1));
          }
        }
        std::sort(numbers.begin(), numbers.end());
        QCOMPARE(numbers.size(), std::size_t{27});
        QCOMPARE(numbers.front(), 1);
        QCOMPARE(numbers.back(), 27);
        QCOMPARE(shown.p_az, az);
        QCOMPARE(shown.p_ev, ev);
        QCOMPARE(shown.p_rot, rot);

        // "Tune dlo" (a hidden button) keeps a level within 5 of the old
        // one at which the meteor is measured, and the clip is analysed
        // with it.
        QVERIFY(profile->findChild<QPushButton*>(QString::number(kCmdTuneDlo))->isHidden());
        const int dlo = shown.p_u4_dloffset;
        profile->Command(kCmdTuneDlo);
        QVERIFY(std::abs(shown.p_u4_dloffset - dlo) <= 5);
        QVERIFY(DetectionLevelScore(clips, objects, row) < 99.0);
        QCOMPARE(clips.Int(row, clip::kDlo), shown.p_u4_dloffset);

        // "add an obj": an empty manual object after the meteor, selected.
        const int meteor = clips.Int(row, clip::kOline);
        const int count = clips.Int(row, clip::kO);
        Press(*profile, kCmdAddProfileObject);
        QCOMPARE(clips.Int(row, clip::kO), count + 1);
        QCOMPARE(clips.Int(row, clip::kOline), meteor);
        const int added = profile->object_list()->SelectedRow();
        QVERIFY(added >= 0 && added != meteor);
        QCOMPARE(objects.Text(added, obj::kClass), std::string_view("__none"));
        QCOMPARE(objects.Int(added, obj::kOlinenext), -1);
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

QTEST_MAIN(mr4::TestObjectEndClicks)
#include "test_object_end_clicks.moc"
