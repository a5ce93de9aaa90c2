#pragma once

#include "PatternState.h"

#include <cstdint>

namespace pruvex {

struct Colour {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr Colour White{255, 255, 255};

// The one rule that turns a level into a colour: red is the level, green the
// level / RedGain and blue (level * BlueGain) / RedGain, each in plain 64-bit
// reals, rounded half to even and limited to 255.
Colour LevelColour(std::int16_t level, const PatternState& state);

} // namespace pruvex
