#include "Options.h"

#include <algorithm>
#include <charconv>

namespace pruvex {

const char* const OptionNames =
    "--grid, --fullscreen[=N], --list-monitors, --control, --settle=MS, --check, --help, "
    "--version";

const char* const UsageText =
    "Usage: pruvex [OPTION...] [STEP [LEVEL]]\n"
    "Shows a flat field or a grid mosaic as a camera test target.\n"
    "  STEP   amount one flat-field key moves the level, 1..255 (default 1)\n"
    "  LEVEL  starting flat-field level, 0..255 (default 212)\n"
    "Options (anywhere among the numbers):\n"
    "  --grid             start with the grid mosaic\n"
    "  --fullscreen[=N]   start full screen, on monitor N (see --list-monitors)\n"
    "  --list-monitors    print the monitors and their numbers\n"
    "  --control          take commands on standard input, one reply line each\n"
    "  --settle=MS        a reply waits this long after the frame is shown, 0..10000\n"
    "                     (default 20: the panel's own response)\n"
    "  --check            report whether the display shows exactly what is painted\n"
    "  --help, --version\n"
    "Keys: - a A lower, + z Z raise, F f flat field, G g grid mosaic,\n"
    "      F11 full screen on or off, Escape leaves full screen.\n";

namespace {

constexpr std::string_view FullScreenWithMonitor = "--fullscreen=";
constexpr std::string_view SettleTime = "--settle=";

// The N of "--fullscreen=N": a whole number from 1, digits only.
bool ReadMonitorNumber(std::string_view text, int& number) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number >= 1;
}

// Takes one field as an option; false when it is an ordinary field.
bool TakeOption(std::string_view field, Options& options) {
    if (field == "--grid") {
        options.Grid = true;
    } else if (field == "--fullscreen") {
        options.FullScreen = true;
        options.FullScreenMonitor = 0;
    } else if (field.substr(0, FullScreenWithMonitor.size()) == FullScreenWithMonitor) {
        const std::string_view number = field.substr(FullScreenWithMonitor.size());
        options.FullScreen = true;
        if (!ReadMonitorNumber(number, options.FullScreenMonitor) && options.Error.empty()) {
            options.Error = "--fullscreen=N needs a monitor number from 1 (got \"" +
                            std::string(number) + "\"); --list-monitors shows the numbers";
        }
    } else if (field.substr(0, SettleTime.size()) == SettleTime) {
        const std::string_view number = field.substr(SettleTime.size());
        const std::optional<int> settle = ReadInteger(number);
        if (settle && *settle <= HighestSettleMilliseconds) {
            options.SettleMilliseconds = *settle;
        } else if (options.Error.empty()) {
            options.Error = "--settle=MS needs a whole number of milliseconds from 0 to " +
                            std::to_string(HighestSettleMilliseconds) + " (got \"" +
                            std::string(number) + "\")";
        }
    } else if (field == "--list-monitors") {
        options.ListMonitors = true;
    } else if (field == "--control") {
        options.Control = true;
    } else if (field == "--check") {
        options.Check = true;
    } else if (field == "--help") {
        options.Help = true;
    } else if (field == "--version") {
        options.Version = true;
    } else {
        return false;
    }
    return true;
}

} // namespace

Options ReadOptions(std::string_view text) {
    Options options;
    if (text == "-h") {
        options.Help = true;
        return options;
    }
    std::vector<std::string_view> fields;
    for (const std::string_view field : SplitFields(text)) {
        if (TakeOption(field, options)) {
            continue;
        }
        if (field.size() > 2 && field.substr(0, 2) == "--") {
            options.UnknownOptions.emplace_back(field);
        }
        fields.push_back(field);
    }
    options.Numbers = ReadFields(fields);
    return options;
}

std::string UnknownOptionWarning(const Options& options) {
    if (options.UnknownOptions.empty()) {
        return {};
    }
    std::string line = "pruvex: warning: unknown option";
    line += options.UnknownOptions.size() > 1 ? "s" : "";
    for (const std::string& option : options.UnknownOptions) {
        line += " " + option;
    }
    line += " read as a number field (it counts as 0); the options are ";
    line += OptionNames;
    return line;
}

EarlyAnswer AnswerOptions(const Options& options, std::string_view versionLine) {
    EarlyAnswer answer;
    if (!options.Error.empty()) {
        answer.Err = "pruvex: " + options.Error + "\n";
        answer.ExitStatus = BadOptionExitStatus;
    } else if (options.Help) {
        answer.Out = UsageText;
        answer.ExitStatus = 0;
    } else if (options.Version) {
        answer.Out = std::string(versionLine) + "\n";
        answer.ExitStatus = 0;
    } else if (!options.UnknownOptions.empty()) {
        answer.Err = UnknownOptionWarning(options) + "\n";
    }
    return answer;
}

EarlyAnswer AnswerMonitors(const Options& options, const std::vector<Monitor>& numbered) {
    EarlyAnswer answer;
    if (options.ListMonitors) {
        for (std::size_t i = 0; i < numbered.size(); ++i) {
            answer.Out += MonitorLine(static_cast<int>(i) + 1, numbered[i]) + "\n";
        }
        answer.ExitStatus = 0;
    } else if (static_cast<std::size_t>(std::max(options.FullScreenMonitor, 0)) > numbered.size()) {
        answer.Err = "pruvex: there is no monitor " + std::to_string(options.FullScreenMonitor) +
                     "; this desktop has " + std::to_string(numbered.size()) +
                     " (see --list-monitors)\n";
        answer.ExitStatus = BadOptionExitStatus;
    }
    return answer;
}

} // namespace pruvex
