// The current clip: the one clip every page shows and the analysis starts
// from. MakeClipCurrent opens a clip row (loads its profile into the current
// profile, its background still, mask and clicks, marks its objects, sets
// the video path); -1 closes the current clip.
//
// One record for the process, used on the user-interface thread only. The
// still and mask buffers are allocated on first use at the largest picture
// size (24-bit, rows bottom-up). Pages that show the clip connect to
// `on_changed`, which is told after every MakeClipCurrent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clips/clicks_file.h"
#include "platform/image_codecs.h"

namespace mr4 {

// The analysis frame limit of a clip: `frames`, at most this, doubled for
// interlaced clips.
inline constexpr int kMaxClipFrames = 2000;
// The instant of the profile without a clip: 2007-01-01 00:00:00, zone
// 32400 s.
inline constexpr int kNoClipYear = 2007;
inline constexpr int kNoClipZone = 32400;

enum class MediaKind : char { kNone = 0, kAvi = 'a', kWmv = 'w' };

struct CurrentClipState {
  int row = -1;                        // CLIP row, -1 for none
  int current_object = -1;             // OBJ row shown, -1 for none
  std::filesystem::path directory;     // the clip's `directory`
  std::filesystem::path video_path;    // the file met by the scan
  MediaKind media_kind = MediaKind::kNone;
  std::string title;                   // main window title
  int frame_limit = 0;                 // frames (fields) the analysis takes
  int replay_position = 0;             // [frames]
  int object_selection = -1;           // object-list marker
  // The Main page's "result" text, cleared on opening unless
  // `keep_result_text` is set (one shot).
  std::string result_text;
  bool keep_result_text = false;

  ImageBuffer still;                   // background picture
  ImageBuffer mask;                    // mask picture (N.BMP, else M.BMP)
  std::vector<Click> clicks;

  std::function<void()> on_changed;    // page refreshes

  std::unique_ptr<std::uint8_t[]> still_storage;
  std::unique_ptr<std::uint8_t[]> mask_storage;
};

// The one current-clip record.
CurrentClipState& CurrentClip();

// Makes clip row `row` current (FatalCode 110 for a row that does not
// exist); -1 makes no clip current.
void MakeClipCurrent(int row);

// Writes the current clip's clicks to its clicks file; false when there is
// no current clip or the file could not be written.
bool WriteCurrentClipClicks();

}  // namespace mr4
