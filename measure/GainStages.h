#pragma once

// What the figures of all ISOs tell together: the ISO at which a sensor
// switches to its high conversion gain (a step down in the read noise in
// electrons, below the trend of the ISOs before it), the ISOs that only
// multiply the numbers (digital gain), and the ISO from which a higher ISO
// brings no less noise.

#include "measure/PhotonTransfer.h"

#include <vector>

namespace pruvex::measure {

// Sets each ISO's GainStage and adds the notes; figures lowest ISO first.
void FindGainStages(std::vector<IsoFigures>& figures);
void NoteDigitalGain(std::vector<IsoFigures>& figures);
void NoteIsoInvariance(std::vector<IsoFigures>& figures);

} // namespace pruvex::measure
