// What the maps draw: the counts of the loaded objects per shower and per
// extra class, and the display marks that the shower and class switches and
// "all disp"/"all off" leave on the clips, objects, showers and classes.
#include "maps/map_display.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;

// The showers, in row order: a code listed twice, one out of use.
constexpr const char* kShowerCodes[] = {"spo", "PER", "GEM", "PER", "OFF"};
constexpr int kSpo = 0, kPer = 1, kGem = 2, kPerAgain = 3, kOff = 4;
// The extra classes: one with a shower's code.
constexpr const char* kClassCodes[] = {"SAT", "GEM", "_noise"};
constexpr int kSat = 0, kGemClass = 1, kNoise = 2;

// A clip with its objects' classes; the clip's own class is its first
// object's, as the summary makes it.
struct ClipSpec {
  std::vector<const char*> objects;
};
const ClipSpec kClips[] = {
    {{"PER", "spo"}},
    {{"GEM", ""}},
    {{"SAT", "PER", "_noise"}},
    {{"LYR"}},  // a class nobody lists
};

class MapDisplayTest : public ::testing::Test {
 protected:
  std::vector<int> clip_rows_;
  std::vector<std::vector<int>> object_rows_;

  void SetUp() override {
    ProcessTables& t = Tables();
    t.shower.Clear();
    t.eclass.Clear();
    t.obj.Clear();
    t.clip.Clear();
    for (const char* code : kShowerCodes) {
      const int row = t.shower.AppendRow();
      t.shower.SetText(row, shower::kCode, code);
      t.shower.SetUint(row, shower::kInUse, std::string(code) == "OFF" ? 0 : 1);
      t.shower.SetInt(row, shower::kCnt, 99);  // left from an earlier count
    }
    for (const char* code : kClassCodes) {
      const int row = t.eclass.AppendRow();
      t.eclass.SetText(row, eclass::kEcls, code);
      t.eclass.SetInt(row, eclass::kCnt, 99);
    }
    for (const ClipSpec& spec : kClips) {
      const int c = t.clip.AppendRow();
      t.clip.SetText(c, clip::kClass, spec.objects[0]);
      t.clip.SetInt(c, clip::kOline, -1);
      std::vector<int> rows;
      for (const char* cls : spec.objects) {
        const int o = t.obj.AppendRow();
        t.obj.SetText(o, obj::kClass, cls);
        t.obj.SetInt(o, obj::kCline, c);
        t.obj.SetInt(o, obj::kOlinenext, -1);
        if (rows.empty()) {
          t.clip.SetInt(c, clip::kOline, o);
        } else {
          t.obj.SetInt(rows.back(), obj::kOlinenext, o);
        }
        rows.push_back(o);
      }
      clip_rows_.push_back(c);
      object_rows_.push_back(rows);
    }
  }
  void TearDown() override {
    Tables().shower.Clear();
    Tables().eclass.Clear();
    Tables().obj.Clear();
    Tables().clip.Clear();
  }

  static int ShowerCount(int row) { return Tables().shower.Int(row, shower::kCnt); }
  static int ClassCount(int row) { return Tables().eclass.Int(row, eclass::kCnt); }
  // The "sel" of every object, clip by clip.
  std::vector<std::vector<int>> ObjectMarks() const {
    std::vector<std::vector<int>> marks;
    for (const std::vector<int>& rows : object_rows_) {
      std::vector<int> m;
      for (int o : rows) m.push_back(static_cast<int>(Tables().obj.Uint(o, obj::kSel)));
      marks.push_back(m);
    }
    return marks;
  }
  std::vector<int> ClipMarks() const {
    std::vector<int> marks;
    for (int c : clip_rows_) marks.push_back(static_cast<int>(Tables().clip.Uint(c, clip::kDisp)));
    return marks;
  }
};

TEST_F(MapDisplayTest, CountsEachClassedObjectOnceOnItsFirstListing) {
  CountObjectsPerClass();
  struct Case {
    const char* what;
    int count;
    int expected;
  };
  const Case cases[] = {
      {"spo", ShowerCount(kSpo), 1},
      {"PER on its first row", ShowerCount(kPer), 2},
      {"PER's second row", ShowerCount(kPerAgain), 0},
      {"GEM as a shower, not as a class", ShowerCount(kGem), 1},
      {"the shower out of use", ShowerCount(kOff), 0},
      {"SAT", ClassCount(kSat), 1},
      {"GEM as a class", ClassCount(kGemClass), 0},
      {"_noise", ClassCount(kNoise), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.count, c.expected) << c.what;
}

TEST_F(MapDisplayTest, DeletedObjectsAndRowsAreNotCounted) {
  Tables().obj.DeleteRow(object_rows_[0][0]);  // a PER object
  Tables().shower.DeleteRow(kPer);             // PER now counts on its second row
  CountObjectsPerClass();
  EXPECT_EQ(ShowerCount(kPerAgain), 1);
  EXPECT_EQ(ShowerCount(kSpo), 1);
}

TEST_F(MapDisplayTest, AllOffThenOneShowerLeavesExactlyThatShowerShown) {
  SetAllMapDisplay(true);
  EXPECT_EQ(ClipMarks(), (std::vector<int>{kMapAllOn, kMapAllOn, kMapAllOn, kMapAllOn}));
  EXPECT_EQ(ObjectMarks()[2], (std::vector<int>{kMapAllOn, kMapAllOn, kMapAllOn}));
  EXPECT_EQ(static_cast<int>(Tables().shower.Uint(kGem, shower::kDisp)), 1);
  EXPECT_EQ(static_cast<int>(Tables().shower.Uint(kOff, shower::kDisp)), 0) << "a shower out of use is not listed";
  EXPECT_EQ(static_cast<int>(Tables().eclass.Uint(kNoise, eclass::kDisp)), 1);

  SetAllMapDisplay(false);
  EXPECT_EQ(ToggleShowerDisplay(kPer), 1);
  EXPECT_EQ(ObjectMarks(), (std::vector<std::vector<int>>{{1, 0}, {0, 0}, {0, 1, 0}, {0}}));
  EXPECT_EQ(ClipMarks(), (std::vector<int>{1, 0, 0, 0}));
  EXPECT_EQ(static_cast<int>(Tables().shower.Uint(kPer, shower::kDisp)), 1);
  EXPECT_EQ(static_cast<int>(Tables().shower.Uint(kGem, shower::kDisp)), 0);

  // The same shower again switches its objects off.
  EXPECT_EQ(ToggleShowerDisplay(kPer), 0);
  EXPECT_EQ(ObjectMarks(), (std::vector<std::vector<int>>{{0, 0}, {0, 0}, {0, 0, 0}, {0}}));
  EXPECT_EQ(ClipMarks(), (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(MapDisplayTest, ExtraClassSwitchesItsObjectsAndClips) {
  SetAllMapDisplay(false);
  EXPECT_EQ(ToggleExtraClassDisplay(kSat), 1);
  EXPECT_EQ(ObjectMarks(), (std::vector<std::vector<int>>{{0, 0}, {0, 0}, {1, 0, 0}, {0}}));
  EXPECT_EQ(ClipMarks(), (std::vector<int>{0, 0, 1, 0}));
}

TEST_F(MapDisplayTest, SwitchingARowThatDoesNotExistChangesNothing) {
  SetAllMapDisplay(true);
  Tables().shower.DeleteRow(kGem);
  for (int row : {kGem, -1, 99}) {
    EXPECT_EQ(ToggleShowerDisplay(row), -1) << row;
    EXPECT_EQ(ToggleExtraClassDisplay(row == kGem ? 99 : row), -1) << row;
  }
  EXPECT_EQ(ClipMarks(), (std::vector<int>{kMapAllOn, kMapAllOn, kMapAllOn, kMapAllOn}));
}

TEST_F(MapDisplayTest, ObjectChainThatLoopsStillEnds) {
  // The last object of the third clip links back to its first.
  Table& objects = Tables().obj;
  objects.SetInt(object_rows_[2].back(), obj::kOlinenext, object_rows_[2].front());
  SetAllMapDisplay(true);
  EXPECT_EQ(ObjectMarks()[2], (std::vector<int>{kMapAllOn, kMapAllOn, kMapAllOn}));
}

TEST(PlotProfiles, ListsTheProfileFilesByName) {
  const fs::path folder = fs::temp_directory_path() / ("mr4-plot-prof-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder / "sub.XML");
  for (const char* name : {"p_b_.XML", "a.xml", "notes.txt", "XML", "c.XMLX"}) {
    std::ofstream(folder / name) << "x";
  }
  EXPECT_EQ(ListPlotProfiles(folder), (std::vector<std::string>{"a.xml", "p_b_.XML"}));
  EXPECT_TRUE(ListPlotProfiles(folder / "missing").empty());
  fs::remove_all(folder);
}

}  // namespace
}  // namespace mr4
