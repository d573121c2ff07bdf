#include "cli/args.h"

#include <cerrno>
#include <cstdlib>

namespace mr4::cli {

std::optional<std::string> ParsedArgs::Value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> ParsedArgs::Values(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>{} : it->second;
}

bool ParseArgs(std::span<const std::string> args,
               std::initializer_list<OptionSpec> specs, ParsedArgs* out,
               std::string* error) {
  *out = ParsedArgs{};
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (arg == "--") {
        options_ended = true;
        continue;
      }
      out->positionals_.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inline_value;
    if (auto eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : specs) {
      if (s.name == name) spec = &s;
    }
    if (!spec) {
      *error = "unknown option " + name;
      return false;
    }
    if (spec->kind == OptionKind::kFlag) {
      if (inline_value) {
        *error = "option " + name + " takes no value";
        return false;
      }
      out->values_[name].push_back("");
      continue;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      inline_value = args[++i];
    }
    auto& slot = out->values_[name];
    if (spec->kind == OptionKind::kValue) slot.clear();
    slot.push_back(*inline_value);
  }
  return true;
}

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (errno == ERANGE || *end != '\0') return false;
  *value = v;
  return true;
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

}  // namespace mr4::cli
