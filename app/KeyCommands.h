#pragma once

// The key-command table: what one typed character does to the display.

#include "pattern/PatternState.h"

namespace pruvex {

enum class KeyCommand { Lower, Raise, SelectFlat, SelectGrid, Unknown };

// "-", "a", "A" lower; "+", "z", "Z" raise; "F", "f" select the flat field;
// "G", "g" select the grid mosaic; every other character is unknown.
// Case-sensitive; the first matching entry decides.
KeyCommand LookUpKey(char32_t character);

// Applies one typed character to the state. Flat-field keys move FlatLevel by
// LevelStep only if the result stays above 0 and below 255; grid keys move
// GridLevel by 1 within 0..HighestGridLevel. A change that would leave its
// range is skipped whole. Returns false for an unknown character, which the
// caller answers with the system beep. The caller redraws in every case.
bool ApplyKey(PatternState& state, char32_t character);

} // namespace pruvex
