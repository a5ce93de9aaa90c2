#include "measure/Codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pruvex::measure {

namespace {

constexpr int Residues = 16; // the largest digital gain looked for

using Histogram = std::vector<std::uint32_t>;

// A site's count of values by their remainder modulo 16 (below `below`
// only, so that clipped values do not count).
std::array<long long, Residues> ResiduesOf(const std::uint32_t* counts, int below) {
    std::array<long long, Residues> residues{};
    for (int v = 0; v < below && v < static_cast<int>(ValueCounts::Values); ++v) {
        residues[static_cast<std::size_t>(v % Residues)] += counts[v];
    }
    return residues;
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
    return ReadCodes(frame, CountValues(frame));
}

FrameCodes ReadCodes(const CfaFrame& frame, const ValueCounts& counts) {
    FrameCodes codes;
    if (!frame.Valid() || counts.Sites != frame.SiteCount()) {
        return codes;
    }
    const double black = frame.HighestBlack();
    const int below = static_cast<int>(black + 0.9 * (frame.White - black));
    for (int ch = 0; ch < frame.Channels(); ++ch) {
        const Histogram h = counts.Channel(frame, ch);
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
                const int n = DigitalGainOf(ResiduesOf(counts.Site(site), below), spread);
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
