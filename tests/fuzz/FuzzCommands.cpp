// Any bytes on the control channel, split into reads anywhere: one reply per
// line, in order, the state always within its ranges, and every reply and
// the final state equal to a small model of the commands written apart from
// the controller.
//
// Input: the first byte chooses the size of the reads; the rest is the
// channel's input.

#include "FakePlatform.h"
#include "KeyModel.h"
#include "app/ControlChannel.h"
#include "app/Controller.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Well-formed UTF-8 by the table of the Unicode standard (3.9, table 3-7).
bool WellFormed(std::string_view text) {
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const auto in = [&](std::size_t k, unsigned low, unsigned high) {
        return k < text.size() && byte(k) >= low && byte(k) <= high;
    };
    while (i < text.size()) {
        const unsigned b = byte(i);
        if (b <= 0x7F) {
            i += 1;
        } else if (b >= 0xC2 && b <= 0xDF && in(i + 1, 0x80, 0xBF)) {
            i += 2;
        } else if ((b == 0xE0 && in(i + 1, 0xA0, 0xBF)) ||
                   (((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) &&
                    in(i + 1, 0x80, 0xBF)) ||
                   (b == 0xED && in(i + 1, 0x80, 0x9F))) {
            if (!in(i + 2, 0x80, 0xBF)) {
                return false;
            }
            i += 3;
        } else if ((b == 0xF0 && in(i + 1, 0x90, 0xBF)) ||
                   (b >= 0xF1 && b <= 0xF3 && in(i + 1, 0x80, 0xBF)) ||
                   (b == 0xF4 && in(i + 1, 0x80, 0x8F))) {
            if (!in(i + 2, 0x80, 0xBF) || !in(i + 3, 0x80, 0xBF)) {
                return false;
            }
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// The number of characters of well-formed UTF-8 that are not one of the
// table's keys, each typed once: the model types ASCII keys, and counts
// every other character as a beep.
void TypeText(pruvex::testing::KeyModel& model, std::string_view text) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            model.Type(b);
        } else if (b >= 0xC0) {
            model.Type(0x80); // the lead byte of a character outside ASCII: beeps
        }
    }
}

bool Number(std::string_view text, int low, int high, int& value) {
    if (text.empty() || text.size() > 3) {
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

// True when the line is carried out; the model changes only then.
bool ModelCommand(pruvex::testing::KeyModel& model, bool& fullScreen, std::string line,
                  bool tooLong) {
    if (tooLong) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.find('\0') != std::string::npos || line.empty()) {
        return false;
    }
    if (line.rfind("keys ", 0) == 0) {
        if (line.size() == 5 || !WellFormed(std::string_view(line).substr(5))) {
            return false;
        }
        TypeText(model, std::string_view(line).substr(5));
        // Escape in full screen leaves it instead of beeping.
        return true;
    }
    for (const char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            return false;
        }
    }
    int value = 0;
    const std::string_view text = line;
    if (text == "flat" || text == "grid") {
        model.Grid = text == "grid";
    } else if (text.rfind("level ", 0) == 0 && Number(text.substr(6), 0, 255, value)) {
        model.FlatLevel = value;
    } else if (text.rfind("grid-level ", 0) == 0 && Number(text.substr(11), 0, 178, value)) {
        model.GridLevel = value;
    } else if (text.rfind("step ", 0) == 0 && Number(text.substr(5), 1, 255, value)) {
        model.LevelStep = value;
    } else if (text == "fullscreen" || text == "fullscreen 1" || text == "fullscreen 2") {
        fullScreen = true;
    } else if (text == "window") {
        fullScreen = false;
    } else if (text != "state" && text != "quit" && text != "check") {
        return false;
    }
    return true;
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
    for (std::size_t at = 0; at < input.size(); at += readSize) {
        channel.Feed(input.substr(at, readSize));
        channel.Pump();
        const pruvex::PatternState& s = controller.State();
        Require(s.FlatLevel >= 0 && s.FlatLevel <= 255 && s.LevelStep >= 1 && s.LevelStep <= 255 &&
                s.GridLevel >= 0 && s.GridLevel <= 178 && (s.Mode == "F" || s.Mode == "G"));
    }
    channel.EndOfInput();
    channel.Pump();
    Require(channel.Idle());

    // The model's lines: split at line ends, a last line without its end
    // included, long ones refused.
    pruvex::testing::KeyModel model;
    bool fullScreen = false;
    std::vector<bool> expected;
    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        const bool ended = end != std::string_view::npos;
        if (!ended) {
            end = input.size();
        }
        const std::string_view line = input.substr(start, end - start);
        expected.push_back(ModelCommand(model, fullScreen, std::string(line),
                                        line.size() > pruvex::LongestCommandLine));
        start = end + 1;
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
