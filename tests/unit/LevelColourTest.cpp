#include "pattern/LevelColour.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using pruvex::Colour;
using pruvex::LevelColour;
using pruvex::PatternState;

struct LevelCase {
    std::int16_t Level;
    Colour Expected;
};

class LevelColourTable : public testing::TestWithParam<LevelCase> {};

TEST_P(LevelColourTable, MatchesTheRule) {
    const PatternState state;
    const Colour actual = LevelColour(GetParam().Level, state);
    EXPECT_EQ(actual, GetParam().Expected)
        << "level " << GetParam().Level << " gave (" << int{actual.Red} << ", " << int{actual.Green}
        << ", " << int{actual.Blue} << ")";
}

// The rule's table, its halves (just below a half, exactly a half) and the
// levels above 255 where green and blue keep scaling.
INSTANTIATE_TEST_SUITE_P(
    KnownLevels, LevelColourTable,
    testing::Values(LevelCase{0, {0, 0, 0}}, LevelCase{1, {1, 0, 1}}, LevelCase{11, {11, 5, 7}},
                    LevelCase{25, {25, 11, 17}}, LevelCase{33, {33, 15, 22}},
                    LevelCase{55, {55, 25, 38}}, LevelCase{77, {77, 35, 52}},
                    LevelCase{99, {99, 45, 68}}, LevelCase{121, {121, 55, 82}},
                    LevelCase{143, {143, 65, 97}}, LevelCase{165, {165, 75, 112}},
                    LevelCase{187, {187, 85, 127}}, LevelCase{209, {209, 95, 142}},
                    LevelCase{212, {212, 96, 145}}, LevelCase{213, {213, 97, 145}},
                    LevelCase{231, {231, 105, 158}}, LevelCase{253, {253, 115, 172}},
                    LevelCase{255, {255, 116, 174}}, LevelCase{329, {255, 150, 224}},
                    LevelCase{482, {255, 219, 255}}, LevelCase{642, {255, 255, 255}}));

// Every level either pattern can show, against a table made by a separate
// script (tests/data/make_level_colours.py).
TEST(LevelColourGolden, EveryLevelUpTo642) {
    std::ifstream file(PRUVEX_TEST_DATA "/level_colours.csv");
    ASSERT_TRUE(file) << "cannot read " PRUVEX_TEST_DATA "/level_colours.csv";
    std::string line;
    std::getline(file, line); // header
    const PatternState state;
    int rows = 0;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        int level = 0, red = 0, green = 0, blue = 0;
        char comma = 0;
        fields >> level >> comma >> red >> comma >> green >> comma >> blue;
        const Colour actual = LevelColour(static_cast<std::int16_t>(level), state);
        EXPECT_EQ(actual, (Colour{static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                  static_cast<std::uint8_t>(blue)}))
            << "level " << level;
        ++rows;
    }
    EXPECT_EQ(rows, 643);
}

} // namespace
