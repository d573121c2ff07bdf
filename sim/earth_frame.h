// The Earth-fixed frame of the simulated networks: points on and above the
// WGS84 ellipsoid, and each station's local east/north/up frame, in which
// the camera model's azimuth and elevation are measured.
//
// Units: km for positions and heights, deg for angles (east longitude,
// geodetic latitude, azimuth from north through east). Pure functions.
#pragma once

#include "astro/angles.h"

namespace mr4 {

// Geocentric, Earth-fixed: x towards longitude 0 on the equator, z to the
// north pole [km].
struct EarthVector {
  double x = 0.0, y = 0.0, z = 0.0;
};
EarthVector operator+(EarthVector a, EarthVector b);
EarthVector operator-(EarthVector a, EarthVector b);
EarthVector operator*(double k, EarthVector a);
double Dot(EarthVector a, EarthVector b);
EarthVector Cross(EarthVector a, EarthVector b);
double Norm(EarthVector a);
EarthVector Normalized(EarthVector a);

struct GeodeticPoint {
  double lng = 0.0;     // deg east, -180..180
  double lat = 0.0;     // deg north, geodetic
  double height = 0.0;  // above the ellipsoid [km]
};
EarthVector GeodeticToEarth(const GeodeticPoint& g);
// Exact to well under a millimetre above 1 km below the surface.
GeodeticPoint EarthToGeodetic(EarthVector v);

// A station's frame: its place and the unit vectors of its horizon.
struct LocalFrame {
  EarthVector origin, east, north, up;
};
LocalFrame LocalFrameAt(const GeodeticPoint& station);
// The direction from the station to `target` (true, without refraction).
HorizontalPoint DirectionTo(const LocalFrame& frame, EarthVector target);
// The unit vector of a horizontal direction of the station.
EarthVector DirectionVector(const LocalFrame& frame, double az, double ev);

}  // namespace mr4
