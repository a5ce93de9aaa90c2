#pragma once

// The measuring core's one way in: raw files in; every figure, the notes on
// the files and the outputs out. pruvex-measure and pruvex-series both
// measure through it.

#include "measure/MeasuredFile.h"
#include "measure/PhotonTransfer.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pruvex::measure {

// What a run tells as it goes, on the caller's thread and in the files'
// order: each file as it joins, and each file that cannot be measured.
struct MeasureEvents {
    std::function<void(std::size_t index, std::size_t count, const std::string& path)> Joined;
    std::function<void(const std::string& path, const std::string& problem)> Problem;
};

struct Measurement {
    std::vector<IsoFigures> Figures; // every ISO with a mosaic frame, lowest first
    std::vector<std::string> Darks;  // each dark frame and why it was taken as dark
    std::vector<double> DarkOnlyIsos;
    bool FileProblems = false; // a file could not be read, or was neither mosaic nor dark
};

// Reads and measures the files on `threads` threads (0: one per core); they
// join the figures in the order given.
Measurement MeasureFiles(const std::vector<MeasuredFile>& files, unsigned threads = 0,
                         const MeasureEvents& events = {});

// The text of a measurement: its dark frames, ISOs with darks alone and
// the table with its notes.
void WriteSummary(std::ostream& out, const Measurement& measurement);

// The files to write; each as a UTF-8 name.
struct Outputs {
    std::optional<std::string> Csv;
    std::optional<std::string> Squares;
    std::optional<std::string> Plot;
};
// Writes each output asked for; a file that cannot be written is named to
// `problem` and makes it false.
bool WriteOutputs(const Measurement& measurement, const Outputs& outputs,
                  const std::function<void(const std::string& line)>& problem);

} // namespace pruvex::measure
