#include "cli/commands.h"

#include <cstdio>

namespace mr4::cli {
namespace {

const Command kCommands[] = {
    {"settings", "print and change the settings file MR4_PARAM.MRA",
     "usage: mr4 [--home DIR] settings [--get KEY]... [--set KEY=VALUE]...\n"
     "\n"
     "Applies the --set values, then prints KEY=VALUE for the keys named by\n"
     "--get and --set (every key the file holds, in file order, when none\n"
     "is named). The settings are written to MR4_PARAM.MRA at exit; a\n"
     "refused command (unknown key, value that does not parse) writes\n"
     "nothing. Keys are given exactly as stored, trailing blank included\n"
     "(quote them in the shell). Integers print with %d, floats with the\n"
     "shortest text that reads back to the same value, texts as they are.\n",
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
