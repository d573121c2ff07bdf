// The Profile/Analyze page CPageProfile: the camera profile of the current
// clip as 39 labelled fields, the commands that read and save profiles and
// results, adjust the profile to the linked stars, calibrate the
// photometry and analyse the clip, and the clip and object lists.
//
// The profile shown is the current profile (context 0's), and the stars
// are context 0's star data. Every command calls the engine function the
// headless commands call for the same work.
//
// User-interface thread only.
#pragma once

#include <QPointer>
#include <array>
#include <optional>

#include "app/main_window.h"
#include "tables/param_field.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace mr4 {

class CUDEdit;
class CUList;
struct CameraProfile;
struct Settings;

inline constexpr int kProfileFieldCount = 39;

// The page's fields in page order over `profile`, the fit switches over the
// settings `s`.
std::array<ParamDescriptor, kProfileFieldCount> ProfileFields(CameraProfile& profile,
                                                              Settings& s);

// The page step's spin: up multiplies by 10 while below 100, down divides
// by 10 while above 0.001.
float StepProfileStep(float step, bool up);
// The spin of `ddpix`: up multiplies by 10 while below 0.1, down divides by
// 10 while above 1e-7.
float StepDdpix(float ddpix, bool up);

// "move": turns the camera so that the optical centre moves by `step` px in
// x (or in y): the new pointing is the direction of the shifted centre; rot
// follows the azimuth change only above 80 deg of elevation, and ends in
// 0..360.
void MoveProfilePointing(CameraProfile& profile, float step, bool in_y);

// The page's command ids (its buttons' object names).
enum ProfileCommand : int {
  kCmdReadProfile = 1400,
  kCmdSaveProfile,
  kCmdSaveResult,
  kCmdSetDefaults,
  kCmdInterlaced,
  kCmdBbf,
  kCmdRemoveSmall,
  kCmdAdjustAll,
  kCmdAdjustPointing,
  kCmdCalibrateMagnitude,
  kCmdAutoCalibrate,
  kCmdAnalyze,
  kCmdDeleteProfileObject,
  kCmdDeleteProfileClip,
  kCmdClick1,
  kCmdClick2,
  kCmdModifyHeights,
  kCmdTuneDlo,
  kCmdAddProfileObject,
};

inline constexpr char kNoLinkForAdjusting[] = "Please make m-s link before adjusting";
inline constexpr char kSelectAnObject[] = "please select a object";
inline constexpr char kTooManyObjects[] = "too many obj";
inline constexpr char kProfileAdjustTitle[] = "profile adjust running";

class CPageProfile final : public CPage {
 public:
  explicit CPageProfile(const LayoutScale& scale, QWidget* parent = nullptr);

  CUList* clip_list() const { return clips_; }
  CUList* object_list() const { return objects_; }
  CUDEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
  QLineEdit* step_box() const { return step_box_; }
  QLineEdit* ddpix_box() const { return ddpix_box_; }
  QLabel* match_label() const { return match_label_; }
  QLabel* photometry_label() const { return photometry_label_; }

  // Runs a command as its button does.
  void Command(int id);
  // One arrow of the step's or of ddpix's spin.
  void SpinStep(bool up);
  void SpinDdpix(bool up);
  // One arrow of a "move" spin.
  void Move(bool in_y, bool up);
  // Shows the profile, the step, ddpix, the match summary and the object
  // list again.
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
  QPushButton* AddButton(int id, const char* caption, int x, int y, int width);
  void FieldChanged(int index);
  void StarsChanged();
  void ShowMatchSummary();
  void ReadProfile();
  void SaveProfile();
  void SaveResult();
  void AdjustAll();
  void AdjustPointing();
  void CalibrateMagnitude(bool show);
  void AutoCalibrate();
  void Analyze();
  // One analysis of the clip with the profile shown; false when it did not
  // run.
  bool AnalyzeOnce();
  void PointingGrid();
  void TuneDlo();
  void AddObject();
  void DeleteObject();
  void DeleteClip();
  void PostClipSelected();
  // The object row of the object list's selected line, -1 without one.
  int SelectedObjectRow() const;
  void ArmViewClick(int end);
  void ModifyHeights();

  CUList* clips_ = nullptr;
  CUList* objects_ = nullptr;
  std::array<CUDEdit*, kProfileFieldCount> fields_{};
  QLineEdit* step_box_ = nullptr;
  QLineEdit* ddpix_box_ = nullptr;
  QLabel* match_label_ = nullptr;
  QLabel* photometry_label_ = nullptr;
  std::array<QCheckBox*, 3> switches_{};  // intlc, bbf, rm nz
  bool updating_ = false;
};

}  // namespace mr4
