#include "analysis/object_class.h"

#include <mutex>
#include <string>

#include "analysis/measurement.h"
#include "analysis/reduction.h"
#include "analysis/result_file.h"
#include "analysis/showers.h"
#include "base/error.h"
#include "calib/camera_profile.h"
#include "calib/profile_file.h"
#include "clips/clip_files.h"
#include "clips/clip_record.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

// The object rows of the clip's chain, in chain order.
std::vector<int> ChainOf(int clip_row) {
  const Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  std::vector<int> chain;
  std::lock_guard lock(objects.lock());
  for (int o = clips.Int(clip_row, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext)) {
    if (static_cast<int>(chain.size()) >= objects.count()) FatalError("oline link broken");
    chain.push_back(o);
  }
  return chain;
}

bool IsObjectOfClip(int clip_row, int object_row) {
  if (clip_row < 0 || object_row < 0 || !Tables().clip.Exists(clip_row)) return false;
  for (int o : ChainOf(clip_row)) {
    if (o == object_row) return true;
  }
  return false;
}

// After a hand change of one object: the clip row describes its objects
// again, as a reading of the rewritten result file will.
bool StoreChangedObject(AnalysisContext& c, int clip_row) {
  SummariseClipObjects(clip_row);
  return RewriteResultFile(c, clip_row);
}

}  // namespace

void LoadClipForClassing(AnalysisContext& c, int clip_row) {
  c.clip_row = clip_row;
  LoadProfileFromRecord(Tables().clip, clip_row, false, c.profile);
}

void ReclassifyObject(AnalysisContext& c, int clip_row, int object_row) {
  Table& objects = Tables().obj;
  // Each of these takes the object table's lock itself.
  ClassifyObject(objects, object_row);
  if (AssociateShower(c, object_row, -1)) {
    GroundPoint(Tables().clip, clip_row, objects, object_row, 1);
    EstimateTrajectory(c, object_row);
  }
  SummariseClipObjects(clip_row);
}

bool SaveClipResult(AnalysisContext& c, int clip_row) {
  Table& clips = Tables().clip;
  StoreProfileToRecord(CurrentProfile(), clips, clip_row);
  if (!RewriteResultFile(c, clip_row)) return false;
  std::string media(clips.Text(clip_row, clip::kMedia));
  ApplyMediaLetter(kKindResult, media);
  clips.SetText(clip_row, clip::kMedia, media);
  clips.SetInt(clip_row, clip::kMT, clips.Int(clip_row, clip::kMT) | KindBit(kKindResult));
  const std::string result_name = std::string(clips.Text(clip_row, clip::kClipName)) + "A.XML";
  clips.SetText(clip_row, clip::kProfile, result_name);
  CurrentProfile().profile = result_name;
  Clips().profile_name = result_name;
  return true;
}

int ReclassifyAllClips(AnalysisContext& c, const std::function<void(int clip_row)>& after_object) {
  Table& clips = Tables().clip;
  int saved = 0;
  for (int row = 0; row < clips.count(); ++row) {
    if (!clips.Exists(row)) continue;
    MakeClipCurrent(row);
    LoadClipForClassing(c, row);
    for (int o : ChainOf(row)) {
      SelectCurrentObject(o);
      ReclassifyObject(c, row, o);
      if (after_object) after_object(row);
    }
    if (SaveClipResult(c, row)) ++saved;
  }
  return saved;
}

ShowerChoice ChooseShower(AnalysisContext& c, int clip_row, int object_row, int shower_row) {
  Table& showers = Tables().shower;
  if (!IsObjectOfClip(clip_row, object_row)) return ShowerChoice::kNoObject;
  if (shower_row < 0 || shower_row >= showers.count() || !showers.Exists(shower_row)) {
    return ShowerChoice::kNotSelectable;
  }
  if (shower_row != 0 && !IsShowerSelectable(object_row, shower_row)) {
    return ShowerChoice::kNotSelectable;
  }
  Table& objects = Tables().obj;
  {
    std::lock_guard lock(objects.lock());
    objects.SetInt(object_row, obj::kManual, kManualShower);
    objects.SetText(object_row, obj::kClass, showers.Text(shower_row, shower::kCode));
  }
  showers.SetUint(shower_row, shower::kSel, 1);
  LoadClipForClassing(c, clip_row);
  ShowerChoice result = ShowerChoice::kChosen;
  if (AssociateShower(c, object_row, shower_row)) {
    GroundPoint(Tables().clip, clip_row, objects, object_row, 1);
    EstimateTrajectory(c, object_row);
    result = ShowerChoice::kAssociated;
  }
  StoreChangedObject(c, clip_row);
  return result;
}

bool ChooseExtraClass(AnalysisContext& c, int clip_row, int object_row, std::string_view name) {
  if (!IsObjectOfClip(clip_row, object_row)) return false;
  Table& objects = Tables().obj;
  {
    std::lock_guard lock(objects.lock());
    objects.SetInt(object_row, obj::kManual, kManualExtraClass);
    objects.SetText(object_row, obj::kClass, name);
  }
  return StoreChangedObject(c, clip_row);
}

}  // namespace mr4
