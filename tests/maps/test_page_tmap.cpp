// The Trail Map page on its own: the chart fills the page to its margins,
// the pointer reads the sky back, a left click sets the marker and a right
// click removes it, the switches change their setting and the picture,
// "save" writes the chart as TMAP.png in the output directory.
#include <QCheckBox>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "maps/page_tmap.h"
#include "app/settings.h"
#include "platform/image_codecs.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_files.h"

namespace mr4 {

class TestPageTmap : public QObject {
  Q_OBJECT

 private:
  ScriptedUi ui_;
  Settings saved_;

  // The canvas pixel (y from the top) of sky point (ra, dec).
  static QPoint PixelOf(const CPageTmap& page, double ra, double dec) {
    const ChartProjection pr(page.input().frame);
    const ChartProjection::Point p = pr.SkyToChart(ra, dec);
    return QPoint(pr.PixelX(p.x), page.image().height() - 1 - pr.PixelY(p.y));
  }

 private slots:
  void init() {
    saved_ = AppSettings();
    Settings& s = AppSettings();
    s.t_ra = 120;
    s.t_dec = 30;
    s.t_rot = 0;
    s.t_scale = 90;
    s.t_bw = 0;
  }
  void cleanup() { AppSettings() = saved_; }

  void chartReadoutAndMarker() {
    ScopedUi scoped(ui_);
    CPageTmap page(LayoutScale{});
    page.Open();
    page.resize(600, 400);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    // 12 pixels short of the right and bottom edges, the width a multiple
    // of 4; the page's controls take the 58 rows above it.
    QCOMPARE(page.image().width(), 588);
    QCOMPARE(page.image().height(), 400 - 58 - 12);
    QCOMPARE(page.buffer().size(), std::size_t(588) * 330 * 3);

    page.ShowReadout(PixelOf(page, 120, 30));
    QCOMPARE(page.status_text(), QString("ra 120.0 dec 30.0"));
    // Elsewhere within the pixel's extent (a unit is about 0.35 deg here).
    page.ShowReadout(PixelOf(page, 100, 20));
    double ra = 0, dec = 0;
    QCOMPARE(std::sscanf(page.status_text().toStdString().c_str(), "ra %lf dec %lf", &ra, &dec), 2);
    QVERIFY(std::abs(ra - 100) < 0.5 && std::abs(dec - 20) < 0.5);

    const QImage before = page.image().copy();
    page.Click(PixelOf(page, 120, 30), Qt::LeftButton);
    QVERIFY(page.input().marker.has_value());
    QVERIFY(page.image() != before);
    page.Click(PixelOf(page, 120, 30), Qt::RightButton);
    QVERIFY(!page.input().marker.has_value());
    QCOMPARE(page.image(), before);

    auto* bw = page.findChild<QCheckBox*>("BW");
    QVERIFY(bw);
    bw->click();
    QCOMPARE(AppSettings().t_bw, 1);
    QCOMPARE(page.image().pixel(20, 20), qRgb(255, 255, 255));
    bw->click();
    QCOMPARE(AppSettings().t_bw, 0);
    QCOMPARE(page.image().pixel(20, 20), qRgb(0, 0, 0));
  }

  void saveWritesTheChart() {
    ScopedUi scoped(ui_);
    test::TempDir dir("mr4-page-tmap");
    AppSettings().outdir = dir.path().string();
    CPageTmap page(LayoutScale{});
    page.Open();
    page.resize(500, 300);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.Command(kTmapSave);  // the dialog takes the proposed file
    const std::string bytes = test::ReadFileBytes(dir / "TMAP.png");
    QVERIFY(bytes.size() > 24);
    QCOMPARE(bytes.substr(1, 3), std::string("PNG"));
    auto be32 = [&](std::size_t at) {
      return int((std::uint8_t(bytes[at]) << 24) | (std::uint8_t(bytes[at + 1]) << 16) |
                 (std::uint8_t(bytes[at + 2]) << 8) | std::uint8_t(bytes[at + 3]));
    };
    QCOMPARE(be32(16), page.image().width());
    QCOMPARE(be32(20), page.image().height());
    QVERIFY(ui_.messages().empty());
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageTmap)
#include "test_page_tmap.moc"
