// The "Move files" dialog CDispatchDlg, opened from the Uty page over the
// clips its list shows: deletes, moves or copies the target clips among
// them (chosen by the five switches and the `target` column of the e-class
// table shown in the dialog's list), counts them, and cleans the empty
// dated folders of the clip directories. The work is the engine's
// (IsDispatchTarget, CountDispatchTargets, DispatchMoveClips,
// DispatchDeleteClips, CleanClipDirectories); the dialog keeps the
// switches, shows the destination (AP.deldir), the count and the engine's
// status lines. A move, a copy or a deletion that ran closes the dialog.
//
// User-interface thread only.
#pragma once

#include <QDialog>
#include <array>
#include <vector>

#include "clips/clip_file_ops.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace mr4 {

class CUDlg;

inline constexpr char kDispatchCaption[] = "Move files";

// The dialog's control ids (their object names).
enum DispatchControl : int {
  kDispatchChooseDestination = 1121,
  kDispatchDelete = 1124,
  kDispatchCopy = 1125,
  kDispatchMove = 1126,
  kDispatchSwitchInterval = 1149,
  kDispatchSwitchThumbnails = 1150,
  kDispatchSwitchResults = 1151,
  kDispatchSwitchUnclassified = 1152,
  kDispatchSwitchEclass = 1153,
  kDispatchStatus = 1156,
  kDispatchDestination = 1162,
  kDispatchCount = 1163,
  kDispatchCountDisplay = 1164,
  kDispatchCleaning = 1168,
};

// The switches as the dialog left them; they last while the program runs.
DispatchSwitches& DispatchDialogSwitches();

class CDispatchDlg final : public QDialog {
 public:
  CDispatchDlg(CUDlg& window, std::vector<int> listed_rows);

  // Runs a button's command as a click does.
  void Command(int id);

  QCheckBox* switch_box(int id) const;
  QTableWidget* eclass_list() const { return eclasses_; }
  QLineEdit* destination_box() const { return destination_; }
  QLabel* count_display() const { return count_; }
  QLabel* status_line() const { return status_; }

  // Shows a status line at once (the operations run without the event loop).
  void ShowStatus(const QString& text);

 private:
  void FillEclassList();
  void SwitchChanged(int id, bool on);
  void ShowCount(const DispatchCount& count);
  void DeleteClipFiles();
  void MoveOrCopy(bool copy);
  void CountTargets();
  void ChooseDestination();
  void Clean();

  CUDlg& window_;
  const std::vector<int> rows_;
  std::array<QCheckBox*, 5> switches_{};
  QTableWidget* eclasses_ = nullptr;
  QLineEdit* destination_ = nullptr;
  QLabel* count_ = nullptr;
  QLabel* status_ = nullptr;
  bool filling_ = false;
};

// The Uty page's "Move files": the dialog over `listed_rows`, modal.
void RunMoveFilesDialog(CUDlg& window, const std::vector<int>& listed_rows);

}  // namespace mr4
