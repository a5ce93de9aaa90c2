#include "Icon.h"

namespace pruvex {

namespace {
constexpr int IconCells = 4;
constexpr int FirstIconLevel = 16;
constexpr int IconLevelRise = 16;
} // namespace

std::vector<Colour> IconPixels(int size) {
    const PatternState state;
    const int cell = size / IconCells > 0 ? size / IconCells : 1;
    std::vector<Colour> pixels;
    pixels.reserve(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const int row = y / cell < IconCells ? y / cell : IconCells - 1;
            const int col = x / cell < IconCells ? x / cell : IconCells - 1;
            const int level = FirstIconLevel + (row * IconCells + col) * IconLevelRise;
            pixels.push_back(LevelColour(static_cast<std::int16_t>(level), state));
        }
    }
    return pixels;
}

} // namespace pruvex
