#pragma once

// The figures of the sensor's datasheet beyond photon transfer: the
// non-uniformity of the dark signal and of the response (each split into
// row, column and pixel parts), the linearity, the measured white level,
// the conversion-gain stage and the digital gain of each ISO and channel.

#include <string>
#include <vector>

namespace pruvex::measure {

// A non-uniformity and its three parts (the parts' squares add up to the
// whole's square); Valid when it could be measured.
struct NonUniformity {
    bool Valid = false;
    double Total = 0;
    double Row = 0;
    double Column = 0;
    double Pixel = 0;
};

// One flat pair's point on the linearity line.
struct LinearityPoint {
    double Shutter = 0;  // s
    double Mean = 0;     // DN above black
    double Fitted = 0;   // DN, the line's value at Shutter
    bool InRange = true; // between 5 % and 95 % of saturation: in the fit
};

struct Linearity {
    bool Valid = false;
    double Slope = 0;     // DN per second
    double Intercept = 0; // DN
    double ErrorPct = 0;  // mean absolute deviation from the line, % of the line
    double SaturationDn = 0;
    std::vector<LinearityPoint> Points;
};

// What the datasheet adds to one channel at one ISO.
struct ChannelDatasheet {
    NonUniformity DsnuE;        // electrons
    NonUniformity PrnuPct;      // percent
    Linearity Line;             // on the flat frames' ISO only
    double WhiteDn = 0;         // above black
    bool WhiteMeasured = false; // false: the file's white level
    int GainStage = 0;          // 1 or 2 where a conversion-gain switch was found, else 0
    int DigitalGain = 1;        // N where only every Nth code is used
};

} // namespace pruvex::measure
