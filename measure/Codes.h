#pragma once

// What a frame's raw codes tell beyond their levels: where the values pile
// up at the level the sensor really clips at, and whether only every Nth
// code is used (a gain applied to the numbers after the converter).

#include "measure/CfaFrame.h"
#include "measure/ValueCounts.h"

#include <array>

namespace pruvex::measure {

struct FrameCodes {
    double PileUp = 0; // raw value at which the values pile up, 0 for none
    // Per channel: N where only every Nth code is used, 1 where all are,
    // 0 where the frame cannot tell (too few codes in use).
    std::array<int, ChannelCount> DigitalGain{};
};

FrameCodes ReadCodes(const CfaFrame& frame);
FrameCodes ReadCodes(const CfaFrame& frame, const ValueCounts& counts);

// A pile-up more than half a percent of the range below the file's white
// level becomes the frame's white level (the file's kept in FileWhite).
void UseMeasuredWhite(CfaFrame& frame, double pileUp);

// Where the measured white level decides: more than half a percent of the
// range below the file's.
bool WhiteBelowFile(double measured, double file, double black);

} // namespace pruvex::measure
