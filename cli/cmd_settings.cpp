// `mr4 settings`: prints and changes the parameters of MR4_PARAM.MRA. The
// values set here are written at exit, as every change of the pages is.
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings.h"
#include "cli/args.h"
#include "cli/commands.h"

namespace mr4::cli {
namespace {

const SettingItem* FindItem(const std::vector<SettingItem>& items,
                            const std::string& key) {
  for (const SettingItem& item : items) {
    if (item.key == key) return &item;
  }
  return nullptr;
}


void Print(const SettingItem& item) {
  std::printf("%s=%s\n", item.key.c_str(), FormatSettingValue(item).c_str());
}

}  // namespace

int RunSettings(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--get", OptionKind::kRepeated}, {"--set", OptionKind::kRepeated}},
                 &parsed, &error)) {
    return UsageError(context, error);
  }
  if (!parsed.positionals().empty()) {
    return UsageError(context, "unexpected argument '" + parsed.positionals()[0] + "'");
  }

  std::vector<SettingItem> items = SettingItems(ProcessSettings());
  std::vector<const SettingItem*> shown;
  for (const std::string& key : parsed.Values("--get")) {
    const SettingItem* item = FindItem(items, key);
    if (!item) return UsageError(context, "unknown key '" + key + "'");
    shown.push_back(item);
  }

  // Every value is checked before any is applied.
  struct Change {
    const SettingItem* item;
    SettingValue value;
  };
  std::vector<Change> changes;
  for (const std::string& assignment : parsed.Values("--set")) {
    std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      return UsageError(context, "--set needs KEY=VALUE, not '" + assignment + "'");
    }
    std::string key = assignment.substr(0, equals);
    const SettingItem* item = FindItem(items, key);
    if (!item) return UsageError(context, "unknown key '" + key + "'");
    if (key == "VERSION") {
      return UsageError(context, "VERSION is the file format and cannot be set");
    }
    Change change{item, {}};
    if (!ParseSettingValue(*item, assignment.substr(equals + 1), &change.value, &error)) {
      return UsageError(context, "bad value for '" + key + "': " + error);
    }
    if (!SettingInRange(*item, change.value)) {
      return RefusedValue(context, assignment + " is outside the range of '" + key + "', " +
                                       SettingRangeText(*item));
    }
    changes.push_back(change);
  }

  for (const Change& change : changes) StoreSettingValue(*change.item, change.value);
  // A file too large to be written would end the program at exit.
  std::string beyond = FirstKeyBeyondWriteLimit(ProcessSettings());
  if (!beyond.empty()) {
    return UsageError(context, "the values are too long for MR4_PARAM.MRA (its records "
                           "would pass the write limit at '" + beyond + "')");
  }
  if (!changes.empty()) {
    // A newer program's file is kept as it is: nothing set here would last.
    if (SettingsFileKeptUnchanged()) {
      std::fprintf(stderr, "mr4 %s: %s belongs to a newer version of the program; it is "
                           "kept as it is and nothing was set\n",
                   context.name.c_str(), kSettingsFileName);
      return kExitSomeFailed;
    }
    // Written now, so that success is only said of values on disk.
    if (!WriteSettings()) {
      KeepSettingsFileUnchanged();
      std::fprintf(stderr, "mr4 %s: nothing was set\n", context.name.c_str());
      return kExitSomeFailed;
    }
  }
  for (const Change& change : changes) {
    bool listed = false;
    for (const SettingItem* item : shown) listed = listed || item == change.item;
    if (!listed) shown.push_back(change.item);
  }

  if (shown.empty()) {
    // Every key the file holds, each once, in file order.
    for (const SettingItem& item : items) {
      if (!item.written || FindItem(items, item.key) != &item) continue;
      Print(item);
    }
  } else {
    for (const SettingItem* item : shown) Print(*item);
  }
  return kExitOk;
}

}  // namespace mr4::cli
