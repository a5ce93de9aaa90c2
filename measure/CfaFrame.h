#pragma once

// One raw frame as the sensor delivered it: a value per photosite behind a
// 2 x 2 colour filter pattern, with the levels that give the values meaning.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pruvex::measure {

// The sensor's colour channels; both green sites of the pattern are G.
inline constexpr int ChannelCount = 3;
inline constexpr std::array<const char*, ChannelCount> ChannelNames{"R", "G", "B"};

struct CfaFrame {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint16_t> Values; // row by row, Width x Height
    // Channel (0 R, 1 G, 2 B) of the site at (x % 2, y % 2), index
    // (y % 2) * 2 + x % 2.
    std::array<int, 4> Sites{0, 1, 1, 2};
    std::array<double, 4> Black{}; // black level of each site, DN
    double White = 65535;          // the level at which the sensor saturates, DN
    double Iso = 0;
    double Shutter = 0; // exposure time, s

    static int SiteOf(int x, int y) { return (y & 1) * 2 + (x & 1); }
    std::uint16_t At(int x, int y) const {
        return Values[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                      static_cast<std::size_t>(x)];
    }
    // The mean black level of a channel's sites.
    double ChannelBlack(int channel) const;
};

} // namespace pruvex::measure
