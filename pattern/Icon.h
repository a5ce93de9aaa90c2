#pragma once

#include "LevelColour.h"

#include <vector>

namespace pruvex {

// The application's icon at size x size pixels (rows top to bottom): a 4 x 4
// mosaic of level colours rising from dark to light in reading order.
std::vector<Colour> IconPixels(int size);

} // namespace pruvex
