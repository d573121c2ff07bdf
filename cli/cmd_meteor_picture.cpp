// mr4 meteor-picture: an analysed clip's peak-hold still with its stars,
// trails and detections, beside the light curve of one of its objects,
// written as PNG. A clip without a peak-hold still gets one first, made as
// the utilities page's "MakeP.bmp" makes it (its P.BMP next to the clip).
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "analysis/analysis_context.h"
#include "analysis/meteor_picture.h"
#include "analysis/replay_run.h"
#include "calib/still_image.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "clips/clip_scan.h"
#include "platform/image_codecs.h"
#include "platform/message_queue.h"
#include "tables/table_catalogue.h"
#include "utility/peak_hold.h"

namespace mr4::cli {
namespace {

namespace fs = std::filesystem;

// The clip row named by `text`: a clip name, or the path of the clip (its
// directory and name) or of one of its files. -1 when none matches.
int ClipRowOf(const std::string& text) {
  if (text.find('/') == std::string::npos) {
    const std::vector<int> named = ClipRowsNamed(text);
    return named.empty() ? -1 : named.front();
  }
  std::error_code ec;
  const fs::path path = fs::absolute(text, ec).lexically_normal();
  if (ec) return -1;
  const std::string file = path.filename().string();
  const fs::path directory = path.parent_path();
  const Table& clips = Tables().clip;
  int best = -1;
  std::size_t best_length = 0;
  for (int row = 0; row < clips.count(); ++row) {
    if (!clips.Exists(row)) continue;
    const std::string name(clips.Text(row, clip::kClipName));
    if (name.empty() || file.compare(0, name.size(), name) != 0 || name.size() <= best_length) {
      continue;
    }
    const fs::path clip_directory =
        fs::absolute(std::string(clips.Text(row, clip::kDirectory)), ec).lexically_normal();
    if (ec || clip_directory != directory) continue;
    best = row;
    best_length = name.size();
  }
  return best;
}

}  // namespace

int RunMeteorPicture(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--out", OptionKind::kValue}, {"--object", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (parsed.positionals().size() != 1) return UsageError(context, "name one clip");
  if (!parsed.Has("--out") || parsed.Value("--out")->empty()) {
    return UsageError(context, "--out FILE.png is required");
  }
  int object = 0;
  if (const auto text = parsed.Value("--object")) {
    if (!ParseInt(*text, &object) || object < 1) {
      return UsageError(context, "--object takes the object's number, 1 or more");
    }
  }
  const fs::path out = *parsed.Value("--out");

  ReadClipDirectories();
  const std::string& name = parsed.positionals().front();
  const int row = ClipRowOf(name);
  if (row < 0) return UsageError(context, "no clip " + name + " in the scanned directories");
  const std::string clip_name(Tables().clip.Text(row, clip::kClipName));

  ClipMeteor meteor;
  switch (ReadClipMeteor(row, object, AnalysisContextAt(0), meteor)) {
    case MeteorPictureStatus::kReady:
      break;
    case MeteorPictureStatus::kNoResult:
      std::fprintf(stderr, "mr4 %s: clip %s has no result file (mr4 analyze %s makes it)\n",
                   context.name.c_str(), clip_name.c_str(), clip_name.c_str());
      return kExitSomeFailed;
    case MeteorPictureStatus::kUnreadable:
      return kExitSomeFailed;
    case MeteorPictureStatus::kNoObject:
      if (meteor.object_count == 0) {
        std::fprintf(stderr, "mr4 %s: clip %s has no object\n", context.name.c_str(),
                     clip_name.c_str());
      } else {
        std::fprintf(stderr, "mr4 %s: clip %s has no object %d (it has %d)\n",
                     context.name.c_str(), clip_name.c_str(), object, meteor.object_count);
      }
      return kExitSomeFailed;
  }

  // The still: the clip's peak-hold picture, made from its video when the
  // clip has none; a black frame when neither can be had.
  const std::size_t capacity = static_cast<std::size_t>(kMaxImageWidth) * kMaxImageHeight * 3;
  // Uninitialised: only the picture's own bytes are ever touched.
  const std::unique_ptr<std::uint8_t[]> storage(new std::uint8_t[capacity]);
  ImageBuffer still{{storage.get(), capacity}, 0, 0};
  fs::path still_path = PeakHoldStillPath(row);
  if (still_path.empty()) {
    const ScopedReplayPump pump(DefaultHeadlessLoop());
    const PeakHoldOutcome made = MakePeakHold(row);
    if (made.status == PeakHoldStatus::kWritten) {
      std::printf("made the peak-hold still %s from %d frames\n", made.path.c_str(),
                  made.frames_taken);
      still_path = made.path;
    }
  }
  if (still_path.empty() || ReadStill(still_path, still) != ImageStatus::kOk) {
    still.width = still.height = 0;
    std::fprintf(stderr, "mr4 %s: clip %s has no peak-hold still; the frame is left black\n",
                 context.name.c_str(), clip_name.c_str());
  }
  meteor.source.still = &still;

  MeteorPicture picture;
  DrawMeteorPicture(meteor.source, picture);
  const ImageStatus written = WritePng(out, picture.bgr, picture.width, picture.height);
  if (written != ImageStatus::kOk) {
    std::fprintf(stderr, "mr4 %s: cannot write %s (%s); nothing was written\n",
                 context.name.c_str(), out.c_str(), ImageStatusText(written));
    return kExitSomeFailed;
  }
  std::printf("%s: %dx%d, object %d of %d\n", out.c_str(), picture.width, picture.height,
              meteor.source.selected + 1, meteor.object_count);
  return kExitOk;
}

}  // namespace mr4::cli
