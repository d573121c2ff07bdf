#include "app/main_window.h"

#include <algorithm>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QResizeEvent>
#include <cmath>

#include "analysis/pa_dlg.h"
#include "analysis/page_class.h"
#include "maps/page_plot.h"
#include "maps/page_gmap.h"
#include "maps/page_tmap.h"
#include "analysis/parallel_analysis.h"
#include "app/settings.h"
#include "base/error.h"
#include "clips/current_clip.h"
#include "calib/page_mask.h"
#include "calib/page_profile.h"
#include "calib/page_smap.h"
#include "clips/page_main.h"
#include "platform/message_queue.h"
#include "platform/ui.h"
#include "utility/page_uty.h"

namespace mr4 {
namespace {

constexpr std::array<PageInfo, kPageCount> kPages = {{
    {PageId::kMain, Host::kLeft, 0, "Main", "main"},
    {PageId::kProfile, Host::kLeft, 1, "Profile/Analyze", "profile"},
    {PageId::kClass, Host::kLeft, 2, "Class", "class"},
    {PageId::kPlot, Host::kLeft, 3, "Plot", "plot"},
    {PageId::kUty, Host::kLeft, 4, "Uty", "uty"},
    {PageId::kView, Host::kRight, 0, "View", "view"},
    {PageId::kMask, Host::kRight, 1, "Mask Editor", "mask"},
    {PageId::kTrailMap, Host::kRight, 2, "Trail Map", "trailmap"},
    {PageId::kGroundMap, Host::kRight, 3, "Ground Map", "groundmap"},
}};

// The pages that show the clip table, in the order the services visit them.
constexpr PageId kClipPages[] = {PageId::kMain, PageId::kProfile, PageId::kClass,
                                 PageId::kPlot, PageId::kUty};

// The left host's width at scale 1.0 plus the rounding half [px].
constexpr double kLeftHostReferenceWidth = 345.5;

CUDlg* g_main_window = nullptr;

// The window's icon: a meteor's streak over the night sky.
QIcon MainWindowIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(QColor(10, 20, 60));
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(255, 240, 180), 3, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(6, 6), QPointF(24, 24));
  painter.setPen(QPen(Qt::white, 2));
  painter.drawPoint(QPointF(26, 8));
  painter.drawPoint(QPointF(9, 25));
  return QIcon(pixmap);
}

CPage* MakePage(const PageInfo& info, const LayoutScale& scale) {
  if (info.id == PageId::kMain) return new CPageMain(scale);
  if (info.id == PageId::kProfile) return new CPageProfile(scale);
  if (info.id == PageId::kView) return new CPageSmap(scale);
  if (info.id == PageId::kClass) return new CPageClass(scale);
  if (info.id == PageId::kPlot) return new CPageGPlot(scale);
  if (info.id == PageId::kMask) return new CPageMask(scale);
  if (info.id == PageId::kUty) return new CPageUty(scale);
  if (info.id == PageId::kTrailMap) return new CPageTmap(scale);
  if (info.id == PageId::kGroundMap) return new CPageGmap(scale);
  return new CPage(info.id, scale);  // an id without a page class: a plain frame
}

}  // namespace

std::span<const PageInfo, kPageCount> PageTable() { return kPages; }

const PageInfo& PageInfoOf(PageId id) { return kPages[static_cast<int>(id)]; }

std::optional<PageId> PageByName(std::string_view name) {
  for (const PageInfo& info : kPages) {
    if (name == info.name) return info.id;
  }
  return std::nullopt;
}

int LayoutScale::X(double reference_px) const {
  return static_cast<int>(horizontal * reference_px + 0.5);
}

int LayoutScale::Y(double reference_px) const {
  return static_cast<int>(vertical * reference_px + 0.5);
}

LayoutScale LayoutScaleFromFont(const QFont& font) {
  // The base width as dialogs measure it: the mean advance of the 52 Latin
  // letters, halved, rounded up.
  const QFontMetricsF metrics(font);
  const double letters = metrics.horizontalAdvance(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const double base_width = (letters / 26.0 + 1.0) / 2.0;
  LayoutScale scale;
  scale.horizontal = base_width / kReferenceFontBaseWidth;
  scale.vertical = metrics.height() / kReferenceFontLineHeight;
  return scale;
}

HostGeometry SplitHosts(double horizontal_scale, QSize client) {
  const int a = static_cast<int>(std::trunc(horizontal_scale * kLeftHostReferenceWidth + 0.5));
  const int height = client.height() - 2;
  return HostGeometry{QRect(1, 1, a - 1, height),
                      QRect(a + 1, 1, client.width() - a - 2, height)};
}

CPage::CPage(PageId id, const LayoutScale& scale, QWidget* parent)
    : QWidget(parent), id_(id), scale_(scale) {}

void CPage::Open() {
  if (initialised_) return;
  initialised_ = true;
  OnInitPage();
}

QSize CPage::PictureRoom(const QWidget* canvas, int margin, QSize largest) const {
  const QWidget* window = this->window();
  const QPoint origin = canvas->mapTo(window, QPoint(0, 0));
  const int right = window == this ? width() : window->width();
  const int bottom = window == this ? height() : window->height();
  return QSize(std::clamp((right - origin.x() - margin) / 4 * 4, 0, largest.width()),
               std::clamp(bottom - origin.y() - margin, 0, largest.height()));
}

CUSheet::CUSheet(QWidget* parent) : QTabWidget(parent) {
  connect(this, &QTabWidget::currentChanged, this, [this](int tab) {
    if (CPage* page = PageAt(tab)) page->Open();
  });
}

void CUSheet::AddPage(CPage* page) {
  const QSignalBlocker quiet(this);  // pages open in their own order
  addTab(page, QString::fromUtf8(PageInfoOf(page->id()).caption));
}

CPage* CUSheet::PageAt(int tab) const { return static_cast<CPage*>(widget(tab)); }

void CUSheet::OpenTab(int tab) {
  setCurrentIndex(tab);
  if (CPage* page = PageAt(tab)) page->Open();
}

CUDlg::CUDlg(std::optional<LayoutScale> scale)
    : scale_(scale ? *scale : LayoutScaleFromFont(font())) {
  g_main_window = this;
  setWindowTitle(kMainWindowCaption);
  setWindowIcon(MainWindowIcon());
  setMinimumSize(kMinMainWindowSize);
  setMaximumSize(kMaxMainWindowSize);

  left_ = new CUSheet(this);
  right_ = new CUSheet(this);
  for (const PageInfo& info : kPages) {
    CPage* page = MakePage(info, scale_);
    pages_[static_cast<int>(info.id)] = page;
    host(info.host)->AddPage(page);
  }

  const Settings& settings = AppSettings();
  setGeometry(settings.dlgrect_left, settings.dlgrect_top,
              settings.dlgrect_right - settings.dlgrect_left,
              settings.dlgrect_bottom - settings.dlgrect_top);
  PlaceHosts();

  // The picture pages and the first two clip pages initialise at once; the
  // Class, Plot and Uty pages when first opened.
  for (int tab : {3, 2, 1, 0}) right_->OpenTab(tab);
  for (int tab : {1, 0}) left_->OpenTab(tab);
  MakeClipCurrent(-1);
}

CUDlg::~CUDlg() {
  if (g_main_window == this) g_main_window = nullptr;
}

CUDlg* MainWindow() { return g_main_window; }

void CUDlg::ShowAsPlaced() {
  switch (AppSettings().showcmd) {
    case kShowMinimized: showMinimized(); break;
    case kShowMaximized: showMaximized(); break;
    default: show(); break;  // 1, and values no window state matches
  }
}

CPage* CUDlg::PageObject(PageId id) const { return pages_[static_cast<int>(id)]; }

CPage* CUDlg::OpenedPage(PageId id) const {
  CPage* page = PageObject(id);
  return page->initialised() ? page : nullptr;
}

void CUDlg::ShowPage(PageId id) {
  const PageInfo& info = PageInfoOf(id);
  host(info.host)->OpenTab(info.tab);
}

void CUDlg::NotifyClipRowChanged(int clip_row) {
  for (PageId id : kClipPages) {
    if (CPage* page = OpenedPage(id)) page->RedrawClipRow(clip_row);
  }
}

void CUDlg::ReloadClipLists() {
  for (PageId id : kClipPages) {
    if (CPage* page = OpenedPage(id)) page->ReloadClipLists();
  }
}

void CUDlg::ReselectCurrentClip() {
  for (PageId id : kClipPages) {
    CPage* page = OpenedPage(id);
    if (!page || !page->HasClipLines()) continue;
    if (std::optional<int> line = page->SelectedClipLine()) {
      QPointer<CPage> target(page);
      MainQueue().Post([target, line = *line] {
        if (target) target->OnClipSelected(line);
      });
    }
    return;
  }
}

void CUDlg::OpenClipRow(int clip_row) {
  for (PageId id : kClipPages) {
    if (CPage* page = OpenedPage(id)) page->SelectClipRow(clip_row);
  }
  ReselectCurrentClip();
  // The clip opens through one page; the others show its objects once it
  // has (the posts run in order).
  QPointer<CUDlg> window(this);
  MainQueue().Post([window, clip_row] {
    if (window) window->NotifyClipRowChanged(clip_row);
  });
}

void CUDlg::PlaceHosts() {
  sizing_ = true;
  const HostGeometry geometry = SplitHosts(scale_.horizontal, size());
  left_->setGeometry(geometry.left);
  right_->setGeometry(geometry.right);
  sizing_ = false;
}

void CUDlg::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceHosts();
}

void CUDlg::StorePlacement() const {
  QRect normal = normalGeometry();
  if (normal.isEmpty()) normal = geometry();
  Settings& settings = AppSettings();
  settings.dlgrect_left = normal.left();
  settings.dlgrect_top = normal.top();
  settings.dlgrect_right = normal.left() + normal.width();
  settings.dlgrect_bottom = normal.top() + normal.height();
  const Qt::WindowStates state = windowState();
  settings.showcmd = state.testFlag(Qt::WindowMinimized)   ? kShowMinimized
                     : state.testFlag(Qt::WindowMaximized) ? kShowMaximized
                                                           : kShowNormal;
}

void CUDlg::SetAnalysisResult(ResultPicture picture) {
  analysis_result_ = std::move(picture);
  if (CPage* mask = OpenedPage(PageId::kMask)) mask->OnAnalysisResult(analysis_result_);
}

void CUDlg::closeEvent(QCloseEvent* event) {
  if (CPADlg* analysis = AnalysisDialog(); analysis && analysis->running()) {
    // The window closes once the analysis has stopped: no clip is left
    // half analysed, and those already done keep their results.
    event->ignore();
    if (close_after_analysis_) return;
    if (!CurrentUi().AskOkCancel(kMessageCaption, kAnalysisRunningQuestion)) return;
    close_after_analysis_ = true;
    analysis->Stop(kStopKeepingResult);
    return;
  }
  close_after_analysis_ = false;
  if (tables_modified_ &&
      !CurrentUi().AskOkCancel(kMessageCaption, kTablesNotSavedQuestion)) {
    event->ignore();
    return;
  }
  StorePlacement();
  event->accept();
}

void CUDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (CPage* view = OpenedPage(PageId::kView)) {
      view->OnMainWindowClick(event->position().toPoint());
    }
  }
  QWidget::mousePressEvent(event);
}

}  // namespace mr4
