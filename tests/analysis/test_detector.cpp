#include "analysis/detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "astro/sky_coordinates.h"
#include "tests/analysis/analysis_fixture.h"

namespace mr4 {
namespace {

using testing::SetPixel;
using testing::SmallContext;

TEST(ProcessField, MaskedPixelIsNeverLitNorCounted) {
  auto c = SmallContext(32, 16);
  for (int x = 5; x < 10; ++x) SetPixel(*c, x, 5, 250);
  c->mask[5 * 32 + 7] = 1;
  SetPixel(*c, 20, 10, 250);
  c->mask[10 * 32 + 20] = 1;
  ProcessField(*c, 0);
  EXPECT_EQ(c->difference[5 * 32 + 7], 0);
  EXPECT_EQ(c->difference_histogram[250], 4);
  EXPECT_EQ(c->changed_histogram[250], 4);
  EXPECT_EQ(c->lit_pixels, 4);
  // 5,6 and 8,9 stay one region through the four-column reach.
  ASSERT_EQ(c->detection_count[0], 1);
  EXPECT_EQ(c->DetectionAt(0, 0).pixels, 4);
}

TEST(ProcessField, FewChangedPixelsKeepThrCAt256) {
  auto c = SmallContext(32, 16);
  // Four pixels of difference 50: none lights through thrC.
  for (int x = 0; x < 4; ++x) SetPixel(*c, 2 + 6 * x, 3, 50);
  ProcessField(*c, 0);
  EXPECT_EQ(c->thrC, 256);
  EXPECT_EQ(c->lit_pixels, 0);
  // A fifth one sets thrC to 50 + dlo and all five light.
  SetPixel(*c, 28, 3, 50);
  ProcessField(*c, 0);
  EXPECT_EQ(c->thrC, 50);
  EXPECT_EQ(c->lit_pixels, 5);
}

TEST(ProcessField, StrictRuleWhenSaturatedObjectFillsTenPixels) {
  auto c = SmallContext(32, 16);
  for (int x = 0; x < 10; ++x) SetPixel(*c, x, 2, 255);
  c->noise_level = 5;  // the 110s rise by more than thrB
  SetPixel(*c, 20, 8, 110);
  for (int x = 0; x < 4; ++x) SetPixel(*c, 20 + x, 12, 110);
  ProcessField(*c, 0);
  EXPECT_EQ(c->top, 255);
  EXPECT_EQ(c->lit_pixels, 10);
  c->current[9 + 2 * 32] = 0;  // nine saturated: normal rule
  ProcessField(*c, 0);
  EXPECT_EQ(c->lit_pixels, 10 + 9 + 5);
}

TEST(ProcessField, RegionSizeLimitProgressiveAndInterlaced) {
  struct Case {
    bool interlaced;
    int pixels;
    int detections;
  };
  for (const Case& k : {Case{false, 2, 0}, Case{false, 3, 1}, Case{true, 1, 0},
                        Case{true, 2, 1}}) {
    auto c = SmallContext(32, 16, k.interlaced);
    for (int i = 0; i < k.pixels; ++i) SetPixel(*c, 10 + i, 4, 250);
    // Enough other difference for the thresholds to settle.
    ProcessField(*c, 0);
    EXPECT_EQ(c->detection_count[0], k.detections)
        << "interlaced " << k.interlaced << " pixels " << k.pixels;
  }
}

TEST(ProcessField, FourColumnsApartJoinFiveDoNot) {
  for (int gap : {4, 5}) {
    auto c = SmallContext(40, 16, true);
    SetPixel(*c, 10, 4, 250);
    SetPixel(*c, 10, 6, 250);
    SetPixel(*c, 10 + gap, 4, 250);
    SetPixel(*c, 10 + gap, 6, 250);
    ProcessField(*c, 0);
    EXPECT_EQ(c->detection_count[0], gap == 4 ? 1 : 2) << gap;
  }
}

TEST(ProcessField, ChainMergingJoinsRegionsMetLater) {
  // Two columns start separate regions; a row above bridges them.
  auto c = SmallContext(40, 16);
  SetPixel(*c, 2, 0, 250);
  SetPixel(*c, 20, 0, 250);
  for (int x = 2; x <= 20; x += 3) SetPixel(*c, x, 3, 250);
  ProcessField(*c, 0);
  ASSERT_EQ(c->detection_count[0], 1);
  const Detection& d = c->DetectionAt(0, 0);
  EXPECT_EQ(d.pixels, 2 + 7);
  EXPECT_DOUBLE_EQ(d.r, std::sqrt(18.0 * 18.0 + 9.0));
}

TEST(ProcessField, CentroidLsumAndMarker) {
  auto c = SmallContext(32, 16);
  for (int y = 4; y < 6; ++y)
    for (int x = 8; x < 10; ++x) SetPixel(*c, x, y, 250);
  c->background[4 * 32 + 8] = 50.0f;  // difference 200 at (8, 4)
  c->field_counter = 17;
  ProcessField(*c, 0);
  ASSERT_EQ(c->detection_count[17], 1);
  const Detection& d = c->DetectionAt(17, 0);
  EXPECT_EQ(d.field, 17);
  EXPECT_DOUBLE_EQ(d.Lsum, 950);
  EXPECT_DOUBLE_EQ(d.x, (8.5 * 450 + 9.5 * 500) / 950);
  EXPECT_DOUBLE_EQ(d.y, (4.5 * 450 + 5.5 * 500) / 950);
  EXPECT_EQ(c->marker[5 * 32 + 9], 255);
  EXPECT_EQ(c->marker[4 * 32 + 8], 120);
  EXPECT_TRUE(c->has_largest);
}

TEST(ProcessField, KeepsFirst200Of250Regions) {
  auto c = SmallContext(250 * 7, 8);
  for (int r = 0; r < 250; ++r)
    for (int i = 0; i < 3; ++i) SetPixel(*c, r * 7 + i, 2, 250);
  ProcessField(*c, 0);
  EXPECT_EQ(c->detection_count[0], 200);
  EXPECT_DOUBLE_EQ(c->DetectionAt(0, 199).x, 199 * 7 + 1.5);
}

TEST(ProcessField, InterlacedFieldsUseTheirOwnRows) {
  auto c = SmallContext(32, 16, true);
  for (int x = 4; x < 7; ++x) SetPixel(*c, x, 5, 250);  // odd row only
  ProcessField(*c, 0);
  EXPECT_EQ(c->detection_count[0], 0);
  c->field_counter = 1;
  ProcessField(*c, 1);
  ASSERT_EQ(c->detection_count[1], 1);
  EXPECT_DOUBLE_EQ(c->DetectionAt(1, 0).y, 5.5);  // its own row's centre
  EXPECT_DOUBLE_EQ(c->DetectionAt(1, 0).Lsum, 2 * 750.0);
}

// Labels are 16-bit: regions beyond the 65,535th of a field are not
// labelled, so a large region met after them is not the field's largest.
TEST(ProcessField, RegionsBeyondTheLabelLimitAreIgnored) {
  constexpr int kWidth = 8192, kPerRow = kWidth / 8, kRowStep = 5;
  for (const int small_regions : {kMaxRegions - 1, kMaxRegions}) {
    const int rows = (small_regions + kPerRow - 1) / kPerRow;
    auto c = SmallContext(kWidth, rows * kRowStep + kRowStep + 1);
    for (int r = 0; r < small_regions; ++r)
      for (int i = 0; i < 3; ++i)
        SetPixel(*c, (r % kPerRow) * 8 + i, (r / kPerRow) * kRowStep, 250);
    for (int x = 0; x < 10; ++x) SetPixel(*c, x, rows * kRowStep, 250);
    ProcessField(*c, 0);
    EXPECT_EQ(c->detection_count[0], kDetectionsPerField);
    EXPECT_EQ(c->largest_pixels, small_regions < kMaxRegions ? 10 : 3) << small_regions;
  }
}

// Track tests put detections straight into the store.
void Put(AnalysisContext& c, int field, double x, double y, int pixels = 10) {
  Detection d;
  d.field = field;
  d.x = x;
  d.y = y;
  d.pixels = pixels;
  d.peak = 200;
  d.Lsum = 100;
  c.DetectionAt(field, c.detection_count[field]++) = d;
}

std::unique_ptr<AnalysisContext> TrackContext(int mins) {
  auto c = SmallContext(640, 480);
  c->params.mins = mins;
  c->params.rm_small = 0;
  c->params.consR = 0;
  c->speed_radius = 10;
  c->tolerance_radius = 3;
  return c;
}

TEST(LinkTracks, GapOfOneFieldIsBridgedGapOfThreeIsNot) {
  struct Case {
    int third_field;
    int tracks;
    int samples_of_first;
  };
  for (const Case& k : {Case{23, 1, 3}, Case{25, 2, 2}}) {
    auto c = TrackContext(1);
    Put(*c, 20, 100, 100);
    Put(*c, 21, 102, 100);
    Put(*c, k.third_field, 100 + 2 * (k.third_field - 20), 100);
    LinkTracks(*c, 40);
    EXPECT_EQ(c->track_count, k.tracks) << k.third_field;
    EXPECT_EQ(c->tracks[0].sample_count, k.samples_of_first);
    EXPECT_EQ(c->tracks[0].end_field, 21 + (k.tracks == 1 ? 2 : 0));
  }
}

TEST(LinkTracks, KeepsAtMost199Tracks) {
  auto c = TrackContext(3);
  for (int field = 20; field < 23; ++field)
    for (int i = 0; i < kDetectionsPerField; ++i) Put(*c, field, 15 + 30 * i, 100);
  LinkTracks(*c, 40);
  EXPECT_EQ(c->track_count, kTracksKept);
  EXPECT_EQ(c->tracks[kTracksKept - 1].sample_count, 3);
}

TEST(LinkTracks, PredictionRadiiAndTies) {
  auto c = TrackContext(1);
  Put(*c, 10, 100, 100);
  Put(*c, 11, 110, 100);  // within Rs + Rt = 13
  Put(*c, 12, 126, 100);  // predicted 112: too far for 2 Rt = 6
  Put(*c, 12, 117, 100);  // 5 away: taken
  Put(*c, 12, 107, 100);  // as near as the one before: loses
  LinkTracks(*c, 20);
  const Track& t = c->tracks[0];
  ASSERT_EQ(t.sample_count, 3);
  EXPECT_EQ(t.samples[2], 12 * kDetectionsPerField + 1);
  EXPECT_NEAR(t.vx, 0.8 * 0.2 * 10 + 0.2 * 7, 1e-12);
  EXPECT_EQ(c->DetectionAt(12, 0).object, 1);  // each started its own track
  EXPECT_EQ(c->DetectionAt(12, 2).object, 2);
}

TEST(LinkTracks, TooShortTrackReleasesItsDetections) {
  auto c = TrackContext(3);
  Put(*c, 10, 100, 100);
  Put(*c, 11, 101, 100);
  LinkTracks(*c, 20);
  EXPECT_EQ(c->DetectionAt(10, 0).object, -1);
  EXPECT_EQ(c->DetectionAt(11, 0).object, -1);
  ASSERT_EQ(c->track_count, 1);  // the fallback
  EXPECT_EQ(c->tracks[0].sample_count, 1);
}

TEST(LinkTracks, SmallTracksRemoved) {
  auto c = TrackContext(3);
  c->params.rm_small = 1;
  c->lit_pixels = 2000;
  for (int t = 0; t < 3; ++t)
    for (int f = 0; f < 3; ++f) Put(*c, 10 + 10 * t + f, 100 + f, 100, 1);
  for (int f = 0; f < 4; ++f) Put(*c, 50 + f, 300 + f, 300, 60);
  LinkTracks(*c, 60);
  ASSERT_EQ(c->track_count, 1);
  EXPECT_EQ(c->tracks[0].first_field, 50);
  EXPECT_EQ(c->DetectionAt(50, 0).object, 0);  // renumbered
  EXPECT_EQ(c->DetectionAt(10, 0).object, -1);
}

// Light on clouds in fields of a whole-field brightness change makes no
// track of its own; a track seen in another field too is kept whole.
TEST(LinkTracks, TracksOnlyInBrightnessChangedFieldsAreNotKept) {
  for (const bool last_field_changed : {true, false}) {
    auto c = TrackContext(3);
    for (int f = 20; f < 24; ++f) {
      Put(*c, f, 100 + 2 * (f - 20), 100);
      c->brightness_changed[f] = f < 23 || last_field_changed;
    }
    LinkTracks(*c, 30);
    ASSERT_EQ(c->track_count, 1);
    EXPECT_EQ(c->tracks[0].sample_count, last_field_changed ? 1 : 4)
        << (last_field_changed ? "only the fallback" : "the whole track");
  }
}

TEST(LinkTracks, NoRegionGivesOneAllZeroTrack) {
  auto c = TrackContext(3);
  LinkTracks(*c, 100);
  ASSERT_EQ(c->track_count, 1);
  const Track& t = c->tracks[0];
  EXPECT_EQ(t.sample_count, 1);
  EXPECT_EQ(t.pixel_sum, 0);
  EXPECT_EQ(t.last_field, 0);
  const Detection& d = c->Sample(t.samples[0]);
  EXPECT_EQ(d.object, -1);
  EXPECT_EQ(d.field, 0);
  EXPECT_EQ(d.x, 0);
}

TEST(LinkTracks, FallbackTakesTheLargestRegion) {
  auto c = TrackContext(3);
  c->lit_pixels = 77;
  c->has_largest = true;
  c->largest.field = 33;
  c->largest.pixels = 12;
  c->largest.peak = 240;
  c->largest.x = 5.5;
  c->largest.y = 6.5;
  LinkTracks(*c, 100);
  const Track& t = c->tracks[0];
  EXPECT_EQ(t.pixel_sum, 77);
  EXPECT_EQ(t.end_field, 33);
  EXPECT_EQ(c->detections[0].pixels, 12);
  EXPECT_EQ(c->detections[0].x, 5.5);
}

TEST(LinkTracks, JoinsAcrossTheGapWhenPolesAgree) {
  // A on the equator, B on a circle tilted by half a degree: the fitted
  // poles are 0.5 or 179.5 degrees apart, within consR 1 either way.
  for (int leap : {6, 5}) {
    auto c = TrackContext(3);
    c->sky_positions_given = true;
    c->params.consR = 1;
    c->params.leap = leap;
    for (int f = 10; f < 15; ++f) {
      Put(*c, f, 100 + f, 100);
      c->DetectionAt(f, 0).ra = f;
    }
    for (int f = 19; f < 24; ++f) {
      Put(*c, f, 300 + f, 300);
      const SpherePoint p = ProjectOntoGreatCircle(
          std::cos(89.5 * std::numbers::pi / 180), 0,
          std::sin(89.5 * std::numbers::pi / 180), 40 + f, 0);
      c->DetectionAt(f, 0).ra = p.lon;
      c->DetectionAt(f, 0).dec = p.lat;
    }
    LinkTracks(*c, 40);
    if (leap == 6) {
      ASSERT_EQ(c->track_count, 1);
      EXPECT_EQ(c->tracks[0].sample_count, 10);
      EXPECT_EQ(c->tracks[0].end_field, 23);
      EXPECT_EQ(c->DetectionAt(20, 0).object, 0);
    } else {
      EXPECT_EQ(c->track_count, 2);
    }
  }
}

struct Picture {
  std::vector<std::uint8_t> bytes;
  DisplayPicture view;
  Picture(int w, int h) : bytes(std::size_t(w) * h * 3) {
    view = {bytes, w, h};
  }
  const std::uint8_t* At(int x, int y) const {
    return &bytes[(std::size_t(y) * view.width + x) * 3];
  }
};

TEST(DrawDetectionMark, ArmLengthByWidth) {
  struct Case {
    int width;
    int arm;
  };
  for (const Case& k : {Case{800, 3}, Case{1920, 7}, Case{3840, 11}}) {
    Picture p(k.width, 40);
    DrawDetectionMark(p.view, 100.7, 20.2, -1);
    EXPECT_EQ(p.At(100 + k.arm, 20)[1], 255) << k.width;
    EXPECT_EQ(p.At(100 + k.arm + 1, 20)[2], 0) << k.width;
    EXPECT_EQ(p.At(100, 20 - k.arm)[2], 255) << k.width;
  }
  Picture p(800, 40);
  DrawDetectionMark(p.view, 1, 1, 4);  // arms cut at the edges
  EXPECT_EQ(p.At(0, 1)[0], 80);
  EXPECT_EQ(p.At(1, 4)[2], 255);
  DrawDetectionMark(p.view, 900, 1, 4);  // outside: nothing
}

TEST(DrawTrailLine, OutsideTheSegmentOnly) {
  Picture p(640, 480);
  DrawTrailLine(p.view, 100, 50, 200, 100, "spo");
  EXPECT_EQ(p.At(0, 0)[2], 255);
  EXPECT_EQ(p.At(100, 50)[2], 255);
  EXPECT_EQ(p.At(150, 75)[2], 0);
  EXPECT_EQ(p.At(200, 100)[2], 120);
  EXPECT_EQ(p.At(639, 319)[2], 120);
  int drawn = 0;
  for (std::size_t i = 2; i < p.bytes.size(); i += 3) drawn += p.bytes[i] != 0;
  EXPECT_EQ(drawn, 101 + 440);
  Picture q(640, 480);
  DrawTrailLine(q.view, 100, 50, 200, 100, "__noise");
  for (std::uint8_t b : q.bytes) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace mr4
