#include "analysis/detector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>

#include "analysis/trail_fit.h"
#include "astro/sky_coordinates.h"

namespace mr4 {
namespace {

std::span<std::uint8_t> Plane(AnalysisContext& c, std::uint8_t* p) {
  return {p, std::size_t(c.width) * std::size_t(c.height)};
}

void ClearBandCounts(AnalysisContext& c) {
  for (auto& b : c.band_counts) {
    b.a.fill(0);
    b.b.fill(0);
    b.lit = 0;
  }
}

// First row of `band` that belongs to the field of `parity`. Bands may start
// on a row of either parity.
int FirstFieldRow(const AnalysisContext& c, int band, int parity) {
  int row = c.BandBegin(band);
  if (c.line_step == 2 && (row & 1) != parity) ++row;
  return row;
}

struct Labeller {
  AnalysisContext& c;
  int W;

  void AddNew(int q, int k) {
    RegionStats& r = c.regions[k];
    const int x = q % W, y = q / W;
    c.label[q] = static_cast<std::uint16_t>(k);
    if (r.count == 0) {
      r.first_x = static_cast<std::uint16_t>(x);
      r.first_y = static_cast<std::uint16_t>(y);
    } else {
      const int last = r.last_y * W + r.last_x;
      c.link_x[last] = static_cast<std::uint16_t>(x);
      c.link_y[last] = static_cast<std::uint16_t>(y);
    }
    r.last_x = static_cast<std::uint16_t>(x);
    r.last_y = static_cast<std::uint16_t>(y);
    ++r.count;
    r.min_x = std::min(r.min_x, x);
    r.max_x = std::max(r.max_x, x);
    r.min_y = std::min(r.min_y, y);
    r.max_y = std::max(r.max_y, y);
    const int s = c.current[q];
    if (s >= c.saturation) ++r.saturated;
    r.peak = std::max(r.peak, s);
  }

  void Add(int q, int k) {
    if (c.marker[q] < 121) c.marker[q] = 120;
    const int j = c.label[q];
    if (j == k) return;
    if (j == 0) {
      AddNew(q, k);
      return;
    }
    // Absorb region j: walk its chain, re-adding every pixel to k.
    RegionStats& rj = c.regions[j];
    const int last = rj.last_y * W + rj.last_x;
    int p = rj.first_y * W + rj.first_x;
    for (;;) {
      const int next = c.link_y[p] * W + c.link_x[p];
      c.label[p] = 0;
      AddNew(p, k);
      if (p == last) break;
      p = next;
    }
    RegionStats& rk = c.regions[k];
    rk.min_x = std::min(rk.min_x, rj.min_x);
    rk.max_x = std::max(rk.max_x, rj.max_x);
    rk.min_y = std::min(rk.min_y, rj.min_y);
    rk.max_y = std::max(rk.max_y, rj.max_y);
    rk.peak = std::max(rk.peak, rj.peak);
    rj.count = 0;
  }
};

void StartRegion(RegionStats& r) {
  r = RegionStats{0, 0, 0, 0, 0, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 0, 0};
}

}  // namespace

void ExtractBackground(AnalysisContext& c, const FrameGeometry& geometry,
                       std::span<const std::uint8_t> source,
                       const YuvTables& tables) {
  ClearBandCounts(c);
  const bool count_increases = c.field_counter > c.clip.interlaced + 1;
  auto job = [&](int band) {
    const int b = c.BandBegin(band), e = c.BandEnd(band);
    if (b >= e) return;
    ToGreenPlane(geometry, source, b, e, Plane(c, c.current), tables);
    auto& hist = c.band_counts[band].a;
    const std::size_t begin = std::size_t(b) * c.width, end = std::size_t(e) * c.width;
    const std::uint8_t* cur = c.current;
    const std::uint8_t* prev = c.previous;
    const std::uint8_t* mask = c.mask;
    float* bg = c.background;
    for (std::size_t p = begin; p < end; ++p) {
      const int s = cur[p];
      bg[p] += static_cast<float>(s);
      if (count_increases && mask[p] == 0 && s >= prev[p]) ++hist[s - prev[p]];
    }
  };
  c.pool->Run(job);
  for (const auto& b : c.band_counts)
    for (int i = 0; i < 256; ++i) c.background_histogram[i] += b.a[i];
}

void ExtractDetection(AnalysisContext& c, const FrameGeometry& geometry,
                      std::span<const std::uint8_t> source,
                      const YuvTables& tables) {
  auto job = [&](int band) {
    const int b = c.BandBegin(band), e = c.BandEnd(band);
    if (b >= e) return;
    ToGreenPlane(geometry, source, b, e, Plane(c, c.current), tables);
    std::memset(c.label + std::size_t(b) * c.width, 0,
                std::size_t(e - b) * c.width * sizeof(std::uint16_t));
  };
  c.pool->Run(job);
}

void FinishBackground(AnalysisContext& c) {
  if (c.background_count <= 0) return;
  std::int64_t sum = 0;
  for (int n = 255; n >= 1; --n) {
    sum += c.background_histogram[n];
    if (sum > 40) {
      c.noise_level = n + c.params.dlo;
      break;
    }
  }
  const float count = static_cast<float>(c.background_count);
  const std::size_t pixels = std::size_t(c.width) * c.height;
  for (std::size_t p = 0; p < pixels; ++p) c.background[p] /= count;
  c.background_count = 0;
}

void ProcessField(AnalysisContext& c, int parity) {
  const int W = c.width, H = c.height, step = c.line_step;
  c.changed_histogram.fill(0);
  c.difference_histogram.fill(0);
  ClearBandCounts(c);

  // Difference against the background, with its histograms. The row is
  // first differenced in a branch-free loop (vectorised), then counted into
  // four interleaved histograms so that runs of equal levels do not wait on
  // one counter. Level 0 is not counted: no threshold reads it.
  auto difference = [&](int band) {
    auto& changed = c.band_counts[band].a;
    auto& diff_hist = c.band_counts[band].b;
    std::uint32_t part[4][256];
    std::memset(part, 0, sizeof part);
    const int W = c.width;  // a local: byte stores cannot alias it
    const int end = c.BandEnd(band);
    for (int y = FirstFieldRow(c, band, parity); y < end; y += step) {
      const std::size_t row = std::size_t(y) * W;
      const std::uint8_t* __restrict cur = c.current + row;
      const std::uint8_t* __restrict mask = c.mask + row;
      const float* __restrict bg = c.background + row;
      std::uint8_t* __restrict diff = c.difference + row;
      // Truncation toward zero after clamping at 0 equals clamping the
      // truncated value: both give 0 for every negative difference.
      for (int x = 0; x < W; ++x) {
        float f = static_cast<float>(cur[x]) - bg[x];
        f = f < 0.0f ? 0.0f : f;
        const int d = static_cast<int>(f);
        diff[x] = static_cast<std::uint8_t>(mask[x] ? 0 : d);
      }
      int x = 0;
      bool any_changed = false;
      for (; x + 4 <= W; x += 4) {
        const int d0 = diff[x], d1 = diff[x + 1], d2 = diff[x + 2], d3 = diff[x + 3];
        ++part[0][d0];
        ++part[1][d1];
        ++part[2][d2];
        ++part[3][d3];
        any_changed |= (d0 > 100) | (d1 > 100) | (d2 > 100) | (d3 > 100);
      }
      for (; x < W; ++x) {
        ++part[0][diff[x]];
        any_changed |= diff[x] > 100;
      }
      if (any_changed)
        for (x = 0; x < W; ++x)
          if (diff[x] > 100) ++changed[cur[x]];
    }
    for (int i = 1; i < 256; ++i)
      diff_hist[i] = std::int64_t{part[0][i]} + part[1][i] + part[2][i] + part[3][i];
  };
  c.pool->Run(difference);
  for (const auto& b : c.band_counts)
    for (int i = 0; i < 256; ++i) {
      c.changed_histogram[i] += b.a[i];
      c.difference_histogram[i] += b.b[i];
    }

  // Thresholds. Level 0 holds every unchanged pixel and is not summed, so
  // that a field with fewer than five changed pixels keeps thrC at 256.
  c.top = 0;
  c.top_count = 0;
  for (int n = 255; n >= 0; --n)
    if (c.changed_histogram[n] != 0) {
      c.top = n;
      c.top_count = static_cast<int>(c.changed_histogram[n]);
      break;
    }
  c.thrC = 256;
  std::int64_t sum = 0;
  for (int n = 255; n >= 1; --n) {
    sum += c.difference_histogram[n];
    if (sum > 4) {
      c.thrC = n + c.params.dlo;
      break;
    }
  }
  c.thrA = std::max(c.top - 4, 200);
  c.thrB = c.noise_level;

  // Lit pixels keep their difference; the others get 0.
  const bool strict = c.top == c.saturation && c.top_count >= 10;
  auto light = [&](int band) {
    std::int64_t lit = 0;
    const int W = c.width;
    const int thrA = c.thrA, thrB = c.thrB, thrC = c.thrC;
    const int end = c.BandEnd(band);
    for (int y = FirstFieldRow(c, band, parity); y < end; y += step) {
      const std::size_t row = std::size_t(y) * W;
      const std::uint8_t* cur = c.current + row;
      const std::uint8_t* prev = c.previous + row;
      const std::uint8_t* mask = c.mask + row;
      std::uint8_t* diff = c.difference + row;
      if (strict) {
        for (int x = 0; x < W; ++x) {
          const int d = diff[x];
          const bool on = (mask[x] == 0) & (d > 100) & (cur[x] > thrA);
          lit += on;
          diff[x] = on ? static_cast<std::uint8_t>(d) : 0;
        }
      } else {
        for (int x = 0; x < W; ++x) {
          const int d = diff[x];
          const bool on = (mask[x] == 0) &
                          (((cur[x] > thrA) & (d > 120)) |
                           (cur[x] - prev[x] > thrB) | (d >= thrC));
          lit += on;
          diff[x] = on ? static_cast<std::uint8_t>(d) : 0;
        }
      }
    }
    c.band_counts[band].lit = lit;
  };
  c.pool->Run(light);
  for (const auto& b : c.band_counts) c.lit_pixels += b.lit;

  // Labelling: a lit pixel joins every lit pixel up to four columns to its
  // right on its row and up to four columns either side on the next four
  // rows of the field.
  Labeller lab{c, W};
  int next_label = 1;
  for (int y = parity; y < H; y += step) {
    const int y_end = std::min(y + 4 * step, H - 1);
    const std::uint8_t* diff_row = c.difference + std::size_t(y) * W;
    for (int x = 0; x < W; ++x) {
      // Skip eight unlit pixels at a time.
      if ((x & 7) == 0 && x + 8 <= W) {
        std::uint64_t word;
        std::memcpy(&word, diff_row + x, 8);
        if (word == 0) {
          x += 7;
          continue;
        }
      }
      const int p = y * W + x;
      if (diff_row[x] == 0) continue;
      int k = c.label[p];
      if (k == 0) {
        if (next_label > kMaxRegions) continue;
        k = next_label++;
        StartRegion(c.regions[k]);
        lab.Add(p, k);
      }
      const int right = std::min(x + 4, W - 1);
      for (int col = x + 1; col <= right; ++col)
        if (c.difference[y * W + col]) lab.Add(y * W + col, k);
      const int left = std::max(x - 4, 0);
      for (int row = y + step; row <= y_end; row += step)
        for (int col = left; col <= right; ++col)
          if (c.difference[row * W + col]) lab.Add(row * W + col, k);
    }
  }

  // Detections.
  ++c.fields_processed;
  const int field = c.field_counter;
  if (field < 0 || field >= kMaxFields) return;
  int& count = c.detection_count[field];
  count = 0;
  const double cy = c.clip.interlaced ? 1.0 : 0.5;
  for (int k = 1; k < next_label; ++k) {
    const RegionStats& r = c.regions[k];
    if (r.count <= c.min_region) continue;
    Detection d;
    d.object = -1;
    d.field = field;
    d.pixels = r.count;
    d.peak = r.peak;
    d.saturated = r.saturated;
    d.r = std::sqrt(double(r.max_y - r.min_y) * (r.max_y - r.min_y) +
                    double(r.max_x - r.min_x) * (r.max_x - r.min_x));
    const int left = std::max(r.min_x - 2, 0), right = std::min(r.max_x + 2, W - 1);
    int bottom = std::max(r.min_y - 2, 0);
    const int top = std::min(r.max_y + 2, H - 1);
    // Stay on the field's rows: the other field's rows hold another time.
    if (step == 2 && (bottom & 1) != parity) ++bottom;
    double sx = 0, sy = 0, s = 0;
    for (int row = bottom; row <= top; row += step)
      for (int col = left; col <= right; ++col) {
        const int w = c.difference[row * W + col];
        if (w > 0) {
          sx += (col + 0.5) * w;
          sy += (row + cy) * w;
          s += w;
        }
      }
    d.Lsum = step * s;
    if (s > 0) {
      d.x = sx / s;
      d.y = sy / s;
    } else {
      d.x = (left + right) / 2.0;
      d.y = (bottom + top) / 2.0;
    }
    const int mx = static_cast<int>(d.x), my = static_cast<int>(d.y);
    if (mx >= 0 && mx < W && my >= 0 && my < H) c.marker[my * W + mx] = 255;
    if (count < kDetectionsPerField) c.DetectionAt(field, count++) = d;
    if (d.pixels > c.largest_pixels) {
      c.largest_pixels = d.pixels;
      c.largest = d;
      c.has_largest = true;
    }
  }
}

namespace {

// Removes slot t; later tracks move down and their samples follow.
void RemoveTrackSlot(AnalysisContext& c, int t) {
  for (int k = t + 1; k < c.track_count; ++k) {
    std::memcpy(static_cast<void*>(&c.tracks[k - 1]), &c.tracks[k], sizeof(Track));
    const Track& moved = c.tracks[k - 1];
    for (int i = 0; i < moved.sample_count; ++i) c.Sample(moved.samples[i]).object = k - 1;
  }
  --c.track_count;
}

void RemoveTrack(AnalysisContext& c, int t) {
  const Track& gone = c.tracks[t];
  for (int i = 0; i < gone.sample_count; ++i) c.Sample(gone.samples[i]).object = -1;
  RemoveTrackSlot(c, t);
}

// Appends track k to track i (k's samples follow i's).
void AppendTrack(AnalysisContext& c, int i, int k) {
  Track& a = c.tracks[i];
  const Track& b = c.tracks[k];
  a.pixel_sum += b.pixel_sum;
  a.saturated += b.saturated;
  a.peak = std::max(a.peak, b.peak);
  a.max_Lsum = std::max(a.max_Lsum, b.max_Lsum);
  a.last_field = b.last_field;
  a.end_field = b.end_field;
  a.last_x = b.last_x;
  a.last_y = b.last_y;
  a.vx = b.vx;
  a.vy = b.vy;
  for (int s = 0; s < b.sample_count && a.sample_count < kMaxFields; ++s) {
    c.Sample(b.samples[s]).object = i;
    a.samples[a.sample_count++] = b.samples[s];
  }
}

// Joins tracks whose great circles agree within consR (poles or antipodes)
// across a gap of 1 .. leap - 1 fields, nearest gap first.
void JoinTracks(AnalysisContext& c) {
  const double consR = c.params.consR;
  for (int t = 0; t < c.track_count; ++t) FitGreatCircle(c, c.tracks[t], 0);
  for (int i = 0; i < c.track_count - 1;) {
    int best = -1, best_gap = 0;
    for (int k = 0; k < c.track_count; ++k) {
      if (k == i) continue;
      const int gap = c.tracks[k].first_field - c.tracks[i].end_field;
      if (gap < 1 || gap >= c.params.leap) continue;
      const double theta =
          AngularDistance(static_cast<float>(c.tracks[i].pole_ra),
                          static_cast<float>(c.tracks[i].pole_dec),
                          static_cast<float>(c.tracks[k].pole_ra),
                          static_cast<float>(c.tracks[k].pole_dec)) *
          180.0 / std::numbers::pi;
      if (!(consR > theta || consR > 180 - theta)) continue;
      if (best < 0 || gap < best_gap) {
        best = k;
        best_gap = gap;
      }
    }
    if (best < 0) {
      ++i;
      continue;
    }
    AppendTrack(c, i, best);
    RemoveTrackSlot(c, best);
    if (best < i) --i;
    FitGreatCircle(c, c.tracks[i], 0);
  }
}

}  // namespace

void LinkTracks(AnalysisContext& c, int last_field) {
  last_field = std::min(last_field, kMaxFields - 1);
  c.track_count = 0;
  const double Rs = c.speed_radius, Rt = c.tolerance_radius;
  for (int n = 0; n <= last_field; ++n) {
    for (int di = 0; di < c.detection_count[n]; ++di) {
      Detection& first = c.DetectionAt(n, di);
      if (first.object != -1) continue;
      const int t = c.track_count;
      Track& tr = c.tracks[t];
      first.object = t;
      tr.pixel_sum = first.pixels;
      tr.saturated = first.saturated;
      tr.peak = first.peak;
      tr.max_Lsum = first.Lsum;
      tr.first_field = tr.last_field = first.field;
      tr.end_field = -1;
      tr.last_x = first.x;
      tr.last_y = first.y;
      tr.vx = tr.vy = 0;
      tr.pole_ra = tr.pole_dec = 0;
      tr.passed_count = 0;
      tr.sample_count = 1;
      tr.samples[0] = n * kDetectionsPerField + di;
      for (;;) {
        const int L = tr.last_field;
        int found = -1;
        for (int i = 1; i <= 3 && found < 0 && L + i <= last_field; ++i) {
          double px = tr.last_x, py = tr.last_y, radius;
          if (tr.sample_count == 1) {
            radius = i * Rs + Rt;
          } else {
            px += i * tr.vx;
            py += i * tr.vy;
            radius = tr.sample_count == 2 ? 2 * Rt : Rt;
          }
          double best = radius * radius;
          const int f = L + i;
          for (int j = 0; j < c.detection_count[f]; ++j) {
            const Detection& s = c.DetectionAt(f, j);
            if (s.object != -1) continue;
            const double d2 = (s.x - px) * (s.x - px) + (s.y - py) * (s.y - py);
            if (d2 <= best && (found < 0 || d2 < best)) {
              best = d2;
              found = f * kDetectionsPerField + j;
            }
          }
        }
        if (found < 0) break;
        Detection& s = c.Sample(found);
        s.object = t;
        tr.pixel_sum += s.pixels;
        tr.saturated = std::max(tr.saturated, s.saturated);
        tr.peak = std::max(tr.peak, s.peak);
        tr.max_Lsum = std::max(tr.max_Lsum, s.Lsum);
        const double dt = s.field - L;
        tr.vx = 0.8 * tr.vx + 0.2 * (s.x - tr.last_x) / dt;
        tr.vy = 0.8 * tr.vy + 0.2 * (s.y - tr.last_y) / dt;
        tr.last_field = s.field;
        tr.last_x = s.x;
        tr.last_y = s.y;
        tr.samples[tr.sample_count++] = found;
      }
      tr.end_field = tr.last_field;
      if (tr.sample_count < c.params.mins) {
        for (int i = 0; i < tr.sample_count; ++i) c.Sample(tr.samples[i]).object = -1;
      } else if (c.track_count < kTracksKept) {
        ++c.track_count;
      }
    }
  }

  if (c.params.consR > 0.01) JoinTracks(c);

  // Small tracks.
  if (c.params.rm_small) {
    const std::int64_t P = c.lit_pixels;
    for (int t = 0; t < c.track_count;) {
      const Track& tr = c.tracks[t];
      if ((tr.sample_count == c.params.mins && tr.pixel_sum < P / 10) ||
          (P > 1000 && tr.pixel_sum < P / 100)) {
        RemoveTrack(c, t);
      } else {
        ++t;
      }
    }
  }

  // Fallback: one track of one sample, the run's largest region or zeros.
  if (c.track_count == 0) {
    c.track_count = 1;
    Detection& rec = c.detections[0];
    rec = Detection{};
    rec.object = -1;
    Track& tr = c.tracks[0];
    std::memset(static_cast<void*>(&tr), 0, sizeof(Track));
    tr.sample_count = 1;
    tr.samples[0] = 0;
    if (c.has_largest) {
      const Detection& g = c.largest;
      rec.field = g.field;
      rec.pixels = g.pixels;
      rec.peak = g.peak;
      rec.saturated = g.saturated;
      rec.Lsum = g.Lsum;
      rec.x = g.x;
      rec.y = g.y;
      tr.pixel_sum = static_cast<std::int32_t>(std::min<std::int64_t>(c.lit_pixels, INT32_MAX));
      tr.peak = g.peak;
      tr.saturated = g.saturated;
      tr.max_Lsum = g.Lsum;
      tr.first_field = tr.last_field = tr.end_field = g.field;
      tr.last_x = g.x;
      tr.last_y = g.y;
    }
  }
}

namespace {

void Paint(DisplayPicture& p, int x, int y, std::uint8_t b, std::uint8_t g,
           std::uint8_t r) {
  std::uint8_t* px = p.bgr.data() + (std::size_t(y) * p.width + x) * 3;
  px[0] = b;
  px[1] = g;
  px[2] = r;
}

}  // namespace

void DrawDetectionMark(DisplayPicture& p, double x, double y, int object) {
  const int cx = static_cast<int>(x), cy = static_cast<int>(y);
  if (cx < 0 || cy < 0 || cx >= p.width || cy >= p.height) return;
  const int a = p.width > 2048 ? 11 : p.width < 1024 ? 3 : 7;
  const std::uint8_t b = object < 0 ? 0 : 80, g = object < 0 ? 255 : 80;
  for (int i = std::max(cx - a, 0); i <= std::min(cx + a, p.width - 1); ++i)
    Paint(p, i, cy, b, g, 255);
  for (int j = std::max(cy - a, 0); j <= std::min(cy + a, p.height - 1); ++j)
    Paint(p, cx, j, b, g, 255);
}

void DrawTrailLine(DisplayPicture& p, double fx1, double fy1, double fx2,
                   double fy2, std::string_view object_class) {
  const int x1 = static_cast<int>(fx1), y1 = static_cast<int>(fy1);
  const int x2 = static_cast<int>(fx2), y2 = static_cast<int>(fy2);
  const int W = p.width, H = p.height;
  if (x1 >= 0 && y1 >= 0 && x2 >= 0 && y2 >= 0) {
    if (object_class.empty() || object_class[0] == '_') return;
    const int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    auto shade = [&](bool start_side) -> std::uint8_t { return start_side ? 255 : 120; };
    if (dx > dy) {
      const double slope = double(y2 - y1) / (x2 - x1);
      const int lo = std::min(x1, x2), hi = std::max(x1, x2);
      auto column = [&](int col) {
        const int row = static_cast<int>(y1 + (col - x1) * slope);
        if (row < 0 || row > H - 2) return;
        const bool start_side = (col <= lo) == (x1 == lo);
        Paint(p, col, row, 0, 0, shade(start_side));
      };
      for (int col = 0; col <= lo && col < W; ++col) column(col);
      for (int col = hi; col < W; ++col) column(col);
    } else if (dy >= 1) {
      const double slope = double(x2 - x1) / (y2 - y1);
      const int lo = std::min(y1, y2), hi = std::max(y1, y2);
      auto line_row = [&](int row) {
        const int col = static_cast<int>(x1 + (row - y1) * slope);
        if (col < 0 || col > W - 2) return;
        const bool start_side = (row <= lo) == (y1 == lo);
        Paint(p, col, row, 0, 0, shade(start_side));
      };
      for (int row = 0; row <= lo && row < H; ++row) line_row(row);
      for (int row = hi; row < H; ++row) line_row(row);
    }
    return;
  }
  if (x1 < 0) return;
  const int left = std::clamp(x1 - 20, 0, W - 1), right = std::clamp(x2 + 20, 0, W - 1);
  const int bottom = std::clamp(y1 - 20, 0, H - 1), top = std::clamp(y2 + 20, 0, H - 1);
  auto red = [&](int x, int y) { p.bgr[(std::size_t(y) * W + x) * 3 + 2] = 255; };
  for (int x = std::min(left, right); x <= std::max(left, right); ++x) {
    red(x, bottom);
    red(x, top);
  }
  for (int y = std::min(bottom, top); y <= std::max(bottom, top); ++y) {
    red(left, y);
    red(right, y);
  }
}

}  // namespace mr4
