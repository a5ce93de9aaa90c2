#pragma once

// The shots a camera's own tethering program files into a folder: new files
// at any depth below it (many programs file by date), each taken once it is
// complete. A file is complete when its size has not changed for a second,
// the platform lets it be opened alone, and LibRaw reads it whole; one still
// incomplete after a minute is named and passed over. A JPEG (or any file
// that is not raw) beside a raw file of the same name is not a shot; a JPEG
// alone is named once, since the camera then saves no raw files.

#include "measure/RawFile.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>

namespace pruvex::series {

class Landing {
  public:
    using Clock = std::chrono::steady_clock;

    // Every file there now is old; throws Stop when `dir` cannot be read.
    Landing(std::filesystem::path dir, std::ostream& out);

    // One look at the folder: the next complete raw file, if one is.
    std::optional<std::filesystem::path> Look();
    // That file as LibRaw read it to know it whole (read once, not twice).
    measure::RawResult TakeRead() { return std::move(read_); }

  private:
    struct Seen {
        std::uintmax_t Size = 0;
        Clock::time_point Changed; // when its size last changed
        Clock::time_point Appeared;
        bool Tried = false; // LibRaw tried at this size
    };
    std::set<std::filesystem::path> List() const;
    // Decides on a file that has stopped growing; true when it is the shot.
    bool Settled(const std::filesystem::path& file, Seen& seen,
                 const std::set<std::filesystem::path>& fresh);
    void PassOver(const std::filesystem::path& file, const std::string& line);

    std::filesystem::path dir_;
    std::ostream& out_;
    std::set<std::filesystem::path> done_;     // old, taken or passed over
    std::set<std::filesystem::path> rawStems_; // of the raw files taken
    std::map<std::filesystem::path, Seen> fresh_;
    measure::RawResult read_;
    std::map<std::filesystem::path, std::string> lastError_; // LibRaw's, at the last try
};

// A file's path without its extension: the name a camera gives both files
// of one RAW+JPEG shot.
std::filesystem::path Stem(const std::filesystem::path& file);

// A JPEG or HEIF picture by its first bytes or its extension.
bool LooksLikePicture(const std::filesystem::path& file);

} // namespace pruvex::series
