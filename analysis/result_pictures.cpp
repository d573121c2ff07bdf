#include "analysis/result_pictures.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "analysis/measurement.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

struct Colour {
  std::uint8_t b, g, r;
};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kGreen{0, 255, 0};
constexpr Colour kRed{0, 0, 255};
constexpr Colour kCyan{255, 255, 0};
constexpr Colour kYellow{0, 255, 255};
constexpr Colour kWhite{255, 255, 255};

void Paint(DisplayPicture& p, int x, int y, Colour colour) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
  std::uint8_t* px = p.bgr.data() + (std::size_t(y) * p.width + x) * 3;
  px[0] = colour.b;
  px[1] = colour.g;
  px[2] = colour.r;
}

// Columns x0 .. x1 of row y, every `step`-th from x0.
void Row(DisplayPicture& p, int y, int x0, int x1, Colour colour, int step = 1) {
  for (int x = x0; x <= x1; x += step) Paint(p, x, y, colour);
}
void Column(DisplayPicture& p, int x, int y0, int y1, Colour colour) {
  for (int y = y0; y <= y1; ++y) Paint(p, x, y, colour);
}
void Fill(DisplayPicture& p, int x0, int x1, int y0, int y1, Colour colour) {
  for (int y = y0; y <= y1; ++y) Row(p, y, x0, x1, colour);
}

// A value to a pixel index, truncated toward zero; values far beyond any
// picture (or not a number) land outside it.
int Truncate(double v) {
  if (!(std::fabs(v) < 1e9)) return INT_MIN / 2;
  return static_cast<int>(v);
}

// A graph row kept inside the graph: below `bottom` gives bottom + 1, at
// or above `top` gives top - 1.
int GraphRow(double row, int bottom, int top) {
  const int r = Truncate(row);
  if (r < bottom) return bottom + 1;
  if (r >= top) return top - 1;
  return r;
}

// The left-hand frame ticks of a graph: 3 px every 20 rows from `bottom`,
// 10 px on `zero_row`.
void FrameTicks(DisplayPicture& p, int left, int bottom, int top, int zero_row) {
  for (int y = bottom; y <= top; y += 20) Row(p, y, left, left + 2, kGreen);
  Row(p, zero_row, left, left + 9, kGreen);
}

constexpr int kPhotoLeft = 20, kPhotoRight = 276, kGraphBottom = 10;

int FluxColumn(double lg) { return Truncate(kPhotoLeft + 64 * lg); }

}  // namespace

void DrawStarMarker(const AnalysisContext& c, DisplayPicture& p, double x, double y,
                    double mag) {
  const double refmag = c.profile.p_u4_refmag;
  const double m = refmag < 4.5 ? mag + (4.5 - refmag) : mag;
  const int ix = Truncate(x + 0.5), iy = Truncate(y + 0.5);
  const int W = p.width, H = p.height;
  Paint(p, ix, iy, kYellow);
  if (m < 4) {
    if (ix > 0) Paint(p, ix - 1, iy, kYellow);
    if (ix < W - 2) Paint(p, ix + 1, iy, kYellow);
    if (iy > 0) Paint(p, ix, iy - 1, kYellow);
    if (iy < H - 2) Paint(p, ix, iy + 1, kYellow);
  }
  if (m < 3) {
    if (ix > 1) Paint(p, ix - 2, iy, kYellow);
    if (ix < W - 3) Paint(p, ix + 2, iy, kYellow);
    if (iy > 1) Paint(p, ix, iy - 2, kYellow);
    if (iy < H - 3) Paint(p, ix, iy + 2, kYellow);
  }
  if (m < 2) {
    for (int dx : {-1, 1}) {
      if (dx < 0 ? ix <= 0 : ix >= W - 2) continue;
      if (iy > 0) Paint(p, ix + dx, iy - 1, kYellow);
      if (iy < H - 2) Paint(p, ix + dx, iy + 1, kYellow);
    }
  }
}

void DrawPhotometryGraph(const AnalysisContext& c, const StarCatalogue& catalogue,
                         bool lines, DisplayPicture& p) {
  if (c.stars.mask_stars.empty()) return;
  const CameraProfile& profile = c.profile;
  const double refmag = profile.p_u4_refmag;
  const int scale = refmag > 7 ? Truncate(refmag + 1) : 8;
  const int R = 20 * scale + 50;
  auto row_of = [R](double mag) { return R - 20 * (mag + 2); };

  Fill(p, kPhotoLeft, kPhotoRight - 1, kGraphBottom, R - 1, kBlack);
  const int mim_row = Truncate(row_of(profile.minm));
  const int step = mim_row < R ? 1 : 2;
  Row(p, kGraphBottom, kPhotoLeft, kPhotoRight - 1, kGreen, step);
  Row(p, R, kPhotoLeft, kPhotoRight - 1, kGreen, step);
  Column(p, kPhotoLeft, kGraphBottom, R - 1, kGreen);
  Column(p, kPhotoRight, kGraphBottom, R - 1, kGreen);
  FrameTicks(p, kPhotoLeft, kGraphBottom, R, R - 40);
  Column(p, Truncate(kPhotoLeft + 0.5 + 64 * std::log10(255.0)), kGraphBottom,
         kGraphBottom + 9, kGreen);

  if (lines) {
    if (mim_row > kGraphBottom && mim_row < R)
      Row(p, mim_row, kPhotoLeft, kPhotoRight - 1, kGreen);
    if (profile.minl >= 1) {
      const int min_column = FluxColumn(std::log10(double(profile.minl)));
      if (min_column >= 21 && min_column <= 275)
        Column(p, min_column, kGraphBottom, R - 1, kGreen);
    }
    for (double f = 1; f < 10000; f *= 1.05)
      Paint(p, FluxColumn(std::log10(f)),
            GraphRow(row_of(SampleMagnitude(profile, f)), kGraphBottom, R), kGreen);
  }

  for (const MaskStar& s : c.stars.mask_stars) {
    if (s.link < 0 || s.link >= catalogue.count) continue;
    const int column = std::clamp(FluxColumn(s.lgL), kPhotoLeft, kPhotoRight - 1);
    const double mag = EffectiveMagnitude(catalogue, profile, s.link);
    const double index = catalogue.colour[s.link];
    const Colour colour = index < 0.5 ? kCyan : index > 1.0 ? kRed : kWhite;
    Paint(p, column, GraphRow(row_of(mag), kGraphBottom, R), colour);
  }
}

void DrawLightCurve(const AnalysisContext& c, int selected_track, DisplayPicture& p) {
  if (c.track_count < 1) return;
  int F0 = INT_MAX, F1 = INT_MIN;
  for (int t = 0; t < c.track_count; ++t) {
    const Track& track = c.tracks[t];
    if (track.sample_count < 1) return;
    F0 = std::min(F0, c.detections[track.samples[0]].field);
    F1 = std::max(F1, c.detections[track.samples[track.sample_count - 1]].field);
  }
  if (F1 < 5) return;
  const double refmag = c.profile.p_u4_refmag;
  const int depth = refmag - 2 > 5 ? Truncate(refmag - 2) : 5;
  const int R = 20 * depth + 110;
  const int Fe = std::min(F1, F0 + 256);
  constexpr int kLeft = 280;
  const int K = Fe - F0 + 320;

  Fill(p, kLeft, K - 1, kGraphBottom, R - 1, kBlack);
  Row(p, kGraphBottom, kLeft, K - 1, kGreen);
  Row(p, R, kLeft, K - 1, kGreen);
  Column(p, kLeft, kGraphBottom, R - 1, kGreen);
  Column(p, K, kGraphBottom, R - 1, kGreen);
  FrameTicks(p, kLeft, kGraphBottom, R, R - 100);

  for (int t = 0; t < c.track_count; ++t) {
    if (selected_track >= 0 && t != selected_track) continue;
    const Track& track = c.tracks[t];
    if (track.sample_count < 2) continue;
    for (int i = 0; i < track.sample_count; ++i) {
      const Detection& s = c.detections[track.samples[i]];
      if (s.field > Fe) continue;
      const double mag = SampleMagnitude(c.profile, s.Lsum);
      Paint(p, 300 + s.field - F0, GraphRow(R - 20 * (mag + 5), kGraphBottom, R), kYellow);
    }
  }
}

void DrawResidualGraph(const AnalysisContext& c, DisplayPicture& p) {
  if (c.stars.mask_stars.empty()) return;
  const int W = p.width, H = p.height;
  const int half = W / 2;
  const int B = H - 205, L = half - 4, E = 2 * half - 4;
  const int middle = H - 105, top = H - 5;

  Fill(p, L, E - 1, B, H - 6, kBlack);
  Row(p, B, L, E - 1, kRed);
  Row(p, middle, L, E - 1, kGreen);
  Row(p, top, L, E - 1, kGreen);
  Column(p, L, B, H - 6, kCyan);
  Column(p, E, B, H - 6, kRed);
  for (int x = L; x <= E; x += 20) {
    Column(p, x, H - 107, H - 103, kGreen);
    Column(p, x, H - 207, H - 203, kRed);
  }
  for (int y = B; y <= top; y += 50) Row(p, y, L, half - 2, kGreen);
  for (int y = B; y <= top; y += 20) Row(p, y, E - 3, E, kRed);

  for (const MaskStar& s : c.stars.mask_stars) {
    if (s.link < 0) continue;
    const int x = L + Truncate(s.radius);
    const int angle_row = Truncate(B + 200 * s.ddeg);
    const int radial_row = Truncate(middle + 50 * s.radial_residual);
    if (angle_row >= B && angle_row <= top) Paint(p, x, angle_row, kRed);
    if (radial_row >= B && radial_row <= top) Paint(p, x, radial_row, kGreen);
  }
}

namespace {

// The mask page's colour of one pixel: `code` the mask code, `level` the
// brightness, `mark` the red marker.
void ResultPixel(std::uint8_t* px, int code, int level, int mark, bool hits_all) {
  if (code & 2) {
    const int c = std::min(level + mark, 255);
    px[0] = static_cast<std::uint8_t>((c + 50) / 3);
    px[1] = static_cast<std::uint8_t>((c + 200) / 3);
    px[2] = static_cast<std::uint8_t>((c + 50) / 3);
  } else if (code >= 16) {
    px[0] = 255;
    px[1] = px[2] = static_cast<std::uint8_t>(level / 2);
  } else if (code & 4) {
    const auto c = static_cast<std::uint8_t>(std::min(level + 20, 255));
    px[0] = px[1] = c;
    px[2] = static_cast<std::uint8_t>(level);
  } else {
    px[0] = px[1] = px[2] = static_cast<std::uint8_t>(level);
    if (mark == 255 || (mark != 0 && hits_all)) {
      px[0] = px[1] = 255;
    } else if (mark != 0) {
      px[0] = px[2] = 120;
    }
  }
}

// A plus of arms `arm` at (x, y) in the red channel only.
void RedCross(DisplayPicture& p, int x, int y, int arm, std::uint8_t value) {
  for (int d = -arm; d <= arm; ++d) {
    for (const auto& [px, py] : {std::pair{x + d, y}, std::pair{x, y + d}}) {
      if (px < 0 || py < 0 || px >= p.width || py >= p.height) continue;
      p.bgr[(std::size_t(py) * p.width + px) * 3 + 2] = value;
    }
  }
}

void SquareOutline(DisplayPicture& p, int x, int y, int half, Colour colour) {
  Row(p, y - half, x - half, x + half, colour);
  Row(p, y + half, x - half, x + half, colour);
  Column(p, x - half, y - half, y + half, colour);
  Column(p, x + half, y - half, y + half, colour);
}

// Mask stars: unlinked ones a faint red cross, linked ones a red line to
// their predicted position and a full cross; those beyond two deviations
// in daz or dev a square, the one with the largest pixel residual a larger
// one.
void DrawMaskStarMarks(const AnalysisContext& c, DisplayPicture& p) {
  const std::vector<MaskStar>& stars = c.stars.mask_stars;
  double sum_az = 0, sum_ev = 0, sq_az = 0, sq_ev = 0;
  int linked = 0;
  for (const MaskStar& s : stars) {
    if (s.link < 0) continue;
    ++linked;
    sum_az += s.daz;
    sum_ev += s.dev;
    sq_az += s.daz * s.daz;
    sq_ev += s.dev * s.dev;
  }
  const double mean_az = linked ? sum_az / linked : 0, mean_ev = linked ? sum_ev / linked : 0;
  const double sd_az = linked ? std::sqrt(std::max(sq_az / linked - mean_az * mean_az, 0.0)) : 0;
  const double sd_ev = linked ? std::sqrt(std::max(sq_ev / linked - mean_ev * mean_ev, 0.0)) : 0;
  int worst = -1;
  double worst_pixels = -1;
  for (int i = 0; i < static_cast<int>(stars.size()); ++i) {
    const MaskStar& s = stars[static_cast<std::size_t>(i)];
    const int x = Truncate(s.x), y = Truncate(s.y);
    if (s.link < 0) {
      RedCross(p, x, y, 3, 80);
      continue;
    }
    const int tx = Truncate(s.predicted_x), ty = Truncate(s.predicted_y);
    const int steps = std::max(std::abs(tx - x), std::abs(ty - y));
    for (int k = 0; k <= steps; ++k) {
      const double t = steps ? double(k) / steps : 0;
      Paint(p, Truncate(x + (tx - x) * t + 0.5), Truncate(y + (ty - y) * t + 0.5), kRed);
    }
    RedCross(p, x, y, 3, 255);
    if (std::fabs(s.daz - mean_az) > 2 * sd_az || std::fabs(s.dev - mean_ev) > 2 * sd_ev) {
      SquareOutline(p, x, y, 5, Colour{0, 150, 0});
    }
    const double pixels = std::hypot(s.x - s.predicted_x, s.y - s.predicted_y);
    if (pixels > worst_pixels) {
      worst_pixels = pixels;
      worst = i;
    }
  }
  if (worst >= 0) {
    const MaskStar& s = stars[static_cast<std::size_t>(worst)];
    SquareOutline(p, Truncate(s.x), Truncate(s.y), 7, Colour{0, 0, 250});
  }
}

}  // namespace

void ComposeResultPicture(const ResultPictureSource& source, const MaskPageSwitches& switches,
                          std::vector<std::uint8_t>& bgr) {
  const AnalysisContext& c = *source.context;
  const int W = std::max(c.width, 0), H = std::max(c.height, 0);
  const std::size_t pixels = std::size_t(W) * H;
  bgr.assign(pixels * 3, 0);
  DisplayPicture p{bgr, W, H};
  if (pixels == 0) return;
  const bool hits_all = source.parallel && switches.hits;
  for (std::size_t i = 0; i < pixels; ++i) {
    const float b = c.background ? c.background[i] : 0.0f;
    const int level = b <= 0 ? 0 : b >= 255 ? 255 : static_cast<int>(b);
    ResultPixel(&bgr[i * 3], c.mask ? c.mask[i] : 0, level, c.marker ? c.marker[i] : 0, hits_all);
  }

  // Every detection of the run; a fitted sample in red, the others yellow.
  if (c.detections) {
    for (int field = 0; field < kMaxFields; ++field) {
      const int count = std::min(c.detection_count[static_cast<std::size_t>(field)],
                                 kDetectionsPerField);
      for (int n = 0; n < count; ++n) {
        const Detection& d = c.detections[std::size_t(field) * kDetectionsPerField + n];
        DrawDetectionMark(p, d.x, d.y, d.pass ? d.object : -1);
      }
    }
  }
  const Table& objects = Tables().obj;
  if (c.clip_row >= 0 && c.current_object >= 0 && objects.Exists(c.current_object)) {
    DrawTrailLine(p, objects.Float(c.current_object, obj::kX1),
                  objects.Float(c.current_object, obj::kY1),
                  objects.Float(c.current_object, obj::kX2),
                  objects.Float(c.current_object, obj::kY2),
                  objects.Text(c.current_object, obj::kClass));
  }
  if (switches.stars && source.visible) {
    VisibleStars placed = *source.visible;  // placed with this context's camera
    RefreshVisibleStars(c.profile, placed,
                        [&](double x, double y, float mag) { DrawStarMarker(c, p, x, y, mag); });
  }
  if (switches.stars || !source.parallel_running) DrawMaskStarMarks(c, p);
  if (switches.graphs) {
    if (source.catalogue) DrawPhotometryGraph(c, *source.catalogue, switches.graph_lines, p);
    DrawLightCurve(c, -1, p);
  }
  if (switches.residuals) DrawResidualGraph(c, p);
  const int ox = Truncate(W / 2 + c.profile.p_dx), oy = Truncate(H / 2 + c.profile.p_dy);
  Row(p, oy, ox - 5, ox + 5, kCyan);
  Column(p, ox, oy - 5, oy + 5, kCyan);
}

}  // namespace mr4
