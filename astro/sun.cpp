#include "astro/sun.h"

#include <cmath>

#include "astro/angles.h"

namespace mr4 {
namespace {

// The Earth's heliocentric ecliptic longitude L and latitude B from VSOP87
// (P. Bretagnon and G. Francou, "Planetary theories in rectangular and
// spherical variables: VSOP87 solutions", Astron. Astrophys. 202, 309-315,
// 1988), version D (ecliptic and dynamical equinox of date), in the abridged
// form published by J. Meeus, "Astronomical Algorithms", 2nd ed. (1998),
// Appendix III, reproduced here in full. Each term is A cos(B + C tau):
// A in 1e-8 rad, B in rad, C in rad per Julian millennium, tau in Julian
// millennia of TT from J2000.0. The abridged series keeps the Sun's
// longitude within about one arc second of the full theory over 1900-2100.
struct VsopTerm {
  double a;
  double b;
  double c;
};

constexpr VsopTerm kL0[] = {
    {175347046, 0, 0},
    {3341656, 4.6692568, 6283.0758500},
    {34894, 4.62610, 12566.15170},
    {3497, 2.7441, 5753.3849},
    {3418, 2.8289, 3.5231},
    {3136, 3.6277, 77713.7715},
    {2676, 4.4181, 7860.4194},
    {2343, 6.1352, 3930.2097},
    {1324, 0.7425, 11506.7698},
    {1273, 2.0371, 529.6910},
    {1199, 1.1096, 1577.3435},
    {990, 5.233, 5884.927},
    {902, 2.045, 26.298},
    {857, 3.508, 398.149},
    {780, 1.179, 5223.694},
    {753, 2.533, 5507.553},
    {505, 4.583, 18849.228},
    {492, 4.205, 775.523},
    {357, 2.920, 0.067},
    {317, 5.849, 11790.629},
    {284, 1.899, 796.298},
    {271, 0.315, 10977.079},
    {243, 0.345, 5486.778},
    {206, 4.806, 2544.314},
    {205, 1.869, 5573.143},
    {202, 2.458, 6069.777},
    {156, 0.833, 213.299},
    {132, 3.411, 2942.463},
    {126, 1.083, 20.775},
    {115, 0.645, 0.980},
    {103, 0.636, 4694.003},
    {102, 0.976, 15720.839},
    {102, 4.267, 7.114},
    {99, 6.21, 2146.17},
    {98, 0.68, 155.42},
    {86, 5.98, 161000.69},
    {85, 1.30, 6275.96},
    {85, 3.67, 71430.70},
    {80, 1.81, 17260.15},
    {79, 3.04, 12036.46},
    {75, 1.76, 5088.63},
    {74, 3.50, 3154.69},
    {74, 4.68, 801.82},
    {70, 0.83, 9437.76},
    {62, 3.98, 8827.39},
    {61, 1.82, 7084.90},
    {57, 2.78, 6286.60},
    {56, 4.39, 14143.50},
    {56, 3.47, 6279.55},
    {52, 0.19, 12139.55},
    {52, 1.33, 1748.02},
    {51, 0.28, 5856.48},
    {49, 0.49, 1194.45},
    {41, 5.37, 8429.24},
    {41, 2.40, 19651.05},
    {39, 6.17, 10447.39},
    {37, 6.04, 10213.29},
    {37, 2.57, 1059.38},
    {36, 1.71, 2352.87},
    {36, 1.78, 6812.77},
    {33, 0.59, 17789.85},
    {30, 0.44, 83996.85},
    {30, 2.74, 1349.87},
    {25, 3.16, 4690.48},
};

constexpr VsopTerm kL1[] = {
    {628331966747.0, 0, 0},
    {206059, 2.678235, 6283.07585},
    {4303, 2.6351, 12566.1517},
    {425, 1.590, 3.523},
    {119, 5.796, 26.298},
    {109, 2.966, 1577.344},
    {93, 2.59, 18849.23},
    {72, 1.14, 529.69},
    {68, 1.87, 398.15},
    {67, 4.41, 5507.55},
    {59, 2.89, 5223.69},
    {56, 2.17, 155.42},
    {45, 0.40, 796.30},
    {36, 0.47, 775.52},
    {29, 2.65, 7.11},
    {21, 5.34, 0.98},
    {19, 1.85, 5486.78},
    {19, 4.97, 213.30},
    {17, 2.99, 6275.96},
    {16, 0.03, 2544.31},
    {16, 1.43, 2146.17},
    {15, 1.21, 10977.08},
    {12, 2.83, 1748.02},
    {12, 3.26, 5088.63},
    {12, 5.27, 1194.45},
    {12, 2.08, 4694.00},
    {11, 0.77, 553.57},
    {10, 1.30, 6286.60},
    {10, 4.24, 1349.87},
    {9, 2.70, 242.73},
    {9, 5.64, 951.72},
    {8, 5.30, 2352.87},
    {6, 2.65, 9437.76},
    {6, 4.67, 4690.48},
};

constexpr VsopTerm kL2[] = {
    {52919, 0, 0},          {8720, 1.0721, 6283.0758}, {309, 0.867, 12566.152},
    {27, 0.05, 3.52},       {16, 5.19, 26.30},         {16, 3.68, 155.42},
    {10, 0.76, 18849.23},   {9, 2.06, 77713.77},       {7, 0.83, 775.52},
    {5, 4.66, 1577.34},     {4, 1.03, 7.11},           {4, 3.44, 5573.14},
    {3, 5.14, 796.30},      {3, 6.05, 5507.55},        {3, 1.19, 242.73},
    {3, 6.12, 529.69},      {3, 0.31, 398.15},         {3, 2.28, 553.57},
    {2, 4.38, 5223.69},     {2, 3.75, 0.98},
};

constexpr VsopTerm kL3[] = {
    {289, 5.844, 6283.076}, {35, 0, 0},          {17, 5.49, 12566.15},
    {3, 5.20, 155.42},      {1, 4.72, 3.52},     {1, 5.30, 18849.23},
    {1, 5.97, 242.73},
};

constexpr VsopTerm kL4[] = {
    {114, 3.142, 0}, {8, 4.13, 6283.08}, {1, 3.84, 12566.15},
};

constexpr VsopTerm kL5[] = {
    {1, 3.14, 0},
};

constexpr VsopTerm kB0[] = {
    {280, 3.199, 84334.662}, {102, 5.422, 5507.553}, {80, 3.88, 5223.69},
    {44, 3.70, 2352.87},     {32, 4.00, 1577.34},
};

constexpr VsopTerm kB1[] = {
    {9, 3.90, 5507.55}, {6, 1.73, 5223.69},
};

template <std::size_t N>
double SumSeries(const VsopTerm (&terms)[N], double tau) {
  double sum = 0.0;
  for (const VsopTerm& t : terms) sum += t.a * std::cos(t.b + t.c * tau);
  return sum;
}

}  // namespace

double SunLongitude(double jd) {
  const double tau = (jd - 2451545.0) / 365250.0;

  // The Earth seen from the Sun, ecliptic and dynamical equinox of date.
  const double earth_l =
      (SumSeries(kL0, tau) +
       tau * (SumSeries(kL1, tau) +
              tau * (SumSeries(kL2, tau) +
                     tau * (SumSeries(kL3, tau) +
                            tau * (SumSeries(kL4, tau) +
                                   tau * SumSeries(kL5, tau)))))) *
      1e-8;
  const double earth_b =
      (SumSeries(kB0, tau) + tau * SumSeries(kB1, tau)) * 1e-8;

  // The Sun seen from the Earth.
  const double lambda = earth_l + kPi;
  const double beta = -earth_b;

  // Precession in ecliptic coordinates from the date back to J2000 (the
  // IAU 1976 angles of J. H. Lieske et al., Astron. Astrophys. 58, 1-16,
  // 1977, in the form of Meeus, op. cit., chapter 21, with J2000.0 as the
  // fixed epoch): the ecliptic of date is the J2000 ecliptic turned by eta
  // about the node at longitude pi_node, whose longitude on the ecliptic of
  // date is pi_node + p.
  const double t = tau * 10.0;  // Julian centuries
  const double eta =
      ((47.0029 + (-0.03302 + 0.000060 * t) * t) * t) * kArcSecondToRad;
  const double pi_node =
      174.876384 * kDegToRad + (-869.8089 + 0.03536 * t) * t * kArcSecondToRad;
  const double p =
      ((5029.0966 + (1.11113 - 0.000006 * t) * t) * t) * kArcSecondToRad;

  const double phi = lambda - pi_node - p;
  const double x = std::cos(beta) * std::cos(phi);
  const double y = std::cos(beta) * std::sin(phi);
  const double z = std::sin(beta);
  const double y0 = std::cos(eta) * y - std::sin(eta) * z;

  double result = std::atan2(y0, x) + pi_node;
  result = std::fmod(result, kTwoPi);
  if (result < 0.0) result += kTwoPi;
  return result;
}

EquatorialPoint EclipticPointToEquatorial(double jd, double offset_deg) {
  const double c = (SunLongitude(jd) * kRadToDeg - offset_deg) * kDegToRad;
  // Newcomb's obliquity, counted in Julian centuries from 1900.0, the epoch
  // its coefficients belong to.
  const double t = (jd - 2415020.0) / 36525.0;
  const double eps =
      (23.452294 - 0.0130125 * t - 1.64e-6 * t * t + 5.03e-7 * t * t * t) *
      kDegToRad;

  EquatorialPoint out;
  out.dec = ClampedAsin(std::sin(eps) * std::sin(c)) * kRadToDeg;
  const double sin_part = std::cos(eps) * std::sin(c);
  if (std::fabs(std::cos(c)) > 1e-7) {
    out.ra = std::atan2(sin_part, std::cos(c)) * kRadToDeg;
  } else {
    out.ra = sin_part * std::cos(c) >= 0.0 ? 90.0 : -90.0;
  }
  if (out.ra <= -180.0) out.ra += 360.0;
  return out;
}

}  // namespace mr4
