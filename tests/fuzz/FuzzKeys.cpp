// Any sequence of characters typed into any reachable state: after every
// character the state keeps its ranges and equals the plain key model.
//
// Input: the characters, one byte each (the byte 0xFF takes the next three
// bytes as one character of any code up to 0xFFFFFF); the last bytes give the
// starting state's step, flat level, grid level and mode.

#include "KeyModel.h"
#include "app/KeyCommands.h"
#include "pattern/PatternState.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void RequireInvariants(const pruvex::PatternState& state) {
    Require(state.FlatLevel >= 0 && state.FlatLevel <= 255);
    Require(state.LevelStep >= 1 && state.LevelStep <= 255);
    Require(state.GridLevel >= 0 && state.GridLevel <= 178);
    Require(state.Mode == "F" || state.Mode == "G");
}

void RequireEqual(const pruvex::PatternState& state, const pruvex::testing::KeyModel& model) {
    Require(state.FlatLevel == model.FlatLevel);
    Require(state.LevelStep == model.LevelStep);
    Require(state.GridLevel == model.GridLevel);
    Require(state.Mode == (model.Grid ? "G" : "F"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    pruvex::PatternState state;
    pruvex::testing::KeyModel model;
    model.LevelStep = input.ConsumeIntegralInRange<int>(1, 255);
    model.FlatLevel = input.ConsumeIntegralInRange<int>(0, 255);
    model.GridLevel = input.ConsumeIntegralInRange<int>(0, 178);
    model.Grid = input.ConsumeBool();
    state.LevelStep = static_cast<std::int16_t>(model.LevelStep);
    state.FlatLevel = static_cast<std::int16_t>(model.FlatLevel);
    state.GridLevel = static_cast<std::int16_t>(model.GridLevel);
    state.Mode = model.Grid ? "G" : "F";
    Require(pruvex::HighestGridLevel(state) == pruvex::testing::KeyModel::HighestGridLevel);
    RequireInvariants(state);

    const std::vector<std::uint8_t> typed = input.ConsumeRemainingBytes<std::uint8_t>();
    for (std::size_t at = 0; at < typed.size(); ++at) {
        char32_t character = typed[at];
        if (character == 0xFF && at + 3 < typed.size()) {
            character = static_cast<char32_t>(typed[at + 1]) << 16 |
                        static_cast<char32_t>(typed[at + 2]) << 8 | typed[at + 3];
            at += 3;
        }
        const long beepsBefore = model.Beeps;
        model.Type(character);
        const bool known = pruvex::ApplyKey(state, character);
        Require(known == (model.Beeps == beepsBefore));
        RequireInvariants(state);
        RequireEqual(state, model);
    }
    return 0;
}
