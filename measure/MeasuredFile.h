#pragma once

// A file to measure, as named on the command line or in a series' manifest.

#include <string>

namespace pruvex::measure {

struct MeasuredFile {
    std::string Path; // UTF-8
    bool Dark = false;
    bool Flat = false;
};

} // namespace pruvex::measure
