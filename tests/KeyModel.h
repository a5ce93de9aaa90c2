#pragma once

// A second, deliberately plain account of what typed characters do to the
// display, written apart from the key table so that the two can be compared:
// the key fuzzer checks the table against it after every character and the
// end-to-end flood checks the running program against it.

namespace pruvex::testing {

struct KeyModel {
    int FlatLevel = 212;
    int LevelStep = 1;
    int GridLevel = 25;
    bool Grid = false;
    long Beeps = 0;

    static constexpr int HighestGridLevel = 255 - 11 * 7;

    void Type(char32_t c) {
        if (c == U'-' || c == U'a' || c == U'A') {
            if (!Grid && FlatLevel - LevelStep > 0) {
                FlatLevel -= LevelStep;
            } else if (Grid && GridLevel > 0) {
                --GridLevel;
            }
        } else if (c == U'+' || c == U'z' || c == U'Z') {
            if (!Grid && FlatLevel + LevelStep < 255) {
                FlatLevel += LevelStep;
            } else if (Grid && GridLevel < HighestGridLevel) {
                ++GridLevel;
            }
        } else if (c == U'F' || c == U'f') {
            Grid = false;
        } else if (c == U'G' || c == U'g') {
            Grid = true;
        } else {
            ++Beeps;
        }
    }
};

} // namespace pruvex::testing
