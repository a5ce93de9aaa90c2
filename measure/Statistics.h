#pragma once

// The signal and noise of each square of the mosaic, per channel of the
// sensor, and of whole dark frames.

#include "measure/CfaFrame.h"
#include "measure/Mosaic.h"
#include "measure/ValueCounts.h"

#include <array>
#include <cmath>
#include <vector>

namespace pruvex::measure {

// The part of each square that is measured: its central 60 % each way, away
// from the blurred edges. A square cut by the frame is measured when at
// least half of that part remains.
inline constexpr double MeasuredFraction = 0.6;
inline constexpr double LeastRemaining = 0.5;

struct ChannelStats {
    double Mean = 0;     // signal above the black level, DN
    double Variance = 0; // DN^2
    long long Pixels = 0;
    long long Clipped = 0; // pixels at or near the white level
    // Pixels left out as hot, stuck or dead: far off the square's own
    // spread in either frame or in their difference.
    long long Rejected = 0;
    // Of a pair: the variance of the rows' mean differences (each row's
    // pixels of the channel, scaled as Variance is, times the pixels in a
    // row), and the rows. Without bands across rows it is about Variance.
    double RowsVariance = 0;
    long long Rows = 0;
};
using Stats = std::array<ChannelStats, ChannelCount>;

// A value at or above this counts as clipped: the white level less half a
// percent of the range above black.
double ClipLevel(const CfaFrame& frame);

// One frame: the mean and variance of each square's pixels (the variance
// includes the sensor's fixed pattern). In the layout's order.
std::vector<Stats> MeasureSquares(const CfaFrame& frame, const Placement& placement,
                                  const MosaicLayout& layout);

// Two frames of the same scene, at the same place: the means of both, and
// the temporal variance, half the variance of their difference with each
// row's mean difference taken out (a backlight's flicker, and the bands a
// dimmed backlight puts across a rolling-shutter frame), with the freedom
// that takes counted. The frames must be of one size.
std::vector<Stats> MeasureSquarePair(const CfaFrame& first, const CfaFrame& second,
                                     const Placement& placement, const MosaicLayout& layout);

// A robust centre and spread of values: a median, and a sigma a normal
// distribution would have.
struct Spread {
    double Centre = 0;
    double Sigma = 0;
    // Far enough off to be a hot, stuck or dead pixel rather than noise.
    bool Outside(double value) const { return std::abs(value - Centre) > 6 * Sigma + 1; }
};
using ChannelSpreads = std::array<Spread, ChannelCount>;

// Each channel's values in a whole frame: their median, and sigma from the
// quartiles.
ChannelSpreads SpreadsOf(const CfaFrame& frame, const ValueCounts& counts);

// A whole frame, and a pair of whole frames, likewise (their difference's
// mean taken out, not each row's), with each frame's spreads.
Stats MeasureFrame(const CfaFrame& frame);
Stats MeasureFrame(const CfaFrame& frame, const ValueCounts& counts, const ChannelSpreads& spreads);
Stats MeasureFramePair(const CfaFrame& first, const ChannelSpreads& firstSpreads,
                       const CfaFrame& second, const ChannelSpreads& secondSpreads);

// No mosaic, and every channel within a few of its own noise sigmas of the
// black level, but for hot pixels: a frame taken with the lens capped.
bool LooksDark(const CfaFrame& frame);
bool LooksDark(const CfaFrame& frame, const ValueCounts& counts);

} // namespace pruvex::measure
