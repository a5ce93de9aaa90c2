#pragma once

// Checked arithmetic. Integer state is signed 16-bit; a result that leaves
// that range, or a real that is not finite where an integer is wanted, is a
// fatal error: it is reported and the process ends.

#include <cstdint>

namespace pruvex {

// Exit status of the process after a fatal error.
inline constexpr int FatalExitStatus = 3;

// Called with the one-line report before the process ends (a shell shows it
// in a message box). The line is always written to the error output first.
using FatalReporter = void (*)(const char* line);
void SetFatalReporter(FatalReporter reporter);

[[noreturn]] void Fatal(const char* what);

// Nearest integer, halves to the even neighbour, independent of the
// floating-point environment's rounding mode.
double RoundHalfEven(double value);

std::int16_t Narrow16(int value, const char* what);
std::int16_t Add16(std::int16_t a, std::int16_t b, const char* what);
std::int16_t Sub16(std::int16_t a, std::int16_t b, const char* what);
std::int16_t Mul16(std::int16_t a, std::int16_t b, const char* what);
// RoundHalfEven, then checked narrowing; a non-finite value is fatal.
std::int16_t RoundToInt16(double value, const char* what);

} // namespace pruvex
