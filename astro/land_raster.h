// Making a ground-map base map: land polygons rasterised in the map's
// gnomonic projection and written as a DAT file (the format LoadGroundMap
// reads: a 79-character "Tessarox" header, a zero byte, then run-length
// rows, top row first).
//
// Land polygon file (text): lines starting with '#' are comments; a ring
// starts with a line "R n" and its n vertices follow, one "lon lat" line
// each (degrees). Rings are closed (the last vertex joins the first);
// holes are rings of their own, filled by the even-odd rule. Edges are
// great-circle arcs, which the gnomonic projection maps to straight lines.
//
// Stateless; callable from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "astro/angles.h"
#include "astro/ground_geometry.h"

namespace mr4 {

using LandRing = std::vector<SpherePoint>;

// The shipped land polygons, relative to the shipped data directory.
inline constexpr char kLandPolygonsFileName[] = "land/land-50m.txt";

// Reads a land polygon file. False (with `error`) when the file cannot be
// read or a line does not read as the format.
bool ReadLandPolygons(const std::filesystem::path& path, std::vector<LandRing>* rings,
                      std::string* error);

// The base map's size, centre and field as its header stores them.
struct BaseMapGeometry {
  int width = 0;   // [px], 1 .. 8192
  int height = 0;  // [px], 1 .. 4320
  double lon0 = 0.0;        // centre [deg]
  double lat0 = 0.0;        // [deg]
  double half_field = 0.0;  // centre to the left or right edge [deg]
};
inline constexpr int kBaseMapMaxWidth = 8192;
inline constexpr int kBaseMapMaxHeight = 4320;
// The largest half field the command accepts: beyond it the edges of the
// map stretch so far that a pixel spans a large part of the globe.
inline constexpr double kBaseMapMaxHalfField = 80.0;  // [deg]
// One row's encoding takes fewer bytes than this.
inline constexpr int kBaseMapMaxRowBytes = 7200;

// The geometry with the centre and field rounded to the header's 1/10000
// degree, so that the raster is made for exactly what a reader computes.
BaseMapGeometry StoredGeometry(const BaseMapGeometry& geometry);
// The gnomonic projection of that geometry (k = trunc(W / 2) / tan(field)).
GroundMapProjection BaseMapProjection(const BaseMapGeometry& geometry);

// Map position (x right, y down, in pixels) of a ground point as the
// rasteriser places it: x = W/2 + k tan d sin a, y = H/2 - k tan d cos a for
// distance d and azimuth a from the centre. `inside` is false for points 90
// degrees or more from the centre, which have no position.
MapPoint ProjectOnBaseMap(const BaseMapGeometry& geometry, double lon, double lat);

// width x height values, top row first: 1 where the centre of the pixel
// lies on land, 0 (sea) elsewhere. Rings may reach past the horizon (90
// degrees from the centre); edges are taken as arcs shorter than 90 degrees.
std::vector<std::uint8_t> RasteriseLand(const BaseMapGeometry& geometry,
                                        const std::vector<LandRing>& rings);

// The DAT file's bytes for `pixels` (values 0-15, width x height, top row
// first). False (with `error`) when the size is out of range or a row's
// encoding would take 7200 bytes or more.
bool EncodeBaseMap(const BaseMapGeometry& geometry, const std::vector<std::uint8_t>& pixels,
                   std::string* bytes, std::string* error);

}  // namespace mr4
