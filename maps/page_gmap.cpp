#include "maps/page_gmap.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <algorithm>
#include <cstdio>

#include "maps/map_display.h"
#include "app/settings.h"
#include "base/error.h"
#include "base/process_values.h"
#include "calib/camera_profile.h"
#include "calib/page_smap.h"
#include "calib/profile_file.h"
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
constexpr int kRowFiles = 2;
constexpr int kRowSwitches = 22;
constexpr int kRowStatus = 40;
constexpr int kPictureTop = 58;
constexpr int kButtonHeight = 16;
constexpr int kPictureMargin = 12;

constexpr char kBaseMapTitle[] = "Base Ground Map";
constexpr char kBaseMapFilter[] = "*.DAT|*.DAT";
constexpr char kMarksTitle[] = "Add map mark csv";
constexpr char kMarksFilter[] = "*.csv|*.csv";
constexpr char kSaveImageTitle[] = "Save Image";
constexpr char kPngFilter[] = "PNG(*.png)|*.png";
constexpr char kPictureFileName[] = "GMAP.png";

}  // namespace

GroundMapCanvas::GroundMapCanvas(CPageGmap& page, QWidget* parent) : QWidget(parent), page_(page) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void GroundMapCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (!page_.image().isNull()) painter.drawImage(QPoint(0, 0), page_.image());
}

CPageGmap::CPageGmap(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kGroundMap, scale, parent) {}

void CPageGmap::OnInitPage() {
  setting_up_ = true;
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  Settings& s = AppSettings();

  ParamDescriptor zoom{&s.g_zoom};
  zoom.x = 1;
  zoom.row = kRowFiles;
  zoom.label = "zoom";
  zoom.label_width = 24;
  zoom.edit_width = 30;
  zoom.minimum = 0.1;
  zoom.maximum = 100;
  zoom.step = 0.5;
  zoom.limit = ParamLimit::kClamp;
  zoom.id_base = kGmapFieldBase;
  zoom_ = new CUDEdit(this, zoom, scale(), [this](int) {
    if (!setting_up_) Redraw();
  });

  auto button = [this](int id, const char* caption, int x, int row, int width) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::number(id));
    b->setGeometry(scale().X(x), scale().Y(row), scale().X(width), scale().Y(kButtonHeight));
    connect(b, &QPushButton::clicked, this, [this, id] { Command(id); });
    return b;
  };
  auto name_box = [this](const char* caption, int x, int width) {
    auto* label = new QLabel(caption, this);
    label->setGeometry(scale().X(x), scale().Y(kRowFiles), scale().X(44), scale().Y(16));
    auto* box = new QLineEdit(this);
    box->setReadOnly(true);
    box->setGeometry(scale().X(x + 46), scale().Y(kRowFiles), scale().X(width),
                     scale().Y(16));
    return box;
  };
  int x = 1 + 24 + 30 + 20;
  map_name_ = name_box("base map", x, 100);
  map_name_->setObjectName("base map");
  button(kGmapPickMap, "...", x + 46 + 102, kRowFiles, 16);
  x += 46 + 102 + 24;
  marks_name_ = name_box("add map", x, 100);
  marks_name_->setObjectName("add map");
  button(kGmapPickMarks, "...", x + 46 + 102, kRowFiles, 16);

  struct SwitchSpec {
    const char* caption;
    int* flag;
    int width;
  };
  x = 1;
  for (const SwitchSpec& spec : {SwitchSpec{"marks", &s.g_addm, 44},
                                 SwitchSpec{"text", &s.g_text, 38},
                                 SwitchSpec{"BW", &s.BW, 34}}) {
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
    if (flag == &s.g_addm) marks_ = box;
    if (flag == &s.g_text) text_ = box;
    if (flag == &s.BW) bw_ = box;
    x += spec.width + 2;
  }
  x += 6;
  button(kGmapCenter, "center", x, kRowSwitches, 36);
  x += 40;
  // The two spin buttons: longitude, then latitude.
  for (auto [up, down] : {std::pair{kGmapLonUp, kGmapLonDown}, {kGmapLatUp, kGmapLatDown}}) {
    for (auto [id, arrow, dy] : {std::tuple{up, Qt::UpArrow, 0}, {down, Qt::DownArrow, 8}}) {
      auto* b = new QToolButton(this);
      b->setArrowType(arrow);
      b->setObjectName(QString::number(id));
      b->setGeometry(scale().X(x), scale().Y(kRowSwitches + dy), scale().X(14), scale().Y(8));
      const int command = id;
      connect(b, &QToolButton::clicked, this, [this, command] { Command(command); });
    }
    x += 16;
  }
  x += 8;
  button(kGmapSave, "save", x, kRowSwitches, 28);
  button(kGmapPrev, "prev", x + 30, kRowSwitches, 26);
  button(kGmapNext, "next", x + 58, kRowSwitches, 26);

  status_ = new QLabel(this);
  status_->setObjectName(QString::number(kGmapStatusId));
  canvas_ = new GroundMapCanvas(*this, this);

  // The base map and the marks as start-up left them; a page opened before
  // any load reads them now, quietly when the base map is absent.
  if (!GroundMap().loaded() && fs::exists(HomeFile(s.g_map))) LoadGroundMap(HomeFile(s.g_map));
  if (s.g_addm && !s.g_addmfile.empty() && AddMapMarks().empty() &&
      fs::exists(s.g_addmfile)) {
    LoadAddMap(s.g_addmfile);
  }
  ShowFiles();
  text_->setChecked(s.g_text != 0);
  marks_->setChecked(s.g_addm != 0);
  resizeEvent(nullptr);

  QPointer<CPageGmap> self(this);
  std::function<void()> previous = CurrentClip().on_changed;
  CurrentClip().on_changed = [previous, self] {
    if (previous) previous();
    if (self && self->isVisible()) self->Redraw();
  };
  setting_up_ = false;
}

void CPageGmap::ShowFiles() {
  const Settings& s = AppSettings();
  map_name_->setText(QString::fromStdString(s.g_map));
  marks_name_->setText(QString::fromStdString(s.g_addmfile));
}

void CPageGmap::resizeEvent(QResizeEvent* event) {
  if (event) CPage::resizeEvent(event);
  if (!canvas_) return;
  status_->setGeometry(scale().X(1), scale().Y(kRowStatus), std::max(1, width() - scale().X(2)),
                       scale().Y(14));
  const int top = scale().Y(kPictureTop);
  canvas_->setGeometry(0, top, width(), std::max(1, height() - top));
  FitPicture();
  if (isVisible()) Redraw();
}

void CPageGmap::FitPicture() {
  // The picture reaches to a margin before the window's right and bottom
  // edges.
  const QSize room = PictureRoom(
      canvas_, kPictureMargin, QSize(kGroundPictureMaxWidth, kGroundPictureMaxHeight));
  picture_width_ = room.width();
  picture_height_ = room.height();
}

void CPageGmap::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  setting_up_ = true;
  bw_->setChecked(AppSettings().BW != 0);
  zoom_->Redisplay();
  setting_up_ = false;
  FitPicture();
  Redraw();
  if (CUDlg* window = MainWindow()) window->ReselectCurrentClip();
}

void CPageGmap::paintEvent(QPaintEvent* event) {
  CPage::paintEvent(event);
  if (initialised()) Redraw();
}

void CPageGmap::FillInput(GroundMapInput& in, GroundRaster& fallback) {
  const Settings& s = AppSettings();
  const CameraProfile& current = CurrentProfile();
  if (GroundMap().loaded()) {
    in.raster = &GroundMap();
  } else {
    // No base map: an empty sea about the current station.
    if (fallback.pixels.empty() || fallback.lon0 != current.p_lng ||
        fallback.lat0 != current.p_lat) {
      fallback = EmptyGroundRaster(current.p_lng, current.p_lat);
    }
    in.raster = &fallback;
  }
  SetGroundMapSettings(picture_width_, picture_height_, in);
  const GroundMapPlot& plot = MapDisplay().ground;
  in.fill = plot.fill;

  for (std::size_t i = 0; i < plot.profiles.size() && i < plot.selected.size(); ++i) {
    if (!plot.selected[i]) continue;
    if (i == 0) {
      in.profiles.push_back(ProfileOutline(current, true, plot.fill, s.g_line));
      continue;
    }
    // Another profile is read into a copy; the current one stays as it is.
    CameraProfile other = current;
    if (!ReadProfileFile(ProfileFile(plot.profiles[i]), other)) continue;
    in.profiles.push_back(ProfileOutline(other, false, plot.fill, s.g_line));
  }

  AddGroundTracksAndCaption(current, in);
}

void CPageGmap::Redraw() {
  if (!canvas_) return;
  static GroundRaster fallback;
  GroundMapInput in;
  FillInput(in, fallback);
  DrawGroundMap(in, picture_);
  labelled_ = picture_;
  if (in.text) BurnGroundLabels(labelled_, in.bw);
  ConvertViewPicture(labelled_.bgr, labelled_.width, labelled_.height, image_);
  // The status line changes only with the map's state: setting it repaints
  // the page, and a repaint of the page redraws.
  const QString status =
      GroundMap().loaded()
          ? QString()
          : QString::fromStdString("no base map loaded: " +
                                   HomeFile(AppSettings().g_map).string());
  if (status_->text() != status) status_->setText(status);
  canvas_->update();
}

QString CPageGmap::status_text() const { return status_ ? status_->text() : QString(); }

void CPageGmap::UseBaseMap(const fs::path& path) {
  ChooseGroundMap(path);
  ShowFiles();
  Redraw();
}

void CPageGmap::UseMarks(const fs::path* path) {
  Settings& s = AppSettings();
  if (path) {
    s.g_addmfile = path->string();
    LoadAddMap(*path);
    s.g_addm = 1;
  } else {
    s.g_addmfile.clear();
    s.g_addm = 0;
  }
  setting_up_ = true;
  marks_->setChecked(s.g_addm != 0);
  setting_up_ = false;
  ShowFiles();
  Redraw();
}

void CPageGmap::Command(int id) {
  Settings& s = AppSettings();
  // A spin click moves the view by one screen pixel's worth of map
  // pixels over ten: 1 / zoom degrees.
  const float step = s.g_zoom > 0.0f ? 1.0f / s.g_zoom : 0.25f;
  switch (id) {
    case kGmapPickMap: {
      FileDialogRequest request;
      request.title = kBaseMapTitle;
      request.proposed = App().home;
      request.filter = kBaseMapFilter;
      if (const std::optional<fs::path> chosen = CurrentUi().OpenFile(request)) {
        UseBaseMap(*chosen);
      }
      return;
    }
    case kGmapPickMarks: {
      FileDialogRequest request;
      request.title = kMarksTitle;
      request.proposed = App().home;
      request.filter = kMarksFilter;
      const std::optional<fs::path> chosen = CurrentUi().OpenFile(request);
      UseMarks(chosen ? &*chosen : nullptr);
      return;
    }
    case kGmapCenter: {
      // The offsets count from the centre of the raster the picture used.
      const double lon0 = picture_.view.projection.lon0;
      const double lat0 = picture_.view.projection.lat0;
      GroundRaster centre;
      centre.lon0 = lon0;
      centre.lat0 = lat0;
      const auto offsets = CentredOffsets(picture_, centre, s.g_ofh, s.g_ofv);
      s.g_ofh = static_cast<float>(offsets[0]);
      s.g_ofv = static_cast<float>(offsets[1]);
      Redraw();
      return;
    }
    case kGmapLonUp:
      s.g_ofh -= step;
      Redraw();
      return;
    case kGmapLonDown:
      s.g_ofh += step;
      Redraw();
      return;
    case kGmapLatUp:
      s.g_ofv -= step;
      Redraw();
      return;
    case kGmapLatDown:
      s.g_ofv += step;
      Redraw();
      return;
    case kGmapSave:
      SaveDialog();
      return;
    case kGmapPrev:
    case kGmapNext:
      if (CUDlg* window = MainWindow()) {
        if (auto* main = dynamic_cast<CPageMain*>(window->OpenedPage(PageId::kMain))) {
          main->Command(id == kGmapNext ? kCmdNext : kCmdPrev);
        }
      }
      return;
    default:
      return;
  }
}

bool CPageGmap::SavePicture(const fs::path& path) {
  if (labelled_.bgr.empty()) Redraw();
  const GroundMapPicture& p = AppSettings().g_text ? labelled_ : picture_;
  const ImageStatus status = SaveImageAsPng(path, p.bgr, p.width, p.height);
  if (status == ImageStatus::kOk) return true;
  CurrentUi().Message("", path.string() + ": " + ImageStatusText(status), MessageIcon::kError);
  return false;
}

void CPageGmap::SaveDialog() {
  Settings& s = AppSettings();
  if (s.outdir.empty() || !fs::is_directory(s.outdir)) {
    s.outdir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
  }
  FileDialogRequest request;
  request.title = kSaveImageTitle;
  request.proposed = fs::path(s.outdir) / kPictureFileName;
  request.filter = kPngFilter;
  const std::optional<fs::path> chosen = CurrentUi().SaveFile(request);
  if (!chosen) return;
  if (fs::exists(*chosen) &&
      !CurrentUi().AskOkCancel(kMessageCaption,
                               "file already exists overwrite?\n" + chosen->string())) {
    return;
  }
  SavePicture(*chosen);
}

}  // namespace mr4
