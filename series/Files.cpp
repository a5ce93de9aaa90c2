#include "series/Files.h"

#include "measure/FileNames.h"

#include <cerrno>
#include <cstring>

namespace pruvex::series {

namespace fs = std::filesystem;

bool WriteAtomically(const fs::path& path, const std::string& text, std::string& error) {
    std::string name = measure::Utf8Name(path.filename());
    name.insert(0, 1, '.');
    name += ".part";
    const fs::path beside = path.parent_path() / name;
#ifdef _WIN32
    std::FILE* file = _wfopen(beside.c_str(), L"wb");
#else
    std::FILE* file = std::fopen(beside.c_str(), "wb");
#endif
    if (file == nullptr) {
        error = measure::Utf8Name(beside) + ": cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         std::fflush(file) == 0 && SyncToDisk(file);
    const bool closed = std::fclose(file) == 0;
    std::error_code failure;
    if (written && closed) {
        fs::rename(beside, path, failure);
        if (!failure) {
            return true;
        }
    }
    error = measure::Utf8Name(path) + ": cannot be written (" +
            (failure ? failure.message() : std::string(std::strerror(errno))) + ")";
    fs::remove(beside, failure);
    return false;
}

fs::path MoveInto(const fs::path& file, const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    fs::path target = folder / file.filename();
    for (int n = 2; fs::exists(target, error); ++n) {
        target = folder / (measure::Utf8Name(file.stem()) + "-" + std::to_string(n) +
                           measure::Utf8Name(file.extension()));
    }
    fs::rename(file, target, error);
    return error ? fs::path() : target;
}

} // namespace pruvex::series
