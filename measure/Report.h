#pragma once

// What the program writes: the table, the two CSV files and the plot.

#include "measure/PhotonTransfer.h"

#include <ostream>
#include <string>
#include <vector>

namespace pruvex::measure {

void WriteTable(std::ostream& out, const std::vector<IsoFigures>& figures);
// The lines the table gives besides its rows: channels with too few squares
// below clipping (and the time to shoot them again at), frames left out,
// bands found; each on its own line, without a newline.
std::vector<std::string> Notes(const IsoFigures& iso);
// Of those, the channels with too few squares below clipping.
std::vector<std::string> TooFewNotes(const IsoFigures& iso);
// Whether any ISO and channel has figures.
bool AnyFigures(const std::vector<IsoFigures>& figures);
// One row per ISO and channel with figures.
void WriteFiguresCsv(std::ostream& out, const std::vector<IsoFigures>& figures);
// One row per ISO, exposure time, square and channel.
void WriteSquaresCsv(std::ostream& out, const std::vector<IsoFigures>& figures);
// An exposure time as cameras write it: "1/250" where it is one over a
// whole number, else a decimal ("0.3", "2").
std::string ShutterFraction(double seconds);
// The same with its unit, as the report writes it: "1/250 s", "0.3 s".
std::string ShutterText(double seconds);
// The photon transfer curves (noise against signal, log-log, the fitted
// lines), the dynamic range and the read noise in electrons against ISO, as
// a self-contained SVG.
void WritePlot(std::ostream& out, const std::vector<IsoFigures>& figures);

} // namespace pruvex::measure
