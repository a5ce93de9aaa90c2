#pragma once

// The mosaic worked out in plain integers apart from the engine: its pitch for
// a client size, and the level shown at each pixel, for the grid fuzzer, the
// widget tests and the end-to-end tests.

#include <optional>

namespace pruvex::testing {

// n / d rounded to the nearest integer, halves to the even neighbour (d > 0).
inline long long DivideHalfEven(long long n, long long d) {
    long long q = n / d;
    if (n % d != 0 && n < 0) {
        --q; // floor
    }
    const long long twice = 2 * (n - q * d);
    if (twice > d || (twice == d && q % 2 != 0)) {
        ++q;
    }
    return q;
}

// The smaller of (height - 32) / 8 and (width - 32) / 12 for the 11 x 7 mosaic.
inline long long ModelPitch(long long width, long long height) {
    const long long dy = DivideHalfEven(height - 32, 7 + 1);
    const long long dx = DivideHalfEven(width - 32, 11 + 1);
    return dx < dy ? dx : dy;
}

// The level of the square at drawing-area pixel (x, y) of the 11 x 7 mosaic,
// or nothing where the white background shows. Square (row, col) covers
// [1 + P/2 + P*col, 1 + P/2 + P*(col + 1)) across and likewise down: a half
// pixel edge starts at the pixel it halves, for odd and even pitches alike.
inline std::optional<int> ModelLevelAt(int x, int y, int pitch, int gridLevel) {
    if (pitch <= 0) {
        return std::nullopt;
    }
    const int start = 1 + pitch / 2;
    const int col = x >= start ? (x - start) / pitch : -1;
    const int row = y >= start ? (y - start) / pitch : -1;
    if (col < 0 || col >= 11 || row < 0 || row >= 7) {
        return std::nullopt;
    }
    return gridLevel + 4 * (row * 11 + col);
}

} // namespace pruvex::testing
