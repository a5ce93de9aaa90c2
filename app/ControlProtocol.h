#pragma once

// The control channel's language, apart from what the commands do: one line
// read into a typed command or the error that answers it, and the JSON
// replies written back. Plain functions of their inputs, so that the
// language can be read, tested and fuzzed alone.

#include "pattern/PatternState.h"

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pruvex {

// The longest line taken, line end excluded; the rest of a longer line is
// skipped as it comes, never held.
inline constexpr std::size_t LongestCommandLine = 4096;

enum class CommandName {
    Flat,
    Grid,
    Level,
    GridLevel,
    Step,
    Keys,
    FullScreen,
    Window,
    Settle,
    State,
    Check,
    Quit
};

struct ControlCommand {
    CommandName Name = CommandName::State;
    // The value of level, grid-level, step and settle; the monitor of fullscreen
    // (0: the one that holds the window).
    int Number = 0;
    std::vector<char32_t> Characters; // what keys types
    friend bool operator==(const ControlCommand&, const ControlCommand&) = default;
};

// What the ranges of some commands depend on.
struct CommandLimits {
    int HighestGridLevel = 0;
    // The number of monitors, asked only for a fullscreen command.
    std::function<int()> Monitors;
};

// A line read: the command, or the error that answers it.
struct ReadLine {
    std::optional<ControlCommand> Command;
    std::string Error;
};

// One line without its line end (a carriage return before it is dropped).
ReadLine ReadCommand(std::string_view line, const CommandLimits& limits);

// The error that answers a line longer than LongestCommandLine.
std::string LineTooLongError();

// The longest a window manager is given to carry out a change of the
// window's place, and the error that answers a full-screen change it has
// not carried out by then.
inline constexpr int WindowManagerMilliseconds = 10000;
std::string NotFullScreenError();

// A JSON object on one line, written field by field in the order given.
class JsonObject {
  public:
    JsonObject& Boolean(std::string_view name, bool value);
    JsonObject& Integer(std::string_view name, long long value);
    JsonObject& Integers(std::string_view name, std::initializer_list<int> values);
    // A real with a fixed number of decimals, e.g. 12.345.
    JsonObject& Fixed(std::string_view name, double value, int decimals);
    JsonObject& Text(std::string_view name, std::string_view text);
    // The object, closed.
    std::string Written() const;

  private:
    void Name(std::string_view name);
    std::string Out = "{";
};

// The reply to a command that succeeded: what the window shows.
struct StateReplyFields {
    const PatternState& State;
    bool FullScreen = false;
    // The mosaic's pitch at the window's current size, in either mode.
    int Pitch = 0;
    double Milliseconds = 0; // from the line's arrival to the reply
    // From the line's arrival to the frame scanned out to its last line.
    double ShownMilliseconds = 0;
    double RefreshHz = 0; // of the monitor that shows the window
    int SettleMilliseconds = 0;
};
std::string StateReply(const StateReplyFields& fields);

// The reply to a line that was refused: the error and the line's number,
// counting from 1.
std::string ErrorReply(std::string_view error, long line);

} // namespace pruvex
