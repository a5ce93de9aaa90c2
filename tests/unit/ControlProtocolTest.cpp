#include "app/ControlProtocol.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

using pruvex::CommandName;
using pruvex::ControlCommand;

// A line and what it reads as: the command, or the start of its error.
struct ReadCase {
    std::string Line;
    std::optional<ControlCommand> Command;
    std::string Error;
};

ReadCase Reads(std::string line, CommandName name, int number = 0,
               std::vector<char32_t> characters = {}) {
    return {std::move(line), ControlCommand{name, number, std::move(characters)}, {}};
}

ReadCase Refuses(std::string line, std::string error) {
    return {std::move(line), std::nullopt, std::move(error)};
}

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.Line);
}

class ReadTable : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadTable, ReadsTheCommandOrItsError) {
    int asked = 0;
    const pruvex::CommandLimits limits{178, [&asked] {
                                           ++asked;
                                           return 2;
                                       }};
    const pruvex::ReadLine read = pruvex::ReadCommand(GetParam().Line, limits);
    EXPECT_EQ(read.Command, GetParam().Command);
    const std::string& error = GetParam().Error;
    EXPECT_EQ(read.Error.substr(0, error.size()), error) << read.Error;
    EXPECT_EQ(read.Error.empty(), error.empty()) << read.Error;
    // The monitors are counted for a fullscreen command with its number only.
    EXPECT_EQ(asked, GetParam().Line.rfind("fullscreen ", 0) == 0 ? 1 : 0);
}

const char* const Range = "level must be an integer from 0 to 255";
const char* const OneSpace = "words are separated by one space";
const char* const NotUtf8 = "keys TEXT must be valid UTF-8";

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadTable,
    testing::Values(
        Reads("level 213", CommandName::Level, 213), Reads("level 0", CommandName::Level, 0),
        Reads("level 255\r", CommandName::Level, 255),
        Reads("grid-level 178", CommandName::GridLevel, 178),
        Reads("step 255", CommandName::Step, 255), Reads("flat", CommandName::Flat),
        Reads("grid", CommandName::Grid), Reads("state", CommandName::State),
        Reads("window", CommandName::Window), Reads("check", CommandName::Check),
        Reads("quit\r", CommandName::Quit), Reads("fullscreen", CommandName::FullScreen, 0),
        Reads("fullscreen 2", CommandName::FullScreen, 2),
        Reads("settle 0", CommandName::Settle, 0),
        Reads("settle 10000", CommandName::Settle, 10000),
        Refuses("settle 10001", "settle must be an integer from 0 to 10000"),
        Refuses("settle 007", "settle must be"), Refuses("settle", "settle must be"),
        Reads("keys ++Gz-aQ\xc3\xa9", CommandName::Keys, 0,
              {U'+', U'+', U'G', U'z', U'-', U'a', U'Q', U'\u00e9'}),
        Reads("keys  \t\x1b\xf0\x9f\x93\xb7", CommandName::Keys, 0,
              {U' ', U'\t', U'\x1b', U'\U0001F4F7'}),
        Refuses("level 256", Range), Refuses("level 12.5", Range), Refuses("level 1e2", Range),
        Refuses("level 0x10", Range), Refuses("level -0", Range), Refuses("level +5", Range),
        Refuses("level 05", Range), Refuses("level", Range), Refuses("level 5 6", Range),
        Refuses("level 100000", Range), Refuses("flat ", OneSpace), Refuses("level  5", OneSpace),
        Refuses("grid-level 179", "grid-level must be an integer from 0 to 178"),
        Refuses("step 0", "step must be an integer from 1 to 255"),
        Refuses("", "empty line; the commands are flat, grid, level N,"),
        Refuses("\r", "empty line"), Refuses("LEVEL 5", "unknown command \"LEVEL\""),
        Refuses(std::string(50, 'x'), "unknown command \"" + std::string(40, 'x') + "...\""),
        Refuses("grid now", "grid takes no argument"),
        Refuses("quit now", "quit takes no argument"),
        Refuses("keys", "keys needs TEXT: the characters to type"),
        Refuses("keys ", "keys needs TEXT"), Refuses("keys +\xc3", NotUtf8),
        Refuses("keys +\xed\xa0\x80", NotUtf8), Refuses("keys +\xc0\xab", NotUtf8),
        Refuses("keys \xf4\x90\x80\x80", NotUtf8),
        Refuses("level \xc3\xa9", "commands are printable ASCII"),
        Refuses("level\t5", "commands are printable ASCII"),
        Refuses(std::string("keys +\0+", 8), "the line holds a NUL byte"),
        Refuses("fullscreen 3", "fullscreen N needs a monitor number from 1 to 2"),
        Refuses("fullscreen 0", "fullscreen N needs a monitor number from 1 to 2"),
        Refuses("bad \"quote\\", "unknown command \"bad\"; the commands are")),
    [](const testing::TestParamInfo<ReadCase>& param) {
        return "Line" + std::to_string(param.index);
    });

TEST(ControlProtocol, StateReplyIsOneJsonLine) {
    pruvex::PatternState state;
    state.FlatLevel = 213;
    state.LevelStep = 2;
    EXPECT_EQ(
        pruvex::StateReply({state, false, 61, 41.5, 20.25, 59.94, 20}),
        R"({"ok":true,"mode":"F","level":213,"step":2,"grid_level":25,"pitch":61,"rgb":[213,97,145],)"
        R"("caption":"Flat @213: Adjust monitor brightness so properly exposed at 1/30s with lens )"
        R"(wide open at lowest ISO.","fullscreen":false,"ms":41.500,"refresh_hz":59.940,)"
        R"("shown_ms":20.250,"settle_ms":20})");
    state.Mode = "G";
    state.GridLevel = 178;
    const std::string grid = pruvex::StateReply({state, true, 266, 0.0004});
    EXPECT_NE(grid.find(R"("grid_level":178,"pitch":266,"rgb":[178,81,121])"), std::string::npos)
        << grid;
    EXPECT_NE(grid.find(R"("fullscreen":true,"ms":0.000,)"), std::string::npos) << grid;
}

TEST(ControlProtocol, ErrorReplyEscapesTheError) {
    EXPECT_EQ(pruvex::ErrorReply("unknown command \"a\\b\"", 7),
              R"({"ok":false,"error":"unknown command \"a\\b\"","line":7})");
    EXPECT_EQ(pruvex::ErrorReply(std::string("tab\there\x01\n\0", 11), 1),
              R"({"ok":false,"error":"tab\u0009here\u0001\u000a\u0000","line":1})");
    EXPECT_EQ(
        pruvex::ErrorReply(pruvex::LineTooLongError(), 4),
        R"({"ok":false,"error":"the line is longer than 4096 bytes; it was skipped","line":4})");
}

TEST(ControlProtocol, JsonObjectWritesFieldsInOrder) {
    EXPECT_EQ(pruvex::JsonObject().Written(), "{}");
    EXPECT_EQ(pruvex::JsonObject()
                  .Integer("a", -3)
                  .Integers("b", {})
                  .Integers("c", {1, 2})
                  .Fixed("d", 59.9416, 2)
                  .Text("e", "\xc3\xa9")
                  .Boolean("f", false)
                  .Written(),
              R"({"a":-3,"b":[],"c":[1,2],"d":59.94,"e":"é","f":false})");
}

} // namespace
