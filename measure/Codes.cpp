#include "measure/Codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pruvex::measure {

namespace {

constexpr int Residues = 16; // the largest digital gain looked for

using Histogram = std::vector<std::uint32_t>;

// Each channel's histogram of values, and each site's count of values by
// their remainder modulo 16 (below `below` only, so that clipped values do
// not count).
void Count(const CfaFrame& frame, std::array<Histogram, ChannelCount>& histograms,
           std::array<std::array<long long, Residues>, LargestSites>& residues, int below) {
    for (Histogram& h : histograms) {
        h.assign(65536, 0);
    }
    const int pw = frame.PatternWidth;
    for (int y = 0; y < frame.Height; ++y) {
        const std::uint16_t* row = frame.Values.data() + static_cast<std::size_t>(y) *
                                                             static_cast<std::size_t>(frame.Width);
        for (int sx = 0; sx < pw; ++sx) {
            const auto site = static_cast<std::size_t>(frame.SiteOf(sx, y));
            Histogram& h = histograms[static_cast<std::size_t>(frame.Sites[site])];
            auto& r = residues[site];
            for (int x = sx; x < frame.Width; x += pw) {
                const std::uint16_t v = row[static_cast<std::size_t>(x)];
                ++h[v];
                r[v % Residues] += v < below ? 1 : 0;
            }
        }
    }
}

// The highest spike of a channel's histogram above a quarter of the range:
// a value holding at least 16 pixels and four times as many as any of the
// 32 values below it; of several, the one with most pixels.
double PileUpOf(const Histogram& h, double black, double white) {
    const int low = static_cast<int>(black + 0.25 * (white - black));
    const int high = std::min(static_cast<int>(white), 65535);
    double found = 0;
    std::uint32_t most = 0;
    for (int v = std::max(low, 32); v <= high; ++v) {
        const std::uint32_t n = h[static_cast<std::size_t>(v)];
        if (n < 16 || n <= most) {
            continue;
        }
        const auto from = h.begin() + v - 32;
        const std::uint32_t neighbours = *std::max_element(from, h.begin() + v);
        if (n >= 4 * neighbours) {
            found = v;
            most = n;
        }
    }
    return found;
}

// N where at least 99 % of a site's values fall on one remainder modulo N,
// and the values spread over at least 4 N codes.
int DigitalGainOf(const std::array<long long, Residues>& counts, long long spread) {
    long long total = 0;
    for (const long long c : counts) {
        total += c;
    }
    if (total == 0) {
        return 0;
    }
    for (int n = Residues; n >= 2; n /= 2) {
        long long best = 0;
        for (int r = 0; r < n; ++r) {
            long long inClass = 0;
            for (int k = r; k < Residues; k += n) {
                inClass += counts[static_cast<std::size_t>(k)];
            }
            best = std::max(best, inClass);
        }
        if (static_cast<double>(best) >= 0.99 * static_cast<double>(total)) {
            return spread >= 4LL * n ? n : 0;
        }
    }
    return 1;
}

} // namespace

FrameCodes ReadCodes(const CfaFrame& frame) {
    FrameCodes codes;
    if (!frame.Valid()) {
        return codes;
    }
    std::array<Histogram, ChannelCount> histograms;
    std::array<std::array<long long, Residues>, LargestSites> residues{};
    const double black = frame.HighestBlack();
    const int below = static_cast<int>(black + 0.9 * (frame.White - black));
    Count(frame, histograms, residues, below);
    for (int ch = 0; ch < frame.Channels(); ++ch) {
        const Histogram& h = histograms[static_cast<std::size_t>(ch)];
        const double pileUp = PileUpOf(h, frame.ChannelBlack(ch), frame.White);
        if (pileUp > 0 && (codes.PileUp == 0 || pileUp < codes.PileUp)) {
            codes.PileUp = pileUp;
        }
        // The codes from the lowest value to the highest.
        const auto first = std::find_if(h.begin(), h.end(), [](std::uint32_t n) { return n > 0; });
        const auto last = std::find_if(h.rbegin(), h.rend(), [](std::uint32_t n) { return n > 0; });
        const long long spread = first == h.end() ? 0 : (h.rend() - last) - (first - h.begin());
        int gain = 0;
        for (int site = 0; site < frame.SiteCount(); ++site) {
            if (frame.Sites[static_cast<std::size_t>(site)] == ch) {
                const int n = DigitalGainOf(residues[static_cast<std::size_t>(site)], spread);
                gain = gain == 0 ? n : std::min(gain, n);
            }
        }
        codes.DigitalGain[static_cast<std::size_t>(ch)] = gain;
    }
    return codes;
}

bool WhiteBelowFile(double measured, double file, double black) {
    return measured > black && measured < file - 0.005 * (file - black);
}

void UseMeasuredWhite(CfaFrame& frame, double pileUp) {
    if (pileUp > 0 && WhiteBelowFile(pileUp, frame.White, frame.HighestBlack())) {
        frame.FileWhite = frame.White;
        frame.White = pileUp;
    }
}

} // namespace pruvex::measure
