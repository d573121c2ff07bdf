// Text pieces of the truth files the simulator writes (JSON): a number in
// a printf format and a quoted string. The program runs in the C locale,
// so numbers carry a decimal point.
#pragma once

#include <string>

namespace mr4 {

std::string Fmt(const char* format, double v);
// `s` quoted, with quotes and backslashes escaped and control characters
// left out.
std::string JsonString(const std::string& s);

}  // namespace mr4
