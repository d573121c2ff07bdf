// The "Height Setting" dialog over a hand-built clip and object: typing a
// height moves that end's ground point and the texts at once.
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "calib/height_dlg.h"
#include "tables/table_catalogue.h"

namespace mr4 {

class TestHeightDlg : public QObject {
  Q_OBJECT

 private slots:
  void typedHeightsMoveTheGroundPoints() {
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    const int clip_row = clips.AppendRow();
    clips.SetText(clip_row, clip::kClipName, "M20240812_193750_SIM");
    clips.SetFloat(clip_row, clip::kLng, 139.5f);
    clips.SetFloat(clip_row, clip::kLat, 35.0f);
    const int object_row = objects.AppendRow();
    objects.SetFloat(object_row, obj::kEv1, 90.0f);
    objects.SetFloat(object_row, obj::kEv2, 90.0f);
    objects.SetFloat(object_row, obj::kH1, 100.0f);
    objects.SetFloat(object_row, obj::kH2, 80.0f);

    CHeightDlg dialog(clip_row, object_row);
    QCOMPARE(dialog.windowTitle(), QString("Height Setting"));
    QCOMPARE(dialog.h1_field()->text(), QString("100.0"));
    QCOMPARE(dialog.point1_text(), QString("lng=139.5000 lat=35.0000, D=100.0km, GD=0.0km "));
    bool labels = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
      labels |= label->text() == "Pos2 ev=90.00";
    }
    QVERIFY(labels);

    dialog.h2_field()->setText("75");
    QCOMPARE(objects.Float(object_row, obj::kH2), 75.0f);
    QVERIFY(dialog.point2_text().startsWith("lng=139.5000 lat=35.0000, D=75.0km"));
    // What does not parse is a height of 0, as the field reads it.
    dialog.h1_field()->setText("x");
    QCOMPARE(objects.Float(object_row, obj::kH1), 0.0f);
  }
};

}  // namespace mr4

QTEST_MAIN(mr4::TestHeightDlg)
#include "test_height_dlg.moc"
