// The six tables of the program: their schemas, the column constants that
// code addresses cells by (`clip::kDirectory`, `obj::kMemo`), and the one
// record that holds them for the life of the process.
//
// Start-up creates the tables and reads the persistent ones (leap seconds,
// extra classes, clip directories, the shower catalogue); shut-down writes
// the extra-class and clip-directory tables and frees them all. The tables
// are used on the user-interface thread, except OBJ (see tables/table.h).
// Tests may create, fill and free them through the same functions.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/process_values.h"
#include "tables/table.h"

namespace mr4 {

// Clip-directory table "MR4_DIR.csv".
namespace dir {
enum Column : int {
  kExist = 0, kUse = 1, kDir = 2, kProfile = 3, kSaveDir = 4, kYmd = 5,
  kCommand = 6, kDline = 7, kItemdata = 8, kShutdownrq = 9,
  kColumnCount = 10,
};
}  // namespace dir

// Leap-second table "Qorx_LSec.csv".
namespace leap {
enum Column : int {
  kExist = 0, kY = 1, kM = 2, kD = 3, kLS = 4, kDls = 5,
  kColumnCount = 6,
};
}  // namespace leap

// Shower table (the catalogue named by "AP.catalog"); row 0 is the sporadic entry.
namespace shower {
enum Column : int {
  kExist = 0, kSID = 1, kInUse = 2, kMk = 3, kCode = 4, kIndex = 5,
  kSolp = 6, kSol1 = 7, kSol2 = 8, kRap = 9, kDecp = 10, kVg = 11, kDra = 12,
  kDdec = 13, kDvg = 14, kA = 15, kQ = 16, kE = 17, kPeri = 18, kNode = 19,
  kIncl = 20, kSdr = 21, kSdv = 22, kSdd = 23, kSig = 24, kIp = 25, kNs = 26,
  kDataSource = 27, kActivity = 28, kSpectrum = 29, kExplosion = 30,
  kParent = 31, kIauno = 32, kName = 33, kRelation = 34, kRemark = 35,
  kMD1 = 36, kMD2 = 37, kMDp = 38, kDsol = 39, kDR = 40, kDvgPercent = 41,
  kVgc = 42, kSel = 43, kDisp = 44, kCnt = 45, kValid = 46, kDline = 47,
  kItemdata = 48,
  kColumnCount = 49,
};
}  // namespace shower

// Extra-class table "MR4_EClass.csv".
namespace eclass {
enum Column : int {
  kExist = 0, kEcls = 1, kCnt = 2, kDisp = 3, kTarget = 4, kDline = 5,
  kItemdata = 6,
  kColumnCount = 7,
};
}  // namespace eclass

// Object table "OBJ": one row per object of the loaded clips.
namespace obj {
enum Column : int {
  kExist = 0, kFs = 1, kFe = 2, kFN = 3, kSN = 4, kNpass = 5, kSec = 6,
  kPix = 7, kBmax = 8, kBN = 9, kLmax = 10, kMag = 11, kCdeg = 12,
  kCdegpeak = 13, kIo = 14, kRaP = 15, kDcP = 16, kX1 = 17, kY1 = 18,
  kX2 = 19, kY2 = 20, kAz1 = 21, kEv1 = 22, kAz2 = 23, kEv2 = 24, kRa1 = 25,
  kDc1 = 26, kAv1 = 27, kRa2 = 28, kDc2 = 29, kAv2 = 30, kRam = 31,
  kDcm = 32, kAvm = 33, kClass = 34, kManual = 35, kDr = 36, kDv = 37,
  kVo = 38, kVoshower = 39, kLng1 = 40, kLat1 = 41, kH1 = 42, kDist1 = 43,
  kGd1 = 44, kAzL1 = 45, kEvL1 = 46, kLng2 = 47, kLat2 = 48, kH2 = 49,
  kDist2 = 50, kGd2 = 51, kLen = 52, kGV = 53, kMemo = 54, kDelay = 55,
  kDelayM = 56, kVRao = 57, kVDco = 58, kVVo = 59, kVH1 = 60, kVRat = 61,
  kVDct = 62, kVVg = 63, kCline = 64, kOlinenext = 65, kDisp = 66, kSel = 67,
  kDline = 68, kItemdata = 69,
  kColumnCount = 70,
};
}  // namespace obj

// Clip table "CLIP": one row per clip found by the scan.
namespace clip {
enum Column : int {
  kExist = 0, kDirectory = 1, kClipName = 2, kO = 3, kMedia = 4, kMB = 5,
  kY = 6, kMo = 7, kD = 8, kH = 9, kM = 10, kS = 11, kProfile = 12, kTz = 13,
  kTme = 14, kLid = 15, kSid = 16, kLng = 17, kLat = 18, kAlt = 19,
  kGioidh = 20, kCx = 21, kCy = 22, kFps = 23, kAvgTimePerFrameSetting = 24,
  kInterlaced = 25, kBbf = 26, kFrames = 27, kHead = 28, kTail = 29,
  kDrop = 30, kDlev = 31, kDsize = 32, kSipos = 33, kSisize = 34, kTrig = 35,
  kObserver = 36, kSourceType = 37, kSourceName = 38, kCam = 39, kLens = 40,
  kCap = 41, kFourccOriginal = 42, kFourcc = 43, kCodec = 44, kU2 = 45,
  kUa = 46, kMemo = 47, kAz = 48, kEv = 49, kRot = 50, kVx = 51, kYx = 52,
  kDx = 53, kDy = 54, kK4 = 55, kK3 = 56, kK2 = 57, kAtc = 58, kBVF = 59,
  kMaxLev = 60, kMaxMag = 61, kMinLev = 62, kMimMag = 63, kRstar = 64,
  kDdega = 65, kDdegm = 66, kErrm = 67, kLmrgn = 68, kRmrgn = 69,
  kDmrgn = 70, kUmrgn = 71, kDl = 72, kDlo = 73, kPixs = 74, kDapix = 75,
  kS1 = 76, kS2 = 77, kMins = 78, kLeaps = 79, kRmSmall = 80, kMaxdps = 81,
  kMaxedeg = 82, kCdlim = 83, kConsR = 84, kRefmag = 85, kDdpix = 86,
  kDlim = 87, kDxoffset = 88, kMT = 89, kClass = 90, kMag = 91, kSec = 92,
  kOline = 93, kDisp = 94, kCdegmax = 95, kAvmin = 96, kDline = 97,
  kItemdata = 98, kDriveno = 99, kCodecno = 100, kDirline = 101,
  kCheck = 102,
  kColumnCount = 103,
};
}  // namespace clip

extern const TableSchema kDirSchema;     // "MR4_DIR.csv", version 101
extern const TableSchema kLeapSchema;    // "Qorx_LSec.csv", version 101
extern const TableSchema kShowerSchema;  // "V14.jx.csv", version 0
extern const TableSchema kEclassSchema;  // "MR4_EClass.csv", version 101
extern const TableSchema kObjSchema;     // "OBJ", version 0
extern const TableSchema kClipSchema;    // "CLIP", version 0

inline constexpr char kLeapSecondFileName[] = "Qorx_LSec.csv";
inline constexpr char kDirFileName[] = "MR4_DIR.csv";
inline constexpr char kEclassFileName[] = "MR4_EClass.csv";
// The code and name of the shower table's row 0.
inline constexpr char kSporadicCode[] = "spo";

// The six tables. Each is created with its schema when the record is first
// used; Create*/Free* below follow the start-up and shut-down steps.
struct ProcessTables {
  Table leap{kLeapSchema};
  Table clip{kClipSchema};
  Table shower{kShowerSchema};
  Table obj{kObjSchema};
  Table dir{kDirSchema};
  Table eclass{kEclassSchema};

  // Table by its name (the shower table's is the catalogue's); nullptr for
  // an unknown name.
  Table* Find(std::string_view name);

  // Clip-directory profiles whose file was missing at start-up: not used
  // during this run, but written back at exit (an unmounted disk must not
  // lose the setting).
  struct HeldProfile {
    int row;
    std::string dir;      // the row's "dir" when the name was held
    std::string profile;  // the stored name
  };
  std::vector<HeldProfile> held_profiles;
};

// The one door to the tables (created on first use, after the string store).
ProcessTables& Tables();

// Start-up step 6: creates the leap-second table, reads it from `path` and
// returns its rows in file order (empty when the file cannot be opened).
std::vector<LeapSecondRow> LoadLeapSecondTable(const std::filesystem::path& path);

// Steps 16 and 17: creates the clip, shower, object, clip-directory and
// extra-class tables, then reads the extra-class and clip-directory files
// from `home` (a missing file leaves its table empty).
void CreateTables(const std::filesystem::path& home);

// Step 18: the profile of every clip-directory row whose file
// `profile_exists` denies is taken out of the row for this run and held in
// Tables().held_profiles.
void HoldMissingProfiles(const std::function<bool(std::string_view)>& profile_exists);

// Step 19: names the shower table after `catalog`, clears it, appends row 0
// and reads "`home`/`catalog`", so the file's showers are rows 1 and up;
// row 0 becomes the sporadic entry ("*" 1, "code" and "name" "spo").
void LoadShowerCatalogue(const std::filesystem::path& home, std::string_view catalog);

// Step 23: writes "MR4_EClass.csv" and "MR4_DIR.csv" into `home`, the
// held profiles back in the rows that still name the same directory and
// have no profile (in the file only: they stay held for the run). False
// after "Cannot write %s" for a file that could not be written.
bool WritePersistentTables(const std::filesystem::path& home);

// Step 24: frees the extra-class, clip-directory, object, shower and clip
// tables. Step 27 frees the leap-second table with FreeLeapSecondTable.
void FreeTables();
void FreeLeapSecondTable();

}  // namespace mr4
