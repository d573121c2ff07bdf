// The Plot page CPageGPlot: what the Ground Map and Trail Map pages draw.
// The shower list and the extra-class list count the loaded objects per
// shower and per class and switch whole classes on and off the maps; "all
// disp" and "all off" switch everything listed. The group "Ground map plot"
// holds the profiles whose fields of view the ground map outlines, the three
// outline heights with their switches, the number of divisions of the
// outlines and "fill". Like the other clip pages it carries the clip list
// and the current clip's object list.
//
// The switches are engine state (maps/map_display.h, the heights in
// the settings): the map pages read them from there.
//
// User-interface thread only.
#pragma once

#include <array>
#include <optional>

#include "app/main_window.h"

class QCheckBox;
class QTableWidget;

namespace mr4 {

class CUDEdit;
class CUList;

// The page's command ids (its buttons' and check boxes' object names).
enum PlotCommand : int {
  kCmdPlotHeight0 = 1079,  // toggles "AP.g_h0on"
  kCmdPlotHeight1 = 1080,
  kCmdPlotHeight2 = 1081,
  kCmdPlotProfiles = 1095,  // the profile list
  kCmdPlotFill = 1097,
  kCmdAllDisp = 1121,
  kCmdAllOff = 1122,
};
inline constexpr int kPlotParamIdBase = 2551;
inline constexpr int kPlotParamCount = 4;

// Page messages of the page's lists.
inline constexpr int kMsgPlotExtraClassSelected = 1332;
inline constexpr int kMsgPlotExtraClassDispClicked = 1334;
inline constexpr int kMsgPlotShowerSelected = 1335;
inline constexpr int kMsgPlotShowerDispClicked = 1341;

class CPageGPlot final : public CPage {
 public:
  explicit CPageGPlot(const LayoutScale& scale, QWidget* parent = nullptr);

  CUList* clip_list() const { return clips_; }
  CUList* object_list() const { return objects_; }
  CUList* shower_list() const { return showers_; }
  CUList* extra_class_list() const { return extra_classes_; }
  QTableWidget* profile_list() const { return profiles_; }
  CUDEdit* param(int index) const { return params_[static_cast<std::size_t>(index)]; }
  QCheckBox* height_box(int index) const { return height_boxes_[static_cast<std::size_t>(index)]; }
  bool shown() const { return shown_; }

  // Runs a command as its button or check box does.
  void Command(int id);
  // The object list of the current clip, the counts and the shower list
  // again.
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
  // Each time the page is shown: the profile list, the lists and counts.
  void Activate();
  void ShowProfiles();
  void ProfileSelectionChanged();
  void ToggleHeight(int index);
  void SetAll(bool on);
  void ShowerChosen(bool disp_clicked);
  void ExtraClassChosen(bool disp_clicked);
  void AfterDisplayChange();
  void ShowCurrentClip();
  void ObjectSelected();
  void Fill();

  CUList* clips_ = nullptr;
  CUList* objects_ = nullptr;
  CUList* showers_ = nullptr;
  CUList* extra_classes_ = nullptr;
  QTableWidget* profiles_ = nullptr;
  std::array<CUDEdit*, kPlotParamCount> params_{};
  std::array<QCheckBox*, 3> height_boxes_{};  // h0, h1, h2
  bool shown_ = false;
  bool updating_ = true;  // set from construction until the first refresh ends
  bool filling_profiles_ = false;
};

// The Plot page once it has been created, else nullptr.
CPageGPlot* PlotPage();

// Redraws the map pages that are showing.
void RedrawMaps();

}  // namespace mr4
