#include "PatternState.h"

#include "Checked.h"

namespace pruvex {

std::int16_t HighestGridLevel(const PatternState& state) {
    return Sub16(HighestLevel, Mul16(state.GridRows, state.GridCols, "grid size out of range"),
                 "grid size out of range");
}

namespace {
constexpr std::int16_t StartupPitch = 64;
constexpr std::int16_t StartupMargin = 8;
constexpr const char* SizeOverflow = "16-bit overflow in the window size";

std::int16_t StartupClientSize(std::int16_t count) {
    return Add16(Mul16(Add16(count, 1, SizeOverflow), StartupPitch, SizeOverflow), StartupMargin,
                 SizeOverflow);
}
} // namespace

std::int16_t StartupClientWidth(const PatternState& state) {
    return StartupClientSize(state.GridCols);
}

std::int16_t StartupClientHeight(const PatternState& state) {
    return StartupClientSize(state.GridRows);
}

} // namespace pruvex
