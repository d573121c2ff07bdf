#include "maps/trail_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "astro/sun.h"
#include "astro/time_scales.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// Colours are written red, green, blue here, as the chart's design gives them.
constexpr PlotColour Rgb(int r, int g, int b) {
  return PlotColour{std::uint8_t(b), std::uint8_t(g), std::uint8_t(r)};
}

constexpr PlotColour kGridColour = Rgb(0, 128, 192);
constexpr PlotColour kMainMeridianColour = Rgb(0, 160, 224);
constexpr PlotColour kEquatorColour = Rgb(144, 0, 0);
constexpr PlotColour kGridTextColour = Rgb(0, 160, 255);
constexpr PlotColour kStarColour = Rgb(176, 176, 176);
constexpr PlotColour kEclipticColour = Rgb(112, 112, 0);
constexpr PlotColour kApexColour = Rgb(0, 160, 255);
constexpr PlotColour kCrossColour = Rgb(0, 160, 224);
constexpr PlotColour kWhite = Rgb(255, 255, 255);
constexpr PlotColour kTrailCurrent = Rgb(255, 100, 100);
constexpr PlotColour kTrailOther = Rgb(255, 0, 0);
constexpr PlotColour kReachOther = Rgb(0, 255, 0);
constexpr PlotColour kLimitCurrent = Rgb(0, 255, 255);
constexpr PlotColour kLimitOther = Rgb(0, 100, 100);
constexpr PlotColour kBeyondCurrent = Rgb(120, 120, 120);
constexpr PlotColour kBeyondOther = Rgb(0, 220, 0);
constexpr PlotColour kShowerIdle = Rgb(255, 192, 0);
constexpr PlotColour kShowerCounted = Rgb(255, 127, 128);

// A chord is drawn when one of its ends lies nearer the chart than this
// on both axes [units].
constexpr double kChordReach = 300.0;
constexpr double kDaysPerYear = 365.25;

double Wrap180(double deg) {
  deg = std::fmod(deg, 360.0);
  if (deg > 180.0) deg -= 360.0;
  if (deg <= -180.0) deg += 360.0;
  return deg;
}

double To360(double deg) {
  deg = std::fmod(deg, 360.0);
  if (deg < 0) deg += 360.0;
  // A tiny negative angle would come back as 360 itself.
  return deg >= 360.0 ? 0.0 : deg;
}

// Bearing [deg from north towards increasing right ascension] of the great
// circle from a to b, and their distance [deg].
double Bearing(double ra1, double dec1, double ra2, double dec2) {
  const double d_ra = (ra2 - ra1) * kDegToRad;
  const double p1 = dec1 * kDegToRad, p2 = dec2 * kDegToRad;
  return std::atan2(std::sin(d_ra) * std::cos(p2),
                    std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(d_ra)) *
         kRadToDeg;
}

double Distance(double ra1, double dec1, double ra2, double dec2) {
  const double p1 = dec1 * kDegToRad, p2 = dec2 * kDegToRad;
  const double c = std::sin(p1) * std::sin(p2) +
                   std::cos(p1) * std::cos(p2) * std::cos((ra2 - ra1) * kDegToRad);
  return std::acos(std::clamp(c, -1.0, 1.0)) * kRadToDeg;
}

void Fade(PlotColour& c) {
  for (std::uint8_t* part : {&c.blue, &c.green, &c.red}) {
    *part = *part >= 20 ? std::uint8_t(*part - 10) : std::uint8_t(10);
  }
}

class Chart {
 public:
  Chart(const ChartProjection& projection, DisplayPicture& picture)
      : pr_(projection), p_(picture) {}

  void Dot(double x, double y, PlotColour c) { PutPixel(p_, pr_.PixelX(x), pr_.PixelY(y), c); }
  void SkyDot(double ra, double dec, PlotColour c) {
    const ChartProjection::Point at = pr_.SkyToChart(ra, dec);
    if (at.drawable) Dot(at.x, at.y, c);
  }
  void Pattern(double x, double y, int size, PlotColour c) {
    DrawSizePattern(p_, pr_.PixelX(x), pr_.PixelY(y), size, c);
  }
  // Text whose cell's left edge is at chart x and middle row at chart y.
  void Text(double x, double y, const std::string& text, PlotColour c) {
    DrawText(p_, pr_.PixelX(x), p_.height - 1 - pr_.PixelY(y) - kGlyphHeight / 2, text, c);
  }
  bool Near(const ChartProjection::Point& a) const {
    return a.x > -kChordReach && a.x < pr_.width_units() + kChordReach && a.y > -kChordReach &&
           a.y < pr_.height_units() + kChordReach;
  }
  void Chord(const ChartProjection::Point& a, const ChartProjection::Point& b, PlotColour c,
             int width) {
    if (!a.drawable || !b.drawable || !(Near(a) || Near(b))) return;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const int steps = std::max(1, int(std::ceil(std::max(std::fabs(dx), std::fabs(dy)))));
    const bool along_x = std::fabs(dx) >= std::fabs(dy);
    for (int i = 0; i <= steps; ++i) {
      const double x = a.x + dx * i / steps, y = a.y + dy * i / steps;
      Dot(x, y, c);
      if (width == 2) Dot(along_x ? x : x + 1, along_x ? y + 1 : y, c);
    }
  }
  // The great-circle arc of `length` deg from (ra, dec) along `bearing`,
  // in fading pieces; the arc's far end.
  SpherePoint Arc(double ra, double dec, double bearing, double from, double length,
                  PlotColour c, int width) {
    const int pieces = int(std::trunc(std::fabs(length) / 10.0)) + 1;
    auto at = [&](double d) {
      return d == 0 ? SpherePoint{ra, dec} : SkyDestination(ra, dec, bearing, d);
    };
    SpherePoint start = at(from);
    for (int i = 1; i <= pieces; ++i) {
      const SpherePoint end = at(from + length * i / pieces);
      Chord(pr_.SkyToChart(start.lon, start.lat), pr_.SkyToChart(end.lon, end.lat), c, width);
      Fade(c);
      start = end;
    }
    return start;
  }

 private:
  const ChartProjection& pr_;
  DisplayPicture& p_;
};

double ClipJd(const ChartClip& clip) {
  return CivilToMjd(clip.year, clip.month, clip.day, clip.hour, clip.minute, clip.second) +
         2400000.5 - clip.tz / 86400.0;
}

void DrawGrid(Chart& chart, const TrailMapInput& in) {
  for (int ra = 10; ra <= 350; ra += 10) {
    for (int dec = -80; dec <= 80; ++dec) chart.SkyDot(ra, dec, kGridColour);
  }
  for (int dec = -80; dec <= 80; dec += 10) {
    if (dec == 0) continue;
    for (int ra = 0; ra < 360; ++ra) chart.SkyDot(ra, dec, kGridColour);
  }
  for (int ra = 90; ra <= 270; ra += 90) {
    for (double dec = 80; dec <= 89.5; dec += 1) chart.SkyDot(ra, dec, kGridColour);
    chart.SkyDot(ra, 89.5, kGridColour);
  }
  for (int dec = -90; dec <= 90; ++dec) chart.SkyDot(0, dec, kMainMeridianColour);
  for (int ra = 0; ra < 360; ++ra) chart.SkyDot(ra, 0, kEquatorColour);
  if (!in.text) return;
  ChartProjection pr(in.frame);
  for (int ra = 0; ra <= 270; ra += 90) {
    for (int dec : {80, 0}) {
      const ChartProjection::Point at = pr.SkyToChart(ra, dec);
      if (at.drawable) chart.Text(at.x, at.y, std::to_string(ra), kGridTextColour);
    }
  }
}

void DrawStars(Chart& chart, const ChartProjection& pr, const TrailMapInput& in) {
  const StarCatalogue& cat = *in.catalogue;
  for (int i = 0; i < cat.count; ++i) {
    const double m = in.bvf * cat.colour[i] + cat.vmag[i];
    if (m > in.mag) continue;
    const ChartProjection::Point at = pr.SkyToChart(cat.ra[i], cat.dec[i]);
    if (!at.drawable || at.x < 0 || at.y < 0 || at.x > pr.width_units() ||
        at.y > pr.height_units()) {
      continue;
    }
    chart.Pattern(at.x, at.y, std::max(1, int(std::trunc(5.0 - m))), kStarColour);
  }
}

void DrawEcliptic(Chart& chart, const ChartProjection& pr, const TrailMapInput& in) {
  const double new_year = CivilToMjd(in.clip.year, 1, 1, 12, 0, 0.0f) + 2400000.5;
  for (int day = 0; day < 366; ++day) {
    const EquatorialPoint sun = EclipticPointToEquatorial(new_year + day, 0.0);
    chart.SkyDot(sun.ra, sun.dec, kEclipticColour);
  }
  const double noon =
      CivilToMjd(in.clip.year, in.clip.month, in.clip.day, 12, 0, 0.0f) + 2400000.5 + in.days;
  struct Mark {
    double offset;
    PlotColour colour;
    const char* label;
  };
  for (const Mark& mark : {Mark{90.0, kApexColour, "apex"},
                           Mark{180.0, kEclipticColour, "anti-helion"}}) {
    const EquatorialPoint e = EclipticPointToEquatorial(noon, mark.offset);
    const ChartProjection::Point at = pr.SkyToChart(e.ra, e.dec);
    if (!at.drawable) continue;
    chart.Pattern(at.x, at.y, 9, mark.colour);
    if (in.text) chart.Text(at.x + 8, at.y, mark.label, mark.colour);
  }
}

void DrawObject(Chart& chart, const ChartProjection& pr, const TrailMapInput& in, int row) {
  const Table& o = *in.objects;
  const bool current = row == in.current_object;
  const double ra1 = o.Float(row, obj::kRa1), dc1 = o.Float(row, obj::kDc1);
  const double ra2 = o.Float(row, obj::kRa2), dc2 = o.Float(row, obj::kDc2);
  const double av1 = o.Float(row, obj::kAv1), ev1 = o.Float(row, obj::kEv1);
  chart.Arc(ra2, dc2, Bearing(ra2, dc2, ra1, dc1), 0, Distance(ra2, dc2, ra1, dc1),
            current ? kTrailCurrent : kTrailOther, 2);
  // Backwards: away from the trail's end, beyond its start.
  const double back = Bearing(ra1, dc1, ra2, dc2) + 180.0;
  const bool limited = av1 > 0.001;
  double reach = 80.0, beyond = 80.0;
  if (limited) {
    const double v = in.velocity_limit ? in.vglim : 0.0;
    const double h = std::sqrt(v * v + 123.21);
    const double sin_ev = std::sin(ev1 * kDegToRad);
    // A start at or below the horizon would divide by nothing: the
    // extension then reaches as far as the ratio's limit allows.
    const double ratio =
        sin_ev > 0 ? std::min(1.0, std::sin(av1 * kDegToRad) * (h + 160.0) / (sin_ev * 2.0 * h))
                   : 1.0;
    reach = std::asin(std::max(-1.0, ratio)) * kRadToDeg - av1;
    beyond = 2.0 * (90.0 - reach);
  }
  chart.Arc(ra1, dc1, back, 0, reach, current ? kWhite : kReachOther, 1);
  if (in.velocity_limit && limited) {
    chart.Arc(ra1, dc1, back, reach, beyond, current ? kLimitCurrent : kLimitOther, 1);
    const SpherePoint end = reach == 0 ? SpherePoint{ra1, dc1}
                                       : SkyDestination(ra1, dc1, back, reach);
    const ChartProjection::Point at = pr.SkyToChart(end.lon, end.lat);
    if (at.drawable) chart.Pattern(at.x, at.y, 12, kLimitCurrent);
  } else {
    chart.Arc(ra1, dc1, back, reach, beyond, current ? kBeyondCurrent : kBeyondOther, 1);
  }
  if (current && in.clip.present) {
    const double jd = ClipJd(in.clip);
    const double lst = LocalSiderealTime(in.clip.year, in.clip.month, in.clip.day, in.clip.hour,
                                         in.clip.minute, in.clip.second, in.clip.tz, in.clip.lng);
    const EquatorialPoint zenith =
        HorizontalToEquatorial(jd - 2400000.5, lst, in.clip.lat, 0.0, 90.0);
    const ChartProjection::Point at = pr.SkyToChart(zenith.ra, zenith.dec);
    if (at.drawable) chart.Pattern(at.x, at.y, 12, kWhite);
  }
}

void DrawObjects(Chart& chart, const ChartProjection& pr, const TrailMapInput& in) {
  const Table& o = *in.objects;
  for (int row = 0; row < o.count(); ++row) {
    if (!o.Exists(row)) continue;
    if (o.Uint(row, obj::kSel) == 0 && row != in.current_object) continue;
    if (o.Text(row, obj::kClass).starts_with('_')) continue;
    DrawObject(chart, pr, in, row);
  }
}

void DrawShowers(Chart& chart, const ChartProjection& pr, const TrailMapInput& in,
                 double lambda) {
  const Table& s = *in.showers_table;
  std::vector<int> rows = in.shower_rows;
  if (rows.empty()) {
    for (int row = 1; row < s.count(); ++row) {
      if (s.Exists(row) && s.Uint(row, shower::kInUse) != 0) rows.push_back(row);
    }
  }
  std::string_view current_class;
  if (in.objects && in.current_object >= 0 && in.objects->Exists(in.current_object)) {
    current_class = in.objects->Text(in.current_object, obj::kClass);
  }
  const double w = in.ddays * 360.0 / kDaysPerYear;
  for (int row : rows) {
    if (row < 1 || !s.Exists(row)) continue;
    if (!in.peak) {
      const double d1 = Wrap180(lambda - s.Float(row, shower::kSol1));
      const double d2 = Wrap180(lambda - s.Float(row, shower::kSol2));
      if (d1 < -w || d1 > 90.0 || d2 > w || d2 < -90.0) continue;
    }
    const std::string_view code = s.Text(row, shower::kCode);
    PlotColour colour = kShowerCounted;
    if (s.Int(row, shower::kCnt) == 0) {
      colour = kShowerIdle;
    } else if (s.Uint(row, shower::kDisp) != 0 || (!code.empty() && current_class == code)) {
      colour = kWhite;
    }
    if (row == in.selected_shower) colour = kWhite;
    EquatorialPoint radiant{s.Float(row, shower::kRap), s.Float(row, shower::kDecp)};
    if (!in.peak) {
      ShowerRadiant r;
      r.solp = s.Float(row, shower::kSolp);
      r.rap = radiant.ra;
      r.decp = radiant.dec;
      r.dra = s.Float(row, shower::kDra);
      r.ddec = s.Float(row, shower::kDdec);
      radiant = RadiantAtSolarLongitude(r, lambda);
    }
    const ChartProjection::Point at = pr.SkyToChart(radiant.ra, radiant.dec);
    if (at.drawable) chart.Pattern(at.x, at.y, 3, colour);
    const double radius = in.circle * s.Float(row, shower::kSdr);
    for (int pa = 0; pa < 360; pa += 10) {
      const SpherePoint p = SkyDestination(radiant.ra, radiant.dec, pa, radius);
      chart.SkyDot(p.lon, p.lat, colour);
    }
    if (in.text && at.drawable) chart.Text(at.x + 5, at.y, std::string(code), colour);
  }
}

}  // namespace

ChartProjection::ChartProjection(const ChartFrame& frame) : frame_(frame) {
  // One scale on both axes: a screen whose font is wider or narrower than
  // the reference one would otherwise stretch the chart, and the radiants'
  // circles would come out as ellipses. The height decides, as it decides k.
  frame_.vertical = frame.vertical > 0 ? frame.vertical : 1.0;
  frame_.horizontal = frame_.vertical;
  dec0_ = frame.dec > 89.9 ? 90.0 : frame.dec < -89.9 ? -90.0 : frame.dec;
  width_units_ = std::trunc((frame.width - 0.5) / frame_.horizontal - 0.5);
  height_units_ = std::trunc((frame.height - 0.5) / frame_.vertical - 0.5);
  centre_x_ = width_units_ * 0.5;
  centre_y_ = height_units_ * 0.5;
  const double half = std::tan(std::clamp(frame.scale, 1.0, 179.0) * 0.5 * kDegToRad);
  k_ = centre_y_ / half;
}

ChartProjection::Point ChartProjection::SkyToChart(double ra, double dec) const {
  const double d_ra = (ra - frame_.ra) * kDegToRad;
  const double p = dec * kDegToRad, p0 = dec0_ * kDegToRad;
  const double cos_c = std::sin(p) * std::sin(p0) + std::cos(p) * std::cos(p0) * std::cos(d_ra);
  Point out;
  if (!(cos_c > 1e-9)) return out;
  // Standard coordinates: xi towards the east, eta towards the north.
  const double xi = std::cos(p) * std::sin(d_ra) / cos_c;
  const double eta =
      (std::sin(p) * std::cos(p0) - std::cos(p) * std::sin(p0) * std::cos(d_ra)) / cos_c;
  // East to the left, then turned by the rotation.
  const double r = frame_.rot * kDegToRad;
  out.x = centre_x_ + k_ * (-xi * std::cos(r) + eta * std::sin(r));
  out.y = centre_y_ + k_ * (eta * std::cos(r) + xi * std::sin(r));
  out.drawable = true;
  return out;
}

EquatorialPoint ChartProjection::ChartToSky(double x, double y) const {
  const double r = frame_.rot * kDegToRad;
  const double u = (x - centre_x_) / k_, w = (y - centre_y_) / k_;
  const double xi = -u * std::cos(r) + w * std::sin(r);
  const double eta = u * std::sin(r) + w * std::cos(r);
  const double rho = std::hypot(xi, eta);
  const double p0 = dec0_ * kDegToRad;
  if (rho < 1e-12) return EquatorialPoint{To360(frame_.ra), dec0_};
  const double c = std::atan(rho);
  const double dec =
      std::asin(std::clamp(std::cos(c) * std::sin(p0) + eta * std::sin(c) * std::cos(p0) / rho,
                           -1.0, 1.0));
  const double d_ra = std::atan2(xi * std::sin(c), rho * std::cos(p0) * std::cos(c) -
                                                      eta * std::sin(p0) * std::sin(c));
  return EquatorialPoint{To360(frame_.ra + d_ra * kRadToDeg), dec * kRadToDeg};
}

int ChartProjection::PixelX(double x) const {
  return int(std::trunc((x + 0.5) * frame_.horizontal + 0.5));
}

int ChartProjection::PixelY(double y) const {
  return int(std::trunc((y + 0.5) * frame_.vertical + 0.5));
}

double ChartSolarLongitude(const ChartClip& clip, int days) {
  return To360(days * 360.0 / kDaysPerYear + SunLongitude(ClipJd(clip)) * kRadToDeg);
}

void DrawSizePattern(DisplayPicture& p, int x, int y, int size, PlotColour c) {
  if (size <= 1) {
    PutPixel(p, x, y, c);
    return;
  }
  if (size == 2) {
    for (int dy = 0; dy < 2; ++dy) {
      for (int dx = 0; dx < 2; ++dx) PutPixel(p, x + dx, y + dy, c);
    }
    return;
  }
  size = std::min(size, 14);
  const int r = size / 2 + 1;  // size 9: 11 pixels across
  if (size <= 6) {
    for (int d = -r; d <= r; ++d) {
      PutPixel(p, x + d, y, c);
      PutPixel(p, x, y + d, c);
    }
  } else if (size <= 10) {
    for (int d = -r; d <= r; ++d) {
      PutPixel(p, x + d, y - r, c);
      PutPixel(p, x + d, y + r, c);
      PutPixel(p, x - r, y + d, c);
      PutPixel(p, x + r, y + d, c);
    }
  } else {
    const int steps = 8 * r;
    for (int i = 0; i < steps; ++i) {
      const double a = kTwoPi * i / steps;
      PutPixel(p, x + int(std::lround(r * std::cos(a))), y + int(std::lround(r * std::sin(a))), c);
    }
  }
}

std::string ChartReadout(const ChartProjection& projection, double x, double y) {
  const EquatorialPoint at = projection.ChartToSky(x, y);
  char text[64];
  std::snprintf(text, sizeof text, "ra %.1f dec %.1f", at.ra, at.dec);
  return text;
}

void DrawTrailMap(const TrailMapInput& in, std::vector<std::uint8_t>& bgr) {
  const int width = std::max(0, in.frame.width), height = std::max(0, in.frame.height);
  bgr.assign(std::size_t(width) * height * 3, 0);
  DisplayPicture picture{bgr, width, height};
  if (width == 0 || height == 0) return;
  const ChartProjection pr(in.frame);
  Chart chart(pr, picture);
  const double lambda = ChartSolarLongitude(in.clip, in.days);

  if (in.axes) DrawGrid(chart, in);
  if (in.stars && in.catalogue) DrawStars(chart, pr, in);
  if (in.ecliptic) DrawEcliptic(chart, pr, in);
  if (in.axes) {
    for (int side : {-1, 1}) {
      for (double d = 2; d <= 3; d += 1.0 / std::max(1.0, pr.frame().horizontal)) {
        chart.Dot(pr.centre_x() + side * d, pr.centre_y(), kCrossColour);
        chart.Dot(pr.centre_x(), pr.centre_y() + side * d, kCrossColour);
      }
    }
  }
  if (in.objects) DrawObjects(chart, pr, in);
  if (in.showers && in.showers_table) DrawShowers(chart, pr, in, lambda);
  char line[512];
  if (in.marker) {
    const EquatorialPoint at = pr.ChartToSky(in.marker->first, in.marker->second);
    std::snprintf(line, sizeof line, "ra=%.1f dec=%.1f", at.ra, at.dec);
    chart.Pattern(in.marker->first, in.marker->second, 3, kWhite);
    chart.Text(in.marker->first + 20, in.marker->second, line, kWhite);
  }
  const MonthDay date = SolarLongitudeToDate(lambda, in.clip.year);
  std::snprintf(line, sizeof line, "%04d/%02d/%02d sol=%.1f", in.clip.year, date.month, date.day,
                lambda);
  constexpr double kBottomRow = 6.0;
  chart.Text(10.5, kBottomRow, line, kWhite);
  if (in.clip.present) {
    std::string caption = in.clip.name;
    if (in.objects && in.current_object >= 1 && in.objects->Exists(in.current_object)) {
      std::snprintf(line, sizeof line, "%s (%s mag=%.1f)", in.clip.name.c_str(),
                    std::string(in.objects->Text(in.current_object, obj::kClass)).c_str(),
                    in.objects->Float(in.current_object, obj::kMag));
      caption = line;
    }
    chart.Text(140.5, kBottomRow, caption, kWhite);
  }
  if (in.black_on_white) {
    for (std::size_t i = 0; i + 2 < bgr.size(); i += 3) {
      const bool black = bgr[i] == 0 && bgr[i + 1] == 0 && bgr[i + 2] == 0;
      const std::uint8_t v = black ? 255 : 0;
      bgr[i] = bgr[i + 1] = bgr[i + 2] = v;
    }
    const PlotColour frame{0, 0, 0};
    for (int x = 0; x < width; ++x) {
      PutPixel(picture, x, 0, frame);
      PutPixel(picture, x, height - 1, frame);
    }
    for (int y = 0; y < height; ++y) {
      PutPixel(picture, 0, y, frame);
      PutPixel(picture, width - 1, y, frame);
    }
  }
}

}  // namespace mr4
