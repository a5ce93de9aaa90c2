#pragma once

// The frames of a run, gathered by ISO: each mosaic frame is measured alone
// and, with the next frame of its ISO taken at the same place, as a pair;
// dark frames likewise over the whole frame. At most one frame of each kind
// per ISO is held at a time.

#include "measure/CfaFrame.h"
#include "measure/Mosaic.h"
#include "measure/PhotonTransfer.h"
#include "measure/Statistics.h"

#include <map>
#include <optional>
#include <vector>

namespace pruvex::measure {

enum class FrameRole {
    Mosaic,    // the mosaic was found and measured
    Dark,      // given as dark
    FoundDark, // no mosaic, at the black level: taken as dark
    NoMosaic,  // neither: not measured
};

class Series {
  public:
    explicit Series(const MosaicLayout& layout) : layout_(layout) {}

    FrameRole Add(CfaFrame frame, bool givenAsDark);

    // The figures of every ISO with at least one mosaic frame, lowest ISO first.
    std::vector<IsoFigures> Figures() const;
    // ISOs that had dark frames but no mosaic.
    std::vector<double> DarkOnlyIsos() const;

  private:
    struct Sums {
        double Mean = 0; // weighted by pixels
        double MeanPixels = 0;
        double SingleVariance = 0;
        double PairVariance = 0;
        double PairPixels = 0;
        long long Pixels = 0;
        long long Clipped = 0;
    };
    using ChannelSums = std::array<Sums, ChannelCount>;
    struct Group {
        double Iso = 0;
        int Frames = 0;
        int Darks = 0;
        int Pairs = 0;
        int DarkPairs = 0;
        std::array<double, ChannelCount> Range{};
        std::vector<ChannelSums> Squares;
        ChannelSums Dark;
        std::optional<CfaFrame> PendingMosaic;
        Placement PendingPlacement;
        std::optional<CfaFrame> PendingDark;
    };
    static void AddStats(ChannelSums& sums, const Stats& stats);
    static void AddPair(ChannelSums& sums, const Stats& stats);
    void AddMosaic(Group& group, CfaFrame frame, const Placement& placement);
    static void AddDark(Group& group, CfaFrame frame);

    const MosaicLayout& layout_;
    std::map<long long, Group> groups_;
};

} // namespace pruvex::measure
