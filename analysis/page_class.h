// The Class page CPageClass: the clip list, the current clip's object list,
// the shower table and the extra classes, with the eight thresholds of the
// classification and of the shower association. Its commands classify one
// object or every clip again, give an object a shower or an extra class by
// hand, and delete clips and objects. CChangeClassDlg gives the current
// object an extra class from the other pages' object lists.
//
// Everything works on context 0: its clip is the current clip, its object
// the current object. Every command calls the engine function of
// analysis/object_class.h.
//
// User-interface thread only.
#pragma once

#include <QDialog>
#include <array>
#include <optional>

#include "app/main_window.h"

class QListWidget;
class QPushButton;

namespace mr4 {

class CUDEdit;
class CUList;

// Page messages of the Class page's lists.
inline constexpr int kMsgExtraClassSelected = 1332;
inline constexpr int kMsgShowerSelected = 1335;
inline constexpr int kMsgShowerEdited = 1337;

// The page's command ids (its buttons' object names).
enum ClassCommand : int {
  kCmdDeleteClassClip = 1123,
  kCmdReclass = 1124,
  kCmdDeleteClassObject = 1125,
  kCmdReclassAll = 1126,
};
inline constexpr int kCmdCancelChangeClass = 1121;
inline constexpr int kClassParamIdBase = 2301;
inline constexpr int kClassParamCount = 8;

inline constexpr char kNotSelectableMessage[] = "%s is not selectable for this meteor";
inline constexpr char kChangeClassCaption[] = "Change Class";

class CPageClass final : public CPage {
 public:
  explicit CPageClass(const LayoutScale& scale, QWidget* parent = nullptr);

  CUList* clip_list() const { return clips_; }
  CUList* object_list() const { return objects_; }
  CUList* shower_list() const { return showers_; }
  CUList* extra_class_list() const { return extra_classes_; }
  CUDEdit* param(int index) const { return params_[static_cast<std::size_t>(index)]; }

  // Runs a command as its button does.
  void Command(int id);
  // Shows the thresholds, the current clip's line, object and showers again.
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

 private:
  void Reclass();
  void ReclassAll();
  void ChooseShowerLine(int line);
  void ChooseExtraClassLine(int line);
  void ShowerEdited(int line);
  void DeleteClip();
  void DeleteObject();
  void ObjectSelected();
  void ShowCurrentObject();
  void ClipRowChanged(int clip_row);
  void ReloadOtherPages();
  void PostMessage(int message);

  CUList* clips_ = nullptr;
  CUList* objects_ = nullptr;
  CUList* showers_ = nullptr;
  CUList* extra_classes_ = nullptr;
  std::array<CUDEdit*, kClassParamCount> params_{};
  float maxdps_ = 0.0f;  // the "fast" field's copy of context 0's maxdps
  bool updating_ = false;
};

// The "Change Class" dialog over the extra classes: choosing an entry gives
// the current object that class and closes the dialog.
class CChangeClassDlg final : public QDialog {
 public:
  explicit CChangeClassDlg(QWidget* parent);
  QListWidget* list() const { return list_; }
  // Chooses entry `line` of the list (page message 1332).
  void Choose(int line);

 private:
  QListWidget* list_ = nullptr;
  std::vector<int> rows_;  // the extra-class row of each entry
};

// Opens the dialog window-modal over `parent` without blocking; it deletes
// itself when closed.
CChangeClassDlg* OpenChangeClassDialog(QWidget* parent);

}  // namespace mr4
