#pragma once

// A stopped series gone on with: its options as recorded in FOLDER when it
// started, and the shots of its manifest still whole on the disk.

#include "measure/Manifest.h"

#include <filesystem>
#include <string>
#include <vector>

namespace pruvex::series {

// The file in FOLDER that records a series' options.
inline constexpr const char* OptionsFileName = "series-options.json";

struct SeriesOptions {
    std::string Camera; // gphoto2 or folder:DIR
    std::vector<int> Isos;
    int Monitor = 0;
    int SettleMs = 20;
    bool Brightness = true;
};

// Written atomically; throws Stop.
void RecordOptions(const std::filesystem::path& folder, const SeriesOptions& options);
// Throws Stop (status 2) naming the file when it is missing or not one of
// this program's.
SeriesOptions RecordedOptions(const std::filesystem::path& folder);

struct KeptShots {
    std::vector<measure::ManifestRow> Rows; // whose files read whole as raw
    std::vector<std::string> Dropped;       // a line for each row dropped
};

// The manifest's rows whose files exist and read whole as raw, in order;
// throws Stop (status 2) when FOLDER holds no manifest to go on with.
KeptShots CheckKept(const std::filesystem::path& folder);

} // namespace pruvex::series
