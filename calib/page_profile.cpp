#include "calib/page_profile.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "analysis/analysis_context.h"
#include "analysis/analysis_run.h"
#include "analysis/pa_dlg.h"
#include "analysis/page_class.h"
#include "analysis/object_class.h"
#include "analysis/result_file.h"
#include "analysis/showers.h"
#include "app/column_layouts.h"
#include "app/settings.h"
#include "app/stop_dlg.h"
#include "base/error.h"
#include "base/process_values.h"
#include "calib/camera_model.h"
#include "calib/camera_profile.h"
#include "calib/fit_settings.h"
#include "calib/height_dlg.h"
#include "calib/page_mask.h"
#include "calib/page_smap.h"
#include "calib/profile_file.h"
#include "calib/profile_fit.h"
#include "calib/profile_trials.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "clips/clip_file_ops.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/message_queue.h"
#include "platform/ui.h"
#include "reports/export_files.h"
#include "reports/meteor_csv.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"
#include "tables/ulist.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

// The reference layout of the page [reference px].
constexpr int kButtonHeight = 18;
constexpr double kButtonFontFactor = 0.9;
constexpr int kFieldRows = 13;
constexpr int kFieldRowStep = 16;
constexpr int kFieldColumnStep = 115;
constexpr int kRowSteps = 2 + kFieldRows * kFieldRowStep + 2;
constexpr int kRowButtons1 = kRowSteps + 20;
constexpr int kRowButtons2 = kRowButtons1 + 20;
constexpr int kRowButtons3 = kRowButtons2 + 20;
constexpr int kRowMatch = kRowButtons3 + 22;
constexpr int kRowPhotometry = kRowMatch + 34;

constexpr char kProfileFilter[] = "Profile (*.XML)|*.XML";
constexpr char kProfileFolder[] = "PROF";
constexpr char kReadProfileTitle[] = "Read Profile";
constexpr char kSaveProfileTitle[] = "Save Profile";

constexpr double kPageStepFieldResolution = 0.001;
constexpr float kStepLow = 0.001f, kStepHigh = 100.0f;
constexpr float kDdpixLow = 1e-7f, kDdpixHigh = 0.1f;

// A field's change code: what follows an edit.
enum class Follow { kStars, kLongitude, kRotation, kLens, kZeroPoint, kNothing };

struct FieldSpec {
  const char* label;
  double minimum, maximum;
  double step;  // 0: the page step
  Follow follow;
};

// The page's fields in page order (text fields have no range).
constexpr FieldSpec kFieldSpecs[kProfileFieldCount] = {
    {"lid", 0, 0, 0, Follow::kNothing},         {"obs", 0, 0, 0, Follow::kNothing},
    {"memo", 0, 0, 0, Follow::kNothing},        {"lng", 0, 360, 0, Follow::kLongitude},
    {"lat", -90, 90, 0, Follow::kStars},        {"alt", -9999, 999999, 0.1, Follow::kStars},
    {"gioid", -9999, 999999, 0.1, Follow::kStars}, {"tz", -86400, 86400, 3600, Follow::kStars},
    {"tme", 0, 1000, 0.1, Follow::kStars},      {"sid", 0, 0, 0, Follow::kNothing},
    {"cam", 0, 0, 0, Follow::kNothing},         {"lens", 0, 0, 0, Follow::kNothing},
    {"cap", 0, 0, 0, Follow::kNothing},         {"fovh", 0, 360, 0, Follow::kStars},
    {"yx", 0, 2, 0, Follow::kStars},            {"k4", -1, 1, 0, Follow::kLens},
    {"k3", -1, 1, 0, Follow::kLens},            {"k2", -1, 1, 0, Follow::kLens},
    {"dx", -1000, 1000, 0.01, Follow::kStars},  {"dy", -1000, 1000, 0.01, Follow::kStars},
    {"atc", 0, 100, 0.1, Follow::kStars},       {"az", 0, 360, 0, Follow::kStars},
    {"ev", -90, 90, 0, Follow::kStars},         {"rot", -180, 180, 0, Follow::kRotation},
    {"levH", 0, 255, 1, Follow::kZeroPoint},    {"magH", -10, 30, 0, Follow::kZeroPoint},
    {"bvf", -10, 10, 0.01, Follow::kStars},     {"levL", 1, 255, 1, Follow::kZeroPoint},
    {"magL", -10, 30, 0, Follow::kZeroPoint},   {"f1", -1, 2005, 1, Follow::kStars},
    {"f2", -1, 2005, 1, Follow::kStars},        {"mins", 0, 100, 1, Follow::kStars},
    {"leap", 0, 300, 1, Follow::kStars},        {"dlo", -255, 255, 1, Follow::kStars},
    {"edeg", 0, 30, 0.1, Follow::kStars},       {"consR", 0, 10, 1, Follow::kStars},
    {"cdlim", -1, 30, 0.01, Follow::kStars},    {"fourcc", 0, 0, 0, Follow::kNothing},
    {"codec", 0, 0, 0, Follow::kNothing},
};

using FieldValue = std::variant<int*, float*, std::string*>;

std::array<FieldValue, kProfileFieldCount> FieldValues(CameraProfile& p) {
  return {&p.p_lid,    &p.p_oname,  &p.p_memo,  &p.p_lng,      &p.p_lat,     &p.p_alt,
          &p.p_gioidh, &p.p_tz,     &p.p_tme,   &p.p_sid,      &p.p_cam,     &p.p_lens,
          &p.p_cap,    &p.p_vx,     &p.p_yx,    &p.p_k4,       &p.p_k3,      &p.p_k2,
          &p.p_dx,     &p.p_dy,     &p.p_atc,   &p.p_az,       &p.p_ev,      &p.p_rot,
          &p.maxl,     &p.maxm,     &p.p_u4_bvf, &p.minl,      &p.minm,      &p.p_u4_f1,
          &p.p_u4_f2,  &p.p_u4_mins, &p.p_u4_leap, &p.p_u4_dloffset, &p.p_u4_edeg,
          &p.p_u4_consR, &p.p_u4_cdlim, &p.p_fourcc, &p.p_codec};
}

bool UsesPageStep(int index) {
  const FieldSpec& f = kFieldSpecs[index];
  return f.step == 0 && f.minimum < f.maximum;
}

void ShowTab(Host host, int tab) {
  if (CUDlg* window = MainWindow()) window->host(host)->OpenTab(tab);
}

AnalysisContext& MainContext() { return AnalysisContextAt(0); }

CPageMask* OpenMaskPage() {
  CUDlg* window = MainWindow();
  return window ? static_cast<CPageMask*>(window->OpenedPage(PageId::kMask)) : nullptr;
}

void RedrawMaskPage() {
  if (CPageMask* mask = OpenMaskPage()) mask->Redraw();
}

// The mask page's link modes end before the profile is adjusted.
void LeaveLinkModes() {
  Settings& s = AppSettings();
  if (s.m_mode < 2) return;
  s.m_mode = 0;
  if (CPageMask* mask = OpenMaskPage()) mask->Rearm();
}

// The current clip's mask picture in edit codes: an edited mask as it is,
// a capture mask converted as the star preparation converts it.
std::vector<std::uint8_t> EditCodesOfCurrentMask(const CameraProfile& p) {
  const CurrentClipState& c = CurrentClip();
  std::vector<std::uint8_t> bgr;
  if (c.row < 0 || c.mask.width != p.cx || c.mask.height != p.cy) return bgr;
  const std::size_t bytes = static_cast<std::size_t>(p.cx) * p.cy * 3;
  bgr.assign(c.mask.pixels.begin(), c.mask.pixels.begin() + static_cast<std::ptrdiff_t>(bytes));
  const Table& clips = Tables().clip;
  const int mt = clips.Int(c.row, clip::kMT);
  if (!(mt & KindBit(kKindMaskN))) {
    ConvertCaptureMask(bgr, p.cx, p.cy, p.p_u4_dapix, clips.Int(c.row, clip::kSipos),
                       clips.Int(c.row, clip::kSisize));
  }
  return bgr;
}

}  // namespace

std::array<ParamDescriptor, kProfileFieldCount> ProfileFields(CameraProfile& profile,
                                                              Settings& s) {
  const std::array<FieldValue, kProfileFieldCount> values = FieldValues(profile);
  std::array<ParamDescriptor, kProfileFieldCount> fields;
  for (int i = 0; i < kProfileFieldCount; ++i) {
    const FieldSpec& spec = kFieldSpecs[i];
    ParamDescriptor& f = fields[static_cast<std::size_t>(i)];
    f.value = values[static_cast<std::size_t>(i)];
    f.x = 1 + (i / kFieldRows) * kFieldColumnStep;
    f.row = 2 + (i % kFieldRows) * kFieldRowStep;
    f.label = spec.label;
    f.label_width = 32;
    f.edit_width = 48;
    f.minimum = spec.minimum;
    f.maximum = spec.maximum;
    f.limit = spec.minimum < spec.maximum ? ParamLimit::kClamp : ParamLimit::kNone;
    // Page-step fields show three decimals whatever the step (a lens term
    // of 0.06 must not show as 0.1); their spins move by the page step
    // (CUDEdit's own step).
    f.step = UsesPageStep(i) ? kPageStepFieldResolution : spec.step;
    f.id_base = 1500 + 5 * i;
  }
  // The fit switches of the adjustable fields.
  fields[13].on_flag = &s.p_vxON;
  fields[14].on_flag = &s.p_yxON;
  fields[15].on_flag = &s.p_k4ON;
  fields[16].on_flag = &s.p_k3ON;
  fields[17].on_flag = &s.p_k2ON;
  fields[18].on_flag = &s.p_dxON;
  fields[19].on_flag = &s.p_dyON;
  for (int i = 13; i <= 19; ++i) fields[static_cast<std::size_t>(i)].label_width = 26;
  return fields;
}

// Steps are powers of ten held as floats, so a limit is met within a
// rounding margin: 0.1 divided three times is a little above 0.001 and must
// not go on to 0.0001.
constexpr float kLimitMargin = 1.0001f;

float StepProfileStep(float step, bool up) {
  if (up) return step < kStepHigh / kLimitMargin ? step * 10.0f : step;
  return step > kStepLow * kLimitMargin ? step / 10.0f : step;
}

float StepDdpix(float ddpix, bool up) {
  if (up) return ddpix < kDdpixHigh / kLimitMargin ? ddpix * 10.0f : ddpix;
  return ddpix > kDdpixLow * kLimitMargin ? ddpix / 10.0f : ddpix;
}

void MoveProfilePointing(CameraProfile& p, float step, bool in_y) {
  const double a = p.cx / 2.0 + p.p_dx;
  const double b = p.cy / 2.0 + p.p_dy;
  const HorizontalPoint moved = PixelToHorizontal(p, in_y ? a : a + step, in_y ? b + step : b);
  if (p.p_ev > 80.0f) p.p_rot = static_cast<float>(p.p_rot + (moved.az - p.p_az));
  while (p.p_rot >= 360.0f) p.p_rot -= 360.0f;
  while (p.p_rot < 0.0f) p.p_rot += 360.0f;
  p.p_ev = static_cast<float>(moved.ev);
  p.p_az = static_cast<float>(moved.az);
}

CPageProfile::CPageProfile(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kProfile, scale, parent) {}

QPushButton* CPageProfile::AddButton(int id, const char* caption, int x, int y, int width) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::number(id));
  button->setGeometry(scale().X(x), scale().Y(y), scale().X(width), scale().Y(kButtonHeight));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * kButtonFontFactor);
  button->setFont(small);
  connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  return button;
}

void CPageProfile::OnInitPage() {
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  Settings& s = AppSettings();
  const std::array<ParamDescriptor, kProfileFieldCount> descriptors =
      ProfileFields(CurrentProfile(), s);
  for (int i = 0; i < kProfileFieldCount; ++i) {
    auto* edit = new CUDEdit(this, descriptors[static_cast<std::size_t>(i)], scale(),
                             [this, i](int) {
                               if (!updating_) FieldChanged(i);
                             });
    if (UsesPageStep(i)) edit->set_spin_step(s.pstep);
    fields_[static_cast<std::size_t>(i)] = edit;
  }

  // The page step, ddpix and the two "move" spins.
  auto spin_pair = [this](int x, const char* label, int label_width, QLineEdit** box,
                          std::function<void(bool)> spin) {
    if (label_width > 0) {
      auto* text = new QLabel(label, this);
      text->setGeometry(scale().X(x), scale().Y(kRowSteps), scale().X(label_width), scale().Y(14));
      x += label_width;
    }
    if (box) {
      *box = new QLineEdit(this);
      (*box)->setReadOnly(true);
      (*box)->setGeometry(scale().X(x), scale().Y(kRowSteps), scale().X(56), scale().Y(14));
      x += 56;
    }
    auto* up = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(scale().X(x), scale().Y(kRowSteps), scale().X(12), scale().Y(7));
    auto* down = new QToolButton(this);
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(scale().X(x), scale().Y(kRowSteps + 7), scale().X(12), scale().Y(7));
    connect(up, &QToolButton::clicked, this, [spin] { spin(true); });
    connect(down, &QToolButton::clicked, this, [spin] { spin(false); });
  };
  spin_pair(1, "step", 24, &step_box_, [this](bool up) { SpinStep(up); });
  spin_pair(94, "ddpix lim", 46, &ddpix_box_, [this](bool up) { SpinDdpix(up); });
  spin_pair(214, "move", 26, nullptr, [this](bool up) { Move(false, up); });
  spin_pair(254, "", 0, nullptr, [this](bool up) { Move(true, up); });

  struct ButtonSpec {
    int id;
    const char* caption;
    int width;
  };
  const ButtonSpec first[] = {
      {kCmdReadProfile, "read P", 36},     {kCmdSaveProfile, "save P", 36},
      {kCmdSaveResult, "save A", 36},      {kCmdSetDefaults, "set defaults", 58},
      {kCmdAdjustAll, "adj pos all", 52},  {kCmdAdjustPointing, "pos 3", 30},
      {kCmdCalibrateMagnitude, "mag", 26}, {kCmdAutoCalibrate, "A", 16},
  };
  int x = 1;
  for (const ButtonSpec& b : first) {
    AddButton(b.id, b.caption, x, kRowButtons1, b.width);
    x += b.width + 2;
  }
  // "Tune dlo" exists but is not shown; Command(kCmdTuneDlo) runs it.
  AddButton(kCmdTuneDlo, "Tune dlo", x, kRowButtons1, 40)->hide();
  const ButtonSpec second[] = {
      {kCmdAnalyze, "analyze", 44},
      {kCmdDeleteProfileObject, "delete an obj", 62},
      {kCmdDeleteProfileClip, "delete a clip", 62},
  };
  x = 1;
  for (const ButtonSpec& b : second) {
    AddButton(b.id, b.caption, x, kRowButtons2, b.width);
    x += b.width + 2;
  }
  const int switches_x = x;
  const ButtonSpec third[] = {
      {kCmdClick1, "click1", 34},
      {kCmdClick2, "click2", 34},
      {kCmdModifyHeights, "mod h", 32},
      {kCmdAddProfileObject, "add an obj", 52},
  };
  x = 1;
  for (const ButtonSpec& b : third) {
    AddButton(b.id, b.caption, x, kRowButtons3, b.width);
    x += b.width + 2;
  }
  x = switches_x;
  const char* switch_captions[] = {"intlc", "bbf", "rm nz"};
  const int switch_ids[] = {kCmdInterlaced, kCmdBbf, kCmdRemoveSmall};
  for (int i = 0; i < 3; ++i) {
    auto* box = new QCheckBox(switch_captions[i], this);
    box->setObjectName(QString::number(switch_ids[i]));
    box->setGeometry(scale().X(x + 2 + 40 * i), scale().Y(kRowButtons2), scale().X(40),
                     scale().Y(kButtonHeight));
    const int id = switch_ids[i];
    connect(box, &QCheckBox::clicked, this, [this, id] { Command(id); });
    switches_[static_cast<std::size_t>(i)] = box;
  }

  match_label_ = new QLabel(this);
  match_label_->setGeometry(scale().X(1), scale().Y(kRowMatch), scale().X(340), scale().Y(32));
  match_label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  match_label_->setWordWrap(true);
  photometry_label_ = new QLabel(this);
  photometry_label_->setGeometry(scale().X(1), scale().Y(kRowPhotometry), scale().X(340),
                                 scale().Y(16));

  ProcessTables& tables = Tables();
  objects_ = new CUList(this, *FindColumnLayout("UO2"), tables.obj);
  clips_ = new CUList(this, *FindColumnLayout("UC2"), tables.clip);
  clips_->RebuildLines();
  Refresh();
}

void CPageProfile::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  clips_->RebuildLines();
  if (CurrentClip().row >= 0) clips_->SelectRow(CurrentClip().row);
  Refresh();
}

void CPageProfile::Refresh() {
  if (!initialised()) return;
  updating_ = true;
  const Settings& s = AppSettings();
  const CameraProfile& p = CurrentProfile();
  step_box_->setText(QString::asprintf("%08.4f", s.pstep));
  ddpix_box_->setText(QString::asprintf("%9.7f", p.p_u4_ddpix));
  for (int i = 0; i < kProfileFieldCount; ++i) {
    CUDEdit* f = fields_[static_cast<std::size_t>(i)];
    if (UsesPageStep(i)) f->set_spin_step(s.pstep);
    f->Redisplay();
  }
  ShowMatchSummary();
  objects_->RebuildLines(obj::kDisp, 0);
  clips_->RedrawLine(clips_->SelectedLine());
  switches_[0]->setChecked(p.p_inter != 0);
  switches_[1]->setChecked(p.p_bbf != 0);
  switches_[2]->setChecked(p.p_u4_rm_small != 0);
  updating_ = false;
  RedrawMaskPage();
}

void CPageProfile::ShowMatchSummary() {
  match_label_->setText(QString::fromStdString(
      MatchSummaryText(StarMap(), CurrentProfile(), MainContext().stars)));
}

void CPageProfile::StarsChanged() {
  BuildVisibleStars(StarMap(), CurrentProfile(), MainContext().stars.visible);
}

void CPageProfile::FieldChanged(int index) {
  CameraProfile& p = CurrentProfile();
  switch (kFieldSpecs[index].follow) {
    case Follow::kLongitude:
      ComputeClipInstantValues(p);
      StarsChanged();
      break;
    case Follow::kRotation:
      if (p.p_rot > 180.0f) {
        p.p_rot -= 360.0f;
        updating_ = true;
        fields_[static_cast<std::size_t>(index)]->Redisplay();
        updating_ = false;
      }
      StarsChanged();
      break;
    case Follow::kLens:
      BuildDistortionTable(p);
      StarsChanged();
      break;
    case Follow::kZeroPoint: UpdateZeroPoint(p); break;
    case Follow::kStars:
    case Follow::kNothing: StarsChanged(); break;
  }
  RedrawMaskPage();
  ShowMatchSummary();
}

void CPageProfile::SpinStep(bool up) {
  Settings& s = AppSettings();
  s.pstep = StepProfileStep(s.pstep, up);
  step_box_->setText(QString::asprintf("%08.3f", s.pstep));
  for (int i = 0; i < kProfileFieldCount; ++i) {
    if (UsesPageStep(i)) fields_[static_cast<std::size_t>(i)]->set_spin_step(s.pstep);
  }
}

void CPageProfile::SpinDdpix(bool up) {
  CameraProfile& p = CurrentProfile();
  p.p_u4_ddpix = StepDdpix(p.p_u4_ddpix, up);
  ddpix_box_->setText(QString::asprintf("%9.7f", p.p_u4_ddpix));
}

void CPageProfile::Move(bool in_y, bool up) {
  const float step = AppSettings().pstep;
  MoveProfilePointing(CurrentProfile(), up ? step : -step, in_y);
  StarsChanged();
  Refresh();
}

void CPageProfile::Command(int id) {
  if (!initialised()) return;
  CameraProfile& p = CurrentProfile();
  switch (id) {
    case kCmdReadProfile: ReadProfile(); return;
    case kCmdSaveProfile: SaveProfile(); return;
    case kCmdSaveResult: SaveResult(); return;
    case kCmdSetDefaults: {
      ResetDetectionDefaults(p);
      const int row = CurrentClip().row;
      if (row >= 0) StoreProfileToRecord(p, Tables().clip, row);
      Refresh();
      return;
    }
    case kCmdInterlaced: p.p_inter = p.p_inter ? 0 : 1; Refresh(); return;
    case kCmdBbf: p.p_bbf = p.p_bbf ? 0 : 1; Refresh(); return;
    case kCmdRemoveSmall: p.p_u4_rm_small = p.p_u4_rm_small ? 0 : 1; Refresh(); return;
    case kCmdAdjustAll: AdjustAll(); return;
    case kCmdAdjustPointing: AdjustPointing(); return;
    case kCmdCalibrateMagnitude: CalibrateMagnitude(true); return;
    case kCmdAutoCalibrate: AutoCalibrate(); return;
    case kCmdAnalyze: Analyze(); return;
    case kCmdDeleteProfileObject: DeleteObject(); return;
    case kCmdDeleteProfileClip: DeleteClip(); return;
    case kCmdClick1: ArmViewClick(1); return;
    case kCmdClick2: ArmViewClick(2); return;
    case kCmdModifyHeights: ModifyHeights(); return;
    case kCmdTuneDlo: TuneDlo(); return;
    case kCmdAddProfileObject: AddObject(); return;
    default: return;
  }
}

void CPageProfile::ReadProfile() {
  std::error_code ec;
  fs::create_directories(HomeFile(kProfileFolder), ec);
  const auto chosen =
      CurrentUi().OpenFile({kReadProfileTitle, HomeFile(kProfileFolder), kProfileFilter});
  if (!chosen) return;
  CameraProfile& p = CurrentProfile();
  if (!ReadProfileFile(*chosen, p)) {
    ShowError("Cannot read the profile %s", chosen->c_str());
    return;
  }
  Clips().profile_name = chosen->filename().native();
  // The mask stars were linked under the old profile.
  ClearMaskStars(MainContext().stars);
  StarsChanged();
  Refresh();
}

void CPageProfile::SaveProfile() {
  std::error_code ec;
  fs::create_directories(HomeFile(kProfileFolder), ec);
  const CameraProfile& p = CurrentProfile();
  // The file dialog asks before it replaces a file.
  const auto chosen = CurrentUi().SaveFile(
      {kSaveProfileTitle, ProposedProfileFile(Clips().profile_name, p), kProfileFilter});
  if (!chosen) return;
  if (!SaveProfileFile(*chosen, p)) return;
  Refresh();
}

void CPageProfile::SaveResult() {
  const int row = CurrentClip().row;
  if (row < 0) return;
  if (!SaveClipResult(MainContext(), row)) return;
  Refresh();
  if (CUDlg* window = MainWindow()) {
    window->NotifyClipRowChanged(row);
  } else {
    RedrawClipRow(row);
  }
}

void CPageProfile::AdjustAll() {
  if (CurrentClip().row < 0) return;
  LeaveLinkModes();
  StarData& stars = MainContext().stars;
  if (stars.pairs.empty()) {
    CurrentUi().Message("", kNoLinkForAdjusting, MessageIcon::kWarning);
    return;
  }
  ShowMatchSummary();
  CameraProfile& p = CurrentProfile();
  const FitSwitches switches = FitSwitchesFromSettings(AppSettings());
  // The fit works on a copy: each iteration ends with a profile at least as
  // good as the one before, and the copy is taken back when the worker ends,
  // whether it converged or was stopped.
  CameraProfile fitted = p;
  RunWithProgress(kProfileAdjustTitle, [&](ProcessingState& state) {
    std::atomic<bool> stop{false};
    AdjustProgress progress;
    progress.stop = &stop;
    progress.show = [&](const std::string& text) {
      if (state.closed()) {
        stop.store(true);
        return;
      }
      state.SetStatus(text);
    };
    ::mr4::AdjustAll(fitted, stars.pairs, switches, progress);
  });
  p = fitted;
  StarsChanged();
  Refresh();
  CurrentUi().Beep();
}

void CPageProfile::AdjustPointing() {
  if (CurrentClip().row < 0) return;
  LeaveLinkModes();
  StarData& stars = MainContext().stars;
  if (stars.pairs.empty()) {
    CurrentUi().Message("", kNoLinkForAdjusting, MessageIcon::kWarning);
    return;
  }
  ::mr4::AdjustPointing(CurrentProfile(), stars.pairs);
  StarsChanged();
  Refresh();
}

void CPageProfile::CalibrateMagnitude(bool show) {
  if (CurrentClip().row < 0) return;
  StarData& stars = MainContext().stars;
  if (show && (stars.pairs.empty() || AppSettings().m_mode >= 2)) return;
  CameraProfile& p = CurrentProfile();
  const std::vector<std::uint8_t> mask = EditCodesOfCurrentMask(p);
  if (!mask.empty()) FillMaskPlanes(p, mask, stars.planes);
  const PhotometryResult result = ::mr4::CalibrateMagnitude(StarMap(), p, stars);
  Tables().clip.SetFloat(CurrentClip().row, clip::kErrm, static_cast<float>(result.errm));
  photometry_label_->setText(QString::fromStdString(PhotometryText(p, result)));
  Refresh();
}

void CPageProfile::AutoCalibrate() {
  const int row = CurrentClip().row;
  if (row < 0) return;
  Ui& ui = CurrentUi();
  CameraProfile& p = CurrentProfile();
  StarData& stars = MainContext().stars;
  ui.SetWaitCursor(true);
  Tables().clip.SetFloat(row, clip::kErrm, -1.0f);
  const std::vector<std::uint8_t> mask = EditCodesOfCurrentMask(p);
  if (!mask.empty()) {
    // The fixed star fit the analysis runs, from the profile shown here;
    // a pointing fit it cannot keep returns to the clip's own profile.
    CameraProfile recorded = p;
    LoadProfileFromRecord(Tables().clip, row, true, recorded);
    BuildDistortionTable(recorded);
    BuildDistortionTable(p);
    StarsChanged();
    const StarFitResult fit = StarFitSequence(StarMap(), recorded, mask, p, stars);
    StarsChanged();
    Tables().clip.SetFloat(row, clip::kErrm, static_cast<float>(fit.photometry.errm));
    photometry_label_->setText(QString::fromStdString(PhotometryText(p, fit.photometry)));
  }
  ui.SetWaitCursor(false);
  Refresh();
  Analyze();
}

void CPageProfile::Analyze() {
  const int row = CurrentClip().row;
  CUDlg* window = MainWindow();
  if (row < 0 || !window) return;
  if (CurrentUi().Keys().ctrl) {
    PointingGrid();
    return;
  }
  AnalyzeOnce();
  window->NotifyClipRowChanged(row);
  MakeClipCurrent(row);
  Refresh();
}

bool CPageProfile::AnalyzeOnce() {
  const int row = CurrentClip().row;
  CUDlg* window = MainWindow();
  if (row < 0 || !window) return false;
  // The analysis takes the clip row's profile: the one shown here, adjusted
  // or edited, is put there first.
  StoreProfileToRecord(CurrentProfile(), Tables().clip, row);
  return RunSequentialAnalysisDialog(*window, row) == kAnalysisOk;
}

void CPageProfile::PointingGrid() {
  const int row = CurrentClip().row;
  CUDlg* window = MainWindow();
  if (row < 0 || !window) return;
  char text[96];
  std::snprintf(text, sizeof text, kPointingGridFormat, kPointingGridStep, kPointingGridStep,
                kPointingGridStep);
  CurrentUi().Status(text);
  CameraProfile& p = CurrentProfile();
  TryPointingGrid(p, [&](int n) {
    AnalyzeOnce();
    MeteorCsvOptions options;
    options.number = n;
    const ProcessTables& tables = Tables();
    ExportMeteorCsv(tables.clip, tables.obj, {p.p_lid, p.p_sid}, ExportFolder(AppSettings()),
                    options, App().scrambler);
  });
  // The row keeps the pointing it had, not the last trial's.
  StoreProfileToRecord(p, Tables().clip, row);
  window->NotifyClipRowChanged(row);
  MakeClipCurrent(row);
  Refresh();
}

void CPageProfile::TuneDlo() {
  const int row = CurrentClip().row;
  CUDlg* window = MainWindow();
  if (row < 0 || !window) return;
  TuneDetectionLevel(
      CurrentProfile(), [this] { return AnalyzeOnce(); },
      [row] { return DetectionLevelScore(Tables().clip, Tables().obj, row); });
  window->NotifyClipRowChanged(row);
  MakeClipCurrent(row);
  Refresh();
}

void CPageProfile::AddObject() {
  const int clip_row = CurrentClip().row;
  if (clip_row < 0) return;
  const int object_row = AddManualObject(MainContext(), clip_row);
  if (object_row < 0) {
    CurrentUi().Message("", kTooManyObjects, MessageIcon::kWarning);
    return;
  }
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(clip_row);
  CurrentClip().current_object = object_row;
  objects_->RebuildLines(obj::kDisp, 0);
  objects_->SelectLine(objects_->line_count() - 1);
}

void CPageProfile::DeleteObject() {
  const int line = objects_->SelectedLine();
  const int object_row = objects_->lines().RowAt(line);
  const int clip_row = CurrentClip().row;
  if (clip_row < 0) return;
  if (object_row < 0) {
    CurrentUi().Message("", kSelectAnObject, MessageIcon::kWarning);
    return;
  }
  DeleteObjectOfClip(MainContext(), clip_row, object_row);
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(clip_row);
  MakeClipCurrent(clip_row);
  objects_->RebuildLines(obj::kDisp, 0);
  if (line < objects_->line_count()) objects_->SelectLine(line);
}

void CPageProfile::DeleteClip() {
  const int line = clips_->SelectedLine();
  const int row = clips_->lines().RowAt(line);
  if (row < 0) return;
  const int next = clips_->lines().RowAt(line + 1);
  FileOpRun run;
  ::mr4::DeleteClip(row, next, run);
  clips_->RebuildLines();
  if (CUDlg* window = MainWindow()) {
    if (CPage* main = window->OpenedPage(PageId::kMain)) main->RedrawClipRow(-1);
  }
  const int current = CurrentClip().row;
  const int shown = current >= 0 ? clips_->lines().LineOf(current) : -1;
  clips_->SelectLine(shown >= 0 ? shown : 0);
  PostClipSelected();
}

int CPageProfile::SelectedObjectRow() const {
  return objects_->lines().RowAt(objects_->SelectedLine());
}

void CPageProfile::ArmViewClick(int end) {
  const int clip_row = CurrentClip().row;
  CUDlg* window = MainWindow();
  if (clip_row < 0 || !window) return;
  const int object_row = SelectedObjectRow();
  if (object_row < 0) {
    CurrentUi().Message("", kSelectAnObject, MessageIcon::kWarning);
    return;
  }
  // The View page writes the end point into the current object.
  const auto arm = [end, clip_row, object_row](CUDlg& w) {
    auto* view = dynamic_cast<CPageSmap*>(w.OpenedPage(PageId::kView));
    if (!view || CurrentClip().row != clip_row || !Tables().obj.Exists(object_row)) return;
    if (CurrentClip().current_object != object_row) SelectCurrentObject(object_row);
    view->SetClickMode(end);
  };
  const CPage* before = window->OpenedPage(PageId::kView);
  const bool was_shown = before && before->isVisible();
  window->ShowPage(PageId::kView);
  arm(*window);
  if (was_shown) return;
  // Coming to the front, the View page reopens the current clip through the
  // main queue, which disarms it and makes the clip's first object current
  // again: the click is armed once more after that.
  QPointer<CUDlg> target(window);
  MainQueue().Post([target, arm] {
    if (target) arm(*target);
  });
}

void CPageProfile::ModifyHeights() {
  const int clip_row = CurrentClip().row;
  if (clip_row < 0) return;
  const int object_row = SelectedObjectRow();
  if (object_row < 0) {
    CurrentUi().Message("", kSelectAnObject, MessageIcon::kWarning);
    return;
  }
  OpenHeightDialog(this, clip_row, object_row);
}

void CPageProfile::PostClipSelected() {
  QPointer<CPageProfile> page(this);
  MainQueue().Post([page] {
    if (page) page->OnPageMessage(1325, 0, 0);
  });
}

void CPageProfile::RedrawClipRow(int clip_row) {
  if (!initialised()) return;
  clips_->RedrawLine(clip_row < 0 ? clips_->SelectedLine() : clips_->lines().LineOf(clip_row));
  objects_->RebuildLines(obj::kDisp, 0);
}

void CPageProfile::ReloadClipLists() {
  if (!initialised()) return;
  clips_->RebuildLines();
  if (CurrentClip().row >= 0) clips_->SelectRow(CurrentClip().row);
  Refresh();
}

bool CPageProfile::HasClipLines() const { return clips_ && clips_->line_count() > 0; }

std::optional<int> CPageProfile::SelectedClipLine() const {
  if (!clips_) return std::nullopt;
  const int line = clips_->SelectedLine();
  return line < 0 ? std::nullopt : std::optional<int>(line);
}

void CPageProfile::SelectClipRow(int clip_row) {
  if (clips_) clips_->SelectRow(clip_row);
}

void CPageProfile::OnClipSelected(int) {
  const int line = clips_->SelectedLine();
  const int row = clips_->lines().RowAt(line);
  if (row < 0) return;
  MakeClipCurrent(row);
  ClearMaskStars(MainContext().stars);
  Refresh();
}

void CPageProfile::OnPageMessage(int message, int, int second) {
  if (!initialised()) return;
  switch (message) {
    case 1325: OnClipSelected(second); return;
    case 1328: {
      const int line = objects_->SelectedLine();
      if (line < 0 || line >= objects_->line_count()) return;
      CurrentClip().object_selection = line;
      SelectCurrentObject(objects_->lines().RowAt(line));
      return;
    }
    case 1331:
      if (CurrentClip().current_object >= 0) OpenChangeClassDialog(this);
      return;
    default: break;
  }
  if (message >= kListDigitKey1 && message < kListDigitKey1 + 5) {
    ShowTab(Host::kLeft, message - kListDigitKey1);
  } else if (message >= kListLetterKeyA + 3 && message <= kListLetterKeyA + 6) {
    ShowTab(Host::kRight, message - (kListLetterKeyA + 3));
  }
}

}  // namespace mr4
