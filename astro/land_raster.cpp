#include "astro/land_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

namespace mr4 {
namespace {

struct Vec3 {
  double x, y, z;
};
double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 UnitVector(double lon, double lat) {
  const double l = lon * kDegToRad, b = lat * kDegToRad;
  return {std::cos(b) * std::cos(l), std::cos(b) * std::sin(l), std::sin(b)};
}

// A point in the map's frame: east, north and towards the centre.
struct Local {
  double e, n, u;
};

struct Frame {
  Vec3 centre, east, north;
};
Frame MapFrame(const BaseMapGeometry& geometry) {
  const double l0 = geometry.lon0 * kDegToRad, b0 = geometry.lat0 * kDegToRad;
  return {UnitVector(geometry.lon0, geometry.lat0),
          {-std::sin(l0), std::cos(l0), 0.0},
          {-std::sin(b0) * std::cos(l0), -std::sin(b0) * std::sin(l0), std::cos(b0)}};
}
Local ToLocal(const Frame& frame, double lon, double lat) {
  const Vec3 v = UnitVector(lon, lat);
  return {Dot(v, frame.east), Dot(v, frame.north), Dot(v, frame.centre)};
}

// Whether (lon, lat) lies inside the rings by the even-odd rule, their edges
// taken as straight lines in longitude and latitude (the rings are cut at
// 180 degrees, as the land polygons are).
bool InsidePlanar(const std::vector<LandRing>& rings, double lon, double lat) {
  while (lon >= 180.0) lon -= 360.0;
  while (lon < -180.0) lon += 360.0;
  bool inside = false;
  for (const LandRing& ring : rings) {
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
      const SpherePoint& a = ring[i];
      const SpherePoint& b = ring[j];
      if ((a.lat > lat) != (b.lat > lat) &&
          lon < a.lon + (lat - a.lat) * (b.lon - a.lon) / (b.lat - a.lat)) {
        inside = !inside;
      }
    }
  }
  return inside;
}

bool ParseNumber(const char*& p, double* value) {
  char* end = nullptr;
  *value = std::strtod(p, &end);
  if (end == p || !std::isfinite(*value)) return false;
  p = end;
  return true;
}

bool OnlySpace(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
  return *p == '\0';
}

}  // namespace

bool ReadLandPolygons(const std::filesystem::path& path, std::vector<LandRing>* rings,
                      std::string* error) {
  rings->clear();
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read the land polygons " + path.string();
    return false;
  }
  std::string line;
  long line_no = 0;
  long remaining = 0;  // vertices still to come in the current ring
  const auto broken = [&](const char* why) {
    *error = path.string() + " line " + std::to_string(line_no) + ": " + why;
    rings->clear();
    return false;
  };
  while (std::getline(in, line)) {
    ++line_no;
    const char* p = line.c_str();
    if (remaining == 0) {
      if (line.empty() || line[0] == '#' || OnlySpace(p)) continue;
      char* end = nullptr;
      if (line[0] != 'R' || line.size() < 3 || line[1] != ' ') {
        return broken("expected \"R count\"");
      }
      remaining = std::strtol(p + 2, &end, 10);
      if (end == p + 2 || remaining < 3 || remaining > 10000000 || !OnlySpace(end)) {
        return broken("a ring needs a count of at least 3 vertices");
      }
      rings->emplace_back();
      rings->back().reserve(static_cast<std::size_t>(remaining));
      continue;
    }
    SpherePoint v;
    if (!ParseNumber(p, &v.lon) || !ParseNumber(p, &v.lat) || !OnlySpace(p) ||
        v.lat < -90.0 || v.lat > 90.0 || v.lon < -360.0 || v.lon > 360.0) {
      return broken("expected \"lon lat\" in degrees");
    }
    rings->back().push_back(v);
    --remaining;
  }
  if (remaining != 0) {
    ++line_no;
    return broken("the file ends inside a ring");
  }
  return true;
}

BaseMapGeometry StoredGeometry(const BaseMapGeometry& geometry) {
  BaseMapGeometry out = geometry;
  out.lon0 = std::lround(geometry.lon0 * 10000.0) / 10000.0;
  out.lat0 = std::lround(geometry.lat0 * 10000.0) / 10000.0;
  out.half_field = std::lround(geometry.half_field * 10000.0) / 10000.0;
  return out;
}

GroundMapProjection BaseMapProjection(const BaseMapGeometry& geometry) {
  return GroundMapProjection{geometry.width, geometry.height, geometry.lon0, geometry.lat0,
                             GroundMapScale(geometry.width, geometry.half_field)};
}

MapPoint ProjectOnBaseMap(const BaseMapGeometry& geometry, double lon, double lat) {
  const Local p = ToLocal(MapFrame(geometry), lon, lat);
  MapPoint out;
  if (p.u <= 0.0) return out;
  const double k = GroundMapScale(geometry.width, geometry.half_field);
  out.x = geometry.width * 0.5 + k * p.e / p.u;
  out.y = geometry.height * 0.5 - k * p.n / p.u;
  out.inside = true;
  return out;
}

std::vector<std::uint8_t> RasteriseLand(const BaseMapGeometry& geometry,
                                        const std::vector<LandRing>& rings) {
  const int w = geometry.width, h = geometry.height;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h, 0);
  if (w <= 0 || h <= 0) return pixels;
  const double k = GroundMapScale(w, geometry.half_field);

  const Frame frame = MapFrame(geometry);

  // Each row's centre line is, on the ground, the visible half of a great
  // circle through the map's west and east horizon points. Walking it from
  // the west point, every crossing of a ring's edge toggles between sea and
  // land; the west point's own state starts the walk. Crossings on the far
  // half of the circle (u <= 0) are not on the map and are left out.
  std::vector<std::vector<double>> crossings(static_cast<std::size_t>(h));
  const auto add_crossing = [&](int r, double x) {
    crossings[static_cast<std::size_t>(r)].push_back(x);
  };
  std::vector<Local> local;
  for (const LandRing& ring : rings) {
    local.clear();
    for (const SpherePoint& p : ring) local.push_back(ToLocal(frame, p.lon, p.lat));
    const std::size_t n = local.size();
    for (std::size_t i = 0; i < n; ++i) {
      const Local& a = local[i];
      const Local& b = local[(i + 1) % n];
      if (a.u <= 0.0 && b.u <= 0.0) continue;  // behind the horizon
      if (a.u > 0.0 && b.u > 0.0) {
        // Both ends on the map's side: a straight edge in the projection,
        // x = W/2 + k tan d sin a, y = H/2 - k tan d cos a.
        double x1 = w * 0.5 + k * a.e / a.u, y1 = h * 0.5 - k * a.n / a.u;
        double x2 = w * 0.5 + k * b.e / b.u, y2 = h * 0.5 - k * b.n / b.u;
        if (y1 == y2) continue;
        if (y1 > y2) {
          std::swap(x1, x2);
          std::swap(y1, y2);
        }
        // Rows whose centre r + 0.5 lies in [y1, y2).
        const double first = std::max(0.0, std::ceil(y1 - 0.5));
        const double last = std::min(static_cast<double>(h - 1), std::ceil(y2 - 0.5) - 1.0);
        if (first > last) continue;
        const double slope = (x2 - x1) / (y2 - y1);
        for (int r = static_cast<int>(first); r <= static_cast<int>(last); ++r) {
          add_crossing(r, x1 + (r + 0.5 - y1) * slope);
        }
        continue;
      }
      // An edge through the horizon: its crossing with each row's plane
      // n = t u, found along the chord (which lies in the edge's great-circle
      // plane and so projects onto the same line). f >= 0 is y <= row centre
      // on the map's side, as above.
      for (int r = 0; r < h; ++r) {
        const double t = (h * 0.5 - (r + 0.5)) / k;
        const double fa = a.n - t * a.u, fb = b.n - t * b.u;
        if ((fa >= 0.0) == (fb >= 0.0)) continue;
        const double s = fa / (fa - fb);
        const double u = a.u + s * (b.u - a.u);
        if (u <= 0.0) continue;
        add_crossing(r, w * 0.5 + k * (a.e + s * (b.e - a.e)) / u);
      }
    }
  }
  // The west horizon point lies on the equator, 90 degrees west of the
  // centre.
  const bool west_on_land = InsidePlanar(rings, geometry.lon0 - 90.0, 0.0);

  // A pixel is land when its centre lies between an odd crossing and the
  // next.
  for (int r = 0; r < h; ++r) {
    std::vector<double>& xs = crossings[static_cast<std::size_t>(r)];
    if (west_on_land) xs.push_back(-std::numeric_limits<double>::infinity());
    std::sort(xs.begin(), xs.end());
    // Land that reaches the east horizon.
    if (xs.size() % 2 != 0) xs.push_back(std::numeric_limits<double>::infinity());
    std::uint8_t* row = pixels.data() + static_cast<std::size_t>(r) * w;
    for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
      const double from = std::max(0.0, std::ceil(xs[i] - 0.5));
      const double to = std::min(static_cast<double>(w), std::ceil(xs[i + 1] - 0.5));
      for (int c = static_cast<int>(from); c < static_cast<int>(to); ++c) row[c] = 1;
    }
  }
  return pixels;
}

bool EncodeBaseMap(const BaseMapGeometry& geometry, const std::vector<std::uint8_t>& pixels,
                   std::string* bytes, std::string* error) {
  const int w = geometry.width, h = geometry.height;
  if (w < 1 || w > kBaseMapMaxWidth || h < 1 || h > kBaseMapMaxHeight) {
    *error = "the map must be 1 to 8192 pixels wide and 1 to 4320 high";
    return false;
  }
  if (pixels.size() != static_cast<std::size_t>(w) * h) {
    *error = "the raster does not have width x height pixels";
    return false;
  }
  const long lon = std::lround(geometry.lon0 * 10000.0);
  const long lat = std::lround(geometry.lat0 * 10000.0);
  const long field = std::lround(geometry.half_field * 10000.0);
  if (lon < -9999999 || lon > 99999999 || lat < -9999999 || lat > 99999999 ||
      field < -9999999 || field > 99999999) {
    *error = "the centre or the field does not fit the header";
    return false;
  }
  char header[96];
  const int n = std::snprintf(header, sizeof header, "Tessarox%8d,%8d,%8d,%8d,%8d,%8d,%8d,%8d",
                              w, h, static_cast<int>(lon), static_cast<int>(lat),
                              static_cast<int>(field), 0, 0, 0);
  if (n != 79) {
    *error = "the header does not take 79 characters";
    return false;
  }
  bytes->assign(header, 79);
  bytes->push_back('\0');

  std::string row_bytes;
  for (int r = 0; r < h; ++r) {
    row_bytes.clear();
    const std::uint8_t* row = pixels.data() + static_cast<std::size_t>(r) * w;
    int c = 0;
    while (c < w) {
      const std::uint8_t value = row[c];
      if (value > 15) {
        *error = "pixel values must lie in 0 to 15";
        return false;
      }
      int end = c + 1;
      while (end < w && row[end] == value && end - c < 2048) ++end;
      const int length = end - c;
      if (length <= 8) {
        row_bytes.push_back(static_cast<char>((value << 4) | (length - 1)));
      } else {
        row_bytes.push_back(static_cast<char>((value << 4) | 8 | ((length - 1) >> 8)));
        row_bytes.push_back(static_cast<char>((length - 1) & 0xFF));
      }
      c = end;
    }
    if (static_cast<int>(row_bytes.size()) >= kBaseMapMaxRowBytes) {
      *error = "row " + std::to_string(r) + " takes " + std::to_string(row_bytes.size()) +
               " bytes; a row must take fewer than 7200";
      return false;
    }
    *bytes += row_bytes;
  }
  return true;
}

}  // namespace mr4
