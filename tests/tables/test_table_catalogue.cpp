// The six tables of the program and the shipped catalogues.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "base/error.h"
#include "base/process_values.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using testing::ExitedWithCode;

const fs::path kShippedData = fs::path(MR4_SOURCE_DIR) / "data";

struct ScratchDir {
  fs::path path;
  // Named after the process: ctest runs tests in parallel processes.
  explicit ScratchDir(const char* name)
      : path(fs::temp_directory_path() / (name + std::string("-") + std::to_string(getpid()))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchDir() { fs::remove_all(path); }
  void Write(const char* name, const std::string& bytes) const {
    std::ofstream(path / name, std::ios::binary) << bytes;
  }
  std::string Read(const char* name) const {
    std::ifstream in(path / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST(TableCatalogue, Schemas) {
  struct Case {
    const TableSchema* schema;
    const char* name;
    std::uint32_t version;
    int block_size;
    int columns;
    int persisted;
  };
  const Case cases[] = {
      {&kDirSchema, "MR4_DIR.csv", 101, 100, 10, 6},
      {&kLeapSchema, "Qorx_LSec.csv", 101, 100, 6, 5},
      {&kShowerSchema, "V14.jx.csv", 0, 1000, 49, 33},
      {&kEclassSchema, "MR4_EClass.csv", 101, 100, 7, 2},
      {&kObjSchema, "OBJ", 0, 1000, 70, 63},
      {&kClipSchema, "CLIP", 0, 1000, 103, 84},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.schema->name, c.name);
    EXPECT_EQ(c.schema->version, c.version);
    EXPECT_EQ(c.schema->block_size, c.block_size);
    EXPECT_EQ(c.schema->column_count(), c.columns);
    int persisted = 0;
    for (const ColumnDescriptor& d : c.schema->columns) persisted += d.persist;
    EXPECT_EQ(persisted, c.persisted);
    EXPECT_STREQ(c.schema->columns[0].name, "exist");
    EXPECT_EQ(c.schema->columns[0].type, kCellId);
    EXPECT_EQ(c.schema->columns[0].persist, 0u);
  }
  EXPECT_EQ(kClipSchema.check_column, 102);
}

// Column constants against the names and types of the listed positions.
TEST(TableCatalogue, ColumnConstants) {
  struct Case {
    const TableSchema* schema;
    int column;
    const char* name;
    std::uint32_t type;
    std::uint32_t persist;
  };
  const Case cases[] = {
      {&kDirSchema, dir::kSaveDir, "save dir", kCellText, 1},
      {&kDirSchema, dir::kYmd, "+ymd", kCellFlag, 1},
      {&kDirSchema, dir::kShutdownrq, "shutdownrq", kCellInt, 0},
      {&kLeapSchema, leap::kDls, "dls", kCellFloat, 1},
      {&kShowerSchema, shower::kInUse, "*", kCellFlag, 0},
      {&kShowerSchema, shower::kSdr, "sdr", kCellFloat, 1},
      {&kShowerSchema, shower::kNs, "ns", kCellInt, 1},
      {&kShowerSchema, shower::kIauno, "iauno", kCellFloat, 1},
      {&kShowerSchema, shower::kRemark, "remark", kCellText, 1},
      {&kShowerSchema, shower::kMDp, "M/Dp", kCellText, 0},
      {&kShowerSchema, shower::kDvgPercent, "dvg%", kCellFloat, 0},
      {&kShowerSchema, shower::kItemdata, "itemdata", kCellInt, 0},
      {&kEclassSchema, eclass::kTarget, "target", kCellFlag, 1},
      {&kObjSchema, obj::kClass, "class", kCellText, 1},
      {&kObjSchema, obj::kManual, "manual", kCellFlag, 1},
      {&kObjSchema, obj::kMemo, "memo", kCellText, 1},
      {&kObjSchema, obj::kVVg, "v_Vg", kCellFloat, 1},
      {&kObjSchema, obj::kCline, "cline", kCellInt, 0},
      {&kObjSchema, obj::kSel, "sel", kCellFlag, 0},
      {&kClipSchema, clip::kDirectory, "directory", kCellText, 0},
      {&kClipSchema, clip::kS, "s", kCellFloat, 1},
      {&kClipSchema, clip::kProfile, "profile", kCellText, 0},
      {&kClipSchema, clip::kAvgTimePerFrameSetting, "AvgTimePerFrame_setting", kCellInt, 1},
      {&kClipSchema, clip::kMemo, "memo", kCellText, 1},
      {&kClipSchema, clip::kBVF, "BVF", kCellFloat, 1},
      {&kClipSchema, clip::kMimMag, "mimMag", kCellFloat, 1},
      {&kClipSchema, clip::kDxoffset, "dxoffset", kCellInt, 1},
      {&kClipSchema, clip::kMT, "MT", kCellInt, 0},
      {&kClipSchema, clip::kDisp, "disp", kCellFlag, 0},
      {&kClipSchema, clip::kCheck, "check", kCellInt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ColumnDescriptor& d = c.schema->columns[c.column];
    EXPECT_STREQ(d.name, c.name);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.persist, c.persist);
  }
}

TEST(TableCatalogue, HeaderLinesOfThePersistentTables) {
  Table dirs(kDirSchema);
  Table classes(kEclassSchema);
  EXPECT_EQ(dirs.FormatText(), "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command\r\n");
  EXPECT_EQ(classes.FormatText(), "_Version,_ecls,_target\r\n");
}

TEST(TableCatalogue, ShowerCatalogueRowZeroIsSporadic) {
  ScratchDir home("mr4-catalogue");
  home.Write("three.jx.csv",
             "mk,code,...\r\n"
             "A,PER,1,140,115,151,48,58,59\r\n"
             "A,GEM,2,262\r\n"
             ",ORI\r\n");
  LoadShowerCatalogue(home.path, "three.jx.csv");
  Table& t = Tables().shower;
  EXPECT_EQ(t.name(), "three.jx.csv");
  ASSERT_EQ(t.count(), 4);
  EXPECT_EQ(t.Text(0, shower::kCode), "spo");
  EXPECT_EQ(t.Text(0, shower::kName), "spo");
  EXPECT_EQ(t.Uint(0, shower::kInUse), 1u);
  EXPECT_EQ(t.Text(1, shower::kCode), "PER");
  EXPECT_EQ(t.Float(1, shower::kVg), 59.0f);
  EXPECT_EQ(t.Text(3, shower::kMk), "");
  EXPECT_EQ(t.Text(3, shower::kCode), "ORI");
  EXPECT_EQ(Tables().Find("three.jx.csv"), &t);

  LoadShowerCatalogue(home.path, "missing.jx.csv");  // only row 0
  EXPECT_EQ(t.count(), 1);
}

TEST(ShippedData, LeapSecondTable) {
  std::vector<LeapSecondRow> rows = LoadLeapSecondTable(kShippedData / kLeapSecondFileName);
  ASSERT_EQ(rows.size(), 28u);
  EXPECT_EQ(rows.front().year, 1972);
  EXPECT_EQ(rows.front().ls, 10);
  EXPECT_EQ(rows.back().year, 2017);
  EXPECT_EQ(rows.back().month, 1);
  EXPECT_EQ(rows.back().day, 1);
  EXPECT_EQ(rows.back().ls, 37);
  LeapSecondList list = BuildLeapSecondList(rows);
  EXPECT_EQ(list.mjd[1], 57754.0);  // 2017-01-01
  EXPECT_EQ(list.tai_minus_utc[1], 37.0f);
  EXPECT_EQ(list.mjd[28], 41317.0);  // 1972-01-01
  EXPECT_EQ(list.mjd[29], 0.0);
}

// A leap-second table of no rows or more than 99 ends with 9001, naming the
// file and the line.
TEST(TableCatalogueDeathTest, LeapSecondTableOfNoRowsOrTooManyEndsWith9001) {
  const std::string header = "_Version,_Y,_M,_D,_LS,_dls\r\n";
  std::string hundred = header;
  for (int i = 0; i < 100; ++i) hundred += "101,1972,1,1,10,0\r\n";
  struct Case {
    const char* name;
    std::string file;
    const char* message;
  };
  const Case cases[] = {
      {"no rows", header, "line 2: no rows after the header line"},
      {"100 rows", hundred, "line 101: more than 99 rows"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir home("mr4-leap-rows");
    home.Write("Qorx_LSec.csv", c.file);
    const std::filesystem::path path = home.path / "Qorx_LSec.csv";
    EXPECT_EXIT(BuildLeapSecondList(LoadLeapSecondTable(path)),
                ExitedWithCode(kFatalExitStatus),
                "Leap-second table " + path.string() + ", " + c.message + "(.|\n)*err=9001");
  }
  // 99 rows are taken.
  ScratchDir home("mr4-leap-99");
  home.Write("Qorx_LSec.csv", hundred.substr(0, hundred.size() - 19));
  EXPECT_EQ(LoadLeapSecondTable(home.path / "Qorx_LSec.csv").size(), 99u);
}

TEST(TableCatalogue, MissingProfileIsNotUsedButKept) {
  ScratchDir home("mr4-dirs");
  home.Write("MR4_DIR.csv",
             "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command\r\n"
             "101,1,_/clips/a,_gone.xml,_,0,_\r\n"
             "101,1,_/clips/b,_here.xml,_/save,1,_\n"
             "101,0,_/clips/c,_gone.xml,_,0,_\r\n");
  CreateTables(home.path);
  Table& dirs = Tables().dir;
  ASSERT_EQ(dirs.count(), 3);
  HoldMissingProfiles([](std::string_view name) { return name == "here.xml"; });
  EXPECT_EQ(dirs.Text(0, dir::kProfile), "");  // not used in this run
  EXPECT_EQ(dirs.Text(1, dir::kProfile), "here.xml");
  dirs.SetText(2, dir::kDir, "/clips/other");  // another directory now
  EXPECT_TRUE(WritePersistentTables(home.path));
  EXPECT_EQ(dirs.Text(0, dir::kProfile), "");  // still held for the run
  EXPECT_EQ(home.Read("MR4_DIR.csv"),
            "_Version,_use,_dir,_profile,_save dir,_+ymd,_+command\r\n"
            "101,1,_/clips/a,_gone.xml,_,0,_\r\n"
            "101,1,_/clips/b,_here.xml,_/save,1,_\r\n"
            "101,0,_/clips/other,_,_,0,_\r\n");
  EXPECT_EQ(home.Read("MR4_EClass.csv"), "_Version,_ecls,_target\r\n");
  FreeTables();
  EXPECT_EQ(Tables().dir.count(), 0);
}

}  // namespace
}  // namespace mr4
