#include "app/FrameRate.h"

#include <utility>
#include <vector>

namespace pruvex {

namespace {

// Ticks kept: four seconds at 60 Hz, a second at 240 Hz.
constexpr std::size_t KeptTicks = 240;

// The slope of y over x by least squares; nothing when the x do not vary.
std::optional<double> Slope(const std::vector<std::pair<double, double>>& points) {
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
    return xy / xx;
}

} // namespace

bool TickRate::Add(std::uint64_t counter, FrameTime when) {
    bool another = false;
    if (!Ticks.empty() && counter <= Ticks.back().Counter) {
        if (when <= Ticks.back().When) {
            return false; // a blank of this clock already seen, told late
        }
        Ticks.clear();
        another = true;
    }
    Ticks.push_back({counter, when});
    if (Ticks.size() > KeptTicks) {
        Ticks.pop_front();
    }
    return another;
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
    // A blank is only ever told late, never early: the ticks that bound
    // the clock from below (the corners of their lower convex hull, spread
    // over the whole span) give its slope, however late the rest.
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
    const std::optional<double> slope = Slope(hull.size() >= 3 ? hull : points);
    if (!slope || !PlausiblePeriod(Milliseconds(*slope))) {
        return std::nullopt;
    }
    return Milliseconds(*slope);
}

std::optional<Milliseconds> TickRate::Seen() const {
    if (Ticks.size() < 2) {
        return std::nullopt;
    }
    const Milliseconds seen = (Ticks.back().When - Ticks.front().When) /
                              static_cast<double>(Ticks.back().Counter - Ticks.front().Counter);
    if (!PlausiblePeriod(seen)) {
        return std::nullopt;
    }
    return seen;
}

} // namespace pruvex
