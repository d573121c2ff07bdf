// The Trail Map page CPageTmap: the star chart of the switched-on objects'
// trails with their backward extensions, the showers' radiants, the
// ecliptic and the grid, steered by six parameter fields and seven check
// boxes; the sky coordinates under the mouse, a clicked marker, the chart
// saved as PNG.
//
// The chart is composed by the engine (maps/trail_map.h) into a
// bottom-up BGR buffer and converted once per redraw into a top-down
// QImage, drawn one screen pixel per chart pixel.
//
// User-interface thread only.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "maps/trail_map.h"
#include "app/main_window.h"

class QCheckBox;
class QLabel;

namespace mr4 {

class CUDEdit;

// The page's command ids (its controls' object names).
enum TrailMapCommand : int {
  kTmapPrev = 1541,
  kTmapNext = 1542,
  kTmapSave = 1543,
};
// The first parameter field's control id; the status line's.
inline constexpr int kTmapFieldBase = 2561;
inline constexpr int kTmapStatusId = 1137;

class CPageTmap;

class TrailMapCanvas final : public QWidget {
 public:
  TrailMapCanvas(CPageTmap& page, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  CPageTmap& page_;
};

class CPageTmap final : public CPage {
 public:
  explicit CPageTmap(const LayoutScale& scale, QWidget* parent = nullptr);

  void Command(int id);
  // Composes the chart for the current clip and repaints.
  void Redraw();
  // The pointer over canvas pixel `at` (y from the top).
  void ShowReadout(QPoint at);
  // A click at canvas pixel `at`: left sets the marker, right removes it.
  void Click(QPoint at, Qt::MouseButton button);
  // Writes the chart to `path` as PNG; false when it could not.
  bool SaveChart(const std::filesystem::path& path);

  const QImage& image() const { return image_; }
  const std::vector<std::uint8_t>& buffer() const { return buffer_; }
  const TrailMapInput& input() const { return input_; }
  QString status_text() const;
  int days() const { return days_; }

 protected:
  void OnInitPage() override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // A repaint of the page (the plot page asks for one when the switched-on
  // objects change) composes the chart again.
  void paintEvent(QPaintEvent* event) override;

 private:
  // Chart units of canvas pixel `at`.
  std::pair<double, double> ChartPoint(QPoint at) const;
  void FillInput();
  void FitChart();
  void SaveDialog();

  std::vector<CUDEdit*> fields_;
  std::vector<QCheckBox*> switches_;
  std::vector<int*> switch_flags_;
  QLabel* status_ = nullptr;
  TrailMapCanvas* canvas_ = nullptr;
  std::vector<std::uint8_t> buffer_;
  QImage image_;
  TrailMapInput input_;
  int chart_width_ = 0, chart_height_ = 0;
  int days_ = 0;  // "+d", not stored
  std::optional<std::pair<double, double>> marker_;
  // The date the chart was last drawn for, kept while no clip is current.
  std::optional<ChartClip> last_clip_;
  bool setting_up_ = false;
};

}  // namespace mr4
