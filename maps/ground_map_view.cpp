#include "maps/ground_map_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "analysis/view_picture.h"
#include "astro/angles.h"

namespace mr4 {
namespace {

constexpr PlotColour kWhite{255, 255, 255};
constexpr PlotColour kYellow{0, 255, 255};
constexpr PlotColour kGreen{0, 180, 0};
constexpr PlotColour kDarkBlue{80, 0, 0};
constexpr PlotColour kRed{0, 0, 255};
constexpr PlotColour kBlack{0, 0, 0};
constexpr PlotColour kOutsideRaster{80, 0, 0};
// The legend rows (from the bottom) of h0, h1, h2.
constexpr std::array<int, 3> kLegendRows{36, 56, 76};
constexpr int kLegendLeft = 36;
constexpr int kLegendStroke = 20;
constexpr int kFillDiscRadius = 20;

class Canvas {
 public:
  Canvas(GroundMapPicture& p, bool bw, double lon0) : p_(p), bw_(bw), lon0_(lon0) {}

  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < p_.width && y < p_.height; }
  std::uint8_t* At(int x, int y) {
    return p_.bgr.data() + (std::size_t(p_.height - 1 - y) * p_.width + x) * 3;
  }
  // x right, y down from the top left.
  void Put(int x, int y, PlotColour c) {
    if (!Inside(x, y)) return;
    if (bw_) c = kBlack;
    std::uint8_t* px = At(x, y);
    px[0] = c.blue;
    px[1] = c.green;
    px[2] = c.red;
  }
  void PutGreen(int x, int y) {
    if (!Inside(x, y)) return;
    if (!bw_ && At(x, y)[2] == 255) return;
    Put(x, y, kGreen);
  }
  // Raises channel `channel` (0 blue, 1 green, 2 red) half-way to full.
  void Tint(int x, int y, int channel) {
    if (!Inside(x, y)) return;
    if (bw_) {
      Put(x, y, kBlack);
      return;
    }
    std::uint8_t& v = At(x, y)[channel];
    v = static_cast<std::uint8_t>((v + 255) / 2);
  }
  void Disc(int cx, int cy, int r, PlotColour c) {
    for (int dy = -r; dy <= r; ++dy) {
      for (int dx = -r; dx <= r; ++dx) {
        if (dx * dx + dy * dy <= r * r) Put(cx + dx, cy + dy, c);
      }
    }
  }
  void Cross(int cx, int cy, int arm, PlotColour c) {
    for (int d = -arm; d <= arm; ++d) {
      Put(cx + d, cy, c);
      Put(cx, cy + d, c);
    }
  }
  template <typename Plot>
  void Line(int x1, int y1, int x2, int y2, Plot plot) {
    // Clipped by stepping only through the picture's neighbourhood.
    const double dx = x2 - x1, dy = y2 - y1;
    const double steps = std::max(std::fabs(dx), std::fabs(dy));
    if (steps > 1e6) return;
    const int n = static_cast<int>(steps);
    for (int i = 0; i <= n; ++i) {
      const double t = n == 0 ? 0.0 : double(i) / n;
      plot(static_cast<int>(std::lround(x1 + dx * t)), static_cast<int>(std::lround(y1 + dy * t)));
    }
  }
  void Line(int x1, int y1, int x2, int y2, PlotColour c) {
    Line(x1, y1, x2, y2, [&](int x, int y) { Put(x, y, c); });
  }
  void Label(int x, int y, bool white, std::string text) {
    if (int(p_.labels.size()) >= kGroundMaxLabels) return;
    if (text.size() > std::size_t(kGroundLabelMaxChars)) text.resize(kGroundLabelMaxChars);
    p_.labels.push_back(GroundMapLabel{x, y, white, std::move(text)});
  }
  // Longitudes are kept on the raster centre's side of the globe (a
  // profile holds 0..360, the tables -180..180).
  void Remember(double lon, double lat) {
    lon = lon0_ + std::remainder(lon - lon0_, 360.0);
    if (!p_.any) {
      p_.min_lon = p_.max_lon = lon;
      p_.min_lat = p_.max_lat = lat;
      p_.any = true;
      return;
    }
    p_.min_lon = std::min(p_.min_lon, lon);
    p_.max_lon = std::max(p_.max_lon, lon);
    p_.min_lat = std::min(p_.min_lat, lat);
    p_.max_lat = std::max(p_.max_lat, lat);
  }

 private:
  GroundMapPicture& p_;
  bool bw_;
  double lon0_;
};

void DrawBaseMap(const GroundRaster& raster, const GroundView& view, bool bw,
                 GroundMapPicture& p) {
  const int w = p.width, h = p.height;
  // Raster value per screen pixel, -1 outside the raster.
  std::vector<int> value(std::size_t(w) * h, -1);
  std::vector<int> columns(static_cast<std::size_t>(w));
  for (int c = 0; c < w; ++c) columns[c] = static_cast<int>(c * view.u) + view.left;
  for (int r = 0; r < h; ++r) {
    const int y = static_cast<int>(r * view.u) + view.top;
    if (y < 0 || y >= raster.height) continue;
    for (int c = 0; c < w; ++c) {
      const int x = columns[c];
      if (x >= 0 && x < raster.width) value[std::size_t(r) * w + c] = raster.at(x, y);
    }
  }
  auto sea = [&](int c, int r) {
    return c >= 0 && r >= 0 && c < w && r < h && value[std::size_t(r) * w + c] == 0;
  };
  for (int r = 0; r < h; ++r) {
    std::uint8_t* row = p.bgr.data() + std::size_t(h - 1 - r) * w * 3;
    for (int c = 0; c < w; ++c) {
      const int v = value[std::size_t(r) * w + c];
      std::uint8_t* px = row + std::size_t(c) * 3;
      if (v < 0) {
        px[0] = kOutsideRaster.blue;
        px[1] = kOutsideRaster.green;
        px[2] = kOutsideRaster.red;
        continue;
      }
      int grey;
      if (!bw) {
        grey = v == 0 ? 120 : std::min(255, 60 + 10 * v);
      } else if (v == 0) {
        grey = 240;
      } else {
        bool coast = false;
        for (int dy = -1; dy <= 1 && !coast; ++dy) {
          for (int dx = -1; dx <= 1 && !coast; ++dx) {
            if ((dx || dy) && sea(c + dx, r + dy)) coast = true;
          }
        }
        grey = coast ? 0 : 250;
      }
      px[0] = px[1] = px[2] = static_cast<std::uint8_t>(grey);
    }
  }
}

void DrawGrid(const GroundView& view, double step, Canvas& canvas, int w, int h) {
  // The visible extent from the picture's border.
  double lon_min = 1e9, lon_max = -1e9, lat_min = 1e9, lat_max = -1e9;
  auto take = [&](int c, int r) {
    const SpherePoint g = MapToGround(view.projection, static_cast<int>(c * view.u) + view.left,
                                      static_cast<int>(r * view.u) + view.top);
    lon_min = std::min(lon_min, g.lon);
    lon_max = std::max(lon_max, g.lon);
    lat_min = std::min(lat_min, g.lat);
    lat_max = std::max(lat_max, g.lat);
  };
  constexpr int kBorderSamples = 32;
  for (int i = 0; i <= kBorderSamples; ++i) {
    const int c = (w - 1) * i / kBorderSamples, r = (h - 1) * i / kBorderSamples;
    take(c, 0);
    take(c, h - 1);
    take(0, r);
    take(w - 1, r);
  }
  lat_min = std::max(lat_min, -89.0);
  lat_max = std::min(lat_max, 89.0);
  if (lon_max - lon_min > 360.0) lon_min = lon_max - 360.0;
  constexpr int kSegments = 200;
  auto polyline = [&](auto point) {
    int px = 0, py = 0;
    bool have = false;
    for (int i = 0; i <= kSegments; ++i) {
      int x, y;
      const auto [lon, lat] = point(double(i) / kSegments);
      if (!view.ToScreen(lon, lat, x, y)) {
        have = false;
        continue;
      }
      if (have) canvas.Line(px, py, x, y, kDarkBlue);
      px = x;
      py = y;
      have = true;
    }
  };
  for (double lon = std::ceil(lon_min / step) * step; lon <= lon_max; lon += step) {
    polyline([&](double t) { return std::pair{lon, lat_min + (lat_max - lat_min) * t}; });
  }
  for (double lat = std::ceil(lat_min / step) * step; lat <= lat_max; lat += step) {
    polyline([&](double t) { return std::pair{lon_min + (lon_max - lon_min) * t, lat}; });
  }
}

}  // namespace

GroundRaster EmptyGroundRaster(double lon, double lat) {
  GroundRaster r;
  r.width = kEmptyMapWidth;
  r.height = kEmptyMapHeight;
  r.lon0 = lon;
  r.lat0 = lat;
  r.half_field = kEmptyMapHalfField;
  r.scale = GroundMapScale(r.width, r.half_field);
  r.pixels.assign(std::size_t(r.width) * r.height, 0);
  return r;
}

std::vector<std::array<int, 2>> OutlineSamples(int width, int height, bool current,
                                               bool fill, int lines,
                                               const std::vector<bool>* masked) {
  std::vector<std::array<int, 2>> out;
  if (width <= 0 || height <= 0) return out;
  if (fill) {
    out.reserve(std::size_t(width) * height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) out.push_back({x, y});
    }
    return out;
  }
  std::vector<int> rows, cols;
  if (current) {
    rows = {0, height / 2, height - 1};
    cols = {0, width / 2, width - 1};
  } else {
    const int n = std::max(1, lines);
    for (int i = 0; i <= n; ++i) {
      rows.push_back(static_cast<int>(double(height - 1) * i / n));
      cols.push_back(static_cast<int>(double(width - 1) * i / n));
    }
  }
  const bool use_mask = current && masked && masked->size() == std::size_t(width) * height;
  auto add = [&](int x, int y) {
    if (use_mask && (*masked)[std::size_t(y) * width + x]) return;
    out.push_back({x, y});
  };
  for (int y : rows) {
    for (int x = 0; x < width; ++x) add(x, y);
  }
  for (int x : cols) {
    for (int y = 0; y < height; ++y) add(x, y);
  }
  return out;
}

bool TrackEndValid(double lng2) { return lng2 > -0.9999 || (lng2 < -1.0001 && lng2 > -360.0); }

bool GroundView::ToScreen(double lon, double lat, int& x, int& y) const {
  const double cos_d =
      std::sin(lat * kDegToRad) * std::sin(projection.lat0 * kDegToRad) +
      std::cos(lat * kDegToRad) * std::cos(projection.lat0 * kDegToRad) *
          std::cos((lon - projection.lon0) * kDegToRad);
  if (cos_d <= 0.0 || projection.scale == 0.0) return false;
  const MapPoint m = ProjectToMap(projection, lon, lat);
  const double sx = std::floor((m.x - left) / u);
  const double sy = std::floor((m.y - top) / u);
  if (std::fabs(sx) > 1e7 || std::fabs(sy) > 1e7) return false;
  x = static_cast<int>(sx);
  y = static_cast<int>(sy);
  return true;
}

GroundView ComputeGroundView(const GroundRaster& raster, int width, int height, double zoom,
                             double ofh, double ofv) {
  GroundView view;
  view.projection = raster.projection();
  view.u = zoom > 0.0 ? 10.0 / zoom : 2.5;
  if (raster.width <= 0 || raster.height <= 0 || raster.scale == 0.0) return view;
  // The raster's longitude and latitude extent along its middle lines.
  const GroundMapProjection& pr = view.projection;
  const SpherePoint west = MapToGround(pr, 0, raster.height / 2);
  const SpherePoint east = MapToGround(pr, raster.width - 1, raster.height / 2);
  const SpherePoint north = MapToGround(pr, raster.width / 2, 0);
  const SpherePoint south = MapToGround(pr, raster.width / 2, raster.height - 1);
  const double lon = std::clamp(raster.lon0 + ofh, std::min(west.lon, east.lon),
                                std::max(west.lon, east.lon));
  const double lat = std::clamp(raster.lat0 + ofv, std::min(north.lat, south.lat),
                                std::max(north.lat, south.lat));
  const MapPoint centre = ProjectToMap(pr, lon, lat);
  view.left = std::max(0, static_cast<int>(centre.x - width * 0.5 * view.u));
  view.top = std::max(0, static_cast<int>(centre.y - height * 0.5 * view.u));
  return view;
}

void DrawGroundMap(const GroundMapInput& in, GroundMapPicture& p) {
  p.width = std::clamp(in.width, 0, kGroundPictureMaxWidth);
  p.height = std::clamp(in.height, 0, kGroundPictureMaxHeight);
  p.bgr.assign(std::size_t(p.width) * p.height * 3, 0);
  p.labels.clear();
  p.any = false;
  if (p.width == 0 || p.height == 0 || in.raster == nullptr) return;
  const GroundRaster& raster = *in.raster;
  p.view = ComputeGroundView(raster, p.width, p.height, in.zoom, in.ofh, in.ofv);
  const GroundView& view = p.view;
  DrawBaseMap(raster, view, in.bw, p);
  Canvas canvas(p, in.bw, raster.lon0);

  if (in.addm && in.marks) {
    for (const AddMapMark& m : *in.marks) {
      int x, y;
      if (!view.ToScreen(m.lon, m.lat, x, y)) continue;
      if (m.type == 1) canvas.Put(x, y, kBlack);
      if (m.type == 2) canvas.Disc(x, y, 2, kBlack);
    }
  }

  DrawGrid(view, in.zoom < 3.0 ? 2.0 : 1.0, canvas, p.width, p.height);

  for (std::size_t i = 0; i < in.profiles.size(); ++i) {
    const GroundMapProfile& prof = in.profiles[i];
    const bool first = i == 0;
    for (int hi = 0; hi < 3; ++hi) {
      if (!in.height_on[hi]) continue;
      const int channel = 2 - hi;  // h0 red, h1 green, h2 blue
      for (const auto& s : prof.samples) {
        const SpherePoint g = PixelToGroundPoint(prof.station, prof.pixel_to_horizontal,
                                                 s[0] + 0.5, s[1] + 0.5, in.heights[hi]);
        int x, y;
        if (!view.ToScreen(g.lon, g.lat, x, y)) continue;
        canvas.Tint(x, y, channel);
        canvas.Remember(g.lon, g.lat);
      }
      if (first) {
        const int ly = p.height - kLegendRows[hi];
        const int lx = p.width - kLegendLeft;
        char text[16];
        std::snprintf(text, sizeof text, "%3dkm", static_cast<int>(in.heights[hi]));
        canvas.Label(lx, ly, true, text);
        if (in.fill) {
          for (int dy = -kFillDiscRadius; dy <= kFillDiscRadius; ++dy) {
            for (int dx = -kFillDiscRadius; dx <= kFillDiscRadius; ++dx) {
              if (dx * dx + dy * dy <= kFillDiscRadius * kFillDiscRadius) {
                canvas.Tint(lx - kLegendStroke + dx, ly + 4 + dy, channel);
              }
            }
          }
        }
        if (in.text) {
          for (int d = 0; d < kLegendStroke; ++d) canvas.Tint(lx - 4 - kLegendStroke + d, ly + 4, channel);
        }
      }
    }
    int sx, sy;
    if (view.ToScreen(prof.station.lng, prof.station.lat, sx, sy)) {
      if (in.bw) {
        canvas.Disc(sx, sy, 3, kBlack);
      } else {
        canvas.Cross(sx, sy, 1, kWhite);
      }
      canvas.Label(sx - 2, sy + 4, true, prof.lid);
    }
    canvas.Remember(prof.station.lng, prof.station.lat);
    if (!in.bw) {
      double h = kGroundCentreFallbackKm;
      for (int hi : {1, 2, 0}) {
        if (in.height_on[hi]) {
          h = in.heights[hi];
          break;
        }
      }
      const SpherePoint g = PixelToGroundPoint(prof.station, prof.pixel_to_horizontal,
                                               prof.centre_x, prof.centre_y, h);
      int x, y;
      if (view.ToScreen(g.lon, g.lat, x, y)) {
        canvas.Cross(x, y, 2, kBlack);
        canvas.Label(x + 4, y - 4, false, prof.lid + " " + prof.sid + " " + prof.memo);
      }
      canvas.Remember(g.lon, g.lat);
    }
  }

  for (const GroundTrack& t : in.tracks) {
    int sx, sy;
    const bool station = view.ToScreen(t.lng, t.lat, sx, sy);
    auto join = [&](int x, int y) {
      if (!station) return;
      if (t.current) {
        canvas.Line(sx, sy, x, y, kWhite);
      } else {
        canvas.Line(sx, sy, x, y, [&](int px, int py) { canvas.PutGreen(px, py); });
      }
    };
    int x1 = 0, y1 = 0;
    bool start = false;
    if (t.lng1 > -360.0) {
      start = view.ToScreen(t.lng1, t.lat1, x1, y1);
      if (start) {
        join(x1, y1);
        if (in.bw) {
          canvas.Disc(x1, y1, 2, kBlack);
        } else {
          canvas.Put(x1, y1, kYellow);
        }
      }
      canvas.Remember(t.lng1, t.lat1);
    }
    if (TrackEndValid(t.lng2)) {
      int x2, y2;
      if (view.ToScreen(t.lng2, t.lat2, x2, y2)) {
        join(x2, y2);
        if (start) canvas.Line(x1, y1, x2, y2, kYellow);
        if (in.bw) {
          canvas.Disc(x2, y2, 2, kBlack);
        } else {
          canvas.Cross(x2, y2, 2, kRed);
        }
      }
      canvas.Remember(t.lng2, t.lat2);
    }
    if (station) {
      if (in.bw) {
        canvas.Disc(sx, sy, 3, kBlack);
      } else {
        canvas.Put(sx, sy, kWhite);
      }
      canvas.Label(sx - 2, sy + 4, true, t.lid);
    }
    canvas.Remember(t.lng, t.lat);
  }
  if (!in.caption.empty()) canvas.Label(10, p.height - 12, true, in.caption);

  if (in.bw) {
    for (int x = 0; x < p.width; ++x) {
      canvas.Put(x, 0, kBlack);
      canvas.Put(x, p.height - 1, kBlack);
    }
    for (int y = 0; y < p.height; ++y) {
      canvas.Put(0, y, kBlack);
      canvas.Put(p.width - 1, y, kBlack);
    }
  }
}

void BurnGroundLabels(GroundMapPicture& p, bool bw) {
  DisplayPicture picture{std::span<std::uint8_t>(p.bgr), p.width, p.height};
  for (const GroundMapLabel& l : p.labels) {
    const PlotColour c = (l.white && !bw) ? kWhite : kBlack;
    DrawText(picture, l.x, l.y, l.text, c);
  }
}

std::array<double, 2> CentredOffsets(const GroundMapPicture& p, const GroundRaster& raster,
                                     double ofh, double ofv) {
  if (!p.any) return {ofh, ofv};
  return {(p.min_lon + p.max_lon) / 2 - raster.lon0, (p.min_lat + p.max_lat) / 2 - raster.lat0};
}

}  // namespace mr4
