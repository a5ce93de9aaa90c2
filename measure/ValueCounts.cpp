#include "measure/ValueCounts.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace pruvex::measure {

namespace {

using Counters = std::array<std::uint32_t*, LargestPattern>;

// One row's values counted, the places of the pattern's row side by side,
// each with its site's counts: a count need not wait for the one before
// where neighbouring values are alike.
template <std::size_t Step>
void CountRow(const std::uint16_t* row, std::size_t width, const Counters& counts) {
    std::size_t x = 0;
    for (; x + Step <= width; x += Step) {
        for (std::size_t column = 0; column < Step; ++column) {
            ++counts[column][row[x + column]];
        }
    }
    for (std::size_t column = 0; x < width; ++x, ++column) {
        ++counts[column][row[x]];
    }
}

// The pattern's width (at most LargestPattern) as a constant of the loop.
void CountRowOf(std::size_t step, const std::uint16_t* row, std::size_t width,
                const Counters& counts) {
    switch (step) {
    case 1:
        return CountRow<1>(row, width, counts);
    case 2:
        return CountRow<2>(row, width, counts);
    case 3:
        return CountRow<3>(row, width, counts);
    case 4:
        return CountRow<4>(row, width, counts);
    case 5:
        return CountRow<5>(row, width, counts);
    default:
        return CountRow<LargestPattern>(row, width, counts);
    }
}

} // namespace

std::vector<std::uint32_t> ValueCounts::Channel(const CfaFrame& frame, int channel) const {
    std::vector<std::uint32_t> out(Values, 0);
    for (int site = 0; site < Sites; ++site) {
        if (frame.Sites[static_cast<std::size_t>(site)] != channel) {
            continue;
        }
        const std::uint32_t* counts = Site(site);
        for (std::size_t v = 0; v < Values; ++v) {
            out[v] += counts[v];
        }
    }
    return out;
}

ValueCounts CountValues(const CfaFrame& frame) {
    ValueCounts out;
    if (!frame.Valid()) {
        return out;
    }
    out.Sites = frame.SiteCount();
    out.Counts.assign(static_cast<std::size_t>(out.Sites) * ValueCounts::Values, 0);
    const auto width = static_cast<std::size_t>(frame.Width);
    const auto step = static_cast<std::size_t>(frame.PatternWidth);
    Counters counts{};
    for (int y = 0; y < frame.Height; ++y) {
        const std::uint16_t* row = frame.Values.data() + static_cast<std::size_t>(y) * width;
        for (std::size_t column = 0; column < step; ++column) {
            counts[column] = out.Counts.data() +
                             static_cast<std::size_t>(frame.SiteOf(static_cast<int>(column), y)) *
                                 ValueCounts::Values;
        }
        CountRowOf(step, row, width, counts);
    }
    return out;
}

} // namespace pruvex::measure
