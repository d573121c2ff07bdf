// The main window CUDlg ("MeridraV4"): two page hosts CUSheet side by side,
// the left one with the clip and analysis pages, the right one with the
// picture pages, each showing one page at a time by its tabs. The window
// keeps its placement and show state in the settings ("AP.dlgrect.*",
// "AP.showcmd"), asks before it closes with unsaved tables, and offers the
// pages the clip-row services (NotifyClipRowChanged, ReselectCurrentClip).
//
// Everything here belongs to the user-interface thread. At most one main
// window exists; MainWindow() names it while it lives.
#pragma once

#include <QRect>
#include <QSize>
#include <QTabWidget>
#include <QWidget>
#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "analysis/result_pictures.h"

class QFont;

namespace mr4 {

enum class PageId { kMain, kProfile, kClass, kPlot, kUty, kView, kMask, kTrailMap, kGroundMap };
inline constexpr int kPageCount = 9;

enum class Host { kLeft, kRight };

struct PageInfo {
  PageId id;
  Host host;
  int tab;              // position in its host
  const char* caption;  // the tab's text
  const char* name;     // `mr4 screenshot --page NAME`
};

// The nine pages: the left host's in tab order, then the right host's.
std::span<const PageInfo, kPageCount> PageTable();
const PageInfo& PageInfoOf(PageId id);
std::optional<PageId> PageByName(std::string_view name);

// The factors by which pages multiply the reference layout's pixels (1.0 on
// the reference screen, whose dialog font has a base width of 6 px and a line
// height of 13 px). Taken from the font the pages are drawn with, so that a
// larger font or a denser screen gets a proportionally larger layout and the
// texts keep fitting their controls.
struct LayoutScale {
  double horizontal = 1.0;
  double vertical = 1.0;
  int X(double reference_px) const;  // trunc(horizontal * px + 0.5)
  int Y(double reference_px) const;
};
inline constexpr double kReferenceFontBaseWidth = 6.0;   // px
inline constexpr double kReferenceFontLineHeight = 13.0;  // px
LayoutScale LayoutScaleFromFont(const QFont& font);

// The window's size limits while the user drags its frame [px].
inline constexpr QSize kMinMainWindowSize{768, 580};
inline constexpr QSize kMaxMainWindowSize{4092, 2400};

// Where the two hosts go in a client area: with a = trunc(horizontal *
// 345.5 + 0.5), the left host at (1, 1) a - 1 wide, the right host at
// (a + 1, 1) over the rest but 2 px; both the client height less 2.
struct HostGeometry {
  QRect left;
  QRect right;
};
HostGeometry SplitHosts(double horizontal_scale, QSize client);

// The "AP.showcmd" values the window keeps.
inline constexpr int kShowNormal = 1;
inline constexpr int kShowMinimized = 2;
inline constexpr int kShowMaximized = 3;

// A page of a host. A page initialises the first time it is opened
// (OnInitPage); until then the main window does not name it to others. The
// clip-list hooks are for the pages that show the clip table.
class CPage : public QWidget {
 public:
  CPage(PageId id, const LayoutScale& scale, QWidget* parent = nullptr);

  PageId id() const { return id_; }
  const LayoutScale& scale() const { return scale_; }
  bool initialised() const { return initialised_; }
  // Initialises the page once; later calls do nothing.
  void Open();

  // Redraw the list line that shows clip row `clip_row` (-1: the selected
  // line), then refill the object list of the current clip.
  virtual void RedrawClipRow(int clip_row) { (void)clip_row; }
  // Builds the clip list's lines again (clips were added or deleted), then
  // shows the current clip.
  virtual void ReloadClipLists() {}
  // The selected line of the page's clip list; nullopt when the list is
  // empty or nothing is selected. HasClipLines: the list has lines.
  virtual bool HasClipLines() const { return false; }
  virtual std::optional<int> SelectedClipLine() const { return std::nullopt; }
  // The clip of list line `line` is chosen (page message 1325).
  virtual void OnClipSelected(int line) { (void)line; }
  // Selects (without opening) the list line that shows clip row `clip_row`.
  virtual void SelectClipRow(int clip_row) { (void)clip_row; }
  // A left click on the main window's own background (View page).
  virtual void OnMainWindowClick(QPoint window_position) { (void)window_position; }
  // A page message posted by one of the page's lists or commands (the
  // message numbers are the pages' own; `first` and `second` as each says).
  virtual void OnPageMessage(int message, int first, int second) {
    (void)message;
    (void)first;
    (void)second;
  }
  // An analysed clip's result picture (Mask Editor page).
  virtual void OnAnalysisResult(const ResultPicture& picture) { (void)picture; }

 protected:
  virtual void OnInitPage() {}
  // The room a picture drawn at `canvas`'s top-left corner has up to
  // `margin` before the window's right and bottom edges (the page's own
  // when it is not in a window): the width a multiple of 4, each side
  // clamped to 0 .. `largest`.
  QSize PictureRoom(const QWidget* canvas, int margin, QSize largest) const;

 private:
  PageId id_;
  LayoutScale scale_;
  bool initialised_ = false;
};

// One page host: its tab control over the whole host, the shown page in
// the tab area. Opening a tab opens its page.
class CUSheet : public QTabWidget {
 public:
  explicit CUSheet(QWidget* parent);
  void AddPage(CPage* page);
  CPage* PageAt(int tab) const;
  void OpenTab(int tab);
};

class CUDlg : public QWidget {
 public:
  // Builds the window from the settings' placement (not shown yet); the
  // scale is derived from the application font unless given.
  explicit CUDlg(std::optional<LayoutScale> scale = std::nullopt);
  ~CUDlg() override;

  // Shows the window in the stored show state.
  void ShowAsPlaced();

  const LayoutScale& layout_scale() const { return scale_; }
  CUSheet* host(Host which) const { return which == Host::kLeft ? left_ : right_; }
  // The page once it has been opened, else nullptr.
  CPage* OpenedPage(PageId id) const;
  // Brings the page to the front of its host (opening it).
  void ShowPage(PageId id);
  // True while the hosts are being fitted to a new size.
  bool sizing() const { return sizing_; }

  // Each opened clip page (Main, Profile/Analyze, Class, Plot, Uty, in this
  // order) redraws the line of `clip_row` and refills its object list.
  void NotifyClipRowChanged(int clip_row);
  // Each opened clip page builds its clip list again.
  void ReloadClipLists();
  // Posts the first opened clip page that has clip lines its selected line
  // as a clip selection (nothing when no line is selected).
  void ReselectCurrentClip();
  // Selects clip row `clip_row` in every opened clip page's list and opens
  // it as a click on its line does (through the first page with lines);
  // then every opened clip page shows the clip's objects.
  void OpenClipRow(int clip_row);

  // Stores the normal-state rectangle and the show state in the settings.
  void StorePlacement() const;

  // A page edited a table that is not saved: closing asks first. Clear
  // when the window is built, that is right after start-up.
  void MarkTablesModified(bool modified = true) { tables_modified_ = modified; }
  bool tables_modified() const { return tables_modified_; }

  // The result picture of the last analysed clip: kept for the Mask Editor
  // page, and handed to it at once when it has been opened.
  void SetAnalysisResult(ResultPicture picture);
  const ResultPicture& analysis_result() const { return analysis_result_; }

  // Closing was asked while an analysis ran and answered with OK: the
  // analysis stops, and its dialog closes the window when its last clip
  // has ended.
  bool close_after_analysis() const { return close_after_analysis_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void PlaceHosts();
  CPage* PageObject(PageId id) const;

  LayoutScale scale_;
  CUSheet* left_ = nullptr;
  CUSheet* right_ = nullptr;
  std::array<CPage*, kPageCount> pages_{};
  bool sizing_ = false;
  bool tables_modified_ = false;
  bool close_after_analysis_ = false;
  ResultPicture analysis_result_;
};

// The main window while it exists, else nullptr.
CUDlg* MainWindow();

inline constexpr char kMainWindowCaption[] = "MeridraV4";
inline constexpr char kTablesNotSavedQuestion[] =
    "Tables were not saved. Abandon Modification OK?";
inline constexpr char kAnalysisRunningQuestion[] =
    "Analysis is running. Stop it and close?\n"
    "The clips being analysed keep their old results.";

}  // namespace mr4
