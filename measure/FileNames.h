#pragma once

// File names as the user gives them. The program works in UTF-8 throughout;
// on Windows the arguments come from the wide command line, files are opened
// by their wide names, and the shell leaves wildcards to the program.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pruvex::measure {

// The program's arguments (without its own name) in UTF-8. On Windows this
// also sends the standard output and error through the console unit, so
// that the text reaches the console, a pipe or a file as every Windows
// program of this project writes it.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The files a raw-file argument names. On Windows a name with '*' or '?'
// (in the file's name or in its folders' names) gives the files it matches
// (letter case ignored, as Windows does), sorted by name, and nothing when
// none match; any other name is itself. Elsewhere the shell has expanded wildcards
// already and '*' may be part of a file name: the name is itself.
std::optional<std::vector<std::string>> ExpandWildcards(const std::string& name);

// A UTF-8 file name as the system opens it (on Windows, by its wide form),
// and back.
inline std::filesystem::path FileName(const std::string& name) {
#ifdef _WIN32
    return std::u8string(name.begin(), name.end());
#else
    return name;
#endif
}
inline std::string Utf8Name(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::u8string name = path.u8string();
    return {name.begin(), name.end()};
#else
    return path.string();
#endif
}

} // namespace pruvex::measure
