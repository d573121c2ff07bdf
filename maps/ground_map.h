// The ground map's data: the raster base map read from a DAT file and the
// additional marks read from a CSV file, both loaded once at start-up and
// again when the user picks another file.
//
// DAT file: a 79-character text header "Tessarox" followed by eight
// right-aligned 8-digit integers separated by commas (width, height, centre
// longitude x 10000, centre latitude x 10000, half field x 10000, three
// unused), a zero byte, then from byte 80 the rows top first, each a
// sequence of runs covering exactly `width` pixels. A run byte b carries the
// value b >> 4; with bit 3 clear its length is (b & 7) + 1, with bit 3 set
// it is ((b & 7) * 256 + next byte) + 1.
//
// User-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "astro/ground_geometry.h"

namespace mr4 {

inline constexpr int kGroundMapMaxWidth = 8192;   // [px]
inline constexpr int kGroundMapMaxHeight = 4320;  // [px]
// The encoding of one row takes fewer bytes than this.
inline constexpr int kGroundMapMaxRowBytes = 7200;
inline constexpr int kGroundMapHeaderChars = 79;
inline constexpr int kGroundMapDataOffset = 80;

struct GroundRaster {
  int width = 0;   // [px]
  int height = 0;  // [px]
  double lon0 = 0.0;        // centre [deg]
  double lat0 = 0.0;        // [deg]
  double half_field = 0.0;  // centre to the left or right edge [deg]
  double scale = 0.0;       // k [px per unit of tangent]; 0: nothing loaded
  // width x height values 0-15, top row first; 0 is sea.
  std::vector<std::uint8_t> pixels;

  bool loaded() const { return scale != 0.0 && !pixels.empty(); }
  GroundMapProjection projection() const {
    return GroundMapProjection{width, height, lon0, lat0, scale};
  }
  std::uint8_t at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * width + x];
  }
};

// The program's base map.
GroundRaster& GroundMap();

// Reads the DAT file `path` into `raster`: 1 when loaded, 0 otherwise. The
// raster is emptied first and stays empty (k = 0) after any failure. A file
// that cannot be opened, a header that is not 79 characters or does not
// read as the header format, and a size beyond the limits are reported
// with ShowError; broken rows (a run past the row's end, a row of 7200
// bytes or more, the file ending early) fail without a message, the caller
// reports.
int LoadGroundMap(const std::filesystem::path& path, GroundRaster& raster);
int LoadGroundMap(const std::filesystem::path& path);  // into GroundMap()

// The base map the user picked: loads it and, only when that succeeded,
// stores its name in "AP.g_map" and resets both view offsets, so that the
// setting never names a file that cannot be read. Returns LoadGroundMap's
// result; after a failure the map is empty (all sea).
int ChooseGroundMap(const std::filesystem::path& path);

struct AddMapMark {
  int type = 0;  // 1: one pixel, 2: a disc of radius 2, others not drawn
  double lon = 0.0;  // [deg]
  double lat = 0.0;  // [deg]
};

inline constexpr int kAddMapMaxLineChars = 255;
inline constexpr int kAddMapMaxLines = 99999;

// The program's additional marks.
std::vector<AddMapMark>& AddMapMarks();

// Reads the additional-marks CSV `path` into `marks`: a line beginning
// "MA01", one separator character, then "type,longitude,latitude" carries a
// mark, every other line none; at most 99,999 lines of at most 255
// characters are read (the rest of a longer line is ignored). 1 when read;
// 0 with "Cannot Open Add Map %s" and an empty list when it cannot be
// opened.
int LoadAddMap(const std::filesystem::path& path, std::vector<AddMapMark>& marks);
int LoadAddMap(const std::filesystem::path& path);  // into AddMapMarks()

}  // namespace mr4
