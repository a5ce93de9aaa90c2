#pragma once

// A file to measure, as named on the command line or in a series' manifest.

#include <string>

namespace pruvex::measure {

struct MeasuredFile {
    std::string Path; // UTF-8
    bool Dark = false;
    // The ISO and exposure time its manifest row gives; 0 for a file given
    // by itself.
    double Iso = 0;
    double Exposure = 0;
};

} // namespace pruvex::measure
