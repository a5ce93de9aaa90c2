// Any small CFA image through the measuring core: finding the mosaic, the
// squares' statistics, a pair of frames, the dark-frame test, the fit and
// the reports. Nothing may crash, hang or trip a sanitizer; every figure
// written is finite.
//
// Input: width (16 + byte % 81), height (16 + byte % 65), the colour
// pattern (four Bayer phases, X-Trans, none) and bit depth, the black level
// (byte x 4, a site pattern of its low bits) and a shift; then one byte per
// pixel, shifted and put on the black level, repeated to fill the frame.

#include "measure/FrameSets.h"
#include "measure/Mosaic.h"
#include "measure/Report.h"
#include "measure/Statistics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void RequireSane(const pruvex::measure::Stats& stats) {
    for (const pruvex::measure::ChannelStats& s : stats) {
        Require(s.Pixels >= 0 && s.Clipped >= 0 && s.Clipped <= 2 * s.Pixels);
        Require(std::isfinite(s.Mean) && std::isfinite(s.Variance) && s.Variance >= 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pruvex::measure;
    if (size < 5) {
        return 0;
    }
    CfaFrame frame;
    frame.Width = 16 + data[0] % 81;
    frame.Height = 16 + data[1] % 65;
    constexpr std::array<std::array<int, 4>, 4> patterns{
        {{0, 1, 1, 2}, {2, 1, 1, 0}, {1, 0, 2, 1}, {1, 2, 0, 1}}};
    constexpr std::array<int, 36> xtrans{1, 1, 0, 1, 1, 2, 1, 1, 2, 1, 1, 0, 2, 0, 1, 0, 2, 1,
                                         1, 1, 2, 1, 1, 0, 1, 1, 0, 1, 1, 2, 0, 2, 1, 2, 0, 1};
    const int kind = data[2] % 6;
    if (kind < 4) {
        std::copy(patterns[static_cast<std::size_t>(kind)].begin(),
                  patterns[static_cast<std::size_t>(kind)].end(), frame.Sites.begin());
    } else if (kind == 4) {
        frame.PatternWidth = 6;
        frame.PatternHeight = 6;
        frame.Sites = xtrans;
    } else {
        frame.PatternWidth = 1;
        frame.PatternHeight = 1;
        frame.Sites = {};
        frame.Monochrome = true;
    }
    frame.White = (data[2] / 6) % 2 == 0 ? 4095 : 16383;
    const double black = data[3] * 4.0;
    for (int site = 0; site < frame.SiteCount(); ++site) {
        frame.Black[static_cast<std::size_t>(site)] = black + (data[3] >> (site % 4)) % 2;
    }
    const int shift = data[4] % 7;
    frame.Iso = 100;
    const std::size_t pixels =
        static_cast<std::size_t>(frame.Width) * static_cast<std::size_t>(frame.Height);
    frame.Values.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned value = size > 5 ? static_cast<unsigned>(data[5 + i % (size - 5)]) : 0U;
        frame.Values[i] = static_cast<std::uint16_t>(std::min(
            black + static_cast<double>(value << static_cast<unsigned>(shift)), frame.White));
    }

    const MosaicLayout& layout = TheMosaic();
    if (const auto placement = FindMosaic(frame, layout)) {
        Require(std::isfinite(placement->Left) && std::isfinite(placement->Top));
        Require(placement->Pitch > 0 && std::abs(placement->Angle) < 0.1);
        for (const Stats& stats : MeasureSquares(frame, *placement, layout)) {
            RequireSane(stats);
        }
        for (const Stats& stats : MeasureSquarePair(frame, frame, *placement, layout)) {
            RequireSane(stats);
            for (const ChannelStats& s : stats) {
                Require(s.Variance == 0); // a frame less itself
            }
        }
    }
    const FrameCheck check = CheckFrame(frame, layout);
    for (int ch = 0; ch < ChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        Require(check.Unclipped[c] <= check.Measured[c] &&
                check.Measured[c] <= static_cast<int>(layout.Squares.size()));
        Require(check.Found || check.Measured[c] == 0);
        Require(ch < frame.Channels() || check.Measured[c] == 0);
    }
    RequireSane(MeasureFrame(frame));
    (void)LooksDark(frame);

    // The frame twice, as a pair, and once more given as dark.
    FrameSets sets(layout);
    sets.Add(frame, false);
    sets.Add(frame, false);
    sets.Add(frame, true);
    const std::vector<IsoFigures> figures = sets.Figures();
    for (const IsoFigures& iso : figures) {
        for (const ChannelFigures& f : iso.Channels) {
            Require(std::isfinite(f.Gain) && f.Gain >= 0 && std::isfinite(f.ReadNoiseDn) &&
                    std::isfinite(f.FullWellE) && std::isfinite(f.DynamicRangeEv));
            Require(f.Squares >= 0 && f.Squares <= static_cast<int>(layout.Squares.size()));
        }
    }
    std::ostringstream out;
    WriteTable(out, figures);
    WriteFiguresCsv(out, figures);
    WriteSquaresCsv(out, figures);
    WritePlot(out, figures);
    Require(out.str().find("nan") == std::string::npos &&
            out.str().find("inf") == std::string::npos);
    return 0;
}
