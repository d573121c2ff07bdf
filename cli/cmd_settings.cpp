#include "cli/commands.h"

namespace mr4::cli {

int RunSettings(const CommandContext& context, std::span<const std::string>) {
  return UsageError(context, "the settings file is not built yet");
}

}  // namespace mr4::cli
