#pragma once

// A series' manifest, series.csv: one row per shot as it landed, with
// exactly the columns file,kind,iso,exposure_s,level,shot_at.

#include "measure/CfaFrame.h"
#include "measure/MeasuredFile.h"

#include <string>
#include <vector>

namespace pruvex::measure {

inline constexpr const char* ManifestHeader = "file,kind,iso,exposure_s,level,shot_at";

struct ManifestRow {
    std::string File; // relative to the manifest's folder
    std::string Kind; // flat, grid or dark
    double Iso = 0;
    double Exposure = 0; // s
    int Level = 0;       // empty in a row means 0 (dark frames)
    std::string ShotAt;  // UTC, ISO 8601 with milliseconds
};

// A file named series.csv, or any name ending in it.
bool IsManifest(const std::string& path);

// The rows of a manifest; false with the reason (naming the line) when it
// cannot be read or a row is not one of a manifest.
bool ReadManifest(const std::string& path, std::vector<ManifestRow>& rows, std::string& error);

// How a frame's own metadata stand to the ISO and time it was shot for: the
// ISO equal, the time within a sixth of a stop (cameras store nominal
// times: 1/250 as 0.004 or 1/256).
enum class Settings { Agree, Missing, Differ };
Settings CompareSettings(const CfaFrame& frame, double iso, double exposure);

// "ISO 400, 1/250 s", as the lines name a shot's settings.
std::string SettingsText(double iso, double exposure);

// A frame read for a manifest's row: its ISO and time taken from the row
// when its metadata lack them; false with the reason when they differ.
bool TakeRowSettings(const MeasuredFile& file, CfaFrame& frame, std::string& error);

// What is measured of a series: its mosaic frames (pairs of each ISO and
// exposure time) and its dark frames, in the order shot; the flat frames are
// left out. Paths are the manifest's folder joined with each file.
std::vector<MeasuredFile> MeasuredFiles(const std::string& manifestPath,
                                        const std::vector<ManifestRow>& rows);

} // namespace pruvex::measure
