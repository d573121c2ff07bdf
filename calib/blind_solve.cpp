#include "calib/blind_solve.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "astro/angles.h"
#include "astro/sky_coordinates.h"
#include "calib/camera_model.h"
#include "calib/profile_fit.h"

namespace mr4 {
namespace {

// Neighbours each star makes quads with: a catalogue star more than a mask
// star, since the catalogue list is deeper than the brightest mask stars and
// a mask star's neighbours must be among the catalogue star's.
constexpr int kMaskNeighbours = 6;
constexpr int kCatalogueNeighbours = 9;
// Half width of a code cell, and the largest code distance of a hit.
constexpr double kCodeTolerance = 0.03;
// Picture quads narrower than this fraction of the field width carry too
// much centroid error in their codes.
constexpr double kSmallestQuadFraction = 0.05;
// Catalogue stars lower than this are left out: the refraction below it is
// large and uncertain [deg, true elevation].
constexpr double kLowestStarEv = 0.5;
// The catalogue lists hold this many times as many stars as the field is
// expected to show for the mask stars used (several depths are tried for
// the quads, since the picture's brightness order is not the catalogue's).
constexpr double kQuadDepths[] = {1.5, 3.0};
// A rough proposal is refined on a sky list as deep as the checking stars
// (deeper, the nearest star within the loose radius is too often the wrong
// one); the counts, and the refinement at the tight radius, use one twice
// as deep, so that the fainter checking stars of a sparse field (or of a
// field near the horizon, dimmed by extinction) find theirs.
constexpr double kRefineDepth = 1.5;
constexpr double kCountDepth = 3.0;
// Field widths tried for the picture's codes, as factors on the profile's:
// the codes of a wide field change a little with the width.
constexpr double kWidthSteps[] = {1.0, 1.0 / 1.12, 1.12};
// Match radii of a proposal, first loose (the proposal comes from four
// stars), then tight (after refining it): a fraction of the frame width in
// px, and at least so many px.
constexpr double kLooseRadiusFraction = 0.012;
constexpr double kTightRadiusFraction = 0.005;
constexpr double kTightRadiusPx = 3.0;
// A proposal whose loose match brings fewer than this many stars besides its
// own four is dropped before it is refined.
constexpr int kFewestLooseMatches = 3;
// A solution this sure ends the search.
constexpr double kCertainLog10Chance = -25.0;

struct Vec3 {
  double x = 0.0, y = 0.0, z = 0.0;
};
Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3 Normalized(Vec3 a) { return (1.0 / std::sqrt(Dot(a, a))) * a; }

// Rows of a rotation.
struct Mat3 {
  std::array<Vec3, 3> row;
  Vec3 operator*(Vec3 v) const { return {Dot(row[0], v), Dot(row[1], v), Dot(row[2], v)}; }
  Vec3 Column(int c) const {
    auto pick = [c](Vec3 r) { return c == 0 ? r.x : c == 1 ? r.y : r.z; };
    return {pick(row[0]), pick(row[1]), pick(row[2])};
  }
};

Mat3 Multiply(const Mat3& a, const Mat3& b) {
  Mat3 out;
  for (int r = 0; r < 3; ++r) {
    out.row[r] = {Dot(a.row[r], b.Column(0)), Dot(a.row[r], b.Column(1)),
                  Dot(a.row[r], b.Column(2))};
  }
  return out;
}

// Rotation by the small vector w (Rodrigues).
Mat3 RotationOf(Vec3 w) {
  const double angle = std::sqrt(Dot(w, w));
  Mat3 out{{Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}}};
  if (angle < 1e-15) return out;
  const Vec3 k = (1.0 / angle) * w;
  const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
  out.row[0] = {t * k.x * k.x + c, t * k.x * k.y - s * k.z, t * k.x * k.z + s * k.y};
  out.row[1] = {t * k.x * k.y + s * k.z, t * k.y * k.y + c, t * k.y * k.z - s * k.x};
  out.row[2] = {t * k.x * k.z - s * k.y, t * k.y * k.z + s * k.x, t * k.z * k.z + c};
  return out;
}

// Horizontal frame: north, east, zenith (right-handed); apparent elevation.
Vec3 HorizontalVector(double az, double ev) {
  const double a = az * kDegToRad, e = ev * kDegToRad;
  return {std::cos(e) * std::cos(a), std::cos(e) * std::sin(a), std::sin(e)};
}

// A mask star in the camera's frame: x towards the image's +x, y towards its
// +y, z along the axis (the same handedness as the horizontal frame). Its
// angle from the axis is `q` x the field width, so a width changes only that.
struct PictureStar {
  double x = 0.0, y = 0.0;  // [px]
  double q = 0.0;           // angle from the axis per radian of field width
  double sin_pa = 0.0, cos_pa = 0.0;
  Vec3 At(double width) const {
    const double d = q * width;
    return {std::sin(d) * sin_pa, std::sin(d) * cos_pa, std::cos(d)};
  }
  // d At / d width.
  Vec3 Slope(double width) const {
    const double d = q * width;
    return {q * std::cos(d) * sin_pa, q * std::cos(d) * cos_pa, -q * std::sin(d)};
  }
};

struct SkyStar {
  Vec3 v;
  float mag = 0.0f;
};

using Code = std::array<double, 4>;

struct Quad {
  std::array<int, 4> star{};  // A, B, C, D
  Code code{};
  double ab = 0.0;  // angle between A and B [rad]
};

// The quad code of four directions, A and B the widest pair, C and D
// ordered so that xC <= xD and xC + xD <= 1. False when the stars are too
// close to give a code.
bool MakeQuad(const std::array<Vec3, 4>& v, const std::array<int, 4>& ids, Quad& out) {
  int a = 0, b = 1;
  double widest = -1.0;
  for (int i = 0; i < 4; ++i) {
    for (int j = i + 1; j < 4; ++j) {
      const Vec3 d = v[i] - v[j];
      if (Dot(d, d) > widest) widest = Dot(d, d), a = i, b = j;
    }
  }
  std::array<int, 2> rest{};
  for (int i = 0, n = 0; i < 4; ++i) {
    if (i != a && i != b) rest[n++] = i;
  }
  const Vec3 centre = Normalized(v[0] + v[1] + v[2] + v[3]);
  const Vec3 helper = std::fabs(centre.z) < 0.9 ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
  const Vec3 e1 = Normalized(Cross(helper, centre));
  const Vec3 e2 = Cross(centre, e1);
  auto plane = [&](int i) {
    const double w = Dot(v[i], centre);
    return std::complex<double>(Dot(v[i], e1) / w, Dot(v[i], e2) / w);
  };
  const std::complex<double> za = plane(a), zb = plane(b);
  if (std::abs(zb - za) < 1e-9) return false;
  const std::complex<double> unit(1.0, 1.0);
  const std::complex<double> s = unit / (zb - za);
  std::complex<double> zc = (plane(rest[0]) - za) * s, zd = (plane(rest[1]) - za) * s;
  int c = rest[0], d = rest[1];
  if (zc.real() + zd.real() > 1.0) {
    std::swap(a, b);
    zc = unit - zc;
    zd = unit - zd;
  }
  if (zc.real() > zd.real()) std::swap(zc, zd), std::swap(c, d);
  out.star = {ids[a], ids[b], ids[c], ids[d]};
  out.code = {zc.real(), zc.imag(), zd.real(), zd.imag()};
  out.ab = 2.0 * std::asin(std::min(1.0, std::sqrt(widest) * 0.5));
  return true;
}

// The other orders a picture quad's code may have taken on the catalogue
// side when it lies near the boundaries of the ordering (xC = xD or
// xC + xD = 1): with C and D swapped, with A and B swapped, and both.
std::array<Quad, 4> Variants(const Quad& q) {
  std::array<Quad, 4> out{q, q, q, q};
  const auto& [xc, yc, xd, yd] = q.code;
  const auto& [a, b, c, d] = q.star;
  out[1].code = {xd, yd, xc, yc};
  out[1].star = {a, b, d, c};
  out[2].code = {1 - xc, 1 - yc, 1 - xd, 1 - yd};
  out[2].star = {b, a, c, d};
  out[3].code = {1 - xd, 1 - yd, 1 - xc, 1 - yc};
  out[3].star = {b, a, d, c};
  return out;
}

std::int64_t CellKey(const std::array<int, 4>& cell) {
  std::int64_t key = 0;
  for (int c : cell) key = key * 1024 + (c + 512);
  return key;
}

std::array<int, 4> CellOf(const Code& code) {
  std::array<int, 4> cell{};
  for (int i = 0; i < 4; ++i) cell[i] = static_cast<int>(std::floor(code[i] / kCodeTolerance));
  return cell;
}

// Quads of each star with `neighbours` of its nearest, each set of four
// once. `usable` filters the quads.
template <typename Usable>
std::vector<Quad> BuildQuads(std::span<const Vec3> v, int neighbours, Usable usable) {
  const int n = static_cast<int>(v.size());
  std::vector<Quad> quads;
  std::unordered_set<std::uint64_t> seen;
  std::vector<std::pair<double, int>> near;
  for (int a = 0; a < n; ++a) {
    near.clear();
    for (int j = 0; j < n; ++j) {
      if (j != a) near.push_back({-Dot(v[a], v[j]), j});
    }
    const int k = std::min<int>(neighbours, static_cast<int>(near.size()));
    if (k < 3) continue;
    std::partial_sort(near.begin(), near.begin() + k, near.end());
    for (int i = 0; i < k; ++i) {
      for (int j = i + 1; j < k; ++j) {
        for (int l = j + 1; l < k; ++l) {
          std::array<int, 4> ids = {a, near[i].second, near[j].second, near[l].second};
          std::array<int, 4> sorted = ids;
          std::sort(sorted.begin(), sorted.end());
          std::uint64_t key = 0;
          for (int id : sorted) key = (key << 16) | static_cast<std::uint64_t>(id);
          if (!seen.insert(key).second) continue;
          Quad q;
          if (MakeQuad({v[ids[0]], v[ids[1]], v[ids[2]], v[ids[3]]}, ids, q) && usable(q)) {
            quads.push_back(q);
          }
        }
      }
    }
  }
  return quads;
}

class QuadIndex {
 public:
  explicit QuadIndex(std::vector<Quad> quads) : quads_(std::move(quads)) {
    for (int i = 0; i < static_cast<int>(quads_.size()); ++i) {
      cells_[CellKey(CellOf(quads_[i].code))].push_back(i);
    }
  }
  const Quad& quad(int i) const { return quads_[i]; }
  int size() const { return static_cast<int>(quads_.size()); }

  // The quads whose code lies within kCodeTolerance of `code`.
  void Near(const Code& code, std::vector<int>& out) const {
    out.clear();
    const std::array<int, 4> c = CellOf(code);
    std::array<int, 4> cell{};
    for (int i0 = -1; i0 <= 1; ++i0) {
      for (int i1 = -1; i1 <= 1; ++i1) {
        for (int i2 = -1; i2 <= 1; ++i2) {
          for (int i3 = -1; i3 <= 1; ++i3) {
            cell = {c[0] + i0, c[1] + i1, c[2] + i2, c[3] + i3};
            const auto found = cells_.find(CellKey(cell));
            if (found == cells_.end()) continue;
            for (int q : found->second) {
              double d2 = 0.0;
              for (int k = 0; k < 4; ++k) {
                const double d = quads_[q].code[k] - code[k];
                d2 += d * d;
              }
              if (d2 <= kCodeTolerance * kCodeTolerance) out.push_back(q);
            }
          }
        }
      }
    }
  }

 private:
  std::vector<Quad> quads_;
  std::unordered_map<std::int64_t, std::vector<int>> cells_;
};

// The rotation taking the directions `from` onto `to` (triad on the centre
// of the four and the direction from the first to the second).
Mat3 Triad(const std::array<Vec3, 4>& from, const std::array<Vec3, 4>& to) {
  auto frame = [](const std::array<Vec3, 4>& v) {
    const Vec3 t1 = Normalized(v[0] + v[1] + v[2] + v[3]);
    const Vec3 t2 = Normalized(Cross(t1, v[0] - v[1]));
    return std::array<Vec3, 3>{t1, t2, Cross(t1, t2)};
  };
  const auto f = frame(from), t = frame(to);
  Mat3 out;
  // out = sum_k t_k f_k^T
  for (int r = 0; r < 3; ++r) {
    auto comp = [r](Vec3 a) { return r == 0 ? a.x : r == 1 ? a.y : a.z; };
    out.row[r] = comp(t[0]) * f[0] + comp(t[1]) * f[1] + comp(t[2]) * f[2];
  }
  return out;
}

// log10 of P(X >= k) for X Poisson with mean lambda.
double Log10PoissonTail(int k, double lambda) {
  if (k <= 0) return 0.0;
  if (lambda <= 0.0) return -300.0;
  const double log_first = -lambda + k * std::log(lambda) - std::lgamma(k + 1.0);
  double sum = 0.0, term = 1.0;
  for (int j = k; j < k + 200; ++j) {
    sum += term;
    term *= lambda / (j + 1);
    if (term < 1e-17 * sum) break;
  }
  return std::min(0.0, (log_first + std::log(sum)) / std::log(10.0));
}

// The solid angle [sr] the frame sees: pixels within the field and, when
// the mask's level plane shows a round field (black outside), on its lit
// part; at most the sky above the horizon.
double FieldSolidAngle(const CameraProfile& p, const MaskPlanes& planes) {
  const double width = p.p_vx * kDegToRad;
  const double step = std::max(4.0, p.cx / 80.0);
  const bool has_levels = planes.width == p.cx && planes.height == p.cy &&
                          planes.level.size() == static_cast<std::size_t>(p.cx) * p.cy;
  double all = 0.0, lit = 0.0;
  int samples = 0, lit_samples = 0;
  for (double y = step * 0.5; y < p.cy; y += step) {
    for (double x = step * 0.5; x < p.cx; x += step) {
      const double d = PixelToAxisAngle(p, x, y).distance;
      if (d >= 0.8 * width || d >= kPi) continue;
      const double area = d > 1e-9 ? std::sin(d) / d : 1.0;
      all += area;
      ++samples;
      if (has_levels &&
          planes.level[static_cast<std::size_t>(y) * p.cx + static_cast<std::size_t>(x)] > 0) {
        lit += area;
        ++lit_samples;
      }
    }
  }
  // An all but black level plane (an edited mask without brightness) says
  // nothing about the field's shape.
  const double sum = lit_samples > samples / 5 ? lit : all;
  const double per_sample = step * step * (width / p.cx) * (width / p.cx);
  return std::clamp(sum * per_sample, 1e-4, 2.0 * kPi);
}

struct Proposal {
  Mat3 rotation;       // camera frame to horizontal frame
  double width = 0.0;  // field width [rad]
  int matched = 0;
  int checked = 0;
  double log10_chance = 0.0;
};

class Solver {
 public:
  Solver(const CameraProfile& p, std::vector<PictureStar> picture, std::vector<SkyStar> sky,
         double field_sr, const BlindSolveOptions& options)
      : p_(p), picture_(std::move(picture)), sky_(std::move(sky)), field_sr_(field_sr),
        options_(options) {
    const double width = p.p_vx * kDegToRad;
    loose_ = kLooseRadiusFraction * width;
    tight_ = std::max(kTightRadiusFraction, kTightRadiusPx / p.cx) * width;
    check_count_ = std::min<int>(options.check_stars, static_cast<int>(picture_.size()));
    quad_count_ = std::min<int>(options.quad_stars, static_cast<int>(picture_.size()));
    refine_sky_.assign(sky_.begin(), sky_.begin() + SkyDepth(kRefineDepth * check_count_));
    const int count_sky = SkyDepth(kCountDepth * check_count_);
    count_sky_.assign(sky_.begin(), sky_.begin() + count_sky);
    // Stars per steradian of the counting list, over the sky above the horizon.
    count_density_ = count_sky / (2.0 * kPi * (1.0 - std::sin(kLowestStarEv * kDegToRad)));
  }

  int quad_count() const { return quad_count_; }

  bool Run(BlindSolveResult& result) {
    bool found = false;
    for (double depth : kQuadDepths) {
      const int count = SkyDepth(depth * quad_count_);
      std::vector<Vec3> sky;
      for (int i = 0; i < count; ++i) sky.push_back(sky_[i].v);
      const QuadIndex index(BuildQuads(sky, kCatalogueNeighbours, [](const Quad&) { return true; }));
      for (double step : kWidthSteps) {
        const double width = p_.p_vx * kDegToRad * step;
        std::vector<Vec3> picture;
        for (int i = 0; i < quad_count_; ++i) picture.push_back(picture_[i].At(width));
        const double smallest = kSmallestQuadFraction * width;
        const std::vector<Quad> quads = BuildQuads(
            picture, kMaskNeighbours, [&](const Quad& q) { return q.ab >= smallest; });
        result.quads += static_cast<int>(quads.size());
        if (TryQuads(quads, index, sky, width, result)) return true;
        found = found || best_.matched > 0;
      }
      if (found) return true;
    }
    return found;
  }

  const Proposal& best() const { return best_; }

 private:
  // How many of the brightest sky stars the field shows about `in_field`
  // of: the list's share of the sky above the horizon.
  int SkyDepth(double in_field) const {
    const double above = 2.0 * kPi;
    const double n = in_field * above / std::min(field_sr_, above);
    return std::clamp(static_cast<int>(std::lround(n)), std::min(8, static_cast<int>(sky_.size())),
                      static_cast<int>(sky_.size()));
  }

  // Looks up each picture quad; true when a certain solution ends the search.
  bool TryQuads(const std::vector<Quad>& quads, const QuadIndex& index,
                const std::vector<Vec3>& sky, double width, BlindSolveResult& result) {
    std::vector<int> hits;
    for (const Quad& q : quads) {
      for (const Quad& variant : Variants(q)) {
        index.Near(variant.code, hits);
        for (int h : hits) {
          const Quad& c = index.quad(h);
          // The widths agree within the tolerance.
          const double ratio = c.ab / q.ab * (width / (p_.p_vx * kDegToRad));
          const double tol = 1.0 + options_.width_tolerance;
          if (ratio < 1.0 / tol || ratio > tol) continue;
          ++result.proposals;
          const double w = width * c.ab / q.ab;
          std::array<Vec3, 4> from, to;
          for (int k = 0; k < 4; ++k) {
            from[k] = picture_[variant.star[k]].At(w);
            to[k] = sky[c.star[k]];
          }
          Proposal proposal;
          proposal.rotation = Triad(from, to);
          proposal.width = w;
          if (!Check(proposal)) continue;
          if (proposal.log10_chance < best_.log10_chance) best_ = proposal;
          if (best_.log10_chance <= kCertainLog10Chance ||
              (best_.log10_chance <= options_.log10_chance_limit &&
               2 * best_.matched >= best_.checked)) {
            return true;
          }
        }
      }
    }
    return false;
  }

  // Matches the checking stars through `proposal`; `pairs` receives the
  // picture star and sky direction of each match within `radius`.
  int Match(const Proposal& proposal, const std::vector<SkyStar>& sky, double radius,
            std::vector<std::pair<int, Vec3>>* pairs) const {
    const double cos_radius = std::cos(radius);
    const Vec3 axis = proposal.rotation.Column(2);
    // Sky stars that can be in the field at all.
    const double reach = std::cos(std::min(kPi, 0.8 * proposal.width + radius));
    near_.clear();
    for (const SkyStar& s : sky) {
      if (Dot(s.v, axis) >= reach) near_.push_back(s.v);
    }
    int matched = 0;
    for (int i = 0; i < check_count_; ++i) {
      const Vec3 v = proposal.rotation * picture_[i].At(proposal.width);
      double best = cos_radius;
      const Vec3* hit = nullptr;
      for (const Vec3& s : near_) {
        const double c = Dot(s, v);
        if (c > best) best = c, hit = &s;
      }
      if (hit) {
        ++matched;
        if (pairs) pairs->push_back({i, *hit});
      }
    }
    return matched;
  }

  // Gauss-Newton on a small rotation and the width over the matched pairs.
  void Refine(Proposal& proposal, const std::vector<std::pair<int, Vec3>>& pairs) const {
    if (pairs.size() < 3) return;
    double a[4][5] = {};
    for (const auto& [i, sky] : pairs) {
      const Vec3 pred = proposal.rotation * picture_[i].At(proposal.width);
      const Vec3 slope = proposal.rotation * picture_[i].Slope(proposal.width);
      const Vec3 r = sky - pred;
      // Columns: d pred / d w (w x pred = -[pred]x w) and d pred / d width.
      const double j[3][4] = {{0, pred.z, -pred.y, slope.x},
                              {-pred.z, 0, pred.x, slope.y},
                              {pred.y, -pred.x, 0, slope.z}};
      const double res[3] = {r.x, r.y, r.z};
      for (int row = 0; row < 3; ++row) {
        for (int m = 0; m < 4; ++m) {
          for (int n = 0; n < 4; ++n) a[m][n] += j[row][m] * j[row][n];
          a[m][4] += j[row][m] * res[row];
        }
      }
    }
    // Gaussian elimination with partial pivoting.
    for (int c = 0; c < 4; ++c) {
      int pivot = c;
      for (int r = c + 1; r < 4; ++r) {
        if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
      }
      if (std::fabs(a[pivot][c]) < 1e-15) return;
      for (int k = 0; k < 5; ++k) std::swap(a[c][k], a[pivot][k]);
      for (int r = 0; r < 4; ++r) {
        if (r == c) continue;
        const double f = a[r][c] / a[c][c];
        for (int k = c; k < 5; ++k) a[r][k] -= f * a[c][k];
      }
    }
    const Vec3 w{a[0][4] / a[0][0], a[1][4] / a[1][1], a[2][4] / a[2][2]};
    const double dwidth = a[3][4] / a[3][3];
    proposal.rotation = Multiply(RotationOf(w), proposal.rotation);
    proposal.width = std::max(proposal.width + dwidth, 1e-4);
  }

  // Refines a proposal and scores it; false when it matches too few stars.
  bool Check(Proposal& proposal) const {
    // Its own four stars always match.
    constexpr int kOwn = 4;
    pairs_.clear();
    if (Match(proposal, count_sky_, loose_, nullptr) < kOwn + kFewestLooseMatches) return false;
    for (int round = 0; round < 2; ++round) {
      pairs_.clear();
      Match(proposal, refine_sky_, loose_, &pairs_);
      Refine(proposal, pairs_);
    }
    for (int round = 0; round < 2; ++round) {
      pairs_.clear();
      Match(proposal, count_sky_, tight_, &pairs_);
      Refine(proposal, pairs_);
    }
    proposal.matched = Match(proposal, count_sky_, tight_, nullptr);
    proposal.checked = check_count_;
    if (proposal.matched < kFewestCalibrationStars) return false;
    const double per_star = count_density_ * kPi * tight_ * tight_;
    proposal.log10_chance =
        Log10PoissonTail(proposal.matched - kOwn, (check_count_ - kOwn) * per_star);
    return proposal.log10_chance <= options_.log10_chance_limit;
  }

  const CameraProfile& p_;
  std::vector<PictureStar> picture_;
  std::vector<SkyStar> sky_;
  std::vector<SkyStar> refine_sky_, count_sky_;
  double field_sr_;
  BlindSolveOptions options_;
  double loose_ = 0.0, tight_ = 0.0, count_density_ = 0.0;
  int check_count_ = 0, quad_count_ = 0;
  Proposal best_;
  mutable std::vector<Vec3> near_;
  mutable std::vector<std::pair<int, Vec3>> pairs_;
};

}  // namespace

BlindSolveResult BlindSolve(const StarCatalogue& catalogue, const CameraProfile& profile,
                            const StarData& data, const BlindSolveOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  BlindSolveResult result;
  result.mask_stars = static_cast<int>(data.mask_stars.size());

  // The picture's stars, brightest first.
  std::vector<const MaskStar*> order;
  for (const MaskStar& s : data.mask_stars) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(), [](const MaskStar* a, const MaskStar* b) {
    return a->flux != b->flux ? a->flux > b->flux : a->sum > b->sum;
  });
  const double width = profile.p_vx * kDegToRad;
  std::vector<PictureStar> picture;
  for (const MaskStar* s : order) {
    const AxisAngle a = PixelToAxisAngle(profile, s->x, s->y);
    picture.push_back({s->x, s->y, a.distance / width, std::sin(a.position_angle),
                       std::cos(a.position_angle)});
  }

  // The sky above the horizon, brightest first.
  std::vector<SkyStar> sky;
  for (int i = 0; i < catalogue.count; ++i) {
    const HorizontalPoint h = StarDirection(catalogue, profile, i);
    if (h.ev < kLowestStarEv) continue;
    // The lens sees the refracted sky: the camera's frame is a rotation of
    // the apparent directions, not of the true ones.
    const double apparent = TrueToApparentElevation(h.ev, profile.p_atc);
    sky.push_back({HorizontalVector(h.az, apparent), EffectiveMagnitude(catalogue, profile, i)});
  }
  std::stable_sort(sky.begin(), sky.end(),
                   [](const SkyStar& a, const SkyStar& b) { return a.mag < b.mag; });

  if (result.mask_stars >= kFewestCalibrationStars && sky.size() >= 8 && width > 0.0) {
    Solver solver(profile, std::move(picture), std::move(sky),
                  FieldSolidAngle(profile, data.planes), options);
    result.quad_stars = solver.quad_count();
    solver.Run(result);
    const Proposal& best = solver.best();
    if (best.matched > 0) {
      result.solved = true;
      result.matched = best.matched;
      result.checked = best.checked;
      result.log10_chance = best.log10_chance;
      result.vx = best.width * kRadToDeg;
      // The axis, and the position angle at which the image's +y lies.
      const Vec3 axis = best.rotation.Column(2);
      const Vec3 up_image = best.rotation.Column(1);
      result.ev = std::asin(std::clamp(axis.z, -1.0, 1.0)) * kRadToDeg;
      result.az = Wrap360(std::atan2(axis.y, axis.x) * kRadToDeg);
      const double az = result.az * kDegToRad, ev = result.ev * kDegToRad;
      const Vec3 vertical{-std::sin(ev) * std::cos(az), -std::sin(ev) * std::sin(az),
                          std::cos(ev)};
      const Vec3 right{-std::sin(az), std::cos(az), 0.0};
      result.rot = std::atan2(Dot(up_image, right), Dot(up_image, vertical)) * kRadToDeg;
    }
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

void ApplyBlindSolution(const BlindSolveResult& r, CameraProfile& profile) {
  if (!r.solved) return;
  profile.p_az = static_cast<float>(r.az);
  profile.p_ev = static_cast<float>(r.ev);
  profile.p_rot = static_cast<float>(r.rot);
  profile.p_vx = static_cast<float>(r.vx);
}

std::string BlindSolveText(const BlindSolveResult& r) {
  char text[256];
  if (r.solved) {
    std::snprintf(text, sizeof text,
                  "blind solve: az %.2f ev %.2f rot %.2f vx %.2f: %d of %d stars matched "
                  "(chance 1e%.0f), %d quads, %d proposals, %.2f s",
                  r.az, r.ev, r.rot, r.vx, r.matched, r.checked, r.log10_chance, r.quads,
                  r.proposals, r.seconds);
  } else {
    std::snprintf(text, sizeof text,
                  "no solution: %d stars found, %d used for quads, %d quads, %d proposals "
                  "checked",
                  r.mask_stars, r.quad_stars, r.quads, r.proposals);
  }
  return text;
}

}  // namespace mr4
