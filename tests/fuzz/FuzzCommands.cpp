// Any bytes on the control channel, split into reads anywhere. Each line,
// read by the protocol alone, gives the command or the refusal of a small
// model of the commands written apart from it; through the channel and the
// controller, one reply per line, in order, the state always within its
// ranges, and every reply and the final state equal to the model's.
//
// Input: the first byte chooses the size of the reads; the rest is the
// channel's input.

#include "FakePlatform.h"
#include "KeyModel.h"
#include "app/ControlChannel.h"
#include "app/ControlProtocol.h"
#include "app/Controller.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The characters of well-formed UTF-8 by the table of the Unicode standard
// (3.9, table 3-7), or nothing for any other bytes.
std::optional<std::vector<char32_t>> Decode(std::string_view text) {
    std::vector<char32_t> characters;
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const auto in = [&](std::size_t k, unsigned low, unsigned high) {
        return k < text.size() && byte(k) >= low && byte(k) <= high;
    };
    // The lead byte's bits below its length marker, then 6 bits a byte.
    const auto take = [&](std::size_t length, unsigned leadBits) {
        char32_t value = byte(i) & leadBits;
        for (std::size_t k = 1; k < length; ++k) {
            value = value * 64 + (byte(i + k) - 0x80u);
        }
        characters.push_back(value);
        i += length;
    };
    while (i < text.size()) {
        const unsigned b = byte(i);
        if (b <= 0x7F) {
            take(1, 0x7F);
        } else if (b >= 0xC2 && b <= 0xDF && in(i + 1, 0x80, 0xBF)) {
            take(2, 0x1F);
        } else if ((b == 0xE0 && in(i + 1, 0xA0, 0xBF)) ||
                   (((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) &&
                    in(i + 1, 0x80, 0xBF)) ||
                   (b == 0xED && in(i + 1, 0x80, 0x9F))) {
            if (!in(i + 2, 0x80, 0xBF)) {
                return std::nullopt;
            }
            take(3, 0x0F);
        } else if ((b == 0xF0 && in(i + 1, 0x90, 0xBF)) ||
                   (b >= 0xF1 && b <= 0xF3 && in(i + 1, 0x80, 0xBF)) ||
                   (b == 0xF4 && in(i + 1, 0x80, 0x8F))) {
            if (!in(i + 2, 0x80, 0xBF) || !in(i + 3, 0x80, 0xBF)) {
                return std::nullopt;
            }
            take(4, 0x07);
        } else {
            return std::nullopt;
        }
    }
    return characters;
}

bool Number(std::string_view text, int low, int high, int& value) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (text.size() > 1 && text[0] == '0') {
        return false;
    }
    return value >= low && value <= high;
}

using pruvex::CommandName;
using pruvex::ControlCommand;

// The command a line carries, or nothing when it is refused.
std::optional<ControlCommand> ModelCommand(std::string line) {
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.find('\0') != std::string::npos || line.empty()) {
        return std::nullopt;
    }
    if (line.rfind("keys ", 0) == 0) {
        std::optional<std::vector<char32_t>> characters = Decode(std::string_view(line).substr(5));
        if (!characters || characters->empty()) {
            return std::nullopt;
        }
        return ControlCommand{CommandName::Keys, 0, std::move(*characters)};
    }
    for (const char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return std::nullopt;
        }
    }
    int value = 0;
    const std::string_view text = line;
    const auto command = [](CommandName name, int number = 0) {
        return ControlCommand{name, number, {}};
    };
    if (text == "flat" || text == "grid") {
        return command(text == "grid" ? CommandName::Grid : CommandName::Flat);
    }
    if (text.rfind("level ", 0) == 0 && Number(text.substr(6), 0, 255, value)) {
        return command(CommandName::Level, value);
    }
    if (text.rfind("grid-level ", 0) == 0 && Number(text.substr(11), 0, 178, value)) {
        return command(CommandName::GridLevel, value);
    }
    if (text.rfind("step ", 0) == 0 && Number(text.substr(5), 1, 255, value)) {
        return command(CommandName::Step, value);
    }
    if (text.rfind("settle ", 0) == 0 && Number(text.substr(7), 0, 10000, value)) {
        return command(CommandName::Settle, value);
    }
    if (text == "fullscreen" || text == "fullscreen 1" || text == "fullscreen 2") {
        return command(CommandName::FullScreen, text.size() > 10 ? text[11] - '0' : 0);
    }
    const std::pair<std::string_view, CommandName> plain[] = {{"window", CommandName::Window},
                                                              {"state", CommandName::State},
                                                              {"check", CommandName::Check},
                                                              {"quit", CommandName::Quit}};
    for (const auto& [word, name] : plain) {
        if (text == word) {
            return command(name);
        }
    }
    return std::nullopt;
}

// What a command does to the model's display.
void ModelApply(const ControlCommand& command, pruvex::testing::KeyModel& model, bool& fullScreen) {
    switch (command.Name) {
    case CommandName::Keys:
        for (const char32_t c : command.Characters) {
            model.Type(c);
        }
        break;
    case CommandName::Flat:
    case CommandName::Grid:
        model.Grid = command.Name == CommandName::Grid;
        break;
    case CommandName::Level:
        model.FlatLevel = command.Number;
        break;
    case CommandName::GridLevel:
        model.GridLevel = command.Number;
        break;
    case CommandName::Step:
        model.LevelStep = command.Number;
        break;
    case CommandName::FullScreen:
        fullScreen = true;
        break;
    case CommandName::Window:
        fullScreen = false;
        break;
    case CommandName::Settle:
    case CommandName::State:
    case CommandName::Check:
    case CommandName::Quit:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t readSize = 1 + data[0] % 64;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    // Escape typed in full screen behaves apart from the key table; the model
    // keeps to inputs without it.
    if (input.find('\x1b') != std::string_view::npos) {
        return 0;
    }

    pruvex::testing::FakePlatform platform;
    pruvex::Controller controller(platform, pruvex::ReadOptions(""));
    pruvex::ControlChannel channel(controller);
    // A reply waiting for the panel to settle is let out as its timer would.
    const auto pump = [&] {
        channel.Pump();
        for (int timers = 0; controller.ReplyPending(); ++timers) {
            Require(timers < 100000 && !platform.ReplyTimers.empty());
            controller.ReplyDue();
            channel.Pump();
        }
    };
    for (std::size_t at = 0; at < input.size(); at += readSize) {
        channel.Feed(input.substr(at, readSize));
        pump();
        const pruvex::PatternState& s = controller.State();
        Require(s.FlatLevel >= 0 && s.FlatLevel <= 255 && s.LevelStep >= 1 && s.LevelStep <= 255 &&
                s.GridLevel >= 0 && s.GridLevel <= 178 && (s.Mode == "F" || s.Mode == "G"));
    }
    channel.EndOfInput();
    pump();
    Require(channel.Idle());

    // The model's lines: split at line ends, a last line without its end
    // included, long ones refused. The protocol alone reads each as the model
    // does.
    const pruvex::CommandLimits limits{178, [] { return 2; }};
    pruvex::testing::KeyModel model;
    bool fullScreen = false;
    std::vector<bool> expected;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) {
            end = input.size();
        }
        const std::string_view line = input.substr(start, end - start);
        start = end + 1;
        if (line.size() > pruvex::LongestCommandLine) {
            expected.push_back(false);
            continue;
        }
        const std::optional<ControlCommand> command = ModelCommand(std::string(line));
        const pruvex::ReadLine read = pruvex::ReadCommand(line, limits);
        Require(read.Command == command && read.Error.empty() == command.has_value());
        if (command) {
            ModelApply(*command, model, fullScreen);
        } else {
            // The error in the reply is printable ASCII, so the reply is one
            // line whatever the bytes of the line were.
            for (const char c : pruvex::ErrorReply(read.Error, 1)) {
                Require(c >= ' ' && c < 0x7F);
            }
        }
        expected.push_back(command.has_value());
    }
    Require(platform.Replies.size() == expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& reply = platform.Replies[i];
        Require((reply.rfind("{\"ok\":true,", 0) == 0) == expected[i]);
        if (!expected[i]) {
            Require(reply.find(",\"line\":" + std::to_string(i + 1) + "}") != std::string::npos);
        }
    }
    const pruvex::PatternState& s = controller.State();
    Require(s.FlatLevel == model.FlatLevel && s.GridLevel == model.GridLevel &&
            s.LevelStep == model.LevelStep && s.Mode == (model.Grid ? "G" : "F"));
    Require(controller.IsFullScreen() == fullScreen);
    return 0;
}
