#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pruvex {

// Writes an 8-bit RGB PNG file. rgb holds width x height pixels of three
// bytes each (red, green, blue), rows top to bottom. Returns false when the
// file cannot be written.
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

} // namespace pruvex
