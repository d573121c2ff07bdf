// The clip simulator: synthetic clips of the real sky, written the way the
// capture program writes them, with a truth file of what was simulated.
//
// A clip is the set "<base>.avi", "<base>.xml" (capture record,
// `halvex_record`), "<base>M.BMP" (capture mask), "<base>P.BMP" (peak-hold
// still), "<base>T.jpg" (thumbnail) and "<base>_truth.json", where base is
// "M%04d%02d%02d_%02d%02d%02d" of the recorded local trigger time plus the
// suffix. The stars come from a star catalogue through the true camera
// profile; a meteor is a straight trajectory in the atmosphere seen from
// the station; other objects (flash, slow light, curved path) serve the
// classification tests. Everything random comes from one generator seeded
// by `seed`: the same options and seed give byte-identical files.
//
// Units: angles in degrees, heights in km, speeds in km/s, times in seconds,
// brightness levels 0..255 (flux = sum of levels of one frame over the
// object; magnitude m = -2.5 log10(flux) + ZeroPoint of the profile).
// Shower meteors come from the IAU MDC solutions shipped in data/iau-mdc
// (sim/mdc_showers.h), never from the shower catalogue the analysis reads.
// The functions write only their files; one clip per call, from any one
// thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "astro/time_scales.h"
#include "calib/camera_profile.h"
#include "calib/star_catalogue.h"
#include "sim/avi_writer.h"
#include "sim/earth_frame.h"

namespace mr4 {

enum class SimObjectKind { kMeteor, kFlash, kSlow, kCurve, kNone };

// "meteor", "flash", "slow", "curve", "none".
const char* SimObjectKindName(SimObjectKind kind);
bool ParseSimObjectKind(const std::string& name, SimObjectKind* kind);
// "yuy2", "uyvy", "dib8", "dib24", "dib32".
bool ParseSimFormat(const std::string& name, AviPixelFormat* format);

// The meteor's source: a shower's radiant (J2000) and speed, or a radiant
// given directly (sporadic).
struct SimRadiant {
  std::string shower = "spo";  // shower code, "spo" for a sporadic radiant
  bool given = false;          // ra/dec below are set; else drawn (sporadic)
  double ra = 0.0;             // J2000 [deg]
  double dec = 0.0;            // [deg]
  double speed = 0.0;          // at the atmosphere [km/s]; 0: shower's or drawn
};

// A meteor's path given in the Earth-fixed frame: the one meteor that every
// station of a network sees, each from its own place. The meteor travels
// from `begin` along `direction` with the lag model
//   l(t) = speed t - decel_a1 (e^(decel_a2 t) - 1 - decel_a2 t)   [km]
// (speed(t) = speed - decel_a1 decel_a2 (e^(decel_a2 t) - 1)), for
// `duration` seconds. Its light curve is in absolute magnitude (at 100 km):
// each station sees it fainter by 5 log10(range / 100 km).
struct SimPath {
  bool given = false;
  EarthVector begin;      // [km]
  EarthVector direction;  // unit, the direction of motion
  double speed = 0.0;     // initial [km/s]
  double decel_a1 = 0.0;  // [km]
  double decel_a2 = 0.0;  // [1/s]
  double duration = 0.0;  // [s]
  double abs_mag_peak = 0.0, abs_mag_ends = 2.0;
  double begin_delay = 0.0;  // the clip's true trigger after the meteor's begin [s]
  std::string shower = "spo";
  double radiant_ra = 0.0, radiant_dec = 0.0;  // apparent, J2000 [deg]

  // Distance travelled and speed `t` seconds after the begin.
  double Length(double t) const;
  double SpeedAt(double t) const;
  EarthVector At(double t) const { return begin + Length(t) * direction; }
};

struct SimOptions {
  CameraProfile profile;   // the true camera; derived values are recomputed
  CivilTime trigger;       // true local trigger time (zone profile.p_tz)
  double clock_error = 0.0;  // recorded minus true trigger time [s]
  std::string suffix = "_SIM";

  SimObjectKind object = SimObjectKind::kMeteor;
  SimRadiant radiant;
  SimPath path;              // set: the meteor follows it (object kMeteor)
  double mag_peak = 0.0;     // brightest magnitude of the object
  double mag_ends = 4.0;     // magnitude at the start and end of its light curve
  double duration = 0.0;     // meteor duration [s]; 0: from its heights and speed

  AviPixelFormat format = AviPixelFormat::kYuy2;
  bool interlaced = false;
  bool bbf = false;          // bottom field first (exposed first)
  double fps = 29.97;
  int frames = 0;            // 0: head + the object's frames + tail
  int head = 30;             // frames before the trigger
  int tail = 30;             // frames after the object (when frames is 0)
  bool fisheye = false;      // black outside the round field

  double star_sigma = 1.0;    // point spread, Gaussian sigma [px]
  double sky_level = 16.0;    // background level
  double read_noise = 1.5;    // Gaussian read noise [levels]
  double shot_gain = 0.25;    // shot noise variance per level of signal
  double scintillation = 0.0; // relative amplitude of the stars' slow flicker
  std::uint64_t seed = 1;
};

// One simulated object as the truth file holds it.
struct SimPoint {
  double t = 0.0;    // from the true trigger instant [s]
  double az = 0.0, ev = 0.0, ra = 0.0, dec = 0.0;
  double height = -1.0;  // [km]; -1 when not known (not in the atmosphere)
  double x = 0.0, y = 0.0;  // pixel (y from the bottom edge)
};
struct SimObjectTruth {
  SimObjectKind kind = SimObjectKind::kNone;
  SimPoint start, end;
  std::string shower;        // meteors
  double radiant_ra = 0.0, radiant_dec = 0.0, speed = 0.0;
  double mag_peak = 0.0, mag_ends = 0.0;
  // The object's highest noise-free level above the sky in any one field:
  // what a detection threshold is up against.
  double peak_level = 0.0;
  std::string ideal_class;   // "meteor", shower code, "flash", "plane", "noise"
};

struct SimClipResult {
  bool ok = false;
  std::string error;
  std::string base;            // the clip's base name
  int frames = 0;
  int stars_marked = 0;        // stars drawn into the capture mask
  std::vector<SimObjectTruth> objects;
};

// Writes one clip into `dir` (created when missing). A shower meteor takes
// its radiant and speed from its MDC solution (LookUpShower); an unknown
// code or a radiant below the horizon is an error.
SimClipResult SimulateClip(const SimOptions& options, const StarCatalogue& catalogue,
                           const std::filesystem::path& dir);

// A shower's radiant (J2000) and its speed at the atmosphere at a solar
// longitude, from its MDC solution. False for a code the selection lacks.
struct ShowerAtDate {
  double ra = 0.0, dec = 0.0, speed = 0.0;
  double vg = 0.0;      // geocentric speed [km/s]
  bool active = false;  // the solar longitude lies in the activity range
};
bool LookUpShower(const std::string& code, double solar_longitude, ShowerAtDate* out);
// The codes of the showers the simulator draws from.
std::vector<std::string> SimulatedShowerCodes();

// The dark hours of the local date `date` (evening) at the profile's
// place: the first and last 5-minute step from local noon with the Sun
// below -12 deg, as local MJDs. False when the Sun stays higher.
bool DarkHours(const CameraProfile& profile, int year, int month, int day, double* dusk,
               double* dawn);

// A night of clips from dusk to dawn (Sun below -12 deg) of the local date
// `date` (evening), `count` clips with a mix of shower members of the
// showers active that night, sporadic meteors, flashes, slow objects and
// empty triggers. `base` gives the camera and the rendering options.
struct SimNightResult {
  bool ok = false;
  std::string error;
  std::vector<SimClipResult> clips;
};
SimNightResult SimulateNight(const SimOptions& base, int year, int month, int day,
                             int count, const StarCatalogue& catalogue,
                             const std::filesystem::path& dir);

}  // namespace mr4
