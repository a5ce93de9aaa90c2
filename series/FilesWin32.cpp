// The file-system steps that differ by platform, on Windows.

#include "series/Files.h"

#include <windows.h>

#include <io.h>

namespace pruvex::series {

bool SyncToDisk(std::FILE* file) {
    return _commit(_fileno(file)) == 0;
}

bool OpenableAlone(const std::filesystem::path& file) {
    // A tethering program holds the file open while it writes: until it
    // closes it, the file cannot be opened with no sharing.
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

} // namespace pruvex::series
