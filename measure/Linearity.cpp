#include "measure/Linearity.h"

#include <algorithm>
#include <cmath>

namespace pruvex::measure {

namespace {

constexpr double MostClipped = 0.002;

} // namespace

double Saturation(const std::vector<FlatPoint>& points) {
    double saturation = 0;
    double longest = -1;
    for (const FlatPoint& p : points) {
        if (p.ClippedPart <= MostClipped && p.Shutter > longest) {
            longest = p.Shutter;
            saturation = p.Mean;
        }
    }
    return saturation;
}

Linearity FitLinearity(std::vector<FlatPoint> points) {
    Linearity line;
    std::sort(points.begin(), points.end(),
              [](const FlatPoint& a, const FlatPoint& b) { return a.Shutter < b.Shutter; });
    line.SaturationDn = Saturation(points);
    double sw = 0;
    double sx = 0;
    double sy = 0;
    double sxx = 0;
    double sxy = 0;
    int used = 0;
    for (const FlatPoint& p : points) {
        LinearityPoint out{p.Shutter, p.Mean, 0, false};
        out.InRange = line.SaturationDn > 0 && p.Mean >= 0.05 * line.SaturationDn &&
                      p.Mean <= 0.95 * line.SaturationDn && p.ClippedPart <= MostClipped;
        if (out.InRange) {
            const double w = 1 / (p.Mean * p.Mean);
            sw += w;
            sx += w * p.Shutter;
            sy += w * p.Mean;
            sxx += w * p.Shutter * p.Shutter;
            sxy += w * p.Shutter * p.Mean;
            ++used;
        }
        line.Points.push_back(out);
    }
    const double det = sw * sxx - sx * sx;
    if (used < 3 || !(det > 0)) {
        return line;
    }
    line.Slope = (sw * sxy - sx * sy) / det;
    line.Intercept = (sy - line.Slope * sx) / sw;
    double deviation = 0;
    for (LinearityPoint& p : line.Points) {
        p.Fitted = line.Intercept + line.Slope * p.Shutter;
        if (p.InRange) {
            deviation += std::abs(p.Mean - p.Fitted) / p.Fitted;
        }
    }
    line.ErrorPct = 100 * deviation / used;
    line.Valid = std::isfinite(line.ErrorPct);
    return line;
}

} // namespace pruvex::measure
