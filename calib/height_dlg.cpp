#include "calib/height_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>

#include "analysis/analysis_context.h"
#include "analysis/object_class.h"
#include "analysis/view_picture.h"
#include "app/main_window.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

QString Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return QString::fromLatin1(text);
}

// A field's value as "%f" reads it: what does not parse is 0.
float FieldValue(const QLineEdit* field) {
  float value = 0.0f;
  if (std::sscanf(field->text().toLatin1().constData(), "%f", &value) != 1) return 0.0f;
  return value;
}

}  // namespace

CHeightDlg::CHeightDlg(int clip_row, int object_row, QWidget* parent)
    : QDialog(parent), clip_row_(clip_row), object_row_(object_row) {
  setWindowTitle(kHeightDialogTitle);
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QString::fromStdString(std::string(clips.Text(clip_row, clip::kClipName))), this),
                  0, 0, 1, 3);
  grid->addWidget(new QLabel(Format("Pos1 ev=%.2f", objects.Float(object_row, obj::kEv1)), this), 1, 0);
  grid->addWidget(new QLabel("H1(km)=", this), 1, 1);
  h1_ = new QLineEdit(Format("%.1f", objects.Float(object_row, obj::kH1)), this);
  grid->addWidget(h1_, 1, 2);
  point1_ = new QLabel(this);
  grid->addWidget(point1_, 2, 0, 1, 3);
  grid->addWidget(new QLabel(Format("Pos2 ev=%.2f", objects.Float(object_row, obj::kEv2)), this), 3, 0);
  grid->addWidget(new QLabel("H2(km)=", this), 3, 1);
  h2_ = new QLineEdit(Format("%.1f", objects.Float(object_row, obj::kH2)), this);
  grid->addWidget(h2_, 3, 2);
  point2_ = new QLabel(this);
  grid->addWidget(point2_, 4, 0, 1, 3);
  connect(h1_, &QLineEdit::textChanged, this, [this] { Apply(); });
  connect(h2_, &QLineEdit::textChanged, this, [this] { Apply(); });
  Apply();
}

void CHeightDlg::Apply() {
  const HeightTexts texts = ApplyObjectHeights(Tables().clip, clip_row_, Tables().obj, object_row_,
                                               FieldValue(h1_), FieldValue(h2_));
  point1_->setText(QString::fromStdString(texts.point1));
  point2_->setText(QString::fromStdString(texts.point2));
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(clip_row_);
}

QString CHeightDlg::point1_text() const { return point1_->text(); }
QString CHeightDlg::point2_text() const { return point2_->text(); }

void OpenHeightDialog(QWidget* parent, int clip_row, int object_row) {
  {
    CHeightDlg dialog(clip_row, object_row, parent);
    dialog.exec();
  }
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(clip_row);
  SaveClipResult(AnalysisContextAt(0), clip_row);
}

}  // namespace mr4
