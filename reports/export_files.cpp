#include "reports/export_files.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <system_error>
#include <thread>

#include "base/error.h"
#include "platform/image_codecs.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "tables/cell_text.h"

namespace mr4 {
namespace {


}  // namespace

std::string FileNamePart(std::string_view text) {
  std::string part(text);
  bool leading = true;
  for (char& c : part) {
    if (c == '/' || c == '\\' || (leading && c == '.')) {
      c = '_';
    } else {
      leading = false;
    }
  }
  return part;
}

std::filesystem::path ExportFolder(Settings& settings) {
  std::error_code ec;
  if (settings.outdir.empty() || !std::filesystem::is_directory(settings.outdir, ec)) {
    settings.outdir = DocumentsFolder().string();
  }
  return settings.outdir;
}

std::optional<std::filesystem::path> ChooseExportFile(std::string_view title,
                                                      std::string_view filter,
                                                      const std::filesystem::path& proposed) {
  Ui& ui = CurrentUi();
  FileDialogRequest request;
  request.title = std::string(title);
  request.proposed = proposed;
  request.filter = std::string(filter);
  std::optional<std::filesystem::path> chosen = ui.SaveFile(request);
  if (!chosen) return std::nullopt;
  std::error_code ec;
  if (std::filesystem::exists(*chosen, ec)) {
    const std::string question =
        "file already exists overwrite?\n" + chosen->filename().string();
    if (!ui.AskOkCancel(kMessageCaption, question)) return std::nullopt;
  }
  return chosen;
}

bool WriteExportFile(const std::filesystem::path& path, std::string_view text, bool retry) {
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                            text.size());
  if (WriteFileReplacing(path, {bytes}) == ImageStatus::kOk) return true;
  if (!retry) return false;
  // A file another program still holds open may be free a moment later.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  return WriteFileReplacing(path, {bytes}) == ImageStatus::kOk;
}

void AppendFixedText(std::string* out, double value, int decimals, bool sign) {
  const std::size_t start = out->size();
  AppendFixed(out, value, decimals);
  if (sign && (out->size() == start || (*out)[start] != '-')) out->insert(start, 1, '+');
}

void AppendIntText(std::string* out, long long value, int width) {
  const std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) {
    out->append(static_cast<std::size_t>(width) - digits.size(), ' ');
  }
  *out += digits;
}

void AppendZeroPadded(std::string* out, long long value, int width) {
  // As printf, the sign counts in the width: "%04d" of -5 is "-005".
  const std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) {
    *out += '-';
    --width;
  }
  if (static_cast<int>(digits.size()) < width) {
    out->append(static_cast<std::size_t>(width) - digits.size(), '0');
  }
  *out += digits;
}

}  // namespace mr4
