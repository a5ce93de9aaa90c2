// Any client size from 0 x 0 to 65535 x 65535 and any grid level the keys
// reach. A plain 64-bit account of the mosaic decides beforehand whether its
// 16-bit arithmetic overflows: such a size must end in the fatal error (the
// reporter throws here instead of letting the process end), every other size
// must draw the counted squares with finite corners and nothing else.
//
// Input: width and height (two bytes each), then the grid level.

#include "GridModel.h"
#include "pattern/Checked.h"
#include "pattern/Picture.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct FatalError {};

void ThrowFatal(const char* /*line*/) {
    throw FatalError{};
}

bool Fits16(long long value) {
    return value >= -32768 && value <= 32767;
}

struct Expected {
    long long Pitch = 0;
    long long Squares = 0;
    bool Overflows = false;
};

// The mosaic's counting: bound and step fixed first, counters from 1,
// upward for a step of 0 or more and downward otherwise.
Expected Model(long long width, long long height, long long gridLevel) {
    Expected e;
    e.Pitch = pruvex::testing::ModelPitch(width, height);
    const long long p = e.Pitch;
    const long long rowBound = p * 7;
    const long long colBound = p * 11;
    if (!Fits16(rowBound) || !Fits16(colBound)) {
        e.Overflows = true;
        return e;
    }
    const auto within = [p](long long counter, long long bound) {
        return p >= 0 ? counter <= bound : counter >= bound;
    };
    long long level = gridLevel;
    for (long long y = 1; within(y, rowBound); y += p) {
        for (long long x = 1; within(x, colBound); x += p) {
            ++e.Squares;
            level += 4;
            if (!Fits16(level) || !Fits16(x + p)) {
                e.Overflows = true;
                return e;
            }
        }
        if (!Fits16(y + p)) {
            e.Overflows = true;
            return e;
        }
    }
    return e;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pruvex::SetFatalReporter(ThrowFatal);
    FuzzedDataProvider input(data, size);
    const std::uint16_t width = input.ConsumeIntegral<std::uint16_t>();
    const std::uint16_t height = input.ConsumeIntegral<std::uint16_t>();
    pruvex::PatternState state;
    state.Mode = "G";
    state.GridLevel = input.ConsumeIntegralInRange<std::int16_t>(0, 178);

    const Expected expected = Model(width, height, state.GridLevel);
    pruvex::Picture picture;
    bool fatal = false;
    try {
        picture = pruvex::Draw(state, width, height);
    } catch (const FatalError&) {
        fatal = true;
    }
    Require(fatal == expected.Overflows);
    if (fatal) {
        return 0;
    }

    Require(state.Pitch == expected.Pitch);
    Require(picture.Background == pruvex::White);
    Require(static_cast<long long>(picture.Squares.size()) == expected.Squares);
    Require(picture.Squares.size() <= std::size_t{13} * 9);
    Require(expected.Pitch <= 0 || picture.Squares.size() == std::size_t{11} * 7);
    std::int16_t level = state.GridLevel;
    for (const pruvex::FilledSquare& square : picture.Squares) {
        Require(std::isfinite(square.X1) && std::isfinite(square.Y1) && std::isfinite(square.X2) &&
                std::isfinite(square.Y2));
        Require(square.X2 - square.X1 == static_cast<float>(expected.Pitch));
        Require(square.Y2 - square.Y1 == static_cast<float>(expected.Pitch));
        Require(square.Pixels == pruvex::CoveredPixels(square.X1, square.Y1, square.X2, square.Y2));
        Require(square.Level == level);
        Require(square.Fill == pruvex::LevelColour(level, state));
        level = static_cast<std::int16_t>(level + 4);
    }
    return 0;
}
