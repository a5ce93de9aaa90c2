#pragma once

// The sums one ISO of a series keeps for its datasheet while the frames go
// by: the codes of every frame (the level they clip at, the digital gain),
// the non-uniformity of each dark pair, and each flat pair's mean, clipped
// part and non-uniformity. No frame is held but a flat waiting for its
// partner.

#include "measure/Codes.h"
#include "measure/PhotonTransfer.h"
#include "measure/Statistics.h"
#include "measure/Uniformity.h"

#include <optional>
#include <vector>

namespace pruvex::measure {

class DatasheetSums {
  public:
    // Every frame of the ISO, with what its codes tell.
    void AddCodes(const CfaFrame& frame, const FrameCodes& codes);
    // A dark pair, with its statistics.
    void AddDarkPair(const CfaFrame& first, const CfaFrame& second, const Stats& pair);
    // A flat frame, paired with the next of its exposure time.
    void AddFlat(CfaFrame frame, const Stats& whole);

    // The range above black a channel's figures take: the measured white
    // level's where it lies more than half a percent below the file's.
    double Range(int channel, double fileRange) const;
    // The datasheet of each channel, from these sums and the ISO's figures.
    void Finish(IsoFigures& iso) const;

  private:
    struct PairRecord {
        double Shutter = 0;
        std::array<double, ChannelCount> Mean{}; // above black
        std::array<double, ChannelCount> Clipped{};
        ChannelParts Parts{};
        bool HasParts = false;
    };
    struct Waiting {
        CfaFrame Frame;
        Stats Whole;
    };
    const PairRecord* NearestDark(double shutter) const;
    double MeasuredWhite() const;
    void FinishWhite(IsoFigures& iso) const;
    void FinishDsnu(IsoFigures& iso) const;
    void FinishFlats(IsoFigures& iso) const;

    std::vector<double> pileUps_;
    std::array<double, ChannelCount> black_{};
    double fileWhite_ = 0;
    std::array<int, ChannelCount> digitalGain_{};
    std::vector<PairRecord> darks_;
    std::vector<PairRecord> flats_;
    std::vector<Waiting> waitingFlats_;
};

} // namespace pruvex::measure
