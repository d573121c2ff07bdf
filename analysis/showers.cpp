#include "analysis/showers.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

#include "analysis/result_file.h"
#include "app/settings.h"
#include "astro/ground_geometry.h"
#include "astro/sky_coordinates.h"
#include "astro/time_scales.h"
#include "clips/current_clip.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// The Earth of the speed estimate (km).
constexpr double kSpeedEarthRadius = 6371.0;
constexpr double kSpeedEarthDiameter = 12742.0;
constexpr double kSpeedEarthRadiusSquared = 40589641.0;
// Radiants further below the horizon than this (deg) are not tested.
constexpr double kLowestRadiant = -10.0;
// A meteor speed outside this range (km/s) belongs to no shower.
constexpr double kSlowestMeteor = 12.0;
constexpr double kFastestMeteor = 100.0;
// Activity: how far (deg of solar longitude) after the start and before the
// end a shower can be, so that the wrap-around of the circle is not taken
// for activity.
constexpr double kActivityReach = 120.0;
// Radiants rejected for their distance are logged only when nearer (deg).
constexpr double kFarthestLoggedRadiant = 45.0;
// A flight within this angle (deg) of the end's line of sight gives no end.
constexpr double kLeastCrossingAngle = 5.0;


double AngleDeg(double lon1, double lat1, double lon2, double lat2) {
  return AngularDistance(static_cast<float>(lon1), static_cast<float>(lat1),
                         static_cast<float>(lon2), static_cast<float>(lat2)) *
         kRadToDeg;
}

// The columns of a shower row that the tests use.
struct ShowerRow {
  bool in_use = false;
  std::string code;
  double sol1 = 0, sol2 = 0;
  ShowerRadiant radiant;
  double vg = 0, dvg = 0;
  double sdr = 0, sdv = 0;
};

ShowerRow ReadShower(const Table& t, int row) {
  ShowerRow s;
  s.in_use = t.Uint(row, shower::kInUse) != 0;
  s.code = t.Text(row, shower::kCode);
  s.sol1 = t.Float(row, shower::kSol1);
  s.sol2 = t.Float(row, shower::kSol2);
  s.radiant.solp = t.Float(row, shower::kSolp);
  s.radiant.rap = t.Float(row, shower::kRap);
  s.radiant.decp = t.Float(row, shower::kDecp);
  s.radiant.dra = t.Float(row, shower::kDra);
  s.radiant.ddec = t.Float(row, shower::kDdec);
  s.vg = t.Float(row, shower::kVg);
  s.dvg = t.Float(row, shower::kDvg);
  s.sdr = t.Float(row, shower::kSdr);
  s.sdv = t.Float(row, shower::kSdv);
  return s;
}

// The object columns that the tests use (read under the OBJ lock).
struct ObjectTrail {
  std::string klass;
  double raP = 0, dcP = 0;
  double ra1 = 0, dc1 = 0, ra2 = 0, dc2 = 0;
  double av1 = 0;  // deg/s
  double az1 = 0, ev1 = 0;
};

ObjectTrail ReadTrail(const Table& objects, int row) {
  ObjectTrail o;
  o.klass = objects.Text(row, obj::kClass);
  o.raP = objects.Float(row, obj::kRaP);
  o.dcP = objects.Float(row, obj::kDcP);
  o.ra1 = objects.Float(row, obj::kRa1);
  o.dc1 = objects.Float(row, obj::kDc1);
  o.ra2 = objects.Float(row, obj::kRa2);
  o.dc2 = objects.Float(row, obj::kDc2);
  o.av1 = objects.Float(row, obj::kAv1);
  o.az1 = objects.Float(row, obj::kAz1);
  o.ev1 = objects.Float(row, obj::kEv1);
  return o;
}

// A shower's radiant as this clip sees it.
struct SeenRadiant {
  double dsol = 0;       // solar longitude - solp, normalised
  double ra = 0, dec = 0;  // corrected for zenith attraction
  double az = 0, ev = 0;
  double vg = 0;         // geocentric speed at this solar longitude
  double v = 0;          // speed at the atmosphere
};

// Whether the shower takes part and is active at the profile's solar
// longitude with `margin` deg on either side; then its radiant and speeds.
// Every comparison is written so that a missing solar longitude (NaN) makes
// the shower inactive.
bool SeeRadiant(const ShowerRow& s, const CameraProfile& p, double margin,
                SeenRadiant* out) {
  if (!s.in_use) return false;
  const double sol = p.ClipSolarLongitude;
  const double x = Wrap180(sol - s.sol1);
  const double y = Wrap180(sol - s.sol2);
  if (!(x >= -margin && x <= kActivityReach && y <= margin && y >= -kActivityReach)) {
    return false;
  }
  out->dsol = Wrap180(sol - s.radiant.solp);
  const EquatorialPoint eq = RadiantAtSolarLongitude(s.radiant, sol);
  HorizontalPoint h = EquatorialToHorizontal(p.ClipMjdTt, p.ClipLst, p.p_lat, eq.ra, eq.dec);
  out->vg = out->dsol * s.dvg / 360.0 * 365.25 + s.vg;
  out->ra = eq.ra;
  out->dec = eq.dec;
  if (out->vg > kSlowestShower) {
    out->v = std::sqrt(out->vg * out->vg + kEscapeSpeedSquared);
    h.ev = ZenithAttractedElevation(h.ev, out->vg);
    const EquatorialPoint seen = HorizontalToEquatorial(p.ClipMjdTt, p.ClipLst, p.p_lat, h.az, h.ev);
    out->ra = seen.ra;
    out->dec = seen.dec;
  } else {
    out->v = out->vg;
  }
  out->az = h.az;
  out->ev = h.ev;
  return true;
}

// The radiant lies behind the trail's start: the angle at the radiant
// between the two ends is at most 90 deg.
bool RadiantBehindTrail(const ObjectTrail& o, const SeenRadiant& r) {
  return VertexAngle(static_cast<float>(o.ra1), static_cast<float>(o.dc1),
                     static_cast<float>(r.ra), static_cast<float>(r.dec),
                     static_cast<float>(o.ra2), static_cast<float>(o.dc2)) <= 90.0;
}

// Angle (deg) between the radiant and the trail's great circle.
double DistanceFromTrailCircle(const ObjectTrail& o, const SeenRadiant& r) {
  const double p = o.dcP * kDegToRad, l = o.raP * kDegToRad;
  const SpherePoint n = ProjectOntoGreatCircle(std::cos(p) * std::cos(l), std::cos(p) * std::sin(l),
                                               std::sin(p), r.ra, r.dec);
  return AngleDeg(r.ra, r.dec, n.lon, n.lat);
}

// The meteor's height at the start and its speed from the start's angular
// velocity, its distance D (deg) from the radiant and its elevation.
struct SpeedEstimate {
  double h1 = 0;  // km
  double vo = 0;  // km/s
};

SpeedEstimate EstimateSpeed(double av1, double radiant_distance, double ev1) {
  const double w = av1 * kDegToRad;
  const double sin_d = std::sin(radiant_distance * kDegToRad);
  const double sin_e = std::sin(ev1 * kDegToRad);
  const double k = w * 80.0 / (sin_d * sin_e - 0.5 * w);
  SpeedEstimate out;
  out.h1 = k < 0.0 ? 130.0 : 80.0 + k / 2.0;
  const double slant = std::sqrt(out.h1 * out.h1 + kSpeedEarthRadiusSquared * sin_e * sin_e +
                                 kSpeedEarthDiameter * out.h1) -
                       kSpeedEarthRadius * sin_e;
  out.vo = slant * w / sin_d;
  return out;
}

void ResetWorkingColumns(Table& showers, int row) {
  showers.SetFloat(row, shower::kDsol, 0.0f);
  showers.SetFloat(row, shower::kDR, 0.0f);
  showers.SetFloat(row, shower::kDvgPercent, 0.0f);
  showers.SetFloat(row, shower::kVgc, 0.0f);
  showers.SetUint(row, shower::kSel, 0);
  showers.SetInt(row, shower::kValid, 0);
}

struct Winner {
  int row = -1;
  std::string code;
  double r = 180.0;
  double h1 = 0, v = 0, dv = 0, vo = 0;
  double ra = 0, dec = 0;
};

}  // namespace

void FillShowerDates(int row, int year) {
  Table& t = Tables().shower;
  const struct {
    shower::Column sol, date;
  } pairs[] = {{shower::kSol1, shower::kMD1}, {shower::kSol2, shower::kMD2},
               {shower::kSolp, shower::kMDp}};
  for (const auto& pair : pairs) {
    const MonthDay md = SolarLongitudeToDate(t.Float(row, pair.sol), year);
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d", md.month, md.day);
    t.SetText(row, pair.date, text);
  }
}

void PrepareShowerTable(int year) {
  Table& t = Tables().shower;
  // Row 0 is the sporadic entry the class lists start with; a table read
  // without its placeholder still gets one.
  if (t.count() == 0) t.AppendRow();
  for (int i = 1; i < t.count(); ++i) {
    if (!t.Exists(i)) continue;
    FillShowerDates(i, year);
    t.SetUint(i, shower::kInUse, 1);
  }
  t.SetUint(0, shower::kInUse, 1);
  t.SetText(0, shower::kCode, kSporadicCode);
  t.SetText(0, shower::kName, kSporadicCode);
  t.SetFloat(0, shower::kDsol, 0.0f);
  t.SetFloat(0, shower::kDR, 0.0f);
}

int AssociateShower(AnalysisContext& c, int object_row, int shower) {
  Table& objects = Tables().obj;
  Table& showers = Tables().shower;
  ObjectTrail o;
  {
    std::lock_guard<TableLock> lock(objects.lock());
    o = ReadTrail(objects, object_row);
    objects.SetFloat(object_row, obj::kDr, -1.0f);
    objects.SetFloat(object_row, obj::kDv, -1.0f);
    objects.SetFloat(object_row, obj::kVo, -1.0f);
  }
  if (!o.klass.empty() && o.klass[0] == '_') return 0;

  WriteTrailLog(c, "Shower,code,state,dsol,ra_swr,dec_swr,az_swr,ev_swr,D,r,H1,Vo_swr,sdv,"
                  "dVlimit%%,Vo,dV%%\n");
  if (showers.count() <= 1) {
    WriteTrailLog(c, "\n");
    return 0;
  }

  const Settings& settings = AppSettings();
  const double margin = settings.c_ddays * 360.0 / 365.25;
  const CameraProfile& p = c.profile;
  Winner best;
  for (int i = 1; i < showers.count(); ++i) {
    if (shower != -1 && shower != i) continue;
    if (!showers.Exists(i)) continue;
    const ShowerRow s = ReadShower(showers, i);
    ResetWorkingColumns(showers, i);
    SeenRadiant r;
    if (!SeeRadiant(s, p, margin, &r)) continue;
    showers.SetFloat(i, shower::kDsol, static_cast<float>(r.dsol));
    if (!(r.ev >= kLowestRadiant)) continue;
    if (!RadiantBehindTrail(o, r)) continue;
    const double d_start = AngleDeg(r.ra, r.dec, o.ra1, o.dc1);
    const double d_end = AngleDeg(r.ra, r.dec, o.ra2, o.dc2);
    const double dr = DistanceFromTrailCircle(o, r);
    showers.SetFloat(i, shower::kDR, static_cast<float>(dr));
    const char* code = s.code.c_str();

    if (d_start > d_end) {  // moving towards the radiant
      WriteTrailLog(c, "shower,%8s,p2->p1,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f\n", code, r.dsol,
                    r.ra, r.dec, r.az, r.ev, d_start);
      continue;
    }
    if (!(dr <= settings.c_Nr * s.sdr)) {
      if (dr < kFarthestLoggedRadiant) {
        WriteTrailLog(c, "shower,%8s,r_too_big,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f\n", code,
                      r.dsol, r.ra, r.dec, r.az, r.ev, d_start, dr);
      }
      continue;
    }

    const SpeedEstimate speed = EstimateSpeed(o.av1, d_start, o.ev1);
    const double dv = (speed.vo - r.v) / r.v * 100.0;
    showers.SetFloat(i, shower::kDvgPercent, static_cast<float>(dv));
    showers.SetFloat(i, shower::kVgc, static_cast<float>(speed.vo));
    showers.SetInt(i, shower::kValid, 1);
    const double limit = settings.c_Nv * s.sdv / r.vg * 100.0;
    // A shower without a speed (vg <= 0.1) or without a speed tolerance
    // cannot confirm a meteor; a speed that cannot be computed fits none.
    const bool fits = r.vg > kSlowestShower && s.sdv > 0.0 && speed.vo >= kSlowestMeteor &&
                      speed.vo <= kFastestMeteor && std::fabs(dv) <= limit;
    WriteTrailLog(c,
                  "shower,%8s,%s,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f,%5.1f,"
                  "%3.0f,%4.1f,%.1f,%.1f,%5.1f,%3.0f\n",
                  code, fits ? "passed" : "dV_too_big", r.dsol, r.ra, r.dec, r.az, r.ev, d_start,
                  dr, speed.h1, r.v, s.sdv, limit, speed.vo, dv);
    if (!fits || !(dr < best.r)) continue;
    best.row = i;
    best.code = s.code;
    best.r = dr;
    best.h1 = speed.h1;
    best.v = r.v;
    best.dv = dv;
    best.vo = speed.vo;
    best.ra = r.ra;
    best.dec = r.dec;
  }

  if (best.row < 0) {
    WriteTrailLog(c, "\n");
    return 0;
  }
  showers.SetUint(best.row, shower::kSel, 1);
  c.shower_ra = best.ra;
  c.shower_dec = best.dec;
  const GroundRange range =
      GroundRangeAtHeight(p.p_lat, p.p_alt + p.p_gioidh, o.ev1, best.h1);
  const SpherePoint start = GroundDestination(p.p_lng, p.p_lat, o.az1, range.central_angle_deg);
  {
    std::lock_guard<TableLock> lock(objects.lock());
    if (shower != -1) {
      // A shower assigned by hand replaces an earlier trajectory.
      for (obj::Column column : {obj::kH1, obj::kDist1, obj::kGd1, obj::kAzL1, obj::kEvL1,
                                 obj::kH2, obj::kDist2, obj::kGd2}) {
        objects.SetFloat(object_row, column, -1.0f);
      }
      objects.SetFloat(object_row, obj::kLng2, -999.0f);
      objects.SetFloat(object_row, obj::kLat2, -999.0f);
    }
    objects.SetText(object_row, obj::kClass, best.code);
    objects.SetFloat(object_row, obj::kH1, static_cast<float>(best.h1));
    objects.SetFloat(object_row, obj::kLng1, static_cast<float>(start.lon));
    objects.SetFloat(object_row, obj::kLat1, static_cast<float>(start.lat));
    objects.SetFloat(object_row, obj::kDr, static_cast<float>(best.r));
    objects.SetFloat(object_row, obj::kDv, static_cast<float>(best.dv));
    objects.SetFloat(object_row, obj::kVo, static_cast<float>(best.vo));
    objects.SetFloat(object_row, obj::kVoshower, static_cast<float>(best.v));
  }
  WriteTrailLog(c, "\n");
  return 1;
}

int IsShowerSelectable(int object_row, int shower_row) {
  Table& objects = Tables().obj;
  ObjectTrail o;
  {
    std::lock_guard<TableLock> lock(objects.lock());
    o = ReadTrail(objects, object_row);
  }
  const ShowerRow s = ReadShower(Tables().shower, shower_row);
  const Settings& settings = AppSettings();
  SeenRadiant r;
  if (!SeeRadiant(s, CurrentProfile(), settings.c_ddays * 360.0 / 365.25, &r)) return 0;
  if (!(r.ev >= kLowestRadiant) || !RadiantBehindTrail(o, r)) return 0;
  return DistanceFromTrailCircle(o, r) <= settings.c_Nr * s.sdr ? 1 : 0;
}

double EstimateTrajectory(AnalysisContext& c, int object_row) {
  Table& objects = Tables().obj;
  const CameraProfile& p = c.profile;
  double lng1, lat1, h1, az2, ev2, sec;
  {
    std::lock_guard<TableLock> lock(objects.lock());
    lng1 = objects.Float(object_row, obj::kLng1);
    lat1 = objects.Float(object_row, obj::kLat1);
    h1 = objects.Float(object_row, obj::kH1);
    az2 = objects.Float(object_row, obj::kAz2);
    ev2 = objects.Float(object_row, obj::kEv2);
    sec = objects.Float(object_row, obj::kSec);
  }
  // The radiant seen from the start's ground position; the flight runs
  // away from it.
  const double lst = LocalSiderealTime(p.clip_y, p.clip_mo, p.clip_d, p.clip_h, p.clip_m,
                                       p.clip_s, p.clip_tz, lng1);
  const HorizontalPoint radiant =
      EquatorialToHorizontal(p.ClipMjdTt, lst, lat1, c.shower_ra, c.shower_dec);
  const double azL1 = Wrap360(radiant.az + 180.0);
  {
    std::lock_guard<TableLock> lock(objects.lock());
    objects.SetFloat(object_row, obj::kAzL1, static_cast<float>(azL1));
    objects.SetFloat(object_row, obj::kEvL1, static_cast<float>(radiant.ev));
  }
  const double crossing = std::fabs(Wrap180(azL1 - az2));
  if (!(crossing >= kLeastCrossingAngle && crossing <= 180.0 - kLeastCrossingAngle)) return 5;

  const BearingCrossing end = BearingIntersection(lng1, lat1, azL1, p.p_lng, p.p_lat, az2);
  if (end.distance_km < 0.0) {
    // No crossing (the start lies above the station): no end point rather
    // than one at (-1, -1) thousands of kilometres below the ground.
    std::lock_guard<TableLock> lock(objects.lock());
    for (obj::Column column : {obj::kLng2, obj::kLat2, obj::kH2, obj::kDist2, obj::kGd2}) {
      objects.SetFloat(object_row, column, -1.0f);
    }
    return 5;
  }
  // The triangle of the Earth's centre, the station and the end point.
  const double radius = EarthRadiusKm(p.p_lat);
  const double beta = AngularDistance(p.p_lng, p.p_lat, static_cast<float>(end.lon),
                                      static_cast<float>(end.lat));
  const double alpha = ev2 * kDegToRad + kHalfPi;
  const double h2 = radius * std::sin(alpha) / std::sin(kPi - beta - alpha) - radius +
                    (p.p_gioidh + p.p_alt) / 1000.0;
  const double gd2 = GroundDistanceKm(p.p_lng, p.p_lat, end.lon, end.lat);
  const double chord = ChordDistanceKm(p.p_lng, p.p_lat, end.lon, end.lat);
  const double dist2 = std::sqrt(chord * chord + h2 * h2);
  const double chord1 = ChordDistanceKm(lng1, lat1, end.lon, end.lat);
  const double len = std::sqrt(chord1 * chord1 + (h1 - h2) * (h1 - h2));
  const double gv = len / sec;
  {
    std::lock_guard<TableLock> lock(objects.lock());
    objects.SetFloat(object_row, obj::kLng2, static_cast<float>(end.lon));
    objects.SetFloat(object_row, obj::kLat2, static_cast<float>(end.lat));
    objects.SetFloat(object_row, obj::kH2, static_cast<float>(h2));
    objects.SetFloat(object_row, obj::kDist2, static_cast<float>(dist2));
    objects.SetFloat(object_row, obj::kGd2, static_cast<float>(gd2));
    objects.SetFloat(object_row, obj::kLen, static_cast<float>(len));
    objects.SetFloat(object_row, obj::kGV, static_cast<float>(gv));
  }
  return gv;
}

void SelectCurrentObject(int object_row) {
  AnalysisContextAt(0).current_object = object_row;
  CurrentClip().current_object = object_row;
  std::string klass;
  float dr = 0, dv = 0, vo = 0;
  if (object_row >= 0) {
    Table& objects = Tables().obj;
    std::lock_guard<TableLock> lock(objects.lock());
    klass = objects.Text(object_row, obj::kClass);
    dr = objects.Float(object_row, obj::kDr);
    dv = objects.Float(object_row, obj::kDv);
    vo = objects.Float(object_row, obj::kVo);
  }
  Table& showers = Tables().shower;
  const double sol = CurrentProfile().ClipSolarLongitude;
  for (int i = 0; i < showers.count(); ++i) {
    if (!showers.Exists(i)) continue;
    const double dsol = i == 0 ? 0.0 : Wrap180(sol - showers.Float(i, shower::kSolp));
    ResetWorkingColumns(showers, i);
    showers.SetFloat(i, shower::kDsol, static_cast<float>(dsol));
    showers.SetInt(i, shower::kValid, 1);
  }
  if (klass.empty()) return;
  for (int i = 0; i < showers.count(); ++i) {
    if (!showers.Exists(i) || showers.Text(i, shower::kCode) != klass) continue;
    showers.SetUint(i, shower::kSel, 1);
    showers.SetFloat(i, shower::kDR, dr);
    showers.SetFloat(i, shower::kDvgPercent, dv);
    showers.SetFloat(i, shower::kVgc, vo);
  }
}

}  // namespace mr4
