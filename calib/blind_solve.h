// Blind calibration: the pointing and the field width of a camera found
// from the stars of its mask picture alone, knowing only the site, the clip
// instant, the lens model and the field width within about 20 %.
//
// Geometric hashing of star quads, after Lang et al. 2010 (AJ 139, 1782):
// four stars A, B, C, D, with A and B the widest pair, give a code, the
// places of C and D in the frame where A is (0, 0) and B is (1, 1), taken in
// the plane tangent to the sky at the quad's centre. The code keeps its value
// under any scale, rotation and place on the sky. The codes of quads of the
// brightest catalogue stars above the horizon go into a grid; each quad of
// the brightest mask stars looks up its neighbours there; a hit proposes a
// rotation from the camera's frame to the sky and a field width, which is
// refined on the mask stars it brings onto catalogue stars and kept when far
// more of them land there than chance allows.
//
// Reads the catalogue, the profile and the star data it is given; any
// thread. Units: deg, px.
#pragma once

#include <span>
#include <string>

#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"
#include "calib/star_match.h"

namespace mr4 {

struct BlindSolveOptions {
  int quad_stars = 30;    // brightest mask stars the quads are built from
  int check_stars = 60;   // brightest mask stars a proposal is checked on
  // The true field width lies within vx / (1 + this) .. vx x (1 + this).
  double width_tolerance = 0.3;
  // A proposal is accepted when its matches have a chance probability of at
  // most 10^this.
  double log10_chance_limit = -9.0;
};

struct BlindSolveResult {
  bool solved = false;
  int mask_stars = 0;   // stars found in the picture
  int quad_stars = 0;   // of them, used for quads
  int quads = 0;        // picture quads looked up
  int proposals = 0;    // pointings proposed by the hash and checked
  int checked = 0;      // mask stars the best pointing was checked on
  int matched = 0;      // of them, on a catalogue star
  double log10_chance = 0.0;  // of that many matches by chance
  // The solution (when solved).
  double az = 0.0;   // [deg]
  double ev = 0.0;   // [deg]
  double rot = 0.0;  // [deg]
  double vx = 0.0;   // [deg]
  double seconds = 0.0;  // wall time of the solve
};

// Solves the pointing of `profile`'s camera from `data`'s mask stars (as
// DetectMaskStars left them); the profile's az, ev and rot are not used,
// its vx only as the width within the tolerance. The profile needs its clip
// instant values and distortion table. With fewer than
// kFewestCalibrationStars mask stars there is no solution.
BlindSolveResult BlindSolve(const StarCatalogue& catalogue, const CameraProfile& profile,
                            const StarData& data, const BlindSolveOptions& options = {});

// Writes a solution's az, ev, rot and vx into the profile.
void ApplyBlindSolution(const BlindSolveResult& result, CameraProfile& profile);

// "blind solve: az .. ev .. rot .. vx ..: M of N stars matched (chance
// 1e-X), Q quads, P proposals, T s", or "no solution: N stars found, U used
// for quads, Q quads, P proposals checked".
std::string BlindSolveText(const BlindSolveResult& result);

}  // namespace mr4
