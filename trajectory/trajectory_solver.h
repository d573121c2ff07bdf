// The trajectory of a meteor seen by two or more stations: the planes of
// the stations intersected for a first radiant and first begin and end
// points, a least-squares fit of every frame's line of sight to one straight
// line with a speed model and the stations' clock offsets, the geocentric
// radiant and speed, the heliocentric orbit, and Monte Carlo uncertainties.
//
// Inputs are J2000 directions as the result files hold them (refraction
// removed, mean places of J2000: precession only, as astro/sky_coordinates.h
// converts). The solver works in the Earth-fixed frame of the stations: a
// direction of a frame is carried into it by precession to the date and the
// mean sidereal time of that frame (UT1 taken as UTC, as the analysis does).
//
// Units: angles in deg, times in s (t_s) or UTC MJD in days, lengths and
// heights in km (station heights in m), speeds in km/s, the semi-major
// axis and perihelion distance in AU.
// Thread safety: pure functions of their arguments; any thread may call
// them, in parallel. TT is derived from the leap-second list of App(), which
// start-up fills before any worker exists (an empty list gives TAI = UTC).
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mr4 {

inline constexpr double kTrajectoryNaN = std::numeric_limits<double>::quiet_NaN();

struct SightSample {            // one frame of one station
  double t_s = 0.0;             // seconds since StationSight::t_ref_mjd_utc
  double ra_deg = 0.0;          // J2000 direction (refraction already removed)
  double dec_deg = 0.0;
  double mag = kTrajectoryNaN;  // apparent magnitude (NaN when unknown)
};

struct StationSight {
  std::string station;          // "LID_SID" of the clip's record
  double lng_deg = 0.0;         // east longitude
  double lat_deg = 0.0;         // geodetic latitude (WGS84)
  double alt_m = 0.0;           // station height, taken as above the WGS84
                                // ellipsoid (pass the profile's alt + geoid
                                // height where it is known)
  double t_ref_mjd_utc = 0.0;   // UTC MJD of t_s = 0 (e.g. the clip's first frame)
  std::vector<SightSample> samples;  // time order
};

struct TrajectoryOptions {
  // Fit the decelerating speed model as well; it is kept only where it
  // lowers the residuals by more than the measurement noise explains.
  bool deceleration = true;
  int monte_carlo_runs = 100;   // 0: no uncertainties (sigma_* NaN)
  uint64_t seed = 1;            // of the Monte Carlo's noise
};

struct TrajectoryPoint {
  std::string station;
  double t_s = 0.0;             // the sample's own t_s (its station's clock)
  double lat_deg = 0.0, lng_deg = 0.0;  // geodetic, of the point of the line
  double height_km = 0.0;               // nearest to the line of sight
  double length_km = 0.0;       // along the line from the begin point
  double residual_arcsec = 0.0; // angle between the line of sight and the
                                // fitted position at the sample's time
};

// Speed model: the distance along the line from the begin point at time t
// (s after the begin, t_ref_mjd_utc) is
//   l(t) = v_init t - decel_a (exp(decel_b t) - 1)      [km]
// (the exponential deceleration of Whipple and Jacchia with l(0) = 0), so
// the speed is v(t) = v_init - decel_a decel_b exp(decel_b t): v_init is the
// speed before the atmosphere slows the meteor. decel_a = decel_b = 0 when
// the constant-speed model is kept.
struct TrajectorySolution {
  bool ok = false;
  std::string failure;          // reason when !ok
  double t_ref_mjd_utc = kTrajectoryNaN;  // UTC MJD of the begin (first frame, clock of station 1)
  double begin_lat_deg = kTrajectoryNaN, begin_lng_deg = kTrajectoryNaN,
         begin_height_km = kTrajectoryNaN;
  double end_lat_deg = kTrajectoryNaN, end_lng_deg = kTrajectoryNaN,
         end_height_km = kTrajectoryNaN;
  // Apparent radiant, J2000 axes: the direction the meteor comes from as
  // the rotating Earth's stations see it (Earth's rotation not removed).
  double radiant_ra_deg = kTrajectoryNaN, radiant_dec_deg = kTrajectoryNaN;
  double v_init_kms = kTrajectoryNaN;   // speed model, see above
  double v_avg_kms = kTrajectoryNaN;    // length over duration of the fitted track
  double decel_a = 0.0;                 // km
  double decel_b = 0.0;                 // 1/s
  // Geocentric radiant and speed: Earth's rotation at the begin point
  // removed, then Earth's attraction (vg from the escape speed at the begin
  // point's geocentric distance, the zenith attraction in the vertical of
  // the geocentric zenith).
  double geo_ra_deg = kTrajectoryNaN, geo_dec_deg = kTrajectoryNaN,
         vg_kms = kTrajectoryNaN;
  // Heliocentric radiant (direction the meteoroid comes from) and speed,
  // J2000 equatorial axes.
  double helio_ra_deg = kTrajectoryNaN, helio_dec_deg = kTrajectoryNaN,
         vh_kms = kTrajectoryNaN;
  double solar_longitude_deg = kTrajectoryNaN;  // J2000 ecliptic, at the begin
  // Heliocentric orbit, J2000 ecliptic and equinox. a = -GM/(2 E): negative
  // for an unbound orbit (e >= 1), where q, e and the angles stay valid.
  double a_au = kTrajectoryNaN, e = kTrajectoryNaN, q_au = kTrajectoryNaN,
         i_deg = kTrajectoryNaN, peri_deg = kTrajectoryNaN,
         node_deg = kTrajectoryNaN;
  double max_convergence_deg = kTrajectoryNaN;  // largest angle between two stations' planes
  double rms_residual_arcsec = kTrajectoryNaN;  // over every frame of every station
  std::vector<double> station_time_offset_s;    // per input station (first = 0):
                                                // add to its t_s for the common clock
  // 1-sigma uncertainties from the Monte Carlo over the residuals (NaN
  // without runs): the radiants' as the rms angle from the solution's
  // radiant, the others as standard deviations.
  double sigma_radiant_deg = kTrajectoryNaN, sigma_geo_radiant_deg = kTrajectoryNaN,
         sigma_vg_kms = kTrajectoryNaN, sigma_v_init_kms = kTrajectoryNaN,
         sigma_begin_height_km = kTrajectoryNaN, sigma_end_height_km = kTrajectoryNaN,
         sigma_a_au = kTrajectoryNaN, sigma_e = kTrajectoryNaN,
         sigma_q_au = kTrajectoryNaN, sigma_i_deg = kTrajectoryNaN;
  std::vector<TrajectoryPoint> points;  // per frame of every station, stations in input order
};

TrajectorySolution SolveTrajectory(std::span<const StationSight> stations,
                                   const TrajectoryOptions& options = {});

// The intersection of two stations' planes (each the great circle fitted to
// that station's lines of sight through the station): cheap, no fitting of
// the frames, for deciding whether two objects can be the same meteor.
struct PlaneIntersection {
  double radiant_ra_deg = kTrajectoryNaN;  // apparent radiant, J2000 axes
  double radiant_dec_deg = kTrajectoryNaN;
  double convergence_deg = kTrajectoryNaN; // angle between the planes, 0..90
  // Where the first and last lines of sight of each station meet the line
  // (the other station's plane): heights above the ellipsoid [km].
  double begin_height_a_km = kTrajectoryNaN, end_height_a_km = kTrajectoryNaN;
  double begin_height_b_km = kTrajectoryNaN, end_height_b_km = kTrajectoryNaN;
  // Distances from each station to its first line of sight's point [km].
  double range_a_km = kTrajectoryNaN, range_b_km = kTrajectoryNaN;
};

// Empty when a station has fewer than two samples, a sample is not
// finite, the planes are parallel (convergence below 0.01 deg), or a first
// or last line of sight meets the line behind its station.
std::optional<PlaneIntersection> IntersectPlanes(const StationSight& a,
                                                 const StationSight& b);

}  // namespace mr4
