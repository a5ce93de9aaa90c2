#pragma once

// Reading a raw file through LibRaw: the CFA values as the sensor gave
// them, with the black and white levels, the colour pattern, ISO and
// exposure time from the file's metadata.

#include "measure/CfaFrame.h"

#include <string>

namespace pruvex::measure {

struct RawResult {
    bool Ok = false;
    std::string Error; // why not, when not Ok
    CfaFrame Frame;
};

// The file's name in UTF-8.
RawResult ReadRaw(const std::string& path);

// The version of the LibRaw the program carries.
const char* LibRawVersion();

} // namespace pruvex::measure
