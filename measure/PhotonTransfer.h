#pragma once

// The photon transfer method: the temporal noise variance of a pixel grows
// with its signal as variance = read variance + signal / K, K the conversion
// gain in electrons per DN. A straight line through the squares' points
// gives both.

#include "measure/Statistics.h"

#include <array>
#include <string>
#include <vector>

namespace pruvex::measure {

struct TransferPoint {
    double Mean = 0;     // DN above black
    double Variance = 0; // DN^2
    double Pixels = 0;
};

struct TransferFit {
    bool Valid = false;
    double Intercept = 0; // DN^2
    double Slope = 0;     // 1 / K
    int Used = 0;         // points kept
    std::vector<bool> Kept;
};

// Weighted least squares (each point weighted by the precision of a
// variance from its pixels), started from the median of the pairwise slopes
// and refitted without points more than four of their own standard errors
// off the line, until the set of points settles.
TransferFit FitTransfer(const std::vector<TransferPoint>& points);

// The figures of one channel at one ISO.
struct ChannelFigures {
    int Squares = 0;           // squares in the fit
    double Gain = 0;           // e-/DN, 0 when unknown
    double ReadNoiseDn = 0;    // 0 when unknown
    double ReadNoiseE = 0;     // e-
    double FullWellE = 0;      // e-
    double DynamicRangeEv = 0; // EV
    bool ReadNoiseFromDark = false;
    double Range = 0; // white - black, DN
    TransferFit Fit;
};

// Everything measured at one ISO.
struct IsoFigures {
    double Iso = 0;
    int Frames = 0;           // mosaic frames
    int DarkFrames = 0;       // frames with the lens capped
    bool SingleFrame = false; // variance from single frames: fixed pattern included
    std::vector<Stats> Squares;
    std::array<ChannelFigures, ChannelCount> Channels;
};

// The channel's figures from the squares (those with no clipped pixel) and,
// when dark frames were measured (darkVariance > 0), the read noise from them.
ChannelFigures Figures(const std::vector<Stats>& squares, int channel, double range,
                       double darkVariance);

} // namespace pruvex::measure
