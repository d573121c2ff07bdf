// The Ground Map page CPageGmap: the base map around the stations with the
// grid, the additional marks, the fields of view of the Plot page's
// profiles at the outline heights and the ground tracks of the switched-on
// objects; the zoom field, the base-map and marks files, the view moved by
// two spin buttons or centred on what was drawn, the picture saved as PNG.
//
// The picture is composed by the engine (maps/ground_map_view.h) into a
// bottom-up BGR buffer with its labels drawn in, and converted once per
// redraw into a top-down QImage.
//
// User-interface thread only.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <filesystem>

#include "maps/ground_map_view.h"
#include "app/main_window.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace mr4 {

class CUDEdit;

// The page's command ids (its controls' object names).
enum GroundMapCommand : int {
  kGmapPickMap = 1471,
  kGmapPickMarks = 1472,
  kGmapCenter = 1473,
  kGmapLonUp = 1474,    // first spin: the up arrow subtracts
  kGmapLonDown = 1475,  // the down arrow adds
  kGmapLatUp = 1476,
  kGmapLatDown = 1477,
  kGmapSave = 1478,
  kGmapPrev = 1479,
  kGmapNext = 1480,
};
// The zoom field's first control id; the status line's.
inline constexpr int kGmapFieldBase = 2501;
inline constexpr int kGmapStatusId = 1139;

class CPageGmap;

class GroundMapCanvas final : public QWidget {
 public:
  GroundMapCanvas(CPageGmap& page, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  CPageGmap& page_;
};

class CPageGmap final : public CPage {
 public:
  explicit CPageGmap(const LayoutScale& scale, QWidget* parent = nullptr);

  void Command(int id);
  // Composes the picture from the settings, the plot's profiles and the
  // tables, and repaints.
  void Redraw();
  // Writes the picture (with its labels when they are on) to `path` as
  // PNG; false when it could not.
  bool SavePicture(const std::filesystem::path& path);
  // The base-map and marks choices without their dialogs.
  void UseBaseMap(const std::filesystem::path& path);
  void UseMarks(const std::filesystem::path* path);  // nullptr: cancelled

  const QImage& image() const { return image_; }
  const GroundMapPicture& picture() const { return picture_; }
  QString status_text() const;

 protected:
  void OnInitPage() override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // A repaint of the page (the plot page asks for one when the switched-on
  // objects change) composes the picture again.
  void paintEvent(QPaintEvent* event) override;

 private:
  void FitPicture();
  void FillInput(GroundMapInput& in, GroundRaster& fallback);
  void SaveDialog();
  void ShowFiles();

  CUDEdit* zoom_ = nullptr;
  QLineEdit* map_name_ = nullptr;
  QLineEdit* marks_name_ = nullptr;
  QCheckBox* marks_ = nullptr;
  QCheckBox* text_ = nullptr;
  QCheckBox* bw_ = nullptr;
  QLabel* status_ = nullptr;
  GroundMapCanvas* canvas_ = nullptr;
  GroundMapPicture picture_;
  GroundMapPicture labelled_;  // the picture with its labels drawn in
  QImage image_;
  int picture_width_ = 0, picture_height_ = 0;
  bool setting_up_ = false;
};

}  // namespace mr4
