#pragma once

// What the program writes: the table, the two CSV files and the plot.

#include "measure/PhotonTransfer.h"

#include <ostream>
#include <vector>

namespace pruvex::measure {

void WriteTable(std::ostream& out, const std::vector<IsoFigures>& figures);
// One row per ISO and channel.
void WriteFiguresCsv(std::ostream& out, const std::vector<IsoFigures>& figures);
// One row per ISO, square and channel.
void WriteSquaresCsv(std::ostream& out, const std::vector<IsoFigures>& figures);
// The photon transfer curves (noise against signal, log-log, the fitted
// lines) and the dynamic range against ISO, as a self-contained SVG.
void WritePlot(std::ostream& out, const std::vector<IsoFigures>& figures);

} // namespace pruvex::measure
