#pragma once

// Options of the command line: fields that are exactly one of the option
// names are taken out before the rest is read as "[STEP [LEVEL]]".

#include "Arguments.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pruvex {

struct Options {
    Arguments Numbers;         // STEP and LEVEL from the fields that are not options
    bool Grid = false;         // --grid: start in mode "G"
    bool FullScreen = false;   // --fullscreen or --fullscreen=N
    int FullScreenMonitor = 0; // N of --fullscreen=N; 0: the monitor the window opens on
    bool ListMonitors = false; // --list-monitors
    bool Control = false;      // --control: commands on standard input
    bool Check = false;        // --check: whether the display shows exact pixels
    bool Help = false;         // --help, or "-h" as the whole text
    bool Version = false;      // --version
    std::vector<std::string> UnknownOptions; // "--word" fields read as ordinary fields
    std::string Error;                       // a malformed option: one line for the error output
};

// The names a user can give, for messages.
extern const char* const OptionNames;

// The text of --help, each line ended by "\n".
extern const char* const UsageText;

Options ReadOptions(std::string_view text);

// One warning line (no line end) for the unknown "--word" fields, or "".
std::string UnknownOptionWarning(const Options& options);

// One error line (no line end) when --fullscreen=N names a monitor that the
// desktop's count of monitors does not reach, or "".
std::string MissingMonitorError(const Options& options, std::size_t monitors);

} // namespace pruvex
