#include "measure/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace pruvex::measure {

namespace {

// A pixel of a square as the frames give it: its value in the first frame
// and the second (of a pair), and its site in the pattern.
struct Sample {
    std::uint16_t First = 0;
    std::uint16_t Second = 0;
    std::uint8_t Site = 0;
};

// One channel's pixels of a square, row by row: where each row's pixels end.
struct ChannelSamples {
    std::vector<Sample> Pixels;
    std::vector<std::size_t> RowEnds;
    void Clear() {
        Pixels.clear();
        RowEnds.clear();
    }
};
using Samples = std::array<ChannelSamples, ChannelCount>;

// What turns a sample into signal above black, and tells clipping: the
// frames' black levels and clip levels.
struct Levels {
    const std::array<double, LargestSites>* FirstBlack = nullptr;
    const std::array<double, LargestSites>* SecondBlack = nullptr;
    double FirstClip = 0;
    double SecondClip = 0;
    double First(const Sample& s) const { return s.First - (*FirstBlack)[s.Site]; }
    double Second(const Sample& s) const { return s.Second - (*SecondBlack)[s.Site]; }
    std::uint8_t Clipped(const Sample& s, bool pair) const {
        const int one = s.First >= FirstClip ? 1 : 0;
        const int two = pair && s.Second >= SecondClip ? 1 : 0;
        return static_cast<std::uint8_t>(one + two);
    }
};

template <typename Value>
Spread SpreadOf(const std::vector<Sample>& samples, Value value, std::vector<double>& scratch) {
    // A few thousand samples, evenly spread, tell the median and the
    // spread well enough to know a hot pixel.
    constexpr std::size_t Enough = 1024;
    const std::size_t stride = std::max<std::size_t>(1, samples.size() / Enough);
    scratch.clear();
    for (std::size_t i = 0; i < samples.size(); i += stride) {
        scratch.push_back(value(samples[i]));
    }
    const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(scratch.size() / 2);
    std::nth_element(scratch.begin(), middle, scratch.end());
    const double centre = *middle;
    for (double& v : scratch) {
        v = std::abs(v - centre);
    }
    std::nth_element(scratch.begin(), middle, scratch.end());
    return {centre, 1.4826 * *middle};
}

// Sums about the centres, so that the variance keeps its precision; for a
// pair, within each row as well.
struct SquareSums {
    double Signal = 0;
    double Sum = 0;
    double Squares = 0;
    double WithinRows = 0;
    double BetweenRows = 0; // sum over rows of (row sum)^2 / row pixels
    long long Rows = 0;
    double RowSum = 0;
    double RowSquares = 0;
    long long RowCount = 0;
    void Add(double value, double signal) {
        Signal += signal;
        Sum += value;
        Squares += value * value;
        RowSum += value;
        RowSquares += value * value;
        ++RowCount;
    }
    void CloseRow() {
        if (RowCount > 0) {
            WithinRows += RowSquares - RowSum * RowSum / static_cast<double>(RowCount);
            BetweenRows += RowSum * RowSum / static_cast<double>(RowCount);
            ++Rows;
        }
        RowSum = 0;
        RowSquares = 0;
        RowCount = 0;
    }
};

// The mean and variances from a channel's sums.
void Finish(const SquareSums& sums, bool pair, ChannelStats& out) {
    const auto n = static_cast<double>(out.Pixels);
    out.Mean = sums.Signal / n;
    if (!pair) {
        out.Variance = out.Pixels > 1
                           ? std::max(0.0, (sums.Squares - sums.Sum * sums.Sum / n) / (n - 1))
                           : 0.0;
        return;
    }
    // Half the variance of the difference: within rows, each row's mean
    // taken out at the cost of one degree of freedom a row.
    const long long rows = sums.Rows;
    out.Rows = rows;
    out.Variance = out.Pixels > rows
                       ? std::max(0.0, 0.5 * sums.WithinRows / (n - static_cast<double>(rows)))
                       : 0.0;
    out.RowsVariance = rows > 1 ? std::max(0.0, 0.5 * (sums.BetweenRows - sums.Sum * sums.Sum / n) /
                                                    static_cast<double>(rows - 1))
                                : 0.0;
}

// The statistics of one channel's samples in a square, single or as a pair.
template <bool Pair>
ChannelStats Summarise(const ChannelSamples& channel, const Levels& levels,
                       std::vector<double>& scratch) {
    ChannelStats out;
    const std::vector<Sample>& samples = channel.Pixels;
    if (samples.empty()) {
        return out;
    }
    const auto firstOf = [&](const Sample& s) { return levels.First(s); };
    const auto secondOf = [&](const Sample& s) { return levels.Second(s); };
    const Spread first = SpreadOf(samples, firstOf, scratch);
    Spread second;
    Spread difference;
    if constexpr (Pair) {
        second = SpreadOf(samples, secondOf, scratch);
        difference = SpreadOf(
            samples, [&](const Sample& s) { return firstOf(s) - secondOf(s); }, scratch);
    }
    SquareSums sums;
    std::size_t i = 0;
    for (const std::size_t end : channel.RowEnds) {
        for (; i < end; ++i) {
            const Sample& s = samples[i];
            const double one = firstOf(s);
            if constexpr (Pair) {
                const double two = secondOf(s);
                if (first.Outside(one) || second.Outside(two) || difference.Outside(one - two)) {
                    ++out.Rejected;
                    continue;
                }
                sums.Add(one - two - difference.Centre, 0.5 * (one + two));
            } else {
                if (first.Outside(one)) {
                    ++out.Rejected;
                    continue;
                }
                // A single frame's variance needs no sums by rows.
                const double value = one - first.Centre;
                sums.Signal += one;
                sums.Sum += value;
                sums.Squares += value * value;
            }
            ++out.Pixels;
            out.Clipped += levels.Clipped(s, Pair);
        }
        if constexpr (Pair) {
            sums.CloseRow();
        }
    }
    if (out.Pixels > 0) {
        Finish(sums, Pair, out);
    }
    return out;
}

// Calls visit(y, first, last) for every row of the square's measured part
// in the frame, with its pixels from first to last, after checking that
// enough of the part lies in the frame.
template <typename Visit>
void ForEachRow(int width, int height, const Placement& placement, int column, int row,
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
        if (first <= last) {
            visit(static_cast<int>(y), static_cast<int>(first), static_cast<int>(last));
        }
    }
}

// One row's pixels of a square, from firstX to lastX, to their channels'
// samples, x rising within each channel.
void GatherRow(const CfaFrame& frame, const std::uint16_t* one, const std::uint16_t* two, int y,
               int firstX, int lastX, Samples& samples) {
    const int width = frame.PatternWidth;
    const int siteRow = (y % frame.PatternHeight) * width;
    const auto channelAt = [&](int site) {
        return static_cast<std::size_t>(frame.Sites[static_cast<std::size_t>(site)]);
    };
    // Where each channel has at most one place in the pattern's row (Bayer,
    // no colour filter), a place at a time.
    bool distinct = true;
    for (int p = 0; p < width; ++p) {
        for (int q = 0; q < p; ++q) {
            distinct = distinct && channelAt(siteRow + p) != channelAt(siteRow + q);
        }
    }
    if (distinct) {
        for (int p = 0; p < width; ++p) {
            const int site = siteRow + p;
            std::vector<Sample>& pixels = samples[channelAt(site)].Pixels;
            const auto mark = static_cast<std::uint8_t>(site);
            for (int x = firstX + (p - firstX % width + width) % width; x <= lastX; x += width) {
                pixels.push_back(Sample{one[x], two[x], mark});
            }
        }
        return;
    }
    int column = firstX % width;
    for (int x = firstX; x <= lastX; ++x) {
        const int site = siteRow + column;
        column = column + 1 == width ? 0 : column + 1;
        samples[channelAt(site)].Pixels.push_back(
            Sample{one[x], two[x], static_cast<std::uint8_t>(site)});
    }
}

// Every channel's samples of one square, single or as a pair.
Stats MeasureSquare(const CfaFrame& first, const CfaFrame* second, const Placement& placement,
                    const MosaicSquare& square, Samples& samples, std::vector<double>& scratch) {
    for (ChannelSamples& channel : samples) {
        channel.Clear();
    }
    const bool pair = second != nullptr;
    ForEachRow(first.Width, first.Height, placement, square.Column, square.Row,
               [&](int y, int firstX, int lastX) {
                   const std::size_t start =
                       static_cast<std::size_t>(y) * static_cast<std::size_t>(first.Width);
                   const std::uint16_t* one = first.Values.data() + start;
                   const std::uint16_t* two = pair ? second->Values.data() + start : one;
                   GatherRow(first, one, two, y, firstX, lastX, samples);
                   for (ChannelSamples& channel : samples) {
                       if (channel.RowEnds.empty() ||
                           channel.RowEnds.back() != channel.Pixels.size()) {
                           channel.RowEnds.push_back(channel.Pixels.size());
                       }
                   }
               });
    const Levels levels{&first.Black, pair ? &second->Black : &first.Black, ClipLevel(first),
                        pair ? ClipLevel(*second) : 0};
    Stats stats;
    for (std::size_t ch = 0; ch < stats.size(); ++ch) {
        stats[ch] = pair ? Summarise<true>(samples[ch], levels, scratch)
                         : Summarise<false>(samples[ch], levels, scratch);
    }
    return stats;
}

bool SameSensor(const CfaFrame& first, const CfaFrame& second) {
    return first.Valid() && second.Valid() && first.Width == second.Width &&
           first.Height == second.Height && first.PatternWidth == second.PatternWidth &&
           first.PatternHeight == second.PatternHeight && first.Sites == second.Sites;
}

// Whole frames: a histogram per channel of a value from -65535 to 65535
// gives the robust limits, then the sums.
struct Histogram {
    static constexpr int Offset = 65536;
    std::vector<std::uint32_t> Counts = std::vector<std::uint32_t>(std::size_t{2} * Offset, 0);
    long long Total = 0;
    void Add(int value) {
        const int index = value + Offset;
        ++Counts[static_cast<std::size_t>(index)];
    }
    // The value below which a share of the counts lies.
    double Quantile(double share) const {
        const auto target = static_cast<long long>(share * static_cast<double>(Total));
        long long seen = 0;
        for (std::size_t i = 0; i < Counts.size(); ++i) {
            seen += Counts[i];
            if (seen > target) {
                return static_cast<double>(i) - Offset;
            }
        }
        return 0;
    }
    Spread SpreadOf() {
        Total = 0;
        for (const std::uint32_t n : Counts) {
            Total += n;
        }
        if (Total == 0) {
            return {};
        }
        // The median and, from the quartiles, sigma.
        return {Quantile(0.5), (Quantile(0.75) - Quantile(0.25)) / 1.349};
    }
};

// Plain sums about a shift.
struct Sums {
    double Shift = 0;
    double Signal = 0;
    double Sum = 0;
    double SumSquares = 0;
    long long Count = 0;
    long long Rejected = 0;
    void Add(double value, double signal, std::uint32_t times = 1) {
        const double d = value - Shift;
        const auto n = static_cast<double>(times);
        Sum += n * d;
        SumSquares += n * d * d;
        Signal += n * signal;
        Count += times;
    }
    ChannelStats Finish(double scale) const {
        ChannelStats s;
        s.Pixels = Count;
        s.Rejected = Rejected;
        if (Count > 0) {
            const auto n = static_cast<double>(Count);
            s.Mean = Signal / n;
            s.Variance =
                Count > 1 ? scale * std::max(0.0, (SumSquares - Sum * Sum / n) / (n - 1)) : 0.0;
        }
        return s;
    }
};

// Whole values a spread holds: |v - centre| <= 6 sigma + 1, as Outside
// tells it, for a spread of whole values (a histogram's).
struct WholeRange {
    int Low = 0;
    unsigned Width = 0;
    explicit WholeRange(const Spread& spread) {
        const auto reach = static_cast<int>(std::floor(6 * spread.Sigma + 1));
        Low = static_cast<int>(std::lround(spread.Centre)) - reach;
        Width = 2 * static_cast<unsigned>(reach);
    }
    bool Holds(int value) const { return static_cast<unsigned>(value - Low) <= Width; }
};

// The spreads a pair's pixels must lie within, per channel: their
// difference's and each frame's.
struct PairSpreads {
    const ChannelSpreads& Difference;
    const ChannelSpreads& First;
    const ChannelSpreads& Second;
};

// One site's sums over a pair, in whole numbers, exact in any order: the
// difference less its median, its square, and the two values.
struct PairSiteSums {
    std::int64_t Difference = 0;
    std::int64_t Squares = 0;
    std::int64_t Both = 0;
    std::int64_t Count = 0;
    std::int64_t Rejected = 0;
};

// Calls visit(site, a, b, column) for each site's part of every row of two
// frames of one size: the site's values of the row are a[x] and b[x] for x
// from column, a pattern's width apart.
template <typename Visit>
void ForEachSiteRow(const CfaFrame& first, const CfaFrame& second, Visit visit) {
    const auto width = static_cast<std::size_t>(first.Width);
    const auto step = static_cast<std::size_t>(first.PatternWidth);
    for (int y = 0; y < first.Height; ++y) {
        const std::uint16_t* a = first.Values.data() + static_cast<std::size_t>(y) * width;
        const std::uint16_t* b = second.Values.data() + static_cast<std::size_t>(y) * width;
        for (std::size_t column = 0; column < step; ++column) {
            visit(static_cast<std::size_t>(first.SiteOf(static_cast<int>(column), y)), a, b,
                  column);
        }
    }
}

// The spread of each channel's differences between two frames of a size.
ChannelSpreads DifferenceSpreads(const CfaFrame& first, const CfaFrame& second) {
    std::array<Histogram, ChannelCount> histograms;
    const auto width = static_cast<std::size_t>(first.Width);
    const auto step = static_cast<std::size_t>(first.PatternWidth);
    ForEachSiteRow(
        first, second,
        [&](std::size_t site, const std::uint16_t* a, const std::uint16_t* b, std::size_t column) {
            std::uint32_t* counts =
                histograms[static_cast<std::size_t>(first.Sites[site])].Counts.data() +
                Histogram::Offset;
            for (std::size_t x = column; x < width; x += step) {
                ++counts[static_cast<int>(a[x]) - static_cast<int>(b[x])];
            }
        });
    ChannelSpreads spreads;
    for (std::size_t ch = 0; ch < ChannelCount; ++ch) {
        spreads[ch] = histograms[ch].SpreadOf();
    }
    return spreads;
}

// Each site's sums over the pixels of a pair that lie within the spreads;
// the others counted as rejected.
std::array<PairSiteSums, LargestSites> SumPairSites(const CfaFrame& first, const CfaFrame& second,
                                                    const PairSpreads& spreads) {
    std::array<PairSiteSums, LargestSites> sums{};
    const auto width = static_cast<std::size_t>(first.Width);
    const auto step = static_cast<std::size_t>(first.PatternWidth);
    ForEachSiteRow(
        first, second,
        [&](std::size_t site, const std::uint16_t* a, const std::uint16_t* b, std::size_t column) {
            const auto ch = static_cast<std::size_t>(first.Sites[site]);
            const WholeRange difference(spreads.Difference[ch]);
            const WholeRange one(spreads.First[ch]);
            const WholeRange two(spreads.Second[ch]);
            const auto shift =
                static_cast<std::int64_t>(std::lround(spreads.Difference[ch].Centre));
            PairSiteSums s = sums[site];
            for (std::size_t x = column; x < width; x += step) {
                const int va = a[x];
                const int vb = b[x];
                const int d = va - vb;
                if (difference.Holds(d) && one.Holds(va) && two.Holds(vb)) {
                    const std::int64_t v = d - shift;
                    s.Difference += v;
                    s.Squares += v * v;
                    s.Both += va + vb;
                    ++s.Count;
                } else {
                    ++s.Rejected;
                }
            }
            sums[site] = s;
        });
    return sums;
}

} // namespace

double ClipLevel(const CfaFrame& frame) {
    return frame.White - std::max(1.0, 0.005 * (frame.White - frame.HighestBlack()));
}

std::vector<Stats> MeasureSquares(const CfaFrame& frame, const Placement& placement,
                                  const MosaicLayout& layout) {
    std::vector<Stats> result(layout.Squares.size());
    if (!frame.Valid()) {
        return result;
    }
    Samples samples;
    std::vector<double> scratch;
    for (std::size_t k = 0; k < layout.Squares.size(); ++k) {
        result[k] = MeasureSquare(frame, nullptr, placement, layout.Squares[k], samples, scratch);
    }
    return result;
}

std::vector<Stats> MeasureSquarePair(const CfaFrame& first, const CfaFrame& second,
                                     const Placement& placement, const MosaicLayout& layout) {
    std::vector<Stats> result(layout.Squares.size());
    if (!SameSensor(first, second)) {
        return result;
    }
    Samples samples;
    std::vector<double> scratch;
    for (std::size_t k = 0; k < layout.Squares.size(); ++k) {
        result[k] = MeasureSquare(first, &second, placement, layout.Squares[k], samples, scratch);
    }
    return result;
}

Stats MeasureFrame(const CfaFrame& frame) {
    const ValueCounts counts = CountValues(frame);
    return MeasureFrame(frame, counts, SpreadsOf(frame, counts));
}

ChannelSpreads SpreadsOf(const CfaFrame& frame, const ValueCounts& counts) {
    ChannelSpreads spreads;
    if (!frame.Valid() || counts.Sites != frame.SiteCount()) {
        return spreads;
    }
    for (int ch = 0; ch < frame.Channels(); ++ch) {
        Histogram h;
        const std::vector<std::uint32_t> channel = counts.Channel(frame, ch);
        std::copy(channel.begin(), channel.end(), h.Counts.begin() + Histogram::Offset);
        spreads[static_cast<std::size_t>(ch)] = h.SpreadOf();
    }
    return spreads;
}

Stats MeasureFrame(const CfaFrame& frame, const ValueCounts& counts,
                   const ChannelSpreads& spreads) {
    Stats stats;
    if (!frame.Valid() || counts.Sites != frame.SiteCount()) {
        return stats;
    }
    std::array<Sums, ChannelCount> sums;
    for (std::size_t ch = 0; ch < sums.size(); ++ch) {
        sums[ch].Shift = spreads[ch].Centre;
    }
    const double clip = ClipLevel(frame);
    std::array<long long, ChannelCount> clipped{};
    for (int site = 0; site < counts.Sites; ++site) {
        const auto ch = static_cast<std::size_t>(frame.Sites[static_cast<std::size_t>(site)]);
        const double black = frame.Black[static_cast<std::size_t>(site)];
        const std::uint32_t* n = counts.Site(site);
        for (std::size_t v = 0; v < ValueCounts::Values; ++v) {
            if (n[v] == 0) {
                continue;
            }
            const auto raw = static_cast<double>(v);
            if (spreads[ch].Outside(raw)) {
                sums[ch].Rejected += n[v];
                continue;
            }
            sums[ch].Add(raw, raw - black, n[v]);
            clipped[ch] += raw >= clip ? n[v] : 0;
        }
    }
    for (std::size_t ch = 0; ch < stats.size(); ++ch) {
        stats[ch] = sums[ch].Finish(1.0);
        stats[ch].Clipped = clipped[ch];
    }
    return stats;
}

Stats MeasureFramePair(const CfaFrame& first, const ChannelSpreads& singles, const CfaFrame& second,
                       const ChannelSpreads& seconds) {
    Stats stats;
    if (!SameSensor(first, second)) {
        return stats;
    }
    const ChannelSpreads spreads = DifferenceSpreads(first, second);
    const std::array<PairSiteSums, LargestSites> sites =
        SumPairSites(first, second, {spreads, singles, seconds});
    std::array<Sums, ChannelCount> sums;
    for (std::size_t ch = 0; ch < sums.size(); ++ch) {
        sums[ch].Shift = spreads[ch].Centre;
    }
    std::array<std::int64_t, ChannelCount> difference{};
    std::array<std::int64_t, ChannelCount> squares{};
    for (std::size_t site = 0; site < static_cast<std::size_t>(first.SiteCount()); ++site) {
        const auto ch = static_cast<std::size_t>(first.Sites[site]);
        const PairSiteSums& s = sites[site];
        difference[ch] += s.Difference;
        squares[ch] += s.Squares;
        sums[ch].Signal +=
            0.5 * (static_cast<double>(s.Both) -
                   static_cast<double>(s.Count) * (first.Black[site] + second.Black[site]));
        sums[ch].Count += s.Count;
        sums[ch].Rejected += s.Rejected;
    }
    for (std::size_t ch = 0; ch < stats.size(); ++ch) {
        sums[ch].Sum = static_cast<double>(difference[ch]);
        sums[ch].SumSquares = static_cast<double>(squares[ch]);
        stats[ch] = sums[ch].Finish(0.5);
    }
    return stats;
}

bool LooksDark(const CfaFrame& frame) {
    return LooksDark(frame, CountValues(frame));
}

bool LooksDark(const CfaFrame& frame, const ValueCounts& counts) {
    if (!frame.Valid()) {
        return false;
    }
    const Stats stats = MeasureFrame(frame, counts, SpreadsOf(frame, counts));
    const double range = frame.White - frame.HighestBlack();
    for (int ch = 0; ch < frame.Channels(); ++ch) {
        const ChannelStats& s = stats[static_cast<std::size_t>(ch)];
        const double sigma = std::sqrt(s.Variance);
        if (s.Pixels == 0 || std::abs(s.Mean) > 2 * sigma + 0.5 || sigma > 0.05 * range) {
            return false;
        }
    }
    // The whole frame within six sigmas of black, but for one pixel in a
    // hundred (hot, stuck and dead pixels).
    long long outside = 0;
    for (const ChannelStats& s : stats) {
        outside += s.Rejected;
    }
    return outside * 100 <= static_cast<long long>(frame.Values.size());
}

} // namespace pruvex::measure
