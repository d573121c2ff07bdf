// mr4 profile: shows and changes a camera profile file, so that a camera
// can be set up without the desktop program.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/process_values.h"
#include "calib/camera_model.h"
#include "calib/profile_file.h"
#include "cli/args.h"
#include "cli/commands.h"

namespace mr4::cli {
namespace {

// A bare file name lies in the home's PROF/; anything else is a path.
std::filesystem::path ProfilePath(const std::string& name) {
  const std::filesystem::path path(name);
  return path.has_parent_path() ? path : ProfileFile(name);
}

void PrintAttribute(const CameraProfile& profile, const ProfileAttribute& a) {
  std::printf("%s=%s\n", a.name, AttributeText(profile, a).c_str());
}

int Show(const CommandContext& context, const std::filesystem::path& file) {
  CameraProfile profile;
  if (!ReadProfileFile(file, profile)) {
    std::fprintf(stderr, "mr4 %s: cannot read a profile from %s\n",
                 context.name.c_str(), file.c_str());
    return kExitUsage;
  }
  for (const ProfileAttribute& a : ProfileAttributes()) PrintAttribute(profile, a);
  return kExitOk;
}

int Set(const CommandContext& context, const std::filesystem::path& file,
        const std::vector<std::string>& assignments) {
  // Check every assignment before anything is read or written.
  struct Assignment {
    const ProfileAttribute* attribute;
    std::string value;
  };
  std::vector<Assignment> changes;
  CameraProfile probe;
  for (const std::string& text : assignments) {
    const std::size_t eq = text.find('=');
    const ProfileAttribute* a =
        eq == std::string::npos ? nullptr : FindProfileAttribute(text.substr(0, eq));
    if (!a) return UsageError(context, "not a profile field: " + text);
    const std::string value = text.substr(eq + 1);
    if (!SetAttribute(probe, *a, value)) {
      return UsageError(context, "bad value for " + std::string(a->name) + ": " + value);
    }
    if (!AttributeInRange(probe, *a)) {
      return RefusedValue(context, std::string(a->name) + "=" + value + " is outside the range of " +
                                       a->name + ", " + AttributeRangeText(*a));
    }
    changes.push_back({a, value});
  }

  // A new file starts from the current profile with the detection defaults.
  CameraProfile profile = CurrentProfile();
  std::error_code ec;
  if (std::filesystem::exists(file, ec)) {
    if (!ReadProfileFile(file, profile)) {
      std::fprintf(stderr, "mr4 %s: cannot read a profile from %s\n",
                   context.name.c_str(), file.c_str());
      return kExitUsage;
    }
  } else {
    ResetDetectionDefaults(profile);
    std::filesystem::create_directories(file.parent_path(), ec);
  }
  for (const Assignment& c : changes) SetAttribute(profile, *c.attribute, c.value);
  if (!SaveProfileFile(file, profile)) return kExitSomeFailed;
  for (const Assignment& c : changes) PrintAttribute(profile, *c.attribute);
  return kExitOk;
}

}  // namespace

int RunProfile(const CommandContext& context, std::span<const std::string> args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {}, &parsed, &error)) return UsageError(context, error);
  const std::vector<std::string>& words = parsed.positionals();
  if (words.size() < 2) return UsageError(context, "needs show FILE or set FILE name=value...");
  const std::filesystem::path file = ProfilePath(words[1]);
  if (words[0] == "show") {
    if (words.size() != 2) return UsageError(context, "show takes one FILE");
    return Show(context, file);
  }
  if (words[0] == "set") {
    if (words.size() < 3) return UsageError(context, "set needs name=value");
    return Set(context, file, std::vector<std::string>(words.begin() + 2, words.end()));
  }
  return UsageError(context, "unknown action " + words[0]);
}

}  // namespace mr4::cli
