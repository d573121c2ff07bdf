// The vectorised detection loops against plain scalar copies of the loops
// they replaced: the 4:2:2 green conversion over every (Y, U, V) byte
// triple, and ExtractDetection + ProcessField over random frames (odd
// widths, both field parities, masked and saturated pixels, thresholds at
// and beyond their ends). Every output must match byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "analysis/detector.h"
#include "tests/analysis/analysis_fixture.h"

namespace mr4 {
namespace {

using Bytes = std::vector<std::uint8_t>;

const YuvTables& Tables() {
  static const YuvTables tables = BuildYuvTables();
  return tables;
}

// ---- Reference: the table conversion of one 4:2:2 row ----

void RefRow422(const std::uint8_t* src, std::uint8_t* dst, int width,
               const YuvTables& t, bool uyvy) {
  const int y0 = uyvy ? 1 : 0, u = uyvy ? 0 : 1, y1 = uyvy ? 3 : 2, v = uyvy ? 2 : 3;
  for (int j = 0; j < width; j += 2, src += 4) {
    const std::int32_t chroma = t.ug[src[u]] + t.vg[src[v]] + 32768;
    std::int32_t g0 = t.y[src[y0]] + chroma;
    std::int32_t g1 = t.y[src[y1]] + chroma;
    g0 = g0 < 0 ? 0 : (g0 > 0xFF0000 ? 0xFF0000 : g0);
    g1 = g1 < 0 ? 0 : (g1 > 0xFF0000 ? 0xFF0000 : g1);
    dst[j] = static_cast<std::uint8_t>(g0 >> 16);
    dst[j + 1] = static_cast<std::uint8_t>(g1 >> 16);
  }
}

// Plane rows [b, e) of a top-down 4:2:2 frame.
Bytes RefPlane(const FrameGeometry& g, const Bytes& src, const YuvTables& t,
               int b, int e, Bytes plane) {
  const bool uyvy = g.format == FrameFormat::kUyvy;
  for (int r = b; r < e; ++r)
    RefRow422(src.data() + std::size_t(g.height - 1 - r) * g.width * 2,
              plane.data() + std::size_t(r) * g.width, g.width, t, uyvy);
  return plane;
}

// First differing index, or -1.
template <class T>
long FirstDifference(std::span<const T> a, std::span<const T> b) {
  if (a.size() != b.size()) return 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i])) return static_cast<long>(i);
  return -1;
}

TEST(GreenPlaneEquivalence, EveryYuvTripleGivesTheTableValue) {
  // One frame per U: row v holds every Y once (pixel pair j: Y 2j, 2j + 1),
  // so the 256 frames cover all 16.7 million triples in both formats.
  const int w = 256, h = 256;
  Bytes src(std::size_t(w) * h * 2), plane(std::size_t(w) * h);
  for (FrameFormat format : {FrameFormat::kYuyv, FrameFormat::kUyvy}) {
    const bool uyvy = format == FrameFormat::kUyvy;
    const FrameGeometry g{format, w, h, 2};
    long mismatches = 0;
    for (int u = 0; u < 256; ++u) {
      for (int v = 0; v < 256; ++v) {
        std::uint8_t* row = src.data() + std::size_t(v) * w * 2;
        for (int j = 0; j < w / 2; ++j) {
          std::uint8_t* q = row + 4 * j;
          q[uyvy ? 1 : 0] = static_cast<std::uint8_t>(2 * j);
          q[uyvy ? 3 : 2] = static_cast<std::uint8_t>(2 * j + 1);
          q[uyvy ? 0 : 1] = static_cast<std::uint8_t>(u);
          q[uyvy ? 2 : 3] = static_cast<std::uint8_t>(v);
        }
      }
      ASSERT_TRUE(ToGreenPlane(g, src, 0, h, plane, Tables()));
      const Bytes want = RefPlane(g, src, Tables(), 0, h, Bytes(plane.size()));
      for (std::size_t p = 0; p < plane.size(); ++p)
        if (plane[p] != want[p] && ++mismatches <= 5)
          ADD_FAILURE() << (uyvy ? "UYVY" : "YUYV") << " u " << u << " v "
                        << (h - 1 - int(p / w)) << " y " << p % w << ": "
                        << int(plane[p]) << " want " << int(want[p]);
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(GreenPlaneEquivalence, RandomFramesRowRangesAndRowTails) {
  // Widths around the 16-pixel step; row ranges as the bands cut them.
  std::mt19937 rng(11);
  for (FrameFormat format : {FrameFormat::kYuyv, FrameFormat::kUyvy}) {
    for (int w : {2, 6, 14, 16, 18, 30, 34, 62, 720}) {
      const int h = 1 + int(rng() % 9);
      const FrameGeometry g{format, w, h, 2};
      Bytes src(std::size_t(w) * h * 2);
      for (auto& b : src) b = static_cast<std::uint8_t>(rng());
      const int b = int(rng() % h), e = b + 1 + int(rng() % (h - b));
      Bytes plane(std::size_t(w) * h, 0xEE);
      ASSERT_TRUE(ToGreenPlane(g, src, b, e, plane, Tables()));
      const Bytes want = RefPlane(g, src, Tables(), b, e, Bytes(plane.size(), 0xEE));
      EXPECT_EQ(FirstDifference<std::uint8_t>(plane, want), -1)
          << "width " << w << " rows " << b << ".." << e;
    }
  }
}

TEST(GreenPlaneEquivalence, OtherTablesAreUsedAsGiven) {
  // Tables that differ from the start-up ones take the table path.
  YuvTables t = Tables();
  for (auto& y : t.y) y += 3 * 65536;
  t.vg[128] = -40 * 65536;
  std::mt19937 rng(5);
  const FrameGeometry g{FrameFormat::kYuyv, 40, 3, 2};
  Bytes src(40 * 3 * 2);
  for (auto& b : src) b = static_cast<std::uint8_t>(rng());
  for (int x = 0; x < 40; ++x) src[2 * x + 1] = 128;  // hits the changed V
  Bytes plane(40 * 3);
  ASSERT_TRUE(ToGreenPlane(g, src, 0, 3, plane, t));
  EXPECT_EQ(FirstDifference<std::uint8_t>(plane, RefPlane(g, src, t, 0, 3, Bytes(plane.size()))), -1);
  EXPECT_NE(FirstDifference<std::uint8_t>(plane, RefPlane(g, src, Tables(), 0, 3, Bytes(plane.size()))), -1);
}

// ---- Reference: the field processing as first written ----

struct RefLabeller {
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

void RefProcessField(AnalysisContext& c, int parity) {
  const int W = c.width, H = c.height, step = c.line_step;
  c.changed_histogram.fill(0);
  c.difference_histogram.fill(0);
  for (int y = parity; y < H; y += step)
    for (int x = 0; x < W; ++x) {
      const std::size_t p = std::size_t(y) * W + x;
      float f = static_cast<float>(c.current[p]) - c.background[p];
      f = f < 0.0f ? 0.0f : f;
      const int d = static_cast<int>(f);
      c.difference[p] = static_cast<std::uint8_t>(c.mask[p] ? 0 : d);
      if (c.difference[p] != 0) ++c.difference_histogram[c.difference[p]];
      if (c.difference[p] > 100) ++c.changed_histogram[c.current[p]];
    }
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
  const bool strict = c.top == c.saturation && c.top_count >= 10;
  for (int y = parity; y < H; y += step)
    for (int x = 0; x < W; ++x) {
      const std::size_t p = std::size_t(y) * W + x;
      const int d = c.difference[p], cur = c.current[p], prev = c.previous[p];
      bool on;
      if (strict)
        on = c.mask[p] == 0 && d > 100 && cur > c.thrA;
      else
        on = c.mask[p] == 0 &&
             ((cur > c.thrA && d > 120) || cur - prev > c.thrB || d >= c.thrC);
      c.lit_pixels += on;
      if (!on) c.difference[p] = 0;
    }

  RefLabeller lab{c, W};
  int next_label = 1;
  for (int y = parity; y < H; y += step) {
    const int y_end = std::min(y + 4 * step, H - 1);
    for (int x = 0; x < W; ++x) {
      const int p = y * W + x;
      if (c.difference[p] == 0) continue;
      int k = c.label[p];
      if (k == 0) {
        if (next_label > kMaxRegions) continue;
        k = next_label++;
        c.regions[k] = RegionStats{0, 0, 0, 0, 0, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 0, 0};
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

  ++c.fields_processed;
  const int field = c.field_counter;
  if (field < 0 || field >= kMaxFields) return;
  int& count = c.detection_count[field];
  count = 0;
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
    if (step == 2 && (bottom & 1) != parity) ++bottom;
    double sx = 0, sy = 0, s = 0;
    for (int row = bottom; row <= top; row += step)
      for (int col = left; col <= right; ++col) {
        const int w = c.difference[row * W + col];
        if (w > 0) {
          sx += (col + 0.5) * w;
          sy += (row + 0.5) * w;
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

// ---- Random scenes ----

struct SceneKind {
  int w, h;
  bool interlaced;
  int saturation;
  int noise_level;
  int dlo;
  bool strict;  // at least ten saturated changed pixels
  double noise;  // standard deviation of the frame around the background
};

// Fills both contexts with the same random frame; a run of frames keeps
// its background and passes current to previous.
void RandomFrame(std::mt19937& rng, const SceneKind& k, AnalysisContext& a,
                 AnalysisContext& b) {
  const int W = k.w, H = k.h;
  const std::size_t n = std::size_t(W) * H;
  std::normal_distribution<double> noise(0.0, k.noise);
  std::uniform_int_distribution<int> byte(0, 255);
  std::memcpy(a.previous, a.current, n);
  for (std::size_t p = 0; p < n; ++p) {
    int s = static_cast<int>(std::lround(a.background[p] + noise(rng)));
    a.current[p] = static_cast<std::uint8_t>(std::clamp(s, 0, k.saturation));
  }
  // Bright blobs, some at the saturation level, and a few lone pixels.
  const int blobs = 1 + int(rng() % 6);
  for (int i = 0; i < blobs; ++i) {
    const int bw = 1 + int(rng() % 6), bh = 1 + int(rng() % 5);
    const int x0 = int(rng() % W), y0 = int(rng() % H);
    const int level = (k.strict || rng() % 3 == 0) ? k.saturation : 120 + int(rng() % 136);
    for (int y = y0; y < std::min(y0 + bh, H); ++y)
      for (int x = x0; x < std::min(x0 + bw, W); ++x)
        a.current[std::size_t(y) * W + x] =
            static_cast<std::uint8_t>(std::min(level - int(rng() % 3 == 0), 255));
  }
  const int top = k.strict ? k.saturation : 255;
  for (int i = 0; i < 1 + int(n / 200); ++i)
    a.current[rng() % n] = static_cast<std::uint8_t>(std::min(byte(rng), top));
  if (k.strict)  // a saturated line on the rows of both fields
    for (int y = H / 2; y < std::min(H / 2 + 2, H); ++y)
      for (int x = 0; x < std::min(20, W); ++x) {
        a.current[std::size_t(y) * W + x] = static_cast<std::uint8_t>(k.saturation);
        a.background[std::size_t(y) * W + x] = std::min(a.background[std::size_t(y) * W + x], 50.0f);
      }
  for (std::size_t p = 0; p < n; ++p) a.mask[p] = rng() % 10 == 0 ? static_cast<std::uint8_t>(1 + rng() % 255) : 0;
  // The mask and images are shared inputs; b gets a copy.
  std::memcpy(b.current, a.current, n);
  std::memcpy(b.previous, a.previous, n);
  std::memcpy(b.mask, a.mask, n);
  std::memcpy(b.background, a.background, n * sizeof(float));
}

void SetUpSky(const SceneKind& k, AnalysisContext& c, std::mt19937 rng) {
  const std::size_t n = std::size_t(k.w) * k.h;
  c.saturation = k.saturation;
  c.noise_level = k.noise_level;
  c.params.dlo = k.dlo;
  // Background: fractional levels, dark sky with a brighter patch.
  std::uniform_real_distribution<float> sky(0.0f, 60.0f);
  for (std::size_t p = 0; p < n; ++p) {
    float v = sky(rng);
    if (p % 97 < 5) v = 200.0f + v / 2;  // streaks of bright background
    if (p % 13 == 0) v = std::floor(v);   // exact levels
    c.background[p] = v;
    c.current[p] = static_cast<std::uint8_t>(v);
  }
}

void ExpectSameField(const AnalysisContext& a, const AnalysisContext& b,
                     const std::string& where) {
  SCOPED_TRACE(where);
  const std::size_t n = std::size_t(a.width) * a.height;
  EXPECT_EQ(FirstDifference<std::uint8_t>({a.difference, n}, {b.difference, n}), -1);
  EXPECT_EQ(FirstDifference<std::int64_t>(a.difference_histogram, b.difference_histogram), -1);
  EXPECT_EQ(FirstDifference<std::int64_t>(a.changed_histogram, b.changed_histogram), -1);
  EXPECT_EQ(a.top, b.top);
  EXPECT_EQ(a.top_count, b.top_count);
  EXPECT_EQ(a.thrA, b.thrA);
  EXPECT_EQ(a.thrB, b.thrB);
  EXPECT_EQ(a.thrC, b.thrC);
  EXPECT_EQ(a.lit_pixels, b.lit_pixels);
  EXPECT_EQ(FirstDifference<std::uint16_t>({a.label, n}, {b.label, n}), -1);
  EXPECT_EQ(FirstDifference<std::uint16_t>({a.link_x, n}, {b.link_x, n}), -1);
  EXPECT_EQ(FirstDifference<std::uint16_t>({a.link_y, n}, {b.link_y, n}), -1);
  EXPECT_EQ(FirstDifference<std::uint8_t>({a.marker, n}, {b.marker, n}), -1);
  const int f = a.field_counter;
  ASSERT_EQ(a.detection_count[f], b.detection_count[f]);
  for (int i = 0; i < a.detection_count[f]; ++i) {
    const Detection& x = const_cast<AnalysisContext&>(a).DetectionAt(f, i);
    const Detection& y = const_cast<AnalysisContext&>(b).DetectionAt(f, i);
    EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << "detection " << i;
  }
  EXPECT_EQ(a.largest_pixels, b.largest_pixels);
  EXPECT_EQ(std::memcmp(&a.largest, &b.largest, sizeof a.largest), 0);
}

TEST(ProcessFieldEquivalence, RandomFieldsMatchTheScalarLoops) {
  const SceneKind kinds[] = {
      // w, h, interlaced, saturation, noise level, dlo, strict, noise
      {37, 23, false, 255, 30, 10, false, 3.0},
      {37, 23, false, 255, 30, 10, true, 3.0},
      {101, 77, true, 255, 20, 10, false, 6.0},
      {101, 77, true, 200, 20, 10, true, 2.0},
      {64, 48, false, 250, -20, -10, false, 1.0},   // thrB below 0
      {64, 48, true, 255, 300, 255, false, 4.0},    // thrB, thrC above 255
      {15, 9, false, 255, 255, -255, false, 3.0},   // thrC at or below 0
      {129, 3, true, 255, 10, 0, false, 0.5},       // three rows: one band
      {40, 30, false, 255, -300, 10, false, 2.0},   // every rise lights
      {720, 48, false, 255, 30, 10, false, 0.3},    // mostly difference 0
      {722, 41, true, 255, 30, 10, true, 12.0},     // dense differences
      {8192, 4, false, 255, 30, 10, false, 4.0},    // long rows of small levels
  };
  std::mt19937 rng(2026);
  for (const SceneKind& k : kinds) {
    auto a = testing::SmallContext(k.w, k.h, k.interlaced);
    auto b = testing::SmallContext(k.w, k.h, k.interlaced);
    const std::mt19937 sky_rng(rng());
    SetUpSky(k, *a, sky_rng);
    SetUpSky(k, *b, sky_rng);
    for (int frame = 0; frame < 6; ++frame) {
      RandomFrame(rng, k, *a, *b);
      const std::size_t n = std::size_t(k.w) * k.h;
      std::memset(a->label, 0, n * 2);
      std::memset(b->label, 0, n * 2);
      const int first = frame % 2;
      for (int f = 0; f < (k.interlaced ? 2 : 1); ++f) {
        const int parity = k.interlaced ? (f == 0 ? first : 1 - first) : 0;
        ProcessField(*a, parity);
        RefProcessField(*b, parity);
        ExpectSameField(*a, *b, std::to_string(k.w) + " x " + std::to_string(k.h) +
                                    " frame " + std::to_string(frame) + " parity " +
                                    std::to_string(parity));
        ++a->field_counter;
        ++b->field_counter;
      }
    }
  }
}

TEST(ProcessFieldEquivalence, LongRowsOfOneLevel) {
  // 512 groups of 16 pixels of one level per row: counters of one level
  // must not wrap, and levels either side of the small-level limit count
  // alike.
  for (int level : {1, 8, 9, 100, 101}) {
    auto a = testing::SmallContext(8192, 2);
    auto b = testing::SmallContext(8192, 2);
    for (AnalysisContext* c : {a.get(), b.get()}) {
      std::fill(c->current, c->current + 8192 * 2, static_cast<std::uint8_t>(level));
      c->current[8192 + 77] = 250;  // one other level on the second row
    }
    ProcessField(*a, 0);
    RefProcessField(*b, 0);
    EXPECT_EQ(a->difference_histogram[level], 8192 * 2 - 1) << level;
    ExpectSameField(*a, *b, "level " + std::to_string(level));
  }
}

TEST(ProcessFieldEquivalence, ExtractDetectionConvertsAndClearsLabels) {
  // Labels of a field are all 0 after the next extraction, also those of a
  // larger frame when a smaller one came between.
  std::mt19937 rng(3);
  auto c = testing::SmallContext(720, 13);
  struct Step {
    bool label;  // a lit block in the top rows of a 720 x 13 field first
    int w, h;    // then an extraction of this size
  };
  for (const Step& k : {Step{true, 720, 13}, Step{true, 18, 5}, Step{false, 720, 13},
                        Step{false, 720, 13}}) {
    if (k.label) {
      c->width = c->clip.width = 720;
      c->height = c->clip.height = 13;
      std::fill(c->current, c->current + 720 * 13, 0);
      for (int y = 10; y < 13; ++y)
        for (int x = 690; x < 720; ++x) testing::SetPixel(*c, x, y, 250);
      ProcessField(*c, 0);
      ASSERT_GT(std::count_if(c->label, c->label + 720 * 13, [](std::uint16_t v) { return v != 0; }), 0);
    }
    c->width = c->clip.width = k.w;
    c->height = c->clip.height = k.h;
    const std::size_t n = std::size_t(k.w) * k.h;
    const FrameGeometry g{FrameFormat::kYuyv, k.w, k.h, 2};
    Bytes src(n * 2);
    for (auto& v : src) v = static_cast<std::uint8_t>(rng());
    ExtractDetection(*c, g, src, Tables());
    const Bytes want = RefPlane(g, src, Tables(), 0, k.h, Bytes(n));
    EXPECT_EQ(FirstDifference<std::uint8_t>({c->current, n}, want), -1) << k.w;
    EXPECT_EQ(std::count(c->label, c->label + n, 0), long(n)) << k.w;
  }
}

}  // namespace
}  // namespace mr4
