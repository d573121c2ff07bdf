#include "app/settings.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/error.h"
#include "base/process_values.h"
#include "platform/file_replace.h"
#include "platform/system.h"
#include "replay/frame_formats.h"

namespace mr4 {
namespace {

// ---------------------------------------------------------------------------
// The key table, in file order.

struct KeySpec {
  const char* key;
  SettingKind kind;
  int Settings::*settings_int = nullptr;
  float Settings::*settings_float = nullptr;
  std::string Settings::*settings_text = nullptr;
  int CameraProfile::*profile_int = nullptr;
  float CameraProfile::*profile_float = nullptr;
  std::string CameraProfile::*profile_text = nullptr;
  int text_bytes = 0;
  bool read = true;
  bool written = true;
  SettingItem::AfterRead after_read = nullptr;
  bool ranged = false;
  double low = 0.0, high = 0.0;
};

constexpr KeySpec Key(const char* key, int Settings::*m) {
  KeySpec k{key, SettingKind::kInt};
  k.settings_int = m;
  return k;
}
constexpr KeySpec Key(const char* key, float Settings::*m) {
  KeySpec k{key, SettingKind::kFloat};
  k.settings_float = m;
  return k;
}
constexpr KeySpec Key(const char* key, std::string Settings::*m, int bytes) {
  KeySpec k{key, SettingKind::kText};
  k.settings_text = m;
  k.text_bytes = bytes;
  return k;
}
constexpr KeySpec Key(const char* key, int CameraProfile::*m) {
  KeySpec k{key, SettingKind::kInt};
  k.profile_int = m;
  return k;
}
constexpr KeySpec Key(const char* key, float CameraProfile::*m) {
  KeySpec k{key, SettingKind::kFloat};
  k.profile_float = m;
  return k;
}
constexpr KeySpec Key(const char* key, std::string CameraProfile::*m) {
  KeySpec k{key, SettingKind::kText};
  k.profile_text = m;
  k.text_bytes = kShortTextBytes;
  return k;
}
constexpr KeySpec ReadOnly(KeySpec k) {
  k.written = false;
  return k;
}
constexpr KeySpec WriteOnly(KeySpec k) {
  k.read = false;
  return k;
}
// The values the key's page control allows, low..high.
constexpr KeySpec Within(KeySpec k, double low, double high) {
  k.ranged = true;
  k.low = low;
  k.high = high;
  return k;
}
constexpr KeySpec Then(KeySpec k, SettingItem::AfterRead rule) {
  k.after_read = rule;
  return k;
}

std::u16string Utf8ToUtf16(std::string_view text);

// A catalogue name must end in a character followed by "jx.csv": the
// character six places before the end, counted in UTF-16 characters, must
// be 'j'. Other names fall back to the shipped catalogue.
void ResetForeignCatalog(const SettingItem& item) {
  std::u16string name = Utf8ToUtf16(*item.text_value);
  if (name.size() < 6 || name[name.size() - 6] != u'j') {
    *item.text_value = kDefaultShowerCatalog;
  }
}
void RaiseFrameWidth(const SettingItem& item) {
  *item.int_value = std::max(*item.int_value, kMinFrameWidth);
}
void RaiseFrameHeight(const SettingItem& item) {
  *item.int_value = std::max(*item.int_value, kMinFrameHeight);
}

using S = Settings;
using P = CameraProfile;

constexpr KeySpec kKeys[] = {
    // General, window and directory keys.
    Key("VERSION", &S::version),
    Within(Key("gPAN", &S::gPAN), 1, 8),
    Key("AP.dlgrect.top", &S::dlgrect_top),
    Key("AP.dlgrect.left", &S::dlgrect_left),
    Key("AP.dlgrect.bottom", &S::dlgrect_bottom),
    Key("AP.dlgrect.right", &S::dlgrect_right),
    Key("AP.showcmd", &S::showcmd),
    Key("AP.PAdlgx0", &S::PAdlgx0),
    Key("AP.PAdlgy0", &S::PAdlgy0),
    Key("AP.usetrash", &S::usetrash),
    Key("AP.trashdir", &S::trashdir),
    Key("AP.outdir", &S::outdir, kPathTextBytes),
    Key("AP.moveendcom", &S::moveendcom, kPathTextBytes),
    Key("AP.moveendC", &S::moveendC),
    Key("AP.deldir", &S::deldir, kPathTextBytes),
    Then(Key("AP.catalog", &S::catalog, kPathTextBytes), ResetForeignCatalog),
    Within(Key("AP.dirrange", &S::dirrange), 0, 2),
    Within(Key("AP.Y", &S::Y), 1900, 3000),
    Within(Key("AP.M", &S::M), 1, 12),
    Within(Key("AP.D", &S::D), 1, 31),
    Within(Key("AP.H", &S::H), 0, 23),
    Within(Key("AP.days", &S::days), 1, 10000),
    Key("AP.BW", &S::BW),
    Key("AP.pstep", &S::pstep),
    // Camera profile.
    Within(Key("PA0->p_lng", &P::p_lng), 0, 360),
    Within(Key("PA0->p_lat", &P::p_lat), -90, 90),
    Within(Key("PA0->p_alt", &P::p_alt), -9999, 999999),
    Within(Key("PA0->p_gioidh", &P::p_gioidh), -9999, 999999),
    Within(Key("PA0->p_tz ", &P::p_tz), -86400, 86400),
    Within(Key("PA0->p_az ", &P::p_az), 0, 360),
    Within(Key("PA0->p_ev", &P::p_ev), -90, 90),
    Within(Key("PA0->p_rot", &P::p_rot), -180, 180),
    Within(Key("PA0->p_vx ", &P::p_vx), 0, 360),
    Within(Key("PA0->p_yx ", &P::p_yx), 0, 2),
    Within(Key("PA0->p_dx ", &P::p_dx), -1000, 1000),
    Within(Key("PA0->p_dy ", &P::p_dy), -1000, 1000),
    Within(Key("PA0->p_k4 ", &P::p_k4), -1, 1),
    Within(Key("PA0->p_k3 ", &P::p_k3), -1, 1),
    Within(Key("PA0->p_k2 ", &P::p_k2), -1, 1),
    // Profile adjustment flags.
    Key("AP.p_vxON ", &S::p_vxON),
    Key("AP.p_yxON ", &S::p_yxON),
    Key("AP.p_dxON ", &S::p_dxON),
    Key("AP.p_dyON ", &S::p_dyON),
    Key("AP.p_k4ON ", &S::p_k4ON),
    Key("AP.p_k3ON ", &S::p_k3ON),
    Key("AP.p_k2ON ", &S::p_k2ON),
    // Analysis parameters of the profile.
    Within(Key("PA0->p_atc", &P::p_atc), 0, 100),
    Key("PA0->p_u4_ddpix", &P::p_u4_ddpix),
    Within(Key("PA0->p_u4_bvf", &P::p_u4_bvf), -10, 10),
    Key("PA0->p_head", &P::p_head),
    Key("PA0->p_u4_dps", &P::p_u4_dps),
    Within(Key("PA0->p_u4_edeg", &P::p_u4_edeg), 0, 30),
    Within(Key("PA0->p_u4_cdlim", &P::p_u4_cdlim), -1, 30),
    Within(Key("PA0->p_u4_dapix", &P::p_u4_dapix), 2, 512),
    Within(Key("PA0->p_u4_f1", &P::p_u4_f1), -1, 2005),
    Within(Key("PA0->p_u4_f2", &P::p_u4_f2), -1, 2005),
    Within(Key("PA0->p_u4_mins", &P::p_u4_mins), 0, 100),
    Within(Key("PA0->p_u4_leap", &P::p_u4_leap), 0, 300),
    Key("PA0->p_u4_rm_small", &P::p_u4_rm_small),
    Within(Key("PA0->p_u4_dloffset", &P::p_u4_dloffset), -255, 255),
    // Only files of earlier versions carry the interlace flag.
    ReadOnly(Key("AP.p_inter", &P::p_inter)),
    // Every run starts with the default joining angle.
    WriteOnly(Within(Key("PA0->p_u4_consR", &P::p_u4_consR), 0, 10)),
    Key("PA0->p_bbf", &P::p_bbf),
    Within(Key("PA0->p_tme", &P::p_tme), 0, 1000),
    // Peak hold and profile texts.
    Within(Key("AP.peakf", &S::peakf), 1, 1000),
    Key("PA0->p_lid", &P::p_lid),
    Key("PA0->p_sid", &P::p_sid),
    Key("PA0->p_oname", &P::p_oname),
    Key("PA0->p_cam", &P::p_cam),
    Key("PA0->p_lens", &P::p_lens),
    Key("PA0->p_cap", &P::p_cap),
    Key("PA0->p_memo", &P::p_memo),
    Key("PA0->p_fourcc", &P::p_fourcc),
    Key("PA0->p_codec", &P::p_codec),
    // View page.
    Key("AP.v_hmark", &S::v_hmark),
    Key("AP.v_amask", &S::v_amask),
    Key("AP.v_smask", &S::v_smask),
    Key("AP.v_radc", &S::v_radc),
    Key("AP.v_azev", &S::v_azev),
    Key("AP.v_star", &S::v_star),
    Key("AP.v_trail", &S::v_trail),
    // Ground map and plot.
    Key("AP.g_map", &S::g_map, kShortTextBytes),
    Key("AP.g_zoom", &S::g_zoom),
    Key("AP.g_ofh", &S::g_ofh),
    Key("AP.g_ofv", &S::g_ofv),
    Key("AP.g_text", &S::g_text),
    Key("AP.g_addm", &S::g_addm),
    Key("AP.g_addmfile", &S::g_addmfile, kPathTextBytes),
    Within(Key("AP.g_h0", &S::g_h0), 1, 10000),
    Within(Key("AP.g_h1", &S::g_h1), 1, 10000),
    Within(Key("AP.g_h2", &S::g_h2), 1, 10000),
    Key("AP.g_h0on", &S::g_h0on),
    Key("AP.g_h1on", &S::g_h1on),
    Key("AP.g_h2on", &S::g_h2on),
    Within(Key("AP.g_line", &S::g_line), 1, 100),
    // Mask editor.
    Within(Key("AP.m_smax", &S::m_smax), 0, 512),
    Within(Key("AP.m_slev", &S::m_slev), 0, 512),
    Within(Key("AP.m_alev", &S::m_alev), -512, 0),
    Key("AP.m_clev", &S::m_clev),
    Key("AP.m_clr", &S::m_clr),
    Key("AP.m_shape", &S::m_shape),
    Key("AP.m_size", &S::m_size),
    Within(Key("AP.m_size0", &S::m_size0), 1, 99),
    Within(Key("AP.m_size1", &S::m_size1), 1, 99),
    Within(Key("AP.m_size2", &S::m_size2), 1, 99),
    Within(Key("AP.m_asize", &S::m_asize), 1, 99),
    Within(Key("AP.m_ssize", &S::m_ssize), 1, 99),
    Within(Key("PA0->p_u4_dlim", &P::p_u4_dlim), 1, 99),
    Key("AP.m_objplot", &S::m_objplot),
    Key("AP.m_star", &S::m_star),
    Key("AP.m_rgraph", &S::m_rgraph),
    Key("AP.m_mgrf", &S::m_mgrf),
    Key("AP.m_mgln", &S::m_mgln),
    Key("AP.m_mode", &S::m_mode),
    // Photometry and classification. Two profile keys are written a second
    // time here; a reader finds the first.
    Within(Key("PA0->p_u4_refmag", &P::p_u4_refmag), -5, 11),
    Key("PA0->p_u4_ddpix", &P::p_u4_ddpix),
    Within(Key("PA0->p_u4_bvf", &P::p_u4_bvf), -10, 10),
    Within(Key("PA0->maxl", &P::maxl), 0, 255),
    Within(Key("PA0->maxm", &P::maxm), -10, 30),
    Within(Key("PA0->minl", &P::minl), 1, 255),
    Within(Key("PA0->minm", &P::minm), -10, 30),
    Within(Key("AP.c_smax", &S::c_smax), 1, 1000000),
    Within(Key("AP.c_tmin", &S::c_tmin), 0, 10),
    Within(Key("AP.c_vmin", &S::c_vmin), 0, 1000),
    Within(Key("AP.c_cmax", &S::c_cmax), 0, 10),
    Within(Key("AP.c_ddays", &S::c_ddays), -100, 100),
    Within(Key("AP.c_Nr", &S::c_Nr), 0, 20),
    Within(Key("AP.c_Nv", &S::c_Nv), 0, 20),
    // Trail map. "AP.t_days" carries the limiting magnitude.
    Within(Key("AP.t_ra", &S::t_ra), 0, 359),
    Within(Key("AP.t_dec", &S::t_dec), -89, 89),
    Within(Key("AP.t_rot", &S::t_rot), 0, 359),
    Within(Key("AP.t_scale", &S::t_scale), 1, 179),
    Within(Key("AP.t_mag", &S::t_mag), 0, 15),
    Within(Key("AP.t_days", &S::t_mag), 0, 15),
    Key("AP.t_vglim", &S::t_vglim),
    Key("AP.t_vgon", &S::t_vgon),
    Key("AP.t_st", &S::t_st),
    Key("AP.t_st2", &S::t_st2),
    Key("AP.t_ax", &S::t_ax),
    Key("AP.t_ap", &S::t_ap),
    Key("AP.t_star", &S::t_star),
    Key("AP.t_bw", &S::t_bw),
    Key("AP.t_text", &S::t_text),
    // Analysis and frame.
    Key("AP.useDlo", &S::useDlo),
    Key("AP.ecsv", &S::ecsv),
    Key("AP.a_log", &S::a_log),
    Within(Key("AP.a_km1", &S::a_km1), 1, 1000),
    Within(Key("AP.a_km2", &S::a_km2), 1, 1000),
    Then(Within(Key("PA0->cx ", &P::cx), kMinFrameWidth, kMaxFrameWidth), RaiseFrameWidth),
    Then(Within(Key("PA0->cy ", &P::cy), kMinFrameHeight, kMaxFrameHeight), RaiseFrameHeight),
    Key("IF.deinterace ", &S::deinterace),
};

constexpr char kVersionKey[] = "VERSION";

SettingItem Bind(const KeySpec& k, const SettingsStore& store) {
  SettingItem item;
  item.key = k.key;
  item.kind = k.kind;
  if (k.settings_int) item.int_value = &(store.settings->*k.settings_int);
  if (k.settings_float) item.float_value = &(store.settings->*k.settings_float);
  if (k.settings_text) item.text_value = &(store.settings->*k.settings_text);
  if (k.profile_int) item.int_value = &(store.profile->*k.profile_int);
  if (k.profile_float) item.float_value = &(store.profile->*k.profile_float);
  if (k.profile_text) item.text_value = &(store.profile->*k.profile_text);
  item.text_bytes = k.text_bytes;
  item.read = k.read;
  item.written = k.written;
  item.after_read = k.after_read;
  item.ranged = k.ranged;
  item.low = k.low;
  item.high = k.high;
  return item;
}

// ---------------------------------------------------------------------------
// Text conversion at the file's edge.

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `text[*i]` and steps over it; an invalid
// byte gives U+FFFD and is stepped over alone.
char32_t NextCodePoint(std::string_view text, std::size_t* i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char b0 = byte(*i);
  if (b0 < 0x80) {
    ++*i;
    return b0;
  }
  int extra = (b0 >> 5) == 0x6 ? 1 : (b0 >> 4) == 0xE ? 2 : (b0 >> 3) == 0x1E ? 3 : 0;
  if (extra == 0 || *i + extra >= text.size()) {
    ++*i;
    return kReplacement;
  }
  char32_t c = b0 & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char b = byte(*i + k);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++*i;
    return kReplacement;
  }
  *i += extra + 1;
  return c;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = NextCodePoint(text, &i);
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
  }
  return out;
}

// UTF-16LE text up to its zero character or the end of `data`.
std::string WideBytesToUtf8(std::span<const std::uint8_t> data) {
  std::string out;
  std::size_t n = data.size() / 2;
  auto unit = [&](std::size_t k) -> char16_t {
    return static_cast<char16_t>(data[2 * k] | (data[2 * k + 1] << 8));
  };
  for (std::size_t k = 0; k < n; ++k) {
    char16_t u = unit(k);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n && unit(k + 1) >= 0xDC00 &&
        unit(k + 1) <= 0xDFFF) {
      char32_t c = 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00);
      AppendUtf8(c, &out);
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(kReplacement, &out);
    } else {
      AppendUtf8(u, &out);
    }
  }
  return out;
}

// One byte per character (byte value as the character code) up to a zero.
std::string NarrowBytesToUtf8(std::span<const std::uint8_t> data) {
  std::string out;
  for (std::uint8_t b : data) {
    if (b == 0) break;
    AppendUtf8(b, &out);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Records.

void PutInt32(std::int32_t v, std::vector<std::uint8_t>* out) {
  std::uint32_t u = static_cast<std::uint32_t>(v);
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<std::uint8_t>(u >> (8 * k)));
}

std::uint32_t GetUint32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The part of a key that is compared: up to 15 characters, up to a zero.
std::string_view MatchedKey(std::string_view key) {
  key = key.substr(0, std::min<std::size_t>(key.size(), kSettingsKeyMatchChars));
  return key.substr(0, std::min(key.size(), key.find('\0')));
}

// The records of a file, first of each key only.
using RecordIndex = std::unordered_map<std::string, std::span<const std::uint8_t>>;

RecordIndex IndexRecords(std::span<const std::uint8_t> bytes) {
  RecordIndex index;
  std::size_t pos = 0;
  while (bytes.size() - pos >= static_cast<std::size_t>(kSettingsRecordHeaderBytes)) {
    const std::uint8_t* record = bytes.data() + pos;
    std::int32_t length = static_cast<std::int32_t>(GetUint32(record + kSettingsKeyBytes));
    std::size_t rest = bytes.size() - pos - kSettingsRecordHeaderBytes;
    // A negative length or one past the data ends the file here.
    if (length < 0 || static_cast<std::size_t>(length) > rest) break;
    std::string_view key(reinterpret_cast<const char*>(record), kSettingsKeyBytes);
    index.try_emplace(std::string(MatchedKey(key)),
                      bytes.subspan(pos + kSettingsRecordHeaderBytes, length));
    pos += kSettingsRecordHeaderBytes + length;
  }
  return index;
}

const std::span<const std::uint8_t>* FindRecord(const RecordIndex& index,
                                                std::string_view key) {
  auto it = index.find(std::string(MatchedKey(key)));
  return it == index.end() ? nullptr : &it->second;
}

// Copies a stored 4-byte value over the start of the parameter's bytes (a
// shorter value replaces only its first bytes).
template <typename T>
void CopyOver(std::span<const std::uint8_t> data, T* value) {
  static_assert(sizeof(T) == 4);
  if (data.size() > 4) FatalError("UE0105: invalid length");
  std::uint32_t bits;
  std::memcpy(&bits, value, 4);
  for (std::size_t k = 0; k < data.size(); ++k) {
    bits &= ~(0xFFu << (8 * k));
    bits |= static_cast<std::uint32_t>(data[k]) << (8 * k);
  }
  std::memcpy(value, &bits, 4);
}

void ReadItem(const SettingItem& item, std::span<const std::uint8_t> data,
              bool wide_text) {
  switch (item.kind) {
    case SettingKind::kInt:
      CopyOver(data, item.int_value);
      break;
    case SettingKind::kFloat: {
      // An infinity or NaN (a damaged file) keeps the value before: no
      // angle, step or zoom is taken from it.
      float v = *item.float_value;
      CopyOver(data, &v);
      if (std::isfinite(v)) *item.float_value = v;
      break;
    }
    case SettingKind::kText:
      if (data.size() > static_cast<std::size_t>(item.text_bytes)) {
        FatalError("UE0105: invalid length");
      }
      if (data.empty()) break;
      *item.text_value = wide_text ? WideBytesToUtf8(data) : NarrowBytesToUtf8(data);
      break;
  }
}

// The text's UTF-16 characters, cut at a zero character and to what the
// reader accepts, without splitting a surrogate pair.
std::u16string StoredText(const SettingItem& item) {
  std::u16string text = Utf8ToUtf16(*item.text_value);
  text = text.substr(0, text.find(u'\0'));
  std::size_t max_chars = static_cast<std::size_t>(item.text_bytes) / 2 - 1;
  if (text.size() > max_chars) {
    std::size_t cut = max_chars;
    if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
    text.resize(cut);
  }
  return text;
}

// The size of the item's record in the file.
std::size_t RecordBytes(const SettingItem& item) {
  std::size_t length = 4;
  if (item.kind == SettingKind::kText) length = (2 * (StoredText(item).size() + 1) + 3) / 4 * 4;
  return kSettingsRecordHeaderBytes + length;
}

void WriteItem(const SettingItem& item, std::vector<std::uint8_t>* out) {
  if (out->size() >= static_cast<std::size_t>(kSettingsWriteLimit)) {
    FatalError("UE0103: bp exceeds limit (%s)", item.key.c_str());
  }
  char key[kSettingsKeyBytes] = {};
  std::memcpy(key, item.key.data(),
              std::min<std::size_t>(item.key.size(), kSettingsKeyMatchChars));
  out->insert(out->end(), key, key + kSettingsKeyBytes);
  switch (item.kind) {
    case SettingKind::kInt:
      PutInt32(4, out);
      PutInt32(item.key == kVersionKey ? kVersionNumber : *item.int_value, out);
      break;
    case SettingKind::kFloat: {
      std::uint32_t bits;
      std::memcpy(&bits, item.float_value, 4);
      PutInt32(4, out);
      PutInt32(static_cast<std::int32_t>(bits), out);
      break;
    }
    case SettingKind::kText: {
      std::u16string text = StoredText(item);
      std::size_t size = 2 * (text.size() + 1);
      std::size_t length = (size + 3) / 4 * 4;
      PutInt32(static_cast<std::int32_t>(length), out);
      for (char16_t u : text) {
        out->push_back(static_cast<std::uint8_t>(u & 0xFF));
        out->push_back(static_cast<std::uint8_t>(u >> 8));
      }
      out->insert(out->end(), length - 2 * text.size(), 0);
      break;
    }
  }
}

bool g_keep_file_unchanged = false;

}  // namespace

// ---------------------------------------------------------------------------

Settings& AppSettings() {
  static Settings settings;
  return settings;
}

CameraProfile& CurrentProfile() {
  static CameraProfile profile;
  return profile;
}

SettingsStore ProcessSettings() {
  return {&AppSettings(), &CurrentProfile(), ColumnLayouts()};
}

std::vector<SettingItem> SettingItems(const SettingsStore& store) {
  std::vector<SettingItem> items;
  items.reserve(std::size(kKeys) + 2 * 768);
  for (const KeySpec& k : kKeys) items.push_back(Bind(k, store));
  for (ColumnLayout& layout : store.layouts) {
    for (std::size_t i = 0; i < layout.entries.size(); ++i) {
      char key[32];
      SettingItem shown;
      std::snprintf(key, sizeof key, "%s_d%d", layout.prefix, static_cast<int>(i));
      shown.key = key;
      shown.int_value = &layout.entries[i].shown;
      items.push_back(shown);
      SettingItem width;
      std::snprintf(key, sizeof key, "%s_w%d", layout.prefix, static_cast<int>(i));
      width.key = key;
      width.int_value = &layout.entries[i].width;
      items.push_back(width);
    }
  }
  return items;
}

void ApplyDefaultSettings(const SettingsStore& store) {
  Settings settings;
  settings.deldir = DocumentsFolder().string();
  auto profile = std::make_unique<CameraProfile>();
  std::array<ColumnLayout, kColumnLayoutCount> layouts = BuiltInColumnLayouts();
  std::vector<SettingItem> defaults = SettingItems({&settings, profile.get(), layouts});
  std::vector<SettingItem> items = SettingItems(store);
  for (std::size_t i = 0; i < items.size(); ++i) {
    StoreSettingValue(items[i], [&]() -> SettingValue {
      const SettingItem& d = defaults[i];
      switch (d.kind) {
        case SettingKind::kInt: return *d.int_value;
        case SettingKind::kFloat: return *d.float_value;
        case SettingKind::kText: return *d.text_value;
      }
      return 0;
    }());
  }
  g_keep_file_unchanged = false;
}

void ApplyDefaultSettings() { ApplyDefaultSettings(ProcessSettings()); }

SettingsReadResult DecodeSettings(std::span<const std::uint8_t> bytes,
                                  const SettingsStore& store) {
  bytes = bytes.first(std::min<std::size_t>(bytes.size(), kSettingsBufferBytes));
  if (bytes.empty()) return SettingsReadResult::kEmpty;
  RecordIndex index = IndexRecords(bytes);

  // The version decides how text is stored; a file without one is taken
  // as the current format.
  int version = kVersionNumber;
  if (const auto* data = FindRecord(index, kVersionKey)) CopyOver(*data, &version);
  bool wide_text = version >= kSettingsWideTextVersion;
  if (version > kSettingsNewestVersion) {
    ShowError("Version of Settings file is newer than program\n...ignored");
    return SettingsReadResult::kNewerVersion;
  }

  for (const SettingItem& item : SettingItems(store)) {
    if (!item.read) continue;
    if (const auto* data = FindRecord(index, item.key)) ReadItem(item, *data, wide_text);
    // The after-reading rules apply whether or not the key was present.
    if (item.after_read) item.after_read(item);
  }
  return SettingsReadResult::kRead;
}

void FinishSettingsRead(const SettingsStore& store) {
  Settings& s = *store.settings;
  if (s.dlgrect_top < 0) {
    s.dlgrect_left = kResetWindowLeft;
    s.dlgrect_top = kResetWindowTop;
    s.dlgrect_right = kResetWindowRight;
    s.dlgrect_bottom = kResetWindowBottom;
  }
  // The picture buffers of cx x cy pixels and the current profile's derived
  // sky values are set up here once the clip view and the astronomy
  // routines exist.
}

std::vector<std::uint8_t> EncodeSettings(const SettingsStore& store) {
  std::vector<std::uint8_t> out;
  out.reserve(kSettingsBufferBytes);
  for (const SettingItem& item : SettingItems(store)) {
    if (item.written) WriteItem(item, &out);
  }
  if (out.size() >= static_cast<std::size_t>(kSettingsBufferBytes)) {
    FatalError("CAppUty:invalid bp");
  }
  return out;
}

std::string FirstKeyBeyondWriteLimit(const SettingsStore& store) {
  std::size_t pos = 0;
  for (const SettingItem& item : SettingItems(store)) {
    if (!item.written) continue;
    if (pos >= static_cast<std::size_t>(kSettingsWriteLimit)) return item.key;
    pos += RecordBytes(item);
  }
  return {};
}

void ReadSettings() {
  SettingsStore store = ProcessSettings();
  std::ifstream file(HomeFile(kSettingsFileName), std::ios::binary);
  if (file) {
    std::vector<std::uint8_t> bytes(kSettingsBufferBytes);
    file.read(reinterpret_cast<char*>(bytes.data()), kSettingsBufferBytes);
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    // A newer program's settings are not ours to overwrite with defaults.
    if (DecodeSettings(bytes, store) == SettingsReadResult::kNewerVersion) {
      KeepSettingsFileUnchanged();
    }
  }
  FinishSettingsRead(store);
}

bool WriteSettings() {
  if (g_keep_file_unchanged) return true;
  const std::vector<std::uint8_t> bytes = EncodeSettings(ProcessSettings());
  if (!ReplaceFileContent(HomeFile(kSettingsFileName), {std::span<const std::uint8_t>(bytes)})) {
    ShowError("UE070: Cannot write %s", kSettingsFileName);
    return false;
  }
  return true;
}

void KeepSettingsFileUnchanged() { g_keep_file_unchanged = true; }

bool SettingsFileKeptUnchanged() { return g_keep_file_unchanged; }

std::string FormatSettingValue(const SettingItem& item) {
  char text[32];
  switch (item.kind) {
    case SettingKind::kInt:
      std::snprintf(text, sizeof text, "%d", *item.int_value);
      return text;
    case SettingKind::kFloat: {
      auto result = std::to_chars(text, text + sizeof text, *item.float_value);
      return std::string(text, result.ptr);
    }
    case SettingKind::kText:
      return *item.text_value;
  }
  return {};
}

bool ParseSettingValue(const SettingItem& item, std::string_view text,
                       SettingValue* value, std::string* error) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  switch (item.kind) {
    case SettingKind::kInt: {
      int v = 0;
      auto result = std::from_chars(first, last, v);
      if (text.empty() || result.ec != std::errc() || result.ptr != last) {
        *error = "'" + std::string(text) + "' is not an integer (32-bit)";
        return false;
      }
      *value = v;
      return true;
    }
    case SettingKind::kFloat: {
      float v = 0;
      auto result = std::from_chars(first, last, v);
      if (text.empty() || result.ec != std::errc() || result.ptr != last ||
          !std::isfinite(v)) {
        *error = "'" + std::string(text) + "' is not a finite number";
        return false;
      }
      *value = v;
      return true;
    }
    case SettingKind::kText:
      *value = std::string(text);
      return true;
  }
  return false;
}

bool SettingInRange(const SettingItem& item, const SettingValue& value) {
  if (!item.ranged) return true;
  double v = 0.0;
  if (const int* i = std::get_if<int>(&value)) v = *i;
  else if (const float* f = std::get_if<float>(&value)) v = *f;
  else return true;
  return v >= item.low && v <= item.high;
}

std::string SettingRangeText(const SettingItem& item) {
  if (!item.ranged) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%g to %g", item.low, item.high);
  return text;
}

void StoreSettingValue(const SettingItem& item, const SettingValue& value) {
  switch (item.kind) {
    case SettingKind::kInt: *item.int_value = std::get<int>(value); break;
    case SettingKind::kFloat: *item.float_value = std::get<float>(value); break;
    case SettingKind::kText: *item.text_value = std::get<std::string>(value); break;
  }
}

}  // namespace mr4
