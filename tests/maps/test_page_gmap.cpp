// The Ground Map page on its own: without a base map it shows an empty sea
// and says so; a picked base map is taken only when it loads; the spin
// buttons move the view by 1 / zoom degrees; "save" writes GMAP.png and
// overwrites an existing file only after it was confirmed.
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <string>

#include "maps/ground_map.h"
#include "maps/page_gmap.h"
#include "app/settings.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_files.h"

namespace mr4 {

class TestPageGmap : public QObject {
  Q_OBJECT

 private:
  ScriptedUi ui_;
  Settings saved_;

  static std::string Dat(int w, int h, const std::string& rows) {
    char text[128];
    std::snprintf(text, sizeof text, "Tessarox%8d,%8d,%8d,%8d,%8d,%8d,%8d,%8d", w, h, 1360000,
                  340000, 160000, 0, 0, 0);
    return std::string(text) + '\0' + rows;
  }

 private slots:
  void init() {
    saved_ = AppSettings();
    AppSettings().g_map = "GMe136n34_16.DAT";
    AppSettings().g_zoom = 4.0f;
    GroundMap() = GroundRaster{};
  }
  void cleanup() {
    AppSettings() = saved_;
    GroundMap() = GroundRaster{};
  }

  void baseMapChoice() {
    ScopedUi scoped(ui_);
    test::TempDir dir;
    test::WriteFileBytes(dir / "broken.DAT", Dat(8193, 1, "\x12"));
    // 8 x 2 pixels: land (value 3) for 8, sea for 8.
    test::WriteFileBytes(dir / "good.DAT", Dat(8, 2, "\x37\x07"));
    CPageGmap page(LayoutScale{});
    page.Open();
    page.resize(600, 400);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(page.image().width(), 588);
    QCOMPARE(page.image().height(), 400 - 58 - 12);
    QVERIFY(page.status_text().startsWith("no base map loaded: "));

    AppSettings().g_ofh = 1.0f;
    ui_.QueuePath(dir / "broken.DAT");
    page.Command(kGmapPickMap);
    QCOMPARE(AppSettings().g_map, std::string("GMe136n34_16.DAT"));
    QCOMPARE(AppSettings().g_ofh, 1.0f);
    QVERIFY(page.status_text().startsWith("no base map loaded: "));
    QCOMPARE(ui_.messages().size(), std::size_t(1));
    QCOMPARE(ui_.messages()[0].text,
             "GroundMap Broken CX,CY " + (dir / "broken.DAT").string());

    ui_.QueuePath(dir / "good.DAT");
    page.Command(kGmapPickMap);
    QCOMPARE(AppSettings().g_map, (dir / "good.DAT").string());
    QCOMPARE(AppSettings().g_ofh, 0.0f);
    QCOMPARE(page.status_text(), QString());
    QCOMPARE(GroundMap().width, 8);
  }

  void spinButtonsMoveTheView() {
    ScopedUi scoped(ui_);
    CPageGmap page(LayoutScale{});
    page.Open();
    page.resize(600, 400);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    AppSettings().g_ofh = 0.0f;
    AppSettings().g_ofv = 0.0f;
    page.Command(kGmapLonDown);
    page.Command(kGmapLatUp);
    page.Command(kGmapLatUp);
    QCOMPARE(AppSettings().g_ofh, 0.25f);
    QCOMPARE(AppSettings().g_ofv, -0.5f);
    AppSettings().g_zoom = 10.0f;
    page.Command(kGmapLonUp);
    QVERIFY(std::abs(AppSettings().g_ofh - 0.15f) < 1e-6f);
  }

  void saveAsksBeforeOverwriting() {
    ScopedUi scoped(ui_);
    test::TempDir dir;
    AppSettings().outdir = dir.path().string();
    CPageGmap page(LayoutScale{});
    page.Open();
    page.resize(600, 400);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.Command(kGmapSave);  // the dialog takes the proposed file
    const std::string bytes = test::ReadFileBytes(dir / "GMAP.png");
    QVERIFY(bytes.size() > 24);
    QCOMPARE(bytes.substr(1, 3), std::string("PNG"));
    auto be32 = [&](std::size_t at) {
      return int((std::uint8_t(bytes[at]) << 24) | (std::uint8_t(bytes[at + 1]) << 16) |
                 (std::uint8_t(bytes[at + 2]) << 8) | std::uint8_t(bytes[at + 3]));
    };
    QCOMPARE(be32(16), 588);
    QCOMPARE(be32(20), 330);

    test::WriteFileBytes(dir / "GMAP.png", "old");
    page.Command(kGmapSave);  // the question is answered Cancel
    QCOMPARE(test::ReadFileBytes(dir / "GMAP.png"), std::string("old"));
    ui_.QueueAnswer(true);
    page.Command(kGmapSave);
    QCOMPARE(test::ReadFileBytes(dir / "GMAP.png").substr(1, 3), std::string("PNG"));
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestPageGmap)
#include "test_page_gmap.moc"
