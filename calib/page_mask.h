// The Mask Editor page CPageMask: the current clip's mask picture shown
// with its mask codes, catalogue stars and mask-star links, the tools that
// paint it, the automatic masks, the linking modes and the pixel readout.
// Every edit is written at once to the clip's N.BMP.
//
// The page edits its own copy of the clip's mask in edit codes (a capture
// mask M.BMP is converted when the clip is loaded); the stars are context
// 0's star data over the current profile. User-interface thread only.
#pragma once

#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "analysis/result_pictures.h"
#include "app/main_window.h"
#include "calib/mask_edit.h"

class QLabel;
class QPushButton;

namespace mr4 {

class CUDEdit;
class CMaskView;

enum MaskCommand : int {
  kCmdMaskPrev = 1600, kCmdMaskNext,
  kCmdModeEdit, kCmdModeAuto, kCmdModeLink, kCmdManualLink,
  kCmdToolDot, kCmdToolLine, kCmdToolRect,
  kCmdPen0, kCmdPen1, kCmdPen2,
  kCmdTypeDetectionArea, kCmdTypeArea, kCmdTypeStar, kCmdTypeOpt,
  kCmdFill, kCmdClear, kCmdAllOm,
  kCmdAutoArea, kCmdAutoCloud, kCmdAutoStar,
  kCmdQuickMask, kCmdQuickMaskLine,
  kCmdAutoLink, kCmdRelink, kCmdClearLink,
  kCmdSaveImage, kCmdX1, kCmdResetMask,
  kCmdSwitchStars, kCmdSwitchGraphs, kCmdSwitchLines, kCmdSwitchResiduals, kCmdSwitchHits,
};

inline constexpr char kClickStarOne[] = "Click Star 1 (yellow)";
inline constexpr char kNoStarNear[] = "No star is near, click again";

class CPageMask final : public CPage {
 public:
  explicit CPageMask(const LayoutScale& scale, QWidget* parent = nullptr);

  // Runs a command as its button does (Ctrl as held now).
  void Command(int id);
  // A press, a move with a button held, and a release at image pixel
  // (x, y) (y from the bottom); `left` for the left button.
  void Press(int x, int y, bool left);
  void Drag(int x, int y);
  void Release(int x, int y);
  // The mouse over image pixel (x, y): the readout and the link selection.
  void Hover(int x, int y);

  // The mask in edit codes, the picture shown (both W x H x 3, rows from
  // the bottom), the readout and status texts.
  const MaskPicture& mask() const { return mask_; }
  const std::vector<std::uint8_t>& display() const { return display_; }
  std::string readout() const;
  std::string status() const;

  // Loads the current clip's mask again and redraws.
  void Reload();
  void Redraw();
  // Shows the mode, tool, pen, type and switches of the settings.
  void Rearm();

  void OnAnalysisResult(const ResultPicture& picture) override;

 protected:
  void OnInitPage() override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPushButton* AddButton(int id, const char* caption, int x, int y, int width);
  void EnsureMask();
  void Edited();
  void SetStatus(const std::string& text);
  bool HaveClip() const;
  MaskRule CurrentRule(bool paint) const;
  int BrushSize() const;
  AutoMaskParameters AutoParameters() const;
  void SaveImage();
  void ResetMask();
  void AutoLink();
  void LinkClick(bool left);
  void PlaceView();
  void ComposeStill();
  void DrawDetections(DisplayPicture& picture) const;

  CMaskView* view_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* readout_ = nullptr;
  std::vector<CUDEdit*> fields_;
  std::vector<std::uint8_t> mask_bytes_;
  MaskPicture mask_;
  std::vector<std::uint8_t> display_;
  int loaded_row_ = -2;
  ResultPicture result_;
  bool show_result_ = false;
  // "qm": the clip's still (with the View page's "Hit" overlay) is shown
  // until the next edit or clip change.
  bool show_still_ = false;
  bool pressed_ = false;
  bool press_left_ = true;
  QPoint press_{};
  QPoint last_{};
  int selected_star_ = -1;
  int manual_stars_ = 0;
  int manual_catalogue_ = -1;
};

}  // namespace mr4
