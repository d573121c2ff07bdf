// The settings file "MR4_PARAM.MRA" and the process-wide parameters it keeps:
// every user choice (the Settings record), the current camera profile and
// the column layouts' shown flags and widths.
//
// The file is a plain sequence of records, little-endian, no header:
//   offset 0   16 bytes  key: its first 15 characters, zero-filled
//   offset 16   4 bytes  L: signed 32-bit, the data size rounded up to 4
//   offset 20   L bytes  data, zero-padded: int32, IEEE float32, or text as
//                        UTF-16LE with a terminating zero character (one byte
//                        per character in files whose VERSION is below 400)
// Keys are matched on their first 15 characters; the first match wins.
//
// Start-up applies the defaults and reads the file once; shut-down writes it
// once. Text is UTF-8 in memory. Everything here runs on the user-interface
// thread while no worker runs; other threads only read the parameters.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/column_layouts.h"
#include "calib/camera_profile.h"

namespace mr4 {

inline constexpr char kSettingsFileName[] = "MR4_PARAM.MRA";
// The file is built in, and read into, a buffer of this size; only its
// first kSettingsBufferBytes bytes are seen.
inline constexpr int kSettingsBufferBytes = 50000;
// No record may start at or beyond this write position.
inline constexpr int kSettingsWriteLimit = 48956;
inline constexpr int kSettingsKeyBytes = 16;
inline constexpr int kSettingsKeyMatchChars = 15;
inline constexpr int kSettingsRecordHeaderBytes = 20;
// Files of a VERSION below this store text one byte per character.
inline constexpr int kSettingsWideTextVersion = 400;
// Files of a VERSION above this are not read.
inline constexpr int kSettingsNewestVersion = 500;
// Stored text sizes (bytes, terminator included) the reader accepts.
inline constexpr int kPathTextBytes = 2048;   // paths, file names, commands
inline constexpr int kShortTextBytes = 512;   // "AP.g_map", profile texts
// The main-window rectangle after a file with a negative top.
inline constexpr int kResetWindowLeft = 20;
inline constexpr int kResetWindowTop = 100;
inline constexpr int kResetWindowRight = 920;
inline constexpr int kResetWindowBottom = 680;
inline constexpr int kMinFrameWidth = 320;   // "PA0->cx " after reading [px]
inline constexpr int kMinFrameHeight = 240;  // "PA0->cy " after reading [px]
inline constexpr char kDefaultShowerCatalog[] = "V14.jx.csv";

// Every user choice that is not part of the camera profile. Member names
// follow the keys ("AP.dlgrect.top" is dlgrect_top). Defaults are the
// in-class values, except deldir (the documents folder, set by
// ApplyDefaultSettings).
struct Settings {
  int version = 500;  // "VERSION" of the file read; always written as 500
  int gPAN = 4;       // parallel analysis contexts; lowered to ContextLimit

  // Main window and dialogs [screen px].
  int dlgrect_top = 10;
  int dlgrect_left = 10;
  int dlgrect_bottom = 1000;
  int dlgrect_right = 1600;
  int showcmd = 1;  // 1 normal, else the platform's show commands
  int PAdlgx0 = 10;
  int PAdlgy0 = 170;

  // Files and directories.
  int usetrash = 0;         // deleted clip files go to the trash
  int trashdir = 0;         // ... into a "Trash" sub-directory (wins)
  std::string outdir;       // saved pictures, summaries, reports
  std::string moveendcom;   // command run after moving clips
  int moveendC = 0;         // run that command
  std::string deldir;       // "Move/Copy Destination"
  std::string catalog = kDefaultShowerCatalog;  // shower catalogue file name

  // Clip scan.
  int dirrange = 0;  // 0 all, 1 range, 2 latest
  int Y = 2007;
  int M = 1;
  int D = 1;
  int H = 12;
  int days = 1;

  int BW = 0;           // ground map black on white
  float pstep = 0.1f;   // step of the profile adjustment controls

  // Which profile parameters the automatic adjustment may change.
  int p_vxON = 1;
  int p_yxON = 1;
  int p_dxON = 1;
  int p_dyON = 1;
  int p_k4ON = 0;
  int p_k3ON = 1;
  int p_k2ON = 1;

  int peakf = 1;  // the peak-hold picture takes every n-th frame

  // View page check boxes.
  int v_hmark = 1;
  int v_amask = 0;
  int v_smask = 0;
  int v_radc = 0;
  int v_azev = 0;
  int v_star = 0;
  int v_trail = 0;

  // Ground map and plot.
  std::string g_map = "GMe136n34_16.DAT";
  float g_zoom = 4.0f;
  float g_ofh = 0.0f;
  float g_ofv = 0.0f;
  int g_text = 1;
  int g_addm = 0;
  std::string g_addmfile;
  int g_h0 = 80;  // plot heights [km]
  int g_h1 = 100;
  int g_h2 = 120;
  int g_h0on = 0;
  int g_h1on = 1;
  int g_h2on = 0;
  int g_line = 2;

  // Mask editor.
  int m_smax = 20;
  float m_slev = 3.0f;
  float m_alev = -20.0f;
  float m_clev = 40.0f;
  int m_clr = 0;
  int m_shape = 2;
  int m_size = 0;
  int m_size0 = 2;
  int m_size1 = 4;
  int m_size2 = 16;
  int m_asize = 5;
  int m_ssize = 3;
  int m_objplot = 1;
  int m_star = 1;
  int m_rgraph = 0;
  int m_mgrf = 0;
  int m_mgln = 1;
  int m_mode = 0;

  // Classification.
  int c_smax = 50;
  float c_tmin = 0.04f;
  float c_vmin = 0.5f;
  float c_cmax = 0.15f;
  int c_ddays = 10;  // [days]
  float c_Nr = 3.0f;
  float c_Nv = 10.0f;

  // Trail map ("AP.t_days" is stored from and read into t_mag).
  float t_ra = 120.0f;  // chart centre [deg]
  float t_dec = 30.0f;  // [deg]
  float t_rot = 0.0f;   // [deg]
  float t_scale = 120.0f;
  float t_mag = 3.5f;   // limiting magnitude of the chart's stars
  int t_vglim = 40;
  int t_vgon = 0;
  int t_st = 0;
  int t_st2 = 1;
  int t_ax = 1;
  int t_ap = 1;
  int t_star = 1;
  int t_bw = 0;
  int t_text = 1;

  // Analysis.
  int useDlo = 0;  // analyses use the current profile's p_u4_ parameters
  int ecsv = 0;
  int a_log = 0;
  float a_km1 = 100.0f;  // upper reference height [km]
  float a_km2 = 70.0f;   // lower reference height [km]
  int deinterace = 0;    // "IF.deinterace ": replay steps field by field
};

// The one door to the process-wide settings.
Settings& AppSettings();

// Where the stored parameters live: the process-wide records, or copies
// that a test owns.
struct SettingsStore {
  Settings* settings;
  CameraProfile* profile;
  std::span<ColumnLayout, kColumnLayoutCount> layouts;
};
SettingsStore ProcessSettings();  // AppSettings, CurrentProfile, ColumnLayouts

enum class SettingKind { kInt, kFloat, kText };

// One key of the file bound to its parameter. Exactly the pointer of its
// kind is set.
struct SettingItem {
  std::string key;  // full key text, trailing blank included
  SettingKind kind = SettingKind::kInt;
  int* int_value = nullptr;
  float* float_value = nullptr;
  std::string* text_value = nullptr;
  int text_bytes = 0;   // text keys: largest stored size the reader accepts
  bool read = true;     // looked up when reading
  bool written = true;  // written by the writer
  // A rule applied right after the key's lookup, whether found or not
  // (the catalogue name rule, the smallest frame size).
  using AfterRead = void (*)(const SettingItem&);
  AfterRead after_read = nullptr;
  // The values its page control allows, low..high; `ranged` is false for
  // the keys without a limit (flags, positions, texts).
  bool ranged = false;
  double low = 0.0, high = 0.0;
};

// Every key in file order, bound to `store`: the key table (including the
// read-only "AP.p_inter" and the twice-written keys at both places) followed
// by the layouts' "%s_d%d"/"%s_w%d" pairs.
std::vector<SettingItem> SettingItems(const SettingsStore& store);

// Sets every stored parameter of `store` to its default and lets the next
// WriteSettings write again.
void ApplyDefaultSettings(const SettingsStore& store);
void ApplyDefaultSettings();

enum class SettingsReadResult {
  kRead,          // the records found were copied in
  kEmpty,         // no bytes: defaults stay
  kNewerVersion,  // VERSION above 500: message shown, defaults stay
};

// Copies the values of `bytes` (a file's content; only the first
// kSettingsBufferBytes count) into `store`. Reading stops at a truncated
// record or one whose length is negative or runs past the data. A stored
// value longer than its parameter allows ends the program with
// "UE0105: invalid length". Does not apply the after-reading rules.
SettingsReadResult DecodeSettings(std::span<const std::uint8_t> bytes,
                                  const SettingsStore& store);

// The rules applied after reading, file or not: a negative window top resets
// the main-window rectangle.
void FinishSettingsRead(const SettingsStore& store);

// The file's bytes for `store`. Texts are cut to what the reader accepts.
// Ends the program with "UE0103: bp exceeds limit (%s)" when a record would
// start at kSettingsWriteLimit or later.
std::vector<std::uint8_t> EncodeSettings(const SettingsStore& store);

// The key whose record would start at kSettingsWriteLimit or later, so that
// EncodeSettings would end the program; empty when the file fits.
std::string FirstKeyBeyondWriteLimit(const SettingsStore& store);

// Reads the home file "MR4_PARAM.MRA" into the process-wide parameters (a
// missing file leaves the defaults), then FinishSettingsRead. A file of a
// newer version is kept as it is (KeepSettingsFileUnchanged): this run
// works with the defaults and never writes them over it.
void ReadSettings();

// Writes the process-wide parameters to the home file "MR4_PARAM.MRA"
// (through a temporary file renamed into place); "UE070: Cannot write %s"
// and false when it cannot. Does nothing (true) after
// KeepSettingsFileUnchanged.
bool WriteSettings();

// True after KeepSettingsFileUnchanged, until the next defaults.
bool SettingsFileKeptUnchanged();

// Makes WriteSettings leave the file alone for the rest of this run (a
// command that was refused must not rewrite the file).
void KeepSettingsFileUnchanged();

// A parameter value as text: ints "%d", floats the shortest text that reads
// back to the same float, texts as they are.
std::string FormatSettingValue(const SettingItem& item);

using SettingValue = std::variant<int, float, std::string>;

// Parses `text` by the item's kind (the whole text must be a number for
// ints and floats; floats must be finite). False with `error` set otherwise.
bool ParseSettingValue(const SettingItem& item, std::string_view text,
                       SettingValue* value, std::string* error);
// Whether a parsed value lies within the item's range (always for a text
// or a key without one), and that range as "low to high".
bool SettingInRange(const SettingItem& item, const SettingValue& value);
std::string SettingRangeText(const SettingItem& item);
// Stores a value parsed for this item.
void StoreSettingValue(const SettingItem& item, const SettingValue& value);

}  // namespace mr4
