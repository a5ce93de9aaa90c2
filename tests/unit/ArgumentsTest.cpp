#include "app/Arguments.h"
#include "app/Options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using pruvex::Arguments;
using pruvex::ReadArguments;
using pruvex::ReadNumber;

struct ArgumentCase {
    const char* Text;
    std::int16_t LevelStep;
    std::int16_t FlatLevel;
};

class ArgumentTable : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTable, GivesStepAndLevel) {
    const Arguments actual = ReadArguments(GetParam().Text);
    EXPECT_EQ(actual.LevelStep, GetParam().LevelStep) << "\"" << GetParam().Text << "\"";
    EXPECT_EQ(actual.FlatLevel, GetParam().FlatLevel) << "\"" << GetParam().Text << "\"";
}

const ArgumentCase ArgumentCases[] = {ArgumentCase{"", 1, 212},
                                      ArgumentCase{"5", 5, 212},
                                      ArgumentCase{"5 100", 5, 100},
                                      ArgumentCase{"5 100 9", 5, 100},
                                      ArgumentCase{"0 300", 1, 255},
                                      ArgumentCase{"-3 -7", 1, 0},
                                      ArgumentCase{"2.5 7.5", 2, 8},
                                      ArgumentCase{"3.5 0.5", 4, 0},
                                      ArgumentCase{"1.5 254.5", 2, 254},
                                      ArgumentCase{"12ab 40x", 12, 40},
                                      ArgumentCase{"abc def", 1, 0},
                                      ArgumentCase{"100000 70000", 255, 255},
                                      ArgumentCase{" 5 100", 1, 5},
                                      ArgumentCase{"5  100", 5, 0},
                                      ArgumentCase{"5 ", 5, 0},
                                      ArgumentCase{" ", 1, 0},
                                      ArgumentCase{"1e999 1e999", 255, 255},
                                      ArgumentCase{"-1e999 -1e999", 1, 0},
                                      ArgumentCase{"1e-999 1e-999", 1, 0},
                                      ArgumentCase{"2e1 1.5e2", 20, 150},
                                      ArgumentCase{"2E+1 15E-1", 20, 2},
                                      ArgumentCase{"7e 9e+", 7, 9},
                                      ArgumentCase{"+9 +10", 9, 10},
                                      ArgumentCase{".5 .75e2", 1, 75},
                                      ArgumentCase{"5. 6.", 5, 6},
                                      ArgumentCase{". -", 1, 0},
                                      ArgumentCase{"inf nan", 1, 0},
                                      ArgumentCase{"0x10 0x10", 1, 0},
                                      ArgumentCase{"9\t7 8", 9, 8},
                                      ArgumentCase{"9 -reverse", 9, 0},
                                      ArgumentCase{"254.49 254.51", 254, 255},
                                      ArgumentCase{"00012 000", 12, 0}};

INSTANTIATE_TEST_SUITE_P(CommandLines, ArgumentTable, testing::ValuesIn(ArgumentCases));

TEST(SplitFields, EverySpaceEndsAField) {
    using Fields = std::vector<std::string_view>;
    EXPECT_EQ(pruvex::SplitFields(""), Fields{});
    EXPECT_EQ(pruvex::SplitFields("a"), (Fields{"a"}));
    EXPECT_EQ(pruvex::SplitFields(" "), (Fields{"", ""}));
    EXPECT_EQ(pruvex::SplitFields("a  b "), (Fields{"a", "", "b", ""}));
    EXPECT_EQ(pruvex::SplitFields("a\tb c"), (Fields{"a\tb", "c"}));
}

TEST(ReadNumber, HugeValuesAreInfiniteAndTinyOnesZero) {
    EXPECT_EQ(ReadNumber("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber("-0.0001e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(ReadNumber("1e99999999999999999999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ReadNumber("0e999"), 0.0);
    EXPECT_EQ(ReadNumber("123.25xyz"), 123.25);
}

TEST(JoinArguments, JoinsWithSingleSpacesAfterTheProgramName) {
    const char* const argv[] = {"pruvex", "5", "", "100"};
    EXPECT_EQ(pruvex::JoinArguments(4, argv), "5  100");
    EXPECT_EQ(pruvex::JoinArguments(1, argv), "");
    EXPECT_EQ(ReadArguments(pruvex::JoinArguments(4, argv)), (Arguments{5, 0}));
}

TEST(ArgumentTextOfCommandLine, SkipsTheProgramNameByTheWindowsRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"Pruvex.exe", ""},
        {"Pruvex.exe 5 100", "5 100"},
        {"Pruvex.exe   5  100 ", "5  100 "},
        {"\"C:\\Program Files\\Pruvex.exe\" 5 100", "5 100"},
        {"\"C:\\My Tools\\Pruvex.exe\"7 8", "8"},
        {"C:\\\"My Tools\"\\Pruvex.exe\t9 1", "9 1"},
        {"\"C:\\unterminated 5 100", ""},
        {"", ""},
    };
    for (const auto& [commandLine, expected] : cases) {
        EXPECT_EQ(pruvex::ArgumentTextOfCommandLine(commandLine), expected) << commandLine;
    }
}

// Options anywhere among the fields; everything else read as before.
struct OptionCase {
    const char* Text;
    std::int16_t LevelStep;
    std::int16_t FlatLevel;
    const char* Set; // the options set: g grid, f full screen, l list, c control, h help, v version
    int Monitor;
    std::size_t Unknown;
    bool Error;
    int Settle = pruvex::DefaultSettleMilliseconds;
};

class OptionTable : public testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, TakesOptionsOut) {
    const OptionCase& c = GetParam();
    const pruvex::Options options = pruvex::ReadOptions(c.Text);
    const std::string set = c.Set;
    const auto has = [&](char flag) { return set.find(flag) != std::string::npos; };
    EXPECT_EQ(options.Numbers, (Arguments{c.LevelStep, c.FlatLevel})) << c.Text;
    EXPECT_EQ(options.Grid, has('g')) << c.Text;
    EXPECT_EQ(options.FullScreen, has('f')) << c.Text;
    EXPECT_EQ(options.FullScreenMonitor, c.Monitor) << c.Text;
    EXPECT_EQ(options.ListMonitors, has('l')) << c.Text;
    EXPECT_EQ(options.Control, has('c')) << c.Text;
    EXPECT_EQ(options.Help, has('h')) << c.Text;
    EXPECT_EQ(options.Version, has('v')) << c.Text;
    EXPECT_EQ(options.UnknownOptions.size(), c.Unknown) << c.Text;
    EXPECT_EQ(!options.Error.empty(), c.Error) << c.Text;
    EXPECT_EQ(options.SettleMilliseconds, c.Settle) << c.Text;
    EXPECT_EQ(pruvex::UnknownOptionWarning(options).empty(), c.Unknown == 0) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, OptionTable,
    testing::Values(OptionCase{"--grid 5 100", 5, 100, "g", 0, 0, false},
                    OptionCase{"5 100 --grid", 5, 100, "g", 0, 0, false},
                    OptionCase{"5 --grid 100", 5, 100, "g", 0, 0, false},
                    OptionCase{"--grid --grid", 1, 212, "g", 0, 0, false},
                    OptionCase{"--fullscreen", 1, 212, "f", 0, 0, false},
                    OptionCase{"--fullscreen=2 7", 7, 212, "f", 2, 0, false},
                    OptionCase{"--fullscreen=1 --fullscreen", 1, 212, "f", 0, 0, false},
                    OptionCase{"--fullscreen=0", 1, 212, "f", 0, 0, true},
                    OptionCase{"--fullscreen=x", 1, 212, "f", 0, 0, true},
                    OptionCase{"--fullscreen=", 1, 212, "f", 0, 0, true},
                    OptionCase{"--fullscreen=-1", 1, 212, "f", 0, 0, true},
                    OptionCase{"--fullscreen=99999", 1, 212, "f", 0, 0, true},
                    OptionCase{"--list-monitors", 1, 212, "l", 0, 0, false},
                    OptionCase{"--settle=0 5", 5, 212, "", 0, 0, false, 0},
                    OptionCase{"--settle=10000 --settle=35", 1, 212, "", 0, 0, false, 35},
                    OptionCase{"--settle=10001", 1, 212, "", 0, 0, true},
                    OptionCase{"--settle=020", 1, 212, "", 0, 0, true},
                    OptionCase{"--settle=", 1, 212, "", 0, 0, true},
                    OptionCase{"--settle=-5", 1, 212, "", 0, 0, true},
                    OptionCase{"--settle=2.5", 1, 212, "", 0, 0, true},
                    OptionCase{"--control 3 9 --grid", 3, 9, "gc", 0, 0, false},
                    OptionCase{"--help", 1, 212, "h", 0, 0, false},
                    OptionCase{"5 --help", 5, 212, "h", 0, 0, false},
                    OptionCase{"-h", 1, 212, "h", 0, 0, false},
                    OptionCase{"5 -h", 5, 0, "", 0, 0, false},
                    OptionCase{"--version", 1, 212, "v", 0, 0, false},
                    OptionCase{"--bogus 5", 1, 5, "", 0, 1, false},
                    OptionCase{"5 --GRID --x", 5, 0, "", 0, 2, false},
                    OptionCase{"-- 5", 1, 5, "", 0, 0, false},
                    OptionCase{"5  --grid", 5, 0, "g", 0, 0, false}));

TEST(OptionTable, TextsWithoutOptionsReadAsBefore) {
    for (const ArgumentCase& c : ArgumentCases) {
        const pruvex::Options options = pruvex::ReadOptions(c.Text);
        EXPECT_EQ(options.Numbers, ReadArguments(c.Text)) << "\"" << c.Text << "\"";
        EXPECT_FALSE(options.Grid || options.FullScreen || options.Help || options.Control);
    }
}

} // namespace
