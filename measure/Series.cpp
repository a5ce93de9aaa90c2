#include "measure/Series.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace pruvex::measure {

namespace {

// Two placements of one scene close enough to take the frames as a pair:
// the first and the last square's centres within 3 % of a pitch.
bool SamePlace(const Placement& a, const Placement& b, const MosaicLayout& layout) {
    for (const auto& [column, row] :
         {std::pair{0, 0}, std::pair{layout.Columns - 1, layout.Rows - 1}}) {
        const Point p = SquareCentre(a, column, row);
        const Point q = SquareCentre(b, column, row);
        if (std::hypot(p.X - q.X, p.Y - q.Y) > 0.03 * a.Pitch) {
            return false;
        }
    }
    return true;
}

} // namespace

void Series::AddStats(ChannelSums& sums, const Stats& stats) {
    for (std::size_t ch = 0; ch < sums.size(); ++ch) {
        const ChannelStats& s = stats[ch];
        const auto n = static_cast<double>(s.Pixels);
        sums[ch].Mean += s.Mean * n;
        sums[ch].MeanPixels += n;
        sums[ch].SingleVariance += s.Variance * n;
        sums[ch].Pixels = std::max(sums[ch].Pixels, s.Pixels);
        sums[ch].Clipped += s.Clipped;
    }
}

void Series::AddPair(ChannelSums& sums, const Stats& stats) {
    for (std::size_t ch = 0; ch < sums.size(); ++ch) {
        const auto n = static_cast<double>(stats[ch].Pixels);
        sums[ch].PairVariance += stats[ch].Variance * n;
        sums[ch].PairPixels += n;
    }
}

FrameRole Series::Add(CfaFrame frame, bool givenAsDark) {
    const auto key = static_cast<long long>(std::llround(frame.Iso));
    Group& group = groups_[key];
    if (group.Frames == 0 && group.Darks == 0) {
        group.Iso = frame.Iso;
        group.Squares.resize(layout_.Squares.size());
        for (int ch = 0; ch < ChannelCount; ++ch) {
            group.Range[static_cast<std::size_t>(ch)] = frame.White - frame.ChannelBlack(ch);
        }
    }
    if (givenAsDark) {
        AddDark(group, std::move(frame));
        return FrameRole::Dark;
    }
    if (const std::optional<Placement> placement = FindMosaic(frame, layout_)) {
        AddMosaic(group, std::move(frame), *placement);
        return FrameRole::Mosaic;
    }
    if (LooksDark(frame)) {
        AddDark(group, std::move(frame));
        return FrameRole::FoundDark;
    }
    if (group.Frames == 0 && group.Darks == 0) {
        groups_.erase(key);
    }
    return FrameRole::NoMosaic;
}

void Series::AddMosaic(Group& group, CfaFrame frame, const Placement& placement) {
    const std::vector<Stats> single = MeasureSquares(frame, placement, layout_);
    for (std::size_t k = 0; k < single.size(); ++k) {
        AddStats(group.Squares[k], single[k]);
    }
    ++group.Frames;
    if (group.PendingMosaic && group.PendingMosaic->Width == frame.Width &&
        group.PendingMosaic->Height == frame.Height &&
        SamePlace(group.PendingPlacement, placement, layout_)) {
        const std::vector<Stats> pair =
            MeasureSquarePair(*group.PendingMosaic, frame, group.PendingPlacement, layout_);
        for (std::size_t k = 0; k < pair.size(); ++k) {
            AddPair(group.Squares[k], pair[k]);
        }
        ++group.Pairs;
        group.PendingMosaic.reset();
    } else {
        group.PendingMosaic = std::move(frame);
        group.PendingPlacement = placement;
    }
}

void Series::AddDark(Group& group, CfaFrame frame) {
    AddStats(group.Dark, MeasureFrame(frame));
    ++group.Darks;
    if (group.PendingDark && group.PendingDark->Width == frame.Width &&
        group.PendingDark->Height == frame.Height) {
        AddPair(group.Dark, MeasureFramePair(*group.PendingDark, frame));
        ++group.DarkPairs;
        group.PendingDark.reset();
    } else {
        group.PendingDark = std::move(frame);
    }
}

std::vector<IsoFigures> Series::Figures() const {
    std::vector<IsoFigures> result;
    for (const auto& [key, group] : groups_) {
        if (group.Frames == 0) {
            continue;
        }
        IsoFigures iso;
        iso.Iso = group.Iso;
        iso.Frames = group.Frames;
        iso.DarkFrames = group.Darks;
        iso.SingleFrame = group.Pairs == 0;
        const auto variance = [](const Sums& s, bool pairs) {
            if (pairs) {
                return s.PairPixels > 0 ? s.PairVariance / s.PairPixels : 0.0;
            }
            return s.MeanPixels > 0 ? s.SingleVariance / s.MeanPixels : 0.0;
        };
        for (const ChannelSums& square : group.Squares) {
            Stats stats;
            for (std::size_t ch = 0; ch < stats.size(); ++ch) {
                const Sums& s = square[ch];
                stats[ch].Pixels = s.Pixels;
                stats[ch].Clipped = s.Clipped;
                stats[ch].Mean = s.MeanPixels > 0 ? s.Mean / s.MeanPixels : 0.0;
                stats[ch].Variance = variance(s, group.Pairs > 0);
            }
            iso.Squares.push_back(stats);
        }
        for (int ch = 0; ch < ChannelCount; ++ch) {
            const auto c = static_cast<std::size_t>(ch);
            const double dark =
                group.Darks > 0 ? variance(group.Dark[c], group.DarkPairs > 0) : 0.0;
            iso.Channels[c] = measure::Figures(iso.Squares, ch, group.Range[c], dark);
        }
        result.push_back(std::move(iso));
    }
    return result;
}

std::vector<double> Series::DarkOnlyIsos() const {
    std::vector<double> isos;
    for (const auto& [key, group] : groups_) {
        if (group.Frames == 0 && group.Darks > 0) {
            isos.push_back(group.Iso);
        }
    }
    return isos;
}

} // namespace pruvex::measure
