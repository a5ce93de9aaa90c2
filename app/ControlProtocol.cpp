#include "ControlProtocol.h"

#include "Options.h"

#include "Arguments.h"
#include "pattern/LevelColour.h"
#include "pattern/Picture.h"

#include <cstdio>

namespace pruvex {

namespace {

const char* const CommandList = "flat, grid, level N, grid-level N, step N, keys TEXT, "
                                "fullscreen [N], window, settle N, state, check, quit";

} // namespace

namespace {

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

ReadLine Refused(std::string error) {
    return {std::nullopt, std::move(error)};
}

ReadLine Read(CommandName name, int number = 0) {
    return {ControlCommand{name, number, {}}, {}};
}

} // namespace

ReadLine ReadCommand(std::string_view line, const CommandLimits& limits) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.find('\0') != line.npos) {
        return Refused("the line holds a NUL byte");
    }
    if (line.empty()) {
        return Refused("empty line; the commands are " + std::string(CommandList));
    }
    const std::size_t space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == line.npos ? std::string_view() : line.substr(space + 1);

    if (word == "keys") {
        std::optional<std::vector<char32_t>> characters = DecodeUtf8(rest);
        if (!characters) {
            return Refused("keys TEXT must be valid UTF-8");
        }
        if (characters->empty()) {
            return Refused("keys needs TEXT: the characters to type");
        }
        return {ControlCommand{CommandName::Keys, 0, std::move(*characters)}, {}};
    }

    for (const char c : line) {
        if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20) {
            return Refused("commands are printable ASCII (only keys TEXT takes other characters)");
        }
    }
    const std::vector<std::string_view> arguments =
        space == line.npos ? std::vector<std::string_view>() : SplitFields(rest);
    const bool trailingSpace = space != line.npos && rest.empty();
    for (const std::string_view argument : arguments) {
        if (argument.empty()) {
            return Refused("words are separated by one space");
        }
    }
    if (trailingSpace) {
        return Refused("words are separated by one space");
    }
    // A command without an argument.
    const auto plain = [&](CommandName name) -> ReadLine {
        if (!arguments.empty()) {
            return Refused(std::string(word) + " takes no argument");
        }
        return Read(name);
    };
    // "level N" and its like: one whole number within its range.
    const auto number = [&](CommandName name, int low, int high) -> ReadLine {
        const std::optional<int> value =
            arguments.size() == 1 ? ReadInteger(arguments[0]) : std::nullopt;
        if (!value || *value < low || *value > high) {
            return Refused(std::string(word) + " must be an integer from " + std::to_string(low) +
                           " to " + std::to_string(high));
        }
        return Read(name, *value);
    };

    if (word == "flat") {
        return plain(CommandName::Flat);
    }
    if (word == "grid") {
        return plain(CommandName::Grid);
    }
    if (word == "level") {
        return number(CommandName::Level, LowestLevel, HighestLevel);
    }
    if (word == "grid-level") {
        return number(CommandName::GridLevel, 0, limits.HighestGridLevel);
    }
    if (word == "step") {
        return number(CommandName::Step, LowestLevelStep, HighestLevelStep);
    }
    if (word == "fullscreen") {
        if (arguments.empty()) {
            return Read(CommandName::FullScreen);
        }
        const int monitors = limits.Monitors ? limits.Monitors() : 0;
        const std::optional<int> monitor =
            arguments.size() == 1 ? ReadInteger(arguments[0]) : std::nullopt;
        if (!monitor || *monitor < 1 || *monitor > monitors) {
            return Refused("fullscreen N needs a monitor number from 1 to " +
                           std::to_string(monitors));
        }
        return Read(CommandName::FullScreen, *monitor);
    }
    if (word == "settle") {
        return number(CommandName::Settle, 0, HighestSettleMilliseconds);
    }
    if (word == "check") {
        return plain(CommandName::Check);
    }
    if (word == "window") {
        return plain(CommandName::Window);
    }
    if (word == "state") {
        return plain(CommandName::State);
    }
    if (word == "quit") {
        return plain(CommandName::Quit);
    }
    return Refused("unknown command " + Quoted(word) + "; the commands are " + CommandList);
}

std::string LineTooLongError() {
    return "the line is longer than " + std::to_string(LongestCommandLine) +
           " bytes; it was skipped";
}

std::string NotFullScreenError() {
    return "the window manager did not give the window the whole monitor within " +
           std::to_string(WindowManagerMilliseconds / 1000) + " s";
}

void JsonObject::Name(std::string_view name) {
    if (Out.size() > 1) {
        Out += ',';
    }
    AppendJsonString(Out, name);
    Out += ':';
}

JsonObject& JsonObject::Boolean(std::string_view name, bool value) {
    Name(name);
    Out += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Integer(std::string_view name, long long value) {
    Name(name);
    Out += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Integers(std::string_view name, std::initializer_list<int> values) {
    Name(name);
    Out += '[';
    for (const int value : values) {
        if (Out.back() != '[') {
            Out += ',';
        }
        Out += std::to_string(value);
    }
    Out += ']';
    return *this;
}

JsonObject& JsonObject::Fixed(std::string_view name, double value, int decimals) {
    Name(name);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    Out += text;
    return *this;
}

JsonObject& JsonObject::Text(std::string_view name, std::string_view text) {
    Name(name);
    AppendJsonString(Out, text);
    return *this;
}

std::string JsonObject::Written() const {
    return Out + "}";
}

std::string StateReply(const StateReplyFields& fields) {
    const PatternState& state = fields.State;
    const Colour colour = LevelColour(IsFlat(state) ? state.FlatLevel : state.GridLevel, state);
    return JsonObject()
        .Boolean("ok", true)
        .Text("mode", state.Mode)
        .Integer("level", state.FlatLevel)
        .Integer("step", state.LevelStep)
        .Integer("grid_level", state.GridLevel)
        .Integer("pitch", fields.Pitch)
        .Integers("rgb", {colour.Red, colour.Green, colour.Blue})
        .Text("caption", Caption(state))
        .Boolean("fullscreen", fields.FullScreen)
        .Fixed("ms", fields.Milliseconds, 3)
        .Fixed("refresh_hz", fields.RefreshHz, 3)
        .Fixed("shown_ms", fields.ShownMilliseconds, 3)
        .Integer("settle_ms", fields.SettleMilliseconds)
        .Written();
}

std::string ErrorReply(std::string_view error, long line) {
    return JsonObject().Boolean("ok", false).Text("error", error).Integer("line", line).Written();
}

} // namespace pruvex
