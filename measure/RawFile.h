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
    // The camera that took it, as the file names it (empty when unknown).
    std::string Make;
    std::string Model;
};

// A Bayer, X-Trans or monochrome sensor's frame from the file of that name
// (UTF-8); any other kind of sensor (Foveon, four colours, an image already
// demosaiced) is named in Error.
RawResult ReadRaw(const std::string& path);

// The version of LibRaw the program reads with, as LibRaw gives it.
std::string LibRawVersion();

} // namespace pruvex::measure
