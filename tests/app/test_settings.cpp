#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/column_layouts.h"
#include "base/process_values.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/scripted_ui.h"
#include "platform/system.h"

namespace mr4 {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Parameters owned by a test, at their defaults.
struct TestStore {
  TestStore() { ApplyDefaultSettings(store()); }
  SettingsStore store() { return {&settings, profile.get(), layouts}; }
  // The items point into this store's records, so one list serves every
  // call.
  const SettingItem& Item(const std::string& key) {
    if (items.empty()) items = SettingItems(store());
    for (const SettingItem& item : items) {
      if (item.key == key) return item;
    }
    ADD_FAILURE() << "no key " << key;
    return items.front();
  }
  std::string Value(const std::string& key) { return FormatSettingValue(Item(key)); }

  Settings settings;
  std::unique_ptr<CameraProfile> profile = std::make_unique<CameraProfile>();
  std::array<ColumnLayout, kColumnLayoutCount> layouts = BuiltInColumnLayouts();
  std::vector<SettingItem> items;
};

// Record builders for hand-made files.
void Put32(std::uint32_t v, Bytes* out) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}
Bytes Record(const std::string& key, const Bytes& data, std::int32_t length) {
  Bytes out(16, 0);
  std::memcpy(out.data(), key.data(), std::min<std::size_t>(key.size(), 16));
  Put32(static_cast<std::uint32_t>(length), &out);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}
Bytes Record(const std::string& key, const Bytes& data) {
  return Record(key, data, static_cast<std::int32_t>(data.size()));
}
Bytes IntRecord(const std::string& key, std::int32_t v) {
  Bytes data;
  Put32(static_cast<std::uint32_t>(v), &data);
  return Record(key, data);
}
Bytes WideText(const std::u16string& text) {
  Bytes data;
  for (char16_t u : text) {
    data.push_back(static_cast<std::uint8_t>(u & 0xFF));
    data.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  data.insert(data.end(), 2, 0);
  while (data.size() % 4) data.push_back(0);
  return data;
}
Bytes NarrowText(const std::string& text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  while (data.size() % 4) data.push_back(0);
  return data;
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Finds the record whose 16 key bytes are `key_bytes`, walking the file.
struct FoundRecord {
  std::size_t offset = 0;
  std::int32_t length = -1;
  Bytes data;
};
std::vector<FoundRecord> FindRecords(const Bytes& file, const std::string& key_bytes) {
  std::vector<FoundRecord> found;
  for (std::size_t pos = 0; pos + 20 <= file.size();) {
    std::int32_t length;
    std::memcpy(&length, file.data() + pos + 16, 4);
    if (std::memcmp(file.data() + pos, key_bytes.data(), 16) == 0) {
      found.push_back({pos, length, Bytes(file.begin() + pos + 20,
                                          file.begin() + pos + 20 + length)});
    }
    pos += 20 + length;
  }
  return found;
}
std::string KeyBytes(const std::string& key) {
  std::string k = key.substr(0, 15);
  k.resize(16, '\0');
  return k;
}

TEST(SettingsKeys, FileOrderAndUniquePrefixes) {
  TestStore t;
  std::vector<SettingItem> items = SettingItems(t.store());
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.front().key, "VERSION");
  // The two profile keys written twice are the only repeated keys; no two
  // other keys may share their first 15 characters, or one would read the
  // other's record.
  std::set<std::string> prefixes;
  std::vector<std::string> repeated;
  int layout_items = 0;
  for (const SettingItem& item : items) {
    if (item.key.find("_d") != std::string::npos ||
        item.key.find("_w") != std::string::npos) {
      if (item.key[0] == 'U') ++layout_items;
    }
    if (!prefixes.insert(item.key.substr(0, 15)).second) repeated.push_back(item.key);
  }
  EXPECT_EQ(repeated, (std::vector<std::string>{"PA0->p_u4_ddpix", "PA0->p_u4_bvf"}));
  EXPECT_EQ(layout_items, 2 * 768);
  // The layouts follow the last key.
  auto deinterlace = std::find_if(items.begin(), items.end(), [](const SettingItem& i) {
    return i.key == "IF.deinterace ";
  });
  ASSERT_NE(deinterlace, items.end());
  EXPECT_EQ((deinterlace + 1)->key, "UO_d0");
  EXPECT_EQ((deinterlace + 2)->key, "UO_w0");
  EXPECT_EQ(items.back().key, "UD_w4");
}

TEST(SettingsDefaults, ApplyDefaultsResetsEveryKind) {
  TestStore t;
  t.settings.gPAN = 9;
  t.settings.pstep = 7.0f;
  t.settings.deldir = "/elsewhere";
  t.profile->p_lng = 1.0f;
  t.profile->p_lid = "x";
  t.layouts[5].entries[1].width = 999;
  t.layouts[5].entries[0].shown = 1;
  ApplyDefaultSettings(t.store());
  EXPECT_EQ(t.settings.gPAN, 4);
  EXPECT_EQ(t.settings.pstep, 0.1f);
  EXPECT_EQ(t.settings.deldir, DocumentsFolder().string());
  EXPECT_EQ(t.settings.catalog, "V14.jx.csv");
  EXPECT_EQ(t.settings.g_map, "GMe136n34_16.DAT");
  EXPECT_EQ(t.profile->p_lng, 139.0f);
  EXPECT_EQ(t.profile->p_lid, "");
  EXPECT_EQ(t.profile->p_inter, 1);
  EXPECT_EQ(t.layouts[5].entries[1].width, 180);  // "UC" clip_name
  EXPECT_EQ(t.layouts[5].entries[0].shown, 0);    // "UC" directory, hidden
}

TEST(SettingsFile, EveryKeyRoundTrips) {
  TestStore source;
  std::vector<SettingItem> items = SettingItems(source.store());
  int n = 0;
  for (const SettingItem& item : items) {
    ++n;
    if (item.key == "VERSION") continue;
    switch (item.kind) {
      case SettingKind::kInt: *item.int_value = 1000 + n; break;
      case SettingKind::kFloat: *item.float_value = n + 0.3f; break;
      case SettingKind::kText:
        *item.text_value = "t\xC3\xA4xt \xF0\x9F\x8C\xA0 " + std::to_string(n) + ".jx.csv";
        break;
    }
  }
  Bytes file = EncodeSettings(source.store());

  TestStore target;
  EXPECT_EQ(DecodeSettings(file, target.store()), SettingsReadResult::kRead);
  std::vector<SettingItem> read = SettingItems(target.store());
  ASSERT_EQ(read.size(), items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(items[i].key);
    std::string expected = FormatSettingValue(items[i]);
    if (items[i].key == "PA0->p_u4_consR") expected = "3";  // not read back
    if (items[i].key == "AP.p_inter") expected = "1";       // not written
    EXPECT_EQ(FormatSettingValue(read[i]), expected);
  }
}

TEST(SettingsFile, LongKeyIsCutTo15CharactersAndFoundAgain) {
  TestStore t;
  t.settings.dlgrect_bottom = 777;
  Bytes file = EncodeSettings(t.store());
  auto found = FindRecords(file, std::string("AP.dlgrect.bott\0", 16));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].length, 4);
  EXPECT_EQ(found[0].data, (Bytes{0x09, 0x03, 0, 0}));

  TestStore read;
  DecodeSettings(file, read.store());
  EXPECT_EQ(read.settings.dlgrect_bottom, 777);
}

TEST(SettingsFile, TextIsUtf16WithTerminatorPaddedToFour) {
  struct Case {
    const char* text;
    std::int32_t length;
    Bytes data;
  };
  const Case cases[] = {
      {"abc", 8, {'a', 0, 'b', 0, 'c', 0, 0, 0}},
      {"", 4, {0, 0, 0, 0}},
      {"ab", 8, {'a', 0, 'b', 0, 0, 0, 0, 0}},
      {"\xC3\xA9", 4, {0xE9, 0, 0, 0}},                        // é
      {"\xF0\x9F\x8C\xA0", 8, {0x3C, 0xD8, 0x20, 0xDF, 0, 0, 0, 0}},  // U+1F320
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TestStore t;
    t.settings.outdir = c.text;
    Bytes file = EncodeSettings(t.store());
    auto found = FindRecords(file, KeyBytes("AP.outdir"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].length, c.length);
    EXPECT_EQ(found[0].data, c.data);
    TestStore read;
    DecodeSettings(file, read.store());
    EXPECT_EQ(read.settings.outdir, c.text);
  }
}

TEST(SettingsFile, ValuesAreLittleEndianInt32AndFloat32) {
  TestStore t;
  t.settings.gPAN = -2;
  t.settings.pstep = 0.5f;
  Bytes file = EncodeSettings(t.store());
  EXPECT_EQ(FindRecords(file, KeyBytes("gPAN"))[0].data, (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(FindRecords(file, KeyBytes("AP.pstep"))[0].data, (Bytes{0, 0, 0, 0x3F}));
  // The file starts with the version, always 500.
  t.settings.version = 300;
  file = EncodeSettings(t.store());
  Bytes head(file.begin(), file.begin() + 24);
  EXPECT_EQ(head, IntRecord("VERSION", 500));
}

TEST(SettingsFile, OldVersionStoresOneBytePerCharacter) {
  Bytes file = Join({IntRecord("VERSION", 300),
                     Record("AP.outdir", NarrowText("D:\\met\xE9or")),
                     Record("PA0->p_lid", NarrowText("JP"))});
  TestStore t;
  EXPECT_EQ(DecodeSettings(file, t.store()), SettingsReadResult::kRead);
  EXPECT_EQ(t.settings.outdir, "D:\\met\xC3\xA9or");
  EXPECT_EQ(t.profile->p_lid, "JP");
  // From VERSION 400 on the same bytes are UTF-16.
  file = Join({IntRecord("VERSION", 400), Record("AP.outdir", WideText(u"D:\\m"))});
  TestStore wide;
  DecodeSettings(file, wide.store());
  EXPECT_EQ(wide.settings.outdir, "D:\\m");
}

TEST(SettingsFile, NewerVersionIsIgnoredWithAMessage) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  Bytes file = Join({IntRecord("VERSION", 600), IntRecord("gPAN", 2),
                     Record("AP.outdir", WideText(u"x"))});
  TestStore t;
  EXPECT_EQ(DecodeSettings(file, t.store()), SettingsReadResult::kNewerVersion);
  EXPECT_EQ(t.settings.gPAN, 4);
  EXPECT_EQ(t.settings.outdir, "");
  auto shown = ui.messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Qor series");
  EXPECT_EQ(shown[0].text, "Version of Settings file is newer than program\n...ignored");

  // VERSION 500 and a file without a version are read, without a message.
  ui.Clear();
  for (const Bytes& readable : {Join({IntRecord("VERSION", 500), IntRecord("gPAN", 2)}),
                                IntRecord("gPAN", 2)}) {
    TestStore r;
    EXPECT_EQ(DecodeSettings(readable, r.store()), SettingsReadResult::kRead);
    EXPECT_EQ(r.settings.gPAN, 2);
  }
  EXPECT_TRUE(ui.messages().empty());
  TestStore empty;
  EXPECT_EQ(DecodeSettings({}, empty.store()), SettingsReadResult::kEmpty);
}

TEST(SettingsFile, CatalogueNameMustEndInJxCsv) {
  struct Case {
    std::u16string stored;
    const char* expected;
  };
  const Case cases[] = {
      {u"V14.csv", "V14.jx.csv"},     {u"My2.jx.csv", "My2.jx.csv"},
      {u"jx.csv", "jx.csv"},          {u"x.csv", "V14.jx.csv"},
      {u"", "V14.jx.csv"},            {u"Big.JX.csv", "V14.jx.csv"},
      {u"\u00DCber.jx.csv", "\xC3\x9C" "ber.jx.csv"},
      // Counted in characters, not in UTF-8 bytes.
      {u"aj\u00E9.csv", "aj\xC3\xA9.csv"},
      {u"xj\u00E9.cs", "V14.jx.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    TestStore t;
    DecodeSettings(Record("AP.catalog", WideText(c.stored)), t.store());
    EXPECT_EQ(t.settings.catalog, c.expected);
  }
}

TEST(SettingsFile, FrameSizeHasAMinimum) {
  struct Case {
    std::int32_t cx, cy;
    int width, height;
  };
  const Case cases[] = {{100, 100, 320, 240}, {320, 240, 320, 240},
                        {319, 239, 320, 240}, {1920, 1080, 1920, 1080},
                        {-5, 0, 320, 240}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cx << "x" << c.cy);
    TestStore t;
    DecodeSettings(Join({IntRecord("PA0->cx ", c.cx), IntRecord("PA0->cy ", c.cy)}),
                   t.store());
    EXPECT_EQ(t.profile->cx, c.width);
    EXPECT_EQ(t.profile->cy, c.height);
  }
}

// A float record that is not a finite number keeps the value the key had.
TEST(SettingsFile, InfiniteAndNanFloatsAreNotRead) {
  struct Case {
    std::uint32_t bits;
    float read;
  };
  const Case cases[] = {{0x7FC00000u, 4.0f},   // NaN
                        {0xFFC00000u, 4.0f},   // -NaN
                        {0x7F800000u, 4.0f},   // infinity
                        {0x7F7FFFFFu, 3.4028235e38f},  // the largest float is a number
                        {0x40000000u, 2.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.bits);
    TestStore t;
    t.settings.g_zoom = 4.0f;
    Bytes bits;
    Put32(c.bits, &bits);
    DecodeSettings(Record("AP.g_zoom", bits), t.store());
    EXPECT_EQ(t.settings.g_zoom, c.read);
  }
}

TEST(SettingsFile, NegativeWindowTopResetsTheRectangle) {
  struct Case {
    std::int32_t top;
    int left, top_after, right, bottom;
  };
  const Case cases[] = {{-5, 20, 100, 920, 680}, {-1, 20, 100, 920, 680},
                        {0, 10, 0, 1600, 1000}, {50, 10, 50, 1600, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.top);
    TestStore t;
    DecodeSettings(IntRecord("AP.dlgrect.top", c.top), t.store());
    FinishSettingsRead(t.store());
    EXPECT_EQ(t.settings.dlgrect_left, c.left);
    EXPECT_EQ(t.settings.dlgrect_top, c.top_after);
    EXPECT_EQ(t.settings.dlgrect_right, c.right);
    EXPECT_EQ(t.settings.dlgrect_bottom, c.bottom);
  }
}

TEST(SettingsFile, ShortValueReplacesOnlyItsFirstBytes) {
  TestStore t;
  t.settings.gPAN = 0x01020304;
  DecodeSettings(Record("gPAN", Bytes{0xAA, 0xBB}), t.store());
  EXPECT_EQ(t.settings.gPAN, 0x0102BBAA);
  // An empty value leaves the parameter unchanged, text included.
  TestStore e;
  DecodeSettings(Join({Record("gPAN", {}), Record("AP.g_map", {})}), e.store());
  EXPECT_EQ(e.settings.gPAN, 4);
  EXPECT_EQ(e.settings.g_map, "GMe136n34_16.DAT");
}

TEST(SettingsFile, DamagedRecordEndsTheReading) {
  const Bytes good = Join({IntRecord("gPAN", 2), IntRecord("AP.BW", 1)});
  Bytes cut_header = IntRecord("AP.Y", 1999);
  cut_header.resize(10);
  Bytes cut_data = IntRecord("AP.Y", 1999);
  cut_data.resize(22);
  struct Case {
    const char* name;
    Bytes damaged;
  };
  const Case cases[] = {
      {"header cut", cut_header},
      {"data cut", cut_data},
      // The good record after the damaged one is 24 bytes long.
      {"length one past the end", Record("AP.Y", Bytes{1, 2, 3, 4}, 4 + 24 + 1)},
      {"length far past the end", Record("AP.Y", Bytes{1, 2, 3, 4}, 1 << 20)},
      {"negative length", Record("AP.Y", Bytes{1, 2, 3, 4}, -4)},
      {"most negative length", Record("AP.Y", Bytes{1, 2, 3, 4}, INT32_MIN)},
      {"largest length", Record("AP.Y", Bytes{1, 2, 3, 4}, INT32_MAX)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The damaged record, then a good one that must not be reached.
    Bytes file = Join({good, c.damaged, IntRecord("AP.M", 7)});
    if (std::string(c.name).find("cut") != std::string::npos) {
      file = Join({good, c.damaged});
    }
    TestStore t;
    EXPECT_EQ(DecodeSettings(file, t.store()), SettingsReadResult::kRead);
    EXPECT_EQ(t.settings.gPAN, 2);
    EXPECT_EQ(t.settings.BW, 1);
    EXPECT_EQ(t.settings.Y, 2007);
    EXPECT_EQ(t.settings.M, 1);
  }
  // Damage in the first record leaves every default.
  TestStore first;
  DecodeSettings(Join({Record("gPAN", Bytes{2, 0, 0, 0}, -20), good}), first.store());
  EXPECT_EQ(first.settings.gPAN, 4);
  EXPECT_EQ(first.settings.BW, 0);
}

TEST(SettingsFile, OnlyTheFirst50000BytesAreSeen) {
  // A filler record, then a record that ends exactly at byte 50,000 and one
  // that straddles it.
  Bytes filler = Record("filler", Bytes(50000 - 20 - 24 - 20, 0));
  Bytes inside = IntRecord("gPAN", 2);
  Bytes file = Join({filler, inside});
  ASSERT_EQ(file.size(), 50000u - 20);
  file = Join({file, IntRecord("AP.BW", 1)});  // ends at 50,004
  TestStore t;
  DecodeSettings(file, t.store());
  EXPECT_EQ(t.settings.gPAN, 2);
  EXPECT_EQ(t.settings.BW, 0);
}

TEST(SettingsFile, FirstOfDuplicateKeysWins) {
  TestStore t;
  DecodeSettings(Join({IntRecord("gPAN", 2), IntRecord("gPAN", 3),
                       Record("AP.outdir", WideText(u"first")),
                       Record("AP.outdir", WideText(u"second"))}),
                 t.store());
  EXPECT_EQ(t.settings.gPAN, 2);
  EXPECT_EQ(t.settings.outdir, "first");
  // The keys matched on 15 characters: a stored key of 16 characters is
  // found by the 17-character name.
  TestStore l;
  DecodeSettings(IntRecord("AP.dlgrect.bottX", 5), l.store());
  EXPECT_EQ(l.settings.dlgrect_bottom, 5);
}

TEST(SettingsFile, TwiceWrittenKeysCarryTheSameValue) {
  TestStore t;
  t.profile->p_u4_ddpix = 0.25f;
  Bytes file = EncodeSettings(t.store());
  auto found = FindRecords(file, KeyBytes("PA0->p_u4_ddpix"));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].data, found[1].data);
  EXPECT_EQ(FindRecords(file, KeyBytes("PA0->p_u4_bvf")).size(), 2u);
}

TEST(SettingsFile, JoiningAngleIsWrittenButNotReadBack) {
  TestStore t;
  t.profile->p_u4_consR = 7.5f;
  Bytes file = EncodeSettings(t.store());
  auto found = FindRecords(file, KeyBytes("PA0->p_u4_consR"));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].data, (Bytes{0, 0, 0xF0, 0x40}));
  TestStore read;
  read.profile->p_u4_consR = 1.0f;
  DecodeSettings(file, read.store());
  EXPECT_EQ(read.profile->p_u4_consR, 1.0f);  // untouched by the file
}

TEST(SettingsFile, InterlaceFlagIsReadButNotWritten) {
  TestStore t;
  DecodeSettings(IntRecord("AP.p_inter", 0), t.store());
  EXPECT_EQ(t.profile->p_inter, 0);
  Bytes file = EncodeSettings(t.store());
  EXPECT_TRUE(FindRecords(file, KeyBytes("AP.p_inter")).empty());
}

TEST(SettingsFile, TrailMapDaysCarryTheLimitingMagnitude) {
  TestStore t;
  t.settings.t_mag = 5.5f;
  Bytes file = EncodeSettings(t.store());
  EXPECT_EQ(FindRecords(file, KeyBytes("AP.t_days"))[0].data,
            FindRecords(file, KeyBytes("AP.t_mag"))[0].data);
  // Read after "AP.t_mag", "AP.t_days" decides.
  TestStore r;
  Bytes days;
  Put32(0x40000000, &days);  // 2.0f
  DecodeSettings(Join({Record("AP.t_days", days), IntRecord("AP.t_mag", 0x40400000)}),
                 r.store());
  EXPECT_EQ(r.settings.t_mag, 2.0f);
}

TEST(SettingsFile, LayoutsTakeTheirEntryPairsInPrefixOrder) {
  TestStore t;
  const char* const order[] = {"UO", "UO2", "UO3", "UO4", "UO5", "UC", "UC2", "UC3",
                               "UC4", "UC5", "US", "US2", "UE", "UE2", "UD"};
  const std::size_t counts[] = {55, 55, 55, 55, 55, 89, 89, 89, 89, 89, 22, 17, 1, 3, 5};
  std::size_t entries = 0;
  for (int i = 0; i < kColumnLayoutCount; ++i) {
    EXPECT_STREQ(t.layouts[i].prefix, order[i]);
    EXPECT_EQ(t.layouts[i].entries.size(), counts[i]) << order[i];
    entries += t.layouts[i].entries.size();
  }
  EXPECT_EQ(entries, 768u);

  Bytes file = EncodeSettings(t.store());
  auto first = FindRecords(file, KeyBytes("UO_d0"));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(file.size() - first[0].offset, 36864u);
  // Every layout record is an int, d before w.
  auto d = FindRecords(file, KeyBytes("UC3_d88"));
  auto w = FindRecords(file, KeyBytes("UC3_w88"));
  ASSERT_EQ(d.size(), 1u);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].offset, d[0].offset + 24);
  EXPECT_EQ(d[0].data, (Bytes{1, 0, 0, 0}));   // "drop" shown
  EXPECT_EQ(w[0].data, (Bytes{40, 0, 0, 0}));  // 40 px
  EXPECT_EQ(FindRecords(file, KeyBytes("UD_w4"))[0].offset, file.size() - 24);
}

TEST(SettingsFile, WriterCutsTextsToWhatTheReaderAccepts) {
  struct Case {
    const char* key;
    std::string value;
    std::int32_t length;
    std::size_t chars_read;
  };
  const std::string pair = "\xF0\x9F\x8C\xA0";  // two UTF-16 characters
  const Case cases[] = {
      {"AP.outdir", std::string(5000, 'a'), 2048, 1023},
      {"AP.outdir", std::string(1023, 'a'), 2048, 1023},
      {"AP.outdir", std::string(1022, 'a'), 2048, 1022},
      {"AP.g_addmfile", std::string(3000, 'b'), 2048, 1023},
      {"AP.g_map", std::string(600, 'c'), 512, 255},
      {"PA0->p_memo", std::string(300, 'd'), 512, 255},
      // A surrogate pair that would be split by the cut is left out whole.
      {"PA0->p_memo", std::string(254, 'e') + pair, 512, 254},
      {"PA0->p_memo", std::string(253, 'e') + pair, 512, 253 + 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " " << c.value.size());
    TestStore t;
    StoreSettingValue(t.Item(c.key), c.value);
    Bytes file = EncodeSettings(t.store());
    auto found = FindRecords(file, KeyBytes(c.key));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].length, c.length);
    TestStore read;
    DecodeSettings(file, read.store());
    std::string back = read.Value(c.key);
    EXPECT_EQ(back.size(), c.chars_read);
    EXPECT_EQ(back, c.value.substr(0, c.chars_read));
  }
}

TEST(SettingsFileDeathTest, ValueLongerThanItsParameterIsFatal) {
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"int of 8 bytes", Record("gPAN", Bytes(8, 1))},
      {"float of 8 bytes", Record("AP.pstep", Bytes(8, 1))},
      {"version of 8 bytes", Record("VERSION", Bytes(8, 1))},
      {"path of 2052 bytes", Record("AP.outdir", Bytes(2052, 'a'))},
      {"map name of 516 bytes", Record("AP.g_map", Bytes(516, 'a'))},
      {"profile text of 516 bytes", Record("PA0->p_cam", Bytes(516, 'a'))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestStore t;
    EXPECT_EXIT(DecodeSettings(c.file, t.store()), testing::ExitedWithCode(99),
                "UE0105: invalid length");
  }
  // At the limit the values are read.
  TestStore t;
  DecodeSettings(Join({Record("AP.outdir", Bytes(2048, 'a')),
                       Record("AP.g_map", Bytes(512, 'b'))}),
                 t.store());
  // Without a terminator the text runs to the end of the data: 1024 and 256
  // characters U+6161 and U+6262.
  EXPECT_EQ(t.settings.outdir.size(), 1024u * 3);
  EXPECT_EQ(t.settings.outdir.substr(0, 3), "\xE6\x85\xA1");
  EXPECT_EQ(t.settings.g_map.size(), 256u * 3);
}

TEST(SettingsFileDeathTest, FileBeyondTheWriteLimitIsFatal) {
  TestStore t;
  for (const SettingItem& item : SettingItems(t.store())) {
    if (item.kind == SettingKind::kText) *item.text_value = std::string(5000, 'x');
  }
  // Every text at its largest stored size: the layouts' records pass the
  // limit.
  std::string key = FirstKeyBeyondWriteLimit(t.store());
  EXPECT_EQ(key, "UC4_w84");
  EXPECT_EXIT(EncodeSettings(t.store()), testing::ExitedWithCode(99),
              "UE0103: bp exceeds limit \\(UC4_w84\\)");

  TestStore fits;
  EXPECT_EQ(FirstKeyBeyondWriteLimit(fits.store()), "");
  fits.settings.outdir = "";
  std::size_t size = EncodeSettings(fits.store()).size();
  fits.settings.outdir = std::string(5000, 'x');  // stored as 2048 bytes
  EXPECT_EQ(FirstKeyBeyondWriteLimit(fits.store()), "");
  EXPECT_EQ(EncodeSettings(fits.store()).size(), size + 2048 - 4);
}

TEST(SettingValues, FloatsPrintShortestAndReadBack) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {{0.1f, "0.1"},     {1e-6f, "1e-06"}, {-0.03f, "-0.03"},
                        {58.3f, "58.3"},   {139.0f, "139"},  {-20.0f, "-20"},
                        {3.4028235e38f, "3.4028235e+38"},    {1.4e-45f, "1e-45"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TestStore t;
    const SettingItem& item = t.Item("AP.pstep");
    *item.float_value = c.value;
    std::string text = FormatSettingValue(item);
    EXPECT_EQ(text, c.text);
    SettingValue parsed;
    std::string error;
    ASSERT_TRUE(ParseSettingValue(item, text, &parsed, &error)) << error;
    EXPECT_EQ(std::get<float>(parsed), c.value);
  }
}

TEST(SettingValues, ParsingFollowsTheKeysType) {
  struct Case {
    const char* key;
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"gPAN", "12", true},           {"gPAN", "-7", true},
      {"gPAN", "2147483647", true},   {"gPAN", "2147483648", false},
      {"gPAN", "12.5", false},        {"gPAN", "", false},
      {"gPAN", "x", false},           {"gPAN", " 1", false},
      {"AP.pstep", "0.25", true},     {"AP.pstep", "-1e3", true},
      {"AP.pstep", "1e39", false},    {"AP.pstep", "nan", false},
      {"AP.pstep", "inf", false},     {"AP.pstep", "1.5x", false},
      {"AP.pstep", "", false},        {"AP.outdir", "", true},
      {"AP.outdir", "/tmp/a b=c", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " '" << c.text << "'");
    TestStore t;
    SettingValue value;
    std::string error;
    EXPECT_EQ(ParseSettingValue(t.Item(c.key), c.text, &value, &error), c.ok);
    if (c.ok) {
      StoreSettingValue(t.Item(c.key), value);
      SettingValue again;
      ParseSettingValue(t.Item(c.key), t.Value(c.key), &again, &error);
      EXPECT_EQ(again, value);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

// Runs with the process-wide records and a temporary home directory.
class SettingsHomeTest : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mr4-settings-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    home_ = name;
    saved_home_ = App().home;
    App().home = home_;
    ApplyDefaultSettings();
  }
  void TearDown() override {
    App().home = saved_home_;
    ApplyDefaultSettings();
    std::filesystem::remove_all(home_);
  }
  Bytes FileBytes() {
    std::ifstream f(home_ / "MR4_PARAM.MRA", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
  }

  std::filesystem::path home_;
  std::filesystem::path saved_home_;
};

TEST_F(SettingsHomeTest, WriteThenReadGivesTheValuesBack) {
  AppSettings().outdir = "/tmp/x";
  CurrentProfile().p_lid = "JP0001";
  ColumnLayouts()[0].entries[3].width = 77;
  WriteSettings();
  EXPECT_TRUE(std::filesystem::exists(home_ / "MR4_PARAM.MRA"));
  for (const auto& entry : std::filesystem::directory_iterator(home_)) {
    EXPECT_EQ(entry.path().filename(), "MR4_PARAM.MRA");  // no temporary left
  }
  EXPECT_EQ(FileBytes(), EncodeSettings(ProcessSettings()));

  ApplyDefaultSettings();
  EXPECT_EQ(AppSettings().outdir, "");
  ReadSettings();
  EXPECT_EQ(AppSettings().outdir, "/tmp/x");
  EXPECT_EQ(CurrentProfile().p_lid, "JP0001");
  EXPECT_EQ(ColumnLayouts()[0].entries[3].width, 77);
}

TEST_F(SettingsHomeTest, MissingFileKeepsDefaultsAndStillAppliesTheRules) {
  AppSettings().dlgrect_top = -3;
  ReadSettings();
  EXPECT_EQ(AppSettings().gPAN, 4);
  EXPECT_EQ(AppSettings().dlgrect_top, 100);
}

TEST_F(SettingsHomeTest, KeptFileIsNotRewritten) {
  std::ofstream(home_ / "MR4_PARAM.MRA", std::ios::binary) << "old";
  AppSettings().outdir = "/changed";
  KeepSettingsFileUnchanged();
  WriteSettings();
  EXPECT_EQ(FileBytes(), (Bytes{'o', 'l', 'd'}));
  // The next run's defaults arm the writer again.
  ApplyDefaultSettings();
  WriteSettings();
  EXPECT_EQ(FileBytes(), EncodeSettings(ProcessSettings()));
}

// A newer program's file: this run keeps the defaults and never writes
// them over it.
TEST_F(SettingsHomeTest, NewerVersionFileIsNeverOverwritten) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  const Bytes newer = Join({IntRecord("VERSION", 600), IntRecord("gPAN", 2)});
  std::ofstream(home_ / "MR4_PARAM.MRA", std::ios::binary)
      .write(reinterpret_cast<const char*>(newer.data()), newer.size());
  ReadSettings();
  EXPECT_EQ(AppSettings().gPAN, 4);
  EXPECT_TRUE(SettingsFileKeptUnchanged());
  AppSettings().outdir = "/changed";
  EXPECT_TRUE(WriteSettings());
  EXPECT_EQ(FileBytes(), newer);
}

TEST_F(SettingsHomeTest, UnwritableHomeShowsTheMessage) {
  ScriptedUi ui;
  ScopedUi scoped(ui);
  App().home = home_ / "missing";
  EXPECT_FALSE(WriteSettings());
  auto shown = ui.messages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "UE070: Cannot write MR4_PARAM.MRA");
  EXPECT_FALSE(std::filesystem::exists(home_ / "missing"));
}

TEST_F(SettingsHomeTest, StartUpLowersGpanToTheContextLimitAndShutDownWritesIt) {
  {
    TestStore t;
    t.settings.gPAN = 8;
    t.settings.outdir = "/kept";
    Bytes file = EncodeSettings(t.store());
    std::ofstream(home_ / "MR4_PARAM.MRA", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), file.size());
  }
  // Start-up ends with err=9001 in a home without its leap-second table...
  std::filesystem::copy_file(
      std::filesystem::path(MR4_SOURCE_DIR) / "data" / "Qorx_LSec.csv",
      home_ / "Qorx_LSec.csv");
  // ... and aborts without the star catalogue.
  std::filesystem::copy_file(
      std::filesystem::path(MR4_SOURCE_DIR) / "data" / "Smap2000S.csv",
      home_ / "Smap2000S.csv");
  std::filesystem::path cwd = std::filesystem::current_path();
  StartupOptions options;
  options.home = home_;
  options.free_mib_override = 4096;  // limit 4
  int seen_gpan = 0;
  EXPECT_EQ(RunApplication(options, [&] {
              seen_gpan = AppSettings().gPAN;
              return 0;
            }),
            0);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(seen_gpan, 4);
  TestStore read;
  DecodeSettings(FileBytes(), read.store());
  EXPECT_EQ(read.settings.gPAN, 4);
  EXPECT_EQ(read.settings.outdir, "/kept");
}

}  // namespace
}  // namespace mr4
