#pragma once

// Where the mosaic lies in a photograph of it, found from the picture alone.

#include "measure/CfaFrame.h"

#include <optional>
#include <vector>

namespace pruvex::measure {

// The mosaic as the pattern engine draws it: its squares in drawing order
// (reading order), each with its column, row and level.
struct MosaicSquare {
    int Column = 0;
    int Row = 0;
    int Level = 0;
};
struct MosaicLayout {
    int Columns = 0;
    int Rows = 0;
    std::vector<MosaicSquare> Squares;
};
const MosaicLayout& TheMosaic();

// The mosaic's place in a frame: the top-left corner of its first square in
// pixel coordinates (pixel (x, y) covers [x, x + 1) x [y, y + 1)), the side
// of one square in pixels, and the angle of its rows against the frame's
// (radians, clockwise as y grows downward).
struct Placement {
    double Left = 0;
    double Top = 0;
    double Pitch = 0;
    double Angle = 0;
};

// The centre of a square (column and row counted from the first square).
struct Point {
    double X = 0;
    double Y = 0;
};
Point SquareCentre(const Placement& placement, int column, int row);

// Finds the mosaic: its squares must rise in brightness as their levels do,
// and whatever lies around it must be brighter than its outer squares.
// Nothing when no such mosaic is found.
std::optional<Placement> FindMosaic(const CfaFrame& frame, const MosaicLayout& layout);

} // namespace pruvex::measure
