#include "cli/commands.h"

#include <cstdio>

namespace mr4::cli {
namespace {

const Command kCommands[] = {
    {"settings", "print and change the settings file MR4_PARAM.MRA",
     "usage: mr4 [--home DIR] settings [--get KEY]... [--set KEY=VALUE]...\n"
     "\n"
     "Prints KEY=VALUE for the requested keys (every key, in file order,\n"
     "when none is requested) and applies the --set values, which are\n"
     "written to MR4_PARAM.MRA at exit. Keys are given exactly as stored,\n"
     "trailing blank included (quote them in the shell).\n",
     RunSettings},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

int UsageError(const CommandContext& context, const std::string& message) {
  std::fprintf(stderr, "mr4 %s: %s\n(see 'mr4 %s --help')\n",
               context.name.c_str(), message.c_str(), context.name.c_str());
  return kExitUsage;
}

}  // namespace mr4::cli
