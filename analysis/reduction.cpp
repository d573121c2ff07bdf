#include "analysis/reduction.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/detector.h"
#include "analysis/measurement.h"
#include "analysis/result_file.h"
#include "analysis/showers.h"
#include "analysis/trail_fit.h"
#include "base/error.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "astro/sky_coordinates.h"
#include "clips/clip_record.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr int kFieldLimit = 4005;
constexpr int kLocalFitHalf = 3;   // entries before a sample in its local fit
constexpr int kLocalFitSpan = 6;   // entries after the first of a local fit

double Degrees(double lon1, double lat1, double lon2, double lat2) {
  return AngularDistance(static_cast<float>(lon1), static_cast<float>(lat1),
                         static_cast<float>(lon2), static_cast<float>(lat2)) /
         kDeg;
}

double FiniteOr(double v, double fallback) { return std::isfinite(v) ? v : fallback; }

bool IsNonMeteor(std::string_view object_class) {
  return !object_class.empty() && object_class[0] == '_';
}

// Smooths the track's positions along its circle by local linear fits of
// one angle on time (orientation 1: ra, 0: dec), or keeps the measured
// positions near a celestial pole (-1); then each sample's velocity.
void SmoothTrack(AnalysisContext& c, Track& t, const GreatCircleFit& fit) {
  const int n = t.sample_count;
  if (fit.orientation == -1) {
    for (int i = 0; i < n; ++i) {
      Detection& s = c.Sample(t.samples[i]);
      s.ra_mod = s.ra;
      s.dec_mod = s.dec;
    }
  } else {
    const bool by_ra = fit.orientation == 1;
    const bool every = t.passed_count < 3;
    const double ra_first = c.Sample(t.samples[0]).ra;
    const double ra_last = c.Sample(t.samples[n - 1]).ra;
    // A trail across 0h: ra continues past 360 instead of jumping to 0.
    const bool wrap = by_ra && std::fabs(ra_last - ra_first) > 180;
    int entries = 0;
    for (int i = 0; i < n; ++i) {
      Detection& s = c.Sample(t.samples[i]);
      s.sequence = entries;
      if (!every && !s.pass) continue;
      double angle = by_ra ? s.ra : s.dec;
      if (wrap && angle < 180) angle += 360;
      c.fit_time[entries] = s.field / c.field_rate;
      c.fit_angle[entries] = angle;
      ++entries;
    }
    for (int i = 0; i < n; ++i) {
      Detection& s = c.Sample(t.samples[i]);
      const int lo = std::max(s.sequence - kLocalFitHalf, 0);
      const int hi = std::min(entries - 1, lo + kLocalFitSpan);
      const double angle = LocalLinearFit(c, lo, hi, s.field / c.field_rate, nullptr);
      if (by_ra) {
        s.ra_mod = Wrap360(angle);
        const double a = s.ra_mod * kDeg;
        s.dec_mod = std::atan(-(fit.nx * std::cos(a) + fit.ny * std::sin(a)) / fit.nz) / kDeg;
      } else {
        s.dec_mod = angle;
        const double h =
            std::acos(std::clamp(-std::tan(angle * kDeg) * std::tan(t.pole_dec * kDeg), -1.0,
                                 1.0)) /
            kDeg;
        const double east = Wrap360(t.pole_ra + h), west = Wrap360(t.pole_ra - h);
        s.ra_mod = std::fabs(Wrap180(east - ra_first)) < std::fabs(Wrap180(west - ra_first))
                       ? east
                       : west;
      }
    }
  }
  for (int k = 0; k + 1 < n; ++k) {
    Detection& a = c.Sample(t.samples[k]);
    const Detection& b = c.Sample(t.samples[k + 1]);
    a.av = FiniteOr(Degrees(a.ra_mod, a.dec_mod, b.ra_mod, b.dec_mod) /
                        ((b.field - a.field) / c.field_rate),
                    -1);
  }
  if (n >= 2) c.Sample(t.samples[n - 1]).av = c.Sample(t.samples[n - 2]).av;
}

// Appends an OBJ row for the clip at the end of its chain (caller holds the
// object table's lock); `last` is the chain's last row or -1.
int AppendObjectRow(AnalysisContext& c, Table& objects, int last) {
  const int row = objects.AppendRow();
  objects.SetInt(row, obj::kCline, c.clip_row);
  objects.SetInt(row, obj::kOlinenext, -1);
  objects.SetInt(row, obj::kDisp, 1);
  if (last < 0)
    Tables().clip.SetInt(c.clip_row, clip::kOline, row);
  else
    objects.SetInt(last, obj::kOlinenext, row);
  return row;
}

struct Position {
  double ra = 0, dec = 0, av = -1;
};

// The start, middle or end columns of an object: position, its place in
// the frame and the velocity there.
void WritePoint(const AnalysisContext& c, Table& objects, int row, const Position& p,
                int k_ra, int k_dec, int k_av, int k_az, int k_ev, int k_x, int k_y) {
  objects.SetFloat(row, k_ra, static_cast<float>(p.ra));
  objects.SetFloat(row, k_dec, static_cast<float>(p.dec));
  objects.SetFloat(row, k_av, static_cast<float>(p.av));
  if (k_az < 0) return;
  const FramePoint f = ProjectToFrame(c, p.ra, p.dec);
  objects.SetFloat(row, k_az, static_cast<float>(f.az));
  objects.SetFloat(row, k_ev, static_cast<float>(f.ev));
  objects.SetFloat(row, k_x, static_cast<float>(f.x));
  objects.SetFloat(row, k_y, static_cast<float>(f.y));
}

bool InsideFrame(const AnalysisContext& c, double x, double y) {
  return 3 < x && x < c.width - 4 && 3 < y && y < c.height - 4;
}

// The figures a run leaves in the clip row.
struct RunSummary {
  double brightest_mag = 99;
  int brightest = -1;
  double largest_residual = 0;
  double slowest_start = 9999.9;
};

// One track becomes one OBJ row.
void ReduceTrack(AnalysisContext& c, int track, int* last_object, RunSummary& summary) {
  Track& t = c.tracks[track];
  const int n = t.sample_count;
  const GreatCircleFit first_fit = FitGreatCircle(c, t, 0);
  GreatCircleFit fit = first_fit;
  const Detection& p1 = c.Sample(t.samples[0]);
  const Detection& pm = c.Sample(t.samples[(n - 1) / 2]);
  const Detection& p2 = c.Sample(t.samples[n - 1]);
  Position start, middle, end;
  if (n < 4) {
    const double av = FiniteOr(
        Degrees(p1.ra, p1.dec, p2.ra, p2.dec) / ((p2.field - p1.field) / c.field_rate), -1);
    // The samples of a short track share its mean velocity.
    for (int i = 0; i < n; ++i) c.Sample(t.samples[i]).av = av;
    start = {p1.ra, p1.dec, av};
    middle = {pm.ra, pm.dec, av};
    end = {p2.ra, p2.dec, av};
  } else {
    const double limit = c.params.cdlim > 0 ? c.params.cdlim : 2 * first_fit.mean_residual;
    fit = FitGreatCircle(c, t, limit);
    // When the limit leaves out every sample the circle of the first fit
    // (kept in the track) smooths the positions; the object keeps cdeg -1.
    GreatCircleFit circle = fit.mean_residual < 0 ? first_fit : fit;
    SmoothTrack(c, t, circle);
    start = {p1.ra_mod, p1.dec_mod, p1.av};
    middle = {pm.ra_mod, pm.dec_mod, pm.av};
    end = {p2.ra_mod, p2.dec_mod, p2.av};
  }

  if (c.trail_log) WriteTrailLogTrack(c, track);

  Table& objects = Tables().obj;
  int row;
  double mag;
  {
    std::lock_guard lock(objects.lock());
    row = AppendObjectRow(c, objects, *last_object);
    *last_object = row;
    int fs = p1.field, fe = p2.field;
    if (fs == 0 && fe == 0) {
      const int head = c.clip.interlaced ? FieldsOfFrames(c.clip.head) : c.clip.head;
      fs = fe = head < INT32_MAX ? head + 1 : head;
    }
    const int fN = fe - fs + 1;
    objects.SetInt(row, obj::kFs, fs);
    objects.SetInt(row, obj::kFe, fe);
    objects.SetFloat(row, obj::kDelay, static_cast<float>(SampleTime(c, fs)));
    objects.SetInt(row, obj::kFN, fN);
    objects.SetInt(row, obj::kSN, n);
    objects.SetInt(row, obj::kNpass, t.passed_count);
    objects.SetFloat(row, obj::kSec, static_cast<float>((fN - 1) / c.field_rate));
    objects.SetInt(row, obj::kPix, t.pixel_sum);
    objects.SetInt(row, obj::kBmax, t.peak);
    objects.SetInt(row, obj::kBN, t.saturated);
    objects.SetFloat(row, obj::kLmax, static_cast<float>(t.max_Lsum));
    objects.SetFloat(row, obj::kCdeg, static_cast<float>(fit.mean_residual));
    objects.SetFloat(row, obj::kCdegpeak, static_cast<float>(fit.largest_residual));
    objects.SetFloat(row, obj::kRaP, static_cast<float>(t.pole_ra));
    objects.SetFloat(row, obj::kDcP, static_cast<float>(t.pole_dec));
    if (fit.mean_residual > summary.largest_residual)
      summary.largest_residual = fit.mean_residual;
    else if (fit.mean_residual < 0)
      summary.largest_residual = 99;

    WritePoint(c, objects, row, start, obj::kRa1, obj::kDc1, obj::kAv1, obj::kAz1, obj::kEv1,
               obj::kX1, obj::kY1);
    summary.slowest_start = std::min(summary.slowest_start, start.av);
    WritePoint(c, objects, row, end, obj::kRa2, obj::kDc2, obj::kAv2, obj::kAz2, obj::kEv2,
               obj::kX2, obj::kY2);
    WritePoint(c, objects, row, middle, obj::kRam, obj::kDcm, obj::kAvm, -1, -1, -1, -1);
    objects.SetFloat(row, obj::kDelayM, static_cast<float>(SampleTime(c, pm.field)));
    const int io =
        (InsideFrame(c, objects.Float(row, obj::kX1), objects.Float(row, obj::kY1)) ? 1 : 0) +
        (InsideFrame(c, objects.Float(row, obj::kX2), objects.Float(row, obj::kY2)) ? 2 : 0);
    objects.SetInt(row, obj::kIo, io);

    for (int k : {obj::kLng1, obj::kLat1, obj::kLng2, obj::kLat2})
      objects.SetFloat(row, k, -999.0f);
    for (int k : {obj::kH1, obj::kDist1, obj::kGd1, obj::kAzL1, obj::kEvL1, obj::kH2,
                  obj::kDist2, obj::kGd2})
      objects.SetFloat(row, k, -1.0f);
    mag = SampleMagnitude(c.profile, t.max_Lsum);
    objects.SetFloat(row, obj::kMag, static_cast<float>(mag));
  }
  if (mag < summary.brightest_mag) {
    summary.brightest_mag = mag;
    summary.brightest = row;
  }

  // Each of these takes the object table's lock itself.
  ClassifyObject(objects, row);
  const int associated = AssociateShower(c, row, -1);
  GroundPoint(Tables().clip, c.clip_row, objects, row, 1);
  if (associated) EstimateTrajectory(c, row);
}

// The star-fit figures of the clip's linked mask stars.
struct StarFigures {
  int pairs = 0;
  double mean = -1;
  double largest = 0;
};
StarFigures StarFiguresOf(const StarData& stars) {
  StarFigures f;
  f.pairs = static_cast<int>(stars.pairs.size());
  double sum = 0;
  int linked = 0;
  for (const MaskStar& s : stars.mask_stars) {
    if (s.link < 0) continue;
    sum += s.ddeg;
    f.largest = std::max(f.largest, s.ddeg);
    ++linked;
  }
  if (linked > 0) f.mean = sum / linked;
  return f;
}

}  // namespace

void ReduceRun(AnalysisContext& c) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  if (AppSettings().a_log && !OpenTrailLog(c))
    ShowError("Cannot open %s", TrailLogPath(clips, c.clip_row).string().c_str());

  c.field_counter = std::min(c.field_counter, kFieldLimit);
  c.fields_processed = c.field_counter;
  LinkTracks(c, c.field_counter - 1);
  c.track_clip_row = c.clip_row;
  const StarFigures stars = StarFiguresOf(c.stars);

  RunSummary summary;
  int last_object = -1;
  {
    std::lock_guard lock(objects.lock());
    int steps = 0;
    for (int o = clips.Int(c.clip_row, clip::kOline); o >= 0;
         o = objects.Int(o, obj::kOlinenext)) {
      if (++steps > objects.count()) FatalError("oline link broken");
      last_object = o;
    }
  }
  for (int t = 0; t < c.track_count; ++t) {
    if (c.tracks[t].sample_count < 1) continue;  // the tracker leaves none empty
    ReduceTrack(c, t, &last_object, summary);
  }

  clips.SetText(c.clip_row, clip::kUa, App().version_number_text);
  clips.SetInt(c.clip_row, clip::kO, c.track_count);
  clips.SetInt(c.clip_row, clip::kDl, c.noise_level);
  clips.SetInt(c.clip_row, clip::kPixs, static_cast<std::int32_t>(c.lit_pixels));
  clips.SetInt(c.clip_row, clip::kRstar, stars.pairs);
  clips.SetFloat(c.clip_row, clip::kDdega, static_cast<float>(stars.mean));
  clips.SetFloat(c.clip_row, clip::kDdegm, static_cast<float>(stars.largest));
  if (summary.brightest >= 0) {
    std::lock_guard lock(objects.lock());
    clips.SetFloat(c.clip_row, clip::kMag, objects.Float(summary.brightest, obj::kMag));
    clips.SetFloat(c.clip_row, clip::kSec, objects.Float(summary.brightest, obj::kSec));
    clips.SetText(c.clip_row, clip::kClass, objects.Text(summary.brightest, obj::kClass));
  }
  clips.SetFloat(c.clip_row, clip::kCdegmax, static_cast<float>(summary.largest_residual));
  clips.SetFloat(c.clip_row, clip::kAvmin, static_cast<float>(summary.slowest_start));

  if (c.trail_log) CloseTrailLog(c);
  c.elapsed_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - c.run_start).count();
}

double LocalLinearFit(const AnalysisContext& c, int lo, int hi, double t, double* rms) {
  if (rms) *rms = 0;
  const int n = hi - lo + 1;
  if (n <= 1) return c.fit_angle[lo];
  double st = 0, sa = 0, stt = 0, sta = 0;
  for (int i = lo; i <= hi; ++i) {
    st += c.fit_time[i];
    sa += c.fit_angle[i];
    stt += c.fit_time[i] * c.fit_time[i];
    sta += c.fit_time[i] * c.fit_angle[i];
  }
  const double D = n * stt - st * st;
  if (D < 1e-6) return sa / n;
  const double slope = (n * sta - st * sa) / D;
  const double intercept = (stt * sa - sta * st) / D;
  if (rms) {
    double squares = 0;
    for (int i = lo; i <= hi; ++i) {
      const double e = c.fit_angle[i] - (slope * c.fit_time[i] + intercept);
      squares += e * e;
    }
    *rms = std::sqrt(squares / n);
  }
  return slope * t + intercept;
}

void ClassifyObject(Table& objects, int row) {
  const Settings& s = AppSettings();
  const double fastest = AnalysisContextAt(0).params.maxdps;
  std::lock_guard lock(objects.lock());
  const int pix = objects.Int(row, obj::kPix);
  const double sec = objects.Float(row, obj::kSec);
  const double av1 = objects.Float(row, obj::kAv1);
  const double cdeg = objects.Float(row, obj::kCdeg);
  // The start velocity comes from the first few samples: on a light that
  // stays where it is, their jitter alone can pass the slow limit. What
  // it moved from start to end over its duration cannot.
  const double net = sec > 0 ? Degrees(objects.Float(row, obj::kRa1), objects.Float(row, obj::kDc1),
                                       objects.Float(row, obj::kRa2), objects.Float(row, obj::kDc2)) /
                                   sec
                             : -1;
  // Start and end less than a pixel apart: a motion the centroids cannot
  // resolve from their jitter, whatever the angle a pixel spans.
  const bool resolved = std::hypot(objects.Float(row, obj::kX2) - objects.Float(row, obj::kX1),
                                   objects.Float(row, obj::kY2) - objects.Float(row, obj::kY1)) >=
                        1.0;
  const char* object_class = "spo";
  if (pix <= 0)
    object_class = "__none";
  else if (sec < s.c_tmin)
    object_class = pix > s.c_smax ? "__flash" : "__noise";
  else if (av1 > fastest)
    object_class = "__fast";
  else if (av1 < s.c_vmin || net < s.c_vmin || !resolved)
    object_class = "__slow";
  else if (cdeg > s.c_cmax)
    object_class = "__curve";
  objects.SetText(row, obj::kClass, object_class);
}

void TidyObjects(AnalysisContext& c) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  std::vector<int> non_meteors;
  bool any_meteor = false;
  {
    std::lock_guard lock(objects.lock());
    int steps = 0;
    for (int o = clips.Int(c.clip_row, clip::kOline); o >= 0;
         o = objects.Int(o, obj::kOlinenext)) {
      if (++steps > objects.count()) FatalError("oline link broken");
      if (IsNonMeteor(objects.Text(o, obj::kClass)))
        non_meteors.push_back(o);
      else
        any_meteor = true;
    }
  }
  // Only the non-meteors of a clip are nothing but noise: kept all then.
  if (!any_meteor || non_meteors.empty()) return;
  for (int o : non_meteors) RemoveObject(c, o);
  // The clip's class, magnitude and duration were the brightest object's,
  // which may have gone: the summary describes the objects kept, as the
  // scan's reading of the result file will.
  SummariseClipObjects(c.clip_row);
}

void RemoveObject(AnalysisContext& c, int object_row) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  int position = 0;
  {
    std::lock_guard lock(objects.lock());
    int previous = -1;
    int o = clips.Int(c.clip_row, clip::kOline);
    for (; o != object_row; o = objects.Int(o, obj::kOlinenext)) {
      // A chain that ends or loops before the row is reached is broken.
      if (o < 0 || position > objects.count()) FatalError("oline link broken");
      previous = o;
      ++position;
    }
    const int next = objects.Int(object_row, obj::kOlinenext);
    if (previous < 0)
      clips.SetInt(c.clip_row, clip::kOline, next);
    else
      objects.SetInt(previous, obj::kOlinenext, next);
    objects.DeleteRow(object_row);
  }

  // The chain runs in track order; a track store that holds another clip's
  // tracks (or fewer tracks) is left alone.
  if (c.track_clip_row == c.clip_row && position < c.track_count) {
    const Track& gone = c.tracks[position];
    for (int i = 0; i < gone.sample_count; ++i) c.Sample(gone.samples[i]).object = -1;
    for (int t = position + 1; t < c.track_count; ++t) {
      Track& moved = c.tracks[t - 1];
      moved = c.tracks[t];
      for (int i = 0; i < moved.sample_count; ++i) c.Sample(moved.samples[i]).object = t - 1;
    }
    --c.track_count;
  }
  c.current_object = clips.Int(c.clip_row, clip::kOline);
  clips.SetInt(c.clip_row, clip::kO, clips.Int(c.clip_row, clip::kO) - 1);
}

}  // namespace mr4
