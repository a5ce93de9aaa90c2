#include "app/FrameRate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace {

using pruvex::FrameTime;
using pruvex::Milliseconds;
using pruvex::TickRate;

// A clock's ticks as a loaded machine stamps them: each blank late by up to
// `late` ms (pseudo-random, now and then the whole amount), every `skip`-th
// blank not seen at all.
struct RateCase {
    std::string Name;
    double Hz;
    double Seconds;                 // how long the ticks run
    double Late;                    // ms
    int Skip;                       // 0: none skipped
    std::optional<double> Expected; // Hz, or nothing yet
};

void PrintTo(const RateCase& c, std::ostream* os) {
    *os << c.Name;
}

class RateTable : public testing::TestWithParam<RateCase> {};

TEST_P(RateTable, ReadsTheRateOnceASecondIsSpanned) {
    const RateCase& c = GetParam();
    TickRate rate;
    const FrameTime start{std::chrono::seconds(1000)};
    const Milliseconds period(1000.0 / c.Hz);
    unsigned state = 12345;
    const auto frames = static_cast<std::uint64_t>(c.Seconds * c.Hz);
    for (std::uint64_t counter = 500; counter < 500 + frames; ++counter) {
        state = state * 1103515245U + 12345U;
        if (c.Skip > 0 && counter % static_cast<std::uint64_t>(c.Skip) == 0) {
            continue;
        }
        const double late = (state >> 16) % 8 == 0 ? c.Late : c.Late * ((state >> 8) % 100) / 400;
        const Milliseconds at = period * static_cast<double>(counter) + Milliseconds(late);
        rate.Add(counter, start + std::chrono::duration_cast<FrameTime::duration>(at));
    }
    const std::optional<Milliseconds> measured = rate.Measured();
    ASSERT_EQ(measured.has_value(), c.Expected.has_value());
    if (c.Expected) {
        EXPECT_NEAR(1000.0 / measured->count(), *c.Expected, *c.Expected * 0.005);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, RateTable,
    testing::Values(RateCase{"under a second: not yet", 60, 0.9, 0, 0, std::nullopt},
                    RateCase{"steady 60 Hz", 60, 1.1, 0, 0, 60.0},
                    RateCase{"60 Hz, blanks up to 8 ms late", 60, 1.1, 8, 0, 60.0},
                    RateCase{"59.94 Hz, 6 ms late, every 7th missed", 59.94, 2.0, 6, 7, 59.94},
                    RateCase{"144 Hz, 3 ms late, every 3rd missed", 144, 1.5, 3, 3, 144.0},
                    RateCase{"30 Hz, 10 ms late", 30, 1.2, 10, 0, 30.0},
                    RateCase{"600 Hz is no monitor's rate", 600, 1.5, 0, 0, std::nullopt}));

// A counter that goes back is another monitor's clock: the rate is read
// from its ticks alone, once they span a second.
TEST(TickRate, StartsAgainOnAnotherClock) {
    TickRate rate;
    const FrameTime start{std::chrono::seconds(50)};
    const auto at = [&](double ms) {
        return start + std::chrono::duration_cast<FrameTime::duration>(Milliseconds(ms));
    };
    for (std::uint64_t n = 0; n < 120; ++n) {
        rate.Add(1000 + n, at(static_cast<double>(n) * 1000.0 / 60.0));
    }
    ASSERT_TRUE(rate.Measured());
    const double moved = 2000.0;
    for (std::uint64_t n = 0; n < 60; ++n) {
        rate.Add(10 + n, at(moved + static_cast<double>(n) * 1000.0 / 75.0));
    }
    EXPECT_FALSE(rate.Measured()) << "60 ticks at 75 Hz span less than a second";
    for (std::uint64_t n = 60; n < 90; ++n) {
        rate.Add(10 + n, at(moved + static_cast<double>(n) * 1000.0 / 75.0));
    }
    rate.Add(20, at(moved + 20 * 1000.0 / 75.0)); // a blank told late
    ASSERT_TRUE(rate.Measured());
    EXPECT_NEAR(1000.0 / rate.Measured()->count(), 75.0, 0.01);
}

} // namespace
