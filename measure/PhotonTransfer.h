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
    // Squares below clipping over all the ISO's frames; fewer than
    // LeastUsableSquares give no figures, and the exposure time at which about
    // SuggestedSquares would come below clipping is suggested (s).
    int Usable = 0;
    bool TooFew = false;
    double SuggestedShutter = 0;
};

inline constexpr int LeastUsableSquares = 8;
inline constexpr int SuggestedSquares = 20;

// The frames of one ISO taken at one exposure time: every square's
// statistics, from its pairs (or from single frames where the ISO has no
// pair at all).
struct ExposureSet {
    double Shutter = 0; // s
    int Frames = 0;
    int Pairs = 0;
    bool Banded = false;        // bands across the rows found in its pairs and removed
    std::vector<Stats> Squares; // in the layout's order
};

// Everything measured at one ISO.
struct IsoFigures {
    double Iso = 0;
    int Frames = 0;           // mosaic frames in the fit
    int DarkFrames = 0;       // frames with the lens capped
    bool SingleFrame = false; // variance from single frames: fixed pattern included
    bool Monochrome = false;  // one channel, Y
    // The exposure times in the order first given; Squares holds their
    // squares one set after another, as the fits number them.
    std::vector<ExposureSet> Sets;
    std::vector<Stats> Squares;
    // Frames without a partner of their ISO and exposure time where the ISO
    // has pairs: left out of the fit.
    std::vector<std::string> Unpaired;
    std::array<ChannelFigures, ChannelCount> Channels;
    int ChannelsUsed() const { return Monochrome ? 1 : ChannelCount; }
};

// The channel's figures from the squares (those with no clipped pixel) and,
// when dark frames were measured (darkVariance > 0), the read noise from them.
ChannelFigures Figures(const std::vector<Stats>& squares, int channel, double range,
                       double darkVariance);

// The exposure time at which about SuggestedSquares squares of a channel
// would lie below clipping, from the squares measured at the given time:
// the signals of those below clipping, extended to brighter levels by the
// monitor's response, whose signal grows as the level to the power 2.2.
double SuggestShutter(const std::vector<Stats>& squares, const std::vector<int>& levels,
                      int channel, double range, double shutter);
// The longest of the usual exposure times (1/N s, in thirds of a stop) not
// above the given one.
double UsualShutter(double seconds);

} // namespace pruvex::measure
