// Numbers of table cells as text, the same in table files, XML records and
// printed tables. Independent of the process locale (the desktop program
// sets one): a float is always written with a decimal point.
//
// Parsers follow the C conversions the file formats are defined by: leading
// blanks are skipped, the number ends at the first character that cannot
// belong to it, and the text after it is ignored. They return the number of
// characters consumed, 0 when no number starts there (or it does not fit).
// Pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tables/table.h"

namespace mr4 {

// "%d": optional sign and decimal digits, int32 range.
std::size_t ParseIntPrefix(std::string_view text, std::int32_t* value);
// "%u": as the C conversion, a leading "-" negates modulo 2^32.
std::size_t ParseUintPrefix(std::string_view text, std::uint32_t* value);
// "%lld".
std::size_t ParseInt64Prefix(std::string_view text, std::int64_t* value);
// "%f": decimal or exponent notation, "inf" and "nan".
std::size_t ParseFloatPrefix(std::string_view text, float* value);

// "%f" with `decimals` digits after the point ("%f" is 6). Infinity and NaN,
// which no reader takes back, are written as 0.
void AppendFixed(std::string* out, double value, int decimals = 6);
// "%f" of a float at the float's own precision: the shortest decimal that
// reads back as the same float, with six decimals, so 58.3f is written
// "58.300000" (not "58.299999", the digits of its binary value).
void AppendFloat(std::string* out, float value);

// A non-text cell in its file form: 1 "%d", 2-4 "%u", 5 "%lld", 7 and 8
// "%f". Text cells append nothing.
void AppendCellNumber(std::string* out, const Cell& cell, std::uint32_t type);

// Parses `text` into a non-text cell by type (8 through a float); false when
// no number starts there, or when a float is infinite or NaN ("inf", "nan",
// a value beyond the float range): no table or record holds such a value,
// whose angles no fold brings back onto the circle. The cell is unchanged
// then.
bool ParseCellNumber(std::string_view text, std::uint32_t type, Cell* cell);

}  // namespace mr4
