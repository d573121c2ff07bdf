#include "calib/profile_trials.h"

#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

constexpr int kAnalysisTries = 3;
constexpr int kDetectionLevelReach = 5;
// Scores from here up mean that no candidate measured an object.
constexpr double kUsableScore = 99.0;

void AnalyseWithRetries(const std::function<bool()>& analyse) {
  for (int i = 0; i < kAnalysisTries; ++i) {
    if (analyse()) return;
  }
}

}  // namespace

void TryPointingGrid(CameraProfile& profile, const std::function<void(int trial)>& trial) {
  const float az = profile.p_az, ev = profile.p_ev, rot = profile.p_rot;
  struct Restore {
    CameraProfile& p;
    float az, ev, rot;
    ~Restore() {
      p.p_az = az;
      p.p_ev = ev;
      p.p_rot = rot;
    }
  } restore{profile, az, ev, rot};
  const float offsets[] = {-kPointingGridStep, 0.0f, kPointingGridStep};
  int n = 0;
  for (float daz : offsets) {
    for (float dev : offsets) {
      for (float drot : offsets) {
        profile.p_az = az + daz;
        profile.p_ev = ev + dev;
        profile.p_rot = rot + drot;
        trial(++n);
      }
    }
  }
}

double DetectionLevelScore(const Table& clips, const Table& objects, int clip_row) {
  if (clip_row < 0 || !clips.Exists(clip_row)) return kNoObjectScore;
  int best = -1;
  int best_fn = 0;
  int seen = 0;
  for (int o = clips.Int(clip_row, clip::kOline); o >= 0 && seen < objects.count();
       o = objects.Int(o, obj::kOlinenext), ++seen) {
    const int fn = objects.Int(o, obj::kFN);
    if (best < 0 || fn > best_fn) {
      best = o;
      best_fn = fn;
    }
  }
  return best < 0 ? kNoObjectScore : objects.Float(best, obj::kCdeg);
}

int TuneDetectionLevel(CameraProfile& profile, const std::function<bool()>& analyse,
                       const std::function<double()>& score) {
  const int kept = profile.p_u4_dloffset;
  int best = kept;
  double best_score = kUsableScore;
  for (int dlo = kept - kDetectionLevelReach; dlo <= kept + kDetectionLevelReach; ++dlo) {
    profile.p_u4_dloffset = dlo;
    AnalyseWithRetries(analyse);
    const double s = score();
    if (s < best_score) {
      best_score = s;
      best = dlo;
    }
  }
  profile.p_u4_dloffset = best;
  AnalyseWithRetries(analyse);
  return best;
}

}  // namespace mr4
