#include "measure/Uniformity.h"

#include <algorithm>
#include <array>
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
    // One row's values as valueAt(x) gives them, x from the region's first
    // column, each asked for once.
    template <typename ValueAt> void AddRowOf(ValueAt valueAt) {
        // Four sums side by side, so that each addition need not wait for
        // the one before.
        std::array<double, 4> sum{};
        std::array<double, 4> squares{};
        const std::size_t n = columns_.size();
        std::size_t x = 0;
        for (; x + 4 <= n; x += 4) {
            for (std::size_t k = 0; k < 4; ++k) {
                const double v = valueAt(x + k);
                sum[k] += v;
                squares[k] += v * v;
                columns_[x + k] += v;
            }
        }
        for (; x < n; ++x) {
            const double v = valueAt(x);
            sum[0] += v;
            squares[0] += v * v;
            columns_[x] += v;
        }
        squares_ += (squares[0] + squares[1]) + (squares[2] + squares[3]);
        const double mean =
            ((sum[0] + sum[1]) + (sum[2] + sum[3])) / static_cast<double>(columns_.size());
        rowMeans_ += mean;
        rowSquares_ += mean * mean;
    }
    // The variances, the values taken in units of `unit`.
    PlaneVariances Finish(double unit = 1) const {
        const auto n = static_cast<double>(columns_.size());
        const double m = rows_;
        const double mean = rowMeans_ / m;
        const double scale = 1 / (unit * unit);
        PlaneVariances v;
        v.Rows = m;
        v.Columns = n;
        v.All = scale * (squares_ / (m * n) - mean * mean);
        v.RowMeans = scale * (rowSquares_ / m - mean * mean);
        double columnSquares = 0;
        for (const double c : columns_) {
            columnSquares += (c / m) * (c / m);
        }
        v.ColumnMeans = scale * (columnSquares / n - mean * mean);
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

// Rows of a plane kept while the filter needs them: row y in slot y mod n.
template <typename Value> class RowRing {
  public:
    RowRing(std::size_t width, std::size_t rows)
        : width_(width), rows_(rows), data_(width * rows) {}
    Value* operator[](int y) {
        return data_.data() + (static_cast<std::size_t>(y) % rows_) * width_;
    }

  private:
    std::size_t width_;
    std::size_t rows_;
    std::vector<Value> data_;
};

// The image less its low-pass, fed a site's rows in turn: each filtered
// along the row, then down the columns by running sums over a few rows kept
// (7 rows, then 11, then 3), each high-pass row in turn going to the
// accumulator.
class SiteFilter {
  public:
    explicit SiteFilter(const SitePlane& plane)
        : w_(static_cast<std::size_t>(plane.Width)), height_(plane.Height), box7_(w_, 0),
          pairs_(w_, 0), box11_(w_, 0), source_(w_, 10), across_(w_, 8), down7_(w_, 12),
          down11_(w_, 3), sum7_(w_, 0), sum11_(w_, 0), zeros_(w_, 0),
          sums_(plane.Width, plane.Height), difference_(plane.Width, plane.Height) {}

    // The site's next row, its values `step` apart; of a pair, the sums
    // of the two frames' values go through the filter, and their
    // differences, unfiltered, to sums of their own.
    void AddRow(const std::uint16_t* first, const std::uint16_t* second, std::size_t step) {
        const int r = rows_++;
        std::int32_t* kept = source_[r];
        if (second == nullptr) {
            for (std::size_t x = 0; x < w_; ++x) {
                kept[x] = first[x * step];
            }
        } else {
            for (std::size_t x = 0; x < w_; ++x) {
                kept[x] = first[x * step] + second[x * step];
            }
            if (r >= Margin && r + Margin < height_) {
                const std::uint16_t* a = first + Margin * step;
                const std::uint16_t* b = second + Margin * step;
                difference_.AddRowOf([a, b, step](std::size_t i) {
                    return static_cast<double>(static_cast<int>(a[i * step]) -
                                               static_cast<int>(b[i * step]));
                });
            }
        }
        RowSums(kept, across_[r]);
        const int q = r - 3; // the row whose 7-row sum is now whole
        RunningSum(sum7_, across_[r], r >= 7 ? across_[r - 7] : nullptr,
                   q >= 3 ? down7_[q] : nullptr);
        if (q < 3) {
            return;
        }
        const int m = q - 5; // the row whose 11-row sum is now whole
        RunningSum(sum11_, down7_[q], q >= 14 ? down7_[q - 11] : nullptr,
                   m >= 8 ? down11_[m] : nullptr);
        if (m < 8) {
            return;
        }
        const int c = m - 1; // the row whose 1-2-1 is now whole
        if (c >= Margin) {
            HighPassRow(c);
        }
    }

    PlaneVariances Finish(double unit) const { return sums_.Finish(unit); }
    PlaneVariances FinishDifference() const { return difference_.Finish(); }

  private:
    // A running sum down the columns inside the filter's reach: the row
    // `in` added, `out` (if any) taken off, the sums also kept in `whole`
    // (if any).
    template <typename Sum>
    void RunningSum(std::vector<Sum>& sum, const std::int32_t* in, const std::int32_t* out,
                    Sum* whole) const {
        if (out == nullptr) {
            out = zeros_.data();
        }
        const std::size_t end = w_ - Margin;
        if (whole == nullptr) {
            for (std::size_t x = Margin; x < end; ++x) {
                sum[x] += in[x] - out[x];
            }
            return;
        }
        for (std::size_t x = Margin; x < end; ++x) {
            const Sum v = sum[x] + (in[x] - out[x]);
            sum[x] = v;
            whole[x] = v;
        }
    }

    // One row's 7-, 11- and 1-2-1 sums along the row (scale 308), inside
    // the filter's reach. Each place's sum is written out whole rather than
    // run on from its neighbour's, so that neighbouring places are summed
    // side by side; the 11-sums are made of sums of two 7-sums.
    void RowSums(const std::int32_t* row, std::int32_t* target) {
        std::int32_t* box7 = box7_.data();
        std::int32_t* pairs = pairs_.data();
        std::int32_t* box11 = box11_.data();
        for (std::size_t x = 3; x + 3 < w_; ++x) {
            box7[x] = row[x - 3] + row[x - 2] + row[x - 1] + row[x] + row[x + 1] + row[x + 2] +
                      row[x + 3];
        }
        for (std::size_t x = 3; x + 4 < w_; ++x) {
            pairs[x] = box7[x] + box7[x + 1];
        }
        for (std::size_t x = 8; x + 8 < w_; ++x) {
            box11[x] = pairs[x - 5] + pairs[x - 3] + pairs[x - 1] + pairs[x + 1] + pairs[x + 3] +
                       box7[x + 5];
        }
        for (std::size_t x = Margin; x + Margin < w_; ++x) {
            target[x] = box11[x - 1] + 2 * box11[x] + box11[x + 1];
        }
    }

    void HighPassRow(int c) {
        const auto scale = static_cast<std::int64_t>(Scale);
        const std::int64_t* above = down11_[c - 1];
        const std::int64_t* centre = down11_[c];
        const std::int64_t* below = down11_[c + 1];
        const std::int32_t* source = source_[c];
        sums_.AddRowOf([&](std::size_t i) {
            const std::size_t x = i + Margin;
            const std::int64_t low = above[x] + 2 * centre[x] + below[x];
            return static_cast<double>(source[x] * scale - low);
        });
    }

    std::size_t w_;
    int height_;
    int rows_ = 0;
    std::vector<std::int32_t> box7_;
    std::vector<std::int32_t> pairs_; // sums of two neighbouring 7-sums
    std::vector<std::int32_t> box11_;
    RowRing<std::int32_t> source_; // the last ten rows as they came
    RowRing<std::int32_t> across_; // their sums along the row
    RowRing<std::int32_t> down7_;  // the 7-row sums of rows q - 11 to q
    RowRing<std::int64_t> down11_; // the 11-row sums of the last three rows
    std::vector<std::int32_t> sum7_;
    std::vector<std::int64_t> sum11_;
    std::vector<std::int32_t> zeros_; // a row with nothing to take off
    Accumulator sums_;
    Accumulator difference_;
};

// Rows' and columns' structure and each pixel's own, from a plane's
// variances, where the filter left `one` of the first and `both` of the
// last (section 8.2's split: the rows' means hold the pixels' part over the
// columns, and the columns' means over the rows).
VarianceParts Split(const PlaneVariances& v, double one, double both) {
    const double pixel =
        (v.All - v.RowMeans - v.ColumnMeans) / (both - one * (1 / v.Rows + 1 / v.Columns));
    return {v.RowMeans / one - pixel / v.Columns, v.ColumnMeans / one - pixel / v.Rows, pixel};
}

// The sites of a frame, or of a pair's mean image (the second frame, if
// any, of the first's size), high-pass filtered; of a pair, also its
// difference's sites unfiltered.
PairVariances HighPass(const CfaFrame& first, const CfaFrame* second) {
    PairVariances out;
    if (!first.Valid() || (second != nullptr && (!second->Valid() || first.Width != second->Width ||
                                                 first.Height != second->Height))) {
        return out;
    }
    // A pair's values are summed: twice the mean's.
    const double unit = second != nullptr ? 2 * Scale : Scale;
    const auto step = static_cast<std::size_t>(first.PatternWidth);
    // A row of the pattern at a time, its sites side by side: each row of
    // the frame is read once, and only these sites' filter rows need stay
    // in the cache.
    for (int py = 0; py < first.PatternHeight; ++py) {
        std::vector<SitePlane> planes;
        std::vector<SiteFilter> filters;
        for (int px = 0; px < first.PatternWidth; ++px) {
            planes.emplace_back(first, px, py);
            if (!planes.back().Large()) {
                return {};
            }
            filters.emplace_back(planes.back());
        }
        for (int y = 0; y < planes.front().Height; ++y) {
            for (std::size_t px = 0; px < planes.size(); ++px) {
                const SitePlane& plane = planes[px];
                filters[px].AddRow(plane.Row(first, y),
                                   second != nullptr ? plane.Row(*second, y) : nullptr, step);
            }
        }
        for (std::size_t px = 0; px < planes.size(); ++px) {
            const std::size_t site = static_cast<std::size_t>(py) * step + px;
            out.Mean.Site[site] = filters[px].Finish(unit);
            out.Difference.Site[site] = filters[px].FinishDifference();
        }
    }
    out.Mean.Sites = first.SiteCount();
    out.Difference.Sites = second != nullptr ? first.SiteCount() : 0;
    return out;
}

} // namespace

SiteVariances HighPassVariances(const CfaFrame& frame) {
    return HighPass(frame, nullptr).Mean;
}

PairVariances PairVariancesOf(const CfaFrame& first, const CfaFrame& second) {
    return HighPass(first, &second);
}

bool PairParts(const CfaFrame& frame, const PairVariances& pair, ChannelParts& parts) {
    const SiteVariances& mean = pair.Mean;
    const SiteVariances& difference = pair.Difference;
    const int sites = frame.SiteCount();
    if (mean.Sites != sites || difference.Sites != sites) {
        return false;
    }
    const FilterFactors& f = Factors();
    parts = {};
    std::array<int, ChannelCount> count{};
    for (std::size_t site = 0; site < static_cast<std::size_t>(sites); ++site) {
        // The temporal noise in the pair's mean: a quarter of the difference's.
        const VarianceParts t = Split(difference.Site[site], 1, 1);
        const VarianceParts spatial = Split(mean.Site[site], f.One, f.Both);
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
