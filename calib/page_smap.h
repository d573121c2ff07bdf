// The View page CPageSmap: the current clip's still, or the frames while the
// replay plays, with the switchable overlays; the replay buttons and the
// track bar; the live readout of the pixel under the mouse; the clicks.
//
// The picture is composed by the engine (analysis/view_picture.h) into a
// bottom-up BGR buffer and converted once per redraw into a top-down
// QImage, which the canvas draws without smoothing (one screen pixel per
// frame pixel, or an integer-free reduction when the page is smaller).
//
// User-interface thread only. The page is the replay thread's view while
// it lives.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/view_picture.h"
#include "app/main_window.h"
#include "replay/replay_thread.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace mr4 {

class CUDEdit;

// The page's command ids (its controls' object names).
enum ViewCommand : int {
  kViewPrev = 1501,
  kViewNext = 1502,
  kViewStill = 1503,
  kViewPlay = 1504,   // ">" / "||"
  kViewRestart = 1505,  // "|>"
  kViewBack = 1506,   // "||<"
  kViewStep = 1507,   // ">||"
  kViewHead = 1508,   // "|| H"
  kViewSave = 1509,
  kViewActualSize = 1510,  // "x1"
};

class CPageSmap;

// Converts a composed picture (width x height, 3 bytes per pixel
// blue-green-red, rows from the bottom) into `image` (RGB32, rows from the
// top), reusing the image when it has that size already; a null image when
// the buffer is too small.
void ConvertViewPicture(const std::vector<std::uint8_t>& bgr, int width, int height,
                        QImage& image);

// The picture widget of the page.
class ViewCanvas final : public QWidget {
 public:
  explicit ViewCanvas(CPageSmap& page, QWidget* parent);
  // The image pixel under widget point `at` (y from the bottom), or none
  // outside the picture.
  std::optional<QPoint> ImagePixel(QPoint at) const;
  QRect picture_rect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  CPageSmap& page_;
};

class CPageSmap final : public CPage, private ReplayView {
 public:
  explicit CPageSmap(const LayoutScale& scale, QWidget* parent = nullptr);
  ~CPageSmap() override;

  // Runs a control as its button does (`ctrl`: Ctrl held).
  void Command(int id, bool ctrl = false);
  // Composes the picture from the still (or the last frame while
  // replaying) and repaints.
  void Redraw();
  // The mouse over image pixel (x, y), y from the bottom.
  void ShowReadout(int x, int y);
  // A click at image pixel `pixel` (none: outside the picture).
  void Click(std::optional<QPoint> pixel, Qt::MouseButton button);
  // Shows frame `number` of the current clip's video (the replay positioned
  // at that frame and paused), waiting for it with the event loop running;
  // false with the reason when there is no such frame or it did not come.
  bool ShowFrame(int number, std::string* why);
  // Arms (1, 2) or disarms (0) the click for an object end point.
  void SetClickMode(int mode) { click_mode_ = mode; }
  int click_mode() const { return click_mode_; }
  void SetSaveClick(bool on);
  bool save_click() const { return save_click_; }

  const QImage& image() const { return image_; }
  const std::vector<std::uint8_t>& buffer() const { return buffer_; }
  QString readout_text() const;
  QString status_text() const;
  QString play_caption() const;
  ViewCanvas* canvas() const { return canvas_; }
  QSlider* track_bar() const { return track_; }
  // The frame of the replay shown last (while replaying).
  const std::optional<DeliveredFrame>& frame() const { return frame_; }
  // The number (CReplayThread::PostCommand) of the last command sent.
  std::uint64_t last_command() const { return last_command_; }

 protected:
  void OnInitPage() override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // ReplayView.
  void SetTrackRange(std::int64_t milliseconds) override;
  void SetTrackPosition(std::int64_t milliseconds) override;
  void ShowStopped() override;
  void Redraw(const DeliveredFrame& frame) override;

  QPushButton* AddButton(int id, const char* caption, int x, int y, int width);
  QCheckBox* AddSwitch(const char* caption, int* flag, int x, int width);
  bool ReplayUsable();
  void SendReplay(int command, std::int64_t argument = 0);
  void ShowStill();
  void RebuildStars();
  void Compose();
  void ConvertToImage();
  void SetStatus(const QString& text);
  void SavePicture();
  void FitWindowToFrame();
  void ChangeDxoffset(int delta);

  QSlider* track_ = nullptr;
  QPushButton* play_ = nullptr;
  QLabel* readout_ = nullptr;
  QLabel* distance_ = nullptr;
  QLabel* status_ = nullptr;
  QCheckBox* save_click_box_ = nullptr;
  CUDEdit* refmag_ = nullptr;
  ViewCanvas* canvas_ = nullptr;
  std::vector<QCheckBox*> switches_;
  std::vector<int*> switch_flags_;

  std::vector<std::uint8_t> buffer_;
  int composed_width_ = 0;
  int composed_height_ = 0;
  QImage image_;
  std::optional<DeliveredFrame> frame_;  // while replaying
  int replay_clip_row_ = -1;             // the clip the replay was given
  std::uint64_t last_command_ = 0;
  int click_mode_ = 0;
  bool save_click_ = false;
  bool setting_up_ = false;
  bool updating_track_ = false;
};

}  // namespace mr4
