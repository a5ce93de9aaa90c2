#include "measure/PhotonTransfer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace pruvex::measure {

namespace {

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The relative standard error of a variance from n pixels.
double RelativeError(double pixels) {
    return std::sqrt(2.0 / std::max(pixels - 1, 1.0));
}

} // namespace

TransferFit FitTransfer(const std::vector<TransferPoint>& points) {
    TransferFit fit;
    fit.Kept.assign(points.size(), false);
    std::vector<std::size_t> usable;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TransferPoint& p = points[i];
        if (std::isfinite(p.Mean) && std::isfinite(p.Variance) && p.Pixels >= 16 &&
            p.Variance > 0 && p.Mean > 0) {
            usable.push_back(i);
        }
    }
    if (usable.size() < 3) {
        return fit;
    }
    // A robust start: the median of the slopes between every two points.
    std::vector<double> slopes;
    for (std::size_t a = 0; a < usable.size(); ++a) {
        for (std::size_t b = a + 1; b < usable.size(); ++b) {
            const TransferPoint& p = points[usable[a]];
            const TransferPoint& q = points[usable[b]];
            if (std::abs(q.Mean - p.Mean) > 1e-9 * std::max(p.Mean, q.Mean)) {
                slopes.push_back((q.Variance - p.Variance) / (q.Mean - p.Mean));
            }
        }
    }
    double slope = Median(slopes);
    std::vector<double> offsets;
    offsets.reserve(usable.size());
    for (const std::size_t i : usable) {
        offsets.push_back(points[i].Variance - slope * points[i].Mean);
    }
    double intercept = Median(offsets);

    std::vector<bool> kept(points.size(), false);
    for (int round = 0; round < 20; ++round) {
        // Keep the points within four standard errors of the current line.
        std::vector<bool> next(points.size(), false);
        for (const std::size_t i : usable) {
            const TransferPoint& p = points[i];
            const double predicted = intercept + slope * p.Mean;
            const double scale = std::max(predicted, 0.1 * p.Variance) * RelativeError(p.Pixels);
            next[i] = std::abs(p.Variance - predicted) <= 4 * scale;
        }
        if (round > 0 && next == kept) {
            break;
        }
        kept = next;
        // Weighted least squares, weights from the current line.
        double sw = 0;
        double sx = 0;
        double sy = 0;
        double sxx = 0;
        double sxy = 0;
        int n = 0;
        for (const std::size_t i : usable) {
            if (!kept[i]) {
                continue;
            }
            const TransferPoint& p = points[i];
            const double predicted = std::max(intercept + slope * p.Mean, 0.1 * p.Variance);
            const double sigma = predicted * RelativeError(p.Pixels);
            const double w = 1 / (sigma * sigma);
            sw += w;
            sx += w * p.Mean;
            sy += w * p.Variance;
            sxx += w * p.Mean * p.Mean;
            sxy += w * p.Mean * p.Variance;
            ++n;
        }
        const double det = sw * sxx - sx * sx;
        if (n < 3 || !(det > 0)) {
            return fit;
        }
        slope = (sw * sxy - sx * sy) / det;
        intercept = (sy - slope * sx) / sw;
    }
    fit.Used = static_cast<int>(std::count(kept.begin(), kept.end(), true));
    fit.Kept = kept;
    fit.Slope = slope;
    fit.Intercept = intercept;
    fit.Valid = fit.Used >= 3 && slope > 0 && std::isfinite(slope) && std::isfinite(intercept);
    return fit;
}

ChannelFigures Figures(const std::vector<Stats>& squares, int channel, double range,
                       double darkVariance) {
    ChannelFigures figures;
    figures.Range = range;
    std::vector<TransferPoint> points;
    for (const Stats& square : squares) {
        const ChannelStats& s = square[static_cast<std::size_t>(channel)];
        if (s.Pixels > 0 && s.Clipped == 0) {
            points.push_back({s.Mean, s.Variance, static_cast<double>(s.Pixels)});
        } else {
            points.push_back({0, 0, 0});
        }
    }
    figures.Fit = FitTransfer(points);
    figures.Squares = figures.Fit.Used;
    if (!figures.Fit.Valid) {
        return figures;
    }
    figures.Gain = 1 / figures.Fit.Slope;
    figures.FullWellE = range * figures.Gain;
    const double readVariance = darkVariance > 0 ? darkVariance : figures.Fit.Intercept;
    figures.ReadNoiseFromDark = darkVariance > 0;
    if (readVariance > 0) {
        figures.ReadNoiseDn = std::sqrt(readVariance);
        figures.ReadNoiseE = figures.ReadNoiseDn * figures.Gain;
        figures.DynamicRangeEv = std::log2(range / figures.ReadNoiseDn);
    }
    return figures;
}

double SuggestShutter(const std::vector<Stats>& squares, const std::vector<int>& levels,
                      int channel, double range, double shutter) {
    constexpr double Gamma = 2.2;
    std::vector<double> scales; // signal / level^2.2 of the squares below clipping
    std::vector<int> seen;      // the levels of the squares measured at all
    double darkest = 0;         // the lowest level measured, clipped or not
    for (std::size_t k = 0; k < squares.size() && k < levels.size(); ++k) {
        const ChannelStats& s = squares[k][static_cast<std::size_t>(channel)];
        if (s.Pixels == 0 || levels[k] <= 0) {
            continue;
        }
        seen.push_back(levels[k]);
        if (darkest == 0 || levels[k] < darkest) {
            darkest = levels[k];
        }
        if (s.Clipped == 0 && s.Mean > 0) {
            scales.push_back(s.Mean / std::pow(levels[k], Gamma));
        }
    }
    if (seen.empty() || !(range > 0) || !(shutter > 0)) {
        return 0;
    }
    // Every square clipped: the darkest at least at the white level.
    const double scale = scales.empty() ? range / std::pow(darkest, Gamma) : Median(scales);
    std::sort(seen.begin(), seen.end());
    const int target = seen[std::min(seen.size(), std::size_t{SuggestedSquares}) - 1];
    // Below the white level with room for the brighter of the squares
    // at one level and the noise.
    return shutter * 0.9 * range / (scale * std::pow(target, Gamma));
}

double UsualShutter(double seconds) {
    static constexpr std::array<int, 40> Denominators{
        1,    2,    3,    4,    5,    6,    8,    10,   13,   15,    20,    25,   30,  40,
        50,   60,   80,   100,  125,  160,  200,  250,  320,  400,   500,   640,  800, 1000,
        1250, 1600, 2000, 2500, 3200, 4000, 5000, 6400, 8000, 10000, 12800, 16000};
    for (const int n : Denominators) {
        if (1.0 / n <= seconds * (1 + 1e-9)) {
            return 1.0 / n;
        }
    }
    return 1.0 / Denominators.back();
}

} // namespace pruvex::measure
