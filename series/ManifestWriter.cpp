#include "series/ManifestWriter.h"

#include "series/Files.h"
#include "series/Stop.h"

#include "measure/FileNames.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>

namespace pruvex::series {

namespace fs = std::filesystem;

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms % 1000));
    return text;
}

std::string RowText(const measure::ManifestRow& row) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, ",%.0f,%.6g,%d,", row.Iso, row.Exposure, row.Level);
    return row.File + "," + row.Kind + numbers + row.ShotAt + "\n";
}

std::string FolderRefusal(const fs::path& folder) {
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_directory(folder, error)) {
        return measure::Utf8Name(folder) + ": not a folder";
    }
    const fs::path manifest = folder / "series.csv";
    if (!fs::exists(manifest, error)) {
        return {};
    }
    std::vector<measure::ManifestRow> rows;
    std::string reason;
    if (!measure::ReadManifest(measure::Utf8Name(manifest), rows, reason) || !rows.empty()) {
        return measure::Utf8Name(folder) + " already holds a series (" +
               measure::Utf8Name(manifest) +
               "): go on with it with --resume, or choose another folder";
    }
    return {};
}

ManifestWriter::ManifestWriter(const fs::path& folder) : path_(folder / "series.csv") {
    std::error_code error;
    fs::create_directories(folder, error);
#ifdef _WIN32
    file_ = _wfopen(path_.c_str(), L"wb");
#else
    file_ = std::fopen(path_.c_str(), "w");
#endif
    if (file_ == nullptr) {
        throw Stop{ExitSetup,
                   Path() + ": cannot be written (" + std::string(std::strerror(errno)) + ")"};
    }
    std::fprintf(file_, "%s\n", measure::ManifestHeader);
    std::fflush(file_);
}

ManifestWriter::ManifestWriter(const fs::path& folder, std::vector<measure::ManifestRow> kept,
                               bool rewrite)
    : path_(folder / "series.csv"), rows_(std::move(kept)) {
    if (rewrite) {
        std::string text = std::string(measure::ManifestHeader) + "\n";
        for (const measure::ManifestRow& row : rows_) {
            text += RowText(row);
        }
        std::string error;
        if (!WriteAtomically(path_, text, error)) {
            throw Stop{ExitSetup, error};
        }
    }
#ifdef _WIN32
    file_ = _wfopen(path_.c_str(), L"ab");
#else
    file_ = std::fopen(path_.c_str(), "a");
#endif
    if (file_ == nullptr) {
        throw Stop{ExitSetup, measure::Utf8Name(path_) + ": cannot be written (" +
                                  std::string(std::strerror(errno)) + ")"};
    }
}

ManifestWriter::~ManifestWriter() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

std::string ManifestWriter::Path() const {
    return measure::Utf8Name(path_);
}

void ManifestWriter::Add(const measure::ManifestRow& row) {
    const std::string text = RowText(row);
    // On the disk before the next shot: a series killed then is resumed
    // from it.
    if (std::fputs(text.c_str(), file_) < 0 || std::fflush(file_) != 0 || !SyncToDisk(file_)) {
        throw Stop{ExitStopped, Path() + ": cannot be written"};
    }
    rows_.push_back(row);
}

} // namespace pruvex::series
