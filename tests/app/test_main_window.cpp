// The main window's frame: size limits, the host split, the pages in their
// hosts, the stored placement and show state, the close question.
#include <QFont>
#include <QSignalSpy>
#include <QTest>

#include "app/main_window.h"
#include "app/settings.h"
#include "platform/scripted_ui.h"

namespace mr4 {

class TestMainWindow : public QObject {
  Q_OBJECT

 private:
  Settings saved_settings_;
  const LayoutScale unit_{1.0, 1.0};

  static void SetPlacement(QRect rect, int showcmd) {
    Settings& s = AppSettings();
    s.dlgrect_left = rect.left();
    s.dlgrect_top = rect.top();
    s.dlgrect_right = rect.left() + rect.width();
    s.dlgrect_bottom = rect.top() + rect.height();
    s.showcmd = showcmd;
  }
  static QRect StoredRect() {
    const Settings& s = AppSettings();
    return QRect(s.dlgrect_left, s.dlgrect_top, s.dlgrect_right - s.dlgrect_left,
                 s.dlgrect_bottom - s.dlgrect_top);
  }

 private slots:
  void init() {
    saved_settings_ = AppSettings();
  }
  void cleanup() {
    AppSettings() = saved_settings_;
  }

  void sizeStaysWithinLimits_data() {
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("got");
    QTest::newRow("below both minimums") << QSize(500, 400) << QSize(768, 580);
    QTest::newRow("narrow only") << QSize(700, 900) << QSize(768, 900);
    QTest::newRow("above both maximums") << QSize(5000, 3000) << QSize(4092, 2400);
    QTest::newRow("inside") << QSize(1024, 700) << QSize(1024, 700);
  }
  void sizeStaysWithinLimits() {
    QFETCH(QSize, asked);
    QFETCH(QSize, got);
    CUDlg window(unit_);
    window.show();
    window.resize(asked);
    QCOMPARE(window.size(), got);
  }

  void hostSplit_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("left");
    QTest::addColumn<QRect>("right");
    // a = trunc(scale * 345.5 + 0.5): the left host a - 1 wide at x 1, the
    // right host from a + 1 to 1 px before the right edge.
    QTest::newRow("reference screen") << 1.0 << QSize(1600, 1000)
                                      << QRect(1, 1, 345, 998) << QRect(347, 1, 1252, 998);
    QTest::newRow("smallest window") << 1.0 << QSize(768, 580)
                                     << QRect(1, 1, 345, 578) << QRect(347, 1, 420, 578);
    QTest::newRow("scale 1.5 rounds 518.75 down") << 1.5 << QSize(2400, 1500)
                                                  << QRect(1, 1, 517, 1498)
                                                  << QRect(519, 1, 1880, 1498);
    QTest::newRow("scale 1.25 rounds 432.375 down") << 1.25 << QSize(1600, 1000)
                                                    << QRect(1, 1, 431, 998)
                                                    << QRect(433, 1, 1166, 998);
  }
  void hostSplit() {
    QFETCH(double, scale);
    QFETCH(QSize, client);
    QFETCH(QRect, left);
    QFETCH(QRect, right);
    const HostGeometry split = SplitHosts(scale, client);
    QCOMPARE(split.left, left);
    QCOMPARE(split.right, right);

    CUDlg window(LayoutScale{scale, 1.0});
    window.show();
    window.resize(client);
    QCOMPARE(window.host(Host::kLeft)->geometry(), left);
    QCOMPARE(window.host(Host::kRight)->geometry(), right);
  }

  void pagesSitInTheirHostsInTabOrder() {
    CUDlg window(unit_);
    const QStringList left{"Main", "Profile/Analyze", "Class", "Plot", "Uty"};
    const QStringList right{"View", "Mask Editor", "Trail Map", "Ground Map"};
    QCOMPARE(window.host(Host::kLeft)->count(), left.size());
    QCOMPARE(window.host(Host::kRight)->count(), right.size());
    for (int i = 0; i < left.size(); ++i) {
      QCOMPARE(window.host(Host::kLeft)->tabText(i), left[i]);
    }
    for (int i = 0; i < right.size(); ++i) {
      QCOMPARE(window.host(Host::kRight)->tabText(i), right[i]);
    }
    for (const PageInfo& info : PageTable()) {
      QCOMPARE(PageByName(info.name), std::optional<PageId>(info.id));
      QCOMPARE(window.host(info.host)->PageAt(info.tab)->id(), info.id);
    }
    QCOMPARE(PageByName("Main"), std::nullopt);
    // Both hosts show their first tab.
    QCOMPARE(window.host(Host::kLeft)->currentIndex(), 0);
    QCOMPARE(window.host(Host::kRight)->currentIndex(), 0);
  }

  void classPlotAndUtyOpenWhenFirstShown() {
    CUDlg window(unit_);
    for (PageId id : {PageId::kMain, PageId::kProfile, PageId::kView, PageId::kMask,
                      PageId::kTrailMap, PageId::kGroundMap}) {
      QVERIFY2(window.OpenedPage(id) != nullptr, PageInfoOf(id).caption);
    }
    for (PageId id : {PageId::kClass, PageId::kPlot, PageId::kUty}) {
      QVERIFY2(window.OpenedPage(id) == nullptr, PageInfoOf(id).caption);
    }
    window.host(Host::kLeft)->setCurrentIndex(3);
    QVERIFY(window.OpenedPage(PageId::kPlot) != nullptr);
    QVERIFY(window.OpenedPage(PageId::kClass) == nullptr);
    window.ShowPage(PageId::kUty);
    QCOMPARE(window.host(Host::kLeft)->currentIndex(), 4);
    QVERIFY(window.OpenedPage(PageId::kUty) != nullptr);
  }

  // The state the window is closed in comes back at the next start, and
  // the rectangle stored is always the normal one.
  void placementSurvivesClosing_data() {
    QTest::addColumn<int>("state");  // 0 normal, 1 minimised, 2 maximised
    QTest::addColumn<int>("showcmd");
    QTest::newRow("normal") << 0 << kShowNormal;
    QTest::newRow("minimised") << 1 << kShowMinimized;
    QTest::newRow("maximised") << 2 << kShowMaximized;
  }
  void placementSurvivesClosing() {
    QFETCH(int, state);
    QFETCH(int, showcmd);
    const QRect normal(100, 120, 1000, 700);
    SetPlacement(normal, kShowNormal);
    {
      CUDlg window(unit_);
      window.ShowAsPlaced();
      QCOMPARE(window.geometry(), normal);
      if (state == 1) window.showMinimized();
      if (state == 2) window.showMaximized();
      QVERIFY(window.close());
    }
    QCOMPARE(StoredRect(), normal);
    QCOMPARE(AppSettings().showcmd, showcmd);

    CUDlg again(unit_);
    again.ShowAsPlaced();
    QCOMPARE(again.isMinimized(), state == 1);
    QCOMPARE(again.isMaximized(), state == 2);
    QCOMPARE(again.normalGeometry(), normal);
  }

  void unknownShowStateOpensNormal() {
    SetPlacement(QRect(50, 60, 900, 640), 0);  // 0 would hide the window
    CUDlg window(unit_);
    window.ShowAsPlaced();
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QVERIFY(!window.isMaximized());
  }

  void closingWithUnsavedTablesAsksFirst_data() {
    QTest::addColumn<bool>("modified");
    QTest::addColumn<bool>("answer_ok");
    QTest::addColumn<bool>("closes");
    QTest::newRow("saved: no question") << false << false << true;
    QTest::newRow("unsaved, Cancel keeps it open") << true << false << false;
    QTest::newRow("unsaved, OK closes") << true << true << true;
  }
  void closingWithUnsavedTablesAsksFirst() {
    QFETCH(bool, modified);
    QFETCH(bool, answer_ok);
    QFETCH(bool, closes);
    ScriptedUi ui;
    ScopedUi scoped(ui);
    ui.QueueAnswer(answer_ok);
    SetPlacement(QRect(10, 20, 800, 600), kShowNormal);
    CUDlg window(unit_);
    window.MarkTablesModified(modified);
    window.show();
    window.setGeometry(30, 40, 800, 600);
    QCOMPARE(window.close(), closes);
    QCOMPARE(window.isVisible(), !closes);
    const std::vector<std::string> asked = ui.questions();
    QCOMPARE(asked.size(), std::size_t(modified ? 1 : 0));
    if (modified) {
      QCOMPARE(QString::fromStdString(asked[0]),
               QString("Tables were not saved. Abandon Modification OK?"));
    }
    // Only a window that really closes stores its placement.
    QCOMPARE(StoredRect().topLeft(), closes ? QPoint(30, 40) : QPoint(10, 20));
  }

  void layoutScaleFollowsTheFont() {
    QFont small("DejaVu Sans");
    small.setPixelSize(11);
    QFont large = small;
    large.setPixelSize(22);
    const LayoutScale s = LayoutScaleFromFont(small);
    const LayoutScale l = LayoutScaleFromFont(large);
    QVERIFY2(s.horizontal > 0.5 && s.horizontal < 2.0, qPrintable(QString::number(s.horizontal)));
    QVERIFY2(s.vertical > 0.5 && s.vertical < 2.0, qPrintable(QString::number(s.vertical)));
    // Twice the font, about twice the layout (rounding of glyph advances).
    QVERIFY2(std::abs(l.horizontal / s.horizontal - 2.0) < 0.15,
             qPrintable(QString::number(l.horizontal / s.horizontal)));
    QVERIFY2(std::abs(l.vertical / s.vertical - 2.0) < 0.15,
             qPrintable(QString::number(l.vertical / s.vertical)));
    QCOMPARE(LayoutScale({1.5, 2.0}).X(257), 386);  // 385.5 rounds up
    QCOMPARE(LayoutScale({1.5, 2.0}).Y(193), 386);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestMainWindow)
#include "test_main_window.moc"
