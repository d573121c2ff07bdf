// The shower solutions of the IAU Meteor Data Center lists shipped in
// data/iau-mdc/, as the hand-kept selection there chooses them: one
// published solution per shower. The clip simulator draws its shower
// meteors from these, so that it never shares a fault with the catalogue
// V14.jx.csv the analysis associates with (that catalogue is built from the
// same solutions by data/make_shower_catalogue.py).
//
// Two lists are read: "streamestablisheddata2026.txt" (`"`-quoted fields
// separated by `|`, comment lines beginning with ':' or '+') and
// "streamfulldata-wmpl.csv" (bare fields separated by `|`). The selection
// "selection.csv" holds code, list ("est" or "full"), adno, radiant class,
// sol1, sol2 and a remark; lines beginning with '#' are comments.
//
// Angles in degrees (J2000), speeds in km/s. Pure functions of the files;
// callable from any thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "astro/angles.h"

namespace mr4 {

struct MdcSolution {
  std::string code;        // IAU three-letter code
  std::string list;        // "est" or "full"
  int iau_no = 0;
  int adno = 0;            // the solution's number within its shower
  std::string name;        // shower name as published
  std::string reference;   // as published (with its markup)
  std::string radiant_class;  // "compact", "medium", "diffuse" (selection)
  double los = 0.0;        // solar longitude of the radiant below
  double ra = 0.0, de = 0.0;
  double dra = 0.0, dde = 0.0;  // radiant motion per degree of solar longitude
  double vg = 0.0;         // geocentric speed [km/s]
  double sol1 = 0.0, sol2 = 0.0;  // activity: LoSb, LoSe or the selection's
  double a = 0.0, q = 0.0, e = 0.0, peri = 0.0, node = 0.0, inc = 0.0;  // 0: not given
  long n = 0;              // meteors of the solution; 0: not given

  // The radiant at a solar longitude, moved linearly by the published
  // motion from `los` (the difference folded into (-180, 180]).
  EquatorialPoint RadiantAt(double solar_longitude) const;
  // The solar longitude lies within sol1..sol2 (across 0 where sol1 > sol2).
  bool ActiveAt(double solar_longitude) const;
};

// The selected solutions in the selection's order. False with `error`
// naming the file (and line) when a file cannot be read or a selected
// solution is missing or lacks a radiant, a speed or an activity period.
bool LoadSelectedMdcShowers(const std::filesystem::path& dir, std::vector<MdcSolution>* out,
                            std::string* error);

}  // namespace mr4
