#include "series/FrameCheck.h"

#include "measure/FrameSets.h"
#include "measure/Mosaic.h"
#include "measure/Statistics.h"

#include <algorithm>

namespace pruvex::series {

using namespace pruvex::measure;

namespace {

// A frame of the mosaic with more of its pixels clipped than this has lost
// the mosaic's brighter half.
constexpr double OverexposedShare = 0.1;

} // namespace

ShotCheck CheckShot(const CfaFrame& frame) {
    ShotCheck check;
    const FrameCheck found = CheckFrame(frame);
    if (!found.Found) {
        check.Overexposed = MeasureFullness(frame).ClippedShare > OverexposedShare;
        return check;
    }
    check.Found = true;
    check.Channels = found.Channels;
    check.Unclipped = found.Unclipped;
    return check;
}

bool IsDark(const CfaFrame& frame) {
    return LooksDark(frame);
}

Fullness MeasureFullness(const CfaFrame& frame) {
    Fullness fullness;
    const Stats stats = MeasureFrame(frame);
    long long pixels = 0;
    long long clipped = 0;
    for (std::size_t ch = 0; ch < stats.size(); ++ch) {
        const double range = frame.White - frame.ChannelBlack(static_cast<int>(ch));
        fullness.Percent[ch] = range > 0 ? 100 * stats[ch].Mean / range : 0;
        pixels += stats[ch].Pixels;
        clipped += stats[ch].Clipped;
    }
    fullness.ClippedShare =
        pixels > 0 ? static_cast<double>(clipped) / static_cast<double>(pixels) : 0;
    return fullness;
}

} // namespace pruvex::series
