// The result file A.XML (writer, both readers, rewrites outside a run) and
// the trail log L.csv.
#include "analysis/analysis_run.h"
#include "analysis/result_file.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/process_values.h"
#include "app/settings.h"
#include "clips/clip_files.h"
#include "clips/clip_record.h"
#include "clips/clip_scan.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"
#include "tables/xml_record.h"
#include "tests/support/temp_files.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr char kClipName[] = "M20240101_203015_ST1";

struct SampleValues {
  int field, peak, saturated;
  double Lsum, az, ev, ra, dec, err;
  int pass;
  double x, y;
  int pixels;
  double r;
};

class ResultFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tables().clip.Clear();
    Tables().obj.Clear();
    c_ = NewContext();
  }
  void TearDown() override {
    Tables().clip.Clear();
    Tables().obj.Clear();
  }

  static std::unique_ptr<AnalysisContext> NewContext() {
    auto c = std::make_unique<AnalysisContext>();
    AllocateAnalysisContext(*c, 0);
    c->field_rate = 59.94;
    c->head_time = 0.5;
    return c;
  }

  // A clip row in `dir` named `name`, with a few values of its own.
  int NewClip(const fs::path& dir, const std::string& name) {
    Table& clips = Tables().clip;
    const int row = clips.AppendRow();
    clips.SetText(row, clip::kDirectory, dir.native());
    clips.SetText(row, clip::kClipName, name);
    clips.SetInt(row, clip::kOline, -1);
    clips.SetInt(row, clip::kY, 2024);
    clips.SetInt(row, clip::kMo, 1);
    clips.SetInt(row, clip::kD, 1);
    clips.SetInt(row, clip::kH, 20);
    clips.SetInt(row, clip::kM, 30);
    clips.SetFloat(row, clip::kS, 15.5f);
    clips.SetInt(row, clip::kMT, KindBit(kKindAvi));
    clips.SetText(row, clip::kMedia, "a       ");
    clips.SetInt(row, clip::kMaxLev, 255);
    clips.SetFloat(row, clip::kMaxMag, 2.0f);
    clips.SetInt(row, clip::kMinLev, 50);
    clips.SetFloat(row, clip::kMimMag, 4.0f);
    clips.SetInt(row, clip::kTz, 32400);
    clips.SetText(row, clip::kLid, "TK");
    clips.SetText(row, clip::kSid, "ST1");
    return row;
  }

  // Appends an object to the clip's chain.
  int AddObject(int row, int fs, int fe, const char* cls) {
    Table& clips = Tables().clip;
    Table& objects = Tables().obj;
    const int o = objects.AppendRow();
    objects.SetInt(o, obj::kFs, fs);
    objects.SetInt(o, obj::kFe, fe);
    objects.SetInt(o, obj::kFN, fe - fs + 1);
    objects.SetInt(o, obj::kSN, 2);
    objects.SetFloat(o, obj::kMag, 0.5f);
    objects.SetText(o, obj::kClass, cls);
    objects.SetInt(o, obj::kCline, row);
    objects.SetInt(o, obj::kOlinenext, -1);
    int last = clips.Int(row, clip::kOline);
    if (last < 0) {
      clips.SetInt(row, clip::kOline, o);
    } else {
      while (objects.Int(last, obj::kOlinenext) >= 0) last = objects.Int(last, obj::kOlinenext);
      objects.SetInt(last, obj::kOlinenext, o);
    }
    clips.SetInt(row, clip::kO, clips.Int(row, clip::kO) + 1);
    return o;
  }

  // Appends a track of `samples` to the context's store, as a run leaves it.
  static void AddTrack(AnalysisContext& c, const std::vector<SampleValues>& samples) {
    const int k = c.track_count++;
    Track& t = c.tracks[k];
    t.sample_count = 0;
    for (const SampleValues& s : samples) {
      const int n = c.detection_count[s.field]++;
      Detection& d = c.DetectionAt(s.field, n);
      d = Detection{};
      d.object = k;
      d.field = s.field;
      d.peak = s.peak;
      d.saturated = s.saturated;
      d.Lsum = s.Lsum;
      d.az = s.az;
      d.ev = s.ev;
      d.ra = s.ra;
      d.dec = s.dec;
      d.err = s.err;
      d.pass = s.pass;
      d.x = s.x;
      d.y = s.y;
      d.pixels = s.pixels;
      d.r = s.r;
      t.samples[t.sample_count++] = s.field * kDetectionsPerField + n;
    }
  }

  // The run's store for clip row `row`: empty, then tagged as the
  // reduction tags it.
  static void StartRun(AnalysisContext& c, int row) {
    c.clip_row = row;
    c.track_count = 0;
    c.detection_count.fill(0);
    c.track_clip_row = row;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.messages()) texts.push_back(m.text);
    return texts;
  }

  TempDir dir_{"mr4-result-file"};
  ScriptedUi ui_;
  ScopedUi scoped_ui_{ui_};
  std::unique_ptr<AnalysisContext> c_;
};

const std::vector<SampleValues> kTwoSamples = {
    {12, 200, 3, 1000.0, 123.4567891, 45.25, 300.5, -5.125, 0.0012345, 1, 360.25, 240.5, 17,
     6.4},
    // Brightness below 1: the magnitude is the ZeroPoint (2.5 log10(255) + 2).
    {13, 7, 0, 0.5, 5.0, 0.5, 0.25, 12.0, 0.0, 0, 1.5, 2.25, 1234567, 123.45},
};

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";

// The clip element of NewClip's row with `o` = `objects`: 84 attributes,
// four to a line, the first (`clip_name`) on the file's second line, the
// fifth (`d`) on the third, the ninth (`tz`) on the fourth.
std::string GoldenClipElement(int objects) {
  return std::string(
             "<meridra_record version =\"202\"\r\n"
             "\t clip_name=\"M20240101_203015_ST1\" o=\"") +
         std::to_string(objects) +
         "\" y=\"2024\" mo=\"1\"\r\n"
         "\t d=\"1\" h=\"20\" m=\"30\" s=\"15.500000\"\r\n"
         "\t tz=\"32400\" tme=\"0.000000\" lid=\"TK\" sid=\"ST1\"\r\n"
         "\t lng=\"0.000000\" lat=\"0.000000\" alt=\"0.000000\" gioidh=\"0.000000\"\r\n"
         "\t cx=\"0\" cy=\"0\" fps=\"0.000000\" AvgTimePerFrame_setting=\"0\"\r\n"
         "\t interlaced=\"0\" bbf=\"0\" frames=\"0\" head=\"0\"\r\n"
         "\t tail=\"0\" drop=\"0\" dlev=\"0\" dsize=\"0\"\r\n"
         "\t sipos=\"0\" sisize=\"0\" trig=\"0\" observer=\"\"\r\n"
         "\t source_type=\"\" source_name=\"\" cam=\"\" lens=\"\"\r\n"
         "\t cap=\"\" fourcc_original=\"\" fourcc=\"\" codec=\"\"\r\n"
         "\t u2=\"\" ua=\"\" memo=\"\" az=\"0.000000\"\r\n"
         "\t ev=\"0.000000\" rot=\"0.000000\" vx=\"0.000000\" yx=\"0.000000\"\r\n"
         "\t dx=\"0.000000\" dy=\"0.000000\" k4=\"0.000000\" k3=\"0.000000\"\r\n"
         "\t k2=\"0.000000\" atc=\"0.000000\" BVF=\"0.000000\" maxLev=\"255\"\r\n"
         "\t maxMag=\"2.000000\" minLev=\"50\" mimMag=\"4.000000\" rstar=\"0\"\r\n"
         "\t ddega=\"0.000000\" ddegm=\"0.000000\" errm=\"0.000000\" Lmrgn=\"0\"\r\n"
         "\t Rmrgn=\"0\" Dmrgn=\"0\" Umrgn=\"0\" dl=\"0\"\r\n"
         "\t dlo=\"0\" pixs=\"0\" dapix=\"0\" s1=\"0\"\r\n"
         "\t s2=\"0\" mins=\"0\" leaps=\"0\" rm_small=\"0\"\r\n"
         "\t maxdps=\"0.000000\" maxedeg=\"0.000000\" cdlim=\"0.000000\" consR=\"0.000000\"\r\n"
         "\t refmag=\"0.000000\" ddpix=\"0.000000\" dlim=\"0\" dxoffset=\"0\">\r\n";
}

// AddObject(row, 12, 13, "spo"): 63 attributes, four to a line.
constexpr char kGoldenObject[] =
    "<mr2_object\r\n"
    "\t fs=\"12\" fe=\"13\" fN=\"2\" sN=\"2\"\r\n"
    "\t Npass=\"0\" sec=\"0.000000\" pix=\"0\" bmax=\"0\"\r\n"
    "\t bN=\"0\" Lmax=\"0.000000\" mag=\"0.500000\" cdeg=\"0.000000\"\r\n"
    "\t cdegpeak=\"0.000000\" io=\"0\" raP=\"0.000000\" dcP=\"0.000000\"\r\n"
    "\t x1=\"0.000000\" y1=\"0.000000\" x2=\"0.000000\" y2=\"0.000000\"\r\n"
    "\t az1=\"0.000000\" ev1=\"0.000000\" az2=\"0.000000\" ev2=\"0.000000\"\r\n"
    "\t ra1=\"0.000000\" dc1=\"0.000000\" av1=\"0.000000\" ra2=\"0.000000\"\r\n"
    "\t dc2=\"0.000000\" av2=\"0.000000\" ram=\"0.000000\" dcm=\"0.000000\"\r\n"
    "\t avm=\"0.000000\" class=\"spo\" manual=\"0\" dr=\"0.000000\"\r\n"
    "\t dv=\"0.000000\" Vo=\"0.000000\" Voshower=\"0.000000\" lng1=\"0.000000\"\r\n"
    "\t lat1=\"0.000000\" h1=\"0.000000\" dist1=\"0.000000\" gd1=\"0.000000\"\r\n"
    "\t azL1=\"0.000000\" evL1=\"0.000000\" lng2=\"0.000000\" lat2=\"0.000000\"\r\n"
    "\t h2=\"0.000000\" dist2=\"0.000000\" gd2=\"0.000000\" len=\"0.000000\"\r\n"
    "\t GV=\"0.000000\" memo=\"\" delay=\"0.000000\" delay_m=\"0.000000\"\r\n"
    "\t v_rao=\"0.000000\" v_dco=\"0.000000\" v_Vo=\"0.000000\" v_h1=\"0.000000\"\r\n"
    "\t v_rat=\"0.000000\" v_dct=\"0.000000\" v_Vg=\"0.000000\">\r\n";

constexpr char kGoldenSamples[] =
    "\t<mr2_objpath>\r\n"
    "<mr2_fdata2 fno=\" 12\" b=\"200\" bm=\"     3\" Lsum=\"    1000.0\" mag=\" +0.52\" "
    "az=\" 123.4567891\" ev=\" 45.2500000\" ra=\" 300.5000000\" dec=\" -5.1250000\" "
    "err=\"0.0012345\" pass=\"1\" x=\" 360.250\" y=\" 240.500\" pixels=\"     17\" "
    "r=\"   6.4\"></mr2_fdata2>\r\n"
    "<mr2_fdata2 fno=\" 13\" b=\"  7\" bm=\"     0\" Lsum=\"       0.5\" mag=\" +8.02\" "
    "az=\"   5.0000000\" ev=\"  0.5000000\" ra=\"   0.2500000\" dec=\"+12.0000000\" "
    "err=\"0.0000000\" pass=\"0\" x=\"   1.500\" y=\"   2.250\" pixels=\"1234567\" "
    "r=\" 123.5\"></mr2_fdata2>\r\n"
    "\t</mr2_objpath>\r\n";

std::string GoldenFile() {
  return kDeclaration + GoldenClipElement(1) + "\t<mr2_objects>\r\n" + kGoldenObject +
         kGoldenSamples + "</mr2_object>\r\n\t</mr2_objects>\r\n</meridra_record>\r\n";
}

// The names in `dir`, sorted.
std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The file of a clip with one object of two samples, rewritten from the
// context's own store (no profile stored into the row).
TEST_F(ResultFileTest, GoldenSmallClip) {
  const int row = NewClip(dir_.path(), kClipName);
  AddObject(row, 12, 13, "spo");
  StartRun(*c_, row);
  c_->track_clip_file = ResultFilePath(Tables().clip, row).native();
  AddTrack(*c_, kTwoSamples);
  ASSERT_TRUE(RewriteResultFile(*c_, row));
  EXPECT_EQ(ReadFileBytes(dir_ / "M20240101_203015_ST1A.XML"), GoldenFile());
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"M20240101_203015_ST1A.XML"});
  EXPECT_TRUE(Tables().clip.Int(row, clip::kMT) & KindBit(kKindResult));
}

// A degenerate fit's NaN (pole, residual, a sample's distance) is written as
// 0 in the attributes' and the samples' own formats, never as "nan" or
// "-nan", and the file reads back.
TEST_F(ResultFileTest, NumbersThatAreNotFiniteAreWrittenAsZero) {
  const int row = NewClip(dir_.path(), kClipName);
  const int o = AddObject(row, 12, 13, "__noise");
  Tables().obj.SetFloat(o, obj::kCdeg, -NAN);
  Tables().obj.SetFloat(o, obj::kRaP, NAN);
  Tables().obj.SetFloat(o, obj::kDcP, INFINITY);
  StartRun(*c_, row);
  c_->track_clip_file = ResultFilePath(Tables().clip, row).native();
  std::vector<SampleValues> samples = kTwoSamples;
  samples[0].err = -NAN;
  samples[1].ra = NAN;
  AddTrack(*c_, samples);
  ASSERT_TRUE(RewriteResultFile(*c_, row));
  const std::string text = ReadFileBytes(dir_ / "M20240101_203015_ST1A.XML");
  EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  EXPECT_EQ(text.find("inf"), std::string::npos) << text;
  for (const char* written : {" cdeg=\"0.000000\"", " raP=\"0.000000\"", " dcP=\"0.000000\"",
                              " err=\"0.0000000\"", " ra=\"   0.0000000\""}) {
    EXPECT_NE(text.find(written), std::string::npos) << written;
  }
}

TEST_F(ResultFileTest, NoObjectsWritesOnlyTheClipElement) {
  const int row = NewClip(dir_.path(), kClipName);
  StartRun(*c_, row);
  c_->track_clip_file = ResultFilePath(Tables().clip, row).native();
  AddTrack(*c_, kTwoSamples);  // a track without an object is not written
  ASSERT_TRUE(RewriteResultFile(*c_, row));
  EXPECT_EQ(ReadFileBytes(dir_ / "M20240101_203015_ST1A.XML"),
            kDeclaration + GoldenClipElement(0) + "</meridra_record>\r\n");
}

// The run's write: the context's profile goes into the row first; the
// layout is the rewrite's, and a rewrite right after it changes nothing.
TEST_F(ResultFileTest, RunWriteStoresTheProfile) {
  Table& clips = Tables().clip;
  const int row = NewClip(dir_.path(), kClipName);
  AddObject(row, 12, 13, "spo");
  StartRun(*c_, row);
  AddTrack(*c_, kTwoSamples);
  c_->profile.p_lid = "RUN";
  c_->profile.maxl = 200;
  c_->profile.maxm = 1.0f;
  c_->profile.minl = 20;
  c_->profile.ZeroPoint = 9.0;  // as the star fit leaves it
  ASSERT_TRUE(WriteResultFile(*c_));
  EXPECT_EQ(clips.Text(row, clip::kLid), "RUN");
  EXPECT_EQ(clips.Int(row, clip::kMaxLev), 200);
  EXPECT_TRUE(clips.Int(row, clip::kMT) & KindBit(kKindResult));
  EXPECT_TRUE(clips.Int(row, clip::kMT) & KindBit(kKindAvi));
  const fs::path path = dir_ / "M20240101_203015_ST1A.XML";
  const std::string text = ReadFileBytes(path);
  EXPECT_NE(text.find("lid=\"RUN\""), std::string::npos);
  // 9.0 - 2.5 log10(1000) = 1.5; below Lsum 1 the ZeroPoint itself.
  EXPECT_NE(text.find("mag=\" +1.50\""), std::string::npos);
  EXPECT_NE(text.find("mag=\" +9.00\""), std::string::npos);
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"M20240101_203015_ST1A.XML"});

  // The row now holds the run's levels: 2.5 log10(200) + 1 = 6.75.
  ASSERT_TRUE(RewriteResultFile(*c_, row));
  const std::string again = ReadFileBytes(path);
  EXPECT_NE(again.find("mag=\" +6.75\""), std::string::npos);
  EXPECT_EQ(again.substr(0, again.find("<mr2_fdata2")),
            text.substr(0, text.find("<mr2_fdata2")));
}

// The desktop program sets the user's locale: the files keep their decimal
// points and the thread its locale.
TEST_F(ResultFileTest, NumbersIgnoreTheLocale) {
  const locale_t comma = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
  if (comma == static_cast<locale_t>(0)) GTEST_SKIP() << "no de_DE.UTF-8 locale";
  const locale_t previous = uselocale(comma);
  const int row = NewClip(dir_.path(), kClipName);
  AddObject(row, 12, 13, "spo");
  StartRun(*c_, row);
  c_->track_clip_file = ResultFilePath(Tables().clip, row).native();
  AddTrack(*c_, kTwoSamples);
  const bool written = RewriteResultFile(*c_, row);
  c_->field_rate = 50.0;
  const bool opened = OpenTrailLog(*c_);
  WriteTrailLog(*c_, "%5.1f\n", 1.25);
  CloseTrailLog(*c_);
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  uselocale(previous);
  freelocale(comma);
  EXPECT_STREQ(probe, "1,5");
  ASSERT_TRUE(written);
  ASSERT_TRUE(opened);
  EXPECT_EQ(ReadFileBytes(dir_ / "M20240101_203015_ST1A.XML"), GoldenFile());
  EXPECT_EQ(ReadFileBytes(dir_ / "M20240101_203015_ST1L.csv"), "  1.2\r\n");
  ASSERT_TRUE(ReadResultTrail(*c_, row));
  EXPECT_DOUBLE_EQ(c_->Sample(c_->tracks[0].samples[0]).az, 123.4567891);
}

TEST_F(ResultFileTest, BothReadersRestoreTheFile) {
  WriteFileBytes(dir_ / "M20240101_203015_ST1A.XML", GoldenFile());
  Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  const int row = clips.AppendRow();
  clips.SetText(row, clip::kDirectory, dir_.path().native());
  clips.SetText(row, clip::kClipName, kClipName);
  clips.SetInt(row, clip::kOline, -1);
  ASSERT_EQ(ReadResultObjects(dir_ / "M20240101_203015_ST1A.XML", row), 1);
  EXPECT_EQ(clips.Int(row, clip::kO), 1);
  EXPECT_EQ(clips.Int(row, clip::kTz), 32400);
  EXPECT_EQ(clips.Text(row, clip::kLid), "TK");
  EXPECT_FLOAT_EQ(clips.Float(row, clip::kMaxMag), 2.0f);
  const int o = clips.Int(row, clip::kOline);
  ASSERT_GE(o, 0);
  EXPECT_EQ(objects.Int(o, obj::kFs), 12);
  EXPECT_EQ(objects.Int(o, obj::kFe), 13);
  EXPECT_EQ(objects.Int(o, obj::kSN), 2);
  EXPECT_EQ(objects.Text(o, obj::kClass), "spo");
  EXPECT_EQ(objects.Int(o, obj::kOlinenext), -1);

  auto c = NewContext();
  c->track_count = 5;  // left over from another clip
  ASSERT_TRUE(ReadResultTrail(*c, row));
  EXPECT_EQ(c->track_clip_row, row);
  ASSERT_EQ(c->track_count, 1);
  const Track& t = c->tracks[0];
  ASSERT_EQ(t.sample_count, 2);
  EXPECT_EQ(t.first_field, 12);
  EXPECT_EQ(t.last_field, 13);
  EXPECT_EQ(t.passed_count, 1);
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(k);
    const SampleValues& want = kTwoSamples[static_cast<std::size_t>(k)];
    const Detection& d = c->Sample(t.samples[k]);
    EXPECT_EQ(d.object, 0);
    EXPECT_EQ(d.field, want.field);
    EXPECT_EQ(d.peak, want.peak);
    EXPECT_EQ(d.saturated, want.saturated);
    EXPECT_NEAR(d.Lsum, want.Lsum, 0.05);
    EXPECT_NEAR(d.az, want.az, 5e-8);
    EXPECT_NEAR(d.ev, want.ev, 5e-8);
    EXPECT_NEAR(d.ra, want.ra, 5e-8);
    EXPECT_NEAR(d.dec, want.dec, 5e-8);
    EXPECT_NEAR(d.err, want.err, 5e-8);
    EXPECT_EQ(d.pass, want.pass);
    EXPECT_NEAR(d.x, want.x, 5e-4);
    EXPECT_NEAR(d.y, want.y, 5e-4);
    // Not kept by the reader.
    EXPECT_EQ(d.pixels, 0);
    EXPECT_EQ(d.r, 0.0);
  }
  EXPECT_EQ(c->detection_count[12], 1);
  EXPECT_EQ(c->detection_count[13], 1);
}

// Hand-written files: an older version without `sN`, an object without a
// trail between two with one, and sample lines the store cannot take.
TEST_F(ResultFileTest, TrailReaderEdges) {
  const std::string kLine =
      "<mr2_fdata2 fno=\"%d\" b=\"9\" bm=\"0\" Lsum=\"50.0\" mag=\"+1.00\" az=\"1.0\" "
      "ev=\"2.0\" ra=\"3.0\" dec=\"-4.0\" err=\"0.0\" pass=\"1\" x=\"5.0\" y=\"6.0\" "
      "pixels=\"9\" r=\"1.0\"></mr2_fdata2>\n";
  auto line = [&](int field) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, kLine.c_str(), field);
    return std::string(buffer);
  };
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
      "<meridra_record version =\"201\" clip_name=\"Mold\" o=\"3\">\n"
      "\t<mr2_objects>\n"
      "<mr2_object fs=\"1\" fe=\"2\" class=\"spo\">\n\t<mr2_objpath>\n" +
      line(1) + line(2) +
      // Beyond the store's fields, and a line without its `y`.
      line(kMaxFields) + line(-1) +
      "<mr2_fdata2 fno=\"3\" b=\"9\" bm=\"0\" Lsum=\"5\" mag=\"1\" az=\"1\" ev=\"1\" ra=\"1\" "
      "dec=\"1\" err=\"0\" pass=\"1\" x=\"1\"></mr2_fdata2>\n"
      "\t</mr2_objpath>\n</mr2_object>\n"
      "<mr2_object fs=\"5\" fe=\"5\" class=\"__noise\">\n</mr2_object>\n"
      "<mr2_object fs=\"7\" fe=\"8\" class=\"PER\">\n\t<mr2_objpath>\n" +
      line(7) + line(7) + line(8) + "\t</mr2_objpath>\n</mr2_object>\n" +
      // An object whose closing tags were lost keeps only its own samples.
      "<mr2_object fs=\"9\" fe=\"9\">\n\t<mr2_objpath>\n" + line(9) +
      "<mr2_object fs=\"10\" fe=\"10\">\n\t<mr2_objpath>\n" + line(10) +
      "\t</mr2_objpath>\n</mr2_object>\n\t</mr2_objects>\n</meridra_record>\n";
  // A field already full: its 201st sample is left out.
  for (int k = 0; k < kDetectionsPerField; ++k) text.insert(text.find("\t</mr2_objpath>"), line(100));
  WriteFileBytes(dir_ / "MoldA.XML", text);

  Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  const int row = NewClip(dir_.path(), "Mold");
  ASSERT_EQ(ReadResultObjects(dir_ / "MoldA.XML", row), 5);
  std::vector<int> sn;
  for (int o = clips.Int(row, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext))
    sn.push_back(objects.Int(o, obj::kSN));
  EXPECT_EQ(sn, (std::vector<int>{-1, -1, -1, -1, -1}));

  ASSERT_TRUE(ReadResultTrail(*c_, row));
  ASSERT_EQ(c_->track_count, 5);
  EXPECT_EQ(c_->tracks[0].sample_count, 2 + kDetectionsPerField);
  EXPECT_EQ(c_->tracks[1].sample_count, 0);
  EXPECT_EQ(c_->tracks[2].sample_count, 3);
  EXPECT_EQ(c_->tracks[3].sample_count, 1);
  EXPECT_EQ(c_->tracks[4].sample_count, 1);
  EXPECT_EQ(c_->Sample(c_->tracks[4].samples[0]).field, 10);
  EXPECT_EQ(c_->detection_count[7], 2);
  EXPECT_EQ(c_->detection_count[100], kDetectionsPerField);
  EXPECT_EQ(c_->Sample(c_->tracks[2].samples[2]).field, 8);
  EXPECT_EQ(c_->Sample(c_->tracks[2].samples[2]).object, 2);
  EXPECT_DOUBLE_EQ(c_->Sample(c_->tracks[2].samples[2]).dec, -4.0);
}

// About 4,300 samples: more than the record limit of 1,000,000 bytes.
TEST_F(ResultFileTest, LargeFileReadBack) {
  const int row = NewClip(dir_.path(), kClipName);
  AddObject(row, 0, 2399, "spo");
  AddObject(row, 0, 1899, "spo");
  StartRun(*c_, row);
  for (int track = 0; track < 2; ++track) {
    std::vector<SampleValues> samples;
    for (int f = 0; f < (track == 0 ? 2400 : 1900); ++f) {
      samples.push_back({f, 100 + track, 0, 500.0 + f, 10.0 + f * 0.001, 20.0, 30.0, -40.0,
                         0.001, 1, 100.0 + track, 200.0, 5, 2.0});
    }
    AddTrack(*c_, samples);
  }
  ASSERT_TRUE(WriteResultFile(*c_));
  const fs::path path = dir_ / "M20240101_203015_ST1A.XML";
  ASSERT_GT(fs::file_size(path), 1000000u);

  Tables().obj.Clear();
  Tables().clip.SetInt(row, clip::kOline, -1);
  EXPECT_EQ(ReadResultObjects(path, row), 2);
  auto c = NewContext();
  ASSERT_TRUE(ReadResultTrail(*c, row));
  ASSERT_EQ(c->track_count, 2);
  EXPECT_EQ(c->tracks[0].sample_count, 2400);
  EXPECT_EQ(c->tracks[1].sample_count, 1900);
  const Detection& last = c->Sample(c->tracks[1].samples[1899]);
  EXPECT_EQ(last.field, 1899);
  EXPECT_EQ(last.peak, 101);
  EXPECT_NEAR(last.az, 11.899, 1e-7);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ResultFileTest, TooBigOrUnreadableFilesAreRefused) {
  const int big = NewClip(dir_.path(), "Mbig");
  const fs::path big_path = dir_ / "MbigA.XML";
  WriteFileBytes(big_path, "<meridra_record o=\"1\">");
  fs::resize_file(big_path, kResultFileMaxBytes);  // sparse
  EXPECT_EQ(ReadResultObjects(big_path, big), 0);
  EXPECT_EQ(Tables().clip.Int(big, clip::kO), 0);

  c_->track_count = 3;
  c_->track_clip_row = big;
  EXPECT_FALSE(ReadResultTrail(*c_, big));
  EXPECT_EQ(c_->track_count, 0);
  EXPECT_EQ(c_->track_clip_row, -1);
  const std::string too_big = "readXML: file too big\n" + big_path.native();
  EXPECT_EQ(Messages(), (std::vector<std::string>{too_big, too_big}));

  // A rewrite that cannot load the clip's trail writes nothing.
  const std::uintmax_t size = fs::file_size(big_path);
  EXPECT_FALSE(RewriteResultFile(*c_, big));
  EXPECT_EQ(fs::file_size(big_path), size);

  // The result file's name taken by a directory.
  const int odd = NewClip(dir_.path(), "Modd");
  fs::create_directory(dir_ / "ModdA.XML");
  EXPECT_FALSE(ReadResultTrail(*c_, odd));
  EXPECT_EQ(Messages().back(), (dir_ / "ModdA.XML").native() + " cannot open");
}

TEST_F(ResultFileTest, MissingFileGivesAnEmptyTrail) {
  const int row = NewClip(dir_.path(), kClipName);
  StartRun(*c_, row + 1);
  AddTrack(*c_, kTwoSamples);
  ASSERT_TRUE(ReadResultTrail(*c_, row));
  EXPECT_EQ(c_->track_count, 0);
  EXPECT_EQ(c_->detection_count[12], 0);
  EXPECT_EQ(c_->track_clip_row, row);
  EXPECT_TRUE(Messages().empty());
}

// The store holds clip A's run when clip B's rows change: B's rewrite
// carries B's own samples, reloaded from B's file; and back.
TEST_F(ResultFileTest, RewriteOfAnotherClipKeepsItsOwnSamples) {
  Table& objects = Tables().obj;
  const int b = NewClip(dir_.path(), "Mb");
  const int ob = AddObject(b, 12, 13, "spo");
  StartRun(*c_, b);
  AddTrack(*c_, kTwoSamples);
  ASSERT_TRUE(WriteResultFile(*c_));

  const int a = NewClip(dir_.path(), "Ma");
  AddObject(a, 50, 50, "spo");
  StartRun(*c_, a);
  AddTrack(*c_, {{50, 9, 0, 10.0, 1, 2, 3, 4, 0, 1, 7.0, 8.0, 3, 1.0}});
  ASSERT_TRUE(WriteResultFile(*c_));
  const std::string a_file = ReadFileBytes(dir_ / "MaA.XML");

  objects.SetText(ob, obj::kClass, "PER");  // re-classified on the class page
  ASSERT_TRUE(RewriteResultFile(*c_, b));
  const std::string b_file = ReadFileBytes(dir_ / "MbA.XML");
  EXPECT_NE(b_file.find("class=\"PER\""), std::string::npos);
  EXPECT_NE(b_file.find("fno=\" 12\""), std::string::npos);
  EXPECT_NE(b_file.find("fno=\" 13\""), std::string::npos);
  EXPECT_EQ(b_file.find("fno=\" 50\""), std::string::npos);
  EXPECT_EQ(c_->track_clip_row, b);
  EXPECT_EQ(c_->track_count, 1);
  EXPECT_EQ(c_->tracks[0].sample_count, 2);

  // A's rewrite reloads A's trail: its file comes back as it was but for
  // the two values the reader does not keep.
  ASSERT_TRUE(RewriteResultFile(*c_, a));
  std::string expected = a_file;
  const std::string kept = "pixels=\"      3\" r=\"   1.0\"";
  ASSERT_NE(expected.find(kept), std::string::npos);
  expected.replace(expected.find(kept), kept.size(), "pixels=\"      0\" r=\"   0.0\"");
  EXPECT_EQ(ReadFileBytes(dir_ / "MaA.XML"), expected);

  // The run's write from a store of another clip reloads its own trail too
  // (the profile page's save of the loaded clip).
  c_->clip_row = b;
  ASSERT_TRUE(WriteResultFile(*c_));
  EXPECT_NE(ReadFileBytes(dir_ / "MbA.XML").find("fno=\" 13\""), std::string::npos);
  EXPECT_EQ(c_->track_clip_row, b);
}

// Deleting an object of the Main page takes its own track with it: the
// k-th object owns the file's k-th trail, so the later tracks move down.
TEST_F(ResultFileTest, DeletingAnObjectTakesItsTrackWithIt) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int row = NewClip(dir_.path(), "Md");
  const int first = AddObject(row, 10, 10, "spo");
  const int middle = AddObject(row, 20, 20, "PER");
  const int last = AddObject(row, 30, 30, "spo");
  objects.SetFloat(middle, obj::kMag, -3.0f);
  StartRun(*c_, row);
  for (int field : {10, 20, 30}) {
    AddTrack(*c_, {{field, 9, 0, 10.0, 1, 2, 3, 4, 0, 1, 7.0, 8.0, 3, 1.0}});
  }
  ASSERT_TRUE(WriteResultFile(*c_));

  ASSERT_TRUE(DeleteObjectOfClip(*c_, row, middle));
  EXPECT_FALSE(objects.Exists(middle));
  EXPECT_EQ(clips.Int(row, clip::kOline), first);
  EXPECT_EQ(objects.Int(first, obj::kOlinenext), last);
  EXPECT_EQ(clips.Int(row, clip::kO), 2);
  EXPECT_EQ(clips.Text(row, clip::kClass), std::string_view("spo"));
  EXPECT_EQ(c_->current_object, first);
  EXPECT_EQ(c_->track_count, 2);
  const std::string file = ReadFileBytes(dir_ / "MdA.XML");
  EXPECT_NE(file.find("fno=\" 10\""), std::string::npos);
  EXPECT_EQ(file.find("fno=\" 20\""), std::string::npos);
  EXPECT_NE(file.find("fno=\" 30\""), std::string::npos);

  // The first object: the clip's chain starts at the next.
  ASSERT_TRUE(DeleteObjectOfClip(*c_, row, first));
  EXPECT_EQ(clips.Int(row, clip::kOline), last);
  EXPECT_EQ(c_->track_count, 1);
  EXPECT_EQ(c_->Sample(c_->tracks[0].samples[0]).field, 30);
  EXPECT_EQ(c_->Sample(c_->tracks[0].samples[0]).object, 0);
}

// A manual object goes to the end of the chain with an empty track: the
// objects before it keep their trails in the file and when read back, and
// another object added after a reading does not take a trail either.
TEST_F(ResultFileTest, ManualObjectKeepsTheOtherObjectsTrails) {
  Table& clips = Tables().clip;
  Table& objects = Tables().obj;
  const int row = NewClip(dir_.path(), "Mm");
  AddObject(row, 10, 10, "spo");
  AddObject(row, 20, 20, "PER");
  StartRun(*c_, row);
  for (int field : {10, 20, 30}) {  // the third track belongs to no object
    AddTrack(*c_, {{field, 9, 0, 10.0, 1, 2, 3, 4, 0, 1, 7.0, 8.0, 3, 1.0}});
  }
  ASSERT_TRUE(WriteResultFile(*c_));  // the run's file
  const int manual = AddManualObject(*c_, row);
  ASSERT_GE(manual, 0);
  EXPECT_EQ(objects.Text(manual, obj::kClass), "__none");
  EXPECT_EQ(objects.Int(manual, obj::kManual), 1);
  EXPECT_EQ(objects.Float(manual, obj::kX1), -1.0f);
  EXPECT_EQ(objects.Float(manual, obj::kAv1), -1.0f);
  EXPECT_EQ(objects.Float(manual, obj::kLat2), -999.0f);
  EXPECT_EQ(clips.Int(row, clip::kO), 3);
  EXPECT_EQ(c_->current_object, manual);
  ASSERT_EQ(c_->track_count, 3);
  EXPECT_EQ(c_->tracks[2].sample_count, 0);
  ASSERT_TRUE(WriteResultFile(*c_));
  const std::string file = ReadFileBytes(dir_ / "MmA.XML");
  EXPECT_NE(file.find("fno=\" 10\""), std::string::npos);
  EXPECT_NE(file.find("fno=\" 20\""), std::string::npos);
  EXPECT_EQ(file.find("fno=\" 30\""), std::string::npos);
  // Three objects, two trails, the last object without one.
  const std::size_t last_object = file.rfind("<mr2_object\r\n");
  ASSERT_NE(last_object, std::string::npos);
  EXPECT_NE(file.find("class=\"__none\"", last_object), std::string::npos);
  EXPECT_EQ(file.find("<mr2_objpath>", last_object), std::string::npos);

  // Read back into a fresh store, and a second manual object after that.
  auto c = NewContext();
  ASSERT_TRUE(ReadResultTrail(*c, row));
  ASSERT_EQ(c->track_count, 3);
  EXPECT_EQ(c->Sample(c->tracks[1].samples[0]).field, 20);
  EXPECT_EQ(c->tracks[2].sample_count, 0);
  ASSERT_GE(AddManualObject(*c, row), 0);
  EXPECT_EQ(c->track_count, 4);
  EXPECT_EQ(c->tracks[3].sample_count, 0);
  EXPECT_EQ(c->Sample(c->tracks[0].samples[0]).field, 10);
}

TEST_F(ResultFileTest, ManualObjectsEndAtTwoHundred) {
  const int row = NewClip(dir_.path(), "Mn");
  StartRun(*c_, row);
  for (int i = 0; i < 200; ++i) ASSERT_GE(AddManualObject(*c_, row), 0) << i;
  const int objects = Tables().obj.count();
  EXPECT_EQ(AddManualObject(*c_, row), -1);
  EXPECT_EQ(Tables().obj.count(), objects);
  EXPECT_EQ(Tables().clip.Int(row, clip::kO), 200);
  EXPECT_EQ(c_->track_count, 200);
}

TEST_F(ResultFileTest, DeletingAnObjectOutsideTheChainIsFatal) {
  const int row = NewClip(dir_.path(), "Me");
  AddObject(row, 10, 10, "spo");
  const int other = NewClip(dir_.path(), "Mf");
  const int stranger = AddObject(other, 20, 20, "spo");
  EXPECT_EXIT(
      {
        SetUi(nullptr);  // the console Ui prints the message
        DeleteObjectOfClip(*c_, row, stranger);
      },
      testing::ExitedWithCode(99), "oline link broken");
}

// The scan takes an analysed clip back with its objects; its profile is
// its result file; opening it reloads its trail.
TEST_F(ResultFileTest, ScanReadsTheWrittenResult) {
  const int row = NewClip(dir_.path(), kClipName);
  AddObject(row, 12, 13, "spo");
  AddObject(row, 20, 20, "__noise");
  StartRun(*c_, row);
  AddTrack(*c_, kTwoSamples);
  ASSERT_TRUE(WriteResultFile(*c_));
  WriteFileBytes(dir_ / "M20240101_203015_ST1.avi", "");

  const LeapSecondRow leaps[] = {{2017, 1, 1, 37, 0.0f}};
  App().leap_seconds = BuildLeapSecondList(leaps);
  AppSettings() = Settings{};
  Clips() = ClipLibrary{};
  Tables().dir.Clear();
  const int d = Tables().dir.AppendRow();
  Tables().dir.SetUint(d, dir::kUse, 1);
  Tables().dir.SetText(d, dir::kDir, dir_.path().native());
  ASSERT_EQ(ReadClipDirectories(), 1);
  Tables().dir.Clear();
  const Table& clips = Tables().clip;
  const Table& objects = Tables().obj;
  const int scanned = 0;
  EXPECT_EQ(clips.Text(scanned, clip::kClipName), kClipName);
  EXPECT_EQ(clips.Int(scanned, clip::kO), 2);
  EXPECT_EQ(clips.Text(scanned, clip::kProfile), "M20240101_203015_ST1A.XML");
  EXPECT_TRUE(clips.Int(scanned, clip::kMT) & KindBit(kKindResult));
  std::vector<std::string> classes;
  for (int o = clips.Int(scanned, clip::kOline); o >= 0; o = objects.Int(o, obj::kOlinenext))
    classes.push_back(std::string(objects.Text(o, obj::kClass)));
  EXPECT_EQ(classes, (std::vector<std::string>{"spo", "__noise"}));
  auto c = NewContext();
  ASSERT_TRUE(ReadResultTrail(*c, scanned));
  ASSERT_EQ(c->track_count, 2);
  EXPECT_EQ(c->tracks[0].sample_count, 2);
  EXPECT_EQ(c->tracks[1].sample_count, 0);
}

// After a rescan the same row can be another clip: the store's tag names
// the file as well.
TEST_F(ResultFileTest, RescannedRowIsReloaded) {
  Table& clips = Tables().clip;
  const int row = NewClip(dir_.path(), "Mfirst");
  AddObject(row, 12, 13, "spo");
  StartRun(*c_, row);
  AddTrack(*c_, kTwoSamples);
  ASSERT_TRUE(WriteResultFile(*c_));
  fs::rename(dir_ / "MfirstA.XML", dir_ / "MsecondA.XML");
  WriteFileBytes(dir_ / "MfirstA.XML", "");  // nothing to read there
  clips.SetText(row, clip::kClipName, "Msecond");
  c_->track_count = 0;  // the store changed, the tag did not
  EXPECT_TRUE(EnsureClipTrail(*c_, row));
  EXPECT_EQ(c_->track_count, 1);
  EXPECT_EQ(c_->tracks[0].sample_count, 2);
}

// Writes that fail leave no partial file, keep what was there, report
// both messages and leave the media flags alone.
TEST_F(ResultFileTest, UnwritableResultFails) {
  struct Case {
    const char* what;
    std::string dir;        // under the test directory
    std::string blocker;    // what is put in the way
    bool old_file;          // an earlier result is there
    bool read_only;         // the directory's write permission is taken away
  };
  const Case cases[] = {
      {"directory is a file", "file", "", false, false},
      // (A temporary's name is new for every write: nothing can take it
      // beforehand, FileReplacement.TwoWritersOfOneFileBothSucceed.)
      {"result name taken by a directory", "named", "MxA.XML", false, false},
      // Permissions do not stop the superuser.
      {"read-only directory", "locked", "sub", true, geteuid() != 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const fs::path dir = dir_ / k.dir;
    if (k.blocker == "sub" && !k.read_only) continue;
    if (k.blocker.empty()) {
      WriteFileBytes(dir, "not a directory");
    } else {
      fs::create_directories(dir / k.blocker);
    }
    if (k.old_file) WriteFileBytes(dir / "MxA.XML", "old");
    if (k.read_only) fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    const int row = NewClip(dir, "Mx");
    AddObject(row, 12, 13, "spo");
    StartRun(*c_, row);
    AddTrack(*c_, kTwoSamples);
    for (bool rewrite : {false, true}) {
      SCOPED_TRACE(rewrite ? "rewrite" : "run");
      ui_.Clear();
      EXPECT_FALSE(rewrite ? RewriteResultFile(*c_, row) : WriteResultFile(*c_));
      const fs::path path = dir / "MxA.XML";
      EXPECT_EQ(Messages(), (std::vector<std::string>{"saveXML: cannot open " + path.native(),
                                                      "Cannot open " + path.native()}));
      EXPECT_EQ(Tables().clip.Int(row, clip::kMT), KindBit(kKindAvi));
      if (k.blocker.empty()) continue;
      // Only what was there before.
      std::vector<std::string> expected{k.blocker};
      if (k.old_file) expected.push_back("MxA.XML");
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Entries(dir), expected);
      if (k.old_file) {
        EXPECT_EQ(ReadFileBytes(path), "old");
      }
    }
    if (k.read_only) fs::permissions(dir, fs::perms::owner_all);
  }
}

class TrailLogTest : public ResultFileTest {};

TEST_F(TrailLogTest, ObjectBlockAndShowerLines) {
  const int row = NewClip(dir_.path(), kClipName);
  StartRun(*c_, row);
  c_->field_rate = 50.0;
  c_->head_time = 0.5;
  AddTrack(*c_, kTwoSamples);
  AddTrack(*c_, {{100, 9, 0, 10, 0, 0, 10.25, -20.5, 0, 1, 0, 0, 0, 0},
                 {101, 9, 0, 10, 0, 0, 10.5, -20.75, 0, 0, 0, 0, 0, 0},
                 {102, 9, 0, 10, 0, 0, 359.9999999, 89.5, 0, 1, 0, 0, 0, 0}});
  Detection& d = c_->Sample(c_->tracks[1].samples[1]);
  d.ra_mod = 10.5000001;
  d.dec_mod = -20.7499999;
  d.av = 23.4;
  ASSERT_TRUE(OpenTrailLog(*c_));
  WriteTrailLogTrack(*c_, 1);
  WriteTrailLog(*c_, "Shower,code,state,dsol,ra_swr,dec_swr,az_swr,ev_swr,D,r,H1,Vo_swr,sdv,"
                     "dVlimit%%,Vo,dV%%\n");
  WriteTrailLog(*c_, "shower,%8s,p2->p1,%5.1f,", "PER", 1.25);
  WriteTrailLog(*c_, "%5.1f,%5.1f,%5.1f,%5.1f,%5.1f\n", 46.2, 58.1, 30.0, 40.0, 12.5);
  WriteTrailLog(*c_, "\n");
  CloseTrailLog(*c_);
  EXPECT_EQ(c_->trail_log, nullptr);
  EXPECT_EQ(ReadFileBytes(dir_ / "M20240101_203015_ST1L.csv"),
            "Object,M20240101_203015_ST1,Trail,1,NSample,3\r\n"
            "Sample,line,sno,time,ra,dec,ra_mod,dec_mod,av,pass,middle\r\n"
            "sample,   0, 100,  1.500, 10.2500000,-20.5000000,  0.0000000,  0.0000000,"
            "  0.0000000,1  \r\n"
            "sample,   1, 101,  1.520, 10.5000000,-20.7500000, 10.5000001,-20.7499999,"
            " 23.4000000,0,m\r\n"
            "sample,   2, 102,  1.540,359.9999999, 89.5000000,  0.0000000,  0.0000000,"
            "  0.0000000,1  \r\n"
            "\r\n"
            "Shower,code,state,dsol,ra_swr,dec_swr,az_swr,ev_swr,D,r,H1,Vo_swr,sdv,"
            "dVlimit%,Vo,dV%\r\n"
            "shower,     PER,p2->p1,  1.2, 46.2, 58.1, 30.0, 40.0, 12.5\r\n"
            "\r\n");
  EXPECT_EQ(Entries(dir_.path()), std::vector<std::string>{"M20240101_203015_ST1L.csv"});
}

TEST_F(TrailLogTest, MiddleSampleAndEmptyTrack) {
  const int row = NewClip(dir_.path(), "Mm");
  StartRun(*c_, row);
  c_->field_rate = 50.0;
  c_->head_time = 0.0;
  AddTrack(*c_, {{10, 9, 0, 10, 0, 0, 1, 2, 0, 1, 0, 0, 0, 0},
                 {11, 9, 0, 10, 0, 0, 1, 2, 0, 1, 0, 0, 0, 0}});
  AddTrack(*c_, {});
  ASSERT_TRUE(OpenTrailLog(*c_));
  WriteTrailLogTrack(*c_, 0);
  WriteTrailLogTrack(*c_, 1);
  WriteTrailLogTrack(*c_, 2);  // no such track
  CloseTrailLog(*c_);
  EXPECT_EQ(ReadFileBytes(dir_ / "MmL.csv"),
            "Object,Mm,Trail,0,NSample,2\r\n"
            "Sample,line,sno,time,ra,dec,ra_mod,dec_mod,av,pass,middle\r\n"
            "sample,   0,  10,  0.200,  1.0000000,  2.0000000,  0.0000000,  0.0000000,"
            "  0.0000000,1,m\r\n"
            "sample,   1,  11,  0.220,  1.0000000,  2.0000000,  0.0000000,  0.0000000,"
            "  0.0000000,1  \r\n"
            "\r\n"
            "Object,Mm,Trail,1,NSample,0\r\n"
            "Sample,line,sno,time,ra,dec,ra_mod,dec_mod,av,pass,middle\r\n"
            "\r\n");
}

TEST_F(TrailLogTest, CannotCreate) {
  const int row = NewClip(dir_ / "missing", "Mx");
  StartRun(*c_, row);
  AddTrack(*c_, kTwoSamples);
  EXPECT_FALSE(OpenTrailLog(*c_));  // the reduction reports it
  WriteTrailLogTrack(*c_, 0);
  WriteTrailLog(*c_, "x\n");
  CloseTrailLog(*c_);
  EXPECT_TRUE(Messages().empty());
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

}  // namespace
}  // namespace mr4
