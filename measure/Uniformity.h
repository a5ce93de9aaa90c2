#pragma once

// The non-uniformity of a sensor's dark signal and response, split into
// row, column and pixel parts, from pairs of frames: each site of the
// colour pattern as an image of its own, high-pass filtered (a 7 x 7 box,
// then an 11 x 11 box, then a 3 x 3 binomial, subtracted from the image)
// so that the lens's vignetting and the light's own slow unevenness drop
// out; the temporal noise, from the pair's difference, taken off.

#include "measure/CfaFrame.h"

#include <array>

namespace pruvex::measure {

// The variances of one plane: of all its values, of its rows' means and of
// its columns' means, over Rows x Columns values.
struct PlaneVariances {
    double All = 0;
    double RowMeans = 0;
    double ColumnMeans = 0;
    double Rows = 0;
    double Columns = 0;
};

// Of every site of a frame's pattern (the frame's, or a pair's difference).
struct SiteVariances {
    int Sites = 0; // 0: the frame is too small to tell
    std::array<PlaneVariances, LargestSites> Site{};
};

// The three parts of a spatial variance (DN^2).
struct VarianceParts {
    double Row = 0;
    double Column = 0;
    double Pixel = 0;
    double Total() const { return Row + Column + Pixel; }
};
using ChannelParts = std::array<VarianceParts, ChannelCount>;

// A pair of frames of one size: its mean image's sites high-pass
// filtered, and its difference's (first - second) unfiltered over the same
// region.
struct PairVariances {
    SiteVariances Mean;
    SiteVariances Difference;
};

// One frame's sites, high-pass filtered; a pair's, in one pass.
SiteVariances HighPassVariances(const CfaFrame& frame);
PairVariances PairVariancesOf(const CfaFrame& first, const CfaFrame& second);
// The spatial non-uniformity of a pair's mean image, the temporal noise
// (from the difference's) taken off, per channel: its sites' parts
// averaged. False when a part is missing.
bool PairParts(const CfaFrame& frame, const PairVariances& pair, ChannelParts& parts);

} // namespace pruvex::measure
