#include "analysis/detector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Difference levels of one band, one table per column position modulo 16:
// a run of pixels of the same level (mostly 0) then updates 16 counters in
// turn instead of waiting on one. Level 0 is counted but never read.
struct LevelCounts {
  std::uint32_t part[16][256];

  void Clear() { std::memset(part, 0, sizeof part); }
  void AddTo(std::array<std::int64_t, 256>& hist) const {
    for (int i = 1; i < 256; ++i) {
      std::int64_t sum = 0;
      for (const auto& p : part) sum += p[i];
      hist[i] = sum;
    }
  }
};

// The difference of one pixel: the sample less the background in single
// precision, truncated toward zero, 0 when negative or masked. (Clamping
// before the truncation equals clamping after it.)
inline std::uint8_t PixelDifference(std::uint8_t cur, float bg, std::uint8_t mask) {
  float f = static_cast<float>(cur) - bg;
  f = f < 0.0f ? 0.0f : f;
  return static_cast<std::uint8_t>(mask ? 0 : static_cast<int>(f));
}

// Differences of one field row into `diff`, counted into `levels` and, for
// differences above 100, the sample into `changed`.
void DifferenceRow(const std::uint8_t* __restrict cur, const float* __restrict bg,
                   const std::uint8_t* __restrict mask, std::uint8_t* __restrict diff,
                   int W, LevelCounts& levels, std::array<std::int64_t, 256>& changed) {
  int x = 0;
#if defined(__SSE2__)
  // Sky noise gives mostly levels 1 .. kSmall: a group of 16 whose levels
  // all lie in 0 .. kSmall is counted in byte lanes, one register per level
  // (added up before a lane can pass 255); other groups go to the tables.
  constexpr int kSmall = 8;
  const __m128i zero = _mm_setzero_si128();
  const __m128i low_byte = _mm_set1_epi32(0xFF);
  const __m128i above_100 = _mm_set1_epi8(101);
  const __m128i above_small = _mm_set1_epi8(kSmall + 1);
  __m128i small[kSmall];
  for (auto& v : small) v = zero;
  int small_groups = 0;
  auto flush_small = [&] {
    for (int l = 0; l < kSmall; ++l) {
      const __m128i sums = _mm_sad_epu8(small[l], zero);
      levels.part[0][l + 1] += static_cast<std::uint32_t>(
          _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
      small[l] = zero;
    }
    small_groups = 0;
  };
  for (; x + 16 <= W; x += 16) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
    const __m128i s_lo = _mm_unpacklo_epi8(s, zero), s_hi = _mm_unpackhi_epi8(s, zero);
    const __m128i w[4] = {_mm_unpacklo_epi16(s_lo, zero), _mm_unpackhi_epi16(s_lo, zero),
                          _mm_unpacklo_epi16(s_hi, zero), _mm_unpackhi_epi16(s_hi, zero)};
    __m128i d[4];
    for (int i = 0; i < 4; ++i) {
      // max_ps gives its second operand, 0, for a NaN, which the scalar
      // conversion also turns into a difference of 0.
      __m128 f = _mm_sub_ps(_mm_cvtepi32_ps(w[i]), _mm_loadu_ps(bg + x + 4 * i));
      f = _mm_max_ps(f, _mm_setzero_ps());
      d[i] = _mm_and_si128(_mm_cvttps_epi32(f), low_byte);  // the byte store keeps the low 8 bits
    }
    __m128i v = _mm_packus_epi16(_mm_packs_epi32(d[0], d[1]), _mm_packs_epi32(d[2], d[3]));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + x));
    v = _mm_and_si128(v, _mm_cmpeq_epi8(m, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(diff + x), v);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)) == 0xFFFF) continue;
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, above_small), v)) == 0) {
      for (int l = 0; l < kSmall; ++l)
        small[l] = _mm_sub_epi8(small[l], _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(l + 1))));
      if (++small_groups == 255) flush_small();
      continue;
    }
    unsigned bright = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, above_100), v)));
    // From the register: reading the bytes back right after the 16-byte
    // store stalls on store forwarding.
    for (int q = 0; q < 4; ++q) {
      const auto word = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
      v = _mm_srli_si128(v, 4);
      for (int i = 0; i < 4; ++i) ++levels.part[4 * q + i][(word >> (8 * i)) & 0xFF];
    }
    for (; bright != 0; bright &= bright - 1) ++changed[cur[x + std::countr_zero(bright)]];
  }
  if (small_groups > 0) flush_small();
#endif
  for (; x < W; ++x) {
    const std::uint8_t d = PixelDifference(cur[x], bg[x], mask[x]);
    diff[x] = d;
    ++levels.part[x & 15][d];
    if (d > 100) ++changed[cur[x]];
  }
}

// The lit test of one field row: unlit pixels get difference 0. Returns the
// number of lit pixels.
struct LitRule {
  bool strict;
  int thrA, thrB, thrC;
};

int LitRow(const LitRule& rule, const std::uint8_t* __restrict cur,
           const std::uint8_t* __restrict prev, const std::uint8_t* __restrict mask,
           std::uint8_t* __restrict diff, int W) {
  int lit = 0;
  int x = 0;
#if defined(__SSE2__)
  // Every comparison as "at least t" on bytes: max(v, t) == v. thrA lies in
  // 200 .. 251; thrC and thrB may lie beyond the byte range, which `enable`
  // and `flip` cover: a rise above thrB < 0 is "not a fall of -thrB or more".
  const __m128i zero = _mm_setzero_si128();
  auto at_least = [](__m128i v, __m128i t) { return _mm_cmpeq_epi8(_mm_max_epu8(v, t), v); };
  auto level = [](int t) { return _mm_set1_epi8(static_cast<char>(std::clamp(t, 0, 255))); };
  const __m128i a = level(rule.thrA + 1), d100 = level(101), d120 = level(121);
  const __m128i c = level(rule.thrC);
  const __m128i c_enable = rule.thrC <= 255 ? _mm_set1_epi8(-1) : zero;
  const bool rising = rule.thrB >= 0;
  const int b_level = rising ? rule.thrB + 1 : -rule.thrB;
  const __m128i b = level(b_level);
  const __m128i b_enable = b_level <= 255 ? _mm_set1_epi8(-1) : zero;
  const __m128i b_flip = rising ? zero : _mm_set1_epi8(-1);
  const std::uint8_t* up = rising ? cur : prev;
  const std::uint8_t* down = rising ? prev : cur;
  const __m128i one = _mm_set1_epi8(1);
  __m128i count = zero;  // two 64-bit sums of lit pixels
  for (; x + 16 <= W; x += 16) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + x));
    const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + x));
    __m128i on;
    if (rule.strict) {
      on = _mm_and_si128(at_least(d, d100), at_least(s, a));
    } else {
      const __m128i change = _mm_subs_epu8(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x)));
      const __m128i by_b = _mm_xor_si128(_mm_and_si128(at_least(change, b), b_enable), b_flip);
      const __m128i by_c = _mm_and_si128(at_least(d, c), c_enable);
      on = _mm_or_si128(_mm_and_si128(at_least(s, a), at_least(d, d120)),
                        _mm_or_si128(by_b, by_c));
    }
    on = _mm_and_si128(on, _mm_cmpeq_epi8(m, zero));
    count = _mm_add_epi64(count, _mm_sad_epu8(_mm_and_si128(on, one), zero));
    // Most groups do not change (all zero): leaving them unwritten spares
    // the write-back of their cache lines.
    const __m128i kept = _mm_and_si128(d, on);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(kept, d)) != 0xFFFF)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(diff + x), kept);
  }
  lit = _mm_cvtsi128_si32(count) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(count, count));
#endif
  for (; x < W; ++x) {
    const int d = diff[x];
    const bool on = rule.strict
                        ? (mask[x] == 0) & (d > 100) & (cur[x] > rule.thrA)
                        : (mask[x] == 0) & (((cur[x] > rule.thrA) & (d > 120)) |
                                            (cur[x] - prev[x] > rule.thrB) | (d >= rule.thrC));
    lit += on;
    diff[x] = on ? static_cast<std::uint8_t>(d) : 0;
  }
  return lit;
}

// The first column at or after x whose difference is nonzero, or W.
inline int NextLit(const std::uint8_t* row, int x, int W) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; x + 16 <= W; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
    const unsigned unlit = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
    if (unlit != 0xFFFF) return x + std::countr_one(unlit);
  }
#endif
  while (x < W && row[x] == 0) ++x;
  return x;
}

struct Labeller {
  AnalysisContext& c;
  int W;
  int first = INT_MAX, last = -1;  // labelled pixels

  void AddNew(int q, int k) {
    first = std::min(first, q);
    last = std::max(last, q);
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

double BrightnessShift(const AnalysisContext& c, const float* background, int frames) {
  // Every 8th row and column: a few thousand pixels of a 720 x 480 frame
  // put the median within a tenth of a level. Bins of a quarter level.
  constexpr int kStep = 8, kBinsPerLevel = 4, kBins = 512 * kBinsPerLevel;
  std::array<std::int32_t, kBins> bins{};
  const float scale = 1.0f / static_cast<float>(frames);
  const float sky = kSkyLevel * static_cast<float>(frames);
  int n = 0, grid = 0;
  for (int y = kStep / 2; y < c.height; y += kStep) {
    const std::size_t row = std::size_t(y) * c.width;
    for (int x = kStep / 2; x < c.width; x += kStep) {
      ++grid;
      const float bg = background[row + x];
      if (bg < sky) continue;
      const float shift = static_cast<float>(c.current[row + x]) - bg * scale;
      ++bins[static_cast<int>((shift + 256.0f) * kBinsPerLevel)];
      ++n;
    }
  }
  if (n == 0 || n < grid / 8) return 0;
  int below = 0;
  for (int b = 0; b < kBins; ++b) {
    below += bins[b];
    if (2 * below >= n) return (b + 0.5) / kBinsPerLevel - 256.0;
  }
  return 0;
}

bool ExtractBackground(AnalysisContext& c, const FrameGeometry& geometry,
                       std::span<const std::uint8_t> source,
                       const YuvTables& tables) {
  ClearBandCounts(c);
  auto convert = [&](int band) {
    const int b = c.BandBegin(band), e = c.BandEnd(band);
    if (b < e) ToGreenPlane(geometry, source, b, e, Plane(c, c.current), tables);
  };
  c.pool->Run(convert);
  if (c.background_count > 0 &&
      std::fabs(BrightnessShift(c, c.background, c.background_count)) >= kBrightnessChangeLevels)
    return false;
  const bool count_increases = c.field_counter > c.clip.interlaced + 1;
  auto job = [&](int band) {
    const int b = c.BandBegin(band), e = c.BandEnd(band);
    if (b >= e) return;
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
  return true;
}

void ExtractDetection(AnalysisContext& c, const FrameGeometry& geometry,
                      std::span<const std::uint8_t> source,
                      const YuvTables& tables) {
  auto job = [&](int band) {
    const int b = c.BandBegin(band), e = c.BandEnd(band);
    if (b >= e) return;
    ToGreenPlane(geometry, source, b, e, Plane(c, c.current), tables);
    const std::int64_t from = std::max(std::int64_t{b} * c.width, c.label_dirty_begin);
    const std::int64_t to = std::min(std::int64_t{e} * c.width, c.label_dirty_end);
    if (from < to)
      std::memset(c.label + from, 0, std::size_t(to - from) * sizeof(std::uint16_t));
  };
  c.pool->Run(job);
  // Labels beyond this frame (a larger one earlier) stay marked.
  c.label_dirty_begin = std::max(c.label_dirty_begin, std::int64_t{c.width} * c.height);
  if (c.label_dirty_begin >= c.label_dirty_end) c.label_dirty_begin = c.label_dirty_end = 0;
}

void FinishBackground(AnalysisContext& c) {
  if (c.background_count <= 0) return;
  // A clip without a measurable increase (an empty detection area) gets
  // the start-up value, not the last clip's of this context: its result
  // must not depend on what ran before it in the same slot.
  c.noise_level = 0;
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

  // Difference against the background, with its histograms, 16 pixels at a
  // time; groups of 16 zero differences are not counted (level 0 is never
  // read).
  auto difference = [&](int band) {
    LevelCounts levels;
    levels.Clear();
    const int W = c.width;  // a local: byte stores cannot alias it
    const int end = c.BandEnd(band);
    for (int y = FirstFieldRow(c, band, parity); y < end; y += step) {
      const std::size_t row = std::size_t(y) * W;
      DifferenceRow(c.current + row, c.background + row, c.mask + row,
                    c.difference + row, W, levels, c.band_counts[band].a);
    }
    levels.AddTo(c.band_counts[band].b);
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
  const LitRule rule{c.top == c.saturation && c.top_count >= 10, c.thrA, c.thrB, c.thrC};
  auto light = [&](int band) {
    std::int64_t lit = 0;
    const int W = c.width;
    const int end = c.BandEnd(band);
    for (int y = FirstFieldRow(c, band, parity); y < end; y += step) {
      const std::size_t row = std::size_t(y) * W;
      lit += LitRow(rule, c.current + row, c.previous + row, c.mask + row,
                    c.difference + row, W);
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
    for (int x = NextLit(diff_row, 0, W); x < W; x = NextLit(diff_row, x + 1, W)) {
      const int p = y * W + x;
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

  if (lab.first <= lab.last) {
    if (c.label_dirty_begin >= c.label_dirty_end) {
      c.label_dirty_begin = lab.first;
      c.label_dirty_end = lab.last + 1;
    } else {
      c.label_dirty_begin = std::min<std::int64_t>(c.label_dirty_begin, lab.first);
      c.label_dirty_end = std::max<std::int64_t>(c.label_dirty_end, lab.last + 1);
    }
  }

  // Detections.
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
    // Stay on the field's rows: the other field's rows hold another time.
    if (step == 2 && (bottom & 1) != parity) ++bottom;
    double sx = 0, sy = 0, s = 0;
    for (int row = bottom; row <= top; row += step)
      for (int col = left; col <= right; ++col) {
        const int w = c.difference[row * W + col];
        if (w > 0) {
          // Pixel centres at +0.5 in both directions. A field's rows are
          // the frame's own rows, so an interlaced field's pixel centre is
          // its row + 0.5 too, where the stars were measured.
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
      bool only_changed_fields = true;
      for (int i = 0; i < tr.sample_count && only_changed_fields; ++i)
        only_changed_fields = c.brightness_changed[c.Sample(tr.samples[i]).field] != 0;
      if (tr.sample_count < c.params.mins || only_changed_fields) {
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
