#pragma once

// Options of the command line: fields that are exactly one of the option
// names are taken out before the rest is read as "[STEP [LEVEL]]".

#include "Arguments.h"
#include "Monitors.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pruvex {

// The panel's settle time that replies wait after the frame is out, and
// the longest that --settle and the settle command take.
inline constexpr int DefaultSettleMilliseconds = 20;
inline constexpr int HighestSettleMilliseconds = 10000;

struct Options {
    Arguments Numbers;         // STEP and LEVEL from the fields that are not options
    bool Grid = false;         // --grid: start in mode "G"
    bool FullScreen = false;   // --fullscreen or --fullscreen=N
    int FullScreenMonitor = 0; // N of --fullscreen=N; 0: the monitor the window opens on
    bool ListMonitors = false; // --list-monitors
    bool Control = false;      // --control: commands on standard input
    bool Check = false;        // --check: whether the display shows exact pixels
    int SettleMilliseconds = DefaultSettleMilliseconds; // --settle=MS
    bool Help = false;                                  // --help, or "-h" as the whole text
    bool Version = false;                               // --version
    std::vector<std::string> UnknownOptions;            // "--word" fields read as ordinary fields
    std::string Error; // a malformed option: one line for the error output
};

// The names a user can give, for messages.
extern const char* const OptionNames;

// The text of --help, each line ended by "\n".
extern const char* const UsageText;

Options ReadOptions(std::string_view text);

// One warning line (no line end) for the unknown "--word" fields, or "".
std::string UnknownOptionWarning(const Options& options);

// Exit status for a malformed option or a monitor that does not exist.
inline constexpr int BadOptionExitStatus = 2;

// What the program says before its window opens, each line ended by "\n",
// and whether it ends there.
struct EarlyAnswer {
    std::string Out;               // for the standard output
    std::string Err;               // for the error output
    std::optional<int> ExitStatus; // end with this status; none: go on
};

// Before the toolkit starts: a malformed option, --help, --version
// (versionLine, e.g. "Pruvex 1.00"), or the warning on unknown "--word"
// fields, after which the program goes on.
EarlyAnswer AnswerOptions(const Options& options, std::string_view versionLine);

// Once the monitors are known: --list-monitors, or a --fullscreen=N that no
// monitor answers.
EarlyAnswer AnswerMonitors(const Options& options, const std::vector<Monitor>& numbered);

} // namespace pruvex
