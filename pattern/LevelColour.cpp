#include "LevelColour.h"

#include "Checked.h"

namespace pruvex {

namespace {
std::uint8_t Channel(std::int16_t value) {
    // Levels are never negative, so only the top needs a limit.
    return static_cast<std::uint8_t>(value > HighestLevel ? HighestLevel : value);
}
} // namespace

Colour LevelColour(std::int16_t level, const PatternState& state) {
    const double real = level;
    // Each step is a separate, named double so that no wider intermediate
    // precision and no fused multiply-add can move a half.
    const double green = real / state.RedGain;
    const double product = real * state.BlueGain;
    const double blue = product / state.RedGain;
    return Colour{Channel(level), Channel(RoundToInt16(green, "green channel out of range")),
                  Channel(RoundToInt16(blue, "blue channel out of range"))};
}

} // namespace pruvex
