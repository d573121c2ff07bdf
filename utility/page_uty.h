// The utilities page CPageUty ("Uty"): the clip list and the current
// clip's objects, with the tools that work on the listed clips (the
// peak-hold picture of the current clip, the time shift, the object export,
// the deletion of result files), the choice of the export folder, the
// shower catalogue and the after-move command, and the switches and numbers
// the other pages and the analysis read from the settings.
//
// Each tool calls the engine function the headless command calls for the
// same work; the settings changed here are written at exit with the rest.
//
// User-interface thread only.
#pragma once

#include <QPointer>
#include <array>
#include <optional>
#include <vector>

#include "app/main_window.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace mr4 {

class CUDEdit;
class CUList;

// The page's command ids (its buttons' and check boxes' object names).
enum UtyCommand : int {
  kUtyPeakHold = 1402,
  kUtyTimeAdjust = 1403,
  kUtyExportObjects = 1404,
  kUtyDeleteResult = 1405,
  kUtyDeleteResults = 1406,
  kUtyChooseOutDir = 1407,
  kUtyChooseCatalogue = 1408,
  kUtyChooseCommand = 1409,
  kUtyTestCommand = 1410,
  kUtyRunAfterMove = 1411,
  kUtyTrashBox = 1412,
  kUtyTrashDir = 1413,
  kUtyAnalyzeLog = 1414,
  kUtyMoveFiles = 1415,
  kUtyHiddenCsv = 1416,      // "ecsv", created hidden
  kUtyHiddenConvert = 1417,  // "conv", created hidden
};
inline constexpr int kUtyVersionLabelId = 1420;

inline constexpr char kPeakHoldCaption[] = "MakeP.bmp";
inline constexpr char kPeakHoldFinishCaption[] = "Finish P.BMP";

class CPageUty final : public CPage {
 public:
  explicit CPageUty(const LayoutScale& scale, QWidget* parent = nullptr);

  CUList* clip_list() const { return clips_; }
  CUList* object_list() const { return objects_; }
  // The "+/- sec" field's value (not saved; 0 at start).
  double time_shift() const { return shift_; }
  void set_time_shift(double seconds);
  QLineEdit* out_dir_box() const { return out_dir_; }
  QLineEdit* catalogue_box() const { return catalogue_; }
  QLineEdit* command_box() const { return command_; }
  QCheckBox* check_box(int id) const;
  CUDEdit* threads_field() const { return fields_[4]; }

  // Runs a command as its button or check box does.
  void Command(int id);
  // Re-reads the fields and check boxes, refills the lists for the current
  // clip and its selection.
  void Refresh();
  // The clip rows of the list, in line order.
  std::vector<int> ListedClips() const;

  void RedrawClipRow(int clip_row) override;
  bool HasClipLines() const override;
  std::optional<int> SelectedClipLine() const override;
  void OnClipSelected(int line) override;
  void SelectClipRow(int clip_row) override;
  void OnPageMessage(int message, int first, int second) override;

 protected:
  void OnInitPage() override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPushButton* AddButton(int id, const char* caption, int x, int y, int width);
  QCheckBox* AddCheck(int id, const char* caption, int x, int y, int width);
  QLineEdit* AddPathBox(const char* label, int label_width, int y);
  void ShowSettings();
  void RebuildClipList();
  void MakePeakHoldPicture();
  void AdjustTimes();
  void ExportListedObjects();
  void DeleteResult();
  void DeleteResults();
  void MoveFiles();
  void ChooseOutDir();
  void ChooseShowerCatalogue();
  void ChooseCommand();
  void TestCommand();
  void ThreadsChanged();

  CUList* clips_ = nullptr;
  CUList* objects_ = nullptr;
  std::array<CUDEdit*, 5> fields_{};  // interval, +/- sec, H1km, H2km, Threads
  QLineEdit* out_dir_ = nullptr;
  QLineEdit* catalogue_ = nullptr;
  QLineEdit* command_ = nullptr;
  QPushButton* peak_hold_ = nullptr;
  std::array<QCheckBox*, 4> checks_{};  // exec after move C, TrashBox, TrashDir, analyzelog
  QLabel* version_ = nullptr;
  float shift_ = 0.0f;
  bool updating_ = false;
};

}  // namespace mr4
