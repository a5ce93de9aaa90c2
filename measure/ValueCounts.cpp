#include "measure/ValueCounts.h"

namespace pruvex::measure {

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
    for (int y = 0; y < frame.Height; ++y) {
        const std::uint16_t* row = frame.Values.data() + static_cast<std::size_t>(y) * width;
        for (std::size_t column = 0; column < step; ++column) {
            const auto site = static_cast<std::size_t>(frame.SiteOf(static_cast<int>(column), y));
            std::uint32_t* counts = out.Counts.data() + site * ValueCounts::Values;
            for (std::size_t x = column; x < width; x += step) {
                ++counts[row[x]];
            }
        }
    }
    return out;
}

} // namespace pruvex::measure
