#include "Controller.h"

#include "KeyCommands.h"
#include "pattern/LevelColour.h"
#include "pattern/Picture.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

namespace pruvex {

namespace {

constexpr char32_t Escape = 0x1B;

const char* const CommandList = "flat, grid, level N, grid-level N, step N, keys TEXT, "
                                "fullscreen [N], window, state, check, quit";

// A whole number in plain decimal digits: no sign, no leading zero, no
// decimal point or exponent.
std::optional<int> ReadInteger(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos ||
        (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The characters of a UTF-8 text, or nothing when it is not valid UTF-8
// (overlong forms, surrogates and values above U+10FFFF included).
std::optional<std::vector<char32_t>> DecodeUtf8(std::string_view text) {
    std::vector<char32_t> characters;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        char32_t value = 0;
        char32_t lowest = 0;
        if (lead < 0x80) {
            length = 1;
            value = lead;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            length = 2;
            value = lead & 0x1Fu;
            lowest = 0x80;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3;
            value = lead & 0x0Fu;
            lowest = 0x800;
        } else if (lead >= 0xF0 && lead < 0xF5) {
            length = 4;
            value = lead & 0x07u;
            lowest = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i < static_cast<std::size_t>(length)) {
            return std::nullopt;
        }
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0u) != 0x80u) {
                return std::nullopt;
            }
            value = (value << 6) | (next & 0x3Fu);
        }
        if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) {
            return std::nullopt;
        }
        characters.push_back(value);
        i += static_cast<std::size_t>(length);
    }
    return characters;
}

void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

// A word of the line for a message: printable ASCII only, shortened.
std::string Quoted(std::string_view word) {
    std::string shown;
    for (const char c : word.substr(0, 40)) {
        shown += c >= ' ' && c < 0x7F ? c : '?';
    }
    return "\"" + shown + (word.size() > 40 ? "...\"" : "\"");
}

} // namespace

Controller::Controller(Platform& platform, const Options& options)
    : Shell(platform), StartFullScreen(options.FullScreen),
      StartMonitor(options.FullScreenMonitor) {
    ApplyArguments(Pattern, options.Numbers);
    if (options.Grid) {
        Pattern.Mode = std::string("G");
    }
}

void Controller::Show() {
    Redraw();
    if (StartFullScreen) {
        EnterFullScreen(StartMonitor);
    } else {
        Shell.ShowWindow();
    }
    Shell.StartPointerTimer(PointerIdleMilliseconds);
}

void Controller::Redraw() {
    Shell.SetCaption(Caption(Pattern));
    Shell.Repaint();
}

void Controller::TypeCharacter(char32_t character) {
    if (character == Escape && InFullScreen) {
        LeaveFullScreen();
    } else if (!ApplyKey(Pattern, character)) {
        Shell.Beep();
    }
    Redraw();
}

void Controller::PressKey(Key key) {
    if (key != Key::FullScreen) {
        return;
    }
    if (InFullScreen) {
        LeaveFullScreen();
    } else {
        EnterFullScreen(0);
    }
}

void Controller::PointerMoved() {
    if (!PointerShown) {
        PointerShown = true;
        Shell.ShowPointer(true);
    }
    Shell.StartPointerTimer(PointerIdleMilliseconds);
}

void Controller::PointerIdle() {
    if (PointerShown) {
        PointerShown = false;
        Shell.ShowPointer(false);
    }
}

void Controller::WindowVisible(bool visible) {
    if (!Closed && visible != ScreenSaverHeld) {
        ScreenSaverHeld = visible;
        Shell.HoldScreenSaver(visible);
    }
}

void Controller::WindowClosed() {
    WindowVisible(false);
    Closed = true;
}

void Controller::EnterFullScreen(int monitor) {
    Shell.EnterFullScreen(monitor > 0 ? monitor : Shell.WindowMonitor());
    InFullScreen = true;
}

void Controller::LeaveFullScreen() {
    if (InFullScreen) {
        Shell.LeaveFullScreen();
        InFullScreen = false;
    }
}

void Controller::Command(std::string_view line) {
    CommandStart = std::chrono::steady_clock::now();
    ++LineNumber;
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    const Outcome outcome = Apply(line);
    if (!outcome.Error.empty()) {
        ReplyError(outcome.Error);
        return;
    }
    QuitPending = outcome.Quit;
    PendingReply = outcome.Reply;
    AwaitingReply = true;
    if (!Shell.Settling()) {
        Settled();
    }
}

void Controller::CommandTooLong() {
    CommandStart = std::chrono::steady_clock::now();
    ++LineNumber;
    ReplyError("the line is longer than 4096 bytes; it was skipped");
}

void Controller::Settled() {
    if (!AwaitingReply) {
        return;
    }
    AwaitingReply = false;
    Shell.PaintNow();
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - CommandStart;
    Shell.WriteReply(PendingReply.empty() ? StateReply(Pattern, InFullScreen, elapsed.count())
                                          : PendingReply);
    PendingReply.clear();
    if (QuitPending) {
        QuitPending = false;
        Shell.CloseWindow();
    }
}

void Controller::ReplyError(const std::string& error) {
    Shell.WriteReply(ErrorReply(error, LineNumber));
}

std::vector<CheckLine> Controller::CheckDisplay() {
    std::vector<CheckLine> lines = Shell.PipelineChecks();
    const PatternState kept = Pattern;
    struct Shown {
        const char* Mode;
        std::int16_t Level;
    };
    const Shown pictures[] = {{"F", 0}, {"F", 1}, {"F", 128}, {"F", 254}, {"F", 255}, {"G", 0}};
    std::string fromWindow;
    std::string fromScreen;
    bool read = true;
    for (const Shown& shown : pictures) {
        Pattern.Mode = std::string(shown.Mode);
        if (shown.Mode[0] == 'F') {
            Pattern.FlatLevel = shown.Level;
        }
        Redraw();
        Shell.PaintNow();
        ReadBackImage window;
        ReadBackImage screen;
        if (!Shell.ReadBack(window, screen)) {
            read = false;
            break;
        }
        const std::vector<PaintRect> painted =
            PaintPlan(Draw(Pattern, static_cast<float>(window.ClientWidth),
                           static_cast<float>(window.ClientHeight)),
                      window.Width, window.Height);
        const std::string name = shown.Mode[0] == 'F'
                                     ? "flat field at " + std::to_string(shown.Level)
                                     : "mosaic from " + std::to_string(Pattern.GridLevel);
        // The first picture that differs, and its first differing pixel.
        for (auto [image, found] : {std::pair{&window, &fromWindow}, {&screen, &fromScreen}}) {
            if (found->empty()) {
                const std::string difference = FirstDifference(*image, painted);
                if (!difference.empty()) {
                    *found = name;
                    *found += ": ";
                    *found += difference;
                }
            }
        }
    }
    Pattern = kept;
    Redraw();
    const char* const everything =
        "every pixel exact in the flat field at 0, 1, 128, 254 and 255 and in the mosaic";
    if (!read) {
        lines.push_back({Verdict::Unverified, "read-back", "the pixels cannot be read back here",
                         "Compare the picture with the README's pictures by eye"});
        return lines;
    }
    lines.push_back({fromWindow.empty() ? Verdict::Pass : Verdict::Fail,
                     "read-back from the window", fromWindow.empty() ? everything : fromWindow,
                     "The display server does not keep the colours Pruvex paints: use a "
                     "24-bit (8 bits per channel) display mode"});
    lines.push_back({fromScreen.empty() ? Verdict::Pass : Verdict::Fail,
                     "read-back from the screen", fromScreen.empty() ? everything : fromScreen,
                     "Something covers or changes the window on screen: close windows over it "
                     "and switch off the compositor's effects (opacity, tint) for it"});
    return lines;
}

Controller::Outcome Controller::Apply(std::string_view line) {
    if (line.find('\0') != line.npos) {
        return {"the line holds a NUL byte"};
    }
    if (line.empty()) {
        return {"empty line; the commands are " + std::string(CommandList)};
    }
    const std::size_t space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == line.npos ? std::string_view() : line.substr(space + 1);

    if (word == "keys") {
        const std::optional<std::vector<char32_t>> characters = DecodeUtf8(rest);
        if (!characters) {
            return {"keys TEXT must be valid UTF-8"};
        }
        if (characters->empty()) {
            return {"keys needs TEXT: the characters to type"};
        }
        for (const char32_t character : *characters) {
            TypeCharacter(character);
        }
        return {};
    }

    for (const char c : line) {
        if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) {
            return {"commands are printable ASCII (only keys TEXT takes other characters)"};
        }
    }
    const std::vector<std::string_view> arguments =
        space == line.npos ? std::vector<std::string_view>() : SplitFields(rest);
    const bool trailingSpace = space != line.npos && rest.empty();
    for (const std::string_view argument : arguments) {
        if (argument.empty()) {
            return {"words are separated by one space"};
        }
    }
    if (trailingSpace) {
        return {"words are separated by one space"};
    }
    const auto noArgument = [&]() -> std::string {
        return arguments.empty() ? "" : std::string(word) + " takes no argument";
    };
    // "level N" and its like: one whole number within its range.
    const auto number = [&](int low, int high, std::int16_t& field) -> std::string {
        std::string error = std::string(word) + " must be an integer from " + std::to_string(low) +
                            " to " + std::to_string(high);
        if (arguments.size() != 1) {
            return error;
        }
        const std::optional<int> value = ReadInteger(arguments[0]);
        if (!value || *value < low || *value > high) {
            return error;
        }
        field = static_cast<std::int16_t>(*value);
        Redraw();
        return {};
    };

    if (word == "flat" || word == "grid") {
        if (!arguments.empty()) {
            return {noArgument()};
        }
        Pattern.Mode = std::string(word == "flat" ? "F" : "G");
        Redraw();
        return {};
    }
    if (word == "level") {
        return {number(LowestLevel, HighestLevel, Pattern.FlatLevel)};
    }
    if (word == "grid-level") {
        return {number(0, HighestGridLevel(Pattern), Pattern.GridLevel)};
    }
    if (word == "step") {
        return {number(LowestLevelStep, HighestLevelStep, Pattern.LevelStep)};
    }
    if (word == "fullscreen") {
        const int monitors = static_cast<int>(Shell.Monitors().size());
        if (arguments.empty()) {
            EnterFullScreen(0);
            return {};
        }
        const std::optional<int> monitor =
            arguments.size() == 1 ? ReadInteger(arguments[0]) : std::nullopt;
        if (!monitor || *monitor < 1 || *monitor > monitors) {
            return {"fullscreen N needs a monitor number from 1 to " + std::to_string(monitors)};
        }
        EnterFullScreen(*monitor);
        return {};
    }
    if (word == "check") {
        if (!arguments.empty()) {
            return {noArgument()};
        }
        return {{}, false, ReportJson(CheckDisplay())};
    }
    if (word == "window" || word == "state" || word == "quit") {
        if (!arguments.empty()) {
            return {noArgument()};
        }
        if (word == "window") {
            LeaveFullScreen();
        }
        return {{}, word == "quit"};
    }
    return {"unknown command " + Quoted(word) + "; the commands are " + CommandList};
}

std::string StateReply(const PatternState& state, bool fullScreen, double milliseconds) {
    const Colour colour = LevelColour(IsFlat(state) ? state.FlatLevel : state.GridLevel, state);
    char timing[32];
    std::snprintf(timing, sizeof timing, "%.3f", milliseconds);
    std::string reply = "{\"ok\":true,\"mode\":";
    AppendJsonString(reply, state.Mode);
    reply += ",\"level\":" + std::to_string(state.FlatLevel) +
             ",\"step\":" + std::to_string(state.LevelStep) +
             ",\"grid_level\":" + std::to_string(state.GridLevel) +
             ",\"pitch\":" + std::to_string(state.Pitch) + ",\"rgb\":[" +
             std::to_string(colour.Red) + "," + std::to_string(colour.Green) + "," +
             std::to_string(colour.Blue) + "],\"caption\":";
    AppendJsonString(reply, Caption(state));
    reply += std::string(",\"fullscreen\":") + (fullScreen ? "true" : "false") +
             ",\"ms\":" + timing + "}";
    return reply;
}

std::string ErrorReply(const std::string& error, long line) {
    std::string reply = "{\"ok\":false,\"error\":";
    AppendJsonString(reply, error);
    reply += ",\"line\":" + std::to_string(line) + "}";
    return reply;
}

} // namespace pruvex
