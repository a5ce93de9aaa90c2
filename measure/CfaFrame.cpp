#include "measure/CfaFrame.h"

#include <algorithm>

namespace pruvex::measure {

double CfaFrame::ChannelBlack(int channel) const {
    double sum = 0;
    int count = 0;
    for (int site = 0; site < SiteCount(); ++site) {
        if (Sites[static_cast<std::size_t>(site)] == channel) {
            sum += Black[static_cast<std::size_t>(site)];
            ++count;
        }
    }
    return count > 0 ? sum / count : 0.0;
}

double CfaFrame::HighestBlack() const {
    double black = 0;
    for (int site = 0; site < SiteCount(); ++site) {
        black = std::max(black, Black[static_cast<std::size_t>(site)]);
    }
    return black;
}

bool CfaFrame::Valid() const {
    if (PatternWidth < 1 || PatternWidth > LargestPattern || PatternHeight < 1 ||
        PatternHeight > LargestPattern || Width <= 0 || Height <= 0 ||
        Values.size() != static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height)) {
        return false;
    }
    for (int site = 0; site < SiteCount(); ++site) {
        const int channel = Sites[static_cast<std::size_t>(site)];
        if (channel < 0 || channel >= Channels()) {
            return false;
        }
    }
    return true;
}

CfaFrame CfaFrame::Bayer(int width, int height, std::array<int, 4> sites,
                         std::array<double, 4> black, double white) {
    CfaFrame frame;
    frame.Width = width;
    frame.Height = height;
    frame.Values.assign(static_cast<std::size_t>(std::max(width, 0)) *
                            static_cast<std::size_t>(std::max(height, 0)),
                        0);
    std::copy(sites.begin(), sites.end(), frame.Sites.begin());
    std::copy(black.begin(), black.end(), frame.Black.begin());
    frame.White = white;
    return frame;
}

} // namespace pruvex::measure
