#include "measure/FrameSets.h"

#include "measure/GainStages.h"

#include <algorithm>
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

// Exposure times the metadata give alike (1/250 s written as 0.004 or as
// 1/250).
bool SameShutter(double a, double b) {
    return std::abs(a - b) <= 1e-3 * std::max(std::abs(a), std::abs(b));
}

// Bands across the rows in a set's pairs: the rows' mean differences vary
// more than the pixels' noise lets them, over the squares below clipping.
bool Banded(const std::vector<Stats>& squares, int channels) {
    double ratios = 0;
    double rows = 0;
    int count = 0;
    for (const Stats& square : squares) {
        for (int ch = 0; ch < channels; ++ch) {
            const ChannelStats& s = square[static_cast<std::size_t>(ch)];
            if (s.Clipped == 0 && s.Rows > 3 && s.Variance > 0) {
                ratios += s.RowsVariance / s.Variance;
                rows += static_cast<double>(s.Rows);
                ++count;
            }
        }
    }
    if (count == 0) {
        return false;
    }
    // Without bands each ratio is about 1, to within sqrt(2 / rows).
    const double spread = std::sqrt(2 / (rows / count)) / std::sqrt(count);
    return ratios / count > 1.1 + 5 * spread;
}

// A channel with too few squares below clipping: no figures, and a shorter
// time worked out from the set with the shortest.
void TooFewSquares(ChannelFigures& f, const std::vector<ExposureSet>& sets,
                   const std::vector<int>& layoutLevels, int ch) {
    const double range = f.Range;
    const int usable = f.Usable;
    f = ChannelFigures{};
    f.Range = range;
    f.Usable = usable;
    f.TooFew = true;
    const auto shortest =
        std::min_element(sets.begin(), sets.end(), [](const ExposureSet& a, const ExposureSet& b) {
            return a.Shutter < b.Shutter;
        });
    if (shortest != sets.end()) {
        f.SuggestedShutter = UsualShutter(
            SuggestShutter(shortest->Squares, layoutLevels, ch, range, shortest->Shutter));
    }
}

} // namespace

FrameCheck CheckFrame(const CfaFrame& frame, const MosaicLayout& layout) {
    FrameCheck check;
    check.Channels = frame.Channels();
    const std::optional<Placement> where = FindMosaic(frame, layout);
    if (!where) {
        return check;
    }
    check.Found = true;
    check.Where = *where;
    check.Squares = MeasureSquares(frame, *where, layout);
    for (const Stats& square : check.Squares) {
        for (std::size_t ch = 0; ch < square.size(); ++ch) {
            check.Measured[ch] += square[ch].Pixels > 0 ? 1 : 0;
            check.Unclipped[ch] += square[ch].Pixels > 0 && square[ch].Clipped == 0 ? 1 : 0;
        }
    }
    return check;
}

FrameAnalysis AnalyseFrame(const CfaFrame& frame, const ValueCounts& counts, bool givenAsDark,
                           const MosaicLayout& layout, bool givenAsFlat) {
    FrameAnalysis analysis;
    if (givenAsFlat) {
        analysis.Role = FrameRole::Flat;
    } else if (givenAsDark) {
        analysis.Role = FrameRole::Dark;
    } else if (const std::optional<Placement> where = FindMosaic(frame, layout)) {
        analysis.Role = FrameRole::Mosaic;
        analysis.Where = *where;
        analysis.Squares = MeasureSquares(frame, *where, layout);
        return analysis;
    } else if (LooksDark(frame, counts)) {
        analysis.Role = FrameRole::FoundDark;
    } else {
        return analysis;
    }
    analysis.Spreads = SpreadsOf(frame, counts);
    analysis.Whole = MeasureFrame(frame, counts, analysis.Spreads);
    return analysis;
}

FrameAnalysis SettleAndAnalyse(CfaFrame& frame, bool givenAsDark, bool givenAsFlat,
                               const MosaicLayout& layout) {
    const ValueCounts counts = CountValues(frame);
    const FrameCodes codes = ReadCodes(frame, counts);
    UseMeasuredWhite(frame, codes.PileUp);
    FrameAnalysis analysis = AnalyseFrame(frame, counts, givenAsDark, layout, givenAsFlat);
    analysis.Codes = codes;
    return analysis;
}

void FrameSets::AddStats(ChannelSums& sums, const Stats& stats) {
    for (std::size_t ch = 0; ch < sums.size(); ++ch) {
        const ChannelStats& s = stats[ch];
        const auto n = static_cast<double>(s.Pixels);
        sums[ch].Mean += s.Mean * n;
        sums[ch].MeanPixels += n;
        sums[ch].Variance += s.Variance * n;
        sums[ch].RowsVariance += s.RowsVariance * n;
        sums[ch].Rows += s.Rows;
        sums[ch].Pixels = std::max(sums[ch].Pixels, s.Pixels);
        sums[ch].Clipped += s.Clipped;
        sums[ch].Rejected += s.Rejected;
    }
}

FrameRole FrameSets::Add(CfaFrame frame, bool givenAsDark, const std::string& name,
                         bool givenAsFlat) {
    const FrameAnalysis analysis = SettleAndAnalyse(frame, givenAsDark, givenAsFlat, layout_);
    return Add(std::move(frame), analysis, name);
}

FrameRole FrameSets::Add(CfaFrame frame, const FrameAnalysis& analysis, const std::string& name) {
    if (analysis.Role == FrameRole::NoMosaic) {
        return analysis.Role;
    }
    const auto key = static_cast<long long>(std::llround(frame.Iso));
    Group& group = groups_[key];
    if (group.Frames == 0 && group.Darks == 0) {
        group.Iso = frame.Iso;
        group.Monochrome = frame.Monochrome;
        // The file's white level: a measured one replaces it only where the
        // ISO's frames together say so.
        const double white = frame.FileWhite > 0 ? frame.FileWhite : frame.White;
        for (int ch = 0; ch < ChannelCount; ++ch) {
            group.Range[static_cast<std::size_t>(ch)] = white - frame.ChannelBlack(ch);
        }
    }
    group.Sheet.AddCodes(frame, analysis.Codes);
    if (analysis.Role == FrameRole::Mosaic) {
        AddMosaic(group, std::move(frame), analysis, name);
    } else if (analysis.Role == FrameRole::Flat) {
        group.Sheet.AddFlat(std::move(frame), analysis.Whole);
    } else {
        AddDark(group, std::move(frame), analysis);
    }
    return analysis.Role;
}

void FrameSets::AddMosaic(Group& group, CfaFrame frame, const FrameAnalysis& analysis,
                          const std::string& name) {
    auto set = std::find_if(group.Sets.begin(), group.Sets.end(),
                            [&](const Set& s) { return SameShutter(s.Shutter, frame.Shutter); });
    if (set == group.Sets.end()) {
        group.Sets.emplace_back();
        set = group.Sets.end() - 1;
        set->Shutter = frame.Shutter;
        set->Singles.resize(layout_.Squares.size());
        set->PairSums.resize(layout_.Squares.size());
    }
    for (std::size_t k = 0; k < analysis.Squares.size() && k < set->Singles.size(); ++k) {
        AddStats(set->Singles[k], analysis.Squares[k]);
    }
    ++group.Frames;
    ++set->Frames;
    if (set->Waiting && set->Waiting->Frame.Width == frame.Width &&
        set->Waiting->Frame.Height == frame.Height &&
        SamePlace(set->Waiting->Where, analysis.Where, layout_)) {
        const std::vector<Stats> pair =
            MeasureSquarePair(set->Waiting->Frame, frame, set->Waiting->Where, layout_);
        for (std::size_t k = 0; k < pair.size(); ++k) {
            AddStats(set->PairSums[k], pair[k]);
        }
        ++set->Pairs;
        set->Waiting.reset();
        return;
    }
    if (set->Waiting) {
        set->Unpaired.push_back(set->Waiting->Name);
    }
    set->Waiting = Pending{std::move(frame), analysis.Where, name};
}

void FrameSets::AddDark(Group& group, CfaFrame frame, const FrameAnalysis& analysis) {
    AddStats(group.DarkSingles, analysis.Whole);
    ++group.Darks;
    if (group.PendingDark && group.PendingDark->Frame.Width == frame.Width &&
        group.PendingDark->Frame.Height == frame.Height) {
        const CfaFrame& waiting = group.PendingDark->Frame;
        const Stats pair =
            MeasureFramePair(waiting, group.PendingDark->Spreads, frame, analysis.Spreads);
        AddStats(group.DarkPairSums, pair);
        group.Sheet.AddDarkPair(waiting, frame, pair);
        ++group.DarkPairs;
        group.PendingDark.reset();
    } else {
        group.PendingDark = PendingDarkFrame{std::move(frame), analysis.Spreads};
    }
}

namespace {

// A pixel-weighted variance from its sums.
template <typename Sums> double VarianceOf(const Sums& s) {
    return s.MeanPixels > 0 ? s.Variance / s.MeanPixels : 0.0;
}

// A square's statistics from its sums over the frames or pairs.
template <typename ChannelSums> Stats Finish(const ChannelSums& square) {
    Stats stats;
    for (std::size_t ch = 0; ch < stats.size(); ++ch) {
        const auto& s = square[ch];
        stats[ch].Pixels = s.Pixels;
        stats[ch].Clipped = s.Clipped;
        stats[ch].Rejected = s.Rejected;
        stats[ch].Mean = s.MeanPixels > 0 ? s.Mean / s.MeanPixels : 0.0;
        stats[ch].Variance = VarianceOf(s);
        stats[ch].RowsVariance = s.MeanPixels > 0 ? s.RowsVariance / s.MeanPixels : 0.0;
        stats[ch].Rows = s.Rows;
    }
    return stats;
}

} // namespace

IsoFigures FrameSets::IsoFiguresOf(const Group& group, const std::vector<int>& layoutLevels) {
    IsoFigures iso;
    iso.Iso = group.Iso;
    iso.DarkFrames = group.Darks;
    iso.Monochrome = group.Monochrome;
    const bool pairs =
        std::any_of(group.Sets.begin(), group.Sets.end(), [](const Set& s) { return s.Pairs > 0; });
    iso.SingleFrame = !pairs;
    for (const Set& set : group.Sets) {
        if (pairs) {
            if (set.Pairs > 0) {
                iso.Unpaired.insert(iso.Unpaired.end(), set.Unpaired.begin(), set.Unpaired.end());
            }
            if (set.Waiting) {
                iso.Unpaired.push_back(set.Waiting->Name);
            }
            if (set.Pairs == 0) {
                continue;
            }
        }
        // The frames in the fit: those of the pairs, or every single one.
        iso.Frames += pairs ? 2 * set.Pairs : set.Frames;
        ExposureSet out;
        out.Shutter = set.Shutter;
        out.Frames = set.Frames;
        out.Pairs = set.Pairs;
        for (const ChannelSums& square : pairs ? set.PairSums : set.Singles) {
            out.Squares.push_back(Finish(square));
        }
        out.Banded = pairs && Banded(out.Squares, iso.ChannelsUsed());
        iso.Squares.insert(iso.Squares.end(), out.Squares.begin(), out.Squares.end());
        iso.Sets.push_back(std::move(out));
    }
    for (int ch = 0; ch < ChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        double dark = 0;
        if (group.Darks > 0) {
            dark = group.DarkPairs > 0 ? VarianceOf(group.DarkPairSums[c])
                                       : VarianceOf(group.DarkSingles[c]);
        }
        ChannelFigures& f = iso.Channels[c];
        f = measure::Figures(iso.Squares, ch, group.Sheet.Range(ch, group.Range[c]), dark);
        f.Usable = static_cast<int>(
            std::count_if(iso.Squares.begin(), iso.Squares.end(),
                          [c](const Stats& s) { return s[c].Pixels > 0 && s[c].Clipped == 0; }));
        if (ch < iso.ChannelsUsed() && f.Usable < LeastUsableSquares) {
            TooFewSquares(f, iso.Sets, layoutLevels, ch);
        }
    }
    group.Sheet.Finish(iso);
    return iso;
}

std::vector<IsoFigures> FrameSets::Figures() const {
    std::vector<int> layoutLevels;
    for (const MosaicSquare& square : layout_.Squares) {
        layoutLevels.push_back(square.Level);
    }
    std::vector<IsoFigures> result;
    for (const auto& [key, group] : groups_) {
        if (group.Frames > 0) {
            result.push_back(IsoFiguresOf(group, layoutLevels));
        }
    }
    FindGainStages(result);
    NoteDigitalGain(result);
    NoteIsoInvariance(result);
    return result;
}

std::vector<double> FrameSets::DarkOnlyIsos() const {
    std::vector<double> isos;
    for (const auto& [key, group] : groups_) {
        if (group.Frames == 0 && group.Darks > 0) {
            isos.push_back(group.Iso);
        }
    }
    return isos;
}

} // namespace pruvex::measure
