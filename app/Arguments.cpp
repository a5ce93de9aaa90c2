#include "Arguments.h"

#include "pattern/Checked.h"

#include <charconv>
#include <limits>

namespace pruvex {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    return at;
}

// The power of ten of a number's first significant digit plus one, exponent
// included: positive for values of 1 and more. Only its sign is used, for
// numbers far beyond the range of a 64-bit real.
long long DecimalOrder(std::string_view number, std::size_t mantissaStart, std::size_t integerEnd,
                       std::size_t fractionEnd) {
    long long order = 0;
    for (std::size_t i = mantissaStart; i < fractionEnd; ++i) {
        if (IsDigit(number[i]) && number[i] != '0') {
            order = i < integerEnd ? static_cast<long long>(integerEnd - i)
                                   : -static_cast<long long>(i - integerEnd - 1);
            break;
        }
    }
    long long exponent = 0;
    bool exponentNegative = false;
    for (std::size_t i = fractionEnd + 1; i < number.size(); ++i) {
        if (number[i] == '-') {
            exponentNegative = true;
        } else if (IsDigit(number[i]) && exponent < 1'000'000'000LL) {
            exponent = exponent * 10 + (number[i] - '0');
        }
    }
    return order + (exponentNegative ? -exponent : exponent);
}

} // namespace

std::string JoinArguments(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            text += ' ';
        }
        text += argv[i];
    }
    return text;
}

std::string_view ArgumentTextOfCommandLine(std::string_view commandLine) {
    std::size_t at = 0;
    bool quoted = false;
    // The program's name ends at the first space or tab outside quotes; the
    // quotes themselves only group.
    for (; at < commandLine.size(); ++at) {
        const char c = commandLine[at];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            break;
        }
    }
    while (at < commandLine.size() && (commandLine[at] == ' ' || commandLine[at] == '\t')) {
        ++at;
    }
    return commandLine.substr(at);
}

std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    if (text.empty()) {
        return fields;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        if (space == std::string_view::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, space - start));
        start = space + 1;
    }
}

double ReadNumber(std::string_view field) {
    std::size_t at = 0;
    bool negative = false;
    if (at < field.size() && (field[at] == '+' || field[at] == '-')) {
        negative = field[at] == '-';
        ++at;
    }
    const std::size_t mantissaStart = at;
    const std::size_t integerEnd = SkipDigits(field, at);
    std::size_t end = integerEnd;
    std::size_t fractionEnd = integerEnd;
    if (end < field.size() && field[end] == '.') {
        fractionEnd = SkipDigits(field, end + 1);
        end = fractionEnd;
    }
    const bool hasDigits = integerEnd > mantissaStart || fractionEnd > integerEnd + 1;
    if (!hasDigits) {
        return 0.0;
    }
    // An exponent counts only with at least one digit after "e" and its sign.
    if (end < field.size() && (field[end] == 'e' || field[end] == 'E')) {
        std::size_t exponentAt = end + 1;
        if (exponentAt < field.size() && (field[exponentAt] == '+' || field[exponentAt] == '-')) {
            ++exponentAt;
        }
        const std::size_t exponentEnd = SkipDigits(field, exponentAt);
        if (exponentEnd > exponentAt) {
            end = exponentEnd;
        }
    }

    const char* first = field.data() + mantissaStart;
    const char* last = field.data() + end;
    double magnitude = 0.0;
    // The text was checked above, so the only error left is a value beyond
    // the range of a 64-bit real.
    if (std::from_chars(first, last, magnitude).ec == std::errc::result_out_of_range) {
        // Too small reads as 0, too large as infinity.
        magnitude = DecimalOrder(field.substr(0, end), mantissaStart, integerEnd, fractionEnd) > 0
                        ? std::numeric_limits<double>::infinity()
                        : 0.0;
    }
    return negative ? -magnitude : magnitude;
}

std::optional<int> ReadInteger(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos ||
        (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::int16_t LimitToRange(double value, std::int16_t low, std::int16_t high) {
    if (!(value > low)) {
        return low;
    }
    if (value >= high) {
        return high;
    }
    return static_cast<std::int16_t>(RoundHalfEven(value));
}

Arguments ReadArguments(std::string_view text) {
    return ReadFields(SplitFields(text));
}

Arguments ReadFields(const std::vector<std::string_view>& fields) {
    Arguments arguments;
    if (!fields.empty()) {
        arguments.LevelStep =
            LimitToRange(ReadNumber(fields[0]), LowestLevelStep, HighestLevelStep);
    }
    if (fields.size() >= 2) {
        arguments.FlatLevel = LimitToRange(ReadNumber(fields[1]), LowestLevel, HighestLevel);
    }
    return arguments;
}

void ApplyArguments(PatternState& state, const Arguments& arguments) {
    state.LevelStep = arguments.LevelStep;
    state.FlatLevel = arguments.FlatLevel;
}

} // namespace pruvex
