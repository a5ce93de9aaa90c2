#pragma once

// One raw frame as the sensor delivered it: a value per photosite behind a
// colour filter pattern that repeats every few rows and columns (2 x 2 on a
// Bayer sensor, 6 x 6 on an X-Trans sensor, 1 x 1 without a filter), with
// the levels that give the values meaning.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pruvex::measure {

// The sensor's colour channels; every green site of the pattern is G. A
// monochrome sensor has one channel, the first, named Y.
inline constexpr int ChannelCount = 3;
inline constexpr std::array<const char*, ChannelCount> ChannelNames{"R", "G", "B"};
inline const char* ChannelName(int channel, bool monochrome) {
    return monochrome ? "Y" : ChannelNames[static_cast<std::size_t>(channel)];
}

// The largest pattern of sites (colours and black levels) a frame holds.
inline constexpr int LargestPattern = 6;
inline constexpr std::size_t LargestSites = 36;

struct CfaFrame {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint16_t> Values; // row by row, Width x Height
    // The pattern's size; its sites are numbered row by row.
    int PatternWidth = 2;
    int PatternHeight = 2;
    // Channel (0 R, 1 G, 2 B) of each site, from the visible area's origin.
    std::array<int, LargestSites> Sites{0, 1, 1, 2};
    std::array<double, LargestSites> Black{}; // of each site, DN
    bool Monochrome = false;
    double White = 65535; // the level at which the sensor saturates, DN
    // The white level the file gives, where the frame's own clipping lies
    // lower and White was set to it; 0 where White is the file's.
    double FileWhite = 0;
    double Iso = 0;
    double Shutter = 0; // exposure time, s

    int SiteOf(int x, int y) const { return (y % PatternHeight) * PatternWidth + x % PatternWidth; }
    int SiteCount() const { return PatternWidth * PatternHeight; }
    int ChannelAt(int x, int y) const { return Sites[static_cast<std::size_t>(SiteOf(x, y))]; }
    double BlackAt(int x, int y) const { return Black[static_cast<std::size_t>(SiteOf(x, y))]; }
    std::uint16_t At(int x, int y) const {
        return Values[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                      static_cast<std::size_t>(x)];
    }
    // The channels the frame has: 1 for a monochrome sensor, else 3.
    int Channels() const { return Monochrome ? 1 : ChannelCount; }
    // The mean black level of a channel's sites; the highest of all.
    double ChannelBlack(int channel) const;
    double HighestBlack() const;
    // A pattern of 1 to 6 sites each way, every site of a channel within the
    // frame's channels, the values filling the frame.
    bool Valid() const;
    // A 2 x 2 Bayer frame of the given size, sites and black levels, its
    // values 0.
    static CfaFrame Bayer(int width, int height, std::array<int, 4> sites,
                          std::array<double, 4> black, double white);
};

} // namespace pruvex::measure
