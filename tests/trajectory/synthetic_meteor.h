// Synthetic meteors seen by several stations, for the trajectory tests and
// the accuracy evaluation: a straight path with the solver's speed model,
// each frame's direction turned into J2000 through the analysis's own
// horizon conversion (astro/sky_coordinates.h, the mean sidereal time of
// astro/time_scales.h), so that the solver's frame conversion is checked
// against the one that writes the result files.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "trajectory/trajectory_solver.h"

namespace mr4::test {

struct SyntheticMeteor {
  double mjd_utc = 0.0;        // true time of the begin point
  double begin_lat_deg = 0.0, begin_lng_deg = 0.0, begin_height_km = 110.0;
  double end_height_km = 80.0;
  // Apparent radiant (J2000 axes) at the begin time, as the Earth-fixed
  // observer sees it; converted at the begin point's own horizon.
  double radiant_ra_deg = 0.0, radiant_dec_deg = 0.0;
  double v_kms = 30.0;
  double decel_a = 0.0, decel_b = 0.0;  // l(t) = v t - a (exp(b t) - 1)
};

struct SyntheticStation {
  std::string name;
  double lng_deg = 0.0, lat_deg = 0.0, alt_m = 0.0;
  double clock_error_s = 0.0;   // the station's clock minus true time
  double fps = 25.0;
  double noise_arcsec = 0.0;    // Gaussian, per axis across the direction
  double first_frame_s = -0.1;  // true time of frame 0 from the begin
};

// Where the first and the last frame of all stations saw the meteor.
struct ObservedTrack {
  double begin_t = 0.0, end_t = 0.0;  // s after the meteor's begin, true time
  double begin_height_km = 0.0, end_height_km = 0.0;
};

// The stations' sights of the meteor: every frame in which the meteor lies
// between its begin and end heights. `rng` draws the noise.
std::vector<StationSight> ObserveMeteor(const SyntheticMeteor& meteor,
                                        const std::vector<SyntheticStation>& stations,
                                        std::mt19937_64& rng, ObservedTrack* track = nullptr);

// A station `distance_km` from the ground point (lat, lng) along `bearing_deg`.
SyntheticStation StationAt(const std::string& name, double lat_deg, double lng_deg,
                           double bearing_deg, double distance_km);

// The elevation (deg) of the radiant above the begin point's horizon.
double RadiantElevation(const SyntheticMeteor& meteor);
// Sets the radiant from its azimuth and elevation (deg) at the begin point.
void SetRadiantFromHorizon(SyntheticMeteor* meteor, double az_deg, double ev_deg);

}  // namespace mr4::test
