#include "sim/clip_simulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <system_error>

#include "astro/angles.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "astro/sun.h"
#include "base/shipped_data.h"
#include "clips/capture_record_writer.h"
#include "calib/camera_model.h"
#include "calib/still_image.h"
#include "platform/file_replace.h"
#include "platform/image_codecs.h"
#include "sim/mdc_showers.h"
#include "sim/truth_text.h"

namespace mr4 {
namespace {

// The simulator's showers: the IAU MDC solutions of the shipped selection
// (never the catalogue under test). Loaded once; empty with `error` set
// when the lists cannot be read.
const std::vector<MdcSolution>& SimShowers(std::string* error) {
  static std::string load_error;
  static const std::vector<MdcSolution> showers = [] {
    std::vector<MdcSolution> s;
    if (!LoadSelectedMdcShowers(ShippedDataDirectory() / "iau-mdc", &s, &load_error)) s.clear();
    return s;
  }();
  if (error) *error = load_error;
  return showers;
}

namespace fs = std::filesystem;

constexpr double kEarthRadius = 6371.0;      // [km]
constexpr double kMarkPeak = 6.0;            // star peak above the sky the capture marks
constexpr double kMarkFraction = 0.15;       // of the peak: the marked pixels of a star
constexpr double kEventLevel = 6.0;          // object signal seen as the event (red)
constexpr int kStampRows = 12;               // the time stamp band at the bottom
constexpr int kThumbnailStep = 4;            // thumbnail: every 4th pixel of the still
constexpr double kSiderealDegPerSecond = 0.0041780746;

// splitmix64: portable, so the same seed gives the same files everywhere.
struct Random {
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return (Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Range(double a, double b) { return a + (b - a) * Uniform(); }
};

// Normal deviates by table: 4096 inverse-CDF values, four draws per number.
class GaussianTable {
 public:
  GaussianTable() {
    for (int k = 0; k < kSize; ++k) table_[k] = InverseNormal((k + 0.5) / kSize);
  }
  void Fill(Random& rng, float* out, std::size_t n) const {
    std::size_t i = 0;
    while (i < n) {
      std::uint64_t r = rng.Next();
      for (int k = 0; k < 4 && i < n; ++k, r >>= 16) out[i++] = table_[r & (kSize - 1)];
    }
  }

 private:
  static constexpr int kSize = 4096;
  // Newton's method on the normal distribution function, from 0 (the
  // function is convex on each side of 0, so the steps never overshoot).
  static float InverseNormal(double p) {
    double x = 0.0;
    for (int it = 0; it < 60; ++it) {
      const double cdf = 0.5 * std::erfc(-x / std::sqrt(2.0));
      const double pdf = std::exp(-0.5 * x * x) / std::sqrt(2.0 * kPi);
      x -= (cdf - p) / std::max(pdf, 1e-12);
      x = std::clamp(x, -6.0, 6.0);
    }
    return static_cast<float>(x);
  }
  std::array<float, kSize> table_{};
};

struct Vec {
  double e = 0.0, n = 0.0, u = 0.0;
};
Vec operator+(Vec a, Vec b) { return {a.e + b.e, a.n + b.n, a.u + b.u}; }
Vec operator-(Vec a, Vec b) { return {a.e - b.e, a.n - b.n, a.u - b.u}; }
Vec operator*(double k, Vec a) { return {k * a.e, k * a.n, k * a.u}; }
double Dot(Vec a, Vec b) { return a.e * b.e + a.n * b.n + a.u * b.u; }

Vec Unit(double az, double ev) {
  const double a = az * kDegToRad, h = ev * kDegToRad;
  return {std::cos(h) * std::sin(a), std::cos(h) * std::cos(a), std::sin(h)};
}
HorizontalPoint Direction(Vec v) {
  double az = std::atan2(v.e, v.n) * kRadToDeg;
  if (az < 0) az += 360.0;
  return {az, std::atan2(v.u, std::hypot(v.e, v.n)) * kRadToDeg};
}

// The station frame: east, north, up at the station; the Earth's centre
// below it.
struct Station {
  Vec centre;
  double Height(Vec p) const { return std::sqrt(Dot(p - centre, p - centre)) - kEarthRadius; }
  // Where the line of sight `d` (unit) reaches `height`.
  Vec AtHeight(Vec d, double height) const {
    const double b = Dot(d, centre);
    const double r = kEarthRadius + height;
    const double t = b + std::sqrt(std::max(0.0, b * b - Dot(centre, centre) + r * r));
    return t * d;
  }
};

// What is drawn: a path in pixels and a light curve over [t0, t1].
struct Track {
  double t0 = 0.0, t1 = 0.0;  // from the trigger [s]
  double sigma = 1.0;         // [px]
  std::function<bool(double t, double* x, double* y)> position;
  std::function<double(double t)> magnitude;
};

double Flux(const CameraProfile& p, double mag) {
  return std::pow(10.0, -0.4 * (mag - p.ZeroPoint));
}

// Adds `flux` spread as a Gaussian at (x, y) into a bottom-up plane.
void Splat(std::vector<float>& plane, int w, int h, double x, double y, double sigma,
           double flux) {
  const int r = static_cast<int>(std::ceil(3.0 * sigma));
  const int cx = static_cast<int>(std::floor(x)), cy = static_cast<int>(std::floor(y));
  double weights[64 * 64];
  const int side = 2 * r + 1;
  if (side > 64) return;
  double sum = 0.0;
  for (int j = 0; j < side; ++j) {
    for (int i = 0; i < side; ++i) {
      const double dx = cx - r + i + 0.5 - x, dy = cy - r + j + 0.5 - y;
      const double wgt = std::exp(-(dx * dx + dy * dy) / (2.0 * sigma * sigma));
      weights[j * side + i] = wgt;
      sum += wgt;
    }
  }
  for (int j = 0; j < side; ++j) {
    const int yy = cy - r + j;
    if (yy < 0 || yy >= h) continue;
    for (int i = 0; i < side; ++i) {
      const int xx = cx - r + i;
      if (xx < 0 || xx >= w) continue;
      plane[static_cast<std::size_t>(yy) * w + xx] +=
          static_cast<float>(flux * weights[j * side + i] / sum);
    }
  }
}

// Draws the part of `track` exposed in [a, b) into `plane`; `exposure` is
// the field's exposure, so a still object of flux F looks like a star of F.
void DrawTrack(const CameraProfile& p, const Track& track, double a, double b,
               double exposure, std::vector<float>& plane) {
  const double s = std::max(a, track.t0), e = std::min(b, track.t1);
  if (e <= s) return;
  double x0, y0, x1, y1;
  const bool in0 = track.position(s, &x0, &y0), in1 = track.position(e, &x1, &y1);
  const double length = (in0 && in1) ? std::hypot(x1 - x0, y1 - y0) : 20.0;
  const int n = std::clamp(static_cast<int>(std::ceil(length / 0.5)), 4, 4000);
  const double dt = (e - s) / n;
  for (int k = 0; k < n; ++k) {
    const double t = s + (k + 0.5) * dt;
    double x, y;
    if (!track.position(t, &x, &y)) continue;
    Splat(plane, p.cx, p.cy, x, y, track.sigma, Flux(p, track.magnitude(t)) * dt / exposure);
  }
}

// A light curve rising from `ends` to `peak` at 60 % of the duration and
// falling back.
std::function<double(double)> LightCurve(double t0, double t1, double peak, double ends) {
  return [=](double t) {
    const double u = (t - t0) / std::max(1e-9, t1 - t0);
    const double q = u < 0.6 ? (u - 0.6) / 0.6 : (u - 0.6) / 0.4;
    return peak + (ends - peak) * q * q;
  };
}

// 3 x 5 glyphs of the time stamp, rows top first, bit 2 the left column.
const std::array<std::uint8_t, 5>* Glyph(char c) {
  static const std::array<std::uint8_t, 5> kDigits[10] = {
      {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
      {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
  static const std::array<std::uint8_t, 5> kSlash{1, 1, 2, 4, 4}, kColon{0, 2, 0, 2, 0},
      kDot{0, 0, 0, 0, 2};
  if (c >= '0' && c <= '9') return &kDigits[c - '0'];
  if (c == '/') return &kSlash;
  if (c == ':') return &kColon;
  if (c == '.') return &kDot;
  return nullptr;
}

// Draws `text` (scale 2) into the band of a bottom-up grey frame.
void DrawStamp(std::vector<std::uint8_t>& grey, int w, int h, const std::string& text) {
  for (int y = 0; y < std::min(kStampRows, h); ++y) {
    std::fill_n(grey.begin() + static_cast<std::ptrdiff_t>(y) * w, w, std::uint8_t{16});
  }
  int x0 = 4;
  for (char c : text) {
    if (const auto* g = Glyph(c)) {
      for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 3; ++col) {
          if (!((*g)[row] & (4 >> col))) continue;
          for (int k = 0; k < 4; ++k) {
            const int x = x0 + 2 * col + (k & 1), y = 10 - 2 * row - (k >> 1);
            if (x < w && y >= 0 && y < h) grey[static_cast<std::size_t>(y) * w + x] = 235;
          }
        }
      }
    }
    x0 += 8;
  }
}

// Civil time `seconds` after `t` (any sign), through the MJD.
CivilTime AddSeconds(const CivilTime& t, double seconds) {
  const double mjd = CivilToMjd(t.year, t.month, t.day, t.hour, t.minute, t.second);
  return MjdToCivil(mjd + seconds / 86400.0);
}

const char* FourCc(AviPixelFormat f) {
  switch (f) {
    case AviPixelFormat::kYuy2: return "YUY2";
    case AviPixelFormat::kUyvy: return "UYVY";
    default: return "DIB ";
  }
}

// Bottom-up grey frame into the stream's layout.
void PackFrame(AviPixelFormat f, const std::vector<std::uint8_t>& grey, int w, int h,
               std::vector<std::uint8_t>& out) {
  const int bpp = AviBytesPerPixel(f);
  out.resize(static_cast<std::size_t>(w) * h * bpp);
  for (int r = 0; r < h; ++r) {
    const bool top_down = f == AviPixelFormat::kYuy2 || f == AviPixelFormat::kUyvy;
    const std::uint8_t* src = &grey[static_cast<std::size_t>(top_down ? h - 1 - r : r) * w];
    std::uint8_t* dst = &out[static_cast<std::size_t>(r) * w * bpp];
    for (int x = 0; x < w; ++x) {
      const std::uint8_t v = src[x];
      switch (f) {
        case AviPixelFormat::kYuy2: dst[2 * x] = v; dst[2 * x + 1] = 128; break;
        case AviPixelFormat::kUyvy: dst[2 * x] = 128; dst[2 * x + 1] = v; break;
        case AviPixelFormat::kDib8: dst[x] = v; break;
        case AviPixelFormat::kDib16: dst[2 * x] = v; dst[2 * x + 1] = 0; break;
        case AviPixelFormat::kDib24: dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v; break;
        case AviPixelFormat::kDib32:
          dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = v;
          dst[4 * x + 3] = 0;
          break;
      }
    }
  }
}

struct Sky {
  const CameraProfile& p;
  double Lst(double t) const { return p.ClipLst + t * kSiderealDegPerSecond; }
  SimPoint Point(double t, double az, double ev, double x, double y, double height) const {
    const EquatorialPoint eq = HorizontalToEquatorial(p.ClipMjdTt, Lst(t), p.p_lat, az, ev);
    return {t, az, ev, eq.ra, eq.dec, height, x, y};
  }
  SimPoint PixelPoint(double t, double x, double y, double height) const {
    const HorizontalPoint h = PixelToHorizontal(p, x, y);
    return Point(t, h.az, h.ev, x, y, height);
  }
};

// The network's meteor as this station sees it: its own line of sight and
// range to every point of the one path, from its own trigger.
bool PlanPathMeteor(const SimOptions& o, const CameraProfile& p, Track* track,
                    SimObjectTruth* truth) {
  const Sky sky{p};
  const SimPath path = o.path;
  const LocalFrame frame = LocalFrameAt(
      {p.p_lng > 180.0f ? p.p_lng - 360.0 : p.p_lng, p.p_lat, (p.p_alt + p.p_gioidh) / 1000.0});
  const double delay = path.begin_delay;
  const auto light = LightCurve(0.0, path.duration, path.abs_mag_peak, path.abs_mag_ends);
  // Apparent magnitude at clip time t (meteor time t + delay).
  auto magnitude = [=](double t) {
    const double range = Norm(path.At(t + delay) - frame.origin);
    return light(t + delay) + 5.0 * std::log10(range / 100.0);
  };
  track->t0 = -delay;
  track->t1 = path.duration - delay;
  track->sigma = 1.1;
  track->position = [=, &p](double t, double* x, double* y) {
    const HorizontalPoint hp = DirectionTo(frame, path.At(t + delay));
    const PixelPosition pix = HorizontalToPixel(p, hp.az, hp.ev);
    *x = pix.x;
    *y = pix.y;
    return pix.inside;
  };
  track->magnitude = magnitude;
  for (int k = 0; k < 2; ++k) {
    const double t = k == 0 ? track->t0 : track->t1;
    const EarthVector at = path.At(t + delay);
    const HorizontalPoint hp = DirectionTo(frame, at);
    const PixelPosition pix = HorizontalToPixelClamped(p, hp.az, hp.ev);
    (k == 0 ? truth->start : truth->end) =
        sky.Point(t, hp.az, hp.ev, pix.x, pix.y, EarthToGeodetic(at).height);
  }
  truth->shower = path.shower;
  truth->radiant_ra = path.radiant_ra;
  truth->radiant_dec = path.radiant_dec;
  truth->speed = path.speed;
  // The brightest apparent magnitude, at the light curve's peak.
  truth->mag_peak = magnitude(0.6 * path.duration - delay);
  truth->mag_ends = magnitude(track->t0);
  truth->ideal_class = truth->shower;
  return true;
}

// Builds the object of the clip: its track and truth. False with `error`.
bool PlanObject(const SimOptions& o, const CameraProfile& p, Random& rng, Track* track,
                SimObjectTruth* truth, std::string* error) {
  const Sky sky{p};
  const double w = p.cx, h = p.cy;
  truth->kind = o.object;
  truth->mag_peak = o.mag_peak;
  truth->mag_ends = o.mag_ends;
  const double px = rng.Range(0.25, 0.75) * w, py = rng.Range(0.3, 0.75) * h;
  switch (o.object) {
    case SimObjectKind::kNone:
      truth->ideal_class = "noise";
      return true;
    case SimObjectKind::kFlash: {
      // Two frames: shorter than the shortest meteor (0.04 s), and too few
      // samples for a track, so that it cannot pass for a stationary light.
      const double d = 2.0 / o.fps;
      track->t0 = 0.0;
      track->t1 = d;
      track->sigma = 2.0;
      track->position = [=](double, double* x, double* y) { *x = px; *y = py; return true; };
      track->magnitude = LightCurve(0.0, d, o.mag_peak, o.mag_ends);
      truth->start = sky.PixelPoint(0.0, px, py, -1.0);
      truth->end = sky.PixelPoint(d, px, py, -1.0);
      truth->ideal_class = "flash";
      return true;
    }
    case SimObjectKind::kSlow:
    case SimObjectKind::kCurve: {
      const bool slow = o.object == SimObjectKind::kSlow;
      // A distant aircraft: well under the slowest start velocity of a
      // meteor (0.5 deg/s), with room for the scatter of the measured one.
      const double deg_per_s = slow ? rng.Range(0.05, 0.3) : rng.Range(8.0, 20.0);
      const double d = o.duration > 0 ? o.duration : (slow ? 5.0 : 0.8);
      const double speed = deg_per_s * w / p.p_vx;  // [px/s]
      const double angle = rng.Range(0.0, kTwoPi);
      const double turn = slow ? 0.0 : rng.Range(0.8, 1.4) * (rng.Uniform() < 0.5 ? -1 : 1);
      // Start so that the path's middle is at (px, py); a curve turns by
      // `turn` rad over its duration.
      auto at = [=](double t, double* x, double* y) {
        const double s = t - d / 2;
        if (turn == 0.0) {
          *x = px + speed * s * std::cos(angle);
          *y = py + speed * s * std::sin(angle);
        } else {
          const double radius = speed * d / std::fabs(turn);
          const double phi = turn * s / d;
          const double sign = turn > 0 ? 1.0 : -1.0;
          *x = px + radius * (std::sin(phi) * std::cos(angle) - sign * (1 - std::cos(phi)) * std::sin(angle));
          *y = py + radius * (std::sin(phi) * std::sin(angle) + sign * (1 - std::cos(phi)) * std::cos(angle));
        }
        return *x >= 0 && *x < w && *y >= 0 && *y < h;
      };
      track->t0 = 0.0;
      track->t1 = d;
      track->sigma = 1.2;
      track->position = at;
      if (slow) {
        const double peak = o.mag_peak, steady = o.mag_peak + 1.5;
        track->magnitude = [=](double t) { return std::fmod(t, 1.0) < 0.07 ? peak : steady; };
      } else {
        track->magnitude = LightCurve(0.0, d, o.mag_peak, o.mag_ends);
      }
      double x, y;
      at(0.0, &x, &y);
      truth->start = sky.PixelPoint(0.0, x, y, slow ? 10.0 : -1.0);
      at(d, &x, &y);
      truth->end = sky.PixelPoint(d, x, y, slow ? 10.0 : -1.0);
      truth->speed = deg_per_s;  // [deg/s] for these objects
      truth->ideal_class = slow ? "slow" : "curve";
      return true;
    }
    case SimObjectKind::kMeteor: break;
  }

  if (o.path.given) return PlanPathMeteor(o, p, track, truth);

  // The meteor: a straight line in the atmosphere away from the radiant.
  double ra = o.radiant.ra, dec = o.radiant.dec, speed = o.radiant.speed;
  double vg = 0.0;  // a shower's: its meteors come from the radiant as seen
  truth->shower = o.radiant.shower.empty() ? "spo" : o.radiant.shower;
  if (truth->shower != "spo") {
    ShowerAtDate s;
    if (!LookUpShower(truth->shower, p.ClipSolarLongitude, &s)) {
      std::string load_error;
      SimShowers(&load_error);
      *error = load_error.empty() ? "unknown shower code " + truth->shower : load_error;
      return false;
    }
    if (!o.radiant.given) ra = s.ra, dec = s.dec, vg = s.vg;
    if (speed <= 0) speed = s.speed;
  } else if (!o.radiant.given) {
    const EquatorialPoint eq = HorizontalToEquatorial(
        p.ClipMjdTt, p.ClipLst, p.p_lat, rng.Range(0.0, 360.0),
        std::asin(rng.Range(std::sin(15 * kDegToRad), std::sin(80 * kDegToRad))) * kRadToDeg);
    ra = eq.ra;
    dec = eq.dec;
  }
  if (speed <= 0) speed = rng.Range(15.0, 70.0);
  HorizontalPoint rad = EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, ra, dec);
  // Gravity bends the paths of a shower's meteors: their radiant is seen
  // nearer the zenith than the geocentric one.
  rad.ev = ZenithAttractedElevation(rad.ev, vg);
  if (rad.ev < 1.0) {
    *error = "the radiant is below the horizon at that time";
    return false;
  }
  const double h_start = 80.0 + 0.45 * speed, h_end = 70.0 + 0.25 * speed;
  const Station station{{0.0, 0.0, -(kEarthRadius + p.p_alt / 1000.0)}};
  const HorizontalPoint mid_dir = PixelToHorizontal(p, px, py);
  const Vec mid = station.AtHeight(Unit(mid_dir.az, mid_dir.ev), 0.5 * (h_start + h_end));
  const Vec v = -speed * Unit(rad.az, rad.ev);
  // Times (from the middle) at which the line passes a height on the way down.
  // The line passes each height twice; going down it is the earlier root.
  auto when = [&](double height) {
    const Vec m = mid - station.centre;
    const double a = Dot(v, v), b = 2 * Dot(v, m);
    const double c = Dot(m, m) - (kEarthRadius + height) * (kEarthRadius + height);
    const double disc = b * b - 4 * a * c;
    if (disc < 0) return -b / (2 * a);  // never that low: the nearest approach
    return (-b - std::sqrt(disc)) / (2 * a);
  };
  const double tau0 = when(h_start);
  double tau1 = when(h_end);
  if (tau1 <= tau0) tau1 = -2 * Dot(v, mid - station.centre) / (2 * Dot(v, v));
  if (o.duration > 0) tau1 = tau0 + o.duration;
  const double d = tau1 - tau0;
  auto place = [=](double t) { return mid + (tau0 + t) * v; };
  track->t0 = 0.0;
  track->t1 = d;
  track->sigma = 1.1;
  track->position = [=, &p](double t, double* x, double* y) {
    const HorizontalPoint hp = Direction(place(t));
    const PixelPosition pix = HorizontalToPixel(p, hp.az, hp.ev);
    *x = pix.x;
    *y = pix.y;
    return pix.inside;
  };
  track->magnitude = LightCurve(0.0, d, o.mag_peak, o.mag_ends);
  for (int k = 0; k < 2; ++k) {
    const double t = k == 0 ? 0.0 : d;
    const HorizontalPoint hp = Direction(place(t));
    const PixelPosition pix = HorizontalToPixelClamped(p, hp.az, hp.ev);
    (k == 0 ? truth->start : truth->end) =
        sky.Point(t, hp.az, hp.ev, pix.x, pix.y, station.Height(place(t)));
  }
  truth->radiant_ra = ra;
  truth->radiant_dec = dec;
  truth->speed = speed;
  truth->ideal_class = truth->shower;
  return true;
}

std::string PointJson(const SimPoint& s) {
  return "{\"t\": " + Fmt("%.4f", s.t) + ", \"az\": " + Fmt("%.4f", s.az) +
         ", \"ev\": " + Fmt("%.4f", s.ev) + ", \"ra\": " + Fmt("%.4f", s.ra) +
         ", \"dec\": " + Fmt("%.4f", s.dec) + ", \"height\": " + Fmt("%.3f", s.height) +
         ", \"x\": " + Fmt("%.3f", s.x) + ", \"y\": " + Fmt("%.3f", s.y) + "}";
}

std::string TruthJson(const SimOptions& o, const CameraProfile& p, const CivilTime& recorded,
                      const SimClipResult& r) {
  auto time = [](const CivilTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%06.3f", t.year, t.month, t.day,
                  t.hour, t.minute, static_cast<double>(t.second));
    return std::string(buf);
  };
  std::string j = "{\r\n";
  j += "  \"clip\": " + JsonString(r.base) + ",\r\n";
  j += "  \"seed\": " + std::to_string(o.seed) + ",\r\n";
  j += "  \"trigger_true\": " + JsonString(time(o.trigger)) + ",\r\n";
  j += "  \"trigger_recorded\": " + JsonString(time(recorded)) + ",\r\n";
  j += "  \"clock_error\": " + Fmt("%.3f", o.clock_error) + ",\r\n";
  j += "  \"solar_longitude\": " + Fmt("%.4f", p.ClipSolarLongitude) + ",\r\n";
  j += "  \"frames\": " + std::to_string(r.frames) + ", \"head\": " + std::to_string(o.head) +
       ", \"fps\": " + Fmt("%.3f", o.fps) + ", \"interlaced\": " +
       (o.interlaced ? "true" : "false") + ", \"bbf\": " + (o.bbf ? "true" : "false") + ",\r\n";
  j += "  \"profile\": {\"cx\": " + std::to_string(p.cx) + ", \"cy\": " + std::to_string(p.cy) +
       ", \"lng\": " + Fmt("%.6f", p.p_lng) + ", \"lat\": " + Fmt("%.6f", p.p_lat) +
       ", \"alt\": " + Fmt("%.1f", p.p_alt) + ", \"tz\": " + std::to_string(p.p_tz) +
       ", \"az\": " + Fmt("%.6f", p.p_az) + ", \"ev\": " + Fmt("%.6f", p.p_ev) +
       ", \"rot\": " + Fmt("%.6f", p.p_rot) + ", \"vx\": " + Fmt("%.6f", p.p_vx) +
       ", \"yx\": " + Fmt("%.6f", p.p_yx) + ", \"dx\": " + Fmt("%.6f", p.p_dx) +
       ", \"dy\": " + Fmt("%.6f", p.p_dy) + ", \"k4\": " + Fmt("%.6f", p.p_k4) +
       ", \"k3\": " + Fmt("%.6f", p.p_k3) + ", \"k2\": " + Fmt("%.6f", p.p_k2) +
       ", \"atc\": " + Fmt("%.3f", p.p_atc) + ", \"maxLev\": " + std::to_string(p.maxl) +
       ", \"maxMag\": " + Fmt("%.3f", p.maxm) + ", \"zero_point\": " + Fmt("%.4f", p.ZeroPoint) +
       "},\r\n";
  j += "  \"render\": {\"star_sigma\": " + Fmt("%.3f", o.star_sigma) + ", \"sky_level\": " +
       Fmt("%.3f", o.sky_level) + ", \"read_noise\": " + Fmt("%.3f", o.read_noise) +
       ", \"shot_gain\": " + Fmt("%.3f", o.shot_gain) + ", \"scintillation\": " +
       Fmt("%.3f", o.scintillation) + ", \"stars_marked\": " + std::to_string(r.stars_marked) +
       "},\r\n";
  j += "  \"objects\": [";
  for (std::size_t i = 0; i < r.objects.size(); ++i) {
    const SimObjectTruth& t = r.objects[i];
    j += i ? ",\r\n    " : "\r\n    ";
    j += "{\"kind\": " + JsonString(SimObjectKindName(t.kind)) +
         ", \"class\": " + JsonString(t.ideal_class) + ", \"shower\": " + JsonString(t.shower) +
         ",\r\n     \"start\": " + PointJson(t.start) + ",\r\n     \"end\": " + PointJson(t.end) +
         ",\r\n     \"radiant_ra\": " + Fmt("%.4f", t.radiant_ra) +
         ", \"radiant_dec\": " + Fmt("%.4f", t.radiant_dec) + ", \"speed\": " +
         Fmt("%.3f", t.speed) + ", \"mag_peak\": " + Fmt("%.2f", t.mag_peak) +
         ", \"mag_ends\": " + Fmt("%.2f", t.mag_ends) +
         ", \"peak_level\": " + Fmt("%.1f", t.peak_level) + "}";
  }
  j += r.objects.empty() ? "]\r\n}\r\n" : "\r\n  ]\r\n}\r\n";
  return j;
}

std::string CaptureRecord(const SimOptions& o, const CameraProfile& p, const CivilTime& rec,
                          int frames, int tail) {
  auto i = [](long long v) { return std::to_string(v); };
  const RecordAttribute attrs[] = {
      {"y", i(rec.year)}, {"mo", i(rec.month)}, {"d", i(rec.day)}, {"h", i(rec.hour)},
      {"m", i(rec.minute)}, {"s", Fmt("%.4f", rec.second)}, {"tz", i(p.p_tz)},
      {"lid", p.p_lid}, {"sid", p.p_sid}, {"lng", Fmt("%.6f", p.p_lng)},
      {"lat", Fmt("%.6f", p.p_lat)}, {"alt", Fmt("%.6f", p.p_alt)}, {"cx", i(p.cx)},
      {"cy", i(p.cy)}, {"fps", Fmt("%.6f", o.fps)},
      {"AvgTimePerFrame_setting", i(std::llround(1e7 / o.fps))},
      {"interlaced", i(o.interlaced)}, {"bbf", i(o.bbf)}, {"frames", i(frames)},
      {"head", i(o.head)}, {"tail", i(tail)}, {"drop", "0"},
      {"dlev", i(static_cast<long long>(kMarkPeak))}, {"dsize", "4"}, {"sipos", "0"},
      {"sisize", i(kStampRows)}, {"trig", "1"}, {"cam", p.p_cam.empty() ? "simulated" : p.p_cam},
      {"lens", p.p_lens}, {"cap", "mr4 simulate"}, {"fourcc", FourCc(o.format)},
      {"codec", FourCc(o.format)}, {"source_type", "simulation"},
      {"memo", std::string("simulated ") + SimObjectKindName(o.object)}};
  return CaptureRecordXml(attrs);
}

bool WriteText(const fs::path& path, const std::string& text) {
  return ReplaceFileContent(path, text);
}

// Puts the camera at a local clock instant of its own zone.
void SetClipInstant(CameraProfile& p, const CivilTime& local) {
  p.clip_y = local.year;
  p.clip_mo = local.month;
  p.clip_d = local.day;
  p.clip_h = local.hour;
  p.clip_m = local.minute;
  p.clip_s = local.second;
  p.clip_tz = p.p_tz;
  ComputeClipInstantValues(p);
}

}  // namespace

const char* SimObjectKindName(SimObjectKind kind) {
  switch (kind) {
    case SimObjectKind::kMeteor: return "meteor";
    case SimObjectKind::kFlash: return "flash";
    case SimObjectKind::kSlow: return "slow";
    case SimObjectKind::kCurve: return "curve";
    case SimObjectKind::kNone: return "none";
  }
  return "none";
}

bool ParseSimObjectKind(const std::string& name, SimObjectKind* kind) {
  for (SimObjectKind k : {SimObjectKind::kMeteor, SimObjectKind::kFlash, SimObjectKind::kSlow,
                          SimObjectKind::kCurve, SimObjectKind::kNone}) {
    if (name == SimObjectKindName(k)) {
      *kind = k;
      return true;
    }
  }
  return false;
}

bool ParseSimFormat(const std::string& name, AviPixelFormat* format) {
  static const std::pair<const char*, AviPixelFormat> kNames[] = {
      {"yuy2", AviPixelFormat::kYuy2}, {"uyvy", AviPixelFormat::kUyvy},
      {"dib8", AviPixelFormat::kDib8}, {"dib24", AviPixelFormat::kDib24},
      {"dib32", AviPixelFormat::kDib32}};
  for (const auto& [n, f] : kNames) {
    if (name == n) {
      *format = f;
      return true;
    }
  }
  return false;
}

double SimPath::Length(double t) const {
  if (decel_a1 == 0.0 || decel_a2 == 0.0) return speed * t;
  return speed * t - decel_a1 * (std::expm1(decel_a2 * t) - decel_a2 * t);
}

double SimPath::SpeedAt(double t) const {
  return speed - decel_a1 * decel_a2 * std::expm1(decel_a2 * t);
}

std::vector<std::string> SimulatedShowerCodes() {
  std::vector<std::string> codes;
  for (const MdcSolution& s : SimShowers(nullptr)) codes.push_back(s.code);
  return codes;
}

bool LookUpShower(const std::string& code, double sol, ShowerAtDate* out) {
  for (const MdcSolution& s : SimShowers(nullptr)) {
    if (s.code != code) continue;
    const EquatorialPoint eq = s.RadiantAt(sol);
    out->ra = eq.ra;
    out->dec = eq.dec;
    out->vg = s.vg;
    out->speed = std::sqrt(s.vg * s.vg + kEscapeSpeedSquared);
    out->active = s.ActiveAt(sol);
    return true;
  }
  return false;
}

SimClipResult SimulateClip(const SimOptions& o, const StarCatalogue& catalogue,
                           const fs::path& dir) {
  SimClipResult result;
  CameraProfile p = o.profile;
  const int w = p.cx, h = p.cy;
  if (w < 16 || h < 16 || w % 4 != 0 || o.fps <= 0 || o.head < 0) {
    result.error = "the frame must be at least 16 x 16 with a width divisible by 4";
    return result;
  }
  SetClipInstant(p, o.trigger);
  BuildDistortionTable(p);
  UpdateZeroPoint(p);

  Random rng{o.seed * 0x2545F4914F6CDD1Dull + 1};
  Track track;
  SimObjectTruth truth;
  if (!PlanObject(o, p, rng, &track, &truth, &result.error)) return result;
  const bool has_object = o.object != SimObjectKind::kNone;
  if (has_object) result.objects.push_back(truth);

  const int object_frames = has_object ? static_cast<int>(std::ceil(track.t1 * o.fps)) : 0;
  const int frames = o.frames > 0 ? o.frames : o.head + object_frames + o.tail;
  const int tail = std::max(0, frames - o.head - object_frames);
  result.frames = frames;

  const CivilTime recorded = AddSeconds(o.trigger, o.clock_error);
  char base[64];
  std::snprintf(base, sizeof base, "M%04d%02d%02d_%02d%02d%02d", recorded.year, recorded.month,
                recorded.day, recorded.hour, recorded.minute,
                static_cast<int>(std::floor(recorded.second)));
  result.base = base + o.suffix;
  std::error_code ec;
  fs::create_directories(dir, ec);

  // The stars: flux through the zero point, marked when the capture
  // program would see them above the sky.
  const std::size_t n = static_cast<std::size_t>(w) * h;
  struct Star {
    double x, y, flux, phase, rate;
  };
  std::vector<Star> stars;
  std::vector<float> star_plane(n, 0.0f);
  std::vector<std::uint8_t> mark(n, 0);
  const double peak_per_flux = 1.0 / (2 * kPi * o.star_sigma * o.star_sigma);
  for (int s = 0; s < catalogue.count; ++s) {
    const double flux = Flux(p, EffectiveMagnitude(catalogue, p, s));
    if (flux * peak_per_flux < 0.3) continue;
    const HorizontalPoint sky = StarDirection(catalogue, p, s);
    const PixelPosition px = HorizontalToPixel(p, sky.az, sky.ev);
    if (!px.inside) continue;
    stars.push_back({px.x, px.y, flux, rng.Range(0, kTwoPi), rng.Range(0.3, 1.5)});
    Splat(star_plane, w, h, px.x, px.y, o.star_sigma, flux);
    const double peak = flux * peak_per_flux;
    if (peak < kMarkPeak || px.y < kStampRows + 3 || px.x < 3 || px.x > w - 3 || px.y > h - 3) {
      continue;
    }
    ++result.stars_marked;
    const int r = static_cast<int>(std::ceil(3 * o.star_sigma));
    for (int yy = static_cast<int>(px.y) - r; yy <= static_cast<int>(px.y) + r; ++yy) {
      for (int xx = static_cast<int>(px.x) - r; xx <= static_cast<int>(px.x) + r; ++xx) {
        if (xx < 0 || yy < 0 || xx >= w || yy >= h) continue;
        const double dx = xx + 0.5 - px.x, dy = yy + 0.5 - px.y;
        if (std::exp(-(dx * dx + dy * dy) / (2 * o.star_sigma * o.star_sigma)) >= kMarkFraction) {
          mark[static_cast<std::size_t>(yy) * w + xx] = 1;
        }
      }
    }
  }
  std::vector<std::uint8_t> outside(n, 0);
  if (o.fisheye) {
    const double radius = 0.5 * std::min(w, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        outside[static_cast<std::size_t>(y) * w + x] =
            std::hypot(x + 0.5 - 0.5 * w, y + 0.5 - 0.5 * h) > radius;
      }
    }
  }

  AviWriterOptions avi;
  avi.format = o.format;
  avi.width = w;
  avi.height = h;
  avi.microseconds_per_frame = static_cast<std::uint32_t>(std::lround(1e6 / o.fps));
  AviWriter writer;
  if (!writer.Open(dir / (result.base + ".avi"), avi)) {
    result.error = writer.error();
    return result;
  }

  static const GaussianTable gauss;
  std::vector<float> fields[2] = {std::vector<float>(n), std::vector<float>(n)};
  std::vector<float> noise(n), event(n, 0.0f), scint;
  std::vector<std::uint8_t> grey(n), peak(n, 0), packed;
  const double frame_time = 1.0 / o.fps;
  for (int f = 0; f < frames; ++f) {
    const double t = (f - o.head) * frame_time;
    const int nfields = o.interlaced ? 2 : 1;
    for (int k = 0; k < nfields; ++k) {
      std::fill(fields[k].begin(), fields[k].end(), 0.0f);
      if (!has_object) continue;
      const double exposure = frame_time / nfields;
      DrawTrack(p, track, t + k * exposure, t + (k + 1) * exposure, exposure, fields[k]);
    }
    const float* sky_stars = star_plane.data();
    if (o.scintillation > 0) {
      scint.assign(n, 0.0f);
      for (const Star& s : stars) {
        const double factor = 1.0 + o.scintillation * std::sin(s.rate * kTwoPi * t + s.phase);
        Splat(scint, w, h, s.x, s.y, o.star_sigma, s.flux * factor);
      }
      sky_stars = scint.data();
    }
    gauss.Fill(rng, noise.data(), n);
    for (int y = 0; y < h; ++y) {
      // Rows counted from the top: the first field holds the even ones
      // (top field first) or the odd ones (bottom field first).
      const int top_row = h - 1 - y;
      const int k = o.interlaced ? ((top_row % 2 == 0) != o.bbf ? 0 : 1) : 0;
      const float* obj = &fields[k][static_cast<std::size_t>(y) * w];
      for (int x = 0; x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        if (outside[i]) {
          grey[i] = 0;
          continue;
        }
        const double signal = sky_stars[i] + obj[x];
        const double level = o.sky_level + signal;
        const double sd = std::sqrt(o.read_noise * o.read_noise + o.shot_gain * level);
        grey[i] = static_cast<std::uint8_t>(std::clamp(std::lround(level + sd * noise[i]), 0L, 255L));
        event[i] = std::max(event[i], obj[x]);
      }
    }
    char stamp[40];
    const CivilTime now = AddSeconds(recorded, t);
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%06.3f", now.year, now.month,
                  now.day, now.hour, now.minute, static_cast<double>(now.second));
    DrawStamp(grey, w, h, stamp);
    for (std::size_t i = 0; i < n; ++i) peak[i] = std::max(peak[i], grey[i]);
    PackFrame(o.format, grey, w, h, packed);
    if (!writer.WriteFrame(packed)) {
      result.error = writer.error();
      return result;
    }
  }
  if (!writer.Close()) {
    result.error = writer.error();
    return result;
  }
  if (has_object) {
    result.objects[0].peak_level = *std::max_element(event.begin(), event.end());
  }

  // The still, its thumbnail and the capture mask (all bottom-up BGR).
  std::vector<std::uint8_t> still(n * 3), mask(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    still[3 * i] = still[3 * i + 1] = still[3 * i + 2] = peak[i];
    const bool band = i / w < static_cast<std::size_t>(kStampRows);
    mask[3 * i] = (mark[i] && !outside[i]) ? 240 : 0;
    mask[3 * i + 1] = outside[i] ? 0 : peak[i];
    mask[3 * i + 2] = (!band && event[i] > kEventLevel) ? 255 : 0;
  }
  const int tw = w / kThumbnailStep, th = h / kThumbnailStep;
  std::vector<std::uint8_t> thumb(static_cast<std::size_t>(tw) * th * 3);
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < tw; ++x) {
      const std::uint8_t v = peak[static_cast<std::size_t>(y * kThumbnailStep) * w + x * kThumbnailStep];
      for (int c = 0; c < 3; ++c) thumb[3 * (static_cast<std::size_t>(y) * tw + x) + c] = v;
    }
  }
  const fs::path stem = dir / result.base;
  if (WriteStillBmp(stem.string() + "P.BMP", still, w, h) != ImageStatus::kOk ||
      WriteStillBmp(stem.string() + "M.BMP", mask, w, h) != ImageStatus::kOk ||
      WriteJpeg(stem.string() + "T.jpg", thumb, tw, th) != ImageStatus::kOk ||
      !WriteText(stem.string() + ".xml", CaptureRecord(o, p, recorded, frames, tail)) ||
      !WriteText(stem.string() + "_truth.json", TruthJson(o, p, recorded, result))) {
    // Half a clip set would be scanned as a clip: none of it stays.
    for (const char* suffix : {".avi", "P.BMP", "M.BMP", "T.jpg", ".xml", "_truth.json"}) {
      std::error_code ec;
      fs::remove(stem.string() + suffix, ec);
    }
    result.error = "cannot write the files of " + stem.string();
    return result;
  }
  result.ok = true;
  return result;
}

bool DarkHours(const CameraProfile& p, int year, int month, int day, double* dusk,
               double* dawn) {
  // The Sun below -12 deg, searched in 5-minute steps from local noon.
  const double noon = CivilToMjd(year, month, day, 12, 0, 0.0f);
  *dusk = -1;
  *dawn = -1;
  for (int k = 0; k <= 288; ++k) {
    const double mjd = noon + k * 5.0 / 1440.0;
    const CivilTime c = MjdToCivil(mjd);
    const double jd = mjd - p.p_tz / 86400.0 + 2400000.5;
    const EquatorialPoint sun = EclipticPointToEquatorial(jd, 0.0);
    const double lst = LocalSiderealTime(c.year, c.month, c.day, c.hour, c.minute, c.second,
                                         p.p_tz, p.p_lng);
    const bool dark =
        EquatorialToHorizontal(mjd - p.p_tz / 86400.0, lst, p.p_lat, sun.ra, sun.dec).ev < -12.0;
    if (dark && *dusk < 0) *dusk = mjd;
    if (dark) *dawn = mjd;
  }
  return *dusk >= 0;
}

SimNightResult SimulateNight(const SimOptions& base, int year, int month, int day, int count,
                             const StarCatalogue& catalogue, const fs::path& dir) {
  SimNightResult night;
  CameraProfile p = base.profile;
  double dusk = -1, dawn = -1;
  if (!DarkHours(p, year, month, day, &dusk, &dawn)) {
    night.error = "the Sun does not go 12 degrees below the horizon that night";
    return night;
  }
  Random rng{base.seed * 0x9E3779B97F4A7C15ull + 7};
  const double step = (dawn - dusk) / std::max(1, count);
  for (int i = 0; i < count; ++i) {
    SimOptions o = base;
    o.seed = base.seed * 1000003ull + static_cast<std::uint64_t>(i);
    const double mjd = dusk + (i + rng.Range(0.1, 0.9)) * step;
    o.trigger = MjdToCivil(std::floor(mjd * 86400.0) / 86400.0);
    SetClipInstant(p, o.trigger);
    // The showers active now with their radiant well above the horizon.
    std::vector<std::string> active;
    for (const MdcSolution& shower : SimShowers(nullptr)) {
      ShowerAtDate s;
      if (!LookUpShower(shower.code, p.ClipSolarLongitude, &s) || !s.active) continue;
      if (EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, s.ra, s.dec).ev > 15.0) {
        active.push_back(shower.code);
      }
    }
    // The mix: the first clip always a bright meteor (a clear clip to
    // calibrate on); then shower members, sporadics, flashes, slow
    // objects and empty triggers.
    const double u = i == 0 ? 0.5 : rng.Uniform();
    o.radiant = SimRadiant{};
    o.object = SimObjectKind::kMeteor;
    if (u < 0.35 && !active.empty()) {
      o.radiant.shower = active[static_cast<std::size_t>(rng.Uniform() * active.size())];
    } else if (u < 0.7) {
      o.radiant.shower = "spo";
    } else if (u < 0.8) {
      o.object = SimObjectKind::kFlash;
    } else if (u < 0.9) {
      o.object = SimObjectKind::kSlow;
    } else {
      o.object = SimObjectKind::kNone;
    }
    // An aircraft's steady light (peak + 1.5) must stand out of the
    // background in every frame, as a real one's lights do; a steady light
    // fainter than about magnitude 0 is lit only in its strobe frames.
    // A flash that set off the capture is a bright glint.
    o.mag_peak = o.object == SimObjectKind::kSlow    ? rng.Range(-2.5, -1.0)
                 : o.object == SimObjectKind::kFlash ? rng.Range(-3.0, -1.5)
                                                     : rng.Range(-2.0, 2.0);
    o.duration = o.object == SimObjectKind::kSlow ? 4.0 : 0.0;
    SimClipResult clip = SimulateClip(o, catalogue, dir);
    if (!clip.ok) {
      night.error = clip.error;
      return night;
    }
    night.clips.push_back(std::move(clip));
  }
  night.ok = true;
  return night;
}

}  // namespace mr4
