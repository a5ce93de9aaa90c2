#include "app/KeyCommands.h"
#include "KeySequences.h"
#include "app/Arguments.h"

#include <gtest/gtest.h>

namespace {

using pruvex::KeyCommand;
using pruvex::LookUpKey;
using pruvex::PatternState;
using pruvex::testing::KeySequence;

class KeySequenceTable : public testing::TestWithParam<KeySequence> {};

TEST_P(KeySequenceTable, LeavesTheDisplayAsExpected) {
    const KeySequence& sequence = GetParam();
    PatternState state;
    pruvex::ApplyArguments(state, pruvex::ReadArguments(sequence.Arguments));
    int beeps = 0;
    for (const char character : sequence.Typed) {
        if (!pruvex::ApplyKey(state, static_cast<unsigned char>(character))) {
            ++beeps;
        }
    }
    EXPECT_EQ(state.FlatLevel, sequence.FlatLevel);
    EXPECT_EQ(state.GridLevel, sequence.GridLevel);
    EXPECT_EQ(state.Mode, sequence.Mode);
    EXPECT_EQ(beeps, sequence.Beeps);
}

INSTANTIATE_TEST_SUITE_P(Sequences, KeySequenceTable,
                         testing::ValuesIn(pruvex::testing::KeySequences),
                         [](const testing::TestParamInfo<KeySequence>& param) {
                             return std::string(param.param.Name);
                         });

TEST(LookUpKey, OnlyTheTableCharactersAreKnown) {
    const std::pair<char32_t, KeyCommand> known[] = {
        {U'-', KeyCommand::Lower},      {U'a', KeyCommand::Lower},
        {U'A', KeyCommand::Lower},      {U'+', KeyCommand::Raise},
        {U'z', KeyCommand::Raise},      {U'Z', KeyCommand::Raise},
        {U'F', KeyCommand::SelectFlat}, {U'f', KeyCommand::SelectFlat},
        {U'G', KeyCommand::SelectGrid}, {U'g', KeyCommand::SelectGrid},
    };
    int knownCount = 0;
    for (char32_t character = 0; character < 0x110000; ++character) {
        KeyCommand expected = KeyCommand::Unknown;
        for (const auto& [key, command] : known) {
            if (key == character) {
                expected = command;
            }
        }
        if (expected != KeyCommand::Unknown) {
            ++knownCount;
        }
        ASSERT_EQ(LookUpKey(character), expected) << "character " << std::uint32_t{character};
    }
    EXPECT_EQ(knownCount, 10);
}

// The raise limit of the grid follows the grid's size, not the rise per square.
TEST(GridLimit, FollowsTheSquareCount) {
    PatternState state;
    EXPECT_EQ(pruvex::HighestGridLevel(state), 178);
    state.GridRows = 2;
    state.GridCols = 3;
    EXPECT_EQ(pruvex::HighestGridLevel(state), 249);
}

} // namespace
