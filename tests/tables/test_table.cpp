// Row tables, the string store and the CSV table files.
#include <gtest/gtest.h>

#include <cmath>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>
#include <thread>
#include <vector>

#include "base/error.h"
#include "tables/cell_text.h"
#include "tables/table.h"
#include "tables/table_catalogue.h"

namespace mr4 {
namespace {

namespace fs = std::filesystem;
using testing::ExitedWithCode;

// A small versioned schema: the example of the file format (an int "use", a
// text "dir", a text "profile"), a float "f" and a working column.
const ColumnDescriptor kSmallColumns[] = {
    {kCellId, 0, "exist"}, {kCellFlag, 1, "use"}, {kCellText, 1, "dir"},
    {kCellText, 1, "profile"}, {kCellFloat, 1, "f"}, {kCellInt, 0, "work"},
};
const TableSchema kSmall{"small.csv", 101, 100, 0, kSmallColumns};
// The same columns in an external file without version column.
const TableSchema kSmallV0{"small0.csv", 0, 100, 0, kSmallColumns};

// Row r as "use|dir|profile|f" (f with %f), "-" for a hole.
std::string RowText(const Table& t, int r) {
  if (!t.Exists(r)) return "-";
  std::string s = std::to_string(t.Uint(r, 1)) + "|" + std::string(t.Text(r, 2)) +
                  "|" + std::string(t.Text(r, 3)) + "|";
  AppendFloat(&s, t.Float(r, 4));
  return s;
}

std::vector<std::string> Rows(const Table& t) {
  std::vector<std::string> rows;
  for (int r = 0; r < t.count(); ++r) rows.push_back(RowText(t, r));
  return rows;
}

TEST(Table, HolesAndReuseOfTheLastIndex) {
  Table t(kSmall);
  for (int i = 0; i < 5; ++i) t.SetInt(t.AppendRow(), 5, i);
  t.DeleteRow(3);
  EXPECT_EQ(t.count(), 5);
  EXPECT_FALSE(t.Exists(3));
  EXPECT_EQ(t.Int(4, 5), 4);  // rows never move
  t.DeleteRow(4);
  EXPECT_EQ(t.count(), 4);
  EXPECT_FALSE(t.Exists(4));  // a kept index of the deleted last row is dead
  EXPECT_EQ(t.AppendRow(), 4);
  EXPECT_EQ(t.Int(4, 5), 0);  // an appended row starts cleared
  EXPECT_FALSE(t.Exists(3));  // the hole stays a hole
}

TEST(Table, AppendAddsBlocksAndKeepsCells) {
  Table t(kSmall);  // 100 rows per block
  for (int i = 0; i < 250; ++i) {
    int r = t.AppendRow();
    t.SetInt(r, 5, r * 7);
    t.SetText(r, 2, "row" + std::to_string(r));
  }
  for (int r : {0, 99, 100, 199, 200, 249}) {
    SCOPED_TRACE(r);
    EXPECT_EQ(t.Int(r, 5), r * 7);
    EXPECT_EQ(t.Text(r, 2), "row" + std::to_string(r));
  }
  t.Clear();
  EXPECT_EQ(t.count(), 0);
  EXPECT_EQ(t.AppendRow(), 0);
  EXPECT_EQ(t.Text(0, 2), "");
}

TEST(TableDeathTest, CellAndRowViolations) {
  struct Case {
    const char* name;
    void (*act)(Table&);
    const char* code;
  };
  const Case cases[] = {
      {"read beyond every block", [](Table& t) { (void)t.Int(100, 5); }, "err=111"},
      {"read a negative row", [](Table& t) { (void)t.Int(-1, 5); }, "err=111"},
      {"read a hole", [](Table& t) { (void)t.Int(1, 5); }, "err=110"},
      {"exist beyond every block", [](Table& t) { (void)t.Exists(100); }, "err=106"},
      {"text of 1024 bytes", [](Table& t) { t.SetText(0, 2, std::string(1024, 'x')); }, "err=113"},
      {"delete a hole", [](Table& t) { t.DeleteRow(1); }, "err=110"},
      {"delete beyond count", [](Table& t) { t.DeleteRow(3); }, "err=110"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          Table t(kSmall);
          t.AppendRow();
          t.AppendRow();
          t.AppendRow();
          t.DeleteRow(1);
          c.act(t);
        },
        ExitedWithCode(kFatalExitStatus), c.code);
  }
}

TEST(Table, TextOf1023BytesIsKept) {
  Table t(kSmall);
  int r = t.AppendRow();
  const std::string longest(kCellTextMaxBytes, 'y');
  t.SetText(r, 2, longest);
  EXPECT_EQ(t.Text(r, 2), longest);
  t.SetText(r, 2, "");
  EXPECT_EQ(t.Text(r, 2), "");
  EXPECT_EQ(t.CellForReading(r, 2).bits, 0u);  // an empty text holds no string
}

TEST(StringStore, SizeClassesAreReused) {
  StringStore store;
  const char* a = store.Store("abc");       // class 0
  const char* b = store.Store("defghijk");  // class 1 (8 bytes)
  const char* c = store.Store("x");
  EXPECT_STREQ(b, "defghijk");
  EXPECT_EQ(store.bytes_in_use(), 16u + 32u + 16u);
  store.Release(a);  // not the last: onto the free list of class 0
  EXPECT_EQ(store.bytes_in_use(), 64u);
  EXPECT_EQ(store.Store("1234567"), a);  // 7 bytes: class 0 again
  store.Release(c);  // the last one: the allocation pointer moves back
  EXPECT_EQ(store.bytes_in_use(), 48u);
  EXPECT_EQ(store.block_count(), 1);
}

TEST(StringStore, FullBlockGivesANewOne) {
  StringStore store;
  const std::string text(1000, 'z');  // class 125: 2016 bytes
  const int per_block = static_cast<int>(StringStore::kBlockBytes / 2016);
  for (int i = 0; i <= per_block; ++i) store.Store(text);
  EXPECT_EQ(store.block_count(), 2);
}

TEST(StringStoreDeathTest, Violations) {
  EXPECT_EXIT(
      {
        StringStore store;
        store.Store(std::string(1024, 'x'));
      },
      ExitedWithCode(kFatalExitStatus), "err=102");
  EXPECT_EXIT(
      {
        StringStore store;
        store.Prime();
        static const char outside[] = "not stored";
        store.Release(outside);
      },
      ExitedWithCode(kFatalExitStatus), "err=103");
}

// Workers change the object table under its lock while the user-interface
// thread changes text cells of other tables: both draw on the one string
// store, which must not lose or share a string.
TEST(Table, ObjectTableUnderItsLockBesideOtherTables) {
  Table objects(kObjSchema);
  Table clips(kClipSchema);
  constexpr int kWorkers = 4;
  constexpr int kRowsPerWorker = 2000;
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&objects, w] {
      for (int i = 0; i < kRowsPerWorker; ++i) {
        std::lock_guard guard(objects.lock());
        const int r = objects.AppendRow();
        objects.SetInt(r, obj::kFs, w);
        objects.SetText(r, obj::kMemo, "w" + std::to_string(w) + "-" + std::to_string(i));
      }
    });
  }
  for (int i = 0; i < kRowsPerWorker; ++i) {
    const int r = clips.AppendRow();
    clips.SetText(r, clip::kClipName, "M" + std::to_string(i));
    if (i % 3 == 0) clips.SetText(r, clip::kClipName, "");
  }
  for (std::thread& t : workers) t.join();
  ASSERT_EQ(objects.count(), kWorkers * kRowsPerWorker);
  std::vector<int> next(kWorkers, 0);
  for (int r = 0; r < objects.count(); ++r) {
    const int w = objects.Int(r, obj::kFs);
    ASSERT_EQ(objects.Text(r, obj::kMemo),
              "w" + std::to_string(w) + "-" + std::to_string(next[w]++));
  }
  for (int i = 0; i < kRowsPerWorker; ++i) {
    EXPECT_EQ(clips.Text(i, clip::kClipName), i % 3 == 0 ? "" : "M" + std::to_string(i));
  }
}

// ------------------------------------------------------------- reading

TEST(TableFile, Reading) {
  const std::string longest_text(kFileTextMaxBytes - 10, 't');
  struct Case {
    const char* name;
    const TableSchema* schema;
    std::string file;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"header only", &kSmall, "_Version,_use,_dir,_profile,_f\r\n", {}},
      {"header without line end", &kSmall, "_Version", {}},
      {"the format's example", &kSmall, "h\r\n101,1,_D:\\clips,_\r\n",
       {"1|D:\\clips||0.000000"}},
      {"LF line ends", &kSmall, "h\n101,1,_a,_b,2.5\n101,0,_c,_d,-1\n",
       {"1|a|b|2.500000", "0|c|d|-1.000000"}},
      {"CR of CR LF is not part of the last text", &kSmall,
       "h\r\n101,1,_a,_b\r\n", {"1|a|b|0.000000"}},
      {"last line without line end", &kSmall, "h\r\n101,3,_a", {"3|a||0.000000"}},
      {"short line leaves the rest empty", &kSmall, "h\r\n101,5\r\n",
       {"5|||0.000000"}},
      {"\"_\" reads as empty", &kSmall, "h\r\n101,1,_,_p\r\n", {"1||p|0.000000"}},
      {"empty fields", &kSmall, "h\r\n101,,,_p,\r\n", {"0||p|0.000000"}},
      {"numbers skip blanks and end at a non-digit", &kSmall,
       "h\r\n101,  7x,_a,_b, 1.25e1kg\r\n", {"7|a|b|12.500000"}},
      {"the version may be followed by anything", &kSmall, "h\r\n101\r\n",
       {"0|||0.000000"}},
      {"a lone CR stays in the text", &kSmall, "h\r\n101,1,_a\rb\r\n",
       {"1|a\rb||0.000000"}},
      {"CR line ends in a file without LF", &kSmall, "h\r101,1,_a,_b,2.5\r101,0,_c\r",
       {"1|a|b|2.500000", "0|c||0.000000"}},
      {"UTF-8 bytes are kept as they are", &kSmall,
       "h\r\n101,1,_K\xc3\xb6ln,_\xe6\x9d\xb1\r\n",
       {"1|K\xc3\xb6ln|\xe6\x9d\xb1|0.000000"}},
      {"a long text within the line limit", &kSmall,
       "h\r\n101,1,_" + longest_text + "\r\n", {"1|" + longest_text + "||0.000000"}},
      {"version 0: first field at the start, texts as they are", &kSmallV0,
       "h\r\n4,_x,y,3\r\n", {"4|_x|y|3.000000"}},
      {"version 0: an empty first field", &kSmallV0, "h\r\n,d,p,1\r\n",
       {"0|d|p|1.000000"}},
      {"version 0: a long line is split and its rest read as a row", &kSmallV0,
       "h\n1,a" + std::string(1020, 'a') + "\n",
       {"1|" + std::string(1020, 'a').insert(0, "a").substr(0, 1021) + "||0.000000",
        "0|||0.000000"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table t(*c.schema);
    t.ReadText(c.file);
    EXPECT_EQ(Rows(t), c.rows);
  }
}

// A malformed file ends the program with 201 after a message that names
// the file (the table's name when read from memory), the line and the fault.
TEST(TableFileDeathTest, MalformedFilesEndWith201) {
  struct Case {
    const char* name;
    std::string file;
    const char* message;  // a regular expression
  };
  const Case cases[] = {
      {"empty file", "", "line 1: no header line"},
      {"another version", "h\r\n100,1,_a\r\n",
       "line 2: the row does not start with the version 101"},
      {"no version", "h\r\n101,1,_a\r\n,1,_a\r\n",
       "line 3: the row does not start with the version 101"},
      {"text without \"_\"", "h\r\n101,1,a\r\n", "line 2: the text of .dir. does not start with ._."},
      {"number that does not parse", "h\r\n101,x,_a\r\n", "line 2: .x. is no number for .use."},
      {"float that does not parse", "h\r\n101,1,_a,_b,z\r\n", "line 2: .z. is no number for .f."},
      {"number out of range", "h\r\n101,99999999999,_a\r\n",
       "line 2: .99999999999. is no number for .use."},
      {"blank line", "h\r\n101,1,_a\r\n\r\n", "line 3: the row does not start"},
      {"CR line ends count lines too", "h\r101,1,_a\r101,y\r", "line 3: .y. is no number"},
      // The rest of a split line is still its line.
      {"line longer than the limit", "h\r\n101,1,_" + std::string(1100, 'a') + "\r\n",
       "line 2: the row does not start"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          Table t(kSmall);
          t.ReadText(c.file);
        },
        ExitedWithCode(kFatalExitStatus),
        std::string("Malformed table file small.csv, ") + c.message + "(.|\n)*err=201");
  }
  // Read from a file, the message names its path.
  const fs::path path =
      fs::temp_directory_path() / ("mr4-malformed-" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary) << "h\r\n101,1,_a\r\n101,1,b\r\n";
  EXPECT_EXIT(
      {
        Table t(kSmall);
        t.ReadFile(path);
      },
      ExitedWithCode(kFatalExitStatus),
      "Malformed table file " + path.string() + ", line 3: the text of .dir.");
  fs::remove(path);
}

TEST(TableFile, MissingFileLeavesTheTable) {
  Table t(kSmall);
  t.AppendRow();
  EXPECT_FALSE(t.ReadFile("/nonexistent/mr4/small.csv"));
  EXPECT_FALSE(t.ReadFile(std::filesystem::temp_directory_path()));  // a directory
  EXPECT_EQ(t.count(), 1);
}

// ------------------------------------------------------------- writing

TEST(TableFile, Writing) {
  Table t(kSmall);
  int r = t.AppendRow();
  t.SetUint(r, 1, 1);
  t.SetText(r, 2, "/clips");
  t.SetFloat(r, 4, 58.3f);
  t.SetInt(r, 5, 99);  // not persisted
  const int hole = t.AppendRow();
  r = t.AppendRow();
  t.DeleteRow(hole);  // a hole is not written
  t.SetText(r, 3, "p");
  t.SetFloat(r, 4, -0.5f);
  EXPECT_EQ(t.FormatText(),
            "_Version,_use,_dir,_profile,_f\r\n"
            "101,1,_/clips,_,58.300000\r\n"
            "101,0,_,_p,-0.500000\r\n");
}

TEST(TableFile, TheWriterNeverWritesAnUnreadableLine) {
  struct Case {
    const char* name;
    std::string dir;
    std::string profile;
    std::string dir_back;
    std::string profile_back;
  };
  const std::string long_a(1000, 'a');
  const std::string long_b(1000, 'b');
  const Case cases[] = {
      {"comma", "Clips, 2024", "", "Clips; 2024", ""},
      {"line ends", "a\r\nb", "c\nd", "a  b", "c d"},
      // "101,0,_" + dir + ",_" + profile + ",0.000000": 18 bytes besides the
      // texts, 1022 in all.
      {"row longer than a line: the longer text is cut", long_a, "short",
       long_a.substr(0, 999), "short"},
      {"two long texts are cut alike", long_a, long_b, long_a.substr(0, 502),
       long_b.substr(0, 502)},
      {"cut on a character boundary", std::string(1003, 'a') + "\xc3\xb6", "",
       std::string(1003, 'a'), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table t(kSmall);
    int r = t.AppendRow();
    t.SetText(r, 2, c.dir);
    t.SetText(r, 3, c.profile);
    const std::string text = t.FormatText();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) EXPECT_LE(line.size(), 1023u);  // CR and LF included
    Table back(kSmall);
    back.ReadText(text);
    ASSERT_EQ(back.count(), 1);
    EXPECT_EQ(back.Text(0, 2), c.dir_back);
    EXPECT_EQ(back.Text(0, 3), c.profile_back);
  }
}

TEST(TableFile, RoundTripThroughAFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("mr4-table-file-" + std::to_string(getpid()));  // parallel test processes
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Table t(kSmall);
  for (int i = 0; i < 3; ++i) {
    int r = t.AppendRow();
    t.SetUint(r, 1, i);
    t.SetText(r, 2, "d" + std::to_string(i));
    t.SetFloat(r, 4, i * 0.25f);
  }
  ASSERT_TRUE(t.WriteFile(dir / "small.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "small.csv.tmp"));
  Table back(kSmall);
  ASSERT_TRUE(back.ReadFile(dir / "small.csv"));
  EXPECT_EQ(Rows(back), Rows(t));
  EXPECT_FALSE(t.WriteFile(dir / "no-such-dir" / "small.csv"));
  std::filesystem::remove_all(dir);
}

TEST(TableFile, TextProblems) {
  struct Case {
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {"/home/me/clips", true},
      {"Clips, 2024", false},
      {"a\nb", false},
      {"a\rb", false},
      {std::string("a\0b", 3), false},
      {std::string(1022, 'x'), true},
      {std::string(1023, 'x'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    EXPECT_EQ(TableTextProblem(c.text).empty(), c.accepted) << TableTextProblem(c.text);
  }
}

TEST(CellText, NumberFormsOfTheFiles) {
  struct Case {
    std::uint32_t type;
    const char* text;
    bool parses;
    const char* written;
  };
  const Case cases[] = {
      {kCellInt, "-17", true, "-17"},
      {kCellInt, "+5", true, "5"},
      {kCellInt, "2147483648", false, ""},
      {kCellInt, "-2147483648", true, "-2147483648"},
      {kCellFlag, "-1", true, "4294967295"},  // as "%u" reads it
      {kCellId, "4294967295", true, "4294967295"},
      {kCellInt64, "-9000000000", true, "-9000000000"},
      {kCellFloat, "58.3", true, "58.300000"},
      {kCellFloat, ".5", true, "0.500000"},
      {kCellFloat, "-1e-3", true, "-0.001000"},
      {kCellFloat, "1e30", true, "1000000000000000019884624838656.000000"},
      {kCellFloat, "1e60", false, ""},  // beyond the float range
      {kCellFloat, "inf", false, ""},
      {kCellFloat, "-nan", false, ""},
      {kCellDouble, "1e39", false, ""},
      {kCellFloat, "--1", false, ""},
      {kCellFloat, "e5", false, ""},
      {kCellDouble, "0.1", true, "0.100000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Cell cell;
    ASSERT_EQ(ParseCellNumber(c.text, c.type, &cell), c.parses);
    if (!c.parses) continue;
    std::string out;
    AppendCellNumber(&out, cell, c.type);
    EXPECT_EQ(out, c.written);
  }
  // A computed value that is not finite is written as 0, which reads back.
  for (double bad : {NAN, -NAN, INFINITY, -INFINITY}) {
    std::string out;
    AppendFixed(&out, bad, 6);
    EXPECT_EQ(out, "0.000000") << bad;
    std::string two;
    AppendFixed(&two, bad, 2);
    EXPECT_EQ(two, "0.00") << bad;
  }
}

}  // namespace
}  // namespace mr4
