#include "calib/page_mask.h"

#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "analysis/analysis_context.h"
#include "analysis/detector.h"
#include "analysis/view_picture.h"
#include "astro/sky_coordinates.h"
#include "app/settings.h"
#include "base/error.h"
#include "calib/camera_model.h"
#include "calib/camera_profile.h"
#include "calib/profile_fit.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"
#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "clips/page_main.h"
#include "platform/ui.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"

namespace mr4 {

// The picture: the display buffer scaled to fit, mouse events in image
// pixels.
class CMaskView final : public QWidget {
 public:
  explicit CMaskView(CPageMask* page) : QWidget(page), page_(page) { setMouseTracking(true); }

  void Show(const std::vector<std::uint8_t>& bgr, int width, int height) {
    image_ = QImage(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
      // Rows from the bottom, blue-green-red.
      const std::uint8_t* in = bgr.data() + static_cast<std::size_t>(height - 1 - y) * width * 3;
      std::uint8_t* out = image_.scanLine(y);
      for (int x = 0; x < width; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
      }
    }
    update();
  }
  void SetRubber(QLine line, bool rect, bool on) {
    rubber_ = line;
    rubber_rect_ = rect;
    rubber_on_ = on;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (image_.isNull()) return;
    painter.drawImage(Target(), image_);
    if (!rubber_on_) return;
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    const QLine l(ToScreen(rubber_.p1()), ToScreen(rubber_.p2()));
    if (rubber_rect_) {
      painter.drawRect(QRect(l.p1(), l.p2()).normalized());
    } else {
      painter.drawLine(l);
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (const auto p = ToImage(e->position().toPoint())) page_->Press(p->x(), p->y(), e->button() == Qt::LeftButton);
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const auto p = ToImage(e->position().toPoint());
    if (!p) return;
    if (e->buttons() != Qt::NoButton) {
      page_->Drag(p->x(), p->y());
    } else {
      page_->Hover(p->x(), p->y());
    }
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    const QPoint s = e->position().toPoint();
    const QRect t = Target();
    // A release beyond the picture ends the stroke at its edge.
    const QPoint c(std::clamp(s.x(), t.left(), t.right()), std::clamp(s.y(), t.top(), t.bottom()));
    if (const auto p = ToImage(c)) page_->Release(p->x(), p->y());
  }

 private:
  QRect Target() const {
    if (image_.isNull()) return {};
    const double f = std::min(static_cast<double>(width()) / image_.width(),
                              static_cast<double>(height()) / image_.height());
    return QRect(0, 0, std::max(1, static_cast<int>(image_.width() * f)),
                 std::max(1, static_cast<int>(image_.height() * f)));
  }
  std::optional<QPoint> ToImage(QPoint s) const {
    const QRect t = Target();
    if (!t.contains(s)) return std::nullopt;
    const double scale = static_cast<double>(image_.width()) / t.width();
    const int x = std::min(image_.width() - 1, static_cast<int>((s.x() - t.left()) * scale));
    const int y = image_.height() - 1 -
                  std::min(image_.height() - 1, static_cast<int>((s.y() - t.top()) * scale));
    return QPoint(x, y);
  }
  QPoint ToScreen(QPoint image) const {
    const QRect t = Target();
    const double f = static_cast<double>(t.width()) / image_.width();
    return QPoint(t.left() + static_cast<int>(image.x() * f),
                  t.top() + static_cast<int>((image_.height() - 1 - image.y()) * f));
  }

  CPageMask* page_;
  QImage image_;
  QLine rubber_;
  bool rubber_rect_ = false;
  bool rubber_on_ = false;
};

namespace {

// The reference layout [reference px]: the buttons in rows under the picture.
constexpr int kButtonHeight = 16;
constexpr int kButtonRowStep = 18;
constexpr int kButtonRows = 5;
constexpr int kFieldRows = 2;
constexpr int kBelowPicture = kButtonRows * kButtonRowStep + kFieldRows * 16 + 48;
constexpr double kButtonFontFactor = 0.85;
constexpr int kLinkSelectReach = 30;  // |dx| + |dy| [px]
constexpr int kManualStarLimit = 10000;

AnalysisContext& MainContext() { return AnalysisContextAt(0); }

void DrawCross(DisplayPicture& p, int x, int y, int arm, int channel, std::uint8_t value) {
  for (int k = -arm; k <= arm; ++k) {
    for (const auto& [px, py] : {std::pair{x + k, y}, std::pair{x, y + k}}) {
      if (px < 0 || py < 0 || px >= p.width || py >= p.height) continue;
      p.bgr[(static_cast<std::size_t>(py) * p.width + px) * 3 + channel] = value;
    }
  }
}

void DrawSquare(DisplayPicture& p, int x, int y, int half, int channel, std::uint8_t value) {
  for (int k = -half; k <= half; ++k) {
    for (const auto& [px, py] : {std::pair{x + k, y - half}, std::pair{x + k, y + half},
                                std::pair{x - half, y + k}, std::pair{x + half, y + k}}) {
      if (px < 0 || py < 0 || px >= p.width || py >= p.height) continue;
      p.bgr[(static_cast<std::size_t>(py) * p.width + px) * 3 + channel] = value;
    }
  }
}

void DrawLineInto(DisplayPicture& p, double x1, double y1, double x2, double y2, int channel,
                  std::uint8_t value) {
  const int steps = static_cast<int>(std::max(std::abs(x2 - x1), std::abs(y2 - y1))) + 1;
  for (int k = 0; k <= steps; ++k) {
    const int x = static_cast<int>(std::lround(x1 + (x2 - x1) * k / steps));
    const int y = static_cast<int>(std::lround(y1 + (y2 - y1) * k / steps));
    if (x < 0 || y < 0 || x >= p.width || y >= p.height) continue;
    p.bgr[(static_cast<std::size_t>(y) * p.width + x) * 3 + channel] = value;
  }
}

}  // namespace

CPageMask::CPageMask(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kMask, scale, parent) {}

QPushButton* CPageMask::AddButton(int id, const char* caption, int x, int y, int width) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::number(id));
  button->setGeometry(scale().X(x), y, scale().X(width), scale().Y(kButtonHeight));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * kButtonFontFactor);
  button->setFont(small);
  connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  return button;
}

void CPageMask::OnInitPage() {
  setStyleSheet("QPushButton { padding: 0px 1px; } QPushButton:checked { background: #9cf; }");
  view_ = new CMaskView(this);
  status_ = new QLabel(this);
  readout_ = new QLabel(this);
  readout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont fixed("Monospace");
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setPointSizeF(font().pointSizeF() * 0.85);
  readout_->setFont(fixed);
  PlaceView();
  // A clip opened anywhere brings its mask here.
  QPointer<CPageMask> self(this);
  std::function<void()> previous = CurrentClip().on_changed;
  CurrentClip().on_changed = [previous, self] {
    if (previous) previous();
    if (self) self->Reload();
  };
  Reload();
}

void CPageMask::PlaceView() {
  if (!view_) return;
  const int below = scale().Y(kBelowPicture);
  const int picture_height = std::max(40, height() - below);
  view_->setGeometry(0, 0, width(), picture_height);
  // The controls are rebuilt under the picture whenever the page's size
  // changes: their rows follow its height.
  for (QPushButton* b : findChildren<QPushButton*>()) b->deleteLater();
  for (CUDEdit* f : fields_) f->deleteLater();
  fields_.clear();
  struct ButtonSpec {
    int id;
    const char* caption;
    int width;
  };
  const std::vector<std::vector<ButtonSpec>> rows = {
      {{kCmdMaskPrev, "prev", 26}, {kCmdMaskNext, "next", 26}, {kCmdModeEdit, "edit", 24},
       {kCmdModeAuto, "auto", 24}, {kCmdModeLink, "link", 24}, {kCmdManualLink, "manual link", 52},
       {kCmdAutoLink, "auto link", 42}, {kCmdRelink, "< SD", 26}, {kCmdClearLink, "clear link", 46}},
      {{kCmdToolDot, "dot", 22}, {kCmdToolLine, "line", 22}, {kCmdToolRect, "rect", 24},
       {kCmdPen0, "", 12}, {kCmdPen1, "", 14}, {kCmdPen2, "", 18},
       {kCmdTypeDetectionArea, "d-area", 32}, {kCmdTypeArea, "area-mask", 44},
       {kCmdTypeStar, "scl-mask", 40}, {kCmdTypeOpt, "opt-mask", 40}},
      {{kCmdFill, "fill", 22}, {kCmdClear, "clr", 22}, {kCmdAllOm, "all om", 32},
       {kCmdAutoArea, "amask", 32}, {kCmdAutoCloud, "cmask", 32}, {kCmdAutoStar, "smask", 32},
       {kCmdQuickMask, "qm", 20}, {kCmdQuickMaskLine, "qm l", 24}},
      {{kCmdSaveImage, "save", 26}, {kCmdX1, "x1", 18}, {kCmdResetMask, "reset", 28},
       {kCmdSwitchStars, "s", 14}, {kCmdSwitchGraphs, "mg", 18}, {kCmdSwitchLines, "lin", 18},
       {kCmdSwitchResiduals, "r", 14}, {kCmdSwitchHits, "h", 14}},
  };
  int y = picture_height + scale().Y(2);
  for (const auto& row : rows) {
    int x = 1;
    for (const ButtonSpec& b : row) {
      QPushButton* button = AddButton(b.id, b.caption, x, y, b.width);
      button->setCheckable(b.id >= kCmdModeEdit && b.id <= kCmdTypeOpt && b.id != kCmdManualLink);
      if (b.id >= kCmdSwitchStars) button->setCheckable(true);
      button->show();
      x += b.width + 2;
    }
    y += scale().Y(kButtonRowStep);
  }
  // The fields.
  Settings& s = AppSettings();
  CameraProfile& p = CurrentProfile();
  struct FieldSpec {
    std::variant<int*, float*, std::string*> value;
    const char* label;
    int label_width;
    double minimum, maximum, step;
  };
  const FieldSpec specs[] = {
      {&s.m_alev, "glev", 20, -512, 0, 1},   {&s.m_slev, "slev", 20, 0, 512, 0.1},
      {&s.m_smax, "smax", 22, 0, 512, 1},    {&s.m_size0, "size1", 24, 1, 99, 1},
      {&s.m_size1, "size2", 24, 1, 99, 1},   {&s.m_size2, "size3", 24, 1, 99, 1},
      {&p.p_u4_refmag, "", 0, -5, 11, 0.1},  {&s.m_asize, "g-pix", 24, 1, 99, 1},
      {&s.m_ssize, "s-pix", 24, 1, 99, 1},   {&p.p_u4_dlim, "lim", 16, 1, 99, 1},
      {&p.p_u4_dapix, "dapix", 24, 2, 512, 1},
  };
  int x = 1;
  int row = 0;
  for (std::size_t i = 0; i < std::size(specs); ++i) {
    const FieldSpec& spec = specs[i];
    const int width = spec.label_width + 30 + 12;
    if (x + width > 345) {
      x = 1;
      ++row;
    }
    ParamDescriptor field{spec.value};
    field.x = x;
    field.row = 0;
    field.label = spec.label;
    field.label_width = spec.label_width;
    field.edit_width = 30;
    field.minimum = spec.minimum;
    field.maximum = spec.maximum;
    field.limit = ParamLimit::kClamp;
    field.step = spec.step;
    field.id_base = 1700 + 5 * static_cast<int>(i);
    auto* edit = new CUDEdit(this, field, scale(), [this, i](int) {
      if (i == 6) BuildVisibleStars(StarMap(), CurrentProfile(), MainContext().stars.visible);
      Redraw();
    });
    edit->move(edit->x(), y + scale().Y(16) * row);
    edit->show();
    fields_.push_back(edit);
    x += width + 4;
  }
  y += scale().Y(16) * (row + 1);
  status_->setGeometry(scale().X(1), y, width() / 2 - scale().X(2), scale().Y(14));
  readout_->setGeometry(width() / 2, y, width() / 2, scale().Y(44));
  Rearm();
}

void CPageMask::resizeEvent(QResizeEvent* event) {
  CPage::resizeEvent(event);
  if (initialised()) {
    PlaceView();
    Redraw();
  }
}

void CPageMask::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  Settings& s = AppSettings();
  if (s.m_mode == 3) s.m_mode = 2;
  BuildVisibleStars(StarMap(), CurrentProfile(), MainContext().stars.visible);
  Rearm();
  Reload();
}

void CPageMask::Rearm() {
  const Settings& s = AppSettings();
  auto check = [this](int id, bool on) {
    if (auto* b = findChild<QPushButton*>(QString::number(id))) b->setChecked(on);
  };
  for (int m = 0; m < 3; ++m) check(kCmdModeEdit + m, s.m_mode == m);
  if (auto* b = findChild<QPushButton*>(QString::number(kCmdManualLink))) {
    b->setText(s.m_mode == 3 ? "finish link" : "manual link");
  }
  for (int t = 0; t < 3; ++t) check(kCmdToolDot + t, s.m_shape == t);
  for (int z = 0; z < 3; ++z) check(kCmdPen0 + z, s.m_size == z);
  for (int t = 0; t < 4; ++t) check(kCmdTypeDetectionArea + t, s.m_clr == t);
  check(kCmdSwitchStars, s.m_star != 0);
  check(kCmdSwitchGraphs, s.m_mgrf != 0);
  check(kCmdSwitchLines, s.m_mgln != 0);
  check(kCmdSwitchResiduals, s.m_rgraph != 0);
  check(kCmdSwitchHits, s.m_objplot != 0);
}

bool CPageMask::HaveClip() const { return CurrentClip().row >= 0 && mask_.width > 0; }

void CPageMask::EnsureMask() {
  if (CurrentClip().row != loaded_row_) Reload();
}

void CPageMask::Reload() {
  const CurrentClipState& c = CurrentClip();
  const CameraProfile& p = CurrentProfile();
  loaded_row_ = c.row;
  show_result_ = false;
  show_still_ = false;
  selected_star_ = -1;
  // Whatever the last clip left is cleared first: a mask that cannot be
  // read leaves an empty picture, never the previous clip's.
  mask_bytes_.assign(static_cast<std::size_t>(std::max(p.cx, 0)) * std::max(p.cy, 0) * 3, 0);
  mask_ = {mask_bytes_, p.cx, p.cy};
  if (c.row < 0) {
    mask_ = {mask_bytes_, 0, 0};
    Redraw();
    return;
  }
  const Table& clips = Tables().clip;
  const int mt = clips.Int(c.row, clip::kMT);
  const std::size_t bytes = mask_bytes_.size();
  if (mt & (KindBit(kKindMaskN) | KindBit(kKindMaskM))) {
    // A mask picture that could not be read (or has another size) stays
    // cleared.
    if (c.mask.width == p.cx && c.mask.height == p.cy) {
      std::memcpy(mask_bytes_.data(), c.mask.pixels.data(), bytes);
      if (!(mt & KindBit(kKindMaskN))) {
        ConvertCaptureMask(mask_bytes_, p.cx, p.cy, p.p_u4_dapix, clips.Int(c.row, clip::kSipos),
                           clips.Int(c.row, clip::kSisize));
      }
    }
  } else if (c.still.width == p.cx && c.still.height == p.cy) {
    // No mask picture: every pixel free, the still's brightness.
    for (std::size_t i = 0; i < bytes; i += 3) mask_bytes_[i + 1] = c.still.pixels[i + 1];
  }
  Redraw();
}

MaskRule CPageMask::CurrentRule(bool paint) const {
  return RuleOf(static_cast<MaskType>(std::clamp(AppSettings().m_clr, 0, 3)), paint);
}

int CPageMask::BrushSize() const {
  const Settings& s = AppSettings();
  switch (s.m_size) {
    case 1: return s.m_size1;
    case 2: return s.m_size2;
    default: return s.m_size0;
  }
}

AutoMaskParameters CPageMask::AutoParameters() const {
  const Settings& s = AppSettings();
  AutoMaskParameters p;
  p.area_brush = s.m_asize;
  p.star_brush = s.m_ssize;
  p.largest = s.m_smax;
  p.star_level = s.m_slev;
  p.area_level = s.m_alev;
  p.cloud_level = s.m_clev;
  const int row = CurrentClip().row;
  if (row >= 0) {
    p.text_band_top = Tables().clip.Int(row, clip::kSipos);
    p.text_band_rows = Tables().clip.Int(row, clip::kSisize);
  }
  return p;
}

void CPageMask::Edited() {
  const int row = CurrentClip().row;
  if (row < 0 || mask_.width <= 0) return;
  Table& clips = Tables().clip;
  const std::filesystem::path path =
      EditedMaskPath(std::string(clips.Text(row, clip::kDirectory)), clips.Text(row, clip::kClipName));
  if (!WriteEditedMask(path, mask_)) return;
  RecordEditedMask(row, path.filename().native());
  // The clip's mask is the edited one now, for every page.
  CurrentClipState& c = CurrentClip();
  if (c.mask.pixels.size() >= mask_bytes_.size()) {
    std::memcpy(c.mask.pixels.data(), mask_bytes_.data(), mask_bytes_.size());
    c.mask.width = mask_.width;
    c.mask.height = mask_.height;
  }
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(row);
  show_result_ = false;
  show_still_ = false;
  Redraw();
}

void CPageMask::Command(int id) {
  if (!initialised()) return;
  EnsureMask();
  Settings& s = AppSettings();
  const bool ctrl = CurrentUi().Keys().ctrl;
  if (id >= kCmdModeEdit && id <= kCmdModeLink) {
    s.m_mode = id - kCmdModeEdit;
    Rearm();
    return;
  }
  if (id >= kCmdToolDot && id <= kCmdToolRect) {
    s.m_shape = id - kCmdToolDot;
    Rearm();
    return;
  }
  if (id >= kCmdPen0 && id <= kCmdPen2) {
    s.m_size = id - kCmdPen0;
    Rearm();
    return;
  }
  if (id >= kCmdTypeDetectionArea && id <= kCmdTypeOpt) {
    s.m_clr = id - kCmdTypeDetectionArea;
    Rearm();
    return;
  }
  auto toggle = [&](int& flag) {
    flag = flag ? 0 : 1;
    Rearm();
    Redraw();
  };
  switch (id) {
    case kCmdMaskPrev:
    case kCmdMaskNext:
      if (CUDlg* window = MainWindow()) {
        if (auto* main = static_cast<CPageMain*>(window->OpenedPage(PageId::kMain))) {
          main->Command(id == kCmdMaskNext ? kCmdNext : kCmdPrev);
        }
      }
      return;
    case kCmdManualLink:
      if (s.m_mode == 3) {
        s.m_mode = 2;
      } else {
        s.m_mode = 3;
        s.m_shape = 1;
        ClearMaskStars(MainContext().stars);
        manual_stars_ = 0;
        SetStatus(kClickStarOne);
      }
      Rearm();
      Redraw();
      return;
    case kCmdSwitchStars: toggle(s.m_star); return;
    case kCmdSwitchGraphs: toggle(s.m_mgrf); return;
    case kCmdSwitchLines: toggle(s.m_mgln); return;
    case kCmdSwitchResiduals: toggle(s.m_rgraph); return;
    case kCmdSwitchHits: toggle(s.m_objplot); return;
    case kCmdSaveImage: SaveImage(); return;
    case kCmdX1:
      if (CUDlg* window = MainWindow()) window->ShowPage(PageId::kView);
      return;
    case kCmdResetMask: ResetMask(); return;
    default: break;
  }
  if (!HaveClip()) return;
  switch (id) {
    case kCmdFill:
    case kCmdClear:
      if (id == kCmdClear && s.m_shape == 4) {
        ClearMaskStars(MainContext().stars);
        Redraw();
        return;
      }
      ApplyAll(mask_, CurrentRule(id == kCmdFill));
      break;
    case kCmdAllOm: ApplyAll(mask_, RuleOf(MaskType::kOpt, true)); break;
    case kCmdAutoArea: AutoAreaMask(mask_, AutoParameters()); break;
    case kCmdAutoCloud: AutoCloudMask(mask_, AutoParameters()); break;
    case kCmdAutoStar:
      s.m_clr = static_cast<int>(MaskType::kStar);
      Rearm();
      AutoStarMask(mask_, AutoParameters());
      break;
    case kCmdQuickMask:
    case kCmdQuickMaskLine:
      if (!ctrl) ApplyAll(mask_, RuleOf(MaskType::kOpt, true));
      s.m_mode = 0;
      s.m_shape = id == kCmdQuickMask ? 2 : 1;
      s.m_clr = 0;
      Rearm();
      Edited();
      // The still to paint the detection area on.
      show_still_ = true;
      Redraw();
      return;
    case kCmdAutoLink: AutoLink(); return;
    case kCmdRelink:
      RelinkOutliers(StarMap(), CurrentProfile(), MainContext().stars);
      SetStatus(MatchSummaryText(StarMap(), CurrentProfile(), MainContext().stars));
      Redraw();
      return;
    case kCmdClearLink:
      ClearMaskStars(MainContext().stars);
      Redraw();
      return;
    default: return;
  }
  Edited();
}

void CPageMask::AutoLink() {
  CameraProfile& p = CurrentProfile();
  StarData& stars = MainContext().stars;
  BuildVisibleStars(StarMap(), p, stars.visible);
  DetectMaskStars(StarMap(), p, mask_bytes_, stars);
  SetStatus(MatchSummaryText(StarMap(), p, stars));
  Redraw();
}

void CPageMask::SaveImage() {
  if (display_.empty()) return;
  const int row = CurrentClip().row;
  const std::string name = row >= 0 ? std::string(Tables().clip.Text(row, clip::kClipName)) : "";
  // The last directory an image was saved in, for this run of the program.
  static std::filesystem::path last_directory;
  const auto chosen = CurrentUi().SaveFile(
      {"Save Image", last_directory / (name + "_mask.bmp"), "BMP(*.bmp)|*.bmp"});
  if (!chosen) return;
  last_directory = chosen->parent_path();
  const std::string file = chosen->filename().native();
  const char third = file.size() >= 3 ? file[file.size() - 3] : ' ';
  // The file dialog asks before it replaces a file.
  if (third == 'b' || third == 'B') {
    WriteStillBmp(*chosen, display_, mask_.width, mask_.height);
  } else if (third == 'j' || third == 'J') {
    SaveStillImage(*chosen, display_, mask_.width, mask_.height);
  }
}

void CPageMask::ResetMask() {
  const int row = CurrentClip().row;
  if (row < 0) return;
  Table& clips = Tables().clip;
  std::error_code ec;
  std::filesystem::remove(
      EditedMaskPath(std::string(clips.Text(row, clip::kDirectory)), clips.Text(row, clip::kClipName)), ec);
  RecordEditedMask(row, "");
  if (CUDlg* window = MainWindow()) window->NotifyClipRowChanged(row);
  MakeClipCurrent(row);
  Reload();
}

void CPageMask::Press(int x, int y, bool left) {
  EnsureMask();
  if (!HaveClip() || !mask_.Inside(x, y)) return;
  Settings& s = AppSettings();
  pressed_ = true;
  press_left_ = left;
  press_ = last_ = QPoint(x, y);
  if (s.m_mode == 2) {
    pressed_ = false;
    LinkClick(left);
    return;
  }
  if (s.m_mode == 3) {
    // The press must start at a drawn catalogue star.
    const CameraProfile& p = CurrentProfile();
    const HorizontalPoint sky = PixelToHorizontal(p, x, y);
    const EquatorialPoint eq = HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, sky.az, sky.ev);
    manual_catalogue_ = NearestCatalogueStar(MainContext().stars.visible, eq.ra, eq.dec, -1,
                                             p.p_vx / p.cx * 20.0);
    if (manual_catalogue_ < 0) {
      pressed_ = false;
      SetStatus(kNoStarNear);
      return;
    }
    SetStatus(QString::asprintf("Click Mask%d (blue)", manual_stars_ + 1).toStdString());
    return;
  }
  if (s.m_mode != 0) return;
  if (s.m_shape == 0) {
    ApplyBrush(mask_, x, y, BrushSize(), CurrentRule(left));
    Redraw();
  }
}

void CPageMask::Drag(int x, int y) {
  if (!pressed_) return;
  const Settings& s = AppSettings();
  if (s.m_mode == 0 && s.m_shape == 0) {
    ApplyLine(mask_, last_.x(), last_.y(), x, y, BrushSize(), CurrentRule(press_left_));
    Redraw();
  } else {
    view_->SetRubber(QLine(press_, QPoint(x, y)), s.m_shape == 2 && s.m_mode == 0, true);
  }
  last_ = QPoint(x, y);
}

void CPageMask::Release(int x, int y) {
  if (!pressed_) return;
  pressed_ = false;
  view_->SetRubber({}, false, false);
  Settings& s = AppSettings();
  if (s.m_mode == 3) {
    if (++manual_stars_ >= kManualStarLimit) FatalError(" MASK COUNT LIMIT ");
    const CameraProfile& p = CurrentProfile();
    StarData& stars = MainContext().stars;
    MaskStar star;
    star.seed_x = x;
    star.seed_y = y;
    star.x = x;
    star.y = y;
    star.flux = 1.0;
    star.link = manual_catalogue_;
    const HorizontalPoint sky = PixelToHorizontal(p, x, y);
    star.az = sky.az;
    star.ev = sky.ev;
    const EquatorialPoint eq = HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, sky.az, sky.ev);
    star.ra = eq.ra;
    star.dec = eq.dec;
    stars.mask_stars.push_back(star);
    MeasureResiduals(StarMap(), p, star.link, static_cast<int>(stars.mask_stars.size()) - 1, stars);
    const HorizontalPoint at_press = PixelToHorizontal(p, press_.x(), press_.y());
    stars.pairs.push_back({static_cast<double>(x), static_cast<double>(y), at_press.az, at_press.ev});
    SetStatus(QString::asprintf("Click Star %d (yellow)", manual_stars_ + 1).toStdString());
    Redraw();
    return;
  }
  if (s.m_mode != 0) return;
  switch (s.m_shape) {
    case 0: ApplyBrush(mask_, x, y, BrushSize(), CurrentRule(press_left_)); break;
    case 1:
      ApplyLine(mask_, press_.x(), press_.y(), x, y, BrushSize(), CurrentRule(press_left_));
      break;
    case 2: ApplyRect(mask_, press_.x(), press_.y(), x, y, CurrentRule(press_left_)); break;
    default: return;
  }
  Edited();
}

void CPageMask::LinkClick(bool left) {
  if (selected_star_ < 0) return;
  const CameraProfile& p = CurrentProfile();
  StarData& stars = MainContext().stars;
  if (selected_star_ >= static_cast<int>(stars.mask_stars.size())) return;
  MaskStar& star = stars.mask_stars[static_cast<std::size_t>(selected_star_)];
  if (left) {
    star.link = NearestCatalogueStar(stars.visible, star.ra, star.dec, star.link, LinkRadius(p));
    if (star.link >= 0) MeasureResiduals(StarMap(), p, star.link, selected_star_, stars);
  } else {
    star.link = -1;
  }
  SetStatus(MatchSummaryText(StarMap(), p, stars));
  Redraw();
}

void CPageMask::Hover(int x, int y) {
  if (!HaveClip() || !mask_.Inside(x, y)) return;
  std::string text = MaskReadout(mask_, CurrentProfile(), x, y);
  if (AppSettings().m_mode == 2) {
    const StarData& stars = MainContext().stars;
    selected_star_ = -1;
    int best = kLinkSelectReach;
    for (std::size_t i = 0; i < stars.mask_stars.size(); ++i) {
      const MaskStar& m = stars.mask_stars[i];
      const int d = static_cast<int>(std::abs(m.x - x) + std::abs(m.y - y));
      if (d < best) {
        best = d;
        selected_star_ = static_cast<int>(i);
      }
    }
    if (selected_star_ >= 0) {
      const MaskStar& m = stars.mask_stars[static_cast<std::size_t>(selected_star_)];
      char extra[96];
      if (m.link < 0) {
        std::snprintf(extra, sizeof extra, "\n%2d--> no star", selected_star_);
      } else {
        std::snprintf(extra, sizeof extra, "\ndpix%8.4f ddeg%8.4f mag %.1f",
                      std::hypot(m.predicted_x - m.x, m.predicted_y - m.y), m.ddeg,
                      EffectiveMagnitude(StarMap(), CurrentProfile(), m.link));
      }
      text += extra;
    }
  }
  readout_->setText(QString::fromStdString(text));
}

std::string CPageMask::readout() const { return readout_ ? readout_->text().toStdString() : ""; }
std::string CPageMask::status() const { return status_ ? status_->text().toStdString() : ""; }

void CPageMask::SetStatus(const std::string& text) {
  if (status_) status_->setText(QString::fromStdString(text));
}

void CPageMask::OnAnalysisResult(const ResultPicture& picture) {
  if (!initialised()) return;
  result_ = picture;
  show_result_ = picture.clip_row >= 0 && picture.clip_row == CurrentClip().row &&
                 !picture.bgr.empty();
  Redraw();
}

namespace {

bool ClipAnalysed(int row) {
  return row >= 0 && (Tables().clip.Int(row, clip::kMT) & KindBit(kKindResult)) != 0;
}

// The position of `object` in its clip's object chain, -1 when it is none
// of the clip's.
int TrackOfObject(int clip_row, int object) {
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  if (object < 0 || clip_row < 0 || !clips.Exists(clip_row)) return -1;
  int k = 0;
  for (int o = clips.Int(clip_row, clip::kOline); o >= 0 && k < objects.count();
       o = objects.Int(o, obj::kOlinenext), ++k) {
    if (o == object) return k;
  }
  return -1;
}

}  // namespace

void CPageMask::ComposeStill() {
  const CurrentClipState& c = CurrentClip();
  const Settings& s = AppSettings();
  ViewPictureSource source;
  source.width = mask_.width;
  source.height = mask_.height;
  if (c.still.width == mask_.width && c.still.height == mask_.height) {
    source.picture = c.still.pixels.subspan(0, mask_bytes_.size());
  }
  source.still = &c.still;
  source.mask = &c.mask;
  source.analysed = ClipAnalysed(c.row);
  const Table& objects = Tables().obj;
  if (c.current_object >= 0 && objects.Exists(c.current_object)) {
    ViewTrail trail;
    trail.x1 = objects.Float(c.current_object, obj::kX1);
    trail.y1 = objects.Float(c.current_object, obj::kY1);
    trail.x2 = objects.Float(c.current_object, obj::kX2);
    trail.y2 = objects.Float(c.current_object, obj::kY2);
    trail.object_class = std::string(objects.Text(c.current_object, obj::kClass));
    source.trail = trail;
  }
  // Only the View page's "Hit" overlay: the marked pixels and the trail.
  ViewSwitches switches;
  switches.hit = s.v_hmark != 0;
  ComposeViewPicture(source, switches, display_);
}

// The detections of context 0's run of this clip: all of them, or with an
// object selected only those of its track, a fitted sample in red.
void CPageMask::DrawDetections(DisplayPicture& picture) const {
  const AnalysisContext& c = MainContext();
  const int row = CurrentClip().row;
  if (!c.detections || c.clip_row != row || !ClipAnalysed(row)) return;
  const int object = CurrentClip().current_object;
  const int track = TrackOfObject(row, object);
  if (object >= 0 && track < 0) return;
  for (int field = 0; field < kMaxFields; ++field) {
    const int count =
        std::min(c.detection_count[static_cast<std::size_t>(field)], kDetectionsPerField);
    for (int n = 0; n < count; ++n) {
      const Detection& d = c.detections[std::size_t(field) * kDetectionsPerField + n];
      if (track >= 0 && d.object != track) continue;
      DrawDetectionMark(picture, d.x, d.y, d.pass ? d.object : -1);
    }
  }
}

void CPageMask::Redraw() {
  if (!view_) return;
  if (show_result_ && result_.clip_row == CurrentClip().row) {
    display_ = result_.bgr;
    view_->Show(display_, result_.width, result_.height);
    return;
  }
  if (show_still_ && mask_.width > 0 && mask_.height > 0) {
    ComposeStill();
    view_->Show(display_, mask_.width, mask_.height);
    return;
  }
  if (mask_.width <= 0 || mask_.height <= 0) {
    display_.clear();
    view_->Show(display_, 0, 0);
    return;
  }
  const Settings& s = AppSettings();
  display_.assign(mask_bytes_.size(), 0);
  ComposeMaskDisplay(mask_, s.m_objplot != 0, display_);
  DisplayPicture picture{display_, mask_.width, mask_.height};
  AnalysisContext& c = MainContext();
  CameraProfile& p = CurrentProfile();
  DrawDetections(picture);
  // The selected object's trail.
  const int object = CurrentClip().current_object;
  if (object >= 0 && Tables().obj.Exists(object)) {
    const Table& objects = Tables().obj;
    DrawTrailLine(picture, objects.Float(object, obj::kX1), objects.Float(object, obj::kY1),
                  objects.Float(object, obj::kX2), objects.Float(object, obj::kY2),
                  objects.Text(object, obj::kClass));
  }
  if (s.m_star) {
    RefreshVisibleStars(p, c.stars.visible, [&](double x, double y, float mag) {
      DrawStarMarker(c, picture, x, y, mag);
    });
  }
  StarData& stars = c.stars;
  if (!stars.mask_stars.empty()) {
    for (std::size_t i = 0; i < stars.mask_stars.size(); ++i) {
      MaskStar& m = stars.mask_stars[i];
      if (m.link >= 0) {
        const HorizontalPoint sky = PixelToHorizontal(p, m.x, m.y);
        m.az = sky.az;
        m.ev = sky.ev;
        const EquatorialPoint eq = HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, sky.az, sky.ev);
        m.ra = eq.ra;
        m.dec = eq.dec;
        MeasureResiduals(StarMap(), p, m.link, static_cast<int>(i), stars);
      }
    }
    const ResidualStats stats = ResidualStatistics(stars);
    for (std::size_t i = 0; i < stars.mask_stars.size(); ++i) {
      const MaskStar& m = stars.mask_stars[i];
      const int x = static_cast<int>(m.x), y = static_cast<int>(m.y);
      if (m.link < 0) {
        DrawCross(picture, x, y, 3, 2, 80);
        continue;
      }
      DrawLineInto(picture, m.x, m.y, m.predicted_x, m.predicted_y, 2, 255);
      DrawCross(picture, x, y, 3, 2, 255);
      if (std::abs(m.daz - stats.mean_daz) > 2 * stats.sd_daz ||
          std::abs(m.dev - stats.mean_dev) > 2 * stats.sd_dev) {
        DrawSquare(picture, x, y, 5, 1, 150);
      }
      if (static_cast<int>(i) == stats.worst) DrawSquare(picture, x, y, 7, 2, 250);
    }
  }
  if (s.m_mgrf) {
    DrawPhotometryGraph(c, StarMap(), s.m_mgln != 0, picture);
    DrawLightCurve(c, -1, picture);
  }
  if (s.m_rgraph) DrawResidualGraph(c, picture);
  const int ox = static_cast<int>(p.cx / 2 + p.p_dx), oy = static_cast<int>(p.cy / 2 + p.p_dy);
  DrawCross(picture, ox, oy, 5, 0, 255);
  DrawCross(picture, ox, oy, 5, 1, 255);
  view_->Show(display_, mask_.width, mask_.height);
}

}  // namespace mr4
