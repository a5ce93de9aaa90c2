#pragma once

// What the series asks of each frame as it lands, answered by the
// measuring core: is the mosaic there, how many of its squares lie below
// clipping in each channel, is a frame dark, how full is a flat field.

#include "measure/CfaFrame.h"

#include <array>

namespace pruvex::series {

struct ShotCheck {
    bool Found = false;
    int Channels = measure::ChannelCount; // 1 for a monochrome sensor
    // Per channel (R, G, B, or Y alone), the squares measured with no
    // clipped pixel.
    std::array<int, measure::ChannelCount> Unclipped{};
    // Without the mosaic: so much of the frame clipped that the mosaic is
    // lost in it (a shorter time may show it).
    bool Overexposed = false;
};

ShotCheck CheckShot(const measure::CfaFrame& frame);

// A frame taken with the lens capped.
bool IsDark(const measure::CfaFrame& frame);

// Per channel, the mean signal as a percentage of the raw range, and the
// share of clipped pixels (0..1), of all and of each channel's.
struct Fullness {
    std::array<double, measure::ChannelCount> Percent{};
    double ClippedShare = 0;
    std::array<double, measure::ChannelCount> ChannelClipped{};
    int Channels = measure::ChannelCount; // 1 for a monochrome sensor
};
Fullness MeasureFullness(const measure::CfaFrame& frame);

} // namespace pruvex::series
