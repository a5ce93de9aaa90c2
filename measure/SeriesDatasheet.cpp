#include "measure/SeriesDatasheet.h"

#include "measure/Linearity.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>

namespace pruvex::measure {

namespace {

std::string Format(const char* format, double value) {
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, value);
    return buffer.data();
}

bool SameTime(double a, double b) {
    return std::abs(a - b) <= 1e-3 * std::max(std::abs(a), std::abs(b));
}

// A non-uniformity from variance parts, each scaled (the square root of
// the part times `scale`).
NonUniformity FromParts(const VarianceParts& parts, double scale) {
    const auto root = [scale](double v) { return std::sqrt(std::max(v, 0.0)) * scale; };
    return {true, root(parts.Total()), root(parts.Row), root(parts.Column), root(parts.Pixel)};
}

VarianceParts Less(VarianceParts a, const VarianceParts& b) {
    a.Row -= b.Row;
    a.Column -= b.Column;
    a.Pixel -= b.Pixel;
    return a;
}

} // namespace

void DatasheetSums::AddCodes(const CfaFrame& frame, const FrameCodes& codes) {
    if (fileWhite_ == 0) {
        fileWhite_ = frame.FileWhite > 0 ? frame.FileWhite : frame.White;
        for (int ch = 0; ch < ChannelCount; ++ch) {
            black_[static_cast<std::size_t>(ch)] = frame.ChannelBlack(ch);
        }
    }
    if (codes.PileUp > 0) {
        pileUps_.push_back(codes.PileUp);
    }
    for (std::size_t ch = 0; ch < digitalGain_.size(); ++ch) {
        const int n = codes.DigitalGain[ch];
        if (n > 0) {
            digitalGain_[ch] = digitalGain_[ch] == 0 ? n : std::min(digitalGain_[ch], n);
        }
    }
}

void DatasheetSums::AddDarkPair(const CfaFrame& first, const CfaFrame& second, const Stats& pair) {
    PairRecord record;
    record.Shutter = second.Shutter;
    for (std::size_t ch = 0; ch < record.Mean.size(); ++ch) {
        record.Mean[ch] = pair[ch].Mean;
    }
    record.HasParts = PairParts(second, PairVariancesOf(first, second), record.Parts);
    darks_.push_back(record);
}

void DatasheetSums::AddFlat(CfaFrame frame, const Stats& whole) {
    const auto waiting =
        std::find_if(waitingFlats_.begin(), waitingFlats_.end(), [&](const auto& w) {
            return SameTime(w.Frame.Shutter, frame.Shutter) && w.Frame.Width == frame.Width &&
                   w.Frame.Height == frame.Height;
        });
    if (waiting == waitingFlats_.end()) {
        waitingFlats_.push_back({std::move(frame), whole});
        return;
    }
    PairRecord record;
    record.Shutter = frame.Shutter;
    for (std::size_t ch = 0; ch < record.Mean.size(); ++ch) {
        const ChannelStats& a = waiting->Whole[ch];
        const ChannelStats& b = whole[ch];
        record.Mean[ch] = (a.Mean + b.Mean) / 2;
        const auto part = [](const ChannelStats& s) {
            return s.Pixels + s.Rejected > 0
                       ? static_cast<double>(s.Clipped) / static_cast<double>(s.Pixels + s.Rejected)
                       : 0.0;
        };
        record.Clipped[ch] = std::max(part(a), part(b));
    }
    record.HasParts = PairParts(frame, PairVariancesOf(waiting->Frame, frame), record.Parts);
    waitingFlats_.erase(waiting);
    flats_.push_back(record);
}

double DatasheetSums::MeasuredWhite() const {
    if (pileUps_.empty()) {
        return 0;
    }
    std::vector<double> levels = pileUps_;
    const auto middle = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 2);
    std::nth_element(levels.begin(), middle, levels.end());
    return *middle;
}

double DatasheetSums::Range(int channel, double fileRange) const {
    const double measured = MeasuredWhite();
    const double black = black_[static_cast<std::size_t>(channel)];
    return WhiteBelowFile(measured, fileWhite_, black) ? measured - black : fileRange;
}

const DatasheetSums::PairRecord* DatasheetSums::NearestDark(double shutter) const {
    const PairRecord* nearest = nullptr;
    for (const PairRecord& d : darks_) {
        if (d.HasParts &&
            (nearest == nullptr || std::abs(std::log(d.Shutter / shutter)) <
                                       std::abs(std::log(nearest->Shutter / shutter)))) {
            nearest = &d;
        }
    }
    return nearest;
}

void DatasheetSums::FinishWhite(IsoFigures& iso) const {
    const double measured = MeasuredWhite();
    for (int ch = 0; ch < ChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        ChannelDatasheet& d = iso.Datasheet[c];
        d.WhiteMeasured = measured > 0;
        d.WhiteDn = (measured > 0 ? measured : fileWhite_) - black_[c];
        d.DigitalGain = std::max(digitalGain_[c], 1);
    }
    const double black = black_[iso.Monochrome ? 0 : 1];
    if (WhiteBelowFile(measured, fileWhite_, black)) {
        std::array<char, 240> line{};
        std::snprintf(line.data(), line.size(),
                      "ISO %g: the frames clip at %.0f DN above black, %.1f %% below the file's "
                      "white level (%.0f): clipping, full well and dynamic range from the "
                      "measured level",
                      iso.Iso, measured - black,
                      100 * (fileWhite_ - measured) / (fileWhite_ - black), fileWhite_ - black);
        iso.DatasheetNotes.emplace_back(line.data());
    }
}

void DatasheetSums::FinishDsnu(IsoFigures& iso) const {
    ChannelParts sum{};
    int count = 0;
    for (const PairRecord& d : darks_) {
        if (!d.HasParts) {
            continue;
        }
        for (std::size_t ch = 0; ch < sum.size(); ++ch) {
            sum[ch].Row += d.Parts[ch].Row;
            sum[ch].Column += d.Parts[ch].Column;
            sum[ch].Pixel += d.Parts[ch].Pixel;
        }
        ++count;
    }
    for (std::size_t ch = 0; ch < sum.size() && count > 0; ++ch) {
        const double gain = iso.Channels[ch].Gain;
        if (gain > 0) {
            const VarianceParts mean{sum[ch].Row / count, sum[ch].Column / count,
                                     sum[ch].Pixel / count};
            iso.Datasheet[ch].DsnuE = FromParts(mean, gain);
        }
    }
}

void DatasheetSums::FinishFlats(IsoFigures& iso) const {
    for (std::size_t ch = 0; ch < iso.Datasheet.size(); ++ch) {
        // The pairs of each exposure time averaged, the dark signal taken off.
        std::vector<FlatPoint> points;
        std::vector<std::pair<VarianceParts, double>> uniformity; // parts, mean
        for (const PairRecord& f : flats_) {
            const PairRecord* dark = NearestDark(f.Shutter);
            const double darkMean = dark != nullptr ? dark->Mean[ch] : 0.0;
            const auto same = std::find_if(points.begin(), points.end(), [&](const FlatPoint& p) {
                return SameTime(p.Shutter, f.Shutter);
            });
            if (same == points.end()) {
                points.push_back({f.Shutter, f.Mean[ch] - darkMean, f.Clipped[ch]});
            } else {
                same->Mean = (same->Mean + f.Mean[ch] - darkMean) / 2;
                same->ClippedPart = std::max(same->ClippedPart, f.Clipped[ch]);
            }
            if (f.HasParts && dark != nullptr) {
                uniformity.emplace_back(Less(f.Parts[ch], dark->Parts[ch]), f.Mean[ch] - darkMean);
            }
        }
        ChannelDatasheet& d = iso.Datasheet[ch];
        d.Line = FitLinearity(points);
        const double saturation = d.Line.SaturationDn;
        if (uniformity.empty() || !(saturation > 0)) {
            continue;
        }
        const auto nearest = std::min_element(
            uniformity.begin(), uniformity.end(), [saturation](const auto& a, const auto& b) {
                return std::abs(a.second - saturation / 2) < std::abs(b.second - saturation / 2);
            });
        if (nearest->second > 0) {
            d.PrnuPct = FromParts(nearest->first, 100 / nearest->second);
        }
    }
}

// A line of a non-uniformity's channels, each whole and its parts.
void NoteUniformity(IsoFigures& iso, const std::string& what,
                    NonUniformity ChannelDatasheet::*figure) {
    std::string line = "ISO " + Format("%g", iso.Iso) + " " + what + ":";
    bool any = false;
    for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
        const NonUniformity& u = iso.Datasheet[static_cast<std::size_t>(ch)].*figure;
        if (u.Valid) {
            line += std::string(any ? ", " : " ") + ChannelName(ch, iso.Monochrome) + " " +
                    Format("%.3g", u.Total) + " (" + Format("%.3g", u.Row) + "/" +
                    Format("%.3g", u.Column) + "/" + Format("%.3g", u.Pixel) + ")";
            any = true;
        }
    }
    if (any) {
        iso.DatasheetNotes.push_back(line);
    }
}

void DatasheetSums::Finish(IsoFigures& iso) const {
    FinishWhite(iso);
    FinishDsnu(iso);
    FinishFlats(iso);
    NoteUniformity(iso, "DSNU e-, whole (rows/columns/pixels)", &ChannelDatasheet::DsnuE);
    NoteUniformity(iso, "PRNU %, whole (rows/columns/pixels)", &ChannelDatasheet::PrnuPct);
}

} // namespace pruvex::measure
