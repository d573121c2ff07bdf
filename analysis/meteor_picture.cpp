#include "analysis/meteor_picture.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <mutex>
#include <string_view>

#include "analysis/detector.h"
#include "analysis/measurement.h"
#include "analysis/result_file.h"
#include "calib/profile_file.h"
#include "clips/clip_files.h"
#include "clips/clip_scan.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr PlotColour kPanelColour{20, 20, 20};
constexpr PlotColour kPlotColour{0, 0, 0};
constexpr PlotColour kGridColour{60, 60, 60};

// The plot area's margins inside the panel [px].
constexpr int kPlotLeftMargin = 52;
constexpr int kPlotRightMargin = 16;
constexpr int kPlotTopMargin = 44;
constexpr int kPlotBottomMargin = 40;
constexpr int kTickLength = 4;

// `value` with `digits` decimals, whatever the process locale.
std::string Fixed(double value, int digits) {
  char text[32];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits);
  if (ec != std::errc()) return "?";
  std::string s(text, end);
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) {
    if (s[0] == '-') s.erase(0, 1);
  }
  return s;
}

// Decimals enough to tell ticks `step` apart.
int DigitsOf(double step) {
  int digits = 0;
  while (digits < 3 && std::fabs(step * std::pow(10.0, digits) -
                                 std::round(step * std::pow(10.0, digits))) > 1e-6) {
    ++digits;
  }
  return digits;
}

// Pixel (x, row) with the row counted from the top.
void PutTop(DisplayPicture& p, int x, int row, PlotColour colour) {
  PutPixel(p, x, p.height - 1 - row, colour);
}

void FillTop(DisplayPicture& p, int left, int right, int top, int bottom, PlotColour colour) {
  for (int row = top; row <= bottom; ++row) {
    for (int x = left; x <= right; ++x) PutTop(p, x, row, colour);
  }
}

// A straight line between two points (rows from the top).
void LineTop(DisplayPicture& p, int x0, int r0, int x1, int r1, PlotColour colour) {
  const int steps = std::max(std::abs(x1 - x0), std::abs(r1 - r0));
  for (int i = 0; i <= steps; ++i) {
    const double f = steps == 0 ? 0 : double(i) / steps;
    PutTop(p, static_cast<int>(std::lround(x0 + f * (x1 - x0))),
           static_cast<int>(std::lround(r0 + f * (r1 - r0))), colour);
  }
}

int TextWidth(std::string_view text) { return static_cast<int>(text.size()) * kGlyphAdvance - 1; }

// A ring around a star, larger for brighter stars, leaving the star seen.
void DrawStarRing(DisplayPicture& p, double x, double y, double mag) {
  const double radius = mag < 1 ? 6 : mag < 2.5 ? 5 : 4;
  const int points = static_cast<int>(8 * radius);
  for (int i = 0; i < points; ++i) {
    const double a = 2 * M_PI * i / points;
    PutPixel(p, static_cast<int>(std::floor(x + radius * std::cos(a))),
             static_cast<int>(std::floor(y + radius * std::sin(a))), kMeteorStarColour);
  }
}

// The fitted trail as a dashed line, so that the meteor shows between the
// dashes, with the object's number beside its start.
void DrawFittedTrail(DisplayPicture& p, const MeteorObject& o, int number, bool selected) {
  const PlotColour colour = selected ? kMeteorTrailColour : kMeteorOtherTrailColour;
  const double length = std::hypot(o.x2 - o.x1, o.y2 - o.y1);
  const int steps = std::max(1, static_cast<int>(std::ceil(length)));
  for (int i = 0; i <= steps; ++i) {
    if ((i / 4) % 2 != 0) continue;
    const double f = double(i) / steps;
    PutPixel(p, static_cast<int>(std::floor(o.x1 + f * (o.x2 - o.x1))),
             static_cast<int>(std::floor(o.y1 + f * (o.y2 - o.y1))), colour);
  }
  // The number away from the trail, on the side its start lies.
  const double ux = length > 0 ? (o.x1 - o.x2) / length : -1;
  const double uy = length > 0 ? (o.y1 - o.y2) / length : 0;
  const int cx = static_cast<int>(std::floor(o.x1 + 10 * ux));
  const int cy = static_cast<int>(std::floor(o.y1 + 10 * uy));
  const std::string label = std::to_string(number);
  DrawText(p, cx - TextWidth(label) / 2, p.height - 1 - cy - kGlyphHeight / 2, label, colour);
}

void DrawStill(const MeteorPictureSource& source, DisplayPicture& p) {
  if (source.profile && source.catalogue) {
    VisibleStars visible;
    BuildVisibleStars(*source.catalogue, *source.profile, visible);
    RefreshVisibleStars(*source.profile, visible,
                        [&](double x, double y, float mag) { DrawStarRing(p, x, y, mag); });
  }
  for (std::size_t k = 0; k < source.objects.size(); ++k) {
    DrawFittedTrail(p, source.objects[k], static_cast<int>(k) + 1,
                    static_cast<int>(k) == source.selected);
  }
  if (!source.trail) return;
  const AnalysisContext& c = *source.trail;
  const int tracks = std::min<int>(c.track_count, static_cast<int>(source.objects.size()));
  for (int k = 0; k < tracks; ++k) {
    const Track& t = c.tracks[k];
    for (int i = 0; i < t.sample_count; ++i) {
      const Detection& s = c.detections[t.samples[i]];
      DrawDetectionMark(p, s.x, s.y, k);
    }
  }
}

struct CurvePoint {
  double t = 0;
  double mag = 0;
};

std::vector<CurvePoint> CurvePoints(const MeteorPictureSource& source) {
  std::vector<CurvePoint> points;
  if (!source.trail || !source.profile) return points;
  const AnalysisContext& c = *source.trail;
  if (source.selected < 0 || source.selected >= c.track_count) return points;
  const Track& t = c.tracks[source.selected];
  if (t.sample_count < 1) return points;
  const int first = c.detections[t.samples[0]].field;
  const double rate = source.field_rate > 0 ? source.field_rate : 29.97;
  for (int i = 0; i < t.sample_count; ++i) {
    const Detection& s = c.detections[t.samples[i]];
    points.push_back({(s.field - first) / rate, SampleMagnitude(*source.profile, s.Lsum)});
  }
  return points;
}

// The light curve in the panel whose left column is `x0`.
void DrawLightCurvePanel(const MeteorPictureSource& source, int x0, DisplayPicture& p,
                         LightCurveFrame& frame) {
  FillTop(p, x0, x0 + kMeteorPanelWidth - 1, 0, p.height - 1, kPanelColour);
  frame.left = x0 + kPlotLeftMargin;
  frame.right = x0 + kMeteorPanelWidth - 1 - kPlotRightMargin;
  frame.top = kPlotTopMargin;
  frame.bottom = p.height - 1 - kPlotBottomMargin;
  const std::vector<CurvePoint> points = CurvePoints(source);

  DrawText(p, x0 + 8, 6, source.caption, kMeteorTextColour);
  std::string second;
  if (source.selected >= 0 && source.selected < static_cast<int>(source.objects.size())) {
    const MeteorObject& o = source.objects[static_cast<std::size_t>(source.selected)];
    second = "object " + std::to_string(source.selected + 1) + "/" +
             std::to_string(source.objects.size()) + " " + o.object_class;
  }
  double t_end = 0;
  if (!points.empty()) {
    const auto peak = std::min_element(points.begin(), points.end(),
                                       [](const CurvePoint& a, const CurvePoint& b) {
                                         return a.mag < b.mag;
                                       });
    t_end = points.back().t;
    second += "  peak " + Fixed(peak->mag, 1) + " mag at " + Fixed(peak->t, 2) + " s";
  }
  DrawText(p, x0 + 8, 18, second, kMeteorTextColour);

  // Scales: whole magnitudes, bright at the top; seconds from the first
  // sample to a tick at or after the last.
  double lo = 0, hi = 1;
  if (!points.empty()) {
    lo = hi = points.front().mag;
    for (const CurvePoint& q : points) {
      lo = std::min(lo, q.mag);
      hi = std::max(hi, q.mag);
    }
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi - lo < 1) hi = lo + 1;
  }
  const double rate = source.field_rate > 0 ? source.field_rate : 29.97;
  const double t_step = AxisTickStep(std::max(t_end, 1 / rate), 6);
  frame.t_first = 0;
  frame.t_last = std::max(t_step, std::ceil(t_end / t_step - 1e-9) * t_step);
  frame.mag_top = lo;
  frame.mag_bottom = hi;
  const auto column = [&](double t) {
    return static_cast<int>(std::lround(frame.left + (t - frame.t_first) /
                                                         (frame.t_last - frame.t_first) *
                                                         (frame.right - frame.left)));
  };
  const auto row = [&](double mag) {
    return static_cast<int>(std::lround(frame.top + (mag - frame.mag_top) /
                                                        (frame.mag_bottom - frame.mag_top) *
                                                        (frame.bottom - frame.top)));
  };

  FillTop(p, frame.left, frame.right, frame.top, frame.bottom, kPlotColour);
  const double m_step = AxisTickStep(hi - lo, 6);
  const int m_digits = DigitsOf(m_step);
  for (double m = lo; m <= hi + 1e-9; m += m_step) {
    const int r = row(m);
    for (int x = frame.left + 2; x < frame.right; x += 3) PutTop(p, x, r, kGridColour);
    LineTop(p, frame.left - kTickLength, r, frame.left, r, kMeteorAxisColour);
    const std::string label = Fixed(m, m_digits);
    DrawText(p, frame.left - kTickLength - 3 - TextWidth(label), r - kGlyphHeight / 2, label,
             kMeteorTextColour);
  }
  const int t_digits = DigitsOf(t_step);
  for (double t = 0; t <= frame.t_last + 1e-9; t += t_step) {
    const int x = column(t);
    LineTop(p, x, frame.bottom, x, frame.bottom + kTickLength, kMeteorAxisColour);
    const std::string label = Fixed(t, t_digits);
    DrawText(p, x - TextWidth(label) / 2, frame.bottom + kTickLength + 3, label,
             kMeteorTextColour);
  }
  LineTop(p, frame.left, frame.top, frame.right, frame.top, kMeteorAxisColour);
  LineTop(p, frame.left, frame.bottom, frame.right, frame.bottom, kMeteorAxisColour);
  LineTop(p, frame.left, frame.top, frame.left, frame.bottom, kMeteorAxisColour);
  LineTop(p, frame.right, frame.top, frame.right, frame.bottom, kMeteorAxisColour);
  DrawText(p, x0 + 8, frame.top - 13, "mag", kMeteorTextColour);
  const std::string t_title = "t [s]";
  DrawText(p, frame.right - TextWidth(t_title), frame.bottom + kTickLength + 16, t_title,
           kMeteorTextColour);

  if (points.empty()) {
    const std::string none = "no samples";
    DrawText(p, (frame.left + frame.right - TextWidth(none)) / 2, (frame.top + frame.bottom) / 2,
             none, kMeteorTextColour);
    return;
  }
  for (std::size_t i = 1; i < points.size(); ++i) {
    LineTop(p, column(points[i - 1].t), row(points[i - 1].mag), column(points[i].t),
            row(points[i].mag), kMeteorCurveLineColour);
  }
  for (const CurvePoint& q : points) {
    const int x = column(q.t), r = row(q.mag);
    FillTop(p, x - 1, x + 1, r - 1, r + 1, kMeteorCurvePointColour);
  }
}

double RowFieldRate(const Table& clips, int row) {
  double fps = clips.Float(row, clip::kFps);
  if (fps <= 0.1) {
    const int h = clips.Int(row, clip::kCy);
    fps = (h == 240 || h == 480 || h == 1080) ? 29.97 : 25.0;
  }
  return clips.Int(row, clip::kInterlaced) ? 2 * fps : fps;
}

}  // namespace

double AxisTickStep(double span, int ticks) {
  if (!(span > 0) || ticks < 1) return 1;
  const double raw = span / ticks;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 2.5, 5.0}) {
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  }
  return 10 * power;
}

void DrawMeteorPicture(const MeteorPictureSource& source, MeteorPicture& picture) {
  int w = source.still ? source.still->width : 0;
  int h = source.still ? source.still->height : 0;
  const bool have_still = w > 0 && h > 0;
  if (!have_still) {
    w = source.profile ? source.profile->cx : 720;
    h = source.profile ? source.profile->cy : 480;
  }
  std::vector<std::uint8_t> still(static_cast<std::size_t>(w) * h * 3, 0);
  if (have_still) {
    std::copy_n(source.still->pixels.begin(), still.size(), still.begin());
  }
  DisplayPicture still_view{still, w, h};
  DrawStill(source, still_view);

  picture.still_width = w;
  picture.still_height = h;
  picture.width = w + kMeteorPanelWidth;
  picture.height = std::max(h, kMeteorPanelMinHeight);
  picture.bgr.assign(static_cast<std::size_t>(picture.width) * picture.height * 3, 0);
  // The still at the top: its bottom row lies height - h rows up.
  const std::size_t row_bytes = static_cast<std::size_t>(w) * 3;
  for (int r = 0; r < h; ++r) {
    std::copy_n(still.begin() + static_cast<std::ptrdiff_t>(r * row_bytes), row_bytes,
                picture.bgr.begin() + static_cast<std::ptrdiff_t>(
                                          (static_cast<std::size_t>(r + picture.height - h) *
                                           picture.width) * 3));
  }
  DisplayPicture view{picture.bgr, picture.width, picture.height};
  DrawLightCurvePanel(source, w, view, picture.curve);
}

std::filesystem::path PeakHoldStillPath(int clip_row) {
  const int mt = Tables().clip.Int(clip_row, clip::kMT);
  for (int kind : {kKindPeakBmp, kKindPeakJpg}) {
    if (!(mt & KindBit(kind))) continue;
    std::filesystem::path path = ClipFilePath(clip_row, kind);
    if (!path.empty()) return path;
  }
  return {};
}

MeteorPictureStatus ReadClipMeteor(int clip_row, int object, AnalysisContext& c,
                                   ClipMeteor& meteor) {
  const Table& clips = Tables().clip;
  meteor.object_count = 0;
  std::error_code ec;
  if (!(clips.Int(clip_row, clip::kMT) & KindBit(kKindResult)) ||
      !std::filesystem::exists(ResultFilePath(clips, clip_row), ec)) {
    return MeteorPictureStatus::kNoResult;
  }
  if (!ReadResultTrail(c, clip_row)) return MeteorPictureStatus::kUnreadable;

  MeteorPictureSource& source = meteor.source;
  source = MeteorPictureSource{};
  {
    Table& objects = Tables().obj;
    std::lock_guard lock(objects.lock());
    int steps = 0;
    for (int o = clips.Int(clip_row, clip::kOline); o >= 0 && steps++ <= objects.count();
         o = objects.Int(o, obj::kOlinenext)) {
      MeteorObject m;
      m.x1 = objects.Float(o, obj::kX1);
      m.y1 = objects.Float(o, obj::kY1);
      m.x2 = objects.Float(o, obj::kX2);
      m.y2 = objects.Float(o, obj::kY2);
      m.object_class = std::string(objects.Text(o, obj::kClass));
      m.magnitude = objects.Float(o, obj::kMag);
      source.objects.push_back(std::move(m));
    }
  }
  const int count = static_cast<int>(source.objects.size());
  meteor.object_count = count;
  if (count == 0 || object < 0 || object > count) return MeteorPictureStatus::kNoObject;
  if (object > 0) {
    source.selected = object - 1;
  } else {
    // The brightest meteor; the brightest object when none is a meteor.
    int best = -1, brightest = 0;
    for (int k = 0; k < count; ++k) {
      const MeteorObject& m = source.objects[static_cast<std::size_t>(k)];
      if (m.magnitude < source.objects[static_cast<std::size_t>(brightest)].magnitude) {
        brightest = k;
      }
      const bool is_meteor = m.object_class.empty() || m.object_class[0] != '_';
      if (is_meteor &&
          (best < 0 || m.magnitude < source.objects[static_cast<std::size_t>(best)].magnitude)) {
        best = k;
      }
    }
    source.selected = best >= 0 ? best : brightest;
  }

  meteor.profile = std::make_unique<CameraProfile>();
  LoadProfileFromRecord(clips, clip_row, false, *meteor.profile);
  source.profile = meteor.profile.get();
  source.catalogue = &StarMap();
  source.trail = &c;
  source.field_rate = RowFieldRate(clips, clip_row);
  source.caption = std::string(clips.Text(clip_row, clip::kClipName));
  return MeteorPictureStatus::kReady;
}

}  // namespace mr4
