// The "Height Setting" dialog CHeightDlg: the heights of the selected
// object's two end points, edited with the ground points, distances and
// entry angle they give shown at once (analysis/view_picture.h does the
// work). The profile page opens it ("mod h").
//
// User-interface thread only.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace mr4 {

class CHeightDlg final : public QDialog {
 public:
  // Over object row `object_row` of clip row `clip_row`.
  CHeightDlg(int clip_row, int object_row, QWidget* parent = nullptr);

  QLineEdit* h1_field() const { return h1_; }
  QLineEdit* h2_field() const { return h2_; }
  QString point1_text() const;
  QString point2_text() const;

 private:
  void Apply();

  int clip_row_;
  int object_row_;
  QLineEdit* h1_ = nullptr;
  QLineEdit* h2_ = nullptr;
  QLabel* point1_ = nullptr;
  QLabel* point2_ = nullptr;
};

// Opens the dialog modally; afterwards the object lists of every page are
// refilled and the clip's result file is written.
void OpenHeightDialog(QWidget* parent, int clip_row, int object_row);

inline constexpr char kHeightDialogTitle[] = "Height Setting";

}  // namespace mr4
