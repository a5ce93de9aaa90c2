#pragma once

// The end of a series before its figures: the line that says why and the
// exit status.

#include <string>

namespace pruvex::series {

inline constexpr int ExitStopped = 1;
inline constexpr int ExitSetup = 2;
inline constexpr int ExitInterrupted = 130;

struct Stop {
    int Status = ExitStopped;
    std::string Line;
};

} // namespace pruvex::series
