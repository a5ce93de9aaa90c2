#pragma once

// The shooting instructions as the caption must show them, written out apart
// from the engine.

namespace pruvex::testing {

inline constexpr const char* FlatInstruction =
    " Adjust monitor brightness so properly exposed at 1/30s with lens wide open at lowest ISO.";
inline constexpr const char* GridInstruction =
    " Take slightly out of focus images of the grid but with no white at 1/250s at each ISO.";

} // namespace pruvex::testing
