#pragma once

// The rate of a frame clock read from its ticks. A tick's time can be late
// by a few milliseconds on a loaded machine, so a rate read from a few
// ticks can be far off (and one read too high makes a reply early): the
// period is the slope of the times over the frame counter through the
// ticks that bound them from below, once the ticks span at least a second.

#include "app/Platform.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace pruvex {

class TickRate {
  public:
    // The ticks span at least this long before the rate is read from them.
    static constexpr std::chrono::seconds Span{1};

    // A tick: the frame counter and the time of its blank. A counter that
    // does not go forward at a later time starts a new clock (another
    // monitor); one that comes after a later blank's tick is left out.
    // True when the tick starts a new clock.
    bool Add(std::uint64_t counter, FrameTime when);
    // The period, once the ticks span a second; nothing before, or when
    // the ticks give no plausible rate.
    std::optional<Milliseconds> Measured() const;
    // The period from the first tick to the last, however short the span:
    // nothing without two ticks or a plausible rate.
    std::optional<Milliseconds> Seen() const;
    std::size_t Count() const { return Ticks.size(); }

  private:
    struct Tick {
        std::uint64_t Counter;
        FrameTime When;
    };
    std::deque<Tick> Ticks;
};

// A period is believed within these bounds (5 to 500 Hz).
inline bool PlausiblePeriod(Milliseconds period) {
    return period.count() >= 2.0 && period.count() <= 200.0;
}

} // namespace pruvex
