// Camera profiles in clip records and in profile files: copying a profile
// between a `CLIP` row and a CameraProfile, and the files in PROF, one
// `meridra_record` element each, read and written through the clip table.
//
// Everything here runs on the user-interface thread (it appends and deletes
// a temporary row of the clip table). The caller owns the profile.
//
// A profile file: the line `<?xml version="1.0" encoding="UTF-8" ?>`, then
// one `meridra_record` element whose attributes are the clip table's
// persisted columns (the profile's fields by their attribute names: `cx`,
// `lng`, `az`, `maxLev`, ...; the others empty). Lines end with CR LF.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "calib/camera_profile.h"

namespace mr4 {

class Table;

inline constexpr char kProfileElement[] = "meridra_record";
inline constexpr char kProfileFileHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

// The profile's attributes in the order of the profile file's fields.
enum class AttributeKind { kInt, kFloat, kText };
struct ProfileAttribute {
  const char* name;  // attribute and clip-table column
  AttributeKind kind;
  int CameraProfile::*int_field;
  float CameraProfile::*float_field;
  std::string CameraProfile::*text_field;
  bool detection;  // skipped by a load with skip_detection
  // The values the profile page allows, low..high (frame sizes: those the
  // buffers hold); `ranged` is false for the fields without a limit.
  bool ranged = false;
  double low = 0.0, high = 0.0;
};
std::span<const ProfileAttribute> ProfileAttributes();
const ProfileAttribute* FindProfileAttribute(std::string_view name);

// The attribute's value as the record writer writes it ("%d", "%f", text).
std::string AttributeText(const CameraProfile& profile, const ProfileAttribute& a);
// Sets the attribute from text; false (nothing changed) when the text is
// not a whole number of the attribute's kind.
// Whether the attribute's value in `profile` lies within its range (always
// for a text or a field without a limit). NaN lies within no range.
bool AttributeInRange(const CameraProfile& profile, const ProfileAttribute& a);
// The range as "low to high" ("0 to 360"), empty for a field without one.
std::string AttributeRangeText(const ProfileAttribute& a);
bool SetAttribute(CameraProfile& profile, const ProfileAttribute& a,
                  std::string_view text);

// Copies row `row` of `clip` into the profile: the texts and `profile` name,
// the camera, unless `skip_detection` the detection parameters (ddpix below
// 1e-8 becomes 1e-6, a negative dapix the default for the height), the
// recording fields and the clip instant; then the derived values
// (clip-instant values, distortion table, ZeroPoint). A missing row ends
// the program (FatalCode 110 / 111).
void LoadProfileFromRecord(const Table& clip, int row, bool skip_detection,
                           CameraProfile& profile);

// Copies the profile's fields into the row's profile columns; the other
// columns stay.
void StoreProfileToRecord(const CameraProfile& profile, Table& clip, int row);

// "read P" without its dialog: reads `file` into the profile through a
// temporary clip row prefilled with the detection defaults. Attributes
// absent from the file keep those defaults (camera fields: the empty row's
// zeros). The clip instant of the profile stays: a profile file's `y` to
// `s` are zeros or another clip's. Returns false, changing nothing, when
// the file holds no `meridra_record` attribute.
bool ReadProfileFile(const std::filesystem::path& file, CameraProfile& profile);

// "save P" without its dialog: writes the profile to `file` (through a
// temporary file renamed into place). Shows "saveXML: cannot open %s" and
// returns false when the file cannot be written.
bool SaveProfileFile(const std::filesystem::path& file, const CameraProfile& profile);

// The file "save P" proposes in PROF for the current profile name: "p_%s_%s_.XML"
// with `lid` and `sid` when there is none, "p_%s.XML" with the name less its
// first and last five characters when it is a clip result name (starts with
// "M", at least 5 characters, "." four before the end), else the name.
std::filesystem::path ProposedProfileFile(std::string_view current_name,
                                          const CameraProfile& profile);

}  // namespace mr4
