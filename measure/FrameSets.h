#pragma once

// The frames of a run, gathered by ISO and, within an ISO, by exposure
// time: each mosaic frame is measured alone and, with the next frame of its
// ISO and exposure time taken at the same place, as a pair; dark frames
// likewise over the whole frame. At most one frame of each kind per ISO and
// exposure time is held at a time.

#include "measure/CfaFrame.h"
#include "measure/Mosaic.h"
#include "measure/PhotonTransfer.h"
#include "measure/SeriesDatasheet.h"
#include "measure/Statistics.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pruvex::measure {

enum class FrameRole {
    Mosaic,    // the mosaic was found and measured
    Dark,      // given as dark
    FoundDark, // no mosaic, at the black level: taken as dark
    Flat,      // given as a flat field
    NoMosaic,  // neither: not measured
};

// One frame on its own, before it joins the sets: whether the mosaic is
// found (and where), and in each channel how many of its squares are
// measured and how many of those lie below clipping (have no clipped pixel).
struct FrameCheck {
    bool Found = false;
    Placement Where;
    int Channels = ChannelCount; // 1 for a monochrome sensor
    std::array<int, ChannelCount> Measured{};
    std::array<int, ChannelCount> Unclipped{};
    std::vector<Stats> Squares; // the frame's squares, when found
};
FrameCheck CheckFrame(const CfaFrame& frame, const MosaicLayout& layout = TheMosaic());

// What can be learnt of a frame alone, by any thread: its role and, for a
// mosaic, where it lies and its squares.
struct FrameAnalysis {
    FrameRole Role = FrameRole::NoMosaic;
    Placement Where;
    std::vector<Stats> Squares;
    Stats Whole;            // a dark or flat frame's
    ChannelSpreads Spreads; // a dark or flat frame's values
    FrameCodes Codes;
};
FrameAnalysis AnalyseFrame(const CfaFrame& frame, const ValueCounts& counts, bool givenAsDark,
                           const MosaicLayout& layout, bool givenAsFlat = false);
// The same after the frame's white level is settled from its own codes
// (where its values pile up below the file's white level).
FrameAnalysis SettleAndAnalyse(CfaFrame& frame, bool givenAsDark, bool givenAsFlat,
                               const MosaicLayout& layout);

class FrameSets {
  public:
    explicit FrameSets(const MosaicLayout& layout) : layout_(layout) {}
    const MosaicLayout& Layout() const { return layout_; }

    // A frame, named for the report; frames must come in the order given.
    FrameRole Add(CfaFrame frame, bool givenAsDark, const std::string& name = {},
                  bool givenAsFlat = false);
    // The same with the frame already analysed (AnalyseFrame).
    FrameRole Add(CfaFrame frame, const FrameAnalysis& analysis, const std::string& name = {});

    // The figures of every ISO with at least one mosaic frame, lowest ISO first.
    std::vector<IsoFigures> Figures() const;
    // ISOs that had dark frames but no mosaic.
    std::vector<double> DarkOnlyIsos() const;

  private:
    struct Sums {
        double Mean = 0; // weighted by pixels
        double MeanPixels = 0;
        double Variance = 0;
        double RowsVariance = 0;
        long long Rows = 0;
        long long Pixels = 0;
        long long Clipped = 0;
        long long Rejected = 0;
    };
    using ChannelSums = std::array<Sums, ChannelCount>;
    struct Pending {
        CfaFrame Frame;
        Placement Where;
        std::string Name;
    };
    struct PendingDarkFrame {
        CfaFrame Frame;
        ChannelSpreads Spreads;
    };
    struct Set {
        double Shutter = 0;
        int Frames = 0;
        int Pairs = 0;
        std::vector<ChannelSums> Singles;
        std::vector<ChannelSums> PairSums;
        std::optional<Pending> Waiting;
        std::vector<std::string> Unpaired;
    };
    struct Group {
        double Iso = 0;
        bool Monochrome = false;
        int Frames = 0;
        int Darks = 0;
        int DarkPairs = 0;
        std::array<double, ChannelCount> Range{};
        std::vector<Set> Sets;
        ChannelSums DarkSingles;
        ChannelSums DarkPairSums;
        std::optional<PendingDarkFrame> PendingDark;
        DatasheetSums Sheet;
    };
    static void AddStats(ChannelSums& sums, const Stats& stats);
    // One ISO's figures from its group: the sets in the fit, then each
    // channel's figures.
    static IsoFigures IsoFiguresOf(const Group& group, const std::vector<int>& layoutLevels);
    void AddMosaic(Group& group, CfaFrame frame, const FrameAnalysis& analysis,
                   const std::string& name);
    static void AddDark(Group& group, CfaFrame frame, const FrameAnalysis& analysis);

    const MosaicLayout& layout_;
    std::map<long long, Group> groups_;
};

} // namespace pruvex::measure
