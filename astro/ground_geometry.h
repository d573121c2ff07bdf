// Ground geometry: distances on the Earth, where a line of sight reaches a
// height, the ground point under a pixel, the crossing of two bearings, a
// shower radiant moved by its daily drift, and the gnomonic projection of
// the ground map.
//
// Pure functions of their arguments, callable from any thread. Units:
// angles in deg (east longitude, north latitude, azimuth and bearing from
// north through east), distances and heights in km except station heights
// above the ellipsoid, which are in m as the camera profile holds them.
#pragma once

#include <functional>

#include "astro/sky_coordinates.h"

namespace mr4 {

// The Sun's mean daily motion (deg per day, 360 / 365.25).
inline constexpr double kSunDailyMotionDeg = 0.9856262833675564;

// Geocentric Earth radius at a latitude, km.
double EarthRadiusKm(double latitude);

// Great-circle distance, km, with the radius at lat1.
double GroundDistanceKm(double lon1, double lat1, double lon2, double lat2);
// Straight-line distance, km, between two points on the ellipsoid surface.
double ChordDistanceKm(double lon1, double lat1, double lon2, double lat2);

struct GroundRange {
  double range_km = 0.0;           // along the ground
  double central_angle_deg = 0.0;  // seen from the Earth's centre
  double slant_km = 0.0;           // along the line of sight
};
// Where a line of sight of elevation `elevation` from a station at
// `latitude`, `station_height_m` above the ellipsoid, reaches `height_km`.
GroundRange GroundRangeAtHeight(double latitude, double station_height_m,
                                double elevation, double height_km);

// An observing station: the profile's lng, lat and alt + gioidh.
struct GroundStation {
  double lng = 0.0;       // deg east
  double lat = 0.0;       // deg north
  double height_m = 0.0;  // above the ellipsoid
};
// The camera model's step from a pixel (x, y, px) to azimuth and elevation.
using PixelToHorizontalFn = std::function<HorizontalPoint(double x, double y)>;
// The ground point (longitude in -180..180) under the point where the line
// of sight of pixel (x, y) reaches `height_km`.
SpherePoint PixelToGroundPoint(const GroundStation& station,
                               const PixelToHorizontalFn& pixel_to_horizontal,
                               double x, double y, double height_km);

struct BearingCrossing {
  double lon = -1.0;          // deg, -180..180
  double lat = -1.0;          // deg
  double distance_km = -1.0;  // from station 1
};
// The crossing, on station 2's side of the globe, of the great circles
// leaving each station along its bearing. All -1 when the stations are less
// than 1 km apart or the bearings do not define a crossing.
BearingCrossing BearingIntersection(double lon1, double lat1, double bearing1,
                                    double lon2, double lat2, double bearing2);

// The radiant columns of a shower row.
struct ShowerRadiant {
  double solp = 0.0;  // solar longitude of the peak, deg
  double rap = 0.0;   // radiant at the peak, deg
  double decp = 0.0;
  double dra = 0.0;   // daily drift, deg per day
  double ddec = 0.0;
};
// The radiant at a solar longitude (deg): the peak radiant moved linearly
// in ra and dec by its daily drift over the days from the peak.
EquatorialPoint RadiantAtSolarLongitude(const ShowerRadiant& shower,
                                        double solar_longitude);

// The square of the escape-speed term of a meteor's speed at the
// atmosphere: v^2 = vg^2 + this [(km/s)^2].
inline constexpr double kEscapeSpeedSquared = 124.98;
// Showers of this geocentric speed or less have no speed of their own.
inline constexpr double kSlowestShower = 0.1;  // [km/s]
// The elevation at which a radiant of geocentric elevation `ev` is seen by
// meteors of geocentric speed `vg`: the Earth's gravity bends their paths
// so that the radiant seen lies nearer the zenith. Unchanged for vg <= 0.1.
double ZenithAttractedElevation(double ev, double vg);

// The ground map's gnomonic projection about its centre.
struct GroundMapProjection {
  int width = 0;      // px
  int height = 0;     // px
  double lon0 = 0.0;  // centre, deg
  double lat0 = 0.0;
  double scale = 0.0;  // px per unit of tangent
};
// trunc(width / 2) / tan(half field).
double GroundMapScale(int width, double half_field_deg);

struct MapPoint {
  double x = 0.0;  // px
  double y = 0.0;  // px
  bool inside = false;
};
// Map position of a ground point. Points within a tenth of a pixel of the
// centre, and points 90 deg or more from it, give the centre, inside.
MapPoint ProjectToMap(const GroundMapProjection& map, double lon, double lat);
// The ground point of a map pixel.
SpherePoint MapToGround(const GroundMapProjection& map, int x, int y);

}  // namespace mr4
