#include "sim/mdc_showers.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <utility>

namespace mr4 {

namespace fs = std::filesystem;

namespace {

constexpr double kBlank = std::numeric_limits<double>::quiet_NaN();

std::string Trim(std::string s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> Split(const std::string& line, const std::string& separator) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (std::size_t at; (at = line.find(separator, from)) != std::string::npos;
       from = at + separator.size()) {
    out.push_back(Trim(line.substr(from, at - from)));
  }
  out.push_back(Trim(line.substr(from)));
  return out;
}

// A published number; NaN for a blank or otherwise unreadable field (the
// lists mark uncertain values by brackets, which are not taken). Spaces
// inside digits ("0000 0097") are the list's padding.
double Number(std::string text) {
  std::erase(text, ' ');
  double value = kBlank;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return kBlank;
  return value;
}

double OrZero(double v) { return std::isnan(v) ? 0.0 : v; }

// Column positions in the two lists.
struct Columns {
  int iau, adno, code, name, losb, lose, los, ra, de, dra, dde, vg, a, q, e, peri, node, inc, n,
      reference;
};
constexpr Columns kEstablished{1, 2, 3, 6, 8, 9, 10, 11, 12, 13, 14, 15, 22,
                               23, 24, 25, 26, 27, 28, 35};
constexpr Columns kFull{1, 2, 3, 4, -1, -1, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 25};

using Key = std::pair<std::string, int>;  // code, AdNo

bool ReadList(const fs::path& path, bool established, std::map<Key, MdcSolution>* out,
              std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path.string();
    return false;
  }
  const Columns& c = established ? kEstablished : kFull;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (Trim(line).empty() || line[0] == ':' || line[0] == '+') continue;
    if (established) {
      if (line.size() < 2 || line.front() != '"' || line.back() != '"') {
        *error = path.string() + " line " + std::to_string(number) + ": not a quoted record";
        return false;
      }
      line = line.substr(1, line.size() - 2);
    }
    const std::vector<std::string> f = Split(line, established ? "\"|\"" : "|");
    if (static_cast<int>(f.size()) <= c.reference) {
      *error = path.string() + " line " + std::to_string(number) + ": " +
               std::to_string(f.size()) + " fields";
      return false;
    }
    MdcSolution s;
    s.code = f[c.code];
    s.list = established ? "est" : "full";
    s.iau_no = static_cast<int>(OrZero(Number(f[c.iau])));
    s.adno = static_cast<int>(OrZero(Number(f[c.adno])));
    s.name = f[c.name];
    s.reference = f[c.reference];
    s.los = Number(f[c.los]);
    s.ra = Number(f[c.ra]);
    s.de = Number(f[c.de]);
    s.dra = OrZero(Number(f[c.dra]));
    s.dde = OrZero(Number(f[c.dde]));
    s.vg = Number(f[c.vg]);
    s.sol1 = c.losb < 0 ? kBlank : Number(f[c.losb]);
    s.sol2 = c.lose < 0 ? kBlank : Number(f[c.lose]);
    s.a = OrZero(Number(f[c.a]));
    s.q = OrZero(Number(f[c.q]));
    s.e = OrZero(Number(f[c.e]));
    s.peri = OrZero(Number(f[c.peri]));
    s.node = OrZero(Number(f[c.node]));
    s.inc = OrZero(Number(f[c.inc]));
    s.n = static_cast<long>(OrZero(Number(f[c.n])));
    (*out)[{s.code, s.adno}] = std::move(s);
  }
  return true;
}

}  // namespace

EquatorialPoint MdcSolution::RadiantAt(double solar_longitude) const {
  const double dl = Wrap180(solar_longitude - los);
  EquatorialPoint p;
  p.ra = Wrap360(ra + dra * dl);
  p.dec = std::fmax(-90.0, std::fmin(90.0, de + dde * dl));
  return p;
}

bool MdcSolution::ActiveAt(double sol) const {
  sol = Wrap360(sol);
  return sol1 <= sol2 ? (sol >= sol1 && sol <= sol2) : (sol >= sol1 || sol <= sol2);
}

bool LoadSelectedMdcShowers(const fs::path& dir, std::vector<MdcSolution>* out,
                            std::string* error) {
  std::map<Key, MdcSolution> established, full;
  if (!ReadList(dir / "streamestablisheddata2026.txt", true, &established, error) ||
      !ReadList(dir / "streamfulldata-wmpl.csv", false, &full, error)) {
    return false;
  }
  const fs::path path = dir / "selection.csv";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path.string();
    return false;
  }
  out->clear();
  std::string line;
  bool header = true;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    const std::string where = path.string() + " line " + std::to_string(number);
    const std::vector<std::string> f = Split(line, ",");
    if (f.size() < 6) {
      *error = where + ": fewer than 6 fields";
      return false;
    }
    const auto& list = f[1] == "est" ? established : full;
    const auto found = list.find({f[0], static_cast<int>(OrZero(Number(f[2])))});
    if ((f[1] != "est" && f[1] != "full") || found == list.end()) {
      *error = where + ": no solution " + f[2] + " of " + f[0] + " in list " + f[1];
      return false;
    }
    MdcSolution s = found->second;
    s.radiant_class = f[3];
    if (std::isnan(s.sol1) || std::isnan(s.sol2)) {
      s.sol1 = Number(f[4]);
      s.sol2 = Number(f[5]);
    }
    if (std::isnan(s.los) || std::isnan(s.ra) || std::isnan(s.de) || !(s.vg > 0) ||
        std::isnan(s.sol1) || std::isnan(s.sol2)) {
      *error = where + ": " + s.code + " lacks a radiant, a speed or an activity period";
      return false;
    }
    out->push_back(std::move(s));
  }
  return true;
}

}  // namespace mr4
