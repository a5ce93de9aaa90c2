#include "measure/Uniformity.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pruvex::measure {

namespace {

// The filter's reach each way, and its sums' scale each way (7 x 11 x 4).
constexpr int Margin = 9;
constexpr double Scale = 308.0 * 308.0;

// What the filter leaves of white noise: along one direction (rows' or
// columns' structure) and over both (each pixel's own).
struct FilterFactors {
    double One = 1;
    double Both = 1;
};

const FilterFactors& Factors() {
    static const FilterFactors factors = [] {
        // The filter's kernel along one direction: the three stages convolved.
        std::vector<double> kernel{1};
        const auto convolve = [&kernel](const std::vector<double>& stage) {
            std::vector<double> out(kernel.size() + stage.size() - 1, 0.0);
            for (std::size_t i = 0; i < kernel.size(); ++i) {
                for (std::size_t j = 0; j < stage.size(); ++j) {
                    out[i + j] += kernel[i] * stage[j];
                }
            }
            kernel = out;
        };
        convolve(std::vector<double>(7, 1.0 / 7));
        convolve(std::vector<double>(11, 1.0 / 11));
        convolve({0.25, 0.5, 0.25});
        double squares = 0;
        for (const double k : kernel) {
            squares += k * k;
        }
        const double centre = kernel[kernel.size() / 2];
        return FilterFactors{1 - 2 * centre + squares, 1 - 2 * centre * centre + squares * squares};
    }();
    return factors;
}

// The sums of a plane's values over the region inside the filter's reach.
class Accumulator {
  public:
    Accumulator(int width, int height)
        : columns_(static_cast<std::size_t>(width - 2 * Margin), 0.0),
          rows_(static_cast<double>(height - 2 * Margin)) {}
    // One row's values, from the region's first column.
    template <typename Value> void AddRow(const Value& value) {
        double sum = 0;
        for (std::size_t x = 0; x < columns_.size(); ++x) {
            const double v = value(x);
            sum += v;
            squares_ += v * v;
            columns_[x] += v;
        }
        const double mean = sum / static_cast<double>(columns_.size());
        rowMeans_ += mean;
        rowSquares_ += mean * mean;
    }
    PlaneVariances Finish() const {
        const auto n = static_cast<double>(columns_.size());
        const double m = rows_;
        const double mean = rowMeans_ / m;
        PlaneVariances v;
        v.Rows = m;
        v.Columns = n;
        v.All = squares_ / (m * n) - mean * mean;
        v.RowMeans = rowSquares_ / m - mean * mean;
        double columnSquares = 0;
        for (const double c : columns_) {
            columnSquares += (c / m) * (c / m);
        }
        v.ColumnMeans = columnSquares / n - mean * mean;
        return v;
    }

  private:
    std::vector<double> columns_;
    double rows_;
    double squares_ = 0;
    double rowMeans_ = 0;
    double rowSquares_ = 0;
};

// A site's image, its size.
struct SitePlane {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    SitePlane(const CfaFrame& frame, int x, int y)
        : X(x), Y(y), Width((frame.Width - x + frame.PatternWidth - 1) / frame.PatternWidth),
          Height((frame.Height - y + frame.PatternHeight - 1) / frame.PatternHeight) {}
    bool Large() const { return Width >= 4 * Margin && Height >= 4 * Margin; }
    const std::uint16_t* Row(const CfaFrame& frame, int y) const {
        return frame.Values.data() +
               static_cast<std::size_t>(Y + y * frame.PatternHeight) *
                   static_cast<std::size_t>(frame.Width) +
               static_cast<std::size_t>(X);
    }
};

// Each row's 7-, 11- and 1-2-1 sums along the row (scale 308), inside the
// filter's reach.
std::vector<std::int32_t> RowSums(const CfaFrame& frame, const SitePlane& plane) {
    const auto w = static_cast<std::size_t>(plane.Width);
    const int step = frame.PatternWidth;
    std::vector<std::int32_t> out(w * static_cast<std::size_t>(plane.Height), 0);
    std::vector<std::int32_t> row(w);
    std::vector<std::int32_t> box7(w, 0);
    std::vector<std::int32_t> box11(w, 0);
    for (int y = 0; y < plane.Height; ++y) {
        const std::uint16_t* source = plane.Row(frame, y);
        for (std::size_t x = 0; x < w; ++x) {
            row[x] = source[x * static_cast<std::size_t>(step)];
        }
        for (std::size_t x = 3; x + 3 < w; ++x) {
            std::int32_t s = 0;
            for (std::size_t k = 0; k < 7; ++k) {
                s += row[x + k - 3];
            }
            box7[x] = s;
        }
        for (std::size_t x = 8; x + 8 < w; ++x) {
            std::int32_t s = 0;
            for (std::size_t k = 0; k < 11; ++k) {
                s += box7[x + k - 5];
            }
            box11[x] = s;
        }
        std::int32_t* target = out.data() + static_cast<std::size_t>(y) * w;
        for (std::size_t x = Margin; x + Margin < w; ++x) {
            target[x] = box11[x - 1] + 2 * box11[x] + box11[x + 1];
        }
    }
    return out;
}

// The same down the columns (running sums), each high-pass row in turn
// going to the accumulator.
PlaneVariances HighPassSite(const CfaFrame& frame, const SitePlane& plane) {
    const auto w = static_cast<std::size_t>(plane.Width);
    const int h = plane.Height;
    const std::vector<std::int32_t> across = RowSums(frame, plane);
    const auto row = [w](auto& v, int y) { return v.data() + static_cast<std::size_t>(y) * w; };
    // Seven rows down: rows 3 to h - 4.
    std::vector<std::int32_t> box7(across.size(), 0);
    std::vector<std::int32_t> sum7(w, 0);
    for (int y = 0; y < 7; ++y) {
        for (std::size_t x = Margin; x + Margin < w; ++x) {
            sum7[x] += row(across, y)[x];
        }
    }
    for (int y = 3; y + 3 < h; ++y) {
        if (y > 3) {
            for (std::size_t x = Margin; x + Margin < w; ++x) {
                sum7[x] += row(across, y + 3)[x] - row(across, y - 4)[x];
            }
        }
        std::copy(sum7.begin(), sum7.end(), row(box7, y));
    }
    // Eleven rows down (rows 8 to h - 9), kept three at a time for the 1-2-1.
    std::vector<std::int64_t> sum11(w, 0);
    std::vector<std::int64_t> ring(3 * w, 0);
    for (int y = 3; y < 14; ++y) {
        for (std::size_t x = Margin; x + Margin < w; ++x) {
            sum11[x] += row(box7, y)[x];
        }
    }
    Accumulator sums(plane.Width, h);
    for (int y = 8; y + 8 < h; ++y) {
        if (y > 8) {
            for (std::size_t x = Margin; x + Margin < w; ++x) {
                sum11[x] += row(box7, y + 5)[x] - row(box7, y - 6)[x];
            }
        }
        std::copy(sum11.begin(), sum11.end(), row(ring, y % 3));
        if (y < 10) {
            continue;
        }
        const std::int64_t* above = row(ring, (y - 2) % 3);
        const std::int64_t* centre = row(ring, (y - 1) % 3);
        const std::int64_t* below = row(ring, y % 3);
        const std::uint16_t* source = plane.Row(frame, y - 1);
        const auto step = static_cast<std::size_t>(frame.PatternWidth);
        sums.AddRow([&](std::size_t i) {
            const std::size_t x = i + Margin;
            const std::int64_t low = above[x] + 2 * centre[x] + below[x];
            return static_cast<double>(static_cast<std::int64_t>(source[x * step]) *
                                           static_cast<std::int64_t>(Scale) -
                                       low) /
                   Scale;
        });
    }
    return sums.Finish();
}

// Rows' and columns' structure and each pixel's own, from a plane's
// variances, where the filter left `one` of the first and `both` of the
// last (section 8.2's split: the rows' means hold the pixels' part over the
// columns, and the columns' means over the rows).
VarianceParts Split(const PlaneVariances& v, double one, double both) {
    const double pixel =
        (v.All - v.RowMeans - v.ColumnMeans) / (both - one * (1 / v.Rows + 1 / v.Columns));
    return {v.RowMeans / one - pixel / v.Columns, v.ColumnMeans / one - pixel / v.Rows, pixel};
}

} // namespace

SiteVariances HighPassVariances(const CfaFrame& frame) {
    SiteVariances out;
    if (!frame.Valid()) {
        return out;
    }
    for (int site = 0; site < frame.SiteCount(); ++site) {
        const SitePlane plane(frame, site % frame.PatternWidth, site / frame.PatternWidth);
        if (!plane.Large()) {
            return {};
        }
        out.Site[static_cast<std::size_t>(site)] = HighPassSite(frame, plane);
    }
    out.Sites = frame.SiteCount();
    return out;
}

SiteVariances DifferenceVariances(const CfaFrame& first, const CfaFrame& second) {
    SiteVariances out;
    if (!first.Valid() || !second.Valid() || first.Width != second.Width ||
        first.Height != second.Height) {
        return out;
    }
    for (int site = 0; site < first.SiteCount(); ++site) {
        const SitePlane plane(first, site % first.PatternWidth, site / first.PatternWidth);
        if (!plane.Large()) {
            return {};
        }
        Accumulator sums(plane.Width, plane.Height);
        const auto step = static_cast<std::size_t>(first.PatternWidth);
        for (int y = Margin; y + Margin < plane.Height; ++y) {
            const std::uint16_t* a = plane.Row(first, y);
            const std::uint16_t* b = plane.Row(second, y);
            sums.AddRow([&](std::size_t i) {
                const std::size_t x = (i + Margin) * step;
                return static_cast<double>(static_cast<int>(a[x]) - static_cast<int>(b[x]));
            });
        }
        out.Site[static_cast<std::size_t>(site)] = sums.Finish();
    }
    out.Sites = first.SiteCount();
    return out;
}

bool PairParts(const CfaFrame& frame, const SiteVariances& first, const SiteVariances& second,
               const SiteVariances& difference, ChannelParts& parts) {
    const int sites = frame.SiteCount();
    if (first.Sites != sites || second.Sites != sites || difference.Sites != sites) {
        return false;
    }
    const FilterFactors& f = Factors();
    parts = {};
    std::array<int, ChannelCount> count{};
    for (std::size_t site = 0; site < static_cast<std::size_t>(sites); ++site) {
        // The temporal noise in the pair's mean: a quarter of the difference's.
        const PlaneVariances& d = difference.Site[site];
        const VarianceParts t = Split(d, 1, 1);
        // The mean image's filtered variances: the frames' average less a
        // quarter of the difference's (as the filter would leave it).
        const PlaneVariances& a = first.Site[site];
        const PlaneVariances& b = second.Site[site];
        PlaneVariances mean = a;
        mean.All = (a.All + b.All) / 2 - (f.One * (t.Row + t.Column) + f.Both * t.Pixel) / 4;
        mean.RowMeans = (a.RowMeans + b.RowMeans) / 2 - f.One * (t.Row + t.Pixel / d.Columns) / 4;
        mean.ColumnMeans =
            (a.ColumnMeans + b.ColumnMeans) / 2 - f.One * (t.Column + t.Pixel / d.Rows) / 4;
        const VarianceParts spatial = Split(mean, f.One, f.Both);
        VarianceParts& out = parts[static_cast<std::size_t>(frame.Sites[site])];
        out.Row += spatial.Row - t.Row / 4;
        out.Column += spatial.Column - t.Column / 4;
        out.Pixel += spatial.Pixel - t.Pixel / 4;
        ++count[static_cast<std::size_t>(frame.Sites[site])];
    }
    for (std::size_t ch = 0; ch < parts.size(); ++ch) {
        if (count[ch] > 0) {
            parts[ch].Row /= count[ch];
            parts[ch].Column /= count[ch];
            parts[ch].Pixel /= count[ch];
        }
    }
    return true;
}

} // namespace pruvex::measure
