#include "astro/ground_geometry.h"

#include <cmath>

#include "astro/angles.h"

namespace mr4 {
namespace {

constexpr double kEllipsoidA = 6378137.0;  // m
constexpr double kEccentricity = 0.081819191042;
constexpr double kOneMinusE2 = 0.9933056199772327;

struct Vec3 {
  double x, y, z;
};

Vec3 UnitVector(double lon, double lat) {
  const double lo = lon * kDegToRad, la = lat * kDegToRad;
  return {std::cos(la) * std::cos(lo), std::cos(la) * std::sin(lo), std::sin(la)};
}

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

double Norm(const Vec3& a) { return std::sqrt(Dot(a, a)); }

Vec3 Scaled(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }

Vec3 EllipsoidPoint(double lon, double lat) {
  const double lo = lon * kDegToRad, la = lat * kDegToRad;
  const double e_sin = kEccentricity * std::sin(la);
  const double n = kEllipsoidA / std::sqrt(1.0 - e_sin * e_sin);
  return {n * std::cos(la) * std::cos(lo), n * std::cos(la) * std::sin(lo),
          kOneMinusE2 * n * std::sin(la)};
}

}  // namespace

double EarthRadiusKm(double latitude) {
  const double phi = latitude * kDegToRad;
  return (0.9983271 + 0.0016764 * std::cos(2.0 * phi) -
          0.0000035 * std::cos(4.0 * phi)) *
         6378.14;
}

double GroundDistanceKm(double lon1, double lat1, double lon2, double lat2) {
  const double la1 = lat1 * kDegToRad, la2 = lat2 * kDegToRad;
  const double c = ClampedAcos(std::cos((lon2 - lon1) * kDegToRad) * std::cos(la1) *
                                   std::cos(la2) +
                               std::sin(la1) * std::sin(la2));
  return c * EarthRadiusKm(lat1);
}

double ChordDistanceKm(double lon1, double lat1, double lon2, double lat2) {
  const Vec3 p1 = EllipsoidPoint(lon1, lat1), p2 = EllipsoidPoint(lon2, lat2);
  const Vec3 d{p1.x - p2.x, p1.y - p2.y, p1.z - p2.z};
  return Norm(d) / 1000.0;
}

GroundRange GroundRangeAtHeight(double latitude, double station_height_m,
                                double elevation, double height_km) {
  const double l = EarthRadiusKm(latitude) + station_height_m / 1000.0;
  const double d = height_km - station_height_m / 1000.0;
  const double m = l * std::cos((elevation + 90.0) * kDegToRad);
  // A line of sight that never reaches the height (a height below the
  // station) is taken to its nearest approach instead of giving NaN.
  const double disc = m * m + 2.0 * l * d + d * d;
  const double s = std::sqrt(disc > 0.0 ? disc : 0.0) + m;
  const double v = ClampedAcos((2.0 * l * l + 2.0 * l * d + d * d - s * s) /
                               (2.0 * l * l + 2.0 * l * d));
  return {v * l, v * kRadToDeg, s};
}

SpherePoint PixelToGroundPoint(const GroundStation& station,
                               const PixelToHorizontalFn& pixel_to_horizontal,
                               double x, double y, double height_km) {
  const HorizontalPoint sight = pixel_to_horizontal(x, y);
  const GroundRange range =
      GroundRangeAtHeight(station.lat, station.height_m, sight.ev, height_km);
  return GroundDestination(station.lng, station.lat, sight.az,
                           range.central_angle_deg);
}

BearingCrossing BearingIntersection(double lon1, double lat1, double bearing1,
                                    double lon2, double lat2, double bearing2) {
  BearingCrossing out;
  if (GroundDistanceKm(lon1, lat1, lon2, lat2) < 1.0) return out;
  const SpherePoint q1 = SkyDestination(lon1, lat1, bearing1, 5.0);
  const SpherePoint q2 = SkyDestination(lon2, lat2, bearing2, 5.0);
  const Vec3 p2 = UnitVector(lon2, lat2);
  const Vec3 a = Cross(UnitVector(lon1, lat1), UnitVector(q1.lon, q1.lat));
  const Vec3 b = Cross(p2, UnitVector(q2.lon, q2.lat));
  const double na = Norm(a), nb = Norm(b);
  if (na == 0.0 || nb == 0.0) return out;
  Vec3 x = Cross(Scaled(a, 1.0 / na), Scaled(b, 1.0 / nb));
  const double nx = Norm(x);
  if (nx < 1e-12) return out;  // both bearings lie on one great circle
  x = Scaled(x, 1.0 / nx);
  if (Dot(x, p2) < 0.0) x = Scaled(x, -1.0);

  double lon = std::atan2(x.y, x.x) * kRadToDeg;
  if (lon < 0.0) lon += 360.0;
  if (lon > 180.0) lon -= 360.0;
  out.lon = lon;
  out.lat = ClampedAsin(x.z) * kRadToDeg;
  out.distance_km = GroundDistanceKm(lon1, lat1, out.lon, out.lat);
  return out;
}

EquatorialPoint RadiantAtSolarLongitude(const ShowerRadiant& shower,
                                        double solar_longitude) {
  double dl = solar_longitude - shower.solp;
  if (dl > 180.0) dl -= 360.0;
  if (dl < -180.0) dl += 360.0;
  const double days = dl / kSunDailyMotionDeg;
  EquatorialPoint out;
  out.ra = std::fmod(shower.rap + shower.dra * days, 360.0);
  if (out.ra < 0.0) out.ra += 360.0;
  out.dec = shower.decp + shower.ddec * days;
  if (out.dec > 90.0) out.dec = 90.0;
  if (out.dec < -90.0) out.dec = -90.0;
  return out;
}

double GroundMapScale(int width, double half_field_deg) {
  return (width / 2) / std::tan(half_field_deg * kDegToRad);
}

MapPoint ProjectToMap(const GroundMapProjection& map, double lon, double lat) {
  const double c0 = (90.0 - map.lat0) * kDegToRad;
  const double c = (90.0 - lat) * kDegToRad;
  const double f = (lon - map.lon0) * kDegToRad;
  const double r =
      std::cos(f) * std::sin(c) * std::sin(c0) + std::cos(c) * std::cos(c0);
  const double u2 = 1.0 - r * r;
  const double u = std::sqrt(u2 > 0.0 ? u2 : 0.0);
  MapPoint out;
  if (r > 0.0) {
    const double v = u * map.scale / r;
    if (v > 0.1) {
      out.x = std::sin(f) / u * std::sin(c) * v + map.width * 0.5;
      out.y = map.height * 0.5 -
              (std::cos(c) - std::cos(c0) * r) / (std::sin(c0) * u) * v;
      out.inside = out.x >= 0.0 && out.x < map.width && out.y >= 0.0 &&
                   out.y < map.height;
      return out;
    }
  }
  out.x = map.width / 2;
  out.y = map.height / 2;
  out.inside = true;
  return out;
}

SpherePoint MapToGround(const GroundMapProjection& map, int x, int y) {
  const double c0 = (90.0 - map.lat0) * kDegToRad;
  const double d = map.height * 0.5 - y;
  const double e = x - map.width * 0.5;
  const double h = std::fabs(d) > 0.1 ? std::atan2(e, d)
                                      : (e > 0.0 ? kHalfPi : -kHalfPi);
  const double psi = std::atan(std::sqrt(d * d + e * e) / map.scale);
  const double b = std::sin(c0) * std::sin(psi) * std::cos(h) +
                   std::cos(psi) * std::cos(c0);
  SpherePoint out;
  out.lat = 90.0 - ClampedAcos(b) * kRadToDeg;
  const double sin_colat = std::sqrt(1.0 - b * b);
  double g = sin_colat > 0.0
                 ? ClampedAsin(std::sin(h) / sin_colat * std::sin(psi)) * kRadToDeg
                 : 0.0;
  if ((g < 0.0) != (std::sin(h) < 0.0)) g = -g;
  out.lon = map.lon0 + g;
  if (out.lon > 180.0 && map.lon0 < 0.0) out.lon -= 360.0;
  if (out.lon < -180.0 && map.lon0 > 0.0) out.lon += 360.0;
  return out;
}

double ZenithAttractedElevation(double ev, double vg) {
  if (!(vg > kSlowestShower)) return ev;
  const double v = std::sqrt(vg * vg + kEscapeSpeedSquared);
  // Half the geocentric zenith distance s and t with sin t = sin s vg / v:
  // the zenith distance seen is s + t (Schiaparelli's zenith attraction,
  // tan((z - z_seen) / 2) = (v - vg) / (v + vg) tan(z_seen / 2)).
  const double s = (90.0 - ev) / 2.0 * kDegToRad;
  const double t = ClampedAsin(std::sin(s) * vg / v);
  return ev + (s - t) * kRadToDeg;
}

}  // namespace mr4
