#include "tables/cell_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace mr4 {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

std::size_t SkipBlanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

// Sign and digits from `i`; false when no digit follows or the magnitude
// exceeds `limit`.
bool ParseMagnitude(std::string_view text, std::size_t* i, bool* negative,
                    std::uint64_t limit, std::uint64_t* magnitude) {
  std::size_t p = *i;
  *negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    *negative = text[p] == '-';
    ++p;
  }
  std::size_t digits_start = p;
  std::uint64_t m = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    m = m * 10 + static_cast<std::uint64_t>(text[p] - '0');
    if (m > limit) return false;
    ++p;
  }
  if (p == digits_start) return false;
  *i = p;
  *magnitude = m;
  return true;
}

}  // namespace

std::size_t ParseIntPrefix(std::string_view text, std::int32_t* value) {
  std::size_t i = SkipBlanks(text);
  bool negative;
  std::uint64_t m;
  if (!ParseMagnitude(text, &i, &negative, 2147483648ull, &m)) return 0;
  if (!negative && m > 2147483647ull) return 0;
  *value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(m))
                    : static_cast<std::int32_t>(m);
  return i;
}

std::size_t ParseUintPrefix(std::string_view text, std::uint32_t* value) {
  std::size_t i = SkipBlanks(text);
  bool negative;
  std::uint64_t m;
  if (!ParseMagnitude(text, &i, &negative, 4294967295ull, &m)) return 0;
  std::uint32_t u = static_cast<std::uint32_t>(m);
  *value = negative ? 0u - u : u;
  return i;
}

std::size_t ParseInt64Prefix(std::string_view text, std::int64_t* value) {
  std::size_t i = SkipBlanks(text);
  bool negative;
  std::uint64_t m;
  if (!ParseMagnitude(text, &i, &negative, 9223372036854775808ull, &m)) return 0;
  if (!negative && m > 9223372036854775807ull) return 0;
  *value = negative ? static_cast<std::int64_t>(0ull - m)
                    : static_cast<std::int64_t>(m);
  return i;
}

std::size_t ParseFloatPrefix(std::string_view text, float* value) {
  std::size_t i = SkipBlanks(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // from_chars takes no "+" and would accept a second sign; give it the
  // unsigned part only.
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  float f = 0.0f;
  auto [ptr, ec] = std::from_chars(first, last, f, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return 0;
  if (ec == std::errc::result_out_of_range) {
    // As strtof: overflow gives infinity, underflow zero.
    std::string_view digits(first, static_cast<std::size_t>(ptr - first));
    std::size_t e = digits.find_first_of("eE");
    bool underflow = e != std::string_view::npos && e + 1 < digits.size() &&
                     digits[e + 1] == '-';
    f = underflow ? 0.0f : __builtin_huge_valf();
  }
  *value = negative ? -f : f;
  return static_cast<std::size_t>(ptr - text.data());
}

void AppendFixed(std::string* out, double value, int decimals) {
  if (!std::isfinite(value)) value = 0.0;
  char buffer[400];
  auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                 std::chars_format::fixed, decimals);
  if (ec != std::errc()) {
    out->append("0");
    return;
  }
  out->append(buffer, ptr);
}

void AppendFloat(std::string* out, float value) {
  char shortest[64];
  auto [end, ec] = std::to_chars(shortest, shortest + sizeof shortest, value);
  double decimal = value;
  if (ec == std::errc() && std::isfinite(value)) {
    std::from_chars(shortest, end, decimal);
  }
  AppendFixed(out, decimal);
}

void AppendCellNumber(std::string* out, const Cell& cell, std::uint32_t type) {
  char buffer[32];
  switch (type) {
    case kCellInt: {
      std::int32_t v;
      std::memcpy(&v, &cell.bits, sizeof v);
      auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
      out->append(buffer, r.ptr);
      break;
    }
    case kCellFlag:
    case kCellUnsigned:
    case kCellId: {
      std::uint32_t v;
      std::memcpy(&v, &cell.bits, sizeof v);
      auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
      out->append(buffer, r.ptr);
      break;
    }
    case kCellInt64: {
      std::int64_t v;
      std::memcpy(&v, &cell.bits, sizeof v);
      auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
      out->append(buffer, r.ptr);
      break;
    }
    case kCellFloat: {
      float v;
      std::memcpy(&v, &cell.bits, sizeof v);
      AppendFloat(out, v);
      break;
    }
    case kCellDouble: {
      double v;
      std::memcpy(&v, &cell.bits, sizeof v);
      AppendFixed(out, v);
      break;
    }
    default:
      break;
  }
}

bool ParseCellNumber(std::string_view text, std::uint32_t type, Cell* cell) {
  Cell parsed;
  switch (type) {
    case kCellInt: {
      std::int32_t v;
      if (!ParseIntPrefix(text, &v)) return false;
      std::memcpy(&parsed.bits, &v, sizeof v);
      break;
    }
    case kCellFlag:
    case kCellUnsigned:
    case kCellId: {
      std::uint32_t v;
      if (!ParseUintPrefix(text, &v)) return false;
      std::memcpy(&parsed.bits, &v, sizeof v);
      break;
    }
    case kCellInt64: {
      std::int64_t v;
      if (!ParseInt64Prefix(text, &v)) return false;
      std::memcpy(&parsed.bits, &v, sizeof v);
      break;
    }
    case kCellFloat: {
      float v;
      if (!ParseFloatPrefix(text, &v) || !std::isfinite(v)) return false;
      std::memcpy(&parsed.bits, &v, sizeof v);
      break;
    }
    case kCellDouble: {
      float v;
      if (!ParseFloatPrefix(text, &v) || !std::isfinite(v)) return false;
      double d = v;
      std::memcpy(&parsed.bits, &d, sizeof d);
      break;
    }
    default:
      return false;
  }
  *cell = parsed;
  return true;
}

}  // namespace mr4
