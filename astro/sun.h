// The Sun's geocentric position: its ecliptic longitude referred to the mean
// ecliptic and equinox of J2000, and the equatorial position of a point of
// the ecliptic at a given offset from the Sun.
//
// Pure functions of their arguments, callable from any thread. Time is a
// Julian Date (days) read as Terrestrial Time; callers that hold a UTC
// instant pass it unchanged (the difference, about a minute, moves the Sun
// by under 3 arc seconds). Longitudes are returned in rad, positions in deg.
#pragma once

#include "astro/angles.h"

namespace mr4 {

// Geometric geocentric ecliptic longitude of the Sun on the J2000 ecliptic,
// rad, 0..2 pi. Multiply by kRadToDeg for the solar longitude in degrees.
double SunLongitude(double jd);

// Right ascension, in (-180, 180], and declination of the point of the
// ecliptic whose longitude is the Sun's minus `offset_deg` (0: the Sun).
EquatorialPoint EclipticPointToEquatorial(double jd, double offset_deg);

}  // namespace mr4
