#include "calib/page_smap.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/settings.h"
#include "analysis/object_class.h"
#include "analysis/pa_dlg.h"
#include "base/error.h"
#include "calib/camera_profile.h"
#include "calib/still_image.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "clips/page_main.h"
#include "platform/ui.h"
#include "tables/table_catalogue.h"
#include "tables/ud_edit.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

// The reference layout of the page [reference px].
constexpr int kButtonHeight = 18;
constexpr int kRowButtons = 2;
constexpr int kRowSwitches = 22;
constexpr int kRowReadout = 42;
constexpr int kReadoutHeight = 40;
constexpr int kPictureTop = 86;
constexpr double kButtonFontFactor = 0.9;
// How long a frame asked of the replay may take to come [ms].
constexpr int kFrameWaitMs = 10000;

constexpr char kPlayCaption[] = ">";
constexpr char kPauseCaption[] = "||";
constexpr char kSaveImageTitle[] = "Save Image";
constexpr char kOverwriteQuestion[] = "file already exists overwrite?\n%s";
constexpr char kClickOutside[] = "The click lies outside the picture: nothing recorded.";
constexpr char kClickNoProfile[] =
    "The clip has no camera profile: clicks need one to place their directions.";
constexpr char kClickNoObject[] =
    "No object is selected: the end point has no object to go to.";
constexpr char kClickNoClip[] = "No clip is loaded: nothing recorded.";

// The directory the last picture was saved in (empty: the default image
// directory).
fs::path& LastImageDirectory() {
  static fs::path directory;
  return directory;
}

bool ClipAnalysed(int row) {
  return row >= 0 && (Tables().clip.Int(row, clip::kMT) & KindBit(kKindResult)) != 0;
}

}  // namespace

void ConvertViewPicture(const std::vector<std::uint8_t>& bgr, int width, int height,
                        QImage& image) {
  if (width <= 0 || height <= 0 || bgr.size() < std::size_t(width) * height * 3) {
    image = QImage();
    return;
  }
  if (image.width() != width || image.height() != height ||
      image.format() != QImage::Format_RGB32) {
    image = QImage(width, height, QImage::Format_RGB32);
  }
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* from = bgr.data() + std::size_t(height - 1 - row) * width * 3;
    auto* to = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (int x = 0; x < width; ++x, from += 3) to[x] = qRgb(from[2], from[1], from[0]);
  }
}

ViewCanvas::ViewCanvas(CPageSmap& page, QWidget* parent) : QWidget(parent), page_(page) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect ViewCanvas::picture_rect() const {
  const QImage& image = page_.image();
  if (image.isNull()) return {};
  // One screen pixel per frame pixel; a frame larger than the canvas is
  // reduced to fit, keeping its proportions.
  const double reduce = std::max({1.0, double(image.width()) / std::max(1, width()),
                                  double(image.height()) / std::max(1, height())});
  return QRect(0, 0, int(image.width() / reduce), int(image.height() / reduce));
}

std::optional<QPoint> ViewCanvas::ImagePixel(QPoint at) const {
  const QRect rect = picture_rect();
  if (rect.isEmpty() || !rect.contains(at)) return std::nullopt;
  const QImage& image = page_.image();
  const double scale = double(image.width()) / rect.width();
  const int x = std::clamp(int((at.x() - rect.left()) * scale), 0, image.width() - 1);
  const int y = std::clamp(image.height() - 1 - int((at.y() - rect.top()) * scale), 0,
                           image.height() - 1);
  return QPoint(x, y);
}

void ViewCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  const QRect target = picture_rect();
  if (target.isEmpty()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(target, page_.image());
}

void ViewCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (std::optional<QPoint> pixel = ImagePixel(event->position().toPoint())) {
    page_.ShowReadout(pixel->x(), pixel->y());
  }
}

void ViewCanvas::mousePressEvent(QMouseEvent* event) {
  page_.Click(ImagePixel(event->position().toPoint()), event->button());
}

CPageSmap::CPageSmap(const LayoutScale& scale, QWidget* parent)
    : CPage(PageId::kView, scale, parent) {}

CPageSmap::~CPageSmap() {
  if (ReplayThreadStarted()) ReplayThread().SetView(nullptr);
}

QPushButton* CPageSmap::AddButton(int id, const char* caption, int x, int y, int width) {
  auto* button = new QPushButton(caption, this);
  button->setObjectName(QString::number(id));
  button->setGeometry(scale().X(x), scale().Y(y), scale().X(width), scale().Y(kButtonHeight));
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * kButtonFontFactor);
  button->setFont(small);
  connect(button, &QPushButton::clicked, this,
          [this, id] { Command(id, CurrentUi().Keys().ctrl); });
  return button;
}

QCheckBox* CPageSmap::AddSwitch(const char* caption, int* flag, int x, int width) {
  auto* box = new QCheckBox(caption, this);
  box->setObjectName(caption);
  box->setGeometry(scale().X(x), scale().Y(kRowSwitches), scale().X(width), scale().Y(16));
  if (flag) {
    switches_.push_back(box);
    switch_flags_.push_back(flag);
    connect(box, &QCheckBox::toggled, this, [this, flag, caption](bool on) {
      if (setting_up_) return;
      *flag = on ? 1 : 0;
      // Field stepping is the replay's business: nothing to redraw.
      if (std::string_view(caption) != "D.I.stepping") Redraw();
    });
  }
  return box;
}

void CPageSmap::OnInitPage() {
  setting_up_ = true;
  setStyleSheet("QPushButton { padding: 0px 1px; }");
  struct ButtonSpec {
    int id;
    const char* caption;
    int width;
  };
  const ButtonSpec buttons[] = {
      {kViewPrev, "prev", 26},  {kViewNext, "next", 26},  {kViewStill, "Still", 28},
      {kViewPlay, ">", 18},     {kViewRestart, "|>", 18}, {kViewBack, "||<", 20},
      {kViewStep, ">||", 20},   {kViewHead, "|| H", 24},  {kViewSave, "save", 28},
      {kViewActualSize, "x1", 18},
  };
  int x = 1;
  for (const ButtonSpec& b : buttons) {
    QPushButton* button = AddButton(b.id, b.caption, x, kRowButtons, b.width);
    if (b.id == kViewPlay) play_ = button;
    x += b.width + 2;
  }
  track_ = new QSlider(Qt::Horizontal, this);
  track_->setObjectName("track");
  track_->setGeometry(scale().X(x + 4), scale().Y(kRowButtons), scale().X(200),
                      scale().Y(kButtonHeight));
  track_->setRange(0, 0);
  // A drag seeks once, where the bar is let go; clicks and keys at once.
  connect(track_, &QSlider::valueChanged, this, [this](int value) {
    if (!updating_track_ && !setting_up_ && !track_->isSliderDown()) SendReplay(kReplaySeek, value);
  });
  connect(track_, &QSlider::sliderReleased, this,
          [this] { SendReplay(kReplaySeek, track_->value()); });

  Settings& s = AppSettings();
  struct SwitchSpec {
    const char* caption;
    int* flag;
    int width;
  };
  const SwitchSpec specs[] = {
      {"Hit", &s.v_hmark, 34},   {"Area", &s.v_amask, 40}, {"SM", &s.v_smask, 36},
      {"Az", &s.v_azev, 32},     {"Ra", &s.v_radc, 32},    {"S", &s.v_star, 26},
      {"O", &s.v_trail, 26},     {"D.I.stepping", &s.deinterace, 82},
  };
  x = 1;
  for (const SwitchSpec& spec : specs) {
    AddSwitch(spec.caption, spec.flag, x, spec.width);
    x += spec.width + 2;
  }
  save_click_box_ = AddSwitch("save click", nullptr, x, 70);
  connect(save_click_box_, &QCheckBox::toggled, this, [this](bool on) {
    save_click_ = on;
    if (!setting_up_) Redraw();
  });
  x += 72;

  ParamDescriptor refmag{&CurrentProfile().p_u4_refmag};
  refmag.x = x;
  refmag.row = kRowSwitches - 1;
  refmag.label = "mag";
  refmag.label_width = 18;
  refmag.edit_width = 30;
  refmag.minimum = -5;
  refmag.maximum = 11;
  refmag.limit = ParamLimit::kClamp;
  refmag.step = 0.1;
  refmag.id_base = 1520;
  refmag_ = new CUDEdit(this, refmag, scale(), [this](int) {
    RebuildStars();
    if (AppSettings().v_star) Redraw();
  });

  readout_ = new QLabel(this);
  readout_->setObjectName("readout");
  readout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QFont fixed("monospace");
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setPointSizeF(font().pointSizeF() * kButtonFontFactor);
  readout_->setFont(fixed);
  distance_ = new QLabel(this);
  distance_->setObjectName("distance");
  distance_->setFont(fixed);
  status_ = new QLabel(this);
  status_->setObjectName("status");
  canvas_ = new ViewCanvas(*this, this);
  resizeEvent(nullptr);

  if (ReplayThreadStarted()) ReplayThread().SetView(this);
  RebuildStars();
  QPointer<CPageSmap> self(this);
  std::function<void()> previous = CurrentClip().on_changed;
  CurrentClip().on_changed = [previous, self] {
    if (previous) previous();
    if (!self) return;
    self->frame_.reset();
    self->click_mode_ = 0;
    self->RebuildStars();
    if (self->play_) self->play_->setText(kPlayCaption);
    self->Redraw();
  };
  setting_up_ = false;
}

void CPageSmap::resizeEvent(QResizeEvent* event) {
  if (event) CPage::resizeEvent(event);
  if (!canvas_) return;
  readout_->setGeometry(scale().X(1), scale().Y(kRowReadout), scale().X(240),
                        scale().Y(kReadoutHeight));
  distance_->setGeometry(scale().X(244), scale().Y(kRowReadout), scale().X(200),
                         scale().Y(14));
  status_->setGeometry(scale().X(244), scale().Y(kRowReadout + 16), std::max(1, width() - scale().X(246)),
                       scale().Y(14));
  const int top = scale().Y(kPictureTop);
  canvas_->setGeometry(0, top, width(), std::max(1, height() - top));
}

void CPageSmap::showEvent(QShowEvent* event) {
  CPage::showEvent(event);
  if (!initialised()) return;
  setting_up_ = true;
  save_click_ = false;
  save_click_box_->setChecked(false);
  for (std::size_t i = 0; i < switches_.size(); ++i) {
    switches_[i]->setChecked(*switch_flags_[i] != 0);
  }
  refmag_->Redisplay();
  setting_up_ = false;
  Redraw();
  if (CUDlg* window = MainWindow()) window->ReselectCurrentClip();
}

void CPageSmap::SetSaveClick(bool on) {
  if (save_click_box_) save_click_box_->setChecked(on);
  save_click_ = on;
}

bool CPageSmap::ReplayUsable() {
  const CurrentClipState& c = CurrentClip();
  if (c.row < 0 || !ReplayThreadStarted()) return false;
  if (c.media_kind == MediaKind::kNone) return false;
  CReplayThread& replay = ReplayThread();
  if (replay_clip_row_ != c.row) {
    // A new clip: the previous graph goes, the next command builds this one's.
    replay.PostCommand(kReplayClose);
    const Table& clips = Tables().clip;
    ReplayClip clip;
    clip.video = c.video_path;
    clip.media_kind = static_cast<char>(c.media_kind);
    clip.width = CurrentProfile().cx;
    clip.height = CurrentProfile().cy;
    clip.interlaced = clips.Int(c.row, clip::kInterlaced) != 0;
    clip.bbf = clips.Int(c.row, clip::kBbf) != 0;
    replay.SetCurrentClip(clip);
    replay.SetView(this);
    replay_clip_row_ = c.row;
  }
  return true;
}

void CPageSmap::SendReplay(int command, std::int64_t argument) {
  if (ReplayUsable()) last_command_ = ReplayThread().PostCommand(command, argument);
}

void CPageSmap::Command(int id, bool ctrl) {
  const CurrentClipState& c = CurrentClip();
  switch (id) {
    case kViewPrev:
    case kViewNext:
      if (CUDlg* window = MainWindow()) {
        if (auto* main = dynamic_cast<CPageMain*>(window->OpenedPage(PageId::kMain))) {
          main->Command(id == kViewNext ? kCmdNext : kCmdPrev);
        }
      }
      return;
    case kViewStill:
      if (ReplayUsable() && ReplayThread().Snapshot().state == kReplayRunning) {
        ReplayThread().PostCommand(kReplayClose);
        play_->setText(kPlayCaption);
        QThread::msleep(100);
      }
      ShowStill();
      return;
    case kViewPlay:
      if (!ReplayUsable()) return;
      if (ReplayThread().Snapshot().state == kReplayRunning) {
        SendReplay(kReplayPause);
        play_->setText(kPlayCaption);
      } else {
        SendReplay(kReplayPlay);
        play_->setText(kPauseCaption);
      }
      return;
    case kViewRestart:
      if (!ReplayUsable()) return;
      SendReplay(kReplayStepForward);
      SendReplay(kReplayRewindPlay);
      play_->setText(kPauseCaption);
      return;
    case kViewBack:
    case kViewStep:
      if (ctrl && AppSettings().v_trail) {
        ChangeDxoffset(id == kViewStep ? 1 : -1);
        return;
      }
      if (!ReplayUsable()) return;
      play_->setText(kPlayCaption);
      SendReplay(id == kViewStep ? kReplayStepForward : kReplayStepBack);
      return;
    case kViewHead: {
      if (!ReplayUsable()) return;
      play_->setText(kPlayCaption);
      const Table& clips = Tables().clip;
      const double fps = clips.Float(c.row, clip::kFps);
      const double head = clips.Int(c.row, clip::kHead);
      SendReplay(kReplaySeek, fps > 0 ? static_cast<std::int64_t>(head * 1000 / fps) : 0);
      return;
    }
    case kViewSave:
      SavePicture();
      return;
    case kViewActualSize:
      FitWindowToFrame();
      return;
    default:
      return;
  }
}

bool CPageSmap::ShowFrame(int number, std::string* why) {
  const auto fail = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  if (number < 0) return fail("a frame number is 0 or more");
  if (!ReplayUsable()) return fail("the clip has no video to replay");
  CReplayThread& replay = ReplayThread();
  // Waits for the last command sent and the frame it brings.
  const auto settle = [&](std::uint64_t posted) {
    const QDeadlineTimer deadline(kFrameWaitMs);
    while (!deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      if (replay.CommandsHandled() < posted) continue;
      const ReplaySnapshot now = replay.Snapshot();
      if (now.state == kReplayNoGraph) return false;
      if (frame_ && frame_->position == now.position) return true;
    }
    return false;
  };
  // The first step builds the graph, which tells the frame duration.
  SendReplay(kReplaySeek, 0);
  if (!settle(last_command_)) return fail("the video cannot be replayed: " + replay.GraphFailure());
  const ReplaySnapshot built = replay.Snapshot();
  if (built.frame_duration <= 0) return fail("the video's frame duration is unknown");
  const std::int64_t target = std::int64_t(number) * built.frame_duration;
  if (built.duration > 0 && target >= built.duration) {
    return fail("frame " + std::to_string(number) + " is beyond the end of the video (" +
                std::to_string(built.duration / built.frame_duration) + " frames)");
  }
  // Milliseconds rounded up: the position then lies inside the frame.
  SendReplay(kReplaySeek, (target + 9999) / 10000);
  if (!settle(last_command_)) return fail("frame " + std::to_string(number) + " did not come");
  if (frame_->frame_number != number) {
    return fail("the replay showed frame " + std::to_string(frame_->frame_number));
  }
  return true;
}

namespace {
// Context 0's visible-star list belongs to an analysis while one runs
// (a replayed clip, or slot 0 of the analysis dialog).
bool StarsInUseByAnalysis() {
  return AnalysisDialog() || (ReplayThreadStarted() && ReplayThread().AnalysisInstalled());
}
}  // namespace

void CPageSmap::RebuildStars() {
  if (StarsInUseByAnalysis()) return;
  BuildVisibleStars(StarMap(), CurrentProfile(), AnalysisContextAt(0).stars.visible);
}

void CPageSmap::ShowStill() {
  frame_.reset();
  Redraw();
}

void CPageSmap::ChangeDxoffset(int delta) {
  mr4::ChangeDxoffset(CurrentProfile(), Tables().clip, CurrentClip().row, delta);
  Redraw();
}

void CPageSmap::Compose() {
  const CurrentClipState& c = CurrentClip();
  const CameraProfile& profile = CurrentProfile();
  const Settings& s = AppSettings();
  ViewSwitches switches;
  switches.hit = s.v_hmark != 0;
  switches.area = s.v_amask != 0;
  switches.star_mask = s.v_smask != 0;
  switches.azev = s.v_azev != 0;
  switches.radec = s.v_radc != 0;
  switches.stars = s.v_star != 0 && !StarsInUseByAnalysis();
  switches.trail = s.v_trail != 0;
  switches.clicks = save_click_;

  ViewPictureSource source;
  std::vector<std::uint8_t> expanded;
  if (c.row < 0) {
    // No clip: a black picture of the profile's frame.
    source.width = profile.cx;
    source.height = profile.cy;
    ComposeViewPicture(source, ViewSwitches{false}, buffer_);
    composed_width_ = source.width;
    composed_height_ = source.height;
    return;
  }
  if (frame_ && frame_->buffer) {
    source.width = frame_->width;
    source.height = frame_->height;
    if (frame_->pixels == FramePixels::kGreen) {
      expanded.resize(frame_->buffer->size() * 3);
      for (std::size_t i = 0; i < frame_->buffer->size(); ++i) {
        expanded[i * 3] = expanded[i * 3 + 1] = expanded[i * 3 + 2] = (*frame_->buffer)[i];
      }
      source.picture = expanded;
    } else {
      source.picture = *frame_->buffer;
    }
    source.frame_number = frame_->frame_number;
  } else {
    // A still that could not be read is a black picture of the frame size.
    source.width = c.still.width > 0 ? c.still.width : profile.cx;
    source.height = c.still.height > 0 ? c.still.height : profile.cy;
    if (c.still.width > 0) {
      source.picture = c.still.pixels.subspan(
          0, static_cast<std::size_t>(c.still.width) * c.still.height * 3);
    }
  }
  source.still = &c.still;
  source.mask = &c.mask;
  source.analysed = ClipAnalysed(c.row);
  if (c.current_object >= 0) {
    const Table& objects = Tables().obj;
    if (objects.Exists(c.current_object)) {
      ViewTrail trail;
      trail.x1 = objects.Float(c.current_object, obj::kX1);
      trail.y1 = objects.Float(c.current_object, obj::kY1);
      trail.x2 = objects.Float(c.current_object, obj::kX2);
      trail.y2 = objects.Float(c.current_object, obj::kY2);
      trail.object_class = std::string(objects.Text(c.current_object, obj::kClass));
      source.trail = trail;
    }
  }
  source.profile = &profile;
  AnalysisContext& context = AnalysisContextAt(0);
  source.context = &context;
  source.visible = &context.stars.visible;
  const Table& clips = Tables().clip;
  source.last_field =
      clips.Int(c.row, clip::kFrames) * (1 + (clips.Int(c.row, clip::kInterlaced) ? 1 : 0)) - 1;
  source.clicks = &c.clicks;
  ComposeViewPicture(source, switches, buffer_);
  composed_width_ = source.width;
  composed_height_ = source.height;
}

void CPageSmap::ConvertToImage() {
  ConvertViewPicture(buffer_, composed_width_, composed_height_, image_);
}

void CPageSmap::Redraw() {
  if (setting_up_ || !initialised()) return;
  if (ReplayThreadStarted() && ReplayThread().Snapshot().analysis_mode) return;
  Compose();
  ConvertToImage();
  canvas_->update();
}

void CPageSmap::Redraw(const DeliveredFrame& frame) {
  frame_ = frame;
  Redraw();
}

void CPageSmap::SetTrackRange(std::int64_t milliseconds) {
  if (!track_) return;
  updating_track_ = true;
  track_->setRange(0, static_cast<int>(std::clamp<std::int64_t>(milliseconds, 0, INT32_MAX)));
  updating_track_ = false;
}

void CPageSmap::SetTrackPosition(std::int64_t milliseconds) {
  if (!track_) return;
  updating_track_ = true;
  track_->setValue(static_cast<int>(std::clamp<std::int64_t>(milliseconds, 0, INT32_MAX)));
  updating_track_ = false;
}

void CPageSmap::ShowStopped() {
  if (play_) play_->setText(kPlayCaption);
}

void CPageSmap::ShowReadout(int x, int y) {
  const int width = image_.width(), height = image_.height();
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  const int blue = buffer_[(std::size_t(y) * width + x) * 3];
  const ViewReadout r =
      ReadoutAt(CurrentProfile(), x, y, blue, AppSettings().a_km1, click_mode_);
  readout_->setText(QString::fromStdString(r.first));
  distance_->setText(QString::fromStdString(r.second));
}

void CPageSmap::SetStatus(const QString& text) { status_->setText(text); }

void CPageSmap::Click(std::optional<QPoint> pixel, Qt::MouseButton button) {
  CurrentClipState& c = CurrentClip();
  if (button == Qt::RightButton) {
    if (click_mode_) {
      click_mode_ = 0;
    } else if (!c.clicks.empty()) {
      c.clicks.pop_back();
    }
    Redraw();
    return;
  }
  if (button != Qt::LeftButton) return;
  if (!click_mode_ && !save_click_) {
    Command(kViewPlay);
    return;
  }
  if (c.row < 0) {
    SetStatus(kClickNoClip);
    return;
  }
  if (!pixel) {
    SetStatus(kClickOutside);
    return;
  }
  if (Tables().clip.Text(c.row, clip::kProfile).empty()) {
    SetStatus(kClickNoProfile);
    return;
  }
  const mr4::Click click = ClickAt(CurrentProfile(), pixel->x(), pixel->y());
  if (click_mode_) {
    const int object = c.current_object;
    if (object < 0 || !Tables().obj.Exists(object)) {
      SetStatus(kClickNoObject);
      return;
    }
    const int end = click_mode_;
    const Settings& settings = AppSettings();
    SetObjectEndPoint(Tables().clip, c.row, Tables().obj, object, end, click,
                      end == 1 ? settings.a_km1 : settings.a_km2);
    click_mode_ = 0;
    SaveClipResult(AnalysisContextAt(0), c.row);
    if (CUDlg* window = MainWindow()) {
      window->NotifyClipRowChanged(c.row);
    }
    Redraw();
    // The point placed, marked over the picture until the next redraw.
    DisplayPicture picture{buffer_, composed_width_, composed_height_};
    DrawClickMark(picture, click.x, click.y, end);
    ConvertToImage();
    canvas_->update();
    SetStatus("Done");
    return;
  }
  if (!AppendClick(c.clicks, click)) {
    ShowError("%s", kTooManyClicks);
    SetStatus(kTooManyClicks);
    return;
  }
  if (!WriteCurrentClipClicks()) SetStatus("The clicks file could not be written.");
  else SetStatus(QString("click %1 saved").arg(c.clicks.size()));
  Redraw();
}

QString CPageSmap::readout_text() const {
  return readout_ ? readout_->text() + "\n" + distance_->text() : QString();
}
QString CPageSmap::status_text() const { return status_ ? status_->text() : QString(); }
QString CPageSmap::play_caption() const { return play_ ? play_->text() : QString(); }

void CPageSmap::SavePicture() {
  const CurrentClipState& c = CurrentClip();
  if (image_.isNull() || c.row < 0) return;
  fs::path directory = LastImageDirectory();
  if (directory.empty()) {
    directory = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString();
  }
  FileDialogRequest request;
  request.title = kSaveImageTitle;
  request.proposed = directory / (std::string(Tables().clip.Text(c.row, clip::kClipName)) + "_");
  request.filter = "Bitmap (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg";
  const std::optional<fs::path> chosen = CurrentUi().SaveFile(request);
  if (!chosen) return;
  const std::string name = chosen->string();
  std::error_code ec;
  if (fs::exists(*chosen, ec)) {
    char question[1200];
    std::snprintf(question, sizeof question, kOverwriteQuestion, name.c_str());
    if (!CurrentUi().AskOkCancel("", question)) return;
  }
  LastImageDirectory() = chosen->parent_path();
  if (name.size() < 3) return;
  const char kind = name[name.size() - 3];
  const int width = image_.width(), height = image_.height();
  if (kind == 'b' || kind == 'B') {
    WriteStillBmp(*chosen, buffer_, width, height);
  } else if (kind == 'j' || kind == 'J') {
    SaveStillImage(*chosen, buffer_, width, height);
  }
}

void CPageSmap::FitWindowToFrame() {
  CUDlg* window = MainWindow();
  if (!window || image_.isNull()) return;
  const QPoint origin = canvas_->mapTo(window, QPoint(0, 0));
  window->resize(origin.x() + image_.width() + 12, origin.y() + image_.height() + 8);
}

}  // namespace mr4
