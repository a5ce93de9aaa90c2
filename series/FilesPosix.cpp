// The file-system steps that differ by platform, on POSIX systems.

#include "series/Files.h"

#include <unistd.h>

namespace pruvex::series {

bool SyncToDisk(std::FILE* file) {
    return fsync(fileno(file)) == 0;
}

bool OpenableAlone(const std::filesystem::path& /*file*/) {
    // A POSIX system does not tell whether another program writes a file:
    // its size settling and LibRaw reading it whole tell instead.
    return true;
}

} // namespace pruvex::series
