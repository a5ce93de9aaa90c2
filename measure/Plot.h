#pragma once

// The panels of the plot that the report draws again on their own: the
// dynamic range and the read noise in electrons against ISO, each in its
// box.

#include "measure/Svg.h"

namespace pruvex::measure {

void DrawRangePanel(std::ostream& out, const std::vector<IsoFigures>& figures,
                    const svg::Palette& palette, const svg::Box& box);
void DrawReadNoisePanel(std::ostream& out, const std::vector<IsoFigures>& figures,
                        const svg::Palette& palette, const svg::Box& box);

} // namespace pruvex::measure
