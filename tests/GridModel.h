#pragma once

// The mosaic's pitch for a client size, worked out in plain 64-bit integers
// apart from the engine, for the grid fuzzer and the end-to-end sweep.

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

} // namespace pruvex::testing
