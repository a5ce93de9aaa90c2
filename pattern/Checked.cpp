#include "Checked.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace pruvex {

namespace {
FatalReporter fatalReporter = nullptr;
}

void SetFatalReporter(FatalReporter reporter) {
    fatalReporter = reporter;
}

void Fatal(const char* what) {
    char line[256];
    std::snprintf(line, sizeof line, "pruvex: fatal error: %s", what);
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
    if (fatalReporter != nullptr) {
        fatalReporter(line);
    }
    std::_Exit(FatalExitStatus);
}

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below; // exact for every double
    if (fraction < 0.5) {
        return below;
    }
    if (fraction > 0.5) {
        return below + 1.0;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::int16_t Narrow16(int value, const char* what) {
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max()) {
        Fatal(what);
    }
    return static_cast<std::int16_t>(value);
}

std::int16_t Add16(std::int16_t a, std::int16_t b, const char* what) {
    return Narrow16(a + b, what);
}
std::int16_t Sub16(std::int16_t a, std::int16_t b, const char* what) {
    return Narrow16(a - b, what);
}
std::int16_t Mul16(std::int16_t a, std::int16_t b, const char* what) {
    return Narrow16(a * b, what);
}

std::int16_t RoundToInt16(double value, const char* what) {
    if (!std::isfinite(value)) {
        Fatal(what);
    }
    const double rounded = RoundHalfEven(value);
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max()) {
        Fatal(what);
    }
    return static_cast<std::int16_t>(rounded);
}

} // namespace pruvex
