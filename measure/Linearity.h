#pragma once

// The linearity of a channel's response: the dark-subtracted mean of each
// flat pair against the exposure time.

#include "measure/Datasheet.h"

#include <vector>

namespace pruvex::measure {

// One flat pair of a channel: its exposure time, its mean above the dark
// signal, and the part of its pixels that clip.
struct FlatPoint {
    double Shutter = 0;
    double Mean = 0;
    double ClippedPart = 0;
};

// A channel's saturation: the mean of the last pair (in exposure time) with
// at most 0.2 % of its pixels clipped; 0 where none is.
double Saturation(const std::vector<FlatPoint>& points);

// A straight line fitted by least squares weighted by 1 / mean^2 to the
// pairs between 5 % and 95 % of saturation; the error is the mean absolute
// deviation from it, in percent of the line. Valid with three pairs or more
// in the fit.
Linearity FitLinearity(std::vector<FlatPoint> points);

} // namespace pruvex::measure
