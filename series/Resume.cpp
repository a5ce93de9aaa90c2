#include "series/Resume.h"

#include "series/Files.h"
#include "series/Stop.h"

#include "measure/FileNames.h"
#include "measure/RawFile.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace pruvex::series {

namespace fs = std::filesystem;

void RecordOptions(const fs::path& folder, const SeriesOptions& options) {
    const nlohmann::json record{{"camera", options.Camera},
                                {"iso", options.Isos},
                                {"fullscreen", options.Monitor},
                                {"settle_ms", options.SettleMs},
                                {"brightness", options.Brightness}};
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    std::string error;
    if (!WriteAtomically(folder / OptionsFileName, record.dump(2) + "\n", error)) {
        throw Stop{ExitSetup, error};
    }
}

SeriesOptions RecordedOptions(const fs::path& folder) {
    const fs::path path = folder / OptionsFileName;
    std::error_code error;
    if (!fs::exists(folder / "series.csv", error)) {
        throw Stop{ExitSetup, measure::Utf8Name(folder) + ": no series to resume (no series.csv)"};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw Stop{ExitSetup, measure::Utf8Name(path) +
                                  ": missing, so the series' options are not known: "
                                  "start a new series in another folder"};
    }
    const nlohmann::json record = nlohmann::json::parse(in, nullptr, false);
    SeriesOptions options;
    try {
        options.Camera = record.at("camera").get<std::string>();
        options.Isos = record.at("iso").get<std::vector<int>>();
        options.Monitor = record.at("fullscreen").get<int>();
        options.SettleMs = record.at("settle_ms").get<int>();
        options.Brightness = record.at("brightness").get<bool>();
    } catch (const nlohmann::json::exception&) {
        throw Stop{ExitSetup, measure::Utf8Name(path) + ": not the options of a series"};
    }
    if (options.Isos.empty()) {
        throw Stop{ExitSetup, measure::Utf8Name(path) + ": not the options of a series"};
    }
    return options;
}

KeptShots CheckKept(const fs::path& folder) {
    const fs::path manifest = folder / "series.csv";
    std::vector<measure::ManifestRow> rows;
    std::string error;
    std::error_code missing;
    if (!fs::exists(manifest, missing)) {
        throw Stop{ExitSetup, measure::Utf8Name(folder) + ": no series to resume (no series.csv)"};
    }
    if (!measure::ReadManifest(measure::Utf8Name(manifest), rows, error)) {
        throw Stop{ExitSetup, error};
    }
    KeptShots kept;
    for (measure::ManifestRow& row : rows) {
        const measure::RawResult raw =
            measure::ReadRaw(measure::Utf8Name(folder / measure::FileName(row.File)));
        if (raw.Ok) {
            kept.Rows.push_back(std::move(row));
        } else {
            kept.Dropped.push_back(row.File + ": " + raw.Error + ": shot again");
        }
    }
    return kept;
}

} // namespace pruvex::series
