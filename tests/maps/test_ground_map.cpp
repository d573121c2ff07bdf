// The ground map's files: the DAT reader decodes the run-length rows and
// refuses every broken file with its message (or none, for broken rows),
// leaving an empty map; a picked base map is remembered only when it
// loads; the additional marks are read from their CSV lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "maps/ground_map.h"
#include "app/settings.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

std::string Header(int w, int h, int lon = 1360000, int lat = 340000,
                   int half = 160000) {
  char text[128];
  std::snprintf(text, sizeof text, "Tessarox%8d,%8d,%8d,%8d,%8d,%8d,%8d,%8d", w, h, lon,
                lat, half, 0, 0, 0);
  return std::string(text) + '\0';
}

// One row of 2051 pixels: value 1 for 3 (a short run), value 2 for 2048
// (the longest run).
const std::string kRow2051 = "\x12\x2F\xFF";

TEST(GroundMapReader, DecodesRunsAndTheHeader) {
  test::TempDir dir;
  // Row 2: 0x1A has bit 3 set, so it is a long run: value 1 for
  // 2 * 256 + 0x2F + 1 = 560; then value 15 for 5 * 256 + 0xD2 + 1 = 1491.
  test::WriteFileBytes(dir / "good.DAT",
                       Header(2051, 2, 1395000, -355000, 200000) + kRow2051 +
                           "\x1A\x2F\xFD\xD2" + "trailing bytes are not read");
  GroundRaster r;
  ASSERT_EQ(LoadGroundMap(dir / "good.DAT", r), 1);
  EXPECT_TRUE(r.loaded());
  EXPECT_EQ(r.width, 2051);
  EXPECT_EQ(r.height, 2);
  EXPECT_DOUBLE_EQ(r.lon0, 139.5);
  EXPECT_DOUBLE_EQ(r.lat0, -35.5);
  EXPECT_DOUBLE_EQ(r.half_field, 20.0);
  EXPECT_DOUBLE_EQ(r.scale, 1025 / std::tan(20.0 * kDegToRad));
  ASSERT_EQ(r.pixels.size(), 2051u * 2);
  for (int x : {0, 2}) EXPECT_EQ(r.at(x, 0), 1) << x;
  for (int x : {3, 2050}) EXPECT_EQ(r.at(x, 0), 2) << x;
  for (int x : {0, 559}) EXPECT_EQ(r.at(x, 1), 1) << x;
  for (int x : {560, 2050}) EXPECT_EQ(r.at(x, 1), 15) << x;
}

TEST(GroundMapReader, RowsUpToTheByteLimit) {
  // 7199 single-pixel runs are one byte fewer than the limit; 7200 fail.
  test::TempDir dir;
  test::WriteFileBytes(dir / "a.DAT", Header(7199, 1) + std::string(7199, '\x10'));
  GroundRaster r;
  EXPECT_EQ(LoadGroundMap(dir / "a.DAT", r), 1);
  EXPECT_EQ(r.at(7198, 0), 1);
}

TEST(GroundMapReader, BrokenFilesLeaveAnEmptyMap) {
  test::TempDir dir;
  const std::string header78 = Header(3, 1).substr(1);  // 78 characters, then the zero
  struct Case {
    const char* what;
    std::string bytes;  // empty: no file
    std::string message;  // "%s" stands for the path; empty: no message
  } cases[] = {
      {"no file", "", "Cannot Open GroundMap %s"},
      {"header of 78 characters", header78 + "\x12", "GroundMap Broken header %s"},
      {"no zero byte", Header(3, 1).substr(0, 79) + "\x12\x12", "GroundMap Broken header %s"},
      {"another magic", "Tessarex" + Header(3, 1).substr(8) + "\x12",
       "GroundMap Broken header %s"},
      {"no half field", Header(3, 1, 0, 0, 0) + "\x12", "GroundMap Broken header %s"},
      {"8193 pixels wide", Header(8193, 1) + "\x12", "GroundMap Broken CX,CY %s"},
      {"4321 rows", Header(3, 4321) + "\x12", "GroundMap Broken CX,CY %s"},
      {"no pixels", Header(0, 1), "GroundMap Broken CX,CY %s"},
      {"a run past the row's end", Header(2050, 1) + kRow2051, ""},
      {"a run past the end of a short row", Header(2, 1) + "\x12", ""},
      {"a row of 7200 bytes", Header(7200, 1) + std::string(7200, '\x10'), ""},
      {"the file ends in a row", Header(2051, 2) + kRow2051 + "\x12", ""},
      {"the file ends in a long run", Header(2051, 1) + "\x12\x2F", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir / "map.DAT";
    std::filesystem::remove(path);
    if (!c.bytes.empty()) test::WriteFileBytes(path, c.bytes);
    ScriptedUi ui;
    ScopedUi scoped(ui);
    GroundRaster r;
    r.width = 9;
    r.scale = 1.0;
    r.pixels.assign(9, 3);  // what an earlier load left
    EXPECT_EQ(LoadGroundMap(path, r), 0);
    EXPECT_FALSE(r.loaded());
    EXPECT_EQ(r.scale, 0.0);
    EXPECT_EQ(r.width, 0);
    EXPECT_TRUE(r.pixels.empty());
    if (c.message.empty()) {
      EXPECT_TRUE(ui.messages().empty());
    } else {
      ASSERT_EQ(ui.messages().size(), 1u);
      std::string expected = c.message;
      expected.replace(expected.find("%s"), 2, path.string());
      EXPECT_EQ(ui.messages()[0].text, expected);
    }
  }
}

TEST(GroundMapReader, APickedMapIsRememberedOnlyWhenItLoads) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "broken.DAT", Header(8193, 1) + "\x12");
  test::WriteFileBytes(dir / "good.DAT", Header(2051, 1) + kRow2051);
  Settings& s = AppSettings();
  const Settings saved = s;
  s.g_map = "GMe136n34_16.DAT";
  s.g_ofh = 1.5f;
  s.g_ofv = -2.0f;
  ScriptedUi ui;
  ScopedUi scoped(ui);

  ASSERT_EQ(LoadGroundMap(dir / "good.DAT"), 1);
  EXPECT_EQ(ChooseGroundMap(dir / "broken.DAT"), 0);
  EXPECT_EQ(s.g_map, "GMe136n34_16.DAT");
  EXPECT_EQ(s.g_ofh, 1.5f);
  EXPECT_EQ(s.g_ofv, -2.0f);
  EXPECT_FALSE(GroundMap().loaded());  // all sea

  EXPECT_EQ(ChooseGroundMap(dir / "good.DAT"), 1);
  EXPECT_EQ(s.g_map, (dir / "good.DAT").string());
  EXPECT_EQ(s.g_ofh, 0.0f);
  EXPECT_EQ(s.g_ofv, 0.0f);
  EXPECT_TRUE(GroundMap().loaded());
  s = saved;
  GroundMap() = GroundRaster{};
}

TEST(AddMapReader, MarkLinesAndOthers) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "marks.csv",
                       "MA01,2,139.5,35.5\n"
                       "MA01;1,-0.25,51.5\r\n"
                       "MA02,1,1,1\n"
                       "ma01,1,1,1\n"
                       " MA01,1,1,1\n"
                       "MA01\n"
                       "MA01,7,1\n"
                       "MA01,9,1.5,2.5\n");
  std::vector<AddMapMark> marks{{1, 0, 0}};
  ASSERT_EQ(LoadAddMap(dir / "marks.csv", marks), 1);
  ASSERT_EQ(marks.size(), 3u);
  EXPECT_EQ(marks[0].type, 2);
  EXPECT_FLOAT_EQ(marks[0].lon, 139.5f);
  EXPECT_FLOAT_EQ(marks[0].lat, 35.5f);
  EXPECT_EQ(marks[1].type, 1);
  EXPECT_FLOAT_EQ(marks[1].lon, -0.25f);
  EXPECT_FLOAT_EQ(marks[1].lat, 51.5f);
  EXPECT_EQ(marks[2].type, 9);  // read, not drawn
}

TEST(AddMapReader, AtMost99999LinesAreRead) {
  test::TempDir dir;
  std::string text;
  for (int i = 0; i < 99998; ++i) text += "x\n";
  text += "MA01,1,1,1\nMA01,2,2,2\n";
  test::WriteFileBytes(dir / "marks.csv", text);
  std::vector<AddMapMark> marks;
  ASSERT_EQ(LoadAddMap(dir / "marks.csv", marks), 1);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0].type, 1);
}

TEST(AddMapReader, AMissingFileGivesNoMarks) {
  test::TempDir dir;
  ScriptedUi ui;
  ScopedUi scoped(ui);
  std::vector<AddMapMark> marks{{2, 139.5, 35.5}};
  EXPECT_EQ(LoadAddMap(dir / "none.csv", marks), 0);
  EXPECT_TRUE(marks.empty());
  ASSERT_EQ(ui.messages().size(), 1u);
  EXPECT_EQ(ui.messages()[0].text, "Cannot Open Add Map " + (dir / "none.csv").string());
}

}  // namespace
}  // namespace mr4
