#pragma once

// The two patterns as data: what a shell paints on the drawing area of
// picMain. Coordinates are pixels of the drawing area (inside the surface's
// frame), origin top-left, y downward.

#include "LevelColour.h"
#include "PatternState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pruvex {

// Whole device pixels [Left, Right) x [Top, Bottom).
struct PixelRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The pixels a filled rectangle with real corners covers: pixel column i is
// inside when its centre i + 0.5 lies in [min(x1, x2), max(x1, x2)), and rows
// alike. A far edge is never included, so rectangles that share an edge
// touch without a gap and without overlap, also on half pixels.
PixelRect CoveredPixels(float x1, float y1, float x2, float y2);

struct FilledSquare {
    float X1 = 0; // corners as computed, 32-bit reals that may fall on half pixels
    float Y1 = 0;
    float X2 = 0;
    float Y2 = 0;
    std::int16_t Level = 0;
    Colour Fill;
    PixelRect Pixels; // CoveredPixels of the corners
};

// A background that fills the whole drawing area, then squares painted over
// it in order.
struct Picture {
    Colour Background;
    std::vector<FilledSquare> Squares;
};

// One rectangle of whole pixels in one colour.
struct PaintRect {
    PixelRect Pixels;
    Colour Fill;
};

// The picture on a drawing area of the given size as rectangles that cover
// every pixel of the area exactly once: the background only where no square
// lies, a square only where no later square lies over it, everything
// clipped to the area.
std::vector<PaintRect> PaintPlan(const Picture& picture, int width, int height);

// "Flat @212: Adjust monitor ..." or "Grid @25: Take slightly ...".
std::string Caption(const PatternState& state);

// The flat field: LevelColour(FlatLevel) over the whole drawing area.
Picture DrawFlat(const PatternState& state);

// The side of the mosaic's squares for a client area of the given size (the
// window's client area, not the smaller drawing area): the smaller of
// (width - 32) / (GridCols + 1) and (height - 32) / (GridRows + 1), rounded
// half to even. Changes nothing.
std::int16_t GridPitch(const PatternState& state, float clientWidth, float clientHeight);

// The grid mosaic for a client area of the given size. Stores its GridPitch
// in Pitch.
Picture DrawGrid(PatternState& state, float clientWidth, float clientHeight);

// DrawFlat in mode "F", DrawGrid otherwise.
Picture Draw(PatternState& state, float clientWidth, float clientHeight);

} // namespace pruvex
