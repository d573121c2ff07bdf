// The star catalogue "Smap2000S.csv" and the visible-star list: the
// catalogue stars that fall inside the frame of a clip through its profile.
//
// The process-wide catalogue (StarMap()) is loaded once at start-up on the
// user-interface thread and is read-only afterwards, so any thread may read
// it. A visible-star list belongs to one analysis context, like the profile
// it was built with.
//
// File format: one header line, then per star "ra,dec,V,B-V" (J2000 right
// ascension and declination in deg, V magnitude, B-V colour index), lines
// ending in CR LF or LF. Units: deg and magnitudes.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "astro/sky_coordinates.h"
#include "calib/camera_profile.h"

namespace mr4 {

inline constexpr char kStarCatalogueFileName[] = "Smap2000S.csv";
// Room for this many stars; further lines of the file are not read.
inline constexpr int kStarCatalogueCapacity = 300000;
// Longer lines are read in pieces of this many characters, as the
// catalogue reader always has.
inline constexpr int kStarCatalogueLineMaxChars = 255;

struct StarCatalogue {
  // Parallel arrays, `count` entries each.
  std::vector<float> ra;      // J2000 [deg]
  std::vector<float> dec;     // J2000 [deg]
  std::vector<float> vmag;    // V magnitude
  std::vector<float> colour;  // B-V colour index
  int count = 0;
};

// The catalogue of the process.
StarCatalogue& StarMap();

// Reads the catalogue file into `catalogue`. When the file cannot be opened
// shows "Cannnot load Star Map .... abort" and returns false. Lines that do
// not hold four numbers are skipped.
bool LoadStarCatalogue(const std::filesystem::path& file,
                       StarCatalogue& catalogue);

// The magnitude a star has for this camera: BVF x colour + V.
float EffectiveMagnitude(const StarCatalogue& catalogue,
                         const CameraProfile& profile, int index);

// A catalogue star's true azimuth and elevation at the clip instant.
HorizontalPoint StarDirection(const StarCatalogue& catalogue,
                              const CameraProfile& profile, int index);

struct VisibleStar {
  // Catalogue index; a negative value is the complement (~index) of a star
  // that was outside the frame at the last refresh.
  int index = 0;
  float ra = 0.0f;   // [deg]
  float dec = 0.0f;  // [deg]
  float mag = 0.0f;  // effective magnitude
};

struct VisibleStars {
  std::vector<VisibleStar> entries;  // at most kStarCatalogueCapacity
};

// Lists every catalogue star inside the field and the frame that is not
// fainter than `refmag`. Returns the count.
int BuildVisibleStars(const StarCatalogue& catalogue,
                      const CameraProfile& profile, VisibleStars& visible);

// Draws each listed star not fainter than `refmag` that is inside the frame
// now (x, y [px], effective magnitude) and marks the others as outside.
using StarMarkerFn = std::function<void(double x, double y, float mag)>;
void RefreshVisibleStars(const CameraProfile& profile, VisibleStars& visible,
                         const StarMarkerFn& draw);

}  // namespace mr4
