#pragma once

// The outputs beside the table and its CSV files: every figure as JSON, the
// report as one self-contained HTML page, and the figures of several
// cameras (from their JSON files) in one chart.

#include "measure/PhotonTransfer.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace pruvex::measure {

struct CameraName {
    std::string Make;
    std::string Model;
    // "Make Model" (the model alone where it starts with the make).
    std::string Label() const;
};

// What the outputs tell beside the figures.
struct RunFacts {
    CameraName Camera;
    std::string LibRaw; // the version the files were read with
    std::string Date;   // of the measurement, YYYY-MM-DD
};

// Today's date (UTC) as RunFacts holds it.
std::string Today();

// {"camera": {"make", "model"}, "libraw", "rows": [...]}: one object per
// CSV row, the CSV's names as keys (null where the CSV's cell is empty),
// and the parts of the non-uniformities.
void WriteJson(std::ostream& out, const RunFacts& facts, const std::vector<IsoFigures>& figures);

// One camera's figures as its JSON file gives them back: per ISO and
// channel the photon transfer figures and the datasheet's.
struct CameraFigures {
    RunFacts Facts;
    std::vector<IsoFigures> Figures;
};
// False with the reason when the text is not such a file.
bool ReadJson(std::istream& in, CameraFigures& camera, std::string& error);

// The report: one HTML page with nothing loaded from elsewhere, for the
// screen and for A4 paper.
void WriteHtmlReport(std::ostream& out, const RunFacts& facts,
                     const std::vector<IsoFigures>& figures);

// Read noise in electrons, dynamic range and full well against ISO, a line
// per camera (its green channel, or its only one), labelled by the camera;
// as an SVG file, or as a page.
void WriteComparePlot(std::ostream& out, const std::vector<CameraFigures>& cameras);
void WriteCompareReport(std::ostream& out, const std::vector<CameraFigures>& cameras);

} // namespace pruvex::measure
