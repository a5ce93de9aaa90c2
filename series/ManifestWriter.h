#pragma once

// series.csv as the shots land: each row written and flushed at once, so
// that whatever stops the series, the manifest lists every shot kept.

#include "measure/Manifest.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace pruvex::series {

// The moment now in UTC, ISO 8601 with milliseconds: 2026-12-08T19:55:01.123Z.
std::string UtcNow();

// Why FOLDER cannot take a series (it holds a manifest with shots, or is
// not a folder); empty when it can.
std::string FolderRefusal(const std::filesystem::path& folder);

// A manifest's row as series.csv gives it.
std::string RowText(const measure::ManifestRow& row);

class ManifestWriter {
  public:
    // Creates FOLDER if need be and writes the header; throws Stop.
    explicit ManifestWriter(const std::filesystem::path& folder);
    // A resumed series' manifest: the rows kept from before, rewritten
    // atomically when some were dropped, then the new rows after them.
    ManifestWriter(const std::filesystem::path& folder, std::vector<measure::ManifestRow> kept,
                   bool rewrite);
    ~ManifestWriter();
    ManifestWriter(const ManifestWriter&) = delete;
    ManifestWriter& operator=(const ManifestWriter&) = delete;

    void Add(const measure::ManifestRow& row);
    const std::vector<measure::ManifestRow>& Rows() const { return rows_; }
    // Its name in UTF-8.
    std::string Path() const;

  private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    std::vector<measure::ManifestRow> rows_;
};

} // namespace pruvex::series
