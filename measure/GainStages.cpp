#include "measure/GainStages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

namespace pruvex::measure {

namespace {

std::string Text(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    std::array<char, 160> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, a, b, c, d);
    return buffer.data();
}

struct NoisePoint {
    std::size_t Index = 0; // into the figures
    double Gain = 0;       // e-/DN
    double Read = 0;       // e-
};

// The usual two-part read noise, read^2 = a + b gain^2 (electrons before
// the amplifier, DN after it), fitted to the points; its value at a gain.
double TwoPartModel(const std::vector<NoisePoint>& points, std::size_t count, double gain) {
    double n = 0;
    double sx = 0;
    double sy = 0;
    double sxx = 0;
    double sxy = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = points[i].Gain * points[i].Gain;
        const double y = points[i].Read * points[i].Read;
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double det = n * sxx - sx * sx;
    double b = det > 0 ? (n * sxy - sx * sy) / det : 0;
    double a = (sy - b * sx) / n;
    if (b < 0) {
        b = 0;
        a = sy / n;
    } else if (a < 0) {
        a = 0;
        b = sxx > 0 ? sxy / sxx : 0;
    }
    return std::sqrt(a + b * gain * gain);
}

// The index of the first ISO of the high conversion gain, or 0: at least
// two ISOs each side, its read noise at least 1.3 times below both the
// ISO before it and the two-part trend of the ISOs before it.
std::size_t SwitchOf(const std::vector<NoisePoint>& points) {
    constexpr double Step = 1.3;
    std::size_t found = 0;
    double largest = 0;
    for (std::size_t k = 2; k + 2 <= points.size(); ++k) {
        const double trend = TwoPartModel(points, k, points[k].Gain) / points[k].Read;
        const double drop = points[k - 1].Read / points[k].Read;
        if (trend >= Step && drop >= Step && trend > largest) {
            largest = trend;
            found = k;
        }
    }
    return found;
}

} // namespace

void FindGainStages(std::vector<IsoFigures>& figures) {
    for (int ch = 0; ch < ChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        std::vector<NoisePoint> points;
        for (std::size_t i = 0; i < figures.size(); ++i) {
            const ChannelFigures& f = figures[i].Channels[c];
            if (ch < figures[i].ChannelsUsed() && f.Gain > 0 && f.ReadNoiseE > 0) {
                points.push_back({i, f.Gain, f.ReadNoiseE});
            }
        }
        const std::size_t k = SwitchOf(points);
        if (k == 0) {
            continue;
        }
        for (std::size_t j = 0; j < points.size(); ++j) {
            figures[points[j].Index].Datasheet[c].GainStage = j < k ? 1 : 2;
        }
        IsoFigures& at = figures[points[k].Index];
        at.DatasheetNotes.push_back(std::string(ChannelName(ch, at.Monochrome)) +
                                    Text(": high conversion gain from ISO %g (read noise %.2g e- ",
                                         at.Iso, points[k - 1].Read) +
                                    Text("at ISO %g, %.2g e- at ISO %g)",
                                         figures[points[k - 1].Index].Iso, points[k].Read, at.Iso));
    }
}

void NoteDigitalGain(std::vector<IsoFigures>& figures) {
    for (IsoFigures& iso : figures) {
        int gain = 0;
        for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
            const int n = iso.Datasheet[static_cast<std::size_t>(ch)].DigitalGain;
            gain = gain == 0 ? n : std::min(gain, n);
        }
        if (gain > 1) {
            const double base = iso.Iso / gain;
            iso.DatasheetNotes.push_back(
                Text("ISO %g: digital gain x %g over ISO %g: no less noise; shoot at ISO %g and "
                     "brighten",
                     iso.Iso, gain, base, base));
        }
    }
}

void NoteIsoInvariance(std::vector<IsoFigures>& figures) {
    // The read noise in electrons, averaged over the channels that have it.
    const auto read = [](const IsoFigures& iso) {
        double sum = 0;
        int count = 0;
        for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
            const ChannelFigures& f = iso.Channels[static_cast<std::size_t>(ch)];
            if (f.ReadNoiseE > 0 && f.Gain > 0) {
                sum += f.ReadNoiseE;
                ++count;
            }
        }
        return count > 0 ? sum / count : 0.0;
    };
    for (IsoFigures& iso : figures) {
        const auto below = std::find_if(figures.begin(), figures.end(), [&](const IsoFigures& b) {
            return b.Iso > 0 && std::abs(std::log2(iso.Iso / b.Iso) - 1) < 1.0 / 6;
        });
        if (below == figures.end() || read(iso) <= 0 || read(*below) <= 0) {
            continue;
        }
        if (std::abs(read(iso) / read(*below) - 1) <= 0.05) {
            iso.DatasheetNotes.push_back(
                Text("ISO %g: ISO-invariant from here (read noise %.2g e-, %.2g e- at ISO %g): a "
                     "higher ISO brings no less noise",
                     iso.Iso, read(iso), read(*below), below->Iso));
            return;
        }
    }
}

} // namespace pruvex::measure
