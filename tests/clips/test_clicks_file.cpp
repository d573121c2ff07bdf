#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>

#include "clips/clicks_file.h"
#include "tests/clips/clip_fixture.h"

namespace mr4::test {
namespace {

class ClicksFile : public ClipTest {
 protected:
  ClicksClip Clip() const {
    ClicksClip c;
    c.y = 2024;
    c.mo = 1;
    c.d = 1;
    c.h = 5;
    c.m = 30;
    c.s = 15.25f;
    c.tz = 32400;  // 9 h east: 05:30 local is 20:30 UT the day before
    c.ddega = 0.0123f;
    c.lid = "TK";
    c.sid = "S1";
    c.lng = 139.5f;
    c.lat = 35.25f;
    c.alt = 30.0f;
    c.gioidh = 36.5f;
    return c;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = text.find("\r\n", at);
      EXPECT_NE(end, std::string::npos) << "line without CR LF";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
};

TEST_F(ClicksFile, WriteThenReadBack) {
  const std::vector<Click> clicks = {
      {100.3f, 200.5f, 83.633f, 22.014f, 250.5f, 45.25f},
      {-1.0f, 0.0f, 359.999f, -89.5f, 0.01f, -0.5f},
  };
  const std::filesystem::path path = ClicksFilePath(root_, "M20240101_053015_ST1");
  EXPECT_EQ(path, root_ / "M20240101_053015_ST1_clicks.csv");
  ASSERT_TRUE(WriteClicksFile(path, Clip(), clicks, {1700000000u, 250u}));
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::vector<std::string> lines = Lines(text.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], kClicksHeader);
  EXPECT_EQ(lines[1].rfind("2023,12,31,20,30,15.250,1,100.3,200.5,250.50,45.25,83.633,"
                           "22.014,_TK,_S1,139.50,35.25,30.0,",
                           0),
            0u)
      << lines[1];
  EXPECT_EQ(lines[1].substr(lines[1].size() - 12), ",36.5,0.0123") << lines[1];
  EXPECT_EQ(lines[2].rfind("2023,12,31,20,30,15.250,2,-1.0,0.0,0.01,-0.50,359.999,-89.500,", 0),
            0u)
      << lines[2];

  const std::vector<Click> back = ReadClicksFile(path);
  ASSERT_EQ(back.size(), clicks.size());
  for (std::size_t i = 0; i < clicks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(back[i].x, clicks[i].x, 0.05);
    EXPECT_NEAR(back[i].y, clicks[i].y, 0.05);
    EXPECT_NEAR(back[i].az, clicks[i].az, 0.005);
    EXPECT_NEAR(back[i].ev, clicks[i].ev, 0.005);
    EXPECT_NEAR(back[i].ra, clicks[i].ra, 0.0005);
    EXPECT_NEAR(back[i].dec, clicks[i].dec, 0.0005);
  }
}

TEST_F(ClicksFile, ReaderTakesLfShortLinesAndStopsAt9999) {
  std::string text = std::string(kClicksHeader) + "\n";
  text += "2024,01,01,20,30,15.000,1,10.0,20.0,30.00,40.00,50.000,60.000,_a,_b\n";
  text += "2024,01,01,20,30,15.000,2,11.5\n";  // x only
  text += "\n";                                 // still a click
  for (int i = 0; i < 12000; ++i) text += "2024,01,01,20,30,15.000,3,1,2,3,4,5,6\r\n";
  const std::filesystem::path path = root_ / "M_clicks.csv";
  WriteText(path, text);
  const std::vector<Click> clicks = ReadClicksFile(path);
  ASSERT_EQ(clicks.size(), 9999u);
  EXPECT_FLOAT_EQ(clicks[0].x, 10.0f);
  EXPECT_FLOAT_EQ(clicks[0].y, 20.0f);
  EXPECT_FLOAT_EQ(clicks[0].az, 30.0f);
  EXPECT_FLOAT_EQ(clicks[0].ev, 40.0f);
  EXPECT_FLOAT_EQ(clicks[0].ra, 50.0f);
  EXPECT_FLOAT_EQ(clicks[0].dec, 60.0f);
  EXPECT_FLOAT_EQ(clicks[1].x, 11.5f);
  EXPECT_FLOAT_EQ(clicks[1].y, 0.0f);
  EXPECT_FLOAT_EQ(clicks[2].x, 0.0f);
  EXPECT_FLOAT_EQ(clicks[3].dec, 6.0f);
}

TEST_F(ClicksFile, UnreadableFileGivesNoClicks) {
  EXPECT_TRUE(ReadClicksFile(root_ / "none_clicks.csv").empty());
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text,
            "Cannot read clicks " + (root_ / "none_clicks.csv").native() + " ");
}

// Two files in the same millisecond seed S1 alike, but the scrambler state
// has moved on, so their check values differ.
TEST_F(ClicksFile, CheckValuesDifferWithinOneMillisecond) {
  App().scrambler.Seed(123, 1700000000u);
  const std::vector<Click> clicks(3);
  const ClicksClock clock{1700000000u, 250u};
  ExportScrambler first_state = App().scrambler;
  const std::string first = FormatClicksFile(Clip(), clicks, clock, first_state);
  ExportScrambler second_state = first_state;
  const std::string second = FormatClicksFile(Clip(), clicks, clock, second_state);
  EXPECT_NE(first, second);
  EXPECT_NE(first_state.s, second_state.s);
  // The values are a function of the state: the same state gives the same.
  ExportScrambler again = App().scrambler;
  EXPECT_EQ(FormatClicksFile(Clip(), clicks, clock, again), first);
  // Within one file, each line has its own values.
  const std::vector<std::string> lines = Lines(first);
  ASSERT_EQ(lines.size(), 4u);
  auto checks = [](const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
    return fields[18] + "," + fields[19] + "," + fields[20];
  };
  EXPECT_NE(checks(lines[1]), checks(lines[2]));
  EXPECT_NE(checks(lines[2]), checks(lines[3]));
}

// The check values hide the position: the first two words xor the scaled
// longitude and latitude with values the reader of a file cannot form
// without the constants; a change of the position changes them.
TEST_F(ClicksFile, CheckValuesDependOnThePosition) {
  ExportScrambler a;
  a.Seed(1, 2);
  ExportScrambler b = a;
  std::uint32_t s1a = 77, s1b = 77;
  const CheckValues va = NextCheckValues(s1a, a, 139.5f, 35.25f);
  const CheckValues vb = NextCheckValues(s1b, b, 139.6f, 35.25f);
  EXPECT_NE(va.first, vb.first);
  EXPECT_EQ(va.second, vb.second);
  EXPECT_EQ(va.third, vb.third);
  EXPECT_EQ(a.s, b.s);
  EXPECT_EQ(a.s24, b.s24);
  EXPECT_LE(a.s24, 0xFFFFFFu);
}

TEST_F(ClicksFile, UnwritableFileChangesNothing) {
  App().scrambler.Seed(5, 6);
  const ExportScrambler before = App().scrambler;
  const std::filesystem::path path = root_ / "missing-dir" / "M_clicks.csv";
  EXPECT_FALSE(WriteClicksFile(path, Clip(), std::vector<Click>(2)));
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Cannot open " + path.native());
  EXPECT_EQ(App().scrambler.s, before.s);
  EXPECT_EQ(App().scrambler.s24, before.s24);
}

// A clip whose name carries no date still saves its clicks (its fields go
// out as they are).
TEST_F(ClicksFile, UndatedClipKeepsItsFields) {
  ClicksClip c = Clip();
  c.y = c.mo = c.d = c.h = c.m = 0;
  c.s = 0.0f;
  ExportScrambler state;
  const std::string text = FormatClicksFile(c, {Click{}}, {1, 1}, state);
  EXPECT_EQ(Lines(text)[1].rfind("   0,00,00,00,00,0.000,1,", 0), 0u) << text;
}

}  // namespace
}  // namespace mr4::test
