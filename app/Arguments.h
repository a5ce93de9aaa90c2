#pragma once

// Reading the argument text: "[STEP [LEVEL]]", split at every single space.

#include "pattern/PatternState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pruvex {

struct Arguments {
    std::int16_t LevelStep = 1;
    std::int16_t FlatLevel = 212;
    friend bool operator==(const Arguments&, const Arguments&) = default;
};

// The argument list after the program's own name, joined with single spaces.
std::string JoinArguments(int argc, const char* const* argv);

// The argument text of a Windows command line: what follows the program's
// own name (quoted or not, by the rules the C runtime uses for it) and the
// spaces and tabs that separate it from the arguments.
std::string_view ArgumentTextOfCommandLine(std::string_view commandLine);

// Every single space ends a field, so doubled, leading and trailing spaces
// give empty fields; an empty text gives no field at all. Tabs are ordinary
// characters.
std::vector<std::string_view> SplitFields(std::string_view text);

// The value of the field's leading number: optional sign, digits, optional
// decimal point and digits (".5" and "5." included), optional exponent. A
// field that does not begin with a number ("", "x1", "inf", "nan", and the
// "0" of "0x10" alone) reads as what precedes the letter, or 0. A value
// beyond the range of a 64-bit real reads as +-infinity.
double ReadNumber(std::string_view field);

// A whole number in plain decimal digits, as the control commands and
// --settle take them: no sign, no leading zero, no decimal point or
// exponent, at most 5 digits.
std::optional<int> ReadInteger(std::string_view text);

// Limits a value of any size to low..high, then takes the nearest integer,
// halves to even.
std::int16_t LimitToRange(double value, std::int16_t low, std::int16_t high);

// LevelStep from the first field (1..255, default 1), FlatLevel from the
// second (0..255, default 212); further fields are ignored.
Arguments ReadArguments(std::string_view text);

// The same from fields already split.
Arguments ReadFields(const std::vector<std::string_view>& fields);

void ApplyArguments(PatternState& state, const Arguments& arguments);

} // namespace pruvex
