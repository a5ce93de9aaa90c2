#include "Picture.h"

#include "Checked.h"

#include <algorithm>
#include <cmath>

namespace pruvex {

namespace {

constexpr const char* FlatPrefix = "Flat @";
constexpr const char* GridPrefix = "Grid @";
constexpr const char* FlatInstruction =
    " Adjust monitor brightness so properly exposed at 1/30s with lens wide open at lowest ISO.";
constexpr const char* GridInstruction =
    " Take slightly out of focus images of the grid but with no white at 1/250s at each ISO.";

constexpr std::int16_t GridMargin = 32;   // pixels of the client size left out of the pitch
constexpr std::int16_t GridLevelRise = 4; // level difference between neighbouring squares
constexpr const char* GridOverflow = "16-bit overflow in grid drawing";

int FirstCovered(float edge) {
    return static_cast<int>(std::ceil(static_cast<double>(edge) - 0.5));
}

// (clientSize - 32) / (count + 1) in reals, rounded half to even.
std::int16_t CandidatePitch(float clientSize, std::int16_t count) {
    const double span = static_cast<double>(clientSize) - GridMargin;
    const double parts = Add16(count, 1, GridOverflow);
    return RoundToInt16(span / parts, GridOverflow);
}

// The counting rule of both mosaic loops: bound and step fixed before the
// loop, counter from 1, upward for a step of 0 or more, downward otherwise.
bool WithinBound(std::int16_t counter, std::int16_t bound, std::int16_t step) {
    return step >= 0 ? counter <= bound : counter >= bound;
}

} // namespace

PixelRect CoveredPixels(float x1, float y1, float x2, float y2) {
    return PixelRect{FirstCovered(std::min(x1, x2)), FirstCovered(std::min(y1, y2)),
                     FirstCovered(std::max(x1, x2)), FirstCovered(std::max(y1, y2))};
}

std::string Caption(const PatternState& state) {
    const bool flat = IsFlat(state);
    std::string text = flat ? FlatPrefix : GridPrefix;
    text += std::to_string(flat ? state.FlatLevel : state.GridLevel);
    text += ':';
    text += flat ? FlatInstruction : GridInstruction;
    return text;
}

Picture DrawFlat(const PatternState& state) {
    return Picture{LevelColour(state.FlatLevel, state), {}};
}

Picture DrawGrid(PatternState& state, float clientWidth, float clientHeight) {
    const std::int16_t dy = CandidatePitch(clientHeight, state.GridRows);
    const std::int16_t dx = CandidatePitch(clientWidth, state.GridCols);
    state.Pitch = dx < dy ? dx : dy;

    const std::int16_t pitch = state.Pitch;
    const double half = pitch / 2.0;
    const std::int16_t rowBound = Mul16(pitch, state.GridRows, GridOverflow);
    const std::int16_t colBound = Mul16(pitch, state.GridCols, GridOverflow);

    Picture picture{White, {}};
    // A positive pitch gives GridRows x GridCols squares; a negative one (tiny
    // windows) at most 9 x 13.
    picture.Squares.reserve(static_cast<std::size_t>(std::max(state.GridRows + 2, 0)) *
                            static_cast<std::size_t>(std::max(state.GridCols + 2, 0)));
    std::int16_t level = state.GridLevel;
    for (std::int16_t y = 1; WithinBound(y, rowBound, pitch); y = Add16(y, pitch, GridOverflow)) {
        for (std::int16_t x = 1; WithinBound(x, colBound, pitch);
             x = Add16(x, pitch, GridOverflow)) {
            FilledSquare square;
            square.X1 = static_cast<float>(x + half);
            square.Y1 = static_cast<float>(y + half);
            square.X2 = static_cast<float>(x + pitch + half);
            square.Y2 = static_cast<float>(y + pitch + half);
            square.Level = level;
            square.Fill = LevelColour(level, state);
            square.Pixels = CoveredPixels(square.X1, square.Y1, square.X2, square.Y2);
            picture.Squares.push_back(square);
            level = Add16(level, GridLevelRise, GridOverflow);
        }
    }
    return picture;
}

Picture Draw(PatternState& state, float clientWidth, float clientHeight) {
    return IsFlat(state) ? DrawFlat(state) : DrawGrid(state, clientWidth, clientHeight);
}

} // namespace pruvex
