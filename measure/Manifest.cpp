#include "measure/Manifest.h"

#include "measure/FileNames.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace pruvex::measure {

namespace {

bool ReadNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && at == end && std::isfinite(value) && value >= 0;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

} // namespace

bool IsManifest(const std::string& path) {
    const std::string_view name = "series.csv";
    return path.size() >= name.size() &&
           path.compare(path.size() - name.size(), name.size(), name) == 0;
}

bool ReadManifest(const std::string& path, std::vector<ManifestRow>& rows, std::string& error) {
    std::ifstream in(FileName(path), std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (number == 1) {
            if (line != ManifestHeader) {
                error = path + ": not a series manifest (its first line is not " +
                        std::string(ManifestHeader) + ")";
                return false;
            }
            continue;
        }
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string> f = Fields(line);
        ManifestRow row;
        double level = 0;
        const bool ok =
            f.size() == 6 && !f[0].empty() &&
            (f[1] == "flat" || f[1] == "grid" || f[1] == "dark" || f[1] == "brightness") &&
            ReadNumber(f[2], row.Iso) && ReadNumber(f[3], row.Exposure) &&
            (f[4].empty() || ReadNumber(f[4], level)) && level <= 255;
        if (!ok) {
            error = path + ": line " + std::to_string(number) + " is not a row of a manifest";
            return false;
        }
        row.File = f[0];
        row.Kind = f[1];
        row.Level = static_cast<int>(level);
        row.ShotAt = f[5];
        rows.push_back(std::move(row));
    }
    if (number == 0) {
        error = path + ": empty";
        return false;
    }
    return true;
}

std::vector<MeasuredFile> MeasuredFiles(const std::string& manifestPath,
                                        const std::vector<ManifestRow>& rows) {
    const std::filesystem::path folder = FileName(manifestPath).parent_path();
    std::vector<MeasuredFile> files;
    files.reserve(rows.size());
    for (const ManifestRow& row : rows) {
        if (row.Kind == "brightness") {
            continue; // shot while the monitor's brightness was set: not measured
        }
        files.push_back({Utf8Name(folder / FileName(row.File)), row.Kind == "dark", row.Iso,
                         row.Exposure, row.Kind == "flat"});
    }
    return files;
}

Settings CompareSettings(const CfaFrame& frame, double iso, double exposure) {
    if (frame.Iso <= 0 || frame.Shutter <= 0) {
        return Settings::Missing;
    }
    // A sixth of a stop: 2^(1/6), about 12 %.
    const double sixth = std::exp2(1.0 / 6);
    const bool sameTime = frame.Shutter <= exposure * sixth && frame.Shutter * sixth >= exposure;
    return std::llround(frame.Iso) == std::llround(iso) && sameTime ? Settings::Agree
                                                                    : Settings::Differ;
}

std::string SettingsText(double iso, double exposure) {
    char text[64];
    if (exposure > 0 && exposure < 1) {
        std::snprintf(text, sizeof text, "ISO %.0f, 1/%.0f s", iso, 1 / exposure);
    } else {
        std::snprintf(text, sizeof text, "ISO %.0f, %g s", iso, exposure);
    }
    return text;
}

bool TakeRowSettings(const MeasuredFile& file, CfaFrame& frame, std::string& error) {
    if (file.Iso <= 0) {
        return true;
    }
    switch (CompareSettings(frame, file.Iso, file.Exposure)) {
    case Settings::Agree:
        return true;
    case Settings::Missing:
        frame.Iso = file.Iso;
        frame.Shutter = file.Exposure;
        return true;
    case Settings::Differ:
        break;
    }
    error = "shot at " + SettingsText(frame.Iso, frame.Shutter) + " where its row says " +
            SettingsText(file.Iso, file.Exposure) + ": left out";
    return false;
}

} // namespace pruvex::measure
