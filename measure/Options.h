#pragma once

// pruvex-measure's command line: the files in their order, each marked
// dark or not, and the files to write.

#include "measure/Manifest.h"

#include <optional>
#include <string>
#include <vector>

namespace pruvex::measure {

// The usage text that --help prints, from the options' own declarations.
std::string UsageText();

using Input = MeasuredFile;

struct Options {
    std::optional<std::string> Csv;
    std::optional<std::string> Squares;
    std::optional<std::string> Plot;
    unsigned Threads = 0; // one per core
    std::vector<Input> Files;
};

// The options, read by CLI11; its message and false on a usage error.
// --help and --version print and set done.
bool Parse(const std::vector<std::string>& args, Options& options, std::string& error, bool& done);

// Each series.csv among the files replaced by the files it lists (see
// MeasuredFiles); false with the reason when one cannot be read.
bool ExpandManifests(std::vector<Input>& files, std::string& error);

} // namespace pruvex::measure
