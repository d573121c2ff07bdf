// The shower of a solved meteor: its geocentric radiant, speed and orbit
// compared with a list of shower solutions (such as the IAU MDC lists in
// data/iau-mdc/, loaded by the caller into ShowerReference records).
//
// A meteor belongs to a shower when the shower is active at the meteor's
// solar longitude, the meteor's geocentric radiant lies within
// radiant_limit_deg of the shower's radiant moved to that solar longitude
// by its daily motion, its vg within vg_limit_fraction of the shower's (at
// least vg_limit_min_kms), and, where the shower's orbit is given, the
// Southworth-Hawkins distance D_SH of the orbits is at most d_sh_limit. Of
// several such showers the one of least D_SH wins (least radiant distance
// where orbits are missing). Angles in deg, speeds in km/s, q in AU.
// Pure functions; any thread may call them.
#pragma once

#include <cmath>
#include <optional>
#include <span>
#include <string>

#include "trajectory/trajectory_solver.h"

namespace mr4 {

struct ShowerReference {
  std::string code;
  double los = 0.0;                    // solar longitude of the radiant below
  double ra = 0.0, dec = 0.0;          // J2000 geocentric radiant
  double dra = 0.0, ddec = 0.0;        // radiant motion per deg of solar longitude
  double vg = 0.0;
  double sol1 = NAN, sol2 = NAN;       // activity; NaN: not limited
  double q = NAN, e = NAN, i = NAN, peri = NAN, node = NAN;  // NaN: no orbit
};

struct ShowerMatchLimits {
  double radiant_limit_deg = 3.0;
  double vg_limit_fraction = 0.10;
  double vg_limit_min_kms = 2.0;
  double d_sh_limit = 0.20;
};

struct ShowerMatch {
  std::string code;
  double radiant_distance_deg = 0.0;
  double vg_difference_kms = 0.0;  // meteor minus shower
  double d_sh = NAN;               // NaN when the shower has no orbit
};

struct OrbitElements {
  double q = 0.0, e = 0.0, i = 0.0, peri = 0.0, node = 0.0;
};

// Southworth and Hawkins (1963, Smithson. Contrib. Astrophys. 7, 261).
double SouthworthHawkins(const OrbitElements& a, const OrbitElements& b);

std::optional<ShowerMatch> MatchShower(const TrajectorySolution& meteor,
                                       std::span<const ShowerReference> showers,
                                       const ShowerMatchLimits& limits = {});

}  // namespace mr4
