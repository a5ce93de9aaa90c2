#include "KeyCommands.h"

#include "pattern/Checked.h"

namespace pruvex {

namespace {

constexpr const char* LevelOverflow = "16-bit overflow in a key command";

struct KeyEntry {
    char32_t Character;
    KeyCommand Command;
};

constexpr KeyEntry KeyTable[] = {
    {U'-', KeyCommand::Lower},      {U'a', KeyCommand::Lower},      {U'A', KeyCommand::Lower},
    {U'+', KeyCommand::Raise},      {U'z', KeyCommand::Raise},      {U'Z', KeyCommand::Raise},
    {U'F', KeyCommand::SelectFlat}, {U'f', KeyCommand::SelectFlat}, {U'G', KeyCommand::SelectGrid},
    {U'g', KeyCommand::SelectGrid},
};

void Lower(PatternState& state) {
    const std::int16_t flat = Sub16(state.FlatLevel, state.LevelStep, LevelOverflow);
    if (IsFlat(state) && flat > LowestLevel) {
        state.FlatLevel = flat;
    }
    if (IsGrid(state) && state.GridLevel >= 1) {
        state.GridLevel = Sub16(state.GridLevel, 1, LevelOverflow);
    }
}

void Raise(PatternState& state) {
    const std::int16_t flat = Add16(state.FlatLevel, state.LevelStep, LevelOverflow);
    if (IsFlat(state) && flat < HighestLevel) {
        state.FlatLevel = flat;
    }
    if (IsGrid(state) && state.GridLevel < HighestGridLevel(state)) {
        state.GridLevel = Add16(state.GridLevel, 1, LevelOverflow);
    }
}

} // namespace

KeyCommand LookUpKey(char32_t character) {
    for (const KeyEntry& entry : KeyTable) {
        if (entry.Character == character) {
            return entry.Command;
        }
    }
    return KeyCommand::Unknown;
}

bool ApplyKey(PatternState& state, char32_t character) {
    switch (LookUpKey(character)) {
    case KeyCommand::Lower:
        Lower(state);
        return true;
    case KeyCommand::Raise:
        Raise(state);
        return true;
    case KeyCommand::SelectFlat:
        state.Mode = std::string("F");
        return true;
    case KeyCommand::SelectGrid:
        state.Mode = std::string("G");
        return true;
    case KeyCommand::Unknown:
        break;
    }
    return false;
}

} // namespace pruvex
