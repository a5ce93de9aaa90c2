#include "measure/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace pruvex::measure {

namespace {

// Sums about a shift, so that the variance keeps its precision.
struct Sums {
    double Shift = 0;
    bool Started = false;
    double Sum = 0;
    double SumSquares = 0;
    double MeanSum = 0; // the signal, when the sums are of differences
    long long Count = 0;
    long long Clipped = 0;

    void Add(double value) {
        if (!Started) {
            Shift = value;
            Started = true;
        }
        const double d = value - Shift;
        Sum += d;
        SumSquares += d * d;
        ++Count;
    }
    double Mean() const { return Count > 0 ? Shift + Sum / static_cast<double>(Count) : 0.0; }
    double Variance() const {
        if (Count < 2) {
            return 0;
        }
        const auto n = static_cast<double>(Count);
        return std::max(0.0, (SumSquares - Sum * Sum / n) / (n - 1));
    }
};

using ChannelSums = std::array<Sums, ChannelCount>;

// Calls visit(x, y) for every pixel of the square's measured part in the
// frame, after checking that enough of the part lies in the frame.
template <typename Visit>
void ForEachPixel(int width, int height, const Placement& placement, int column, int row,
                  Visit visit) {
    const Point centre = SquareCentre(placement, column, row);
    const double h = MeasuredFraction * placement.Pitch / 2;
    const double c = std::cos(placement.Angle);
    const double s = std::sin(placement.Angle);
    if (!(h > 0.5) || !std::isfinite(centre.X) || !std::isfinite(centre.Y) || !(c > 0.5)) {
        return;
    }
    const double reach = h * (c + std::abs(s));
    const double top = std::floor(centre.Y - reach);
    const double bottom = std::ceil(centre.Y + reach);
    if (bottom < 0 || top > height || centre.X + reach < 0 || centre.X - reach > width) {
        return;
    }
    // The pixels whose centres lie in the part, row by row: [first, last] in x.
    const auto span = [&](double y, double& first, double& last) {
        const double dy = y + 0.5 - centre.Y;
        double lo = (-h - dy * s) / c;
        double hi = (h - dy * s) / c;
        if (s > 0) {
            lo = std::max(lo, (dy * c - h) / s);
            hi = std::min(hi, (dy * c + h) / s);
        } else if (s < 0) {
            lo = std::max(lo, (dy * c + h) / s);
            hi = std::min(hi, (dy * c - h) / s);
        } else if (std::abs(dy) > h) {
            hi = lo - 1;
        }
        first = std::ceil(centre.X + lo - 0.5);
        last = std::floor(centre.X + hi - 0.5);
    };
    double whole = 0;
    double inFrame = 0;
    for (double y = top; y <= bottom; ++y) {
        double first = 0;
        double last = 0;
        span(y, first, last);
        if (last < first) {
            continue;
        }
        whole += last - first + 1;
        if (y >= 0 && y < height) {
            const double a = std::max(first, 0.0);
            const double b = std::min(last, width - 1.0);
            inFrame += std::max(0.0, b - a + 1);
        }
    }
    if (whole <= 0 || inFrame < LeastRemaining * whole) {
        return;
    }
    for (double y = std::max(top, 0.0); y <= std::min(bottom, height - 1.0); ++y) {
        double first = 0;
        double last = 0;
        span(y, first, last);
        first = std::max(first, 0.0);
        last = std::min(last, width - 1.0);
        for (double x = first; x <= last; ++x) {
            visit(static_cast<int>(x), static_cast<int>(y));
        }
    }
}

Stats Finish(const ChannelSums& sums, double varianceScale) {
    Stats stats;
    for (std::size_t ch = 0; ch < sums.size(); ++ch) {
        const Sums& s = sums[ch];
        stats[ch].Pixels = s.Count;
        stats[ch].Clipped = s.Clipped;
        stats[ch].Variance = s.Variance() * varianceScale;
        stats[ch].Mean = s.Count > 0 ? s.MeanSum / static_cast<double>(s.Count) : 0.0;
    }
    return stats;
}

std::size_t ChannelOf(const CfaFrame& frame, int x, int y) {
    return static_cast<std::size_t>(frame.Sites[static_cast<std::size_t>(CfaFrame::SiteOf(x, y))]);
}

// One pixel of a frame: its signal above the black level of its site.
void AddPixel(ChannelSums& sums, const CfaFrame& frame, int x, int y, double clip) {
    const std::size_t ch = ChannelOf(frame, x, y);
    const double raw = frame.At(x, y);
    const double value = raw - frame.Black[static_cast<std::size_t>(CfaFrame::SiteOf(x, y))];
    sums[ch].Add(value);
    sums[ch].MeanSum += value;
    sums[ch].Clipped += raw >= clip ? 1 : 0;
}

// One pixel of a pair: the difference for the noise, the mean signal of both.
void AddPairPixel(ChannelSums& sums, const CfaFrame& first, const CfaFrame& second, int x, int y,
                  double clipFirst, double clipSecond) {
    const std::size_t ch = ChannelOf(first, x, y);
    const auto site = static_cast<std::size_t>(CfaFrame::SiteOf(x, y));
    const double a = first.At(x, y);
    const double b = second.At(x, y);
    sums[ch].Add(a - b);
    sums[ch].MeanSum += 0.5 * ((a - first.Black[site]) + (b - second.Black[site]));
    sums[ch].Clipped += (a >= clipFirst ? 1 : 0) + (b >= clipSecond ? 1 : 0);
}

bool SitesValid(const CfaFrame& frame) {
    return std::all_of(frame.Sites.begin(), frame.Sites.end(),
                       [](int ch) { return ch >= 0 && ch < ChannelCount; }) &&
           frame.Width > 0 && frame.Height > 0 &&
           frame.Values.size() ==
               static_cast<std::size_t>(frame.Width) * static_cast<std::size_t>(frame.Height);
}

} // namespace

double ClipLevel(const CfaFrame& frame) {
    double black = 0;
    for (const double b : frame.Black) {
        black = std::max(black, b);
    }
    return frame.White - std::max(1.0, 0.005 * (frame.White - black));
}

std::vector<Stats> MeasureSquares(const CfaFrame& frame, const Placement& placement,
                                  const MosaicLayout& layout) {
    std::vector<Stats> result(layout.Squares.size());
    if (!SitesValid(frame)) {
        return result;
    }
    const double clip = ClipLevel(frame);
    for (std::size_t k = 0; k < layout.Squares.size(); ++k) {
        ChannelSums sums;
        ForEachPixel(frame.Width, frame.Height, placement, layout.Squares[k].Column,
                     layout.Squares[k].Row,
                     [&](int x, int y) { AddPixel(sums, frame, x, y, clip); });
        result[k] = Finish(sums, 1.0);
    }
    return result;
}

std::vector<Stats> MeasureSquarePair(const CfaFrame& first, const CfaFrame& second,
                                     const Placement& placement, const MosaicLayout& layout) {
    std::vector<Stats> result(layout.Squares.size());
    if (!SitesValid(first) || !SitesValid(second) || first.Width != second.Width ||
        first.Height != second.Height) {
        return result;
    }
    const double clipFirst = ClipLevel(first);
    const double clipSecond = ClipLevel(second);
    for (std::size_t k = 0; k < layout.Squares.size(); ++k) {
        ChannelSums sums;
        ForEachPixel(
            first.Width, first.Height, placement, layout.Squares[k].Column, layout.Squares[k].Row,
            [&](int x, int y) { AddPairPixel(sums, first, second, x, y, clipFirst, clipSecond); });
        result[k] = Finish(sums, 0.5);
    }
    return result;
}

Stats MeasureFrame(const CfaFrame& frame) {
    ChannelSums sums;
    if (!SitesValid(frame)) {
        return Finish(sums, 1.0);
    }
    const double clip = ClipLevel(frame);
    for (int y = 0; y < frame.Height; ++y) {
        for (int x = 0; x < frame.Width; ++x) {
            AddPixel(sums, frame, x, y, clip);
        }
    }
    return Finish(sums, 1.0);
}

Stats MeasureFramePair(const CfaFrame& first, const CfaFrame& second) {
    ChannelSums sums;
    if (!SitesValid(first) || !SitesValid(second) || first.Width != second.Width ||
        first.Height != second.Height) {
        return Finish(sums, 0.5);
    }
    // The whole frames' clipped pixels are not counted.
    constexpr double Unclipped = std::numeric_limits<double>::infinity();
    for (int y = 0; y < first.Height; ++y) {
        for (int x = 0; x < first.Width; ++x) {
            AddPairPixel(sums, first, second, x, y, Unclipped, Unclipped);
        }
    }
    return Finish(sums, 0.5);
}

bool LooksDark(const CfaFrame& frame) {
    if (!SitesValid(frame)) {
        return false;
    }
    const Stats stats = MeasureFrame(frame);
    double black = 0;
    for (const double b : frame.Black) {
        black = std::max(black, b);
    }
    const double range = frame.White - black;
    std::array<double, ChannelCount> sigma{};
    for (std::size_t ch = 0; ch < stats.size(); ++ch) {
        if (stats[ch].Pixels == 0) {
            continue;
        }
        sigma[ch] = std::sqrt(stats[ch].Variance);
        if (std::abs(stats[ch].Mean) > 2 * sigma[ch] + 0.5 || sigma[ch] > 0.05 * range) {
            return false;
        }
    }
    // The whole frame within six sigmas of black, but for one pixel in a
    // thousand (hot pixels).
    long long outside = 0;
    for (int y = 0; y < frame.Height; ++y) {
        for (int x = 0; x < frame.Width; ++x) {
            const std::size_t ch = ChannelOf(frame, x, y);
            const double value =
                frame.At(x, y) - frame.Black[static_cast<std::size_t>(CfaFrame::SiteOf(x, y))];
            outside += std::abs(value) > 6 * sigma[ch] + 1 ? 1 : 0;
        }
    }
    return outside * 1000 <= static_cast<long long>(frame.Values.size());
}

} // namespace pruvex::measure
