#pragma once

// The report's plots beside the photon transfer curves, each a
// self-contained SVG without the XML prolog (to stand inside a page).

#include "measure/PhotonTransfer.h"

#include <ostream>
#include <vector>

namespace pruvex::measure {

// Colours for lines that are not channels (ISOs, cameras), in turn.
const char* LineColour(std::size_t index);

// Read noise in electrons and dynamic range against ISO: the ISO from which
// a channel switches to its high conversion gain marked, the ISOs with
// digital gain shaded.
void WriteIsoPlot(std::ostream& out, const std::vector<IsoFigures>& figures);
// Per channel, the flat pairs' signal against the exposure time with the
// fitted line, and below, each point's deviation from the line in percent.
// False (nothing written) when no ISO has a linearity.
bool WriteLinearityPlot(std::ostream& out, const std::vector<IsoFigures>& figures);
// The signal-to-noise ratio against the signal in electrons, per ISO (its
// green channel, or its only one): signal over the square root of read
// noise, dark-signal non-uniformity, shot noise and the photo-response
// non-uniformity, each squared.
void WriteSnrPlot(std::ostream& out, const std::vector<IsoFigures>& figures);
// The DSNU in electrons against ISO per channel, and the PRNU in percent at
// the ISO of the flat frames, whole and split into row, column and pixel
// parts. False (nothing written) when neither was measured.
bool WriteUniformityPlot(std::ostream& out, const std::vector<IsoFigures>& figures);

} // namespace pruvex::measure
