// `mr4 screenshot`: the options, then the desktop's off-screen rendering.
// Built into the program itself (not mr4_cli): it needs the Qt windows.
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/desktop.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/desktop_commands.h"

namespace mr4::cli {

const char kScreenshotSummary[] = "render a page of the desktop window to a PNG file";

const char kScreenshotUsage[] =
    "usage: mr4 [--home DIR] screenshot --page NAME --out FILE [--clip NAME]\n"
    "                                   [--frame N] [--size WxH]\n"
    "\n"
    "Runs start-up, reads the clip directories as \"Read dir\" does, builds\n"
    "the desktop window off screen (Qt's offscreen platform: no display\n"
    "needed) over the home's data, shows the page NAME\n"
    "(main, profile, class, plot, uty, view, mask, trailmap, groundmap) and\n"
    "the clip NAME as the current clip, writes the window as a PNG picture\n"
    "to FILE, then runs shut-down. The window has the stored size of the\n"
    "settings (AP.dlgrect.*) unless --size gives one; it is kept within\n"
    "768x580 and 4092x2400. With --frame (page view and a clip only) the\n"
    "View page shows frame N of the clip's video, from 0, with the overlays\n"
    "the settings switch on, instead of its still. Exits 2 when the clip is\n"
    "not in the clip list, the frame cannot be shown or the file cannot be\n"
    "written.\n";

int RunScreenshotCommand(int argc, char** argv, const StartupOptions& startup,
                         std::span<const std::string> args) {
  CommandContext context;
  context.name = "screenshot";
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--page", OptionKind::kValue},
                  {"--out", OptionKind::kValue},
                  {"--clip", OptionKind::kValue},
                  {"--frame", OptionKind::kValue},
                  {"--size", OptionKind::kValue}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument " + parsed.positionals()[0]);
  }
  ScreenshotRequest request;
  request.page = parsed.Value("--page").value_or("");
  request.out = parsed.Value("--out").value_or("");
  request.clip = parsed.Value("--clip").value_or("");
  if (request.page.empty() || request.out.empty()) {
    return UsageError(context, "--page and --out are needed");
  }
  // Start-up moves into the home: a relative picture path is the caller's.
  std::error_code ec;
  if (const std::filesystem::path out = std::filesystem::absolute(request.out, ec); !ec) {
    request.out = out.string();
  }
  if (std::optional<std::string> frame = parsed.Value("--frame")) {
    int number = 0;
    if (!ParseInt(*frame, &number) || number < 0) {
      return UsageError(context, "--frame takes a frame number from 0");
    }
    request.frame = number;
  }
  if (std::optional<std::string> size = parsed.Value("--size")) {
    const std::size_t x = size->find('x');
    int width = 0;
    int height = 0;
    if (x == std::string::npos || !ParseInt(size->substr(0, x), &width) ||
        !ParseInt(size->substr(x + 1), &height) || width < 1 || height < 1) {
      return UsageError(context, "--size takes WIDTHxHEIGHT, e.g. 1600x1000");
    }
    request.width = width;
    request.height = height;
  }
  return RunScreenshot(argc, argv, startup, request);
}

}  // namespace mr4::cli
