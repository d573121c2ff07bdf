// The camera profile: one observing station and camera (site, time zone,
// frame size, pointing, field of view, lens distortion, refraction constant,
// photometric calibration and detection parameters), plus the values derived
// from it whenever a profile or clip record is loaded.
//
// Data only. Each analysis context owns one profile; the current profile
// (context 0, the one the pages show and edit and the settings file stores)
// is reached through CurrentProfile(). It is changed on the user-interface
// thread; analysis and replay threads read it without locks while they run.
//
// Units: angles in degrees (azimuth from north through east, longitude
// east-positive), heights in metres, time offsets in seconds, sizes and
// offsets in pixels. Text is UTF-8, at most kProfileTextMaxChars UTF-16
// characters when stored.
//
// Field names are those of the settings keys ("PA0->p_lng" is `p_lng`). The
// profile file attributes and clip-table columns carry other names:
//   cx cy lng lat alt gioidh tz tme      cx cy p_lng p_lat p_alt p_gioidh p_tz p_tme
//   lid sid observer cam lens cap memo   p_lid p_sid p_oname p_cam p_lens p_cap p_memo
//   source_type source_name              p_source_type p_source_name
//   fourcc_original fourcc codec         p_fourcc_original p_fourcc p_codec
//   interlaced bbf head                  p_inter p_bbf p_head
//   az ev rot vx yx dx dy k4 k3 k2 atc   p_az p_ev p_rot p_vx p_yx p_dx p_dy p_k4 p_k3 p_k2 p_atc
//   maxLev maxMag minLev mimMag          maxl maxm minl minm
//   BVF refmag                           p_u4_bvf p_u4_refmag
//   dapix s1 s2 mins leaps rm_small      p_u4_dapix p_u4_f1 p_u4_f2 p_u4_mins p_u4_leap p_u4_rm_small
//   dlo dlim dxoffset                    p_u4_dloffset p_u4_dlim p_u4_dxoffset
//   ddpix maxdps maxedeg cdlim consR     p_u4_ddpix p_u4_dps p_u4_edeg p_u4_cdlim p_u4_consR
#pragma once

#include <array>
#include <limits>
#include <string>

namespace mr4 {

// A profile text holds at most this many UTF-16 characters (plus the
// terminator in the settings and profile files).
inline constexpr int kProfileTextMaxChars = 255;
// Entries of the distortion table: ideal radii 0 to 16999 pixels.
inline constexpr int kDistortionTableSize = 17000;

struct CameraProfile {
  static constexpr double kNotComputed = std::numeric_limits<double>::quiet_NaN();

  // Frame.
  int cx = 720;  // frame width W [px]
  int cy = 480;  // frame height H [px]

  // Station and clock.
  float p_lng = 139.0f;   // longitude [deg east], 0..360
  float p_lat = 35.0f;    // latitude [deg north], -90..90
  float p_alt = 30.0f;    // height above sea level [m]
  float p_gioidh = 0.0f;  // geoid height [m]
  int p_tz = 21600;       // local clock minus UT [s]
  float p_tme = 1.0f;     // a value of the capture record, kept and shown

  // Descriptive texts.
  std::string p_lid;    // location identifier
  std::string p_sid;    // station (camera) identifier
  std::string p_oname;  // observer
  std::string p_source_type;
  std::string p_source_name;
  std::string p_cam;
  std::string p_lens;
  std::string p_cap;
  std::string p_memo;
  std::string p_fourcc_original;
  std::string p_fourcc;
  std::string p_codec;
  std::string profile;  // profile file the clip was analysed with (column "profile")

  // Recording.
  int p_inter = 1;  // frames are interlaced (0/1)
  int p_bbf = 0;    // bottom field first (0/1)
  int p_head = 30;  // frames recorded before the trigger

  // Camera model.
  float p_az = 180.0f;  // azimuth of the optical axis [deg]
  float p_ev = 45.0f;   // elevation of the optical axis [deg]
  float p_rot = 0.0f;   // rotation of the image about the axis [deg]
  float p_vx = 56.0f;   // horizontal field of view [deg]
  float p_yx = 1.0f;    // horizontal pixel scale factor (aspect)
  float p_dx = 0.0f;    // optical centre minus frame centre, x [px]
  float p_dy = 0.0f;    // optical centre minus frame centre, y [px]
  float p_k4 = 0.0f;    // lens distortion coefficients
  float p_k3 = 0.06f;
  float p_k2 = -0.03f;
  float p_atc = 58.3f;  // refraction constant [arcsec]

  // Photometry.
  int maxl = 255;             // bright calibration level
  float maxm = 2.0f;          // magnitude at maxl
  int minl = 50;              // faint calibration level
  float minm = 4.0f;          // magnitude at minl
  float p_u4_bvf = -0.3f;     // colour factor on the catalogue B-V index
  float p_u4_refmag = 4.0f;   // faintest catalogue magnitude drawn and matched

  // Detection and tracking.
  int p_u4_dapix = 48;        // side of the square cleared around a capture mark [px]
  int p_u4_f1 = -1;           // first frame of the detection window
  int p_u4_f2 = 0;            // last frame of the detection window
  int p_u4_mins = 3;          // fewest samples of a track
  int p_u4_leap = 200;        // largest frame gap joined over
  int p_u4_rm_small = 1;      // drop small tracks (0/1)
  int p_u4_dloffset = 10;     // level offset added to noise and threshold
  int p_u4_dlim = 15;         // largest star-link distance [px]
  int p_u4_dxoffset = 0;      // field offset of the detections the clip view lists
  float p_u4_ddpix = 1e-6f;   // convergence limit of the profile adjustment [px]
  float p_u4_dps = 49.0f;     // largest angular speed of a meteor [deg/s]
  float p_u4_edeg = 3.0f;     // position tolerance of the tracker [deg]
  float p_u4_cdlim = -1.0f;   // trail-fit residual limit [deg]; <= 0 automatic
  float p_u4_consR = 3.0f;    // largest pole angle of two joined tracks [deg]

  // Derived whenever a profile or clip record is loaded; not stored.
  double ZeroPoint = kNotComputed;  // m = -2.5 log10(L) + ZeroPoint
  int clip_y = 0;                   // clip instant, local clock
  int clip_mo = 0;
  int clip_d = 0;
  int clip_h = 0;
  int clip_m = 0;
  float clip_s = 0.0f;
  int clip_tz = 0;                  // the clip's own zone [s]
  double ClipLst = kNotComputed;    // local sidereal time of the clip instant
  double ClipJdUtc = kNotComputed;  // [JD, UTC]
  double ClipMjdTt = kNotComputed;  // [MJD, TT]
  double ClipJdTt = kNotComputed;   // [JD, TT]
  float ClipSolarLongitude = std::numeric_limits<float>::quiet_NaN();  // [deg]

  // Lens distortion: DistortionTable[k] is the distorted radius [px] of a
  // point whose ideal radius is k px; HalfWidth = W div 2; k1 = 1-k4-k3-k2.
  std::array<double, kDistortionTableSize> DistortionTable{};
  double HalfWidth = 0.0;
  double k1 = 0.0;
};

// The current profile (analysis context 0), a static record. Set to its
// defaults and read from the settings file at start-up.
CameraProfile& CurrentProfile();

}  // namespace mr4
