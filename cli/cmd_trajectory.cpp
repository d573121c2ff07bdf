// `mr4 trajectory`: the meteors that two or more stations saw among the
// scanned clips, each solved for its trajectory and orbit. The clips'
// meteor objects (classes not beginning with "_") are paired by their time
// spans and planes of sight; the paired objects' frames are read from their
// clips' result files and solved together. Writes "trajectories.csv" (one
// line per solved meteor) and one detail file per solved meteor into
// --out DIR or the export folder; the columns are in
// docs/trajectory-files.md.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "analysis/analysis_context.h"
#include "analysis/result_file.h"
#include "app/settings.h"
#include "astro/time_scales.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/scan_range.h"
#include "clips/clip_scan.h"
#include "base/shipped_data.h"
#include "reports/export_files.h"
#include "reports/station_objects.h"
#include "tables/table_catalogue.h"
#include "sim/mdc_showers.h"
#include "trajectory/pairing.h"
#include "trajectory/shower_match.h"
#include "trajectory/trajectory_solver.h"

namespace mr4::cli {
namespace {

namespace fs = std::filesystem;

constexpr char kSummaryName[] = "trajectories.csv";

// The object's frames from its clip's result file; empty when it cannot be
// read (said by the reader).
StationSight SightOf(const StationObject& object) {
  const Table& clips = Tables().clip;
  StationSight s;
  s.station = object.station;
  s.lng_deg = clips.Float(object.clip_row, clip::kLng);
  s.lat_deg = clips.Float(object.clip_row, clip::kLat);
  s.alt_m = clips.Float(object.clip_row, clip::kAlt) + clips.Float(object.clip_row, clip::kGioidh);
  s.t_ref_mjd_utc = ClipTriggerMjdUtc(clips, object.clip_row);
  AnalysisContext& c = AnalysisContextAt(0);
  AllocateAnalysisContext(c);
  if (!EnsureClipTrail(c, object.clip_row) || object.track >= c.track_count) return s;
  const FieldClock clock = ClipFieldClock(clips, object.clip_row);
  int max_level = clips.Int(object.clip_row, clip::kMaxLev);
  double zero_point = 2.5 * std::log10(max_level) + clips.Float(object.clip_row, clip::kMaxMag);
  if (max_level < 1 || clips.Int(object.clip_row, clip::kMinLev) < 1) zero_point = 6.1;
  const Track& t = c.tracks[object.track];
  for (int k = 0; k < t.sample_count; ++k) {
    const Detection& d = c.Sample(t.samples[k]);
    const double mag = d.Lsum < 1 ? zero_point : zero_point - 2.5 * std::log10(d.Lsum);
    s.samples.push_back({clock.Seconds(d.field), d.ra, d.dec, mag});
  }
  return s;
}

void Number(std::string* out, double value, int decimals) {
  *out += ',';
  if (std::isfinite(value)) AppendFixedText(out, value, decimals);
}

// "YYYY-MM-DD hh:mm:ss.sss" of a UTC MJD.
std::string UtcText(double mjd) {
  const CivilTime t = MjdToCivil(mjd);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%06.3f", t.year, t.month, t.day,
                t.hour, t.minute, static_cast<double>(t.second));
  return text;
}

// "T<yyyymmdd>_<hhmmss>_<ms>.csv" of the meteor's begin.
std::string DetailName(double mjd) {
  const CivilTime t = MjdToCivil(mjd);
  char text[48];
  std::snprintf(text, sizeof text, "T%04d%02d%02d_%02d%02d%02d_%03d.csv", t.year, t.month,
                t.day, t.hour, t.minute, static_cast<int>(t.second),
                static_cast<int>(std::fmod(t.second, 1.0f) * 1000.0f) % 1000);
  return text;
}

constexpr char kSummaryHeader[] =
    "begin_utc,stations,detail,begin_lat,begin_lng,begin_h,end_lat,end_lng,end_h,"
    "ra_app,dec_app,ra_geo,dec_geo,v_init,v_avg,vg,a,e,q,i,peri,node,"
    "sd_radiant,sd_radiant_geo,sd_vg,sd_v_init,sd_begin_h,sd_end_h,sd_a,sd_e,sd_q,sd_i,"
    "shower,convergence,rms_arcsec,frames\r\n";
constexpr char kDetailHeader[] = "station,t,lat,lng,h,length,residual_arcsec\r\n";

void AppendSummaryLine(std::string* out, const TrajectorySolution& s, const std::string& stations,
                       const std::string& detail, const std::string& shower) {
  *out += UtcText(s.t_ref_mjd_utc);
  *out += ',' + stations + ',' + detail;
  for (double v : {s.begin_lat_deg, s.begin_lng_deg}) Number(out, v, 5);
  Number(out, s.begin_height_km, 3);
  for (double v : {s.end_lat_deg, s.end_lng_deg}) Number(out, v, 5);
  Number(out, s.end_height_km, 3);
  for (double v : {s.radiant_ra_deg, s.radiant_dec_deg, s.geo_ra_deg, s.geo_dec_deg}) {
    Number(out, v, 3);
  }
  for (double v : {s.v_init_kms, s.v_avg_kms, s.vg_kms}) Number(out, v, 3);
  Number(out, s.a_au, 4);
  Number(out, s.e, 5);
  Number(out, s.q_au, 5);
  for (double v : {s.i_deg, s.peri_deg, s.node_deg}) Number(out, v, 3);
  for (double v : {s.sigma_radiant_deg, s.sigma_geo_radiant_deg, s.sigma_vg_kms,
                   s.sigma_v_init_kms, s.sigma_begin_height_km, s.sigma_end_height_km}) {
    Number(out, v, 3);
  }
  Number(out, s.sigma_a_au, 4);
  Number(out, s.sigma_e, 5);
  Number(out, s.sigma_q_au, 5);
  Number(out, s.sigma_i_deg, 3);
  *out += ',' + shower;
  Number(out, s.max_convergence_deg, 3);
  Number(out, s.rms_residual_arcsec, 2);
  *out += ',' + std::to_string(s.points.size()) + "\r\n";
}

std::string DetailText(const TrajectorySolution& s) {
  std::string text = kDetailHeader;
  for (const TrajectoryPoint& p : s.points) {
    text += p.station;
    Number(&text, p.t_s, 4);
    Number(&text, p.lat_deg, 5);
    Number(&text, p.lng_deg, 5);
    Number(&text, p.height_km, 3);
    Number(&text, p.length_km, 3);
    Number(&text, p.residual_arcsec, 2);
    text += "\r\n";
  }
  return text;
}

// The IAU MDC solutions shipped with the program as the references a solved
// meteor's radiant, speed and orbit are matched against; empty (with a
// message) when they cannot be read.
std::vector<ShowerReference> MdcShowerReferences() {
  std::vector<MdcSolution> solutions;
  std::string error;
  if (!LoadSelectedMdcShowers(ShippedDataDirectory() / "iau-mdc", &solutions, &error)) {
    std::printf("trajectory: %s; showers are the stations' classes\n", error.c_str());
    return {};
  }
  // The lists give 0 for an element they do not publish.
  auto given = [](double v) { return v != 0.0 ? v : NAN; };
  std::vector<ShowerReference> references;
  for (const MdcSolution& m : solutions) {
    ShowerReference r;
    r.code = m.code;
    r.los = m.los;
    r.ra = m.ra;
    r.dec = m.de;
    r.dra = m.dra;
    r.ddec = m.dde;
    r.vg = m.vg;
    r.sol1 = m.sol1;
    r.sol2 = m.sol2;
    r.q = given(m.q);
    r.e = given(m.e);
    r.i = given(m.inc);
    r.peri = given(m.peri);
    r.node = given(m.node);
    if (std::isnan(r.q) || std::isnan(r.e) || std::isnan(r.i) || std::isnan(r.peri) ||
        std::isnan(r.node)) {
      r.q = r.e = r.i = r.peri = r.node = NAN;
    }
    references.push_back(r);
  }
  return references;
}

// The shower code the stations agree on, else "spo".
std::string ShowerOf(const std::vector<const StationObject*>& members) {
  std::string code = members.front()->cls;
  for (const StationObject* m : members) {
    if (m->cls != code) return "spo";
  }
  return code;
}

}  // namespace

int RunTrajectory(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--window", OptionKind::kValue},
                  {"--out", OptionKind::kValue},
                  {"--range", OptionKind::kValue},
                  {"--from", OptionKind::kValue},
                  {"--days", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }
  PairingOptions pairing;
  if (const std::optional<std::string> w = parsed.Value("--window")) {
    char* end = nullptr;
    const double value = std::strtod(w->c_str(), &end);
    if (w->empty() || *end != '\0' || !(value >= 0.0 && value <= 60.0)) {
      return UsageError(context, "--window '" + *w + "' is not a number of seconds 0 .. 60");
    }
    pairing.window_s = value;
  }
  fs::path folder;
  if (const std::optional<std::string> out = parsed.Value("--out")) {
    std::error_code ec;
    if (!fs::is_directory(*out, ec)) {
      return UsageError(context, "--out '" + *out + "' is not a directory");
    }
    folder = *out;
  }
  Settings wanted = AppSettings();
  if (!ReadScanRange(parsed, &wanted, &error)) return UsageError(context, error);
  ApplyScanRange(wanted);
  ReadClipDirectories();
  if (folder.empty()) folder = ExportFolder(AppSettings());

  const StationObjects station_objects = LoadStationObjects(Tables().clip, Tables().obj);
  const std::vector<StationObject>& loaded = station_objects.objects;
  const std::vector<PairingObject>& records = station_objects.records;
  const std::vector<MultiStationMeteor> meteors = PairObjects(records, pairing);
  std::printf("trajectory: %zu meteor objects, %zu multi-station meteors\n", loaded.size(),
              meteors.size());

  const std::vector<ShowerReference> showers = MdcShowerReferences();
  std::string summary = kSummaryHeader;
  int solved = 0, failed = 0, written_details = 0;
  for (std::size_t m = 0; m < meteors.size(); ++m) {
    std::vector<StationSight> sights;
    std::vector<const StationObject*> members;
    std::string stations;
    for (int i : meteors[m].objects) {
      members.push_back(&loaded[i]);
      sights.push_back(SightOf(loaded[i]));
      if (!stations.empty()) stations += ' ';
      stations += loaded[i].station;
    }
    if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\rsolving %zu of %zu", m + 1, meteors.size());
    const TrajectorySolution s = SolveTrajectory(sights);
    if (!s.ok) {
      ++failed;
      std::printf("failed: %s %s: %s\n", UtcText(records[meteors[m].objects[0]].begin_mjd_utc).c_str(),
                  stations.c_str(), s.failure.c_str());
      continue;
    }
    ++solved;
    const std::string detail = DetailName(s.t_ref_mjd_utc);
    if (WriteExportFile(folder / detail, DetailText(s))) {
      ++written_details;
    } else {
      std::printf("cannot write %s\n", (folder / detail).c_str());
    }
    // The shower by the solved radiant, speed and orbit; without references,
    // the class the stations agree on.
    std::string shower = ShowerOf(members);
    if (!showers.empty()) {
      const std::optional<ShowerMatch> match = MatchShower(s, showers);
      shower = match ? match->code : "spo";
    }
    AppendSummaryLine(&summary, s, stations, detail, shower);
  }
  if (isatty(STDERR_FILENO) && !meteors.empty()) std::fprintf(stderr, "\n");
  const fs::path path = folder / kSummaryName;
  if (!WriteExportFile(path, summary)) {
    std::printf("trajectory: cannot write %s\n", path.c_str());
    return kExitSomeFailed;
  }
  std::printf("trajectory: %s (%d solved, %d failed)\n", path.c_str(), solved, failed);
  return written_details == solved ? kExitOk : kExitSomeFailed;
}

}  // namespace mr4::cli
