// Any bytes as the argument text: the reader always yields a LevelStep in
// 1..255 and a FlatLevel in 0..255, and splitting loses no character.

#include "app/Arguments.h"
#include "pattern/PatternState.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const pruvex::Arguments arguments = pruvex::ReadArguments(text);
    Require(arguments.LevelStep >= 1 && arguments.LevelStep <= 255);
    Require(arguments.FlatLevel >= 0 && arguments.FlatLevel <= 255);

    pruvex::PatternState state;
    pruvex::ApplyArguments(state, arguments);
    Require(state.LevelStep == arguments.LevelStep && state.FlatLevel == arguments.FlatLevel);

    // The fields joined with single spaces give the text back.
    std::string joined;
    bool first = true;
    for (const std::string_view field : pruvex::SplitFields(text)) {
        Require(field.find(' ') == std::string_view::npos);
        if (!first) {
            joined += ' ';
        }
        joined += field;
        first = false;
    }
    Require(joined == text);

    // Every field alone reads as a number or 0, never as not-a-number.
    for (const std::string_view field : pruvex::SplitFields(text)) {
        const double value = pruvex::ReadNumber(field);
        Require(value == value);
    }
    return 0;
}
