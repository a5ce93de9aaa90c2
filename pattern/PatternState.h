#pragma once

#include <cstdint>
#include <string>

namespace pruvex {

// Every setting of the display. The member initialisers are the start-up
// values, so a record holds them from the moment it exists, before any event
// can draw from it.
struct PatternState {
    std::int16_t Pitch =
        64; // side of one mosaic square in pixels; recomputed by every grid drawing
    std::int16_t GridLevel = 25; // level of the top-left square of the mosaic
    std::int16_t GridCols = 11;  // squares across the mosaic
    std::int16_t GridRows = 7;   // squares down the mosaic
    double BlueGain = 1.5;       // blue-to-green ratio of the level colour
    double RedGain = 2.2;        // red-to-green ratio of the level colour
    std::int16_t FlatLevel = 212;
    std::int16_t LevelStep = 1;
    std::string Mode = "F"; // "F": flat field, "G": grid mosaic (compared case-sensitively)
};

inline constexpr std::int16_t LowestLevel = 0;
inline constexpr std::int16_t HighestLevel = 255;

// Level ranges kept by every writer of the record.
inline constexpr std::int16_t LowestLevelStep = 1;
inline constexpr std::int16_t HighestLevelStep = 255;

// The highest GridLevel the keys reach: the mosaic's squares above it would
// not fit under 255 if they rose by 1 (178 for the 11 x 7 mosaic).
std::int16_t HighestGridLevel(const PatternState& state);

// The client size the window opens with: room for the mosaic at a pitch of 64
// plus 8 pixels, 776 x 520 for the 11 x 7 mosaic.
std::int16_t StartupClientWidth(const PatternState& state);
std::int16_t StartupClientHeight(const PatternState& state);

inline bool IsFlat(const PatternState& state) {
    return state.Mode == "F";
}
inline bool IsGrid(const PatternState& state) {
    return state.Mode == "G";
}

} // namespace pruvex
