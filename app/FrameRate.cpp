#include "app/FrameRate.h"

namespace pruvex {

namespace {

// Ticks kept: four seconds at 60 Hz, a second at 240 Hz.
constexpr std::size_t KeptTicks = 240;

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
    // Least squares of time (ms) over counter, both taken from the first
    // tick so that the sums stay small.
    const Tick& first = Ticks.front();
    double sumX = 0;
    double sumY = 0;
    for (const Tick& tick : Ticks) {
        sumX += static_cast<double>(tick.Counter - first.Counter);
        sumY += Milliseconds(tick.When - first.When).count();
    }
    const auto count = static_cast<double>(Ticks.size());
    const double meanX = sumX / count;
    const double meanY = sumY / count;
    double xx = 0;
    double xy = 0;
    for (const Tick& tick : Ticks) {
        const double x = static_cast<double>(tick.Counter - first.Counter) - meanX;
        xx += x * x;
        xy += x * (Milliseconds(tick.When - first.When).count() - meanY);
    }
    if (xx <= 0) {
        return std::nullopt;
    }
    const Milliseconds period(xy / xx);
    if (!PlausiblePeriod(period)) {
        return std::nullopt;
    }
    return period;
}

} // namespace pruvex
