// The shipped shower catalogue holds, row by row, the IAU MDC solutions its
// selection names, and the reader of the MDC lists (the simulator's source
// of showers) takes the lists as published.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/mdc_showers.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(MR4_SOURCE_DIR) / "data";

std::vector<MdcSolution> Selected() {
  std::vector<MdcSolution> s;
  std::string error;
  EXPECT_TRUE(LoadSelectedMdcShowers(kData / "iau-mdc", &s, &error)) << error;
  return s;
}

TEST(ShowerCatalogue, EveryRowIsItsChosenSolution) {
  const std::vector<MdcSolution> selected = Selected();
  ASSERT_GE(selected.size(), 40u);
  LoadShowerCatalogue(kData, "V14.jx.csv");
  const Table& t = Tables().shower;
  ASSERT_EQ(t.count(), static_cast<int>(selected.size()) + 1);  // row 0: the sporadic entry
  for (std::size_t i = 0; i < selected.size(); ++i) {
    const MdcSolution& s = selected[i];
    const int r = static_cast<int>(i) + 1;
    SCOPED_TRACE(s.code);
    EXPECT_EQ(t.Text(r, shower::kCode), s.code);
    EXPECT_EQ(t.Float(r, shower::kIauno), s.iau_no);
    const struct {
      int column;
      double value;
    } published[] = {
        {shower::kSolp, s.los}, {shower::kSol1, s.sol1}, {shower::kSol2, s.sol2},
        {shower::kRap, s.ra},   {shower::kDecp, s.de},   {shower::kVg, s.vg},
        {shower::kDra, s.dra},  {shower::kDdec, s.dde},  {shower::kA, s.a},
        {shower::kQ, s.q},      {shower::kE, s.e},       {shower::kPeri, s.peri},
        {shower::kNode, s.node}, {shower::kIncl, s.inc},
    };
    for (const auto& p : published) {
      EXPECT_NEAR(t.Float(r, p.column), p.value, 1e-4 * std::fmax(1.0, std::fabs(p.value)))
          << "column " << p.column;
    }
    EXPECT_EQ(t.Int(r, shower::kNs), s.n);
    EXPECT_EQ(t.Text(r, shower::kName), s.name);
    EXPECT_EQ(t.Float(r, shower::kDvg), 0.0f);
    // The source names the list's solution and its reference.
    char adno[16];
    std::snprintf(adno, sizeof adno, "AdNo %03d ", s.adno);
    const std::string source(t.Text(r, shower::kDataSource));
    EXPECT_NE(source.find(s.list == "est" ? "MDC2026 " : "MDC2023 full list "),
              std::string::npos) << source;
    EXPECT_NE(source.find(adno), std::string::npos) << source;
    const std::string author = s.reference.substr(s.reference.find('>') + 1, 6);
    EXPECT_NE(source.find(author), std::string::npos) << source << " / " << author;
    // Tolerances by the stated rules.
    const double sdr = s.radiant_class == "compact" ? 0.4 : s.radiant_class == "medium" ? 0.7 : 1.0;
    EXPECT_NEAR(t.Float(r, shower::kSdr), sdr, 1e-6);
    EXPECT_NEAR(t.Float(r, shower::kSdv), s.vg * (20.0 + 0.3 * s.vg) / 1000.0, 1e-5);
    // The solution's radiant holds inside its activity period.
    EXPECT_TRUE(s.ActiveAt(s.los));
  }
}

TEST(ShowerCatalogue, ShowersTheEstablishedListLacks) {
  const std::vector<MdcSolution> selected = Selected();
  auto find = [&](const std::string& code) -> const MdcSolution* {
    for (const MdcSolution& s : selected) {
      if (s.code == code) return &s;
    }
    return nullptr;
  };
  // Taken from the full list with the IMO working list's activity.
  for (const char* code : {"ACE", "GNO", "PUV"}) {
    const MdcSolution* s = find(code);
    ASSERT_NE(s, nullptr) << code;
    EXPECT_EQ(s->list, "full") << code;
  }
  EXPECT_EQ(find("PUV")->iau_no, 255);
  // Left out: SIA (no longer established), PUP (301, unreferenced) and DLM,
  // which is COM in the current lists.
  for (const char* code : {"SIA", "PUP", "DLM"}) EXPECT_EQ(find(code), nullptr) << code;
  ASSERT_NE(find("COM"), nullptr);
  EXPECT_EQ(find("COM")->iau_no, 20);
}

TEST(MdcShowers, RadiantAndActivityAcrossZero) {
  MdcSolution s;
  s.los = 355.0;
  s.ra = 359.0;
  s.de = 10.0;
  s.dra = 1.0;
  s.dde = -0.5;
  s.sol1 = 350.0;
  s.sol2 = 8.0;
  const EquatorialPoint later = s.RadiantAt(5.0);  // 10 deg of solar longitude on
  EXPECT_NEAR(later.ra, 9.0, 1e-9);
  EXPECT_NEAR(later.dec, 5.0, 1e-9);
  const EquatorialPoint earlier = s.RadiantAt(350.0);
  EXPECT_NEAR(earlier.ra, 354.0, 1e-9);
  EXPECT_NEAR(earlier.dec, 12.5, 1e-9);
  EXPECT_TRUE(s.ActiveAt(355.0));
  EXPECT_TRUE(s.ActiveAt(8.0));
  EXPECT_TRUE(s.ActiveAt(-5.0));
  EXPECT_FALSE(s.ActiveAt(9.0));
  EXPECT_FALSE(s.ActiveAt(349.0));
}

// The readers' refusals, each naming the file; blank and bracketed values.
TEST(MdcShowers, ReadsAndRefuses) {
  const std::string established =
      ": comment\r\n"
      "+2345\r\n"
      "\"00001\"|\"00001\"|\"013\"|\"CAP\"|\" 1\"|\"2023\"|\"alpha-Capricornids \"|\"annual\"|"
      "\"99.0 \"|\"146.0 \"|\"125.8 \"|\"304.8 \"|\"-9.5 \"|\"0.61 \"|\"0.24 \"|\"22.7 \"|"
      "\"\"|\"\"|\"\"|\"\"|\"\"|\"\"|\"2.74\"|\"0.581\"|\"0.79\"|\"267.8\"|\"126.0\"|\"7.7\"|"
      "\"0000 0097\"|\"00000\"|\"00\"|\"169P\"|\"\"|\"T\"|\"x\"|\"14) <A href='x'>Jenniskens, 2023</A>\"\r\n";
  const std::string full =
      "1|118|3|GNO|gamma Normids|annual|0|4|246|-51|1.3|0.8|68| | | | | | |40|0|0| | |T |4) Molau\n"
      "2|118|4|GNO|gamma Normids|annual|0|353|251.6|-51.3|1.3|-0.1|(65.7) | | | | | | | |0|0| | |V |5) J\n";
  struct Case {
    const char* what;
    std::string selection;
    std::string full_list;
    const char* error;  // empty: read
  };
  const std::string head = "# c\ncode,list,adno,radiant,sol1,sol2,remark\n";
  const Case cases[] = {
      {"both lists", head + "CAP,est,13,diffuse,,,\nGNO,full,3,medium,335.5,7.5,x\n", full, ""},
      {"missing solution", head + "CAP,est,12,diffuse,,,\n", full, "selection.csv line 3: no solution"},
      {"unknown list", head + "CAP,other,13,diffuse,,,\n", full, "no solution 13 of CAP in list other"},
      {"no activity", head + "GNO,full,3,medium,,,x\n", full, "GNO lacks"},
      {"bracketed speed", head + "GNO,full,4,medium,1,2,x\n", full, "GNO lacks"},
      {"short line", head + "CAP,est\n", full, "fewer than 6 fields"},
      {"short record", head, "1|118|3\n", "streamfulldata-wmpl.csv line 1: 3 fields"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir("mr4-mdc");
    test::WriteFileBytes(dir / "streamestablisheddata2026.txt", established);
    test::WriteFileBytes(dir / "streamfulldata-wmpl.csv", c.full_list);
    test::WriteFileBytes(dir / "selection.csv", c.selection);
    std::vector<MdcSolution> s;
    std::string error;
    const bool ok = LoadSelectedMdcShowers(dir.path(), &s, &error);
    if (*c.error) {
      EXPECT_FALSE(ok);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(ok) << error;
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].adno, 13);
    EXPECT_EQ(s[0].n, 97);
    EXPECT_EQ(s[0].sol1, 99.0);
    EXPECT_EQ(s[0].vg, 22.7);
    EXPECT_EQ(s[0].inc, 7.7);
    EXPECT_EQ(s[0].name, "alpha-Capricornids");
    EXPECT_EQ(s[1].sol1, 335.5);  // the selection's activity
    EXPECT_EQ(s[1].dde, 0.8);
    EXPECT_EQ(s[1].a, 0.0);       // blank
  }
  test::TempDir empty("mr4-mdc");
  std::vector<MdcSolution> s;
  std::string error;
  EXPECT_FALSE(LoadSelectedMdcShowers(empty.path(), &s, &error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
}

}  // namespace
}  // namespace mr4
