#include "calib/profile_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "base/error.h"
#include "base/process_values.h"
#include "calib/camera_model.h"
#include "replay/frame_formats.h"
#include "platform/file_replace.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"

namespace mr4 {
namespace {

using P = CameraProfile;
constexpr AttributeKind kI = AttributeKind::kInt;
constexpr AttributeKind kF = AttributeKind::kFloat;
constexpr AttributeKind kT = AttributeKind::kText;

constexpr ProfileAttribute Int(const char* name, int P::*field, bool detection = false) {
  return {name, kI, field, nullptr, nullptr, detection};
}
constexpr ProfileAttribute Float(const char* name, float P::*field, bool detection = false) {
  return {name, kF, nullptr, field, nullptr, detection};
}
constexpr ProfileAttribute Text(const char* name, std::string P::*field) {
  return {name, kT, nullptr, nullptr, field, false};
}
constexpr ProfileAttribute Within(ProfileAttribute a, double low, double high) {
  a.ranged = true;
  a.low = low;
  a.high = high;
  return a;
}

const ProfileAttribute kAttributes[] = {
    Within(Int("cx", &P::cx), 1, kMaxFrameWidth),
    Within(Int("cy", &P::cy), 1, kMaxFrameHeight),
    Within(Float("lng", &P::p_lng), 0, 360),
    Within(Float("lat", &P::p_lat), -90, 90),
    Within(Float("alt", &P::p_alt), -9999, 999999),
    Within(Float("gioidh", &P::p_gioidh), -9999, 999999),
    Within(Int("tz", &P::p_tz), -86400, 86400),
    Within(Float("az", &P::p_az), 0, 360),
    Within(Float("ev", &P::p_ev), -90, 90),
    Within(Float("rot", &P::p_rot), -180, 180),
    Within(Float("vx", &P::p_vx), 0, 360),
    Within(Float("yx", &P::p_yx), 0, 2),
    Within(Float("dx", &P::p_dx), -1000, 1000),
    Within(Float("dy", &P::p_dy), -1000, 1000),
    Within(Float("k4", &P::p_k4), -1, 1),
    Within(Float("k3", &P::p_k3), -1, 1),
    Within(Float("k2", &P::p_k2), -1, 1),
    Within(Float("atc", &P::p_atc), 0, 100),
    Within(Int("maxLev", &P::maxl), 0, 255),
    Within(Float("maxMag", &P::maxm), -10, 30),
    Within(Int("minLev", &P::minl), 1, 255),
    Within(Float("mimMag", &P::minm), -10, 30),
    Float("maxdps", &P::p_u4_dps, true),
    Within(Float("maxedeg", &P::p_u4_edeg, true), 0, 30),
    Within(Float("cdlim", &P::p_u4_cdlim, true), -1, 30),
    Within(Int("dlo", &P::p_u4_dloffset, true), -255, 255),
    Within(Float("consR", &P::p_u4_consR, true), 0, 10),
    Within(Float("refmag", &P::p_u4_refmag, true), -5, 11),
    Float("ddpix", &P::p_u4_ddpix, true),
    Within(Float("BVF", &P::p_u4_bvf, true), -10, 10),
    Within(Int("dlim", &P::p_u4_dlim, true), 1, 99),
    Int("dxoffset", &P::p_u4_dxoffset, true),
    Within(Int("dapix", &P::p_u4_dapix, true), 2, 512),
    Within(Int("s1", &P::p_u4_f1, true), -1, 2005),
    Within(Int("s2", &P::p_u4_f2, true), -1, 2005),
    Within(Int("mins", &P::p_u4_mins, true), 0, 100),
    Within(Int("leaps", &P::p_u4_leap, true), 0, 300),
    Int("rm_small", &P::p_u4_rm_small, true),
    Int("head", &P::p_head),
    Within(Int("interlaced", &P::p_inter), 0, 1),
    Within(Int("bbf", &P::p_bbf), 0, 1),
    Within(Float("tme", &P::p_tme), 0, 1000),
    Text("lid", &P::p_lid),
    Text("sid", &P::p_sid),
    Text("observer", &P::p_oname),
    Text("source_type", &P::p_source_type),
    Text("source_name", &P::p_source_name),
    Text("cam", &P::p_cam),
    Text("lens", &P::p_lens),
    Text("cap", &P::p_cap),
    Text("fourcc_original", &P::p_fourcc_original),
    Text("fourcc", &P::p_fourcc),
    Text("memo", &P::p_memo),
    Text("codec", &P::p_codec),
};

int Column(const Table& table, const char* name) {
  const int column = table.FindColumn(name);
  if (column < 0) FatalError("no column %s", name);
  return column;
}

// A row appended to the clip table for one file operation, deleted again
// when the operation ends.
class TemporaryClipRow {
 public:
  TemporaryClipRow() : table_(Tables().clip), row_(table_.AppendRow()) {
    table_.SetInt(row_, clip::kOline, -1);
  }
  ~TemporaryClipRow() { table_.DeleteRow(row_); }
  TemporaryClipRow(const TemporaryClipRow&) = delete;
  TemporaryClipRow& operator=(const TemporaryClipRow&) = delete;
  Table& table() { return table_; }
  int row() const { return row_; }

 private:
  Table& table_;
  int row_;
};

}  // namespace

std::span<const ProfileAttribute> ProfileAttributes() { return kAttributes; }

const ProfileAttribute* FindProfileAttribute(std::string_view name) {
  for (const ProfileAttribute& a : kAttributes) {
    if (name == a.name) return &a;
  }
  return nullptr;
}

std::string AttributeText(const CameraProfile& p, const ProfileAttribute& a) {
  char text[64];
  switch (a.kind) {
    case AttributeKind::kInt:
      std::snprintf(text, sizeof text, "%d", p.*a.int_field);
      return text;
    case AttributeKind::kFloat:
      std::snprintf(text, sizeof text, "%f", static_cast<double>(p.*a.float_field));
      return text;
    case AttributeKind::kText:
      return p.*a.text_field;
  }
  return {};
}

bool AttributeInRange(const CameraProfile& p, const ProfileAttribute& a) {
  if (!a.ranged) return true;
  double v = 0.0;
  switch (a.kind) {
    case AttributeKind::kInt: v = p.*a.int_field; break;
    case AttributeKind::kFloat: v = p.*a.float_field; break;
    case AttributeKind::kText: return true;
  }
  return v >= a.low && v <= a.high;
}

std::string AttributeRangeText(const ProfileAttribute& a) {
  if (!a.ranged) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%g to %g", a.low, a.high);
  return text;
}

bool SetAttribute(CameraProfile& p, const ProfileAttribute& a, std::string_view text) {
  const std::string value(text);
  char* end = nullptr;
  switch (a.kind) {
    case AttributeKind::kInt: {
      const long v = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
      p.*a.int_field = static_cast<int>(v);
      return true;
    }
    case AttributeKind::kFloat: {
      const float v = std::strtof(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !std::isfinite(v)) return false;
      p.*a.float_field = v;
      return true;
    }
    case AttributeKind::kText:
      if (value.size() > static_cast<std::size_t>(kCellTextMaxBytes)) return false;
      p.*a.text_field = value;
      return true;
  }
  return false;
}

void LoadProfileFromRecord(const Table& clip, int row, bool skip_detection,
                           CameraProfile& p) {
  for (const ProfileAttribute& a : kAttributes) {
    if (a.detection && skip_detection) continue;
    const int column = Column(clip, a.name);
    switch (a.kind) {
      case AttributeKind::kInt: p.*a.int_field = clip.Int(row, column); break;
      case AttributeKind::kFloat: p.*a.float_field = clip.Float(row, column); break;
      case AttributeKind::kText: p.*a.text_field = std::string(clip.Text(row, column)); break;
    }
  }
  p.profile = std::string(clip.Text(row, clip::kProfile));
  if (!skip_detection) {
    if (p.p_u4_ddpix < kSmallestDdpix) p.p_u4_ddpix = kDefaultDdpix;
    if (p.p_u4_dapix < 0) p.p_u4_dapix = DefaultDapix(p.cy);
  }
  p.clip_y = clip.Int(row, clip::kY);
  p.clip_mo = clip.Int(row, clip::kMo);
  p.clip_d = clip.Int(row, clip::kD);
  p.clip_h = clip.Int(row, clip::kH);
  p.clip_m = clip.Int(row, clip::kM);
  p.clip_s = clip.Float(row, clip::kS);
  p.clip_tz = clip.Int(row, clip::kTz);
  ComputeClipInstantValues(p);
  BuildDistortionTable(p);
  p.ZeroPoint = 2.5 * std::log10(static_cast<double>(p.maxl)) + p.maxm;
}

void StoreProfileToRecord(const CameraProfile& p, Table& clip, int row) {
  for (const ProfileAttribute& a : kAttributes) {
    const int column = Column(clip, a.name);
    switch (a.kind) {
      case AttributeKind::kInt: clip.SetInt(row, column, p.*a.int_field); break;
      case AttributeKind::kFloat: clip.SetFloat(row, column, p.*a.float_field); break;
      case AttributeKind::kText: clip.SetText(row, column, p.*a.text_field); break;
    }
  }
}

bool ReadProfileFile(const std::filesystem::path& file, CameraProfile& profile) {
  CameraProfile read = profile;
  ResetDetectionDefaults(read);
  TemporaryClipRow temporary;
  Table& clip = temporary.table();
  for (const ProfileAttribute& a : kAttributes) {
    if (!a.detection) continue;
    const int column = Column(clip, a.name);
    if (a.kind == AttributeKind::kInt) clip.SetInt(temporary.row(), column, read.*a.int_field);
    if (a.kind == AttributeKind::kFloat) clip.SetFloat(temporary.row(), column, read.*a.float_field);
  }
  if (ReadRecordIntoClipRow(file, kProfileElement, temporary.row()) <= 0) return false;

  // The clip now in the context keeps its instant.
  const CameraProfile instant = profile;
  LoadProfileFromRecord(clip, temporary.row(), false, read);
  read.clip_y = instant.clip_y;
  read.clip_mo = instant.clip_mo;
  read.clip_d = instant.clip_d;
  read.clip_h = instant.clip_h;
  read.clip_m = instant.clip_m;
  read.clip_s = instant.clip_s;
  read.clip_tz = instant.clip_tz;
  ComputeClipInstantValues(read);
  read.profile = file.filename().string();
  profile = std::move(read);
  return true;
}

bool SaveProfileFile(const std::filesystem::path& file, const CameraProfile& profile) {
  std::string text = kProfileFileHeader;
  text += "\r\n";
  {
    TemporaryClipRow temporary;
    StoreProfileToRecord(profile, temporary.table(), temporary.row());
    WriteElement(&text, kProfileElement, 0, temporary.table(), temporary.row(), true, true);
  }
  if (!ReplaceFileContent(file, text)) {
    ShowError("saveXML: cannot open %s", file.c_str());
    return false;
  }
  return true;
}

std::filesystem::path ProposedProfileFile(std::string_view name, const CameraProfile& p) {
  std::string file;
  if (name.empty()) {
    file = "p_" + p.p_lid + "_" + p.p_sid + "_.XML";
  } else if (name.size() >= 5 && name[0] == 'M' && name[name.size() - 4] == '.') {
    file = "p_" + std::string(name.substr(1, name.size() - 6)) + ".XML";
  } else {
    file = std::string(name);
  }
  return ProfileFile(file);
}

}  // namespace mr4
