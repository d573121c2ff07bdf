// The Main page CPageMain: the clip directories, the date range of the
// scan, the clip list of the scan and the object list of the current clip,
// with the commands that read directories, check clips, walk through them,
// delete objects and clips, and hand checked clips to the analysis, the
// file operations and the reports.
//
// The lists are CUList controls over the live tables; they post the page
// messages handled in OnPageMessage (the numbers are kMsg* below and the
// lists' own, tables/ulist.h). Every command calls the engine function the
// headless commands call for the same work.
//
// User-interface thread only.
#pragma once

#include <QPointer>
#include <array>
#include <optional>

#include "app/main_window.h"

class QButtonGroup;
class QLabel;
class QPushButton;

namespace mr4 {

class CUDEdit;
class CUList;

// Page messages of the Main page (besides the lists' key messages).
inline constexpr int kMsgClipSelected = 1325;
inline constexpr int kMsgShowCurrentClip = 1326;
inline constexpr int kMsgObjectSelected = 1328;
inline constexpr int kMsgChangeObjectClass = 1331;
inline constexpr int kMsgToggleDirectoryUse = 1342;
inline constexpr int kMsgDeleteDirectory = 1344;
inline constexpr int kMsgAllDirectoriesOn = 1345;
inline constexpr int kMsgAllDirectoriesOff = 1346;
inline constexpr int kMsgOnlyThisDirectory = 1347;
inline constexpr int kMsgChooseDirectory = 1348;
inline constexpr int kMsgChooseProfile = 1349;
inline constexpr int kMsgChooseSaveDirectory = 1350;
inline constexpr int kMsgToggleYmd = 1351;

// The page's command ids (its buttons' object names).
enum MainCommand : int {
  kCmdReadDir = 1035,
  kCmdAdd = 1037,
  kCmdDirsAllOn = 1040,
  kCmdDirsAllOff = 1039,
  kCmdRangeAll = 1020,
  kCmdRangeRange = 1021,
  kCmdRangeLatest = 1022,
  kCmdAllClipsOn = 1122,
  kCmdAllClipsOff = 1123,
  kCmdOn = 1124,
  kCmdOff = 1125,
  kCmdIntervalOn = 1128,
  kCmdUnclassifiedOn = 1129,
  kCmdNext = 1031,
  kCmdPrev = 1032,
  kCmdCheck = 1163,
  kCmdAnalyzeChecked = 1036,
  kCmdCalibrateAnalyze = 1041,
  kCmdDeleteObject = 1034,
  kCmdDeleteClip = 1033,
  kCmdDeleteChecked = 1042,
  kCmdMoveChecked = 1030,
  kCmdMeteorCsv = 1029,
  kCmdPeriodReport = 1043,
};
inline constexpr int kClipCountLabelId = 1038;
inline constexpr int kResultLabelId = 1118;

class CPageMain final : public CPage {
 public:
  explicit CPageMain(const LayoutScale& scale, QWidget* parent = nullptr);

  // The three lists, once the page is initialised.
  CUList* directory_list() const { return dirs_; }
  CUList* clip_list() const { return clips_; }
  CUList* object_list() const { return objects_; }
  QLabel* clip_count_label() const { return count_label_; }
  QLabel* result_label() const { return result_label_; }

  // Runs a command as its button does (`right_click`: the right button on
  // "next", "on" or "off").
  void Command(int id, bool right_click = false);
  // Redisplays the controls, refills the object list and selects the
  // current object and clip.
  void Refresh();

  void RedrawClipRow(int clip_row) override;
  void ReloadClipLists() override;
  bool HasClipLines() const override;
  std::optional<int> SelectedClipLine() const override;
  void OnClipSelected(int line) override;
  void SelectClipRow(int clip_row) override;
  void OnPageMessage(int message, int first, int second) override;

 protected:
  void OnInitPage() override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QPushButton* AddButton(int id, const char* caption, int x, int y, int width);
  void SetRange(int mode);
  void ReadDirectories();
  void RebuildClipLists();
  void RebuildObjectList();
  void ShowClipCount();
  void PostClipSelected();
  void SelectAndOpenLine(int line);
  void CheckSelected(bool on, bool ctrl);
  void WalkClips(bool next, bool ctrl);
  void FindClipNeedingAttention(bool ctrl);
  void DeleteObject();
  void DeleteSelectedClip();
  void DeleteCheckedClips();
  void AnalyzeChecked(bool ctrl);
  void CalibrateAndAnalyze();
  void DirectoryCellAction(int message, int line);
  void SetAllDirectories(int column, bool on);
  bool MapPageShowing() const;

  CUList* dirs_ = nullptr;
  CUList* clips_ = nullptr;
  CUList* objects_ = nullptr;
  std::array<CUDEdit*, 6> fields_{};  // Y, M, D, H, days, dlo
  QButtonGroup* range_ = nullptr;
  QLabel* count_label_ = nullptr;
  QLabel* result_label_ = nullptr;
  bool active_ = false;
  bool updating_ = false;
};

}  // namespace mr4
