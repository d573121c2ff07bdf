// Trial runs over one clip: the pointing grid's order and restore, the
// score of a run from the clip's object chain, and the choice of dlo.
#include <map>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "calib/profile_trials.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

struct Pointing {
  float az, ev, rot;
};

TEST(PointingGrid, RunsTwentySevenNumberedTrialsRotInnermostAndRestores) {
  CameraProfile p;
  p.p_az = 100.0f;
  p.p_ev = 40.0f;
  p.p_rot = -2.0f;
  std::vector<int> numbers;
  std::vector<Pointing> seen;
  TryPointingGrid(p, [&](int n) {
    numbers.push_back(n);
    seen.push_back({p.p_az, p.p_ev, p.p_rot});
  });
  ASSERT_EQ(seen.size(), 27u);
  for (int i = 0; i < 27; ++i) {
    EXPECT_EQ(numbers[static_cast<std::size_t>(i)], i + 1);
    const Pointing& t = seen[static_cast<std::size_t>(i)];
    EXPECT_FLOAT_EQ(t.az, 100.0f + 0.3f * static_cast<float>(i / 9 - 1)) << i;
    EXPECT_FLOAT_EQ(t.ev, 40.0f + 0.3f * static_cast<float>(i / 3 % 3 - 1)) << i;
    EXPECT_FLOAT_EQ(t.rot, -2.0f + 0.3f * static_cast<float>(i % 3 - 1)) << i;
  }
  EXPECT_EQ(p.p_az, 100.0f);
  EXPECT_EQ(p.p_ev, 40.0f);
  EXPECT_EQ(p.p_rot, -2.0f);

  // A trial that fails part-way still gives the pointing back.
  EXPECT_THROW(TryPointingGrid(p,
                               [](int n) {
                                 if (n == 5) throw std::runtime_error("run failed");
                               }),
               std::runtime_error);
  EXPECT_EQ(p.p_az, 100.0f);
  EXPECT_EQ(p.p_ev, 40.0f);
  EXPECT_EQ(p.p_rot, -2.0f);
}

// A clip whose chain holds objects of (fN, cdeg) in chain order; an object
// of another clip sits between them in the table.
struct ClipTables {
  Table clips{kClipSchema};
  Table objects{kObjSchema};
  int clip_row = -1;

  explicit ClipTables(const std::vector<std::pair<int, float>>& chain) {
    clip_row = clips.AppendRow();
    clips.SetInt(clip_row, clip::kOline, -1);
    const int stranger = objects.AppendRow();
    objects.SetInt(stranger, obj::kFN, 1000);
    objects.SetFloat(stranger, obj::kCdeg, 0.01f);
    objects.SetInt(stranger, obj::kOlinenext, -1);
    int last = -1;
    for (const auto& [fn, cdeg] : chain) {
      const int o = objects.AppendRow();
      objects.SetInt(o, obj::kFN, fn);
      objects.SetFloat(o, obj::kCdeg, cdeg);
      objects.SetInt(o, obj::kOlinenext, -1);
      if (last < 0) {
        clips.SetInt(clip_row, clip::kOline, o);
      } else {
        objects.SetInt(last, obj::kOlinenext, o);
      }
      last = o;
    }
  }
};

TEST(DetectionLevelScore, IsTheCdegOfTheLongestObjectOfTheClip) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, float>> chain;
    double score;
  };
  const Case cases[] = {
      {"no object", {}, kNoObjectScore},
      {"one object", {{12, 0.4f}}, 0.4},
      {"largest fN wins, not smallest cdeg", {{5, 0.1f}, {30, 0.7f}, {8, 0.2f}}, 0.7},
      {"first of equal fN", {{9, 0.5f}, {9, 0.2f}}, 0.5},
  };
  for (const Case& c : cases) {
    ClipTables t(c.chain);
    EXPECT_NEAR(DetectionLevelScore(t.clips, t.objects, t.clip_row), c.score, 1e-6) << c.what;
  }
  ClipTables t({{3, 0.3f}});
  EXPECT_EQ(DetectionLevelScore(t.clips, t.objects, -1), kNoObjectScore);
}

TEST(TuneDetectionLevel, KeepsTheBestScoreAndAnalysesOnceMoreWithIt) {
  struct Case {
    const char* what;
    std::map<int, double> scores;  // by dlo; missing: no object
    int chosen;
  };
  const Case cases[] = {
      {"smallest score", {{6, 0.5}, {9, 0.2}, {13, 0.3}}, 9},
      {"first of equal scores", {{7, 0.2}, {12, 0.2}}, 7},
      {"no object anywhere keeps dlo", {}, 10},
      {"scores of 99 and more are no fit", {{5, 99.0}, {14, 99.5}}, 10},
  };
  for (const Case& c : cases) {
    CameraProfile p;
    p.p_u4_dloffset = 10;
    std::vector<int> analysed;
    const int chosen = TuneDetectionLevel(
        p, [&] { analysed.push_back(p.p_u4_dloffset); return true; },
        [&] {
          const auto it = c.scores.find(p.p_u4_dloffset);
          return it == c.scores.end() ? kNoObjectScore : it->second;
        });
    EXPECT_EQ(chosen, c.chosen) << c.what;
    EXPECT_EQ(p.p_u4_dloffset, c.chosen) << c.what;
    const std::vector<int> expected = {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, c.chosen};
    EXPECT_EQ(analysed, expected) << c.what;
  }
}

TEST(TuneDetectionLevel, RetriesARunThatDidNotRunAtMostThreeTimes) {
  CameraProfile p;
  p.p_u4_dloffset = 0;
  std::map<int, int> tries;
  // dlo -3 runs at its second try; dlo 2 never runs.
  TuneDetectionLevel(
      p,
      [&] {
        const int n = ++tries[p.p_u4_dloffset];
        if (p.p_u4_dloffset == -3) return n >= 2;
        return p.p_u4_dloffset != 2;
      },
      [] { return kNoObjectScore; });
  EXPECT_EQ(tries[-3], 2);
  EXPECT_EQ(tries[2], 3);
  EXPECT_EQ(tries[4], 1);
  EXPECT_EQ(tries[0], 2);  // its candidate run and the final run
}

}  // namespace
}  // namespace mr4
