// Command-line options of the headless commands: one small parser so that
// every command reads its options the same way.
//
//   --name          a flag
//   --name VALUE    an option with a value (also --name=VALUE)
//   anything else   a positional argument ("--" ends the options)
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mr4::cli {

enum class OptionKind { kFlag, kValue, kRepeated };

struct OptionSpec {
  std::string name;  // with the leading "--"
  OptionKind kind;
};

class ParsedArgs {
 public:
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The last value given, or nullopt.
  std::optional<std::string> Value(const std::string& name) const;
  // Every value of a repeated option, in order.
  std::vector<std::string> Values(const std::string& name) const;
  const std::vector<std::string>& positionals() const { return positionals_; }

 private:
  friend bool ParseArgs(std::span<const std::string>,
                        std::initializer_list<OptionSpec>, ParsedArgs*,
                        std::string*);
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::string> positionals_;
};

// Parses `args` against `specs`; false with `error` set for an unknown
// option or a missing value.
bool ParseArgs(std::span<const std::string> args,
               std::initializer_list<OptionSpec> specs, ParsedArgs* out,
               std::string* error);

// Number parsing for option values: false unless the whole text is a number.
bool ParseInt(const std::string& text, int* value);
bool ParseDouble(const std::string& text, double* value);
// "a,b,c" into parts.
std::vector<std::string> SplitComma(const std::string& text);

}  // namespace mr4::cli
