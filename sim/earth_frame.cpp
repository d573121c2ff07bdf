#include "sim/earth_frame.h"

#include <cmath>

namespace mr4 {
namespace {

constexpr double kEquatorRadius = 6378.137;          // WGS84 [km]
constexpr double kFlattening = 1.0 / 298.257223563;  // WGS84
constexpr double kE2 = kFlattening * (2.0 - kFlattening);

}  // namespace

EarthVector operator+(EarthVector a, EarthVector b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
EarthVector operator-(EarthVector a, EarthVector b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
EarthVector operator*(double k, EarthVector a) { return {k * a.x, k * a.y, k * a.z}; }
double Dot(EarthVector a, EarthVector b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
EarthVector Cross(EarthVector a, EarthVector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Norm(EarthVector a) { return std::sqrt(Dot(a, a)); }
EarthVector Normalized(EarthVector a) { return (1.0 / Norm(a)) * a; }

EarthVector GeodeticToEarth(const GeodeticPoint& g) {
  const double lat = g.lat * kDegToRad, lng = g.lng * kDegToRad;
  const double n = kEquatorRadius / std::sqrt(1.0 - kE2 * std::sin(lat) * std::sin(lat));
  return {(n + g.height) * std::cos(lat) * std::cos(lng),
          (n + g.height) * std::cos(lat) * std::sin(lng),
          (n * (1.0 - kE2) + g.height) * std::sin(lat)};
}

GeodeticPoint EarthToGeodetic(EarthVector v) {
  const double p = std::hypot(v.x, v.y);
  double lat = std::atan2(v.z, p * (1.0 - kE2));
  double height = 0.0;
  // Fixed-point iteration on the latitude: converges to 1e-12 rad in a few
  // steps at any height of the atmosphere.
  for (int k = 0; k < 10; ++k) {
    const double s = std::sin(lat);
    const double n = kEquatorRadius / std::sqrt(1.0 - kE2 * s * s);
    height = std::fabs(std::cos(lat)) > 1e-9 ? p / std::cos(lat) - n
                                              : std::fabs(v.z) - n * (1.0 - kE2);
    lat = std::atan2(v.z, p * (1.0 - kE2 * n / (n + height)));
  }
  return {std::atan2(v.y, v.x) * kRadToDeg, lat * kRadToDeg, height};
}

LocalFrame LocalFrameAt(const GeodeticPoint& station) {
  const double lat = station.lat * kDegToRad, lng = station.lng * kDegToRad;
  LocalFrame f;
  f.origin = GeodeticToEarth(station);
  f.east = {-std::sin(lng), std::cos(lng), 0.0};
  f.north = {-std::sin(lat) * std::cos(lng), -std::sin(lat) * std::sin(lng), std::cos(lat)};
  f.up = {std::cos(lat) * std::cos(lng), std::cos(lat) * std::sin(lng), std::sin(lat)};
  return f;
}

HorizontalPoint DirectionTo(const LocalFrame& f, EarthVector target) {
  const EarthVector d = target - f.origin;
  const double e = Dot(d, f.east), n = Dot(d, f.north), u = Dot(d, f.up);
  double az = std::atan2(e, n) * kRadToDeg;
  if (az < 0) az += 360.0;
  return {az, std::atan2(u, std::hypot(e, n)) * kRadToDeg};
}

EarthVector DirectionVector(const LocalFrame& f, double az, double ev) {
  const double a = az * kDegToRad, h = ev * kDegToRad;
  return std::cos(h) * std::sin(a) * f.east + std::cos(h) * std::cos(a) * f.north +
         std::sin(h) * f.up;
}

}  // namespace mr4
