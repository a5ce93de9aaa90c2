#pragma once

// Typed sequences and where they leave the display, shared by the engine's
// tests and the widget tests.

#include <cstdint>
#include <string>

namespace pruvex::testing {

struct KeySequence {
    const char* Name;
    const char* Arguments; // command line
    std::string Typed;
    std::int16_t FlatLevel; // expected afterwards
    std::int16_t GridLevel;
    const char* Mode;
    int Beeps;
};

inline std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

inline const KeySequence KeySequences[] = {
    {"raise_to_254_then_stop", "", Repeat("+", 43), 254, 25, "F", 0},
    {"z_and_Z_raise_like_plus", "", "zZ+", 215, 25, "F", 0},
    {"a_and_A_lower_like_minus", "", "aA-", 209, 25, "F", 0},
    {"step_10_raises_stop_at_252", "10", Repeat("+", 6), 252, 25, "F", 0},
    {"step_10_lowers_stop_at_2", "10", Repeat("-", 25), 2, 25, "F", 0},
    {"level_1_never_reaches_0", "1 1", "-", 1, 25, "F", 0},
    {"level_255_raise_skipped", "1 255", "+", 255, 25, "F", 0},
    {"level_255_lower_by_step", "7 255", "-", 248, 25, "F", 0},
    {"level_0_lower_skipped", "1 0", "-", 0, 25, "F", 0},
    {"level_0_raise_by_step", "9 0", "+", 9, 25, "F", 0},
    {"step_255_never_moves", "255 100", "+-+-", 100, 25, "F", 0},
    {"unknown_characters_beep", "", "Q5\r\x1b\t\b\x01 ", 212, 25, "F", 8},
    {"F_and_f_keep_flat", "", "Ff", 212, 25, "F", 0},
    {"G_selects_grid", "", "G", 212, 25, "G", 0},
    {"g_selects_grid", "", "g", 212, 25, "G", 0},
    {"grid_keys_leave_flat_level", "", "G+z-aA", 212, 24, "G", 0},
    {"flat_keys_leave_grid_level", "", "G+F++", 214, 26, "F", 0},
    {"grid_lower_from_0_stays", "", "G" + Repeat("-", 30), 212, 0, "G", 0},
    {"grid_raise_stops_at_178", "", "G" + Repeat("+", 160), 212, 178, "G", 0},
    {"grid_then_flat_then_grid", "", "G+f+g+", 213, 27, "G", 0},
    {"beep_in_grid_changes_nothing", "", "Gq?", 212, 25, "G", 2},
};

} // namespace pruvex::testing
