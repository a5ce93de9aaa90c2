#pragma once

// The file-system steps of a series that must hold whatever stops it: files
// written whole or not at all, moved aside rather than deleted, and the
// platform's own word on whether another program still holds a file.

#include <cstdio>
#include <filesystem>
#include <string>

namespace pruvex::series {

// Platform: the data written to `file` are on the disk, not only in the
// system's cache.
bool SyncToDisk(std::FILE* file);

// Platform: no other program holds the file open for writing (where the
// system can tell; elsewhere true).
bool OpenableAlone(const std::filesystem::path& file);

// `text` as the whole of `path`: written beside it, put on the disk and
// renamed over it, so that the file is the old one or the new one at every
// moment. False with the reason.
bool WriteAtomically(const std::filesystem::path& path, const std::string& text,
                     std::string& error);

// `file` moved into `folder` (created if need be) under its own name, or
// the name with -2, -3... when that is taken; the path it has now, or empty
// when it could not be moved.
std::filesystem::path MoveInto(const std::filesystem::path& file,
                               const std::filesystem::path& folder);

} // namespace pruvex::series
