#include "app/FrameRate.h"

#include <utility>
#include <vector>

namespace pruvex {

namespace {

// Ticks kept: four seconds at 60 Hz, a second at 240 Hz.
constexpr std::size_t KeptTicks = 240;

struct Line {
    double Slope = 0;
    double Intercept = 0;
};

// Least squares of y over x; nothing when the x do not vary.
std::optional<Line> Fit(const std::vector<std::pair<double, double>>& points) {
    if (points.size() < 2) {
        return std::nullopt;
    }
    double sumX = 0;
    double sumY = 0;
    for (const auto& [x, y] : points) {
        sumX += x;
        sumY += y;
    }
    const auto count = static_cast<double>(points.size());
    const double meanX = sumX / count;
    const double meanY = sumY / count;
    double xx = 0;
    double xy = 0;
    for (const auto& [x, y] : points) {
        xx += (x - meanX) * (x - meanX);
        xy += (x - meanX) * (y - meanY);
    }
    if (xx <= 0) {
        return std::nullopt;
    }
    const double slope = xy / xx;
    return Line{slope, meanY - slope * meanX};
}

} // namespace

void TickRate::Add(std::uint64_t counter, FrameTime when) {
    if (!Ticks.empty() && counter <= Ticks.back().Counter) {
        if (when <= Ticks.back().When) {
            return; // a blank of this clock already seen, told late
        }
        Ticks.clear();
    }
    Ticks.push_back({counter, when});
    if (Ticks.size() > KeptTicks) {
        Ticks.pop_front();
    }
}

std::optional<Milliseconds> TickRate::Measured() const {
    if (Ticks.size() < 3 || Ticks.back().When - Ticks.front().When < Span) {
        return std::nullopt;
    }
    // Counter and time (ms) from the first tick, so that the sums stay small.
    std::vector<std::pair<double, double>> points;
    points.reserve(Ticks.size());
    for (const Tick& tick : Ticks) {
        points.emplace_back(static_cast<double>(tick.Counter - Ticks.front().Counter),
                            Milliseconds(tick.When - Ticks.front().When).count());
    }
    std::optional<Line> line = Fit(points);
    // A blank is only ever told late, never early: the ticks that bound
    // the clock from below (the corners of their lower convex hull, spread
    // over the whole span) give its slope, however late the rest.
    if (line) {
        std::vector<std::pair<double, double>> hull;
        for (const auto& point : points) {
            while (hull.size() >= 2) {
                const auto& [ax, ay] = hull[hull.size() - 2];
                const auto& [bx, by] = hull.back();
                if ((bx - ax) * (point.second - ay) - (by - ay) * (point.first - ax) > 0) {
                    break; // a left turn: the last corner stays
                }
                hull.pop_back();
            }
            hull.push_back(point);
        }
        if (hull.size() >= 3) {
            line = Fit(hull);
        }
    }
    if (!line || !PlausiblePeriod(Milliseconds(line->Slope))) {
        return std::nullopt;
    }
    return Milliseconds(line->Slope);
}

} // namespace pruvex
