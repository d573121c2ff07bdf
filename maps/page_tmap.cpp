#include "maps/page_tmap.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "maps/map_display.h"
#include "app/settings.h"
#include "calib/camera_profile.h"
#include "calib/page_smap.h"
#include "clips/current_clip.h"
#include "clips/page_main.h"
#include "clips/save_png.h"
#include "platform/ui.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

// The reference layout of the page [reference px].
constexpr int kRowFields = 2;
constexpr int kRowSwitches = 22;
constexpr int kRowStatus = 40;
constexpr int kChartTop = 58;
constexpr int kButtonHeight = 16;
// The chart's margin to the window's right and bottom edges [px], and its
// largest size.
constexpr int kChartMargin = 12;
constexpr int kChartMaxWidth = 8192;
constexpr int kChartMaxHeight = 4320;

constexpr char kSaveImageTitle[] = "Save Image";
constexpr char kPngFilter[] = "PNG(*.png)|*.png";
constexpr char kChartFileName[] = "TMAP.png";

// The chart's date with no clip ever current: today (UTC).
ChartClip Today() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  ChartClip clip;
  clip.year = utc.tm_year + 1900;
  clip.month = utc.tm_mon + 1;
  clip.day = utc.tm_mday;
  return clip;
}

}  // namespace

TrailMapCanvas::TrailMapCanvas(CPageTmap& page, QWidget* parent) : QWidget(parent), page_(page) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrailMapCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (!page_.image().isNull()) painter.drawImage(QPoint(0, 0), page_.image());
}

void TrailMapCanvas::mouseMoveEvent(QMouseEvent* event) {
  page_.ShowReadout(event->position().toPoint());
}

void TrailMapCanvas::mousePressEvent(QMouseEvent* event) {
  page_.Click(event->position().toPoint(), event->button());
}

CPageTmap::CPageTmap(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kTrailMap, scale, parent) {}

void CPageTmap::OnInitPage() {
  setting_up_ = true;
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  Settings& s = AppSettings();
  struct FieldSpec {
    const char* label;
    float* value;
    double minimum, maximum, step;
    ParamLimit limit;
  };
  const FieldSpec specs[] = {
      {"ra", &s.t_ra, 0, 359, 1, ParamLimit::kWrap},
      {"dec", &s.t_dec, -89, 89, 1, ParamLimit::kWrap},
      {"rot", &s.t_rot, 0, 359, 1, ParamLimit::kWrap},
      {"scl", &s.t_scale, 1, 179, 1, ParamLimit::kClamp},
      {"mag", &s.t_mag, 0, 15, 0.1, ParamLimit::kClamp},
  };
  int x = 1;
  int id = kTmapFieldBase;
  for (const FieldSpec& spec : specs) {
    ParamDescriptor field{spec.value};
    field.x = x;
    field.row = kRowFields;
    field.label = spec.label;
    field.label_width = 18;
    field.edit_width = 30;
    field.minimum = spec.minimum;
    field.maximum = spec.maximum;
    field.step = spec.step;
    field.limit = spec.limit;
    field.id_base = id;
    fields_.push_back(new CUDEdit(this, field, scale(), [this](int) {
      if (!setting_up_) Redraw();
    }));
    x += 18 + 30 + 12;
    id += 4;
  }
  ParamDescriptor days{&days_};
  days.x = x;
  days.row = kRowFields;
  days.label = "+d";
  days.label_width = 12;
  days.edit_width = 36;
  days.minimum = -10000;
  days.maximum = 10000;
  days.step = 1;
  days.limit = ParamLimit::kClamp;
  days.id_base = id;
  fields_.push_back(new CUDEdit(this, days, scale(), [this](int) {
    if (!setting_up_) Redraw();
  }));

  struct SwitchSpec {
    const char* caption;
    int* flag;
    int width;
  };
  const SwitchSpec boxes[] = {
      {"st", &s.t_st, 26},     {"stp", &s.t_st2, 32}, {"ax", &s.t_ax, 28},
      {"ap", &s.t_ap, 28},     {"star", &s.t_star, 36}, {"BW", &s.t_bw, 32},
      {"text", &s.t_text, 36},
  };
  x = 1;
  for (const SwitchSpec& spec : boxes) {
    auto* box = new QCheckBox(spec.caption, this);
    box->setObjectName(spec.caption);
    box->setGeometry(scale().X(x), scale().Y(kRowSwitches), scale().X(spec.width),
                     scale().Y(16));
    int* flag = spec.flag;
    connect(box, &QCheckBox::toggled, this, [this, flag](bool on) {
      if (setting_up_) return;
      *flag = on ? 1 : 0;
      Redraw();
    });
    switches_.push_back(box);
    switch_flags_.push_back(flag);
    x += spec.width + 2;
  }
  struct ButtonSpec {
    int id;
    const char* caption;
    int width;
  };
  x += 8;
  for (const ButtonSpec& b : {ButtonSpec{kTmapPrev, "prev", 26}, ButtonSpec{kTmapNext, "next", 26},
                              ButtonSpec{kTmapSave, "save", 28}}) {
    auto* button = new QPushButton(b.caption, this);
    button->setObjectName(QString::number(b.id));
    button->setGeometry(scale().X(x), scale().Y(kRowSwitches), scale().X(b.width),
                        scale().Y(kButtonHeight));
    const int command = b.id;
    connect(button, &QPushButton::clicked, this, [this, command] { Command(command); });
    x += b.width + 2;
  }
  status_ = new QLabel(this);
  status_->setObjectName(QString::number(kTmapStatusId));
  canvas_ = new TrailMapCanvas(*this, this);
  resizeEvent(nullptr);

  QPointer<CPageTmap> self(this);
  std::function<void()> previous = CurrentClip().on_changed;
  CurrentClip().on_changed = [previous, self] {
    if (previous) previous();
    if (self && self->isVisible()) self->Redraw();
  };
  setting_up_ = false;
}

void CPageTmap::resizeEvent(QResizeEvent* event) {
  if (event) CPage::resizeEvent(event);
  if (!canvas_) return;
  status_->setGeometry(scale().X(1), scale().Y(kRowStatus), std::max(1, width() - scale().X(2)),
                       scale().Y(14));
  const int top = scale().Y(kChartTop);
  canvas_->setGeometry(0, top, width(), std::max(1, height() - top));
  FitChart();
  if (isVisible()) Redraw();
}

void CPageTmap::FitChart() {
  // The chart reaches to a margin before the window's right and bottom
  // edges.
  const QSize room = PictureRoom(canvas_, kChartMargin, QSize(kChartMaxWidth, kChartMaxHeight));
  chart_width_ = room.width();
  chart_height_ = room.height();
}

void CPageTmap::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  setting_up_ = true;
  for (std::size_t i = 0; i < switches_.size(); ++i) {
    switches_[i]->setChecked(*switch_flags_[i] != 0);
  }
  for (CUDEdit* field : fields_) field->Redisplay();
  setting_up_ = false;
  status_->clear();
  FitChart();
  Redraw();
  if (CUDlg* window = MainWindow()) window->ReselectCurrentClip();
}

void CPageTmap::paintEvent(QPaintEvent* event) {
  CPage::paintEvent(event);
  if (initialised()) Redraw();
}

void CPageTmap::FillInput() {
  TrailMapInput& in = input_;
  SetTrailMapSettings(chart_width_, chart_height_, scale().horizontal, scale().vertical, in);
  in.days = days_;
  const CurrentClipState& c = CurrentClip();
  if (c.row >= 0 && Tables().clip.Exists(c.row)) {
    last_clip_ = ChartClipOfRow(c.row);
    in.clip = *last_clip_;
  } else {
    // No clip is current (a shower chosen on the plot page clears it): the
    // chart keeps the date it was drawn for, without a clip name.
    if (!last_clip_) {
      const Table& clips = Tables().clip;
      for (int row = 0; row < clips.count() && !last_clip_; ++row) {
        if (clips.Exists(row)) last_clip_ = ChartClipOfRow(row);
      }
      if (!last_clip_) last_clip_ = Today();
    }
    in.clip = *last_clip_;
    in.clip.present = false;
  }
  in.catalogue = &StarMap();
  in.objects = &Tables().obj;
  in.showers_table = &Tables().shower;
  in.current_object = c.current_object;
  in.selected_shower = MapDisplay().selected_shower;
  in.marker = marker_;
}

void CPageTmap::Redraw() {
  if (!canvas_) return;
  FillInput();
  DrawTrailMap(input_, buffer_);
  ConvertViewPicture(buffer_, chart_width_, chart_height_, image_);
  canvas_->update();
}

std::pair<double, double> CPageTmap::ChartPoint(QPoint at) const {
  // The chart maps both axes with the vertical scale.
  const double unit = scale().vertical > 0 ? scale().vertical : 1.0;
  const double x = at.x() / unit - 0.5;
  const double y = (chart_height_ - 1 - at.y()) / unit - 0.5;
  return {x, y};
}

void CPageTmap::ShowReadout(QPoint at) {
  if (at.x() < 0 || at.y() < 0 || at.x() >= chart_width_ || at.y() >= chart_height_) return;
  const auto [x, y] = ChartPoint(at);
  status_->setText(QString::fromStdString(ChartReadout(ChartProjection(input_.frame), x, y)));
}

void CPageTmap::Click(QPoint at, Qt::MouseButton button) {
  if (button == Qt::LeftButton) {
    if (at.x() < 0 || at.y() < 0 || at.x() >= chart_width_ || at.y() >= chart_height_) return;
    marker_ = ChartPoint(at);
  } else if (button == Qt::RightButton) {
    marker_.reset();
  } else {
    return;
  }
  Redraw();
}

QString CPageTmap::status_text() const { return status_ ? status_->text() : QString(); }

void CPageTmap::Command(int id) {
  switch (id) {
    case kTmapPrev:
    case kTmapNext:
      if (CUDlg* window = MainWindow()) {
        if (auto* main = dynamic_cast<CPageMain*>(window->OpenedPage(PageId::kMain))) {
          main->Command(id == kTmapNext ? kCmdNext : kCmdPrev);
        }
      }
      return;
    case kTmapSave:
      SaveDialog();
      return;
    default:
      return;
  }
}

bool CPageTmap::SaveChart(const fs::path& path) {
  if (buffer_.empty()) Redraw();
  const ImageStatus status = SaveImageAsPng(path, buffer_, chart_width_, chart_height_);
  if (status == ImageStatus::kOk) return true;
  CurrentUi().Message("", path.string() + ": " + ImageStatusText(status), MessageIcon::kError);
  return false;
}

void CPageTmap::SaveDialog() {
  FileDialogRequest request;
  request.title = kSaveImageTitle;
  request.proposed = fs::path(AppSettings().outdir) / kChartFileName;
  request.filter = kPngFilter;
  const std::optional<fs::path> chosen = CurrentUi().SaveFile(request);
  if (chosen) SaveChart(*chosen);
}

}  // namespace mr4
