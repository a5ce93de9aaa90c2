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

std::vector<PaintRect> PaintPlan(const Picture& picture, int width, int height) {
    std::vector<PaintRect> plan;
    if (width <= 0 || height <= 0) {
        return plan;
    }
    // The squares' pixels inside the area; their edges cut it into bands.
    std::vector<PaintRect> squares;
    std::vector<int> edges = {0, height};
    for (const FilledSquare& square : picture.Squares) {
        const PixelRect& p = square.Pixels;
        const PixelRect clipped{std::max(p.Left, 0), std::max(p.Top, 0), std::min(p.Right, width),
                                std::min(p.Bottom, height)};
        if (!clipped.IsEmpty()) {
            squares.push_back({clipped, square.Fill});
            edges.push_back(clipped.Top);
            edges.push_back(clipped.Bottom);
        }
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

    struct Run {
        int Left;
        int Right;
        Colour Fill;
    };
    std::vector<Run> runs;
    for (std::size_t band = 0; band + 1 < edges.size(); ++band) {
        const int top = edges[band];
        const int bottom = edges[band + 1];
        // Across the band, each square in turn laid over what lies there.
        runs.assign(1, Run{0, width, picture.Background});
        for (const PaintRect& square : squares) {
            const PixelRect& p = square.Pixels;
            if (p.Top > top || p.Bottom < bottom) {
                continue;
            }
            std::vector<Run> next;
            next.reserve(runs.size() + 2);
            for (const Run& run : runs) {
                if (run.Right <= p.Left || run.Left >= p.Right) {
                    next.push_back(run);
                    continue;
                }
                if (run.Left < p.Left) {
                    next.push_back({run.Left, p.Left, run.Fill});
                }
                if (run.Right > p.Right) {
                    next.push_back({p.Right, run.Right, run.Fill});
                }
            }
            next.push_back({p.Left, p.Right, square.Fill});
            std::sort(next.begin(), next.end(),
                      [](const Run& a, const Run& b) { return a.Left < b.Left; });
            runs = std::move(next);
        }
        for (const Run& run : runs) {
            plan.push_back({PixelRect{run.Left, top, run.Right, bottom}, run.Fill});
        }
    }
    return plan;
}

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

std::int16_t GridPitch(const PatternState& state, float clientWidth, float clientHeight) {
    const std::int16_t dy = CandidatePitch(clientHeight, state.GridRows);
    const std::int16_t dx = CandidatePitch(clientWidth, state.GridCols);
    return dx < dy ? dx : dy;
}

Picture DrawGrid(PatternState& state, float clientWidth, float clientHeight) {
    state.Pitch = GridPitch(state, clientWidth, clientHeight);

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
