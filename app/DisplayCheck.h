#pragma once

// The report of --check: whether the display shows the pixels Pruvex
// paints, one line per check, and the rules that judge what was measured.

#include "pattern/Picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pruvex {

enum class Verdict { Pass, Warn, Fail, Unverified };

struct CheckLine {
    Verdict Result = Verdict::Pass;
    std::string Name;     // "gamma", "visual", ...
    std::string Measured; // what was found
    std::string Advice;   // one sentence on what to do, for anything but a pass
};

// Pixels read back from the display server, each channel scaled to 8 bits.
struct ReadBackImage {
    int ClientWidth = 0; // the window's client area, which sizes the mosaic
    int ClientHeight = 0;
    int Width = 0; // the drawing area read back
    int Height = 0;
    std::vector<Colour> Pixels; // rows top to bottom
};

// The lines, then the verdict line; each line ends with "\n".
std::string ReportText(const std::vector<CheckLine>& lines);
// 0 when nothing failed or stayed unverified (warnings allowed), 1 when
// anything failed, 2 when nothing failed but something could not be verified.
int ReportExitStatus(const std::vector<CheckLine>& lines);
// The report as JSON on one line: {"ok":true,"verdict":"PASS","checks":[...]}.
std::string ReportJson(const std::vector<CheckLine>& lines);

// How far a gamma ramp of n entries (0..65535) lies from identity. Identity:
// every entry v(i) equals i * 65535 / (n - 1) within n - 1, or equals
// i << (16 - log2 n).
struct RampDeviation {
    bool Identity = true;
    int LargestLevels = 0; // the largest deviation, in 8-bit levels
    int FirstLevel = -1;   // the first 8-bit level that changes, -1 for none
};
RampDeviation CompareRampWithIdentity(const std::vector<std::uint16_t>& ramp);

// A channel of `bits` bits scaled to 8 bits, to the nearest level.
std::uint8_t ScaleChannel(unsigned value, int bits);

// "(212,96,145)"
std::string ColourText(Colour colour);

// What a colour becomes on a 5-6-5 visual (depth 16).
Colour ThroughDepth16(Colour colour);

// The first pixel that differs from the picture the engine paints on a
// drawing area of the image's size, as "pixel (x,y) is (r,g,b), painted
// (r,g,b)", or "" when every pixel is exact.
std::string FirstDifference(const ReadBackImage& image, const std::vector<PaintRect>& painted);

} // namespace pruvex
