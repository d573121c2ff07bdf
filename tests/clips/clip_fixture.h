// Shared set-up of the clip-library tests: a scratch directory, empty
// process tables, a leap-second list and a scripted Ui that records the
// messages.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/process_values.h"
#include "app/settings.h"
#include "clips/clip_scan.h"
#include "clips/current_clip.h"
#include "platform/scripted_ui.h"
#include "tables/table_catalogue.h"

namespace mr4::test {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class ClipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mr4-clips.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    const LeapSecondRow rows[] = {{2017, 1, 1, 37, 0.0f}};
    App().leap_seconds = BuildLeapSecondList(rows);
    App().version_title = "MeridraV4 V5.00 (64bit)";
    ProcessTables& t = Tables();
    t.clip.Clear();
    t.obj.Clear();
    t.dir.Clear();
    Clips() = ClipLibrary{};
    AppSettings() = Settings{};
    CurrentProfile() = CameraProfile{};
    CurrentClip().row = -1;
    CurrentClip().clicks.clear();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // Appends a directory row in use.
  int AddDirRow(const std::filesystem::path& dir, unsigned use = 1) {
    Table& dirs = Tables().dir;
    const int row = dirs.AppendRow();
    dirs.SetUint(row, dir::kUse, use);
    dirs.SetText(row, dir::kDir, dir.native());
    return row;
  }

  // The clip rows as "directory|clip_name" (sorted, since listing order is
  // the file system's).
  std::vector<std::string> ClipKeys() const {
    std::vector<std::string> keys;
    const Table& clips = Tables().clip;
    for (int r = 0; r < clips.count(); ++r) {
      if (!clips.Exists(r)) continue;
      keys.push_back(std::string(clips.Text(r, clip::kDirectory)) + "|" +
                     std::string(clips.Text(r, clip::kClipName)));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
  }

  // The row of the clip named `name` (the first one), or -1.
  int RowOf(const std::string& name) const {
    const Table& clips = Tables().clip;
    for (int r = 0; r < clips.count(); ++r) {
      if (clips.Exists(r) && clips.Text(r, clip::kClipName) == name) return r;
    }
    return -1;
  }

  std::filesystem::path root_;
  ScriptedUi ui_;
  ScopedUi scoped_ui_{ui_};
};

}  // namespace mr4::test
