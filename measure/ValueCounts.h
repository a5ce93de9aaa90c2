#pragma once

// How many of each site's values a frame holds of each raw value: one pass
// over the frame that its codes, its whole-frame statistics and the check
// for a dark frame all read.

#include "measure/CfaFrame.h"

#include <cstdint>
#include <vector>

namespace pruvex::measure {

struct ValueCounts {
    static constexpr std::size_t Values = 65536;
    int Sites = 0;
    std::vector<std::uint32_t> Counts; // site by site, Values each

    const std::uint32_t* Site(int site) const {
        return Counts.data() + static_cast<std::size_t>(site) * Values;
    }
    // A channel's counts: its sites' together.
    std::vector<std::uint32_t> Channel(const CfaFrame& frame, int channel) const;
};

ValueCounts CountValues(const CfaFrame& frame);

} // namespace pruvex::measure
